#pragma once
// The printed report: A4 pages with titles, a summary, column headings and one line per
// event, drawn by our own renderer with QPainter. The same paint routine serves the
// print preview, the printer and PDF files.

#include "settings/uUserPrefs.h"
#include "ui/widgets/uReportLayout.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QPainter;
class QPagedPaintDevice;
class QPrinter;
class QWidget;

namespace evtrak {

class TEventList;
struct CommandLineOptions;
struct InputStatistics;

// The rows a report prints when a filter is set in the window: list rows top to
// bottom, and the filter's description for the summary ("Filtre : ...").
struct ReportRows
{
    std::vector<int> Rows;
    QString Description;
};

// The report form: made for one print, preview or export and dropped right after.
class TfmReport01
{
public:
    // Takes the titles and column captions from prefs (FormCreate).
    TfmReport01(const TEventList& list, const TUserPrefs& prefs, const ReportRows* shown = nullptr);
    ~TfmReport01();

    QString MainTitle;             // ReportMainTitle, or AppMainTitle when empty
    QString SubTitle;              // ReportSubTitle, or "<Sous-titre utilisateur non défini>"
    std::int32_t RowIndex = 0;     // the row the report stands at
    TColor RowTextColor = clBlack; // colours of the row being printed (LogPrintColors)
    TColor RowBGColor = clWindow;
    QDate PrintDate = QDate::currentDate(); // printed at the top right of every page

    // One production of the report: starts from the first row again (so a print started
    // from the preview prints what the preview showed), paints every page on device
    // through painter (already begun on it), calling newPage() between pages. Pages
    // outside [fromPage, toPage] are skipped (0 = no limit). Returns the page count.
    int paint(QPainter& painter, QPagedPaintDevice& device, int fromPage = 0, int toPage = 0);

    // The pieces of a production, for tests and the benchmark.
    // Summary texts and the print order of the list's rows.
    void QuickRep1BeforePrint();
    // Title of a page: MainTitle, with " (suite)" from page 2 on.
    QString PageTitle(int pageNumber) const;
    // The list rows in print order (after QuickRep1BeforePrint).
    const std::vector<int>& PrintedRows() const { return m_rows; }
    QString EventsCount() const { return m_eventsCount; }
    QString OldestDateTime() const { return m_oldest; }
    QString NewestDateTime() const { return m_newest; }
    // Lines of the statistics table after the events (one per input) when
    // ReportStatistics is on; -1 when it is off.
    int StatisticsLineCount() const;
    // The page header's date text: the user's short date format, French in the "C" locale.
    static QString ShortDateText(const QDate& date);
    // Sets RowTextColor and RowBGColor for a list row.
    void RowColors(int row);
    // Paints one page at dotsPerMm onto the painter's device, origin at the page's
    // printable top-left corner.
    void paintPage(QPainter& painter, const ReportPage& page, double dotsPerMm);

private:
    const TEventList& m_list;
    const TUserPrefs& m_prefs;
    QStringList m_columnCaptions;
    QString m_eventsCount;
    QString m_oldest;
    QString m_newest;
    std::vector<int> m_rows;
    const ReportRows* m_shown = nullptr;
    std::vector<InputStatistics> m_stats;
};

// Puts the report's own page on a printer: A4 portrait, 10 mm margins, one copy.
// The main window calls it once for the printer it keeps, before any page setup.
void InitReportPrinter(QPrinter& printer);

// What PrintReport shows; tests replace the dialogs.
struct ReportDialogs
{
    // Information box with one OK button.
    std::function<void(const QString& text)> inform;
    // Runs the modal preview; render paints the report on the printer it is given.
    std::function<void(QPrinter& printer, const std::function<void(QPrinter*)>& render)> preview;
    // Shows the print dialog; true when the user confirmed it.
    std::function<bool(QPrinter& printer)> confirmPrint;
};
// Qt's message box, print preview dialog and print dialog, over parent.
ReportDialogs StandardReportDialogs(QWidget* parent);

// The "Imprimer" and "Aperçu avant impression" commands. An empty list shows
// "Aucun évenement à traiter !" and nothing else. printer carries the user's page
// setup ("Configurer imprimante..."). The preview always shows the whole report and
// every print starts from the whole report; a page range chosen in the print dialog
// limits that print only. jobName names the print job.
void PrintReport(QWidget* parent, const TEventList& list, const TUserPrefs& prefs,
                 QPrinter& printer, bool preview, const QString& jobName = {},
                 const ReportRows* shown = nullptr);
void PrintReport(const TEventList& list, const TUserPrefs& prefs, QPrinter& printer, bool preview,
                 const ReportDialogs& dialogs, const QString& jobName = {},
                 const ReportRows* shown = nullptr);

// Writes the report into a PDF file (A4, as printed). The file is replaced only when
// the whole report was written. On failure returns false with a French message in
// *error: an empty list, or a file that cannot be written.
bool WriteReportPdf(const TEventList& list, const TUserPrefs& prefs, const QString& pdfPath,
                    QString* error, const QDate& printDate = QDate::currentDate(),
                    const ReportRows* shown = nullptr);

// The "Exporter en PDF..." command: an empty list shows "Aucun évenement à traiter !";
// otherwise asks for the file, writes it and shows any failure in a box. Returns the
// file written, empty when none was.
QString ExportReportPdf(QWidget* parent, const TEventList& list, const TUserPrefs& prefs,
                        const ReportRows* shown = nullptr);

// `evtrak --report EVENTFILE --pdf OUTPUT.pdf`: loads the event file as "Ouvrir..."
// does, with the report settings of the program's settings file, and writes the PDF
// without any window. Needs a QGuiApplication (offscreen is fine). Returns 0, or 2
// with a French message on stderr when the event file cannot be read, holds no event,
// or the PDF cannot be written.
int RunReportToPdf(const CommandLineOptions& options);

} // namespace evtrak
