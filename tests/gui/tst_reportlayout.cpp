// Page breaking and print order of the report, without any paint device.
#include "ui/widgets/uReportLayout.h"

#include <QTest>

using namespace evtrak;

class TestReportLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pageCounts_data();
    void pageCounts();
    void bandPositions();
    void pageTooSmallStillEnds();
    void rowOrder_data();
    void rowOrder();
};

namespace {

// Lines per page of the report's own A4 page: 54 under the summary, 58 on later pages.
constexpr int kFirst = 54;
constexpr int kLater = 58;

QList<int> LinesPerPage(const std::vector<ReportPage>& pages)
{
    QList<int> counts;
    for (const ReportPage& p : pages)
        counts << p.LineCount;
    return counts;
}

} // namespace

void TestReportLayout::pageCounts_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<double>("height");
    QTest::addColumn<QList<int>>("perPage");

    const double a4 = kReportPrintableHeightMm;
    QTest::newRow("no line: one page") << 0 << a4 << QList<int>{0};
    QTest::newRow("one line") << 1 << a4 << QList<int>{1};
    QTest::newRow("first page full") << kFirst << a4 << QList<int>{kFirst};
    QTest::newRow("one more line") << kFirst + 1 << a4 << QList<int>{kFirst, 1};
    QTest::newRow("second page full") << kFirst + kLater << a4 << QList<int>{kFirst, kLater};
    QTest::newRow("three pages") << kFirst + kLater + 1 << a4 << QList<int>{kFirst, kLater, 1};
    // A page exactly as high as header, summary, headings, three lines and footer:
    // the third line ends exactly where the footer starts and still fits.
    const double exact = 15.6 + 16.9 + 5.3 + 3 * 4.2 + 8.5;
    QTest::newRow("exactly full page") << 3 << exact << QList<int>{3};
    QTest::newRow("exactly full page, one more") << 4 << exact << QList<int>{3, 1};
    QTest::newRow("a hair short") << 3 << exact - 0.01 << QList<int>{2, 1};
    // Letter paper with the same margins: the page setup reaches the breaking.
    QTest::newRow("letter") << 200 << 279.4 - 20 << QList<int>{50, 54, 54, 42};
}

void TestReportLayout::pageCounts()
{
    QFETCH(int, lines);
    QFETCH(double, height);
    QFETCH(QList<int>, perPage);

    const std::vector<ReportPage> pages = PaginateReport(lines, height);
    QCOMPARE(LinesPerPage(pages), perPage);
    int next = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        QCOMPARE(pages[i].Number, int(i) + 1);
        QCOMPARE(pages[i].FirstLine, next); // no line lost or printed twice
        QCOMPARE(pages[i].HasTitle, i == 0);
        next += pages[i].LineCount;
    }
    QCOMPARE(next, lines);
}

void TestReportLayout::bandPositions()
{
    const std::vector<ReportPage> pages = PaginateReport(100, kReportPrintableHeightMm);
    QCOMPARE(pages.size(), std::size_t(2));
    const ReportPage& first = pages[0];
    QCOMPARE(first.TitleTop, 15.6);
    QCOMPARE(first.ColumnHeaderTop, 32.5);
    QCOMPARE(first.FirstDetailTop, 37.8);
    QCOMPARE(first.FooterTop, 268.5);
    const ReportPage& second = pages[1];
    QCOMPARE(second.ColumnHeaderTop, 15.6); // no summary: headings right under the header
    QCOMPARE(second.FirstDetailTop, 20.9);
    QCOMPARE(second.FooterTop, 268.5);
    // The last line of a full first page ends on or above the footer.
    QVERIFY(first.FirstDetailTop + first.LineCount * 4.2 <= first.FooterTop + 1e-9);
}

void TestReportLayout::pageTooSmallStillEnds()
{
    // A page that cannot even hold one line (a tiny custom paper size): one line per page
    // rather than an endless run of empty pages.
    const std::vector<ReportPage> pages = PaginateReport(3, 30.0);
    QCOMPARE(LinesPerPage(pages), (QList<int>{1, 1, 1}));
}

void TestReportLayout::rowOrder_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("sorting");
    QTest::addColumn<int>("rowIndex");
    QTest::addColumn<QList<int>>("order");

    QTest::newRow("0: top row (newest) first") << 3 << 0 << 0 << QList<int>{0, 1, 2};
    QTest::newRow("1: bottom row (oldest) first") << 3 << 1 << 0 << QList<int>{2, 1, 0};
    QTest::newRow("0 ignores the old position") << 3 << 0 << 2 << QList<int>{0, 1, 2};
    QTest::newRow("2: the top row only") << 3 << 2 << 0 << QList<int>{0};
    QTest::newRow("-1: the top row only") << 3 << -1 << 0 << QList<int>{0};
    QTest::newRow("other value on an empty list") << 0 << 2 << 0 << QList<int>{};
    QTest::newRow("other value, position outside") << 3 << 7 << 5 << QList<int>{};
    QTest::newRow("1 on an empty list") << 0 << 1 << 0 << QList<int>{};
}

void TestReportLayout::rowOrder()
{
    QFETCH(int, rows);
    QFETCH(int, sorting);
    QFETCH(int, rowIndex);
    QFETCH(QList<int>, order);
    const std::vector<int> got = ReportRowOrder(rows, sorting, rowIndex);
    QCOMPARE(QList<int>(got.begin(), got.end()), order);
}

QTEST_GUILESS_MAIN(TestReportLayout)
#include "tst_reportlayout.moc"
