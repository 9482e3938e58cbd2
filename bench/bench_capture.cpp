// Capture figures, side by side in one run:
//  1. sampling passes per second on an in-memory port (engine alone, and on the worker);
//  2. events per second carried from the worker into the event list, with an input
//     that changes at every pass, for 5 s, checking that none is lost and the order
//     is kept (goal: at least 200,000 per second);
//  3. the delay from RecordEvent to the row being in the list (goal: 99th percentile
//     under 50 ms).
#include "../tests/capture_support.h"

#include "acquisition/uCaptureControl.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace evtrak;
using namespace evtrak::test;

namespace {

constexpr double kEventsGoal = 200000.0;
constexpr double kLatencyGoalMs = 50.0;

// Plain bytes, no atomics: the engine-only loop runs on one thread.
class PlainPort : public PortBackend
{
public:
    PlainPort() { m_bytes[0x379] = 0x80; }
    QString name() const override { return QStringLiteral("plain"); }
    bool direct() const override { return false; }
    bool read(std::uint16_t port, int, std::uint32_t& value) override
    {
        value = m_bytes[port];
        return true;
    }
    bool write(std::uint16_t port, int, std::uint32_t value) override
    {
        m_bytes[port] = std::uint8_t(value);
        return true;
    }

private:
    std::array<std::uint8_t, 65536> m_bytes{};
};

class NullSink : public EventSink
{
public:
    void RecordEvent(bool, bool, std::int32_t, std::int32_t) override { ++count; }
    std::uint64_t count = 0;
};

double EnginePassesPerSecond()
{
    PortAccess access(std::make_unique<PlainPort>());
    NullSink sink;
    TCaptureEngine engine(MonotonicTicks(), sink);
    TUserPrefs prefs = DefaultUserPrefs();
    engine.ResetChannels(prefs);
    engine.LoadCaptureSettings(prefs);
    engine.SetBases({0x378, 0xFFFF, 0xFFFF});
    engine.SetPort(&access);
    QElapsedTimer t;
    t.start();
    std::uint64_t passes = 0;
    while (t.elapsed() < 1000) {
        for (int i = 0; i < 10000; ++i)
            engine.SamplePass();
        passes += 10000;
    }
    return double(passes) * 1000.0 / double(t.elapsed());
}

struct Run
{
    double seconds = 0;
    std::uint64_t passes = 0;
    int rows = 0;
    bool complete = false;
    bool ordered = false;
    int batches = 0;
    // Latencies in 0.1 ms bins up to 1 s (the last bin holds anything longer).
    std::vector<std::uint64_t> latency = std::vector<std::uint64_t>(10001, 0);
};

// A capture on a port whose data byte flips at every read, for `ms` milliseconds.
Run CaptureFor(int ms, std::uint8_t mask, bool journaled = false, bool perEvent = false)
{
    Run run;
    QTemporaryDir dir;
    TJournal journal(TJournal::PathIn(dir.path()));
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.LogSaveAutoOnNewEvent = perEvent;
    auto backend = std::make_unique<TogglingPort>(mask);
    TogglingPort& port = *backend;
    PortAccess access(std::move(backend));
    TEventList list(prefs);
    SilentPrompt prompt;
    TSavingPolicy policy(list, prefs, prompt);
    policy.SetLogDir(dir.path() + QLatin1Char('/'));
    policy.InitDay();
    policy.OpenDailyFile();
    TInterface itf;
    TCaptureController capture(prefs, access, itf, list, policy);
    if (journaled && journal.Open()) {
        capture.setJournal(&journal);
        policy.setJournal(&journal);
    }
    EventStamper stamper(SystemClock());
    LocalStamp local;
    capture.setRecordedHook([&](std::span<const CapturedEvent> events) {
        const TDateTime now = local.FromMs(stamper.NowMs());
        for (const CapturedEvent& e : events) {
            const double delay = std::max(0.0, (now - e.DateTime) * 86400000.0);
            ++run.latency[std::min<std::size_t>(std::size_t(delay * 10.0), 10000)];
        }
    });
    QObject::connect(&capture, &TCaptureController::eventsArrived, [&] { ++run.batches; });

    capture.CaptureInitSystem();
    capture.TestSystem();
    QElapsedTimer t;
    t.start();
    if (capture.CaptureStart() != TCaptureController::StartResult::Started) {
        std::fprintf(stderr, "capture did not start\n");
        return run;
    }
    QTimer::singleShot(ms, Qt::PreciseTimer, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    capture.CaptureStop();
    run.seconds = double(t.nsecsElapsed()) / 1e9;
    run.passes = capture.Passes();
    run.rows = list.rowCount();
    const int perPass = __builtin_popcount(mask);
    run.complete = std::uint64_t(run.rows) == std::uint64_t(perPass) * (port.flips() - 1) &&
                   list.CaptureCount() == run.rows;
    // Oldest at the bottom: ON, OFF, ON... for each input, inputs in ascending order.
    run.ordered = true;
    for (int k = 0; k < run.rows && run.ordered; ++k) {
        const QString label = list.text(run.rows - 1 - k, TEventList::ColLabel);
        const bool on = (k / perPass) % 2 == 0;
        run.ordered = label.endsWith(on ? QLatin1String("[ON]") : QLatin1String("[OFF]"));
    }
    return run;
}

double Percentile(const std::vector<std::uint64_t>& bins, double p)
{
    std::uint64_t total = 0;
    for (const std::uint64_t n : bins)
        total += n;
    const auto rank = std::uint64_t(p * double(total));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < bins.size(); ++i) {
        seen += bins[i];
        if (seen > rank)
            return double(i + 1) / 10.0; // upper edge of the bin
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("Capture benchmark (%s build)\n",
#ifdef NDEBUG
                "optimised"
#else
                "debug"
#endif
    );

    const double enginePasses = EnginePassesPerSecond();
    std::printf("1. sampling passes/s, in-memory port, engine alone:   %12.0f\n", enginePasses);

    const Run run = CaptureFor(5000, 0x01);
    const double eventsPerSecond = double(run.rows) / run.seconds;
    const double workerPasses = double(run.passes) / run.seconds;
    std::printf("   sampling passes/s on the worker (1 event per pass):  %12.0f\n", workerPasses);
    std::printf("2. events/s worker -> list, one input changing at every pass, %.1f s:\n",
                run.seconds);
    std::printf("   events %d in %d batches (%.0f per batch); none lost: %s; order kept: %s\n",
                run.rows, run.batches, run.batches ? double(run.rows) / run.batches : 0.0,
                run.complete ? "yes" : "NO", run.ordered ? "yes" : "NO");
    std::printf("   events/s %12.0f   goal %8.0f   ratio %.2fx\n", eventsPerSecond, kEventsGoal,
                eventsPerSecond / kEventsGoal);
    const double p50 = Percentile(run.latency, 0.50);
    const double p99 = Percentile(run.latency, 0.99);
    double worst = 0;
    for (std::size_t i = 0; i < run.latency.size(); ++i)
        if (run.latency[i] != 0)
            worst = double(i + 1) / 10.0;
    std::printf("3. RecordEvent -> row in the list, during that storm:\n");
    std::printf("   p50 %.2f ms   p99 %.2f ms   max %.2f ms   goal p99 < %.0f ms   ratio %.2fx\n",
                p50, p99, worst, kLatencyGoalMs, p99 / kLatencyGoalMs);

    // The recovery journal: the same storm with every event written to it, and the
    // journal's own costs.
    const Run withJournal = CaptureFor(5000, 0x01, true);
    const double journaledPerSecond = double(withJournal.rows) / withJournal.seconds;
    std::printf("4. the same storm with the recovery journal: events/s %12.0f (%.2fx of 2.)\n",
                journaledPerSecond, journaledPerSecond / eventsPerSecond);
    std::printf("   cost per event on the UI thread: %.0f ns; complete: %s, order kept: %s\n",
                1e9 / journaledPerSecond - 1e9 / eventsPerSecond,
                withJournal.complete ? "yes" : "NO", withJournal.ordered ? "yes" : "NO");
    // Per-event saving: each batch's lines appended to the day's file, the journal synced
    // before each append (on the disk of the temporary folder); 50 ms of the
    // storm, then what it left to save.
    const Run perEvent = CaptureFor(qEnvironmentVariableIntValue("EVTRAK_BENCH_PER_EVENT_MS") > 0
                                        ? qEnvironmentVariableIntValue("EVTRAK_BENCH_PER_EVENT_MS")
                                        : 50,
                                    0x01, true, true);
    const double perEventPerSecond = double(perEvent.rows) / perEvent.seconds;
    std::printf("5. the same storm with per-event saving: events/s %12.0f (%.2fx of 2.) in %d "
                "batches (%.0f per batch); complete: %s\n",
                perEventPerSecond, perEventPerSecond / eventsPerSecond, perEvent.batches,
                perEvent.batches ? double(perEvent.rows) / perEvent.batches : 0.0,
                perEvent.complete ? "yes" : "NO");
    {
        QTemporaryDir dir;
        TJournal journal(TJournal::PathIn(dir.path()));
        journal.Open();
        std::vector<JournalEvent> batch(1024);
        for (std::size_t i = 0; i < batch.size(); ++i)
            batch[i] = JournalEvent{1765000000000 + std::int64_t(i), int(i % 13), 40, true, true};
        QElapsedTimer t;
        t.start();
        const int batches = 2000;
        for (int b = 0; b < batches; ++b)
            journal.Append(batch.data(), batch.size());
        const double appendNs = double(t.nsecsElapsed()) / (double(batches) * 1024.0);
        std::vector<double> syncs;
        for (int i = 0; i < 20; ++i) {
            journal.Append(batch.data(), 64);
            t.restart();
            journal.Sync();
            syncs.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(syncs.begin(), syncs.end());
        std::printf("   journal alone: %.0f ns per event in batches of 1024 (write()); "
                    "fdatasync once a second: median %.2f ms, max %.2f ms\n",
                    appendNs, syncs[syncs.size() / 2], syncs.back());
    }

    return run.complete && run.ordered && withJournal.complete && withJournal.ordered &&
                   perEvent.complete
               ? 0
               : 1;
}
