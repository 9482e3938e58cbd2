// The search filter and the statistics per input, on a list as the window holds it.
#include "eventlog/uEventFilter.h"
#include "eventlog/uEventStatistics.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace evtrak;

namespace {

TDateTime At(int hour, int minute, int second = 0)
{
    return DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(hour, minute, second)));
}

qint64 Seconds(int hour, int minute, int second = 0)
{
    return SecondsFromDateTime(At(hour, minute, second));
}

// Adds rows at the bottom, oldest last as in the window: (label, input, time, ms, suffix).
void Add(TEventList& list, const QString& label, int input, TDateTime when, int ms,
         int suffix /* 0 none, 1 ON, 2 OFF */)
{
    list.AddEvent(EventRecord{label, input, when, ms}, suffix != 0, suffix == 1, false);
}

} // namespace

class TestEventFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void foldingAndInputLists()
    {
        QCOMPARE(FoldForSearch(u"Défaut Œil CHAUDIÈRE"), QStringLiteral("defaut oeil chaudiere"));
        std::vector<bool> set;
        QVERIFY(ParseInputList(QStringLiteral(" 0, 3;5-7 "), set, 12));
        QCOMPARE(set, (std::vector<bool>{1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0}));
        for (const char* bad : {"", "a", "3-", "7-5", "13", "-1", "1-2-3"})
            QVERIFY2(!ParseInputList(QString::fromLatin1(bad), set, 12), bad);
    }

    void filterCombinesItsParts()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        TEventList list(prefs);
        Add(list, QStringLiteral("Porte défaut"), 0, At(10, 5), 2000, 2); // row 0
        Add(list, QStringLiteral("Porte défaut"), 0, At(10, 4), 0, 1);    // row 1
        Add(list, QStringLiteral("Pompe"), 3, At(10, 3), 500, 0);         // row 2
        Add(list, QStringLiteral("Arrêt urgence"), 12, At(9, 0), 0, 1);   // row 3
        Add(list, QStringLiteral("Sans date"), 3, 0.0 / 0.0, 0, 0);       // row 4: no date

        const auto rows = [&](auto&& set) {
            EventFilter f;
            set(f);
            return FilterRows(list, f);
        };
        using V = std::vector<int>;
        QCOMPARE(rows([](EventFilter&) {}), (V{0, 1, 2, 3, 4}));
        QCOMPARE(rows([](EventFilter& f) { f.Text = QStringLiteral("DEFAUT"); }), (V{0, 1}));
        QCOMPARE(rows([](EventFilter& f) { f.Text = QStringLiteral("arret"); }), (V{3}));
        QCOMPARE(rows([](EventFilter& f) { f.Inputs = QStringLiteral("3-12"); }), (V{2, 3, 4}));
        QCOMPARE(rows([](EventFilter& f) { f.Inputs = QStringLiteral("x"); }), V{});
        QCOMPARE(rows([](EventFilter& f) { f.StateWanted = EventFilter::State::On; }), (V{1, 3}));
        // A pulse recorded with its length ends an activation, as an [OFF] row does.
        QCOMPARE(rows([](EventFilter& f) { f.StateWanted = EventFilter::State::Off; }),
                 (V{0, 2, 4}));
        // Bounds are inclusive; a row without a date is outside any range.
        QCOMPARE(rows([](EventFilter& f) {
                     f.FromSeconds = Seconds(10, 3);
                     f.ToSeconds = Seconds(10, 4);
                 }),
                 (V{1, 2}));
        QCOMPARE(rows([](EventFilter& f) {
                     f.Text = QStringLiteral("porte");
                     f.StateWanted = EventFilter::State::Off;
                 }),
                 V{0});
        EventFilter f;
        f.Text = QStringLiteral("porte");
        f.Inputs = QStringLiteral("0");
        QCOMPARE(f.Description(),
                 QStringLiteral("Filtre : libellé contenant « porte », entrées 0"));

        QCOMPARE(NearestEventRow(list, {0, 1, 2, 3, 4}, Seconds(9, 40)), 2);
        QCOMPARE(NearestEventRow(list, {0, 1, 2, 3, 4}, Seconds(9, 20)), 3);
        QCOMPARE(NearestEventRow(list, {4}, Seconds(9, 20)), -1);
    }

    // The proxy follows rows inserted at the top, edited labels and removed rows.
    void proxyFollowsTheList()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        TEventList list(prefs);
        Add(list, QStringLiteral("Porte"), 0, At(10, 0), 0, 1);
        Add(list, QStringLiteral("Pompe"), 1, At(9, 0), 0, 1);
        TEventFilterProxy proxy(list);
        QAbstractItemModelTester tester(&proxy,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        EventFilter f;
        f.Text = QStringLiteral("porte");
        proxy.setFilter(f);
        QCOMPARE(proxy.shownRows(), std::vector<int>{0});
        list.AddEvent(EventRecord{QStringLiteral("Porte"), 0, At(11, 0), 5}, true, false, true);
        list.AddEvent(EventRecord{QStringLiteral("Pompe"), 1, At(11, 1), 5}, true, false, true);
        QCOMPARE(proxy.shownRows(), (std::vector<int>{1, 2}));
        QVERIFY(list.setData(list.index(3, 0), QStringLiteral("Porte nord")));
        QCOMPARE(proxy.shownRows(), (std::vector<int>{1, 2, 3}));
        QCOMPARE(list.rowCount(), 4); // the filter never removes an event
    }

    void statisticsPerInput()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        prefs.Inputs[2].Label = QStringLiteral("Porte");
        prefs.LogDurationFormat = 0;
        TEventList list(prefs);
        // Edge mode on input 2: two activations, one still on at the end of the list.
        Add(list, QStringLiteral("Porte"), 2, At(10, 9), 0, 1);
        Add(list, QStringLiteral("Porte"), 2, At(10, 8), 3000, 2);
        Add(list, QStringLiteral("Porte"), 2, At(10, 5), 0, 1);
        Add(list, QStringLiteral("Porte"), 2, At(10, 2), 1500, 2); // its ON is not in the list
        // Duration mode on input 7: pulses carry their length.
        Add(list, QStringLiteral("Pompe"), 7, At(9, 0), 400, 0);
        Add(list, QStringLiteral("Pompe"), 7, At(8, 0), 2147483647, 0);
        Add(list, QStringLiteral("Pompe"), 7, At(7, 0), 2147483647, 0);

        const std::vector<InputStatistics> s = ComputeStatistics(list, {0, 1, 2, 3, 4, 5, 6});
        QCOMPARE(s.size(), std::size_t(2));
        QCOMPARE(s[0].Input, 2);
        QCOMPARE(s[0].Activations, 2);
        QCOMPARE(s[0].TotalActiveMs, 4500);
        QCOMPARE(s[0].LongestActiveMs, 3000);
        QCOMPARE(s[0].FirstSeconds, Seconds(10, 2));
        QCOMPARE(s[0].LastSeconds, Seconds(10, 9));
        QCOMPARE(s[1].Activations, 3);
        QCOMPARE(s[1].TotalActiveMs, 2LL * 2147483647 + 400); // more than an int32 holds

        const QStringList lines = StatisticsText(s, prefs).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QStringLiteral("2\tPorte\t2\t4500 ms\t3000 ms\t07/12/2026 10:02:00\t"
                                          "07/12/2026 10:09:00"));
        QVERIFY(lines[2].contains(QStringLiteral("\t4294967.694 s\t")));
        // Only the rows given count (the rows a filter shows).
        QCOMPARE(ComputeStatistics(list, {4}).front().TotalActiveMs, 400);
    }
};

QTEST_GUILESS_MAIN(TestEventFilter)
#include "tst_eventfilter.moc"
