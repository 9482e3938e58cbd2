#include "base/ktMisc.h"
#include "eventlog/uLog.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace evtrak;

namespace {

CapturedEvent Captured(int input, bool suffix, bool state, int ms = 0, int second = 9)
{
    const QDateTime when(QDate(2026, 12, 7), QTime(14, 5, second));
    return CapturedEvent{suffix, state, input, ms, DateTimeFromQt(when)};
}

EventRecord Loaded(const QString& label, int index, int ms = 5)
{
    return EventRecord{label, index, DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(8, 0))),
                       ms};
}

QStringList Column(const TEventList& list, int column)
{
    QStringList out;
    for (int r = 0; r < list.rowCount(); ++r)
        out << list.text(r, column);
    return out;
}

} // namespace

class TestEventList : public QObject
{
    Q_OBJECT
    TUserPrefs prefs;
    std::unique_ptr<TEventList> list;
    std::unique_ptr<QAbstractItemModelTester> tester;

private Q_SLOTS:
    void init()
    {
        prefs = DefaultUserPrefs();
        prefs.Inputs[3].TextColor = 0x0000FF;
        prefs.Inputs[3].BGColor = 0x00FF00;
        list = std::make_unique<TEventList>(prefs);
        tester = std::make_unique<QAbstractItemModelTester>(
            list.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    void cleanup()
    {
        tester.reset();
        list.reset();
    }

    void capturedEventsGoOnTopInEmissionOrder()
    {
        QSignalSpy inserted(list.get(), &QAbstractItemModel::rowsInserted);
        const CapturedEvent batch[] = {Captured(1, true, true), Captured(3, true, false, 1874)};
        list->RecordEvents(batch);
        list->RecordEvent(Captured(2, false, false, 250));
        QCOMPARE(inserted.size(), 2); // one insertion per batch
        QCOMPARE(Column(*list, TEventList::ColLabel),
                 (QStringList{"Libellé_2", "Libellé_3 [OFF]", "Libellé_1 [ON]"}));
        QCOMPARE(Column(*list, TEventList::ColIndex), (QStringList{"2", "3", "1"}));
        QCOMPARE(list->text(1, TEventList::ColDateTime), QStringLiteral("07/12/2026 14:05:09"));
        QCOMPARE(Column(*list, TEventList::ColDuration),
                 (QStringList{"250 ms", "1.874 s", "0 ms"}));
        QCOMPARE(list->CaptureCount(), 3);
        QCOMPARE(list->TotalCount(), 3);
        QVERIFY(list->Modified());

        list->ResetCaptureCount();
        QSignalSpy last(list.get(), &TEventList::lastEventChanged);
        list->RecordEvent(Captured(3, true, true));
        QCOMPARE(list->CaptureCount(), 1);
        QCOMPARE(list->TotalCount(), 4);
        // The banner's event: the bare label and its input.
        QCOMPARE(last.size(), 1);
        QCOMPARE(last.at(0).at(0).toString(), QStringLiteral("Libellé_3"));
        QCOMPARE(last.at(0).at(1).toInt(), 3);
    }

    void loadedEventsKeepFileOrder()
    {
        const EventRecord recs[] = {Loaded("A", 0), Loaded("B [ON]", 42)};
        QSignalSpy last(list.get(), &TEventList::lastEventChanged);
        list->AppendEvents(recs);
        QCOMPARE(Column(*list, TEventList::ColLabel), (QStringList{"A", "B [ON]"}));
        QCOMPARE(list->text(1, TEventList::ColIndex), QStringLiteral("42"));
        QCOMPARE(last.size(), 1);
        QCOMPARE(last.at(0).at(0).toString(), QStringLiteral("B [ON]"));
        QVERIFY(!list->Modified());
        QCOMPARE(list->TotalCount(), 0);
        list->AddEvent(Loaded("C", 1), true, true, false);
        list->AddEvent(Loaded("D", 1), false, false, true);
        QCOMPARE(Column(*list, TEventList::ColLabel), (QStringList{"D", "A", "B [ON]", "C [ON]"}));
        QCOMPARE(list->fileLine(3), QStringLiteral("C [ON];1;07/12/2026 08:00:00;5 ms"));
    }

    // The report's oldest and newest events, whatever order the rows are in.
    void dateTimeRangeIgnoresRowOrder()
    {
        QCOMPARE(list->DateTimeRange(), std::make_pair(-1, -1));
        EventRecord recs[] = {Loaded("A", 0), Loaded("B", 1), Loaded("C", 2)};
        recs[0].DateTime -= 1;   // a day earlier
        recs[2].DateTime += 0.5; // noon
        list->AppendEvents(recs);
        QCOMPARE(list->DateTimeRange(), std::make_pair(0, 2));
        list->AddEvent(EventRecord{QStringLiteral("no date"), 3, 1e12, 0}, false, false, true);
        QCOMPARE(list->DateTimeRange(), std::make_pair(1, 3));
    }

    void deleteRows_data()
    {
        QTest::addColumn<QList<int>>("doomed");
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << QList<int>{} << 6;
        QTest::newRow("outside only") << QList<int>{-1, 6} << 6;
        QTest::newRow("first and last") << QList<int>{5, 0} << 6;
        QTest::newRow("runs, repeated") << QList<int>{4, 1, 2, 1, 9} << 6;
        QTest::newRow("all") << QList<int>{0, 1, 2, 3, 4, 5} << 6;
        QList<int> every2nd, others;
        for (int i = 0; i < 400; ++i)
            (i % 2 ? others : every2nd) << i;
        QTest::newRow("many runs") << every2nd << 400;
        QTest::newRow("many runs, odd") << others << 400;
    }
    void deleteRows()
    {
        QFETCH(QList<int>, doomed);
        QFETCH(int, rows);
        std::vector<EventRecord> recs;
        for (int i = 0; i < rows; ++i)
            recs.push_back(Loaded(QString::number(i), i));
        list->AppendEvents(recs);
        QStringList expected;
        for (int i = 0; i < rows; ++i)
            if (!doomed.contains(i))
                expected << QString::number(i);
        const int removed = list->DeleteRows(std::vector<int>(doomed.begin(), doomed.end()));
        QCOMPARE(removed, rows - int(expected.size()));
        QCOMPARE(Column(*list, TEventList::ColLabel), expected);
        QCOMPARE(list->Modified(), removed > 0); // nothing removed leaves the flag alone
    }

    void clearKeepsCounters()
    {
        list->RecordEvent(Captured(3, true, true));
        list->SetModified(false);
        QVERIFY(list->RequireEvents());
        list->ClearEvents();
        QVERIFY(!list->RequireEvents());
        QVERIFY(list->Modified());
        QCOMPARE(list->TotalCount(), 1);
        // An empty list still reports modification.
        list->SetModified(false);
        list->ClearEvents();
        QVERIFY(list->Modified());
    }

    void reformatDurations()
    {
        prefs.LogDurationFormat = 7;
        list->RecordEvent(Captured(0, false, false, 1500));
        QCOMPARE(list->text(0, TEventList::ColDuration), QString());
        // The file keeps the value all the same, and so does a later re-rendering.
        QCOMPARE(list->fileLine(0), QStringLiteral("Libellé_0;0;07/12/2026 14:05:09;1500 ms"));
        prefs.LogDurationFormat = 0;
        list->RecordEvent(Captured(1, false, false, 1500));
        list->RecordEvent(Captured(1, false, false, -5));
        list->SetModified(false);
        QSignalSpy changed(list.get(), &QAbstractItemModel::dataChanged);

        prefs.LogDurationFormat = 1;
        list->ReformatDurations(true);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(Column(*list, TEventList::ColDuration),
                 (QStringList{"-0.005 s", "1.500 s", "1.500 s"}));
        QVERIFY(list->Modified());
        // Back and forth leaves every value as it was.
        prefs.LogDurationFormat = 0;
        list->ReformatDurations(true);
        prefs.LogDurationFormat = 2;
        list->ReformatDurations(true);
        QCOMPARE(Column(*list, TEventList::ColDuration),
                 (QStringList{"-5 ms", "1.500 s", "1.500 s"}));
        list->SetModified(false);
        list->ReformatDurations(false);
        QVERIFY(list->Modified());
    }

    void editLabel_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << "Porte ouverte" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("accents") << "Entrée é € ü" << true;
        QTest::newRow("separator") << "a;b" << false;
        QTest::newRow("line feed") << "a\nb" << false;
        QTest::newRow("carriage return") << "a\rb" << false;
    }
    void editLabel()
    {
        QFETCH(QString, label);
        QFETCH(bool, accepted);
        list->RecordEvent(Captured(3, true, true));
        list->SetModified(false);
        const QModelIndex cell = list->index(0, TEventList::ColLabel);
        QVERIFY(list->flags(cell) & Qt::ItemIsEditable);
        QVERIFY(!(list->flags(list->index(0, 1)) & Qt::ItemIsEditable));
        QVERIFY(!list->setData(list->index(0, 1), QStringLiteral("9")));
        QCOMPARE(list->setData(cell, label), accepted);
        QCOMPARE(list->Modified(), accepted);
        // The state suffix is not edited and stays.
        const QString typed = accepted ? label : QStringLiteral("Libellé_3");
        QCOMPARE(list->data(cell, Qt::EditRole).toString(), typed);
        const QString shown = typed + QStringLiteral(" [ON]");
        QCOMPARE(list->data(cell).toString(), shown);
        QCOMPARE(list->fileLine(0), shown + QStringLiteral(";3;07/12/2026 14:05:09;0 ms"));
    }

    void fileBytesAreWindows1252WithCrLf()
    {
        prefs.Inputs[3].Label = QStringLiteral("Entrée €");
        list->RecordEvent(Captured(3, true, false, 1874, 11));
        list->RecordEvent(Captured(3, true, true, 0, 9));
        QByteArray bytes;
        list->AppendFileBytes(bytes, 0, 5);
        QCOMPARE(bytes, QByteArray("Entr\xE9"
                                   "e \x80 [ON];3;07/12/2026 14:05:09;0 ms\r\n"
                                   "Entr\xE9"
                                   "e \x80 [OFF];3;07/12/2026 14:05:11;1.874 s\r\n"));
        bytes.clear();
        list->AppendFileBytes(bytes, 1, 1);
        QVERIFY(bytes.startsWith("Entr\xE9"
                                 "e \x80 [OFF]"));

        // The bytes of a save and the text of a line agree on every row: across days
        // (the date part is made once per day), a long label, no date, a duration
        // format without text.
        prefs.LogDurationFormat = 9;
        const EventRecord more[] = {{QString(60, u'é'), 1, 46363.99999, 5},
                                    {QStringLiteral("B"), 2, 46364.0, 61000},
                                    {QStringLiteral("C"), 3, 1e12, 7},
                                    {QStringLiteral("D"), 4, 46363.5, 1}};
        list->AppendEvents(more);
        QByteArray expected;
        for (int r = 0; r < list->rowCount(); ++r)
            expected += EncodeLineText(list->fileLine(r)) + "\r\n";
        bytes.clear();
        list->AppendFileBytes(bytes, 0, list->rowCount());
        QCOMPARE(bytes, expected);
    }

    void appendHookGetsLinesOldestFirst()
    {
        QList<QStringList> calls;
        list->setAppendHook([&](const QStringList& lines) {
            calls << lines;
            return true;
        });
        list->RecordEvent(Captured(0, false, false));
        QVERIFY(calls.isEmpty()); // per-event saving off
        prefs.LogSaveAutoOnNewEvent = true;
        const CapturedEvent batch[] = {Captured(1, true, true, 0, 1),
                                       Captured(1, true, false, 3, 2)};
        list->RecordEvents(batch);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0], (QStringList{"Libellé_1 [ON];1;07/12/2026 14:05:01;0 ms",
                                        "Libellé_1 [OFF];1;07/12/2026 14:05:02;3 ms"}));
        QVERIFY(list->Modified()); // the row recorded before the hook is not on disk
    }
};

QTEST_GUILESS_MAIN(TestEventList)
#include "tst_eventlist.moc"
