// The simulated parallel port: plausible, reproducible inputs through the readers.

#include "acquisition/ktDemoPort.h"
#include "acquisition/ktPorts.h"

#include <QtTest>

using namespace evtrak;

class TestDemoPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void inputsPulseAndRestInactive();
    void readsFollowTheDirection();
};

// Ten simulated minutes, read through the parallel-port reader every 5 ms.
void TestDemoPort::inputsPulseAndRestInactive()
{
    std::int64_t now = 0;
    PortAccess access(std::make_unique<DemoPort>([&now] { return now; }));
    constexpr std::int64_t kStep = 5, kEnd = 600000;
    std::array<int, 13> changes{}, activeSteps{};
    std::array<std::int64_t, 13> since{}, shortest{};
    shortest.fill(kEnd);
    Levels13 previous{};
    for (now = 0; now < kEnd; now += kStep) {
        Levels13 levels{};
        QVERIFY(ReadLptInputs(access, 0x378, levels));
        for (int i = 0; i < 13; ++i) {
            activeSteps[i] += levels[i];
            if (levels[i] == previous[i])
                continue;
            ++changes[i];
            if (!levels[i])
                shortest[i] = std::min(shortest[i], now - since[i]);
            since[i] = now;
        }
        previous = levels;
    }
    // Several data inputs and the door input change, none faster than ~30 ms, and each
    // is inactive most of the time; the other inputs stay at rest.
    for (int i : {0, 1, 2, 3, 11}) {
        QVERIFY2(changes[i] >= 40, qPrintable(QString::number(i)));
        QVERIFY2(shortest[i] >= 30, qPrintable(QString::number(i)));
        QVERIFY2(activeSteps[i] < kEnd / kStep / 2, qPrintable(QString::number(i)));
    }
    for (int i : {4, 5, 6, 7, 8, 9, 10, 12})
        QCOMPARE(changes[i], 0);
    // The door moves about every ten seconds.
    QVERIFY(changes[11] <= 2 * kEnd / 10000);

    // Reproducible: the same time and seed give the same lines.
    for (std::int64_t t : {0ll, 12345ll, 987654321ll})
        QCOMPARE(DemoPort::DataInputsAt(t, 7), DemoPort::DataInputsAt(t, 7));
}

void TestDemoPort::readsFollowTheDirection()
{
    std::int64_t now = 0;
    DemoPort port([&now] { return now; });
    while (DemoPort::DataInputsAt(now, 0x5EED) == 0)
        now += 1; // wait for an active input
    std::uint32_t v = 0;
    // Output direction: the latch written last.
    QVERIFY(port.write(0x27A, pw32, 0x0B));
    QVERIFY(port.write(0x278, pw8, 0x5A));
    QVERIFY(port.read(0x278, pw8, v));
    QCOMPARE(v, 0x5Au);
    // Input direction: the simulated lines.
    QVERIFY(port.write(0x27A, pw32, 0x2B));
    QVERIFY(port.read(0x278, pw8, v));
    QCOMPARE(v, std::uint32_t(DemoPort::DataInputsAt(now, 0x5EED)));
    // Neither a serial nor the game port.
    QVERIFY(!port.read(0x3FE, pw32, v));
    QVERIFY(!port.write(0x201, pw8, 0));
}

QTEST_GUILESS_MAIN(TestDemoPort)
#include "tst_demoport.moc"
