// The Stations window's reading of a collector's folders: ten stations, one of them
// with a day file of 2,000,000 events. Time and peak memory of the first scan (every
// file counted whole, in the window's worker thread), of a scan after 1,000 more lines
// (counted from where the previous one stopped), and of reading the bytes alone.

#include "bench_support.h"
#include "mqtt/uStationArchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace evtrak;
using namespace evtrak::bench;

namespace {

constexpr int kBigEvents = 2000000;

void AppendLines(const QString& file, int count, int first)
{
    QFile f(file);
    if (!f.open(QIODevice::Append))
        return;
    QByteArray chunk;
    for (int i = 0; i < count; ++i) {
        chunk += "Entr\xe9"
                 "e 3 [ON];3;08/12/2026 ";
        const int s = (first + i) % 86400;
        chunk += QByteArray::number(10 + s / 3600 % 14).rightJustified(2, '0') + ':' +
                 QByteArray::number(s / 60 % 60).rightJustified(2, '0') + ':' +
                 QByteArray::number(s % 60).rightJustified(2, '0') + ";120\r\n";
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                          ? QStringLiteral("/dev/shm/bench_stations-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/bench_stations-XXXXXX"));
    const QString stations = dir.path() + QStringLiteral("/stations/");
    const QDate today = QDate::currentDate();
    for (int s = 0; s < 10; ++s) {
        const QString name = QStringLiteral("poste-%1").arg(s);
        QDir().mkpath(stations + name);
        QFile state(stations + name + QStringLiteral("/collect.state"));
        if (state.open(QIODevice::WriteOnly))
            state.write("contiguous=100\nlast_seq=100\nfilled=3\nlost=5-9\n");
        AppendLines(StationDayFile(stations, name, today), s == 0 ? kBigEvents : 5000, 0);
    }
    const QString big = StationDayFile(stations, QStringLiteral("poste-0"), today);
    const qint64 bytes = QFileInfo(big).size();
    const long before = PeakMiB();

    QElapsedTimer t;
    t.start();
    QFile f(big);
    if (f.open(QIODevice::ReadOnly))
        while (!f.read(1 << 20).isEmpty()) {
        }
    const double readMs = Ms(t);

    t.restart();
    std::vector<TArchiveStation> scan = ScanArchive(stations, today, {});
    const double firstMs = Ms(t);
    const std::uint64_t counted = scan.front().Today.Count;

    AppendLines(big, 1000, kBigEvents);
    t.restart();
    scan = ScanArchive(stations, today, std::move(scan));
    const double nextMs = Ms(t);

    std::printf("day file of %d events (%.0f MB), 9 others of 5,000\n", kBigEvents, bytes / 1e6);
    std::printf("read the bytes alone:          %8.1f ms\n", readMs);
    std::printf("first scan (all counted):      %8.1f ms, %llu events in the big file\n", firstMs,
                static_cast<unsigned long long>(counted));
    std::printf("next scan after 1,000 more:    %8.2f ms, %llu events\n", nextMs,
                static_cast<unsigned long long>(scan.front().Today.Count));
    std::printf("peak resident: %ld MiB before the scans, %ld MiB after\n", before, PeakMiB());
    return counted == std::uint64_t(kBigEvents) &&
                   scan.front().Today.Count == std::uint64_t(kBigEvents + 1000)
               ? 0
               : 1;
}
