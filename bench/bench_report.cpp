// Time to render the printed report of 10,000 events to a PDF file.
//   bench_report [events]   (build in Release; runs offscreen when there is no display)
#include "eventlog/uLog.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/uReportLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace evtrak;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int events = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10000;

    TUserPrefs prefs = DefaultUserPrefs();
    prefs.ReportMainTitle = QStringLiteral("Banc de mesure");
    prefs.LogPrintColors = true;
    prefs.Inputs[4].BGColor = 0x00FFFF;
    TEventList list(prefs);
    const QDateTime start(QDate(2026, 12, 7), QTime(8, 0));
    for (int i = 0; i < events; ++i) {
        list.AddEvent(EventRecord{QStringLiteral("Libellé_%1 [ON]").arg(i % 13), i % 13,
                                  DateTimeFromQt(start.addSecs(-i)), i * 7 % 20000},
                      false, false, false);
    }

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QString error;
    WriteReportPdf(list, prefs, pdf, &error); // warm-up: fonts, caches
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        if (!WriteReportPdf(list, prefs, pdf, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        runs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(runs.begin(), runs.end());
    const double median = runs[runs.size() / 2];
    const auto pages = PaginateReport(events, kReportPrintableHeightMm).size();

    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 100; ++i)
        PaginateReport(events, kReportPrintableHeightMm);
    const double paginateUs = double(t.nsecsElapsed()) / 1e3 / 100;

    std::printf("report of %d events, %zu A4 pages, colours on\n", events, pages);
    std::printf("  PDF render (median of 5): %.1f ms  (best %.1f, worst %.1f)\n", median,
                runs.front(), runs.back());
    std::printf("  per page: %.2f ms, per 1000 events: %.1f ms\n", median / double(pages),
                median * 1000.0 / events);
    std::printf("  PDF size: %.1f KiB\n", double(QFileInfo(pdf).size()) / 1024.0);
    std::printf("  page breaking alone: %.1f us\n", paginateUs);
    return 0;
}
