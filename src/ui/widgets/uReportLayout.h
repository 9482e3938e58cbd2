#pragma once
// Page breaking and row order of the printed report, as pure functions: the renderer
// paints what these decide, and tests check them without any paint device.

#include <vector>

namespace evtrak {

// Heights of the report's bands, in millimetres.
struct ReportBands
{
    double PageHeader = 15.6;  // every page, at the top
    double Title = 16.9;       // once, on page 1, under the page header
    double ColumnHeader = 5.3; // every page, under the page header (and the title)
    double Detail = 4.2;       // one per printed event
    double PageFooter = 8.5;   // every page, at the bottom of the printable area
    double StatsTitle = 8.5;   // the statistics' title, with a blank line above it
    double StatsHeader = 5.3;  // the statistics' column headings
};

// Printable height of the report's own page: A4 (297 mm) less 10 mm top and bottom.
inline constexpr double kReportPrintableHeightMm = 297.0 - 20.0;
// Printable band width: A4 (210 mm) less 10 mm left and right.
inline constexpr double kReportBandWidthMm = 190.0;

// One page of the report: which printed lines it holds and where its bands go
// (tops in millimetres from the printable area's top-left corner).
struct ReportPage
{
    int Number = 1;    // 1 for the first page
    int FirstLine = 0; // index into the printed lines (see ReportRowOrder)
    int LineCount = 0;
    bool HasTitle = false; // the summary band (page 1 only)
    double TitleTop = 0;
    double ColumnHeaderTop = 0;
    double FirstDetailTop = 0;
    double FooterTop = 0;
    bool EventHeadings = true; // the events' column headings at ColumnHeaderTop
    // The statistics table on this page: its title and headings at the given tops, then
    // its lines [StatsFirst, StatsFirst + StatsCount) from StatsFirstTop on.
    bool HasStats = false;
    double StatsTitleTop = 0;
    double StatsHeaderTop = 0;
    double StatsFirstTop = 0;
    int StatsFirst = 0;
    int StatsCount = 0;
};

// Splits lineCount detail lines into pages. A line goes on the current page when its
// band ends no lower than the top of the page footer; otherwise a new page begins.
// Always at least one page (an empty report still has its header, summary and footer),
// and at least one line per page even on a page too small to hold one, so that
// breaking always ends.
// With statsLines >= 0 a statistics table of that many lines follows the events: it
// starts on the last events' page when its title, headings and first line fit there,
// else on a page of its own, and every page it reaches starts with its title and
// headings (never the events' headings).
std::vector<ReportPage> PaginateReport(int lineCount, double printableHeightMm,
                                       const ReportBands& bands = {}, int statsLines = -1);

// The rows of the list, in print order, for a ReportSorting value: 0 from the top row
// (newest) down, 1 from the bottom row (oldest) up. Any other value leaves the row
// position where it was (rowIndex, 0 for a fresh report) and prints that one row only.
// A position outside the list prints nothing.
std::vector<int> ReportRowOrder(int rowCount, int sorting, int rowIndex = 0);

} // namespace evtrak
