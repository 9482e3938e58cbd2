#include "ui/widgets/uReportLayout.h"

#include <algorithm>
#include <cmath>

namespace evtrak {

namespace {

// Band arithmetic in hundredths of a millimetre, so that a page that is exactly full
// is recognised as full rather than lost to a rounding error.
long long Hundredths(double mm)
{
    return std::llround(mm * 100.0);
}

double Mm(long long hundredths)
{
    return static_cast<double>(hundredths) / 100.0;
}

} // namespace

std::vector<ReportPage> PaginateReport(int lineCount, double printableHeightMm,
                                       const ReportBands& bands, int statsLines)
{
    const long long header = Hundredths(bands.PageHeader);
    const long long title = Hundredths(bands.Title);
    const long long columns = Hundredths(bands.ColumnHeader);
    const long long detail = std::max(1LL, Hundredths(bands.Detail));
    const long long footerTop =
        std::floor(printableHeightMm * 100.0 + 1e-6) - Hundredths(bands.PageFooter);

    std::vector<ReportPage> pages;
    int line = 0;
    lineCount = std::max(0, lineCount);
    do {
        ReportPage page;
        page.Number = static_cast<int>(pages.size()) + 1;
        page.FirstLine = line;
        page.HasTitle = pages.empty();
        long long y = header;
        page.TitleTop = Mm(y);
        if (page.HasTitle)
            y += title;
        page.ColumnHeaderTop = Mm(y);
        y += columns;
        page.FirstDetailTop = Mm(y);
        page.FooterTop = Mm(footerTop);
        const long long room = footerTop - y;
        long long fits = room >= detail ? room / detail : 0;
        fits = std::max(1LL, fits);
        page.LineCount = static_cast<int>(std::min<long long>(fits, lineCount - line));
        line += page.LineCount;
        pages.push_back(page);
    } while (line < lineCount);
    if (statsLines < 0)
        return pages;

    const long long statsTitle = Hundredths(bands.StatsTitle);
    const long long statsHeader = Hundredths(bands.StatsHeader);
    const long long firstLine = statsLines > 0 ? detail : 0;
    int stat = 0;
    bool first = true;
    do {
        ReportPage* page = &pages.back();
        long long y = Hundredths(page->FirstDetailTop) + page->LineCount * detail;
        if (!first || y + statsTitle + statsHeader + firstLine > footerTop) {
            ReportPage next;
            next.Number = page->Number + 1;
            next.FirstLine = lineCount;
            next.EventHeadings = false;
            next.TitleTop = page->TitleTop;
            next.ColumnHeaderTop = Mm(header);
            next.FirstDetailTop = Mm(header);
            next.FooterTop = Mm(footerTop);
            pages.push_back(next);
            page = &pages.back();
            y = header;
        }
        first = false;
        page->HasStats = true;
        page->StatsTitleTop = Mm(y);
        y += statsTitle;
        page->StatsHeaderTop = Mm(y);
        y += statsHeader;
        page->StatsFirstTop = Mm(y);
        page->StatsFirst = stat;
        const long long room = footerTop - y;
        const long long fits = std::max(1LL, room >= detail ? room / detail : 0);
        page->StatsCount = static_cast<int>(std::min<long long>(fits, statsLines - stat));
        stat += page->StatsCount;
    } while (stat < statsLines);
    return pages;
}

std::vector<int> ReportRowOrder(int rowCount, int sorting, int rowIndex)
{
    std::vector<int> order;
    if (sorting == 0) {
        for (int r = 0; r < rowCount; ++r)
            order.push_back(r);
    } else if (sorting == 1) {
        for (int r = rowCount - 1; r >= 0; --r)
            order.push_back(r);
    } else if (rowIndex >= 0 && rowIndex < rowCount) {
        // The data request keeps "more data" as the engine first passed it (true), then
        // false: exactly one line, from the position the report already stood at.
        order.push_back(rowIndex);
    }
    return order;
}

} // namespace evtrak
