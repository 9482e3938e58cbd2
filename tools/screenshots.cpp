// Pictures of the dialogs and of the printed report for the documentation:
//   evtrak_screenshots <folder>
// writes options-1.png .. options-N.png, about.png, printoptions.png and
// report-page-1.png, report-page-2.png (through pdftoppm) into the folder.
// Runs on the offscreen platform when there is no display.
#include "eventlog/uLog.h"
#include "settings/uUserPrefs.h"
#include "ui/widgets/frmAbout.h"
#include "ui/widgets/frmOptions.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/ktTranslations.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

using namespace evtrak;

namespace {

bool Save(QWidget& w, const QString& name)
{
    const bool ok = w.grab().save(name);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "écrit" : "échec :", qPrintable(name));
    return ok;
}

bool OptionsPages(const QString& dir)
{
    TUserPrefs live = DefaultUserPrefs();
    live.LogUseColors = true;
    live.Inputs[0].Label = QStringLiteral("Porte du local");
    live.Inputs[0].TextColor = 0x0000FF;
    live.Inputs[0].BGColor = 0x00FFFF;
    live.ReportMainTitle = QStringLiteral("Atelier 2");
    TfmOptions dialog(
        live, [] {}, nullptr, [](const QString&) {});
    dialog.LoadFromSettings();
    dialog.show();
    auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    bool ok = pages != nullptr;
    for (int i = 0; ok && i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        ok = Save(dialog, QStringLiteral("%1/options-%2.png").arg(dir).arg(i + 1));
    }
    return ok;
}

bool SmallDialogs(const QString& dir)
{
    TfmAbout about;
    TfmPrintOptions printOptions;
    return Save(about, dir + QStringLiteral("/about.png")) &&
           Save(printOptions, dir + QStringLiteral("/printoptions.png"));
}

bool ReportPages(const QString& dir)
{
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.ReportMainTitle = QStringLiteral("Atelier 2 - presse à balancier");
    prefs.ReportSubTitle = QStringLiteral("Relevé de la semaine 49");
    prefs.LogPrintColors = true;
    prefs.Inputs[3].Label = QStringLiteral("Porte du local");
    prefs.Inputs[3].TextColor = 0x0000FF;
    prefs.Inputs[3].BGColor = 0x00FFFF;
    prefs.Inputs[5].Label = QStringLiteral("Capteur de pression");
    prefs.Inputs[5].TextColor = 0xFFFFFF;
    prefs.Inputs[5].BGColor = 0x800000;
    TEventList list(prefs);
    const QDateTime newest(QDate(2026, 12, 8), QTime(17, 45, 12));
    for (int r = 0; r < 80; ++r) {
        const int input = (r * 7) % 13;
        const EventRecord rec{prefs.Inputs[input].Label, input,
                              DateTimeFromQt(newest.addSecs(-37 * r)), 120 + r * 131};
        list.AddEvent(rec, true, r % 2 == 0, false);
    }
    QTemporaryDir tmp;
    const QString pdf = tmp.filePath(QStringLiteral("report.pdf"));
    if (!WriteReportPdf(list, prefs, pdf, nullptr, QDate(2026, 12, 8)))
        return false;
    const int rc =
        QProcess::execute(QStringLiteral("pdftoppm"),
                          {QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-png"),
                           QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                           QStringLiteral("2"), pdf, dir + QStringLiteral("/report-page")});
    std::printf("pages du rapport : %s\n", rc == 0 ? "écrites" : "échec de pdftoppm");
    return rc == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallFrenchTranslations(app);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage : evtrak_screenshots DOSSIER\n");
        return 2;
    }
    const QString dir = args.at(1);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "dossier impossible à créer : %s\n", qPrintable(dir));
        return 2;
    }
    const bool ok = OptionsPages(dir) && SmallDialogs(dir) && ReportPages(dir);
    return ok ? 0 : 1;
}
