// The printed report, rendered to PDF and read back with pdftotext / pdftoppm.
#include "app/ktCommandLine.h"
#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "testsupport.h"
#include "ui/widgets/frmReport01.h"

#include <QDir>
#include <QImage>
#include <QMap>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace evtrak;

namespace {

const QDateTime kNewest(QDate(2026, 12, 7), QTime(14, 5, 9));

QString Label(int row)
{
    return QStringLiteral("Evt_%1").arg(row, 3, 10, QLatin1Char('0'));
}

// A list of n events, newest in row 0, one minute apart.
std::unique_ptr<TEventList> MakeList(
    const TUserPrefs& prefs, int n, std::function<int(int)> inputOf = [](int r) { return r % 13; })
{
    auto list = std::make_unique<TEventList>(prefs);
    for (int r = 0; r < n; ++r) {
        const EventRecord rec{Label(r), inputOf(r), DateTimeFromQt(kNewest.addSecs(-60 * r)), 1500};
        list->AddEvent(rec, false, false, false);
    }
    return list;
}

QString PdfText(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

QStringList PdfPages(const QString& pdf)
{
    QStringList pages = PdfText(pdf).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.constLast().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

// The event labels in the order they appear in the text.
QStringList LabelsInOrder(const QString& text)
{
    QStringList found;
    static const QRegularExpression re(QStringLiteral("Evt_\\d{3}"));
    for (auto it = re.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    return found;
}

QStringList Labels(std::initializer_list<int> rows)
{
    QStringList l;
    for (int r : rows)
        l << Label(r);
    return l;
}

struct PdfWord
{
    QString Text;
    double X = 0;
    double Y = 0;
};

// The words of each page with their top-left corners, in points.
QList<QList<PdfWord>> PdfWords(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return {};
    QList<QList<PdfWord>> pages;
    static const QRegularExpression word(
        QStringLiteral("<page |<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\"[^>]*>([^<]*)</word>"));
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0) == QLatin1String("<page "))
            pages.append(QList<PdfWord>());
        else if (!pages.isEmpty())
            pages.last().append(
                PdfWord{m.captured(3), m.captured(1).toDouble(), m.captured(2).toDouble()});
    }
    return pages;
}

const PdfWord* FindWord(const QList<PdfWord>& words, const QString& text)
{
    for (const PdfWord& w : words)
        if (w.Text == text)
            return &w;
    return nullptr;
}

bool HaveTool(const char* tool)
{
    return !QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty();
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void sortingAndSummary_data();
    void sortingAndSummary();
    void multiPage();
    void statisticsKeepTheirHeadingsOnEveryPage();
    void titleFallbacks();
    void coloredRows_data();
    void coloredRows();
    void emptyListShowsNothing();
    void failedExportKeepsOldFile();
    void previewThenPrintSameLines();
    void printDialogChoices();
    void commandLine();

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
};

void TestReport::initTestCase()
{
    if (!HaveTool("pdftotext") || !HaveTool("pdftoppm"))
        QSKIP("poppler-utils (pdftotext, pdftoppm) is needed");
    QVERIFY(m_dir.isValid());
}

void TestReport::sortingAndSummary_data()
{
    QTest::addColumn<int>("sorting");
    QTest::addColumn<QStringList>("printed");
    QTest::newRow("0: newest first") << 0 << Labels({0, 1, 2});
    QTest::newRow("1: oldest first") << 1 << Labels({2, 1, 0});
    QTest::newRow("2: the top row only") << 2 << Labels({0});
}

void TestReport::sortingAndSummary()
{
    QFETCH(int, sorting);
    QFETCH(QStringList, printed);
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.ReportSorting = sorting;
    prefs.ReportMainTitle = QStringLiteral("Atelier 2");
    prefs.ReportSubTitle = QStringLiteral("Presse à balancier");
    const auto list = MakeList(prefs, 3);

    const QString pdf = path(QStringLiteral("sorting%1.pdf").arg(sorting));
    QString error;
    const QDate printDate(2026, 12, 8);
    QVERIFY2(WriteReportPdf(*list, prefs, pdf, &error, printDate), qPrintable(error));
    const QStringList pages = PdfPages(pdf);
    QCOMPARE(pages.size(), 1);
    const QString& text = pages.first();
    QCOMPARE(LabelsInOrder(text), printed);

    QVERIFY(text.contains(QStringLiteral("Atelier 2")));
    QVERIFY(!text.contains(ResStr::ContinuedSuffix()));
    QVERIFY(text.contains(QStringLiteral("Presse à balancier")));
    QVERIFY(text.contains(TfmReport01::ShortDateText(printDate)));
    // The summary counts every row and names the bottom and top rows, whatever the order.
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    const QString flat = QString(text).replace(spaces, QStringLiteral(" "));
    QVERIFY(flat.contains(QStringLiteral("Nombre total d'évenements : 3")));
    QVERIFY(flat.contains(QStringLiteral("Evenements le plus ancien : 07/12/2026 14:03:09")));
    QVERIFY(flat.contains(QStringLiteral("Evenements le plus récent : 07/12/2026 14:05:09")));
    QVERIFY(flat.contains(QStringLiteral("Evenement TS Date / Heure Durée")));
    QVERIFY(flat.contains(QStringLiteral("Evt_000 0 07/12/2026 14:05:09 1.500 s")));
    QVERIFY(flat.contains(QStringLiteral("Page 1")));
}

void TestReport::multiPage()
{
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.ReportMainTitle = QStringLiteral("Relevé");
    prefs.GridColumnCaption = {QStringLiteral("Quoi"), QStringLiteral("N°"),
                               QStringLiteral("Quand"), QStringLiteral("Combien")};
    const int rows = 130; // 54 + 58 + 18
    const auto list = MakeList(prefs, rows);
    const QString pdf = path(QStringLiteral("multi.pdf"));
    QString error;
    QVERIFY2(WriteReportPdf(*list, prefs, pdf, &error), qPrintable(error));

    const QStringList pages = PdfPages(pdf);
    QCOMPARE(pages.size(), 3);
    const QList<int> perPage{54, 58, 18};
    QStringList all;
    for (int i = 0; i < pages.size(); ++i) {
        const QString& page = pages.at(i);
        const QStringList labels = LabelsInOrder(page);
        QCOMPARE(labels.size(), perPage.at(i));
        all << labels;
        QVERIFY(
            page.contains(i == 0 ? QStringLiteral("Relevé") : QStringLiteral("Relevé (suite)")));
        QCOMPARE(page.contains(ResStr::ContinuedSuffix()), i > 0);
        QCOMPARE(page.contains(QStringLiteral("Nombre total d'évenements")), i == 0);
        QVERIFY(page.contains(QStringLiteral("Quoi")) && page.contains(QStringLiteral("Combien")));
        QVERIFY(page.contains(QStringLiteral("Page %1").arg(i + 1)));
    }
    QStringList expected;
    for (int r = 0; r < rows; ++r)
        expected << Label(r);
    QCOMPARE(all, expected); // every row once, in order, across the page breaks
}

// The statistics start under their own title and headings, which come again on each
// page they reach; no page of statistics shows the events' headings, and each column's
// cells start where its heading does.
void TestReport::statisticsKeepTheirHeadingsOnEveryPage()
{
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.ReportStatistics = true;
    const int inputs = 90; // from a file any input number may come: a long table
    const auto list = MakeList(prefs, inputs, [](int r) { return r; });
    const QString pdf = path(QStringLiteral("stats.pdf"));
    QString error;
    QVERIFY2(WriteReportPdf(*list, prefs, pdf, &error), qPrintable(error));

    const QList<QList<PdfWord>> pages = PdfWords(pdf);
    QVERIFY(pages.size() >= 3);
    QList<int> statsInputs;
    int lastEventPage = -1;
    for (int i = 0; i < pages.size(); ++i) {
        const QList<PdfWord>& words = pages[i];
        const PdfWord* title = FindWord(words, QStringLiteral("Statistiques"));
        const PdfWord* ts = nullptr;
        const PdfWord* activations = FindWord(words, QStringLiteral("Activations"));
        const PdfWord* footer = FindWord(words, QStringLiteral("Page"));
        QVERIFY(footer);
        const bool events = FindWord(words, QStringLiteral("Evenement")) != nullptr;
        double lastEventY = -1;
        for (const PdfWord& w : words) {
            if (w.Text.startsWith(QStringLiteral("Evt_")))
                lastEventY = std::max(lastEventY, w.Y);
            if (w.Text == QStringLiteral("TS") && activations && std::abs(w.Y - activations->Y) < 1)
                ts = &w;
        }
        QCOMPARE(events, lastEventY >= 0);
        if (events)
            lastEventPage = i;
        if (!title) {
            QVERIFY2(statsInputs.isEmpty(), "the table stopped before its end");
            continue;
        }
        QVERIFY2(ts && activations, qPrintable(QString::number(i + 1)));
        QVERIFY(lastEventY < title->Y && title->Y < activations->Y);
        // " (suite)" once the table goes on from an earlier page.
        QCOMPARE(std::any_of(words.begin(), words.end(),
                             [title](const PdfWord& w) {
                                 return w.Text == QStringLiteral("(suite)") && w.Y == title->Y;
                             }),
                 !statsInputs.isEmpty());
        // Rows of the table: words below the headings, grouped by line.
        QMap<int, QList<PdfWord>> lines;
        for (const PdfWord& w : words)
            if (w.Y > activations->Y + 1 && w.Y < footer->Y - 1)
                lines[qRound(w.Y)].append(w);
        QVERIFY(!lines.isEmpty());
        for (const QList<PdfWord>& line : std::as_const(lines)) {
            const auto first = std::min_element(line.begin(), line.end(),
                                                [](auto& a, auto& b) { return a.X < b.X; });
            QVERIFY(std::abs(first->X - ts->X) < 0.5);
            statsInputs << first->Text.toInt();
            QVERIFY(std::any_of(line.begin(), line.end(), [&](const PdfWord& w) {
                return std::abs(w.X - activations->X) < 0.5 && w.Text == QStringLiteral("1");
            }));
        }
    }
    QVERIFY(lastEventPage >= 0 && lastEventPage < pages.size() - 1);
    QList<int> expected;
    for (int k = 0; k < inputs; ++k)
        expected << k;
    QCOMPARE(statsInputs, expected);
}

void TestReport::titleFallbacks()
{
    TUserPrefs prefs = DefaultUserPrefs();
    const auto list = MakeList(prefs, 60);
    const QString pdf = path(QStringLiteral("fallbacks.pdf"));
    QVERIFY(WriteReportPdf(*list, prefs, pdf, nullptr));
    const QStringList pages = PdfPages(pdf);
    QCOMPARE(pages.size(), 2);
    QVERIFY(pages[0].contains(QStringLiteral("Acquisition de données")));
    QVERIFY(pages[1].contains(QStringLiteral("Acquisition de données (suite)")));
    // The tests run in the "C" locale: the header date is the French short date.
    const QString today = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
    for (const QString& page : pages) {
        QVERIFY(page.contains(QStringLiteral("<Sous-titre utilisateur non défini>")));
        QVERIFY2(page.contains(today), qPrintable(page.left(200)));
    }
}

void TestReport::coloredRows_data()
{
    QTest::addColumn<bool>("printColors");
    QTest::newRow("LogPrintColors on") << true;
    QTest::newRow("LogPrintColors off") << false;
}

void TestReport::coloredRows()
{
    QFETCH(bool, printColors);
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.LogPrintColors = printColors;
    prefs.Inputs[4].TextColor = 0x0000FF; // red
    prefs.Inputs[4].BGColor = 0x00FFFF;   // yellow
    // Row 0: input 4; row 1: input 42, which has no colours of its own.
    const auto list = MakeList(prefs, 2, [](int r) { return r == 0 ? 4 : 42; });
    const QString pdf = path(QStringLiteral("colors.pdf"));
    QVERIFY(WriteReportPdf(*list, prefs, pdf, nullptr));

    const QString prefix = path(QStringLiteral("colors"));
    QCOMPARE(QProcess::execute(QStringLiteral("pdftoppm"),
                               {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-png"),
                                QStringLiteral("-singlefile"), pdf, prefix}),
             0);
    const QImage page(prefix + QStringLiteral(".png"));
    QVERIFY(!page.isNull());
    const double dpmm = 100 / 25.4;
    const auto at = [&](double xMm, double yMm) {
        return page.pixelColor(int((10 + xMm) * dpmm), int((10 + yMm) * dpmm));
    };
    // First detail line from 37.8 mm to 42 mm under the top margin, the next one below.
    const double row0 = 37.8 + 2.1;
    const double row1 = row0 + 4.2;
    const QColor yellow(255, 255, 0);
    const QColor white(255, 255, 255);
    // The background runs across the whole line, also past the texts.
    for (double x : {0.5, 60.0, 100.0, 140.0, 185.0})
        QCOMPARE(at(x, row0), printColors ? yellow : white);
    QCOMPARE(at(60.0, row1), white);

    // The label of row 0 is written in red (anti-aliased into the yellow) or in black.
    bool red = false;
    bool black = false;
    for (double x = 1.1; x < 15; x += 0.1) {
        for (double y = row0 - 1.5; y < row0 + 1.5; y += 0.1) {
            const QColor c = at(x, y);
            red |= c.red() > 200 && c.green() < 100 && c.blue() < 100;
            black |= c.red() < 60 && c.green() < 60 && c.blue() < 60;
        }
    }
    QCOMPARE(red, printColors);
    QCOMPARE(black, !printColors);
    // Input 42's line keeps black text.
    bool black42 = false;
    for (double x = 1.1; x < 15; x += 0.1)
        for (double y = row1 - 1.5; y < row1 + 1.5; y += 0.1)
            black42 |= at(x, y).lightness() < 60;
    QVERIFY(black42);
}

void TestReport::emptyListShowsNothing()
{
    const TUserPrefs prefs = DefaultUserPrefs();
    TEventList list(prefs);
    QStringList informed;
    int dialogs = 0;
    ReportDialogs hooks;
    hooks.inform = [&](const QString& t) { informed << t; };
    hooks.preview = [&](QPrinter&, const std::function<void(QPrinter*)>&) { ++dialogs; };
    hooks.confirmPrint = [&](QPrinter&) { return ++dialogs > 0; };
    QPrinter printer;
    for (bool preview : {true, false})
        PrintReport(list, prefs, printer, preview, hooks);
    QCOMPARE(informed, QStringList(2, ResStr::NoEvents()));
    QCOMPARE(dialogs, 0);

    QString error;
    const QString pdf = path(QStringLiteral("empty.pdf"));
    QVERIFY(!WriteReportPdf(list, prefs, pdf, &error));
    QCOMPARE(error, ResStr::NoEvents());
    QVERIFY(!QFile::exists(pdf));
}

void TestReport::failedExportKeepsOldFile()
{
    const TUserPrefs prefs = DefaultUserPrefs();
    const auto list = MakeList(prefs, 3);
    QString error;
    const QString missing = path(QStringLiteral("no/such/folder/r.pdf"));
    QVERIFY(!WriteReportPdf(*list, prefs, missing, &error));
    QCOMPARE(error, ResStr::CannotWrite(missing, QStringLiteral("le dossier n'existe pas")));

    // A disk that fills up during the export: the earlier export stays as it was.
    const QString pdf = path(QStringLiteral("r.pdf"));
    QVERIFY(WriteReportPdf(*list, prefs, pdf, nullptr));
    const QByteArray before = evtrak::test::ReadBytes(pdf);
    QVERIFY(!before.isEmpty());
    const auto bigger = MakeList(prefs, 200);
    {
        const evtrak::test::FileSizeLimit full(4096);
        QVERIFY(!WriteReportPdf(*bigger, prefs, pdf, &error));
    }
    QCOMPARE(error,
             ResStr::CannotWrite(pdf, QStringLiteral("taille de fichier maximale atteinte")));
    QCOMPARE(evtrak::test::ReadBytes(pdf), before);
    // The disk fills up one byte short of the end: the last write comes out short.
    const QString whole = path(QStringLiteral("whole.pdf"));
    QVERIFY(WriteReportPdf(*bigger, prefs, whole, nullptr, QDate(2026, 12, 8)));
    {
        const evtrak::test::FileSizeLimit full(rlim_t(QFileInfo(whole).size() - 1));
        QVERIFY(!WriteReportPdf(*bigger, prefs, pdf, &error, QDate(2026, 12, 8)));
    }
    QCOMPARE(evtrak::test::ReadBytes(pdf), before);
    // Nothing is left behind beside it.
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("r.pdf*")}, QDir::Files),
             QStringList{QStringLiteral("r.pdf")});
}

void TestReport::previewThenPrintSameLines()
{
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.ReportSorting = 1;
    const auto list = MakeList(prefs, 70);
    QPrinter printer(QPrinter::HighResolution);
    InitReportPrinter(printer);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path(QStringLiteral("preview.pdf")));

    int previews = 0;
    ReportDialogs hooks;
    hooks.inform = [](const QString& t) { QFAIL(qPrintable(t)); };
    hooks.confirmPrint = [](QPrinter&) { return false; };
    // The preview renders, then the user prints from it: a second production by the
    // same report.
    hooks.preview = [&](QPrinter& p, const std::function<void(QPrinter*)>& render) {
        ++previews;
        render(&p);
        QPrinter fromPreview(QPrinter::HighResolution);
        fromPreview.setPageLayout(p.pageLayout());
        fromPreview.setOutputFormat(QPrinter::PdfFormat);
        fromPreview.setOutputFileName(path(QStringLiteral("printed.pdf")));
        render(&fromPreview);
    };
    PrintReport(*list, prefs, printer, true, hooks);
    QCOMPARE(previews, 1);
    const QStringList shown = LabelsInOrder(PdfText(path(QStringLiteral("preview.pdf"))));
    const QStringList printed = LabelsInOrder(PdfText(path(QStringLiteral("printed.pdf"))));
    QCOMPARE(shown.size(), 70);
    QCOMPARE(shown.first(), Label(69)); // oldest first
    QCOMPARE(printed, shown);
}

void TestReport::printDialogChoices()
{
    const TUserPrefs prefs = DefaultUserPrefs();
    const auto list = MakeList(prefs, 112); // A4: 54 + 58, two full pages
    ReportDialogs hooks;
    hooks.inform = [](const QString& t) { QFAIL(qPrintable(t)); };
    hooks.preview = [](QPrinter&, const std::function<void(QPrinter*)>&) { QFAIL("preview"); };

    QPrinter printer(QPrinter::HighResolution);
    InitReportPrinter(printer);
    printer.setOutputFormat(QPrinter::PdfFormat);
    // setup stands for what the user chooses in the print dialog.
    const auto print = [&](const QString& name, bool confirm, auto&& setup) {
        printer.setOutputFileName(path(name));
        hooks.confirmPrint = [confirm, &setup](QPrinter& p) {
            setup(p);
            return confirm;
        };
        PrintReport(*list, prefs, printer, false, hooks, QStringLiteral("Evtrak - Mine.txt"));
        return PdfPages(path(name));
    };
    // Cancelled: nothing printed.
    print(QStringLiteral("cancel.pdf"), false, [](QPrinter&) {});
    QVERIFY(!QFile::exists(path(QStringLiteral("cancel.pdf"))));
    QCOMPARE(printer.docName(), QStringLiteral("Evtrak - Mine.txt"));
    // Default: A4, two pages.
    QCOMPARE(print(QStringLiteral("a4.pdf"), true, [](QPrinter&) {}).size(), 2);
    // A page range from the print dialog: page 2 only, as it would be numbered.
    const QStringList range = print(QStringLiteral("range.pdf"), true, [](QPrinter& p) {
        p.setPrintRange(QPrinter::PageRange);
        p.setFromTo(2, 2);
    });
    QCOMPARE(range.size(), 1);
    QVERIFY(range[0].contains(QStringLiteral("Page 2")));
    QCOMPARE(LabelsInOrder(range[0]).first(), Label(54));
    // The range was for that print only: the next print dialog starts from every page,
    // and so does the preview.
    QPrinter::PrintRange proposed = QPrinter::PageRange;
    QCOMPARE(
        print(QStringLiteral("next.pdf"), true, [&](QPrinter& p) { proposed = p.printRange(); })
            .size(),
        2);
    QCOMPARE(proposed, QPrinter::AllPages);
    print(QStringLiteral("range2.pdf"), true, [](QPrinter& p) {
        p.setPrintRange(QPrinter::PageRange);
        p.setFromTo(2, 2);
    });
    printer.setOutputFileName(path(QStringLiteral("preview.pdf")));
    hooks.preview = [](QPrinter& p, const std::function<void(QPrinter*)>& render) { render(&p); };
    PrintReport(*list, prefs, printer, true, hooks);
    QCOMPARE(PdfPages(path(QStringLiteral("preview.pdf"))).size(), 2);
    // The page setup's paper reaches the print: on Letter the same rows need three pages.
    QCOMPARE(print(QStringLiteral("letter.pdf"), true,
                   [](QPrinter& p) { p.setPageSize(QPageSize(QPageSize::Letter)); })
                 .size(),
             3);
}

void TestReport::commandLine()
{
    const QString events = path(QStringLiteral("events.txt"));
    {
        QFile f(events);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // Oldest first, as per-event saving leaves a file: printed newest first all the same.
        f.write("Evt_001;4;07/12/2026 10:00:00;1500 ms\r\nEvt_000;3;07/12/2026 10:00:05;5 ms\r\n");
    }
    const QString empty = path(QStringLiteral("empty.txt"));
    QFile(empty).open(QIODevice::WriteOnly);

    CommandLineOptions options;
    options.reportFile = events;
    options.pdfFile = path(QStringLiteral("cli.pdf"));
    QCOMPARE(RunReportToPdf(options), 0);
    QCOMPARE(LabelsInOrder(PdfText(options.pdfFile)), Labels({0, 1}));

    const QString noPdf = path(QStringLiteral("cli-none.pdf"));
    for (const QString& bad : {path(QStringLiteral("missing.txt")), empty, m_dir.path()}) {
        options.reportFile = bad;
        options.pdfFile = noPdf;
        QCOMPARE(RunReportToPdf(options), 2);
        QVERIFY(!QFile::exists(noPdf));
    }
    options.reportFile = events;
    options.pdfFile = path(QStringLiteral("no/folder/cli.pdf"));
    QCOMPARE(RunReportToPdf(options), 2);
    // The output named like the input (here through another spelling of its path) is
    // refused: the events stay.
    QFile original(events);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();
    options.pdfFile = m_dir.path() + QStringLiteral("/./events.txt");
    QCOMPARE(RunReportToPdf(options), 2);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), before);
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
