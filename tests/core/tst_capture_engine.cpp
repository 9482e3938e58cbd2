// The capture engine driven sample by sample with a tick the test sets, and whole
// passes over an in-memory port.
#include "capture_support.h"

#include "acquisition/uCapture.h"
#include "acquisition/uPortSelection.h"
#include "settings/uUserPrefs.h"

#include <QtTest>

using namespace evtrak;
using namespace evtrak::test;

namespace {

// "ON:0,OFF:40,D:41" (D: a duration event with the bare label).
std::vector<SinkEvent> Expected(const QString& text, int index)
{
    std::vector<SinkEvent> out;
    for (const QString& e : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = e.split(QLatin1Char(':'));
        const int d = parts[1].toInt();
        if (parts[0] == QLatin1String("D"))
            out.push_back({false, false, index, d});
        else
            out.push_back({true, parts[0] == QLatin1String("ON"), index, d});
    }
    return out;
}

QString Describe(const std::vector<SinkEvent>& evs)
{
    QStringList parts;
    for (const SinkEvent& e : evs)
        parts << QStringLiteral("%1#%2:%3")
                     .arg(EventKind(e.suffix, e.state))
                     .arg(e.index)
                     .arg(e.duration);
    return parts.join(QLatin1Char(','));
}

} // namespace

class TestCaptureEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void updateChannel_data();
    void updateChannel();
    void resetEndsActivationButKeepsState_data();
    void resetEndsActivationButKeepsState();
    void inactiveInputKeepsStaleState();
    void lptPassOrderAndSelection_data();
    void lptPassOrderAndSelection();
};

void TestCaptureEngine::updateChannel_data()
{
    QTest::addColumn<bool>("edge");
    QTest::addColumn<bool>("duration");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("invert");
    QTest::addColumn<int>("minDuration");
    QTest::addColumn<int>("recordCostMs");
    QTest::addColumn<QString>("samples");
    QTest::addColumn<QString>("expected");

    QTest::newRow("edge: on then off 40 ms later")
        << true << false << true << false << 2 << 0 << "0@0,1@100,1@120,0@140"
        << "ON:0,OFF:40";
    QTest::newRow("edge: time spent recording ON not counted")
        << true << false << true << false << 2 << 5 << "0@0,1@100,0@140"
        << "ON:0,OFF:35";
    QTest::newRow("edge ignores the minimum duration")
        << true << false << true << false << 1000 << 0 << "1@100,0@101"
        << "ON:0,OFF:1";
    QTest::newRow("duration: exactly the minimum is dropped")
        << false << true << true << false << 40 << 0 << "1@100,0@140"
        << "";
    QTest::newRow("duration: one ms more is recorded")
        << false << true << true << false << 40 << 0 << "1@100,0@141"
        << "D:41";
    QTest::newRow("duration: default minimum drops 0, 1, 2 ms")
        << false << true << true << false << 2 << 0 << "1@10,0@10,1@20,0@21,1@30,0@32,1@40,0@43"
        << "D:3";
    QTest::newRow("both modes on: edge wins, no separate duration")
        << true << true << true << false << 2 << 0 << "1@100,0@150"
        << "ON:0,OFF:50";
    QTest::newRow("both modes off: nothing")
        << false << false << true << false << 2 << 0 << "1@100,0@150,1@200"
        << "";
    QTest::newRow("inverted input with a low line: ON once")
        << true << false << true << true << 2 << 0 << "0@100,0@200,0@300"
        << "ON:0";
    QTest::newRow("inactive input: nothing")
        << true << true << false << false << 2 << 0 << "1@100,0@200,1@300"
        << "";
    QTest::newRow("activation across the tick wrap")
        << true << false << true << false << 2 << 0 << "1@0xFFFFFFF0,0@0x10"
        << "ON:0,OFF:32";
    QTest::newRow("duration across the tick wrap")
        << false << true << true << false << 2 << 0 << "1@0xFFFFFF00,0@0x100"
        << "D:512";
    QTest::newRow("duration: activation starting at tick 0")
        << false << true << true << false << 2 << 0 << "1@0,0@50"
        << "D:50";
    QTest::newRow("edge: an activation longer than 24.8 days saturates")
        << true << false << true << false << 2 << 0 << "1@0,0@0x90000000"
        << "ON:0,OFF:2147483647";
}

void TestCaptureEngine::updateChannel()
{
    QFETCH(bool, edge);
    QFETCH(bool, duration);
    QFETCH(bool, active);
    QFETCH(bool, invert);
    QFETCH(int, minDuration);
    QFETCH(int, recordCostMs);
    QFETCH(QString, samples);
    QFETCH(QString, expected);

    FakeTicks ticks;
    RecordingSink sink(&ticks, std::uint32_t(recordCostMs));
    TCaptureEngine engine(ticks, sink);
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.CaptureSaveEdge = edge;
    prefs.CaptureSaveDuration = duration;
    prefs.Inputs[2].Active = active;
    prefs.Inputs[2].Invert = invert;
    prefs.Inputs[2].MinDuration = minDuration;
    engine.ResetChannels(prefs);
    engine.LoadCaptureSettings(prefs);

    for (const Sample& s : Samples(samples)) {
        ticks.now = s.tick;
        engine.UpdateChannel(engine.Channels()[2], s.level);
    }
    QCOMPARE(Describe(sink.events), Describe(Expected(expected, 2)));
}

void TestCaptureEngine::resetEndsActivationButKeepsState_data()
{
    QTest::addColumn<bool>("edge");
    QTest::addColumn<QString>("expectedAfterReset");
    QTest::newRow("edge: OFF with duration 0") << true << "OFF:0";
    QTest::newRow("duration: nothing") << false << "";
}

void TestCaptureEngine::resetEndsActivationButKeepsState()
{
    QFETCH(bool, edge);
    QFETCH(QString, expectedAfterReset);
    FakeTicks ticks;
    RecordingSink sink;
    TCaptureEngine engine(ticks, sink);
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.CaptureSaveEdge = edge;
    prefs.CaptureSaveDuration = !edge;
    prefs.Inputs[4].MinDuration = 0;
    engine.ResetChannels(prefs);
    engine.LoadCaptureSettings(prefs);
    InputChannel& ch = engine.Channels()[4];

    ticks.now = 100;
    engine.UpdateChannel(ch, true);
    sink.events.clear();
    engine.ResetChannels(prefs);
    QVERIFY(!ch.Activated);
    QVERIFY(ch.PreviousState);
    ticks.now = 900;
    engine.UpdateChannel(ch, true); // still active: nothing
    QVERIFY(sink.events.empty());
    engine.UpdateChannel(ch, false);
    QCOMPARE(Describe(sink.events), Describe(Expected(expectedAfterReset, 4)));
}

void TestCaptureEngine::inactiveInputKeepsStaleState()
{
    FakeTicks ticks;
    RecordingSink sink;
    TCaptureEngine engine(ticks, sink);
    TUserPrefs prefs = DefaultUserPrefs();
    engine.ResetChannels(prefs);
    engine.LoadCaptureSettings(prefs);
    InputChannel& ch = engine.Channels()[7];
    engine.UpdateChannel(ch, true); // ON, PreviousState true
    prefs.Inputs[7].Active = false;
    engine.ResetChannels(prefs);
    engine.UpdateChannel(ch, false);
    engine.UpdateChannel(ch, true);
    engine.UpdateChannel(ch, false);
    QCOMPARE(sink.events.size(), std::size_t(1));
    QVERIFY(ch.PreviousState);
    // Made active again: its first sample is compared with the stale state.
    prefs.Inputs[7].Active = true;
    engine.ResetChannels(prefs);
    engine.UpdateChannel(ch, false);
    QCOMPARE(Describe(sink.events), QStringLiteral("ON#7:0,OFF#7:0"));
}

void TestCaptureEngine::lptPassOrderAndSelection_data()
{
    QTest::addColumn<int>("selection");
    QTest::addColumn<QString>("expected");
    // Data bit 1 (input 1) and ACK (input 9) rise in the same LPT1 pass; the modem
    // status register of COM1 shows CTS and DCD (inputs 0 and 3).
    QTest::newRow("LPT1: ascending input order") << int(psLPT1) << "ON#1:0,ON#9:0";
    QTest::newRow("LPT2 reads its own registers") << int(psLPT2) << "ON#5:0";
    QTest::newRow("COM1 feeds channels 0..3 only") << int(psCOM1) << "ON#0:0,ON#3:0";
    QTest::newRow("no interface: nothing read") << 9 << "";
}

void TestCaptureEngine::lptPassOrderAndSelection()
{
    QFETCH(int, selection);
    QFETCH(QString, expected);
    auto backend = std::make_unique<MemoryPort>();
    MemoryPort& port = *backend;
    PortAccess access(std::move(backend));
    port.set(0x378, 0x02);
    port.set(0x379, kIdleStatus | 0x40);
    port.set(0x278, 0x20);
    port.set(0x279, kIdleStatus);
    port.set(0x3FE, 0x90);

    FakeTicks ticks;
    RecordingSink sink;
    TCaptureEngine engine(ticks, sink);
    TUserPrefs prefs = DefaultUserPrefs();
    // Inputs 4..12 inverted: any update of theirs with a low level would record ON.
    for (int i = 4; i < kInputCount; ++i)
        prefs.Inputs[std::size_t(i)].Invert = selection != psLPT1 && selection != psLPT2;
    prefs.PortBaseAddressIndex = selection;
    engine.ResetChannels(prefs);
    engine.LoadCaptureSettings(prefs);
    std::uint16_t lpt = 0, serial = 0, game = 0;
    GetPortBaseAddresses(selection, lpt, serial, game);
    engine.SetBases({lpt, serial, game});
    engine.SetPort(&access);

    engine.SamplePass();
    engine.SamplePass(); // a second pass with the same levels records nothing more
    QCOMPARE(Describe(sink.events), expected);
}

QTEST_GUILESS_MAIN(TestCaptureEngine)
#include "tst_capture_engine.moc"
