// The capture worker and its controller: start, stop, refused starts, the ordered
// channel into the event list under a storm of events, the day change and the
// per-event append.
#include "capture_support.h"
#include "testsupport.h"

#include "acquisition/uCaptureControl.h"
#include "acquisition/uCaptureThread.h"
#include "base/ktMisc.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>
#include <ctime>
#include <sched.h>
#include <thread>

using namespace evtrak;
using namespace evtrak::test;
using Result = TCaptureController::StartResult;

namespace {

// A fixed time zone, set before anything reads it: the fake clock's local times are
// converted on the worker too, and with TZ unset the C library rewrites its zone state
// at every conversion (under a lock of its own that the thread checker cannot see).
const bool kZoneFixed = [] {
    qputenv("TZ", "Europe/Paris");
    tzset();
    return true;
}();

// Everything a capture needs, with a port the test drives and a clock it sets.
struct Rig
{
    explicit Rig(std::unique_ptr<PortBackend> backend, TUserPrefs p = DefaultUserPrefs())
        : prefs(std::move(p)), access(std::move(backend)), list(prefs),
          policy(list, prefs, prompt, clock)
    {
        policy.SetLogDir(dir.path() + QLatin1Char('/'));
        policy.InitDay();
        policy.OpenDailyFile();
        capture = std::make_unique<TCaptureController>(prefs, access, itf, list, policy, clock);
        // A stop never gives up in these tests: a hang would show as a timeout.
        capture->setStopLimit(std::chrono::hours(1));
    }
    Result start()
    {
        capture->CaptureInitSystem();
        capture->TestSystem();
        return capture->CaptureStart();
    }
    QStringList fileLines(const QString& name) const
    {
        QFile f(policy.LogDir() + name);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return DecodeText(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    TUserPrefs prefs;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(23, 59, 50))};
    ScriptedPrompt prompt;
    PortAccess access;
    TInterface itf;
    TEventList list;
    TSavingPolicy policy;
    std::unique_ptr<TCaptureController> capture;
};

TUserPrefs DailyPrefs(bool perEvent)
{
    TUserPrefs p = DefaultUserPrefs();
    p.LogSaveAutoOnNewDay = true;
    p.LogSaveAutoOnNewEvent = perEvent;
    return p;
}

QString DateOfRow(const TEventList& list, int row)
{
    return list.text(row, TEventList::ColDateTime).left(10);
}

} // namespace

class TestCaptureThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void priorityOutOfRangeIsNormal();
    void startRecordsAndStopKeepsEvents();
    void refusedStartsStayStopped_data();
    void refusedStartsStayStopped();
    void startWhileEarlierWorkerBusy();
    void fileCommandWaitsForStoppedWorker();
    void stormKeepsOrderAndCompleteness();
    void dayChangeSplitsAtMidnight();
    void dayChangeWithFailedSaveKeepsRows();
    void perEventAppendWritesTheRowsLines();
};

// A priority stored out of range (a hand-edited settings file) runs as "Normale".
void TestCaptureThread::priorityOutOfRangeIsNormal()
{
    for (int level : {9, -1, 1000}) {
        const ThreadSchedule s = ScheduleForPriority(level);
        QCOMPARE(s.schedClass, ThreadSchedule::Class::Normal);
        QCOMPARE(s.nice, 0);
    }
}

void TestCaptureThread::startRecordsAndStopKeepsEvents()
{
    auto backend = std::make_unique<MemoryPort>();
    MemoryPort& port = *backend;
    port.set(0x379, kIdleStatus);
    Rig rig(std::move(backend));
    QSignalSpy state(rig.capture.get(), &TCaptureController::captureStateChanged);

    QCOMPARE(rig.start(), Result::Started);
    QVERIFY(rig.capture->CaptureRunning());
    QCOMPARE(state.count(), 1);
    QCOMPARE(state.at(0).at(0).toBool(), true);
    QTRY_VERIFY(rig.capture->Passes() > 10);       // passes run back to back
    QCOMPARE(port.byteAt(0x378), std::uint8_t(0)); // set-up drove the data lines to 0

    QSignalSpy last(&rig.list, &TEventList::lastEventChanged);
    port.set(0x378, 0x08); // input 3 rises
    QTRY_COMPARE(rig.list.rowCount(), 1);
    QCOMPARE(rig.list.text(0, TEventList::ColLabel), QStringLiteral("Libellé_3 [ON]"));
    QCOMPARE(last.last().at(0).toString(), QStringLiteral("Libellé_3"));
    port.set(0x378, 0x00);
    rig.capture->CaptureStop(); // returns once the worker left (the limit is an hour)
    QVERIFY(!rig.capture->CaptureRunning());
    QVERIFY(!rig.capture->WorkerAlive());
    QCOMPARE(state.count(), 2);
    QCOMPARE(state.at(1).at(0).toBool(), false);
    // Whatever the worker recorded before leaving is in the list, in order.
    QCOMPARE(rig.list.rowCount(), rig.list.CaptureCount());
    if (rig.list.rowCount() == 2)
        QCOMPARE(rig.list.text(0, TEventList::ColLabel), QStringLiteral("Libellé_3 [OFF]"));
    QVERIFY(rig.list.Modified());
}

void TestCaptureThread::refusedStartsStayStopped_data()
{
    QTest::addColumn<bool>("withPort");
    QTest::addColumn<int>("selection");
    QTest::addColumn<int>("expected");
    QTest::newRow("LPT1 without port access") << false << int(psLPT1) << int(Result::NotAccessible);
    QTest::newRow("game port") << true << int(psJOY1) << int(Result::NotAccessible);
    QTest::newRow("no interface") << true << 9 << int(Result::NotAccessible);
}

void TestCaptureThread::refusedStartsStayStopped()
{
    QFETCH(bool, withPort);
    QFETCH(int, selection);
    QFETCH(int, expected);
    auto backend = std::make_unique<TogglingPort>(std::uint8_t(0x01), 10);
    // A first run leaves a capture count behind.
    Rig rig(std::move(backend));
    QCOMPARE(rig.start(), Result::Started);
    QTRY_COMPARE(rig.list.CaptureCount(), 10);
    rig.capture->CaptureStop();

    std::unique_ptr<Rig> other;
    Rig* r = &rig;
    if (!withPort) {
        other = std::make_unique<Rig>(nullptr);
        other->list.RecordEvent(CapturedEvent{});
        r = other.get();
    }
    r->prefs.PortBaseAddressIndex = selection;
    QSignalSpy state(r->capture.get(), &TCaptureController::captureStateChanged);
    QCOMPARE(int(r->start()), expected);
    QVERIFY(!r->capture->CaptureRunning());
    QVERIFY(!r->capture->PortAccessible());
    QCOMPARE(state.count(), 0);
    QCOMPARE(r->list.CaptureCount(), 0); // reset even when refused
    r->capture->CaptureStop();
    QCOMPARE(state.count(), 0); // nothing was running
}

void TestCaptureThread::startWhileEarlierWorkerBusy()
{
    auto backend = std::make_unique<BlockingPort>();
    BlockingPort& port = *backend;
    Rig rig(std::move(backend));
    QSignalSpy state(rig.capture.get(), &TCaptureController::captureStateChanged);
    port.hold();
    const auto unblock = qScopeGuard([&port] { port.release(); }); // also when failing
    QCOMPARE(rig.start(), Result::Started);
    QTRY_VERIFY(port.blocking()); // the worker is stuck inside a pass

    rig.capture->setStopLimit(std::chrono::milliseconds(20));
    QVERIFY(!rig.capture->CaptureStop());
    QVERIFY(!rig.capture->CaptureRunning());
    QVERIFY(rig.capture->WorkerAlive());
    QCOMPARE(state.count(), 1); // not shown stopped while its pass goes on

    QCOMPARE(rig.start(), Result::WorkerBusy);
    QVERIFY(!rig.capture->CaptureRunning());
    QCOMPARE(state.count(), 1); // never shown as running

    port.release();
    QTRY_VERIFY(!rig.capture->WorkerAlive()); // its end notification came
    QCOMPARE(state.count(), 2);
    QCOMPARE(state.last().at(0).toBool(), false);
    QCOMPARE(rig.start(), Result::Started);
    rig.capture->setStopLimit(std::chrono::hours(1));
    rig.capture->CaptureStop();
    QVERIFY(!rig.capture->WorkerAlive());
}

// A file command after a stop that gave up waits for the worker: the event of its last
// pass goes with the old list, never into the file opened next.
void TestCaptureThread::fileCommandWaitsForStoppedWorker()
{
    auto backend = std::make_unique<BlockingPort>();
    BlockingPort& port = *backend;
    Rig rig(std::move(backend), DailyPrefs(true));
    const QString other = rig.policy.LogDir() + QStringLiteral("other.txt");
    WriteBytes(other, "A;1;07/12/2026 08:00:00;0 ms\r\n");
    QCOMPARE(rig.start(), Result::Started);
    port.hold();
    const auto unblock = qScopeGuard([&port] { port.release(); }); // also when failing
    QTRY_VERIFY(port.blocking());
    port.set(0x378, 0x01); // read by the pass that is stuck
    rig.capture->setStopLimit(std::chrono::milliseconds(20));
    QVERIFY(!rig.capture->CaptureStop());
    std::thread releaser([&port] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        port.release();
    });
    const bool opened = rig.policy.FileOpen(other);
    releaser.join();
    QVERIFY(opened);
    QVERIFY(!rig.capture->WorkerAlive());
    QCoreApplication::processEvents();
    QCOMPARE(rig.list.rowCount(), 1);
    QCOMPARE(rig.fileLines(QStringLiteral("other.txt")).size(), 1);
    QCOMPARE(rig.fileLines(QStringLiteral("2026_12_07.txt")).size(), 1);
}

void TestCaptureThread::stormKeepsOrderAndCompleteness()
{
    // All eight data inputs change at every pass: 8 events per pass, in input order.
    auto backend = std::make_unique<TogglingPort>(std::uint8_t(0xFF));
    TogglingPort& port = *backend;
    QTemporaryDir journalDir;
    TJournal journal(TJournal::PathIn(journalDir.path()));
    QVERIFY(journal.Open());
    Rig rig(std::move(backend));
    rig.capture->setJournal(&journal);
    // A box opened while rows are being recorded runs an event loop of its own, in
    // which the worker's wake-ups arrive: the batch under way must still land whole
    // and before the next one.
    int nested = 0;
    rig.capture->setRecordedHook([&nested](std::span<const CapturedEvent>) {
        if (nested++ >= 5)
            return;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    });
    QSignalSpy batches(rig.capture.get(), &TCaptureController::eventsArrived);
    QCOMPARE(rig.start(), Result::Started);
    QTRY_VERIFY_WITH_TIMEOUT(rig.list.rowCount() >= 40000, 60000);
    rig.capture->CaptureStop();

    const int rows = rig.list.rowCount();
    // The data byte flips after each read: n reads show n - 1 changes per input.
    QCOMPARE(std::uint64_t(rows), 8 * (port.flips() - 1));
    QCOMPARE(rig.list.CaptureCount(), rows);
    QCOMPARE(rig.list.TotalCount(), rows);
    QVERIFY(batches.count() > 0);
    // Oldest at the bottom: input k % 8, ON in the first pass, OFF in the next...
    for (int k = 0; k < rows; ++k) {
        const int row = rows - 1 - k;
        const QString expected =
            QStringLiteral("Libellé_%1 [%2]")
                .arg(k % 8)
                .arg((k / 8) % 2 == 0 ? QStringLiteral("ON") : QStringLiteral("OFF"));
        if (rig.list.text(row, TEventList::ColLabel) != expected)
            QFAIL(qPrintable(QStringLiteral("event %1: %2, expected %3")
                                 .arg(k)
                                 .arg(rig.list.text(row, TEventList::ColLabel), expected)));
    }
    // The journal holds the same events in the same order.
    const std::vector<JournalEvent> journaled = TJournal::ReadEvents(journal.Path());
    QCOMPARE(int(journaled.size()), rows);
    for (int k = 0; k < rows; ++k)
        if (journaled[std::size_t(k)].InputIndex != k % 8 ||
            journaled[std::size_t(k)].State != ((k / 8) % 2 == 0))
            QFAIL(qPrintable(QStringLiteral("journal record %1").arg(k)));
}

void TestCaptureThread::dayChangeSplitsAtMidnight()
{
    Rig rig(std::make_unique<TogglingPort>(std::uint8_t(0x01)), DailyPrefs(false));
    QCOMPARE(rig.start(), Result::Started);
    QTRY_VERIFY(rig.list.rowCount() > 50);
    rig.clock.set(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1)));
    QTRY_VERIFY(rig.policy.CurrentEventFile().endsWith(QStringLiteral("2026_12_08.txt")));
    QTRY_VERIFY(rig.list.rowCount() > 50);
    rig.capture->CaptureStop();
    QVERIFY(rig.capture->CaptureRunning() == false);

    const QStringList old = rig.fileLines(QStringLiteral("2026_12_07.txt"));
    QVERIFY(old.size() > 50);
    for (const QString& line : old)
        QCOMPARE(line.section(QLatin1Char(';'), 2, 2).left(10), QStringLiteral("07/12/2026"));
    for (int row = 0; row < rig.list.rowCount(); ++row)
        QCOMPARE(DateOfRow(rig.list, row), QStringLiteral("08/12/2026"));
    QCOMPARE(old.size() + rig.list.rowCount(), rig.list.CaptureCount()); // none lost
}

void TestCaptureThread::dayChangeWithFailedSaveKeepsRows()
{
    Rig rig(std::make_unique<TogglingPort>(std::uint8_t(0x01)), DailyPrefs(false));
    // A folder where the day's file should be: every save of it fails.
    const QString obstacle = rig.policy.LogDir() + QStringLiteral("2026_12_07.txt");
    QVERIFY(QDir().mkpath(obstacle));
    QCOMPARE(rig.start(), Result::Started);
    QTRY_VERIFY(rig.list.rowCount() > 50);
    rig.clock.set(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1)));
    // Rows of the new day arrive after the marker: the switch has been tried by then.
    QTRY_COMPARE(DateOfRow(rig.list, 0), QStringLiteral("08/12/2026"));
    QVERIFY(rig.capture->CaptureRunning());
    QVERIFY(rig.policy.CurrentEventFile().endsWith(QStringLiteral("2026_12_07.txt")));
    QCOMPARE(DateOfRow(rig.list, rig.list.rowCount() - 1), QStringLiteral("07/12/2026"));
    QCOMPARE(rig.list.rowCount(), rig.list.CaptureCount());

    // The obstacle goes; the next attempt (spaced out by the policy) switches.
    QVERIFY(QDir(obstacle).removeRecursively());
    rig.clock.set(QDateTime(QDate(2026, 12, 8), QTime(0, 2, 0)));
    QTRY_VERIFY(rig.policy.CurrentEventFile().endsWith(QStringLiteral("2026_12_08.txt")));
    rig.capture->CaptureStop();
    const QStringList old = rig.fileLines(QStringLiteral("2026_12_07.txt"));
    QCOMPARE(old.size() + rig.list.rowCount(), rig.list.CaptureCount());
}

void TestCaptureThread::perEventAppendWritesTheRowsLines()
{
    Rig rig(std::make_unique<TogglingPort>(std::uint8_t(0x05), 500), DailyPrefs(true));
    rig.clock.set(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)));
    QCOMPARE(rig.start(), Result::Started);
    QTRY_COMPARE(rig.list.rowCount(), 1000);
    rig.capture->CaptureStop();
    QVERIFY(!rig.list.Modified()); // every row is in the file

    const QStringList lines = rig.fileLines(QStringLiteral("2026_12_07.txt"));
    QCOMPARE(lines.size(), 1000);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines.at(i), rig.list.fileLine(999 - i));
    // Per-event saving belongs to the saving policy, not to the capture that came and
    // went.
    rig.capture.reset();
    rig.list.RecordEvent(CapturedEvent{true, true, 3, 0, DateTimeFromQt(rig.clock.now())});
    QCOMPARE(rig.fileLines(QStringLiteral("2026_12_07.txt")).size(), 1001);
    QVERIFY(!rig.list.Modified());
}

QTEST_GUILESS_MAIN(TestCaptureThread)
#include "tst_capture_thread.moc"
