// Event list and event file figures on 1,000,000 events: adding at the top, memory per
// row, saving and loading, against a plain write and a plain read-and-split of the same
// file measured in the same run.

#include "bench_support.h"
#include "eventlog/uEventFile.h"
#include "eventlog/uLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace evtrak;
using namespace evtrak::bench;

namespace {

constexpr int kEvents = 1000000;

long ResidentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TUserPrefs prefs = DefaultUserPrefs();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("events.txt"));
    const QString plain = dir.filePath(QStringLiteral("plain.txt"));

    // Adding at the top, one event at a time, as a capture of 13 inputs would.
    const long rssBefore = ResidentBytes();
    TEventList list(prefs);
    const TDateTime start = DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
    QElapsedTimer t;
    double firstTenth = 0;
    t.start();
    for (int i = 0; i < kEvents; ++i) {
        const int input = i % kInputCount;
        const EventRecord rec{prefs.Inputs[std::size_t(input)].Label, input, start + i / 864000.0,
                              (i * 37) % 5000};
        list.AddEvent(rec, true, i % 2 == 0, true);
        if (i == kEvents / 10 - 1)
            firstTenth = Ms(t);
    }
    const double addMs = Ms(t);
    const long rssAfter = ResidentBytes();

    // The last tenth again on a full list, to show the cost per row does not grow.
    QElapsedTimer t2;
    t2.start();
    for (int i = 0; i < kEvents / 10; ++i) {
        const EventRecord rec{prefs.Inputs[0].Label, 0, start, 5};
        list.AddEvent(rec, false, false, true);
    }
    const double tenthOnFullMs = Ms(t2);

    // Each I/O figure is the best of a few runs: the machine may be busy.
    constexpr int kRuns = 3;
    double saveMs = 1e300, plainWriteMs = 1e300, plainWriteSyncMs = 1e300;
    double plainReadMs = 1e300, loadMs = 1e300;
    bool saved = true, ok = true;
    qsizetype lines = 0;
    TEventList loaded(prefs);
    for (int run = 0; run < kRuns; ++run) {
        t.restart();
        saved = SaveEventFile(list, file, false) && saved;
        saveMs = std::min(saveMs, Ms(t));

        QByteArray bytes;
        {
            QFile f(file);
            if (f.open(QIODevice::ReadOnly))
                bytes = f.readAll();
        }
        QFile::remove(plain);
        t.restart();
        {
            QFile f(plain);
            if (f.open(QIODevice::WriteOnly))
                f.write(bytes);
        }
        plainWriteMs = std::min(plainWriteMs, Ms(t));
        QFile::remove(plain);
        t.restart();
        {
            QFile f(plain);
            if (f.open(QIODevice::WriteOnly)) {
                f.write(bytes);
                f.flush();
                ::fsync(f.handle());
            }
        }
        plainWriteSyncMs = std::min(plainWriteSyncMs, Ms(t));
        bytes = QByteArray();

        t.restart();
        {
            QFile f(file);
            if (f.open(QIODevice::ReadOnly))
                lines = f.readAll().split('\n').size();
        }
        plainReadMs = std::min(plainReadMs, Ms(t));

        t.restart();
        ok = LoadEventFile(loaded, file, 2026) && ok;
        loadMs = std::min(loadMs, Ms(t));
    }
    const qint64 size = QFileInfo(file).size();

    const int rows = list.rowCount();
    std::printf("events added at the top : %d (%s)\n", kEvents, saved && ok ? "ok" : "FAILED");
    std::printf("add at top              : %.1f ms total, %.0f ns/row\n", addMs,
                addMs * 1e6 / kEvents);
    std::printf("  first 10%% / 10%% more on the full list: %.1f ms / %.1f ms (ratio %.2f)\n",
                firstTenth, tenthOnFullMs, tenthOnFullMs / firstTenth);
    std::printf("memory per row          : %.1f bytes (model's count), %.1f bytes (resident)\n",
                double(list.MemoryUsage()) / rows, double(rssAfter - rssBefore) / kEvents);
    std::printf("file                    : %lld bytes, %lld lines\n", (long long)size,
                (long long)lines - 1);
    std::printf("save (with fsync)       : %.1f ms\n", saveMs);
    std::printf("plain write / +fsync    : %.1f ms / %.1f ms\n", plainWriteMs, plainWriteSyncMs);
    std::printf("  save ratio            : %.2f x plain write, %.2f x plain write+fsync "
                "(goal <= 3)\n",
                saveMs / plainWriteMs, saveMs / plainWriteSyncMs);
    std::printf("load                    : %.1f ms (%d rows)\n", loadMs, loaded.rowCount());
    std::printf("plain read + split      : %.1f ms\n", plainReadMs);
    std::printf("  load ratio            : %.2f x (goal <= 4)\n", loadMs / plainReadMs);
    return saved && ok ? 0 : 1;
}
