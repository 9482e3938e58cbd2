// Paced sampling: for each choice of the sampling period, on the port file and on the
// simulated port, the capture worker runs for a while; prints its passes per second,
// the period error (measured mean interval against the period) and the worker's CPU
// time as a share of one core (getrusage of the worker thread).
// Goals: at most 5 % of a core at 1 ms, period error under 1 %.
//   bench_sampling [seconds per run, default 2]
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
    double cpuShare = 0;
};

double ThreadCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

Figures Run(PortAccess& port, std::int32_t periodUs, double seconds)
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
    TCaptureThread thread;
    const std::int64_t start = MonotonicNs();
    thread.Start(
        prefs.CaptureThreadPriority, port.backend(),
        [&] {
            quality.BeginPass();
            engine.SamplePass();
            quality.PublishStates(engine.StateWord());
        },
        [&] { cpu.store(ThreadCpuSeconds()); });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    thread.Stop(std::chrono::milliseconds(1000));
    const double wall = double(MonotonicNs() - start) / 1e9;
    Figures f;
    f.passesPerSecond = double(quality.Figures().Passes) / wall;
    f.cpuShare = cpu.load() / wall;
    return f;
}

void Table(const char* title, PortAccess& port, double seconds)
{
    std::printf("\n%s (%s)\n", title, qPrintable(port.Description()));
    std::printf("%-10s %14s %14s %12s\n", "période", "passes/s", "erreur", "CPU (1 cœur)");
    for (const std::int32_t us : kSamplingPeriodChoices) {
        const Figures f = Run(port, us, seconds);
        char period[32];
        char error[32];
        if (us == 0) {
            std::snprintf(period, sizeof period, "maximale");
            std::snprintf(error, sizeof error, "-");
        } else {
            std::snprintf(period, sizeof period, "%d µs", us);
            const double measured = 1e6 / f.passesPerSecond;
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

    std::printf("Échantillonnage cadencé, %.1f s par mesure\n", seconds);
    Table("Fichier de port", *file, seconds);
    Table("Port simulé", *demo, seconds);
    RemovePortDriver(file);
    RemovePortDriver(demo);
    return 0;
}
