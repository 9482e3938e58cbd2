// Settings files: the read and write of a full settings file (start-up and close), and
// loading files far larger than any real one (a damaged or foreign file), with the
// memory such a file costs (peak resident memory over the load and save, against its size).

#include "settings/ktIniFile.h"
#include "settings/uUserPrefs.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>

using namespace evtrak;

namespace {

double MsPer(int runs, qint64 ns)
{
    return static_cast<double>(ns) / 1e6 / runs;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// Peak resident memory since the last ResetPeak(), in bytes (Linux).
qint64 PeakResident()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
}
qint64 Resident()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
}
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A settings file of two million sections (about 32 MiB) read as at start-up, edited and
// saved as at close: the memory it costs over what the program held before.
void HugeFileMemory(const QString& path)
{
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return;
        QByteArray piece;
        for (int i = 0; i < 2000000; ++i) {
            piece += "[S" + QByteArray::number(i) + "]\r\nk=1\r\n";
            if (piece.size() > (1 << 20)) {
                f.write(piece);
                piece.clear();
            }
        }
        f.write(piece);
    }
    const qint64 size = QFile(path).size();
    ResetPeak();
    const qint64 before = Resident();
    QElapsedTimer t;
    t.start();
    TUserPrefs p;
    ReadUserPrefs(p, path, nullptr);
    const double readMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    t.restart();
    WriteUserPrefs(p, path, nullptr);
    const double writeMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    const qint64 cost = PeakResident() - before;
    std::printf("%.1f MiB settings file of 2 M sections: read %.0f ms, write %.0f ms, peak "
                "memory %.1f MiB over the start (%.2f x the file's size)\n",
                static_cast<double>(size) / (1 << 20), readMs, writeMs,
                static_cast<double>(cost) / (1 << 20),
                static_cast<double>(cost) / static_cast<double>(size));
    QFile::remove(path);
}

} // namespace

int main()
{
    QTemporaryDir dir;
    // First, while the process holds little: the peak is this file's alone.
    HugeFileMemory(dir.filePath(QStringLiteral("huge.ini")));
    const QString prefsFile = dir.filePath(QStringLiteral("evtrak.ini"));
    const TUserPrefs prefs = DefaultUserPrefs();

    constexpr int kRuns = 200;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kRuns; ++i)
        WriteUserPrefs(prefs, prefsFile, nullptr);
    const double writeMs = MsPer(kRuns, t.nsecsElapsed());
    t.restart();
    for (int i = 0; i < kRuns; ++i) {
        TUserPrefs p;
        ReadUserPrefs(p, prefsFile, nullptr);
    }
    const double readMs = MsPer(kRuns, t.nsecsElapsed());
    std::printf("settings file (%lld bytes): WriteUserPrefs %.3f ms, ReadUserPrefs %.3f ms\n",
                static_cast<long long>(QFile(prefsFile).size()), writeMs, readMs);

    // Load time per line should not grow with the file: compare 10k and 100k lines.
    double perLine[2] = {0, 0};
    const int sizes[2] = {10000, 100000};
    for (int s = 0; s < 2; ++s) {
        QByteArray big;
        for (int i = 0; i < sizes[s]; ++i)
            big += "[S" + QByteArray::number(i % 50) + "]\r\nKey" + QByteArray::number(i) +
                   "=value\r\n";
        const QString path = dir.filePath(QStringLiteral("big.ini"));
        WriteFile(path, big);
        t.restart();
        TIniFile ini(path);
        ini.WriteString(QStringLiteral("S7"), QStringLiteral("New"), QStringLiteral("v"));
        ini.Save();
        perLine[s] = static_cast<double>(t.nsecsElapsed()) / (2.0 * sizes[s]);
        std::printf("%d-line file: load + write + save %.1f ms (%.0f ns per line)\n", 2 * sizes[s],
                    static_cast<double>(t.nsecsElapsed()) / 1e6, perLine[s]);
    }
    std::printf("per-line ratio 200k/20k lines: %.2f (1.0 = linear)\n", perLine[1] / perLine[0]);

    const QString hugeLine = dir.filePath(QStringLiteral("line.ini"));
    WriteFile(hugeLine, "[S]\r\nk=" + QByteArray(32 << 20, 'x'));
    t.restart();
    const TIniFile ini(hugeLine);
    const qsizetype n = ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), QString()).size();
    std::printf("32 MB single line: load + read %.1f ms (value cut to %lld characters)\n",
                static_cast<double>(t.nsecsElapsed()) / 1e6, static_cast<long long>(n));
    return 0;
}
