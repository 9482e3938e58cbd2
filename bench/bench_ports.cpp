// Sampling passes per second: on an in-memory port, on the simulated port, and
// through the port-device backend on a 64 KiB file against a bare loop of the same
// five pread/pwrite calls.

#include "acquisition/ktDemoPort.h"
#include "acquisition/ktPortDevice.h"
#include "acquisition/ktPorts.h"
#include "capture_support.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

using namespace evtrak;

namespace {

// Best passes per second over a few rounds of about 300 ms each.
double PassesPerSecond(const std::function<void()>& pass)
{
    using Clock = std::chrono::steady_clock;
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        long n = 0;
        const auto start = Clock::now();
        auto now = start;
        do {
            for (int i = 0; i < 256; ++i)
                pass();
            n += 256;
            now = Clock::now();
        } while (now - start < std::chrono::milliseconds(300));
        best = std::max(best, n / std::chrono::duration<double>(now - start).count());
    }
    return best;
}

volatile bool g_sink;

} // namespace

int main()
{
    Levels13 levels{};

    PortAccess memory(std::make_unique<test::MemoryPort>());
    const double inMemory = PassesPerSecond([&] {
        ReadLptInputs(memory, 0x378, levels);
        g_sink = levels[3];
    });
    std::printf("ReadLptInputs, in-memory port:       %12.0f passes/s\n", inMemory);

    PortAccess demo(std::make_unique<DemoPort>());
    const double demoRate = PassesPerSecond([&] {
        ReadLptInputs(demo, 0x378, levels);
        g_sink = levels[3];
    });
    std::printf("ReadLptInputs, simulated port:       %12.0f passes/s\n", demoRate);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ports.bin"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(65536, '\0')) != 65536) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
            return 1;
        }
    }
    auto device = std::make_unique<PortDeviceFile>(path);
    if (!device->open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    PortAccess file(std::move(device));
    const double throughBackend = PassesPerSecond([&] {
        ReadLptInputs(file, 0x378, levels);
        g_sink = levels[3];
    });

    // The same five accesses, written by hand.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
    unsigned char b[4] = {0, 0, 0, 0};
    const unsigned char in[4] = {0x2B, 0, 0, 0}, out[4] = {0x0B, 0, 0, 0};
    const double bare = PassesPerSecond([&] {
        bool ok = ::pread(fd, b, 4, 0x379) == 4;
        ok = ::pwrite(fd, in, 4, 0x37A) == 4 && ok;
        ok = ::pwrite(fd, in, 4, 0x37A) == 4 && ok;
        ok = ::pread(fd, b, 1, 0x378) == 1 && ok;
        ok = ::pwrite(fd, out, 4, 0x37A) == 4 && ok;
        g_sink = ok && (b[0] & 1);
    });
    ::close(fd);

    std::printf("ReadLptInputs, port-device file:     %12.0f passes/s\n", throughBackend);
    std::printf("bare pread/pwrite loop, same file:   %12.0f passes/s\n", bare);
    std::printf("time per pass, backend / bare loop:  %12.3f x (goal <= 1.15)\n",
                bare / throughBackend);
    return 0;
}
