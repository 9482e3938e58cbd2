// Paced sampling: for each choice of the sampling period, on the port file and on the
// simulated port, the capture worker runs for a while; prints its passes per second,
// the period error (measured mean interval against the period) and the worker's CPU
// time as a share of one core (getrusage of the worker thread).
// Goals: at most 5 % of a core at 1 ms, period error under 1 %.
//   bench_sampling [seconds per run, default 2] [priority level 0..6, default 3]
// On a loaded machine the worker waits for a core and misses deadlines; level 6
// (SCHED_FIFO, granted to root) shows the pacing itself. Passes back to back are not run
// at level 6: they would hold a core at real-time priority.
#include "acquisition/uCapture.h"
#include "acquisition/uCaptureQuality.h"
#include "acquisition/uCaptureThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

using namespace evtrak;

namespace {

class CountingSink : public EventSink
{
public:
    void RecordEvent(bool, bool, std::int32_t, std::int32_t) override { ++count; }
    std::uint64_t count = 0;
};

struct Figures
{
    double passesPerSecond = 0;
    double meanIntervalUs = 0; // first pass to last pass over the intervals between
    double cpuShare = 0;
};

double ThreadCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

Figures Run(PortAccess& port, std::int32_t periodUs, double seconds, int priority)
{
    CountingSink sink;
    TCaptureEngine engine(MonotonicTicks(), sink);
    TUserPrefs prefs = DefaultUserPrefs();
    engine.ResetChannels(prefs);
    engine.LoadCaptureSettings(prefs);
    engine.SetBases({0x378, 0x3F8, 0x201});
    engine.SetPort(&port);
    TCaptureQuality quality;
    quality.Configure(prefs.CaptureStallThreshold, periodUs);

    std::atomic<double> cpu{0};
    std::int64_t firstNs = 0; // worker only, read after the join
    std::int64_t lastNs = 0;
    TCaptureThread thread;
    const std::int64_t start = MonotonicNs();
    thread.Start(
        priority, port.backend(),
        [&] {
            quality.BeginPass();
            lastNs = MonotonicNs();
            if (firstNs == 0)
                firstNs = lastNs;
            engine.SamplePass();
            quality.PublishStates(engine.StateWord());
        },
        [&] { cpu.store(ThreadCpuSeconds()); });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    thread.Stop(std::chrono::milliseconds(1000));
    const double wall = double(MonotonicNs() - start) / 1e9;
    Figures f;
    const std::uint64_t passes = quality.Figures().Passes;
    f.passesPerSecond = double(passes) / wall;
    f.meanIntervalUs = passes > 1 ? double(lastNs - firstNs) / 1e3 / double(passes - 1) : 0;
    f.cpuShare = cpu.load() / wall;
    return f;
}

void Table(const char* title, PortAccess& port, double seconds, int priority)
{
    std::printf("\n%s (%s)\n", title, qPrintable(port.Description()));
    std::printf("%-10s %14s %14s %12s\n", "période", "passes/s", "erreur", "CPU (1 cœur)");
    for (const std::int32_t us : kSamplingPeriodChoices) {
        if (us == 0 && priority == 6)
            continue;
        const Figures f = Run(port, us, seconds, priority);
        char period[32];
        char error[32];
        if (us == 0) {
            std::snprintf(period, sizeof period, "maximale");
            std::snprintf(error, sizeof error, "-");
        } else {
            std::snprintf(period, sizeof period, "%d µs", us);
            const double measured = f.meanIntervalUs;
            std::snprintf(error, sizeof error, "%+.2f %%", 100.0 * (measured - us) / us);
        }
        std::printf("%-10s %14.0f %14s %11.1f %%\n", period, f.passesPerSecond, error,
                    100.0 * f.cpuShare);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(0.2, std::atof(argv[1])) : 2.0;
    const int priority = argc > 2 ? std::atoi(argv[2]) : 3;

    QTemporaryDir dir;
    const QString portFile = dir.filePath(QStringLiteral("port.bin"));
    {
        QFile f(portFile);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray space(65536, '\0');
        space[0x379] = char(0x80);
        f.write(space);
    }
    PortStartOptions fileOptions;
    fileOptions.portDevice = portFile;
    std::unique_ptr<PortAccess> file = StartPortDriver(fileOptions);
    PortStartOptions demoOptions;
    demoOptions.demo = true;
    std::unique_ptr<PortAccess> demo = StartPortDriver(demoOptions);

    std::printf("Échantillonnage cadencé, %.1f s par mesure, priorité %d\n", seconds, priority);
    Table("Fichier de port", *file, seconds, priority);
    Table("Port simulé", *demo, seconds, priority);
    RemovePortDriver(file);
    RemovePortDriver(demo);
    return 0;
}
