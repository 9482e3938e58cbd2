// Debounced inputs driven with a tick the test sets, stall counting with injected pass
// times, and the texts the status bar and the headless runner show.
#include "capture_support.h"

#include "acquisition/uCapture.h"
#include "acquisition/uCaptureChannel.h"
#include "acquisition/uCaptureQuality.h"
#include "settings/uUserPrefs.h"
#include "testsupport.h"

#include <QtTest>

using namespace evtrak;
using namespace evtrak::test;

namespace {

struct AgedEvent
{
    bool suffix;
    bool state;
    std::int32_t duration;
    std::int32_t age;
};

class AgedSink : public EventSink
{
public:
    void RecordEvent(bool suffix, bool state, std::int32_t index, std::int32_t duration) override
    {
        RecordEventAged(suffix, state, index, duration, 0);
    }
    void RecordEventAged(bool suffix, bool state, std::int32_t, std::int32_t duration,
                         std::int32_t age) override
    {
        events.push_back({suffix, state, duration, age});
    }
    std::vector<AgedEvent> events;
};

// "1@100,0@101" → one sample per item: level at tick.
void Drive(TCaptureEngine& engine, FakeTicks& ticks, const QString& samples)
{
    for (const Sample& s : Samples(samples)) {
        ticks.now = s.tick;
        engine.UpdateChannel(engine.Channels()[3], s.level);
    }
}

// "ON:0/14,OFF:100/12" (D: duration event): state:duration/age.
QString Describe(const std::vector<AgedEvent>& evs)
{
    QStringList parts;
    for (const AgedEvent& e : evs)
        parts << QStringLiteral("%1:%2/%3")
                     .arg(EventKind(e.suffix, e.state))
                     .arg(e.duration)
                     .arg(e.age);
    return parts.join(QLatin1Char(','));
}

} // namespace

class TestCaptureQuality : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void debounce_data()
    {
        QTest::addColumn<bool>("edge");
        QTest::addColumn<int>("debounce");
        QTest::addColumn<QString>("samples");
        QTest::addColumn<QString>("expected");

        // A press that bounces for 4 ms and a release that bounces for 2 ms: one event
        // each, dated at the first flip, and the activation spans first flip to first flip.
        QTest::newRow("bounce trains") << true << 10
                                       << "0@90,1@100,0@101,1@102,0@103,1@104,1@110,1@113,1@114,"
                                          "1@150,0@200,1@201,0@202,0@211,0@212,0@230"
                                       << "ON:0/14,OFF:100/12";
        QTest::newRow("clean pulse keeps its length")
            << true << 20 << "0@90,1@100,1@119,1@120,1@200,0@350,0@369,0@370"
            << "ON:0/20,OFF:250/20";
        QTest::newRow("glitch shorter than the debounce")
            << true << 20 << "0@90,1@100,1@110,0@111,1@115,0@116,0@140,0@500"
            << "";
        // A glitch during an activation neither ends it nor shifts its length.
        QTest::newRow("glitch inside an activation")
            << true << 5 << "1@100,1@105,0@150,0@152,1@153,1@400,0@500,0@505"
            << "ON:0/5,OFF:400/5";
        QTest::newRow("duration mode") << false << 20 << "1@100,1@120,0@350,1@351,0@352,0@372"
                                       << "D:250/22";
        QTest::newRow("no debounce: every flip counts") << true << 0 << "1@100,0@101,1@102"
                                                        << "ON:0/0,OFF:1/0,ON:0/0";
    }
    void debounce()
    {
        QFETCH(bool, edge);
        QFETCH(int, debounce);
        QFETCH(QString, samples);
        QFETCH(QString, expected);
        FakeTicks ticks;
        AgedSink sink;
        TCaptureEngine engine(ticks, sink);
        TUserPrefs prefs = DefaultUserPrefs();
        prefs.CaptureSaveEdge = edge;
        prefs.CaptureSaveDuration = !edge;
        prefs.Inputs[3].Debounce = debounce;
        engine.ResetChannels(prefs);
        engine.LoadCaptureSettings(prefs);
        Drive(engine, ticks, samples);
        QCOMPARE(Describe(sink.events), expected);
    }

    void stateWordFollowsCountedStates()
    {
        FakeTicks ticks;
        AgedSink sink;
        TCaptureEngine engine(ticks, sink);
        TUserPrefs prefs = DefaultUserPrefs();
        prefs.Inputs[3].Debounce = 10;
        prefs.Inputs[5].Active = false;
        engine.ResetChannels(prefs);
        engine.LoadCaptureSettings(prefs);
        engine.UpdateChannel(engine.Channels()[5], true); // not monitored: stays dark
        engine.UpdateChannel(engine.Channels()[12], true);
        Drive(engine, ticks, QStringLiteral("1@100,1@105"));
        QCOMPARE(engine.StateWord(), std::uint16_t(1u << 12)); // input 3 not yet counted
        Drive(engine, ticks, QStringLiteral("1@110"));
        QCOMPARE(engine.StateWord(), std::uint16_t((1u << 12) | (1u << 3)));
        // A reset with debounce off keeps the counted state.
        prefs.Inputs[3].Debounce = 0;
        engine.ResetChannels(prefs);
        QCOMPARE(engine.StateWord(), std::uint16_t((1u << 12) | (1u << 3)));
    }

    // The channel's stamp is the moment the change started, not its confirmation.
    void agedEventIsStampedAtItsStart()
    {
        FakeClock clock;
        EventStamper stamper(clock);
        TCaptureChannel channel({});
        TChannelSink sink(channel, stamper);
        const std::int64_t now = clock.now().toMSecsSinceEpoch();
        sink.RecordEventAged(true, true, 3, 0, 14);
        sink.RecordEvent(true, false, 3, 40);
        sink.Flush();
        CaptureBatch batch;
        channel.Take(batch);
        QCOMPARE(batch.events.size(), std::size_t(2));
        QCOMPARE(batch.events[0].Ms, now - 14);
        QCOMPARE(batch.events[1].Ms, now);
    }

    void stallsAreCountedOnceWithTheirLength()
    {
        constexpr std::int64_t ms = 1000000;
        TCaptureQuality q;
        q.Configure(20, 0);
        for (const std::int64_t t : {0LL, 1LL, 2LL, 23LL, 43LL, 44LL, 100LL})
            q.PassAt(t * ms);
        // 21 ms and 56 ms are stalls; exactly 20 ms is not.
        CaptureFigures f = q.Figures();
        QCOMPARE(f.Passes, std::uint64_t(7));
        QCOMPARE(f.Stalls, std::uint64_t(2));
        QCOMPARE(f.LongestNs, 56 * ms);
        std::vector<StallReport> stalls = q.TakeStalls();
        QCOMPARE(stalls.size(), std::size_t(2));
        QCOMPARE(stalls[0].LengthMs, 21);
        QCOMPARE(stalls[1].LengthMs, 56);
        QVERIFY(q.TakeStalls().empty()); // reported once

        // More stalls than the ring holds between two polls: the newest are kept and
        // every one is counted.
        for (int i = 1; i <= 100; ++i)
            q.PassAt((100 + 30 * i) * ms);
        QCOMPARE(q.Figures().Stalls, std::uint64_t(102));
        stalls = q.TakeStalls();
        QCOMPARE(stalls.size(), std::size_t(64));
        QCOMPARE(stalls.back().LengthMs, 30);

        // Off, and a new start that forgets the old figures.
        q.Configure(0, 0);
        QVERIFY(q.TakeStalls().empty());
        q.PassAt(0);
        q.PassAt(500 * ms);
        QCOMPARE(q.Figures().Stalls, std::uint64_t(0));
        QCOMPARE(q.Figures().Passes, std::uint64_t(2));

        // Paced at 10 ms with a 5 ms threshold: one period late is not a stall, two are.
        q.Configure(5, 10000);
        for (const std::int64_t t : {0LL, 10LL, 20LL, 30LL, 51LL})
            q.PassAt(t * ms);
        QCOMPARE(q.Figures().Stalls, std::uint64_t(1));
    }

    void statusTexts()
    {
        QCOMPARE(CaptureQualityStatus(false, 0.0, 0), QStringLiteral("--------"));
        QCOMPARE(CaptureQualityStatus(true, 1234567.4, 0),
                 QStringLiteral("1\u202F234\u202F567 éch./s"));
        QCOMPARE(CaptureQualityStatus(true, 1000.0, 42), QStringLiteral("42 en attente"));
        QCOMPARE(StallText(35), QStringLiteral("Interruption de l'acquisition : 35 ms"));
    }
};

QTEST_GUILESS_MAIN(TestCaptureQuality)
#include "tst_capture_quality.moc"
