#include "ui/widgets/frmReport01.h"

#include "base/uResStr.h"
#include "eventlog/uEventStatistics.h"
#include "eventlog/uLog.h"
#include "ui/widgets/ktColors.h"

#include <QFontDatabase>
#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QRegularExpression>
#include <algorithm>

namespace evtrak {

namespace {

// Column positions of the headings and detail lines, in millimetres.
constexpr double kColumnX[kColumnCount] = {1.1, 86.8, 110.1, 150.3};
constexpr double kValueX = 44.45; // summary values
constexpr double kSubTitleY = 7.4;
constexpr double kSummaryY[3] = {0.0, 4.2, 8.5};
constexpr double kPageNumberY = 4.2;
constexpr double kFilterY = 12.7; // the summary's filter line, when a filter is set
// The statistics table's columns, in millimetres.
constexpr double kStatsX[7] = {1.1, 10.0, 52.0, 72.0, 100.0, 128.0, 160.0};
constexpr double kStatsTitleGapMm = 3.0; // blank space above the statistics' title

// Colours of the design, 0x00BBGGRR.
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clWhite = 0xFFFFFF;

// Desktop colours on paper: the classic light scheme whatever the screen's theme, so
// a dark desktop does not print black rows.
const QPalette& PaperPalette()
{
    static const QPalette pal = [] {
        QPalette p;
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
        p.setColor(QPalette::Text, Qt::black);
        p.setColor(QPalette::WindowText, Qt::black);
        p.setColor(QPalette::Button, QColor(0xF0, 0xF0, 0xF0));
        p.setColor(QPalette::ButtonText, Qt::black);
        p.setColor(QPalette::Highlight, QColor(0x00, 0x78, 0xD7));
        p.setColor(QPalette::HighlightedText, Qt::white);
        return p;
    }();
    return pal;
}

QColor Paper(TColor c)
{
    return ToQColor(c, PaperPalette());
}

// Liberation Sans, built into the program (Arial's metrics), so that the report looks the
// same on every machine whatever fonts it has; the system's Arial or Liberation Sans only
// if the built-in fonts could not be loaded.
QString ReportFamily()
{
    static const QString family = [] {
        QString embedded;
        for (const char* file :
             {":/fonts/LiberationSans-Regular.ttf", ":/fonts/LiberationSans-Bold.ttf"}) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
            if (id >= 0 && !QFontDatabase::applicationFontFamilies(id).isEmpty())
                embedded = QFontDatabase::applicationFontFamilies(id).constFirst();
        }
        if (!embedded.isEmpty())
            return embedded;
        const QStringList families = QFontDatabase::families();
        for (const char* name : {"Arial", "Liberation Sans"}) {
            if (families.contains(QLatin1String(name), Qt::CaseInsensitive))
                return QString::fromLatin1(name);
        }
        return QStringLiteral("Sans Serif");
    }();
    return family;
}

QFont ReportFont(double points, bool bold)
{
    QFont f(ReportFamily());
    f.setPointSizeF(points);
    f.setBold(bold);
    // No shaping for Latin text: no "fi"/"fl" ligature glyphs, so the PDF's text reads
    // (and is found by a search) letter by letter.
    f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::PreferNoShaping));
    return f;
}

// Draws one label as the report engine sizes it: its box fits its text, its top-left
// corner at (x, y); an opaque label fills its box first.
class LabelPainter
{
public:
    LabelPainter(QPainter& p, double dotsPerMm) : m_p(p), m_dpmm(dotsPerMm) {}

    void font(const QFont& f)
    {
        m_p.setFont(f);
        m_metrics = QFontMetricsF(f, m_p.device());
    }
    double px(double mm) const { return mm * m_dpmm; }
    double widthMm(const QString& text) const { return m_metrics.horizontalAdvance(text) / m_dpmm; }

    void draw(double xMm, double yMm, const QString& text, const QColor& color,
              const QColor* background = nullptr)
    {
        const QPointF topLeft(px(xMm), px(yMm));
        if (background) {
            const QRectF box(topLeft,
                             QSizeF(m_metrics.horizontalAdvance(text), m_metrics.height()));
            m_p.fillRect(box, *background);
        }
        m_p.setPen(color);
        m_p.drawText(topLeft + QPointF(0, m_metrics.ascent()), text);
    }

    void drawRightAligned(double rightMm, double yMm, const QString& text, const QColor& color)
    {
        const double width = m_metrics.horizontalAdvance(text);
        m_p.setPen(color);
        m_p.drawText(QPointF(px(rightMm) - width, px(yMm) + m_metrics.ascent()), text);
    }

private:
    QPainter& m_p;
    double m_dpmm;
    QFontMetricsF m_metrics{QFont()};
};

// The statistics part of a page: its title (" (suite)" after a page break), its column
// headings, then its lines.
void PaintStatistics(LabelPainter& label, const std::vector<InputStatistics>& stats,
                     const TUserPrefs& prefs, const ReportPage& page, double detailMm)
{
    label.font(ReportFont(10, true));
    QString title = QStringLiteral("Statistiques par entrée");
    if (page.StatsFirst > 0)
        title += ResStr::ContinuedSuffix();
    label.draw(0, page.StatsTitleTop + kStatsTitleGapMm, title, Paper(clBlue));
    label.font(ReportFont(7, true));
    const QStringList headings = StatisticsHeadings();
    for (int c = 0; c < headings.size(); ++c)
        label.draw(kStatsX[c], page.StatsHeaderTop, headings[c], Paper(clGreen));
    label.font(ReportFont(7, false));
    const QColor text = Paper(clWindowText);
    for (int i = 0; i < page.StatsCount; ++i) {
        const std::size_t k = std::size_t(page.StatsFirst + i);
        if (k >= stats.size())
            break;
        const QStringList cells = StatisticsCells(stats[k], prefs);
        for (int c = 0; c < cells.size(); ++c)
            label.draw(kStatsX[c], page.StatsFirstTop + i * detailMm, cells[c], text);
    }
}

} // namespace

TfmReport01::TfmReport01(const TEventList& list, const TUserPrefs& prefs, const ReportRows* shown)
    : m_list(list), m_prefs(prefs), m_shown(shown)
{
    MainTitle = prefs.ReportMainTitle.isEmpty() ? prefs.AppMainTitle : prefs.ReportMainTitle;
    SubTitle = prefs.ReportSubTitle.isEmpty() ? ResStr::NoSubTitle() : prefs.ReportSubTitle;
    for (const QString& caption : prefs.GridColumnCaption)
        m_columnCaptions << caption;
}

TfmReport01::~TfmReport01() = default;

void TfmReport01::QuickRep1BeforePrint()
{
    // With a filter the report holds the rows it shows, in the list's order.
    const int rows = m_shown ? int(m_shown->Rows.size()) : m_list.rowCount();
    const auto listRow = [this](int i) { return m_shown ? m_shown->Rows[std::size_t(i)] : i; };
    m_eventsCount = QString::number(rows);
    // By date-time, not by place: a file stored oldest first is listed that way.
    const auto [oldest, newest] = m_list.DateTimeRange(m_shown ? &m_shown->Rows : nullptr);
    m_oldest = oldest >= 0 ? m_list.text(oldest, TEventList::ColDateTime) : QString();
    m_newest = newest >= 0 ? m_list.text(newest, TEventList::ColDateTime) : QString();
    if (m_prefs.ReportSorting == 0)
        RowIndex = 0;
    else if (m_prefs.ReportSorting == 1)
        RowIndex = rows - 1;
    m_rows = ReportRowOrder(rows, m_prefs.ReportSorting, RowIndex);
    for (int& r : m_rows)
        r = listRow(r);
    m_stats.clear();
    if (m_prefs.ReportStatistics) {
        std::vector<int> all(static_cast<std::size_t>(rows));
        for (int i = 0; i < rows; ++i)
            all[std::size_t(i)] = listRow(i);
        m_stats = ComputeStatistics(m_list, all);
    }
}

int TfmReport01::StatisticsLineCount() const
{
    return m_prefs.ReportStatistics ? int(m_stats.size()) : -1;
}

QString TfmReport01::PageTitle(int pageNumber) const
{
    return pageNumber == 1 ? MainTitle : MainTitle + ResStr::ContinuedSuffix();
}

void TfmReport01::RowColors(int row)
{
    bool ok = false;
    const int input = m_list.text(row, TEventList::ColIndex).toInt(&ok);
    if (!ok) {
        RowTextColor = clBlack;
        RowBGColor = clWindow;
        return;
    }
    const TInputPrefs v = GetInputPrefs(m_prefs, input);
    RowTextColor = v.TextColor;
    RowBGColor = v.BGColor;
}

int TfmReport01::paint(QPainter& painter, QPagedPaintDevice& device, int fromPage, int toPage)
{
    QuickRep1BeforePrint();
    const double printableHeight = device.pageLayout().paintRect(QPageLayout::Millimeter).height();
    const double dotsPerMm = device.logicalDpiY() / 25.4;
    const std::vector<ReportPage> pages =
        PaginateReport(static_cast<int>(m_rows.size()), printableHeight, {}, StatisticsLineCount());
    bool first = true;
    for (const ReportPage& page : pages) {
        if (fromPage > 0 && page.Number < fromPage)
            continue;
        if (toPage > 0 && page.Number > toPage)
            break;
        if (!first)
            device.newPage();
        first = false;
        paintPage(painter, page, dotsPerMm);
    }
    return static_cast<int>(pages.size());
}

// The date in the user's short format; a machine left in the "C" locale gets the
// French one, the language of the whole report.
QString TfmReport01::ShortDateText(const QDate& date)
{
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::French, QLocale::France);
    return locale.toString(date, QLocale::ShortFormat);
}

void TfmReport01::paintPage(QPainter& painter, const ReportPage& page, double dotsPerMm)
{
    LabelPainter label(painter, dotsPerMm);
    const QColor windowText = Paper(clWindowText);

    // Page header.
    label.font(ReportFont(14, true));
    label.draw(0, 0, PageTitle(page.Number), Paper(clBlue));
    label.font(ReportFont(8, false));
    label.drawRightAligned(kReportBandWidthMm, 0, ShortDateText(PrintDate), windowText);
    label.font(ReportFont(10, false));
    label.draw(0, kSubTitleY, SubTitle, Paper(clBlue));

    // Summary, on the first page.
    if (page.HasTitle) {
        const QString captions[3] = {QStringLiteral("Nombre total d'évenements :"),
                                     QStringLiteral("Evenements le plus ancien :"),
                                     QStringLiteral("Evenements le plus récent :")};
        const QString values[3] = {m_eventsCount, m_oldest, m_newest};
        // Each value starts after its caption's measured width, so no font can make the
        // two overlap.
        double valueX[3];
        label.font(ReportFont(8, true));
        for (int i = 0; i < 3; ++i) {
            label.draw(0, page.TitleTop + kSummaryY[i], captions[i], windowText);
            valueX[i] = std::max(kValueX, label.widthMm(captions[i] + u' '));
        }
        label.font(ReportFont(8, false));
        for (int i = 0; i < 3; ++i)
            label.draw(valueX[i], page.TitleTop + kSummaryY[i], values[i], Paper(clFuchsia));
        if (m_shown) {
            const QString caption = QStringLiteral("Filtre :");
            label.font(ReportFont(8, true));
            label.draw(0, page.TitleTop + kFilterY, caption, windowText);
            const double x = std::max(kValueX, label.widthMm(caption + u' '));
            label.font(ReportFont(8, false));
            QString what = m_shown->Description;
            what.remove(QRegularExpression(QStringLiteral("^Filtre : ")));
            label.draw(x, page.TitleTop + kFilterY, what, Paper(clFuchsia));
        }
    }

    // Column headings, on the pages that hold events.
    label.font(ReportFont(8, true));
    if (page.EventHeadings)
        for (int c = 0; c < kColumnCount; ++c)
            label.draw(kColumnX[c], page.ColumnHeaderTop, m_columnCaptions.value(c),
                       Paper(clGreen));

    // Detail lines. Labels are opaque: a long text is covered by the next column's
    // label, as on screen.
    const ReportBands bands;
    label.font(ReportFont(8, false));
    for (int i = 0; i < page.LineCount; ++i) {
        const double y = page.FirstDetailTop + i * bands.Detail;
        const int line = page.FirstLine + i;
        const int row = m_rows.at(static_cast<std::size_t>(line));
        QColor text = windowText;
        QColor background = Paper(clWhite);
        if (m_prefs.LogPrintColors) {
            RowColors(row);
            text = Paper(RowTextColor);
            background = Paper(RowBGColor);
            painter.fillRect(
                QRectF(0, label.px(y), label.px(kReportBandWidthMm), label.px(bands.Detail)),
                background);
        }
        for (int c = 0; c < kColumnCount; ++c)
            label.draw(kColumnX[c], y, m_list.text(row, c), text, &background);
    }

    if (page.HasStats)
        PaintStatistics(label, m_stats, m_prefs, page, bands.Detail);

    // Page footer.
    label.font(ReportFont(8, false));
    label.draw(0, page.FooterTop + kPageNumberY, QStringLiteral("Page %1").arg(page.Number),
               windowText);
}

} // namespace evtrak
