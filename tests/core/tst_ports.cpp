// Port readers and writers over a recording backend, and the interface selection.

#include "acquisition/ktPorts.h"
#include "acquisition/uCapture.h"
#include "acquisition/uPortSelection.h"
#include "capture_support.h"
#include "ports_support.h"
#include "settings/uUserPrefs.h"

#include <QtTest>
#include <algorithm>

using namespace evtrak;
using namespace evtrak::test;

namespace {

// "1010..." with input 0 first.
QString Text(const Levels13& levels)
{
    QString s;
    for (bool b : levels)
        s += b ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

QString Text(const Levels4& levels)
{
    QString s;
    for (bool b : levels)
        s += b ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

struct Rig
{
    explicit Rig(bool direct = false)
    {
        auto p = std::make_unique<RecordingPort>(direct);
        port = p.get();
        access = std::make_unique<PortAccess>(std::move(p));
    }
    RecordingPort* port = nullptr;
    std::unique_ptr<PortAccess> access;
};

} // namespace

class TestPorts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lptBitMaps_data();
    void lptBitMaps();
    void lptRegisterSequence_data();
    void lptRegisterSequence();
    void refusedAccesses();
    void noAccess();
    void controlValues_data();
    void controlValues();
    void serialAndGamePort();
    void selectionTable_data();
    void selectionTable();
    void setUpInterface_data();
    void setUpInterface();
    void portAccessible();
    void everyAccessIsOneRegister_data();
    void everyAccessIsOneRegister();
};

void TestPorts::lptBitMaps_data()
{
    QTest::addColumn<quint32>("status");
    QTest::addColumn<quint32>("data");
    QTest::addColumn<QString>("levels"); // inputs 0..12

    QTest::newRow("status 0x78: every status input") << 0x78u << 0x00u << "0000000011111";
    QTest::newRow("status 0x80: none") << 0x80u << 0x00u << "0000000000000";
    QTest::newRow("status 0x00: BUSY line high") << 0x00u << 0x00u << "0000000010000";
    QTest::newRow("status bits 0-2 ignored") << 0x87u << 0x00u << "0000000000000";
    QTest::newRow("data 0xA5") << 0x80u << 0xA5u << "1010010100000";
    QTest::newRow("data 0xFF, ACK and ERROR") << 0xC8u << 0xFFu << "1111111101001";
    // Only the low byte of a wide read counts.
    QTest::newRow("upper bytes ignored") << 0xFFFFFF80u << 0xFFFF0001u << "1000000000000";
}

void TestPorts::lptBitMaps()
{
    QFETCH(quint32, status);
    QFETCH(quint32, data);
    QFETCH(QString, levels);
    for (bool direct : {false, true}) {
        Rig rig(direct);
        rig.port->values[0x379] = status;
        rig.port->values[0x378] = data;
        Levels13 got;
        got.fill(true); // the readers must clear what they own
        QVERIFY(ReadLptInputs(*rig.access, 0x378, got));
        QCOMPARE(Text(got), levels);
    }
}

void TestPorts::lptRegisterSequence_data()
{
    QTest::addColumn<bool>("direct");
    QTest::addColumn<int>("selection");
    QTest::newRow("LPT1 through a device") << false << 4;
    QTest::newRow("LPT1 direct") << true << 4;
    QTest::newRow("LPT2 through a device") << false << 5;
    QTest::newRow("LPT2 direct") << true << 5;
}

void TestPorts::lptRegisterSequence()
{
    QFETCH(bool, direct);
    QFETCH(int, selection);
    const std::uint16_t base = LptBaseOf(selection);
    QCOMPARE(base, selection == 4 ? 0x378 : 0x278);

    Rig rig(direct);
    rig.port->values[base + 1] = 0x78;
    rig.port->values[base] = 0x5A;
    Levels13 levels{};
    QVERIFY(ReadLptInputs(*rig.access, base, levels));
    CompareOps(rig.port->ops,
               {Rd(base + 1, pw8, 0x78), Wr(base + 2, pw8, 0x2B), Wr(base + 2, pw8, 0x2B),
                Rd(base, pw8, 0x5A), Wr(base + 2, pw8, 0x0B)});
}

void TestPorts::refusedAccesses()
{
    for (bool direct : {false, true}) {
        // Status read refused: its inputs read false, the data lines are still read.
        {
            Rig rig(direct);
            rig.port->refusedReads = {0x379};
            rig.port->values[0x379] = 0x00; // would give input 8 if it were used
            rig.port->values[0x378] = 0x81;
            Levels13 levels;
            levels.fill(true);
            QVERIFY(!ReadLptInputs(*rig.access, 0x378, levels));
            QCOMPARE(Text(levels), QStringLiteral("1000000100000"));
            QCOMPARE(rig.port->ops.size(), 5u);
        }
        // Data read refused: inputs 0..7 false and the lines are left as inputs (no
        // 0x0B written after the read).
        {
            Rig rig(direct);
            rig.port->refusedReads = {0x378};
            rig.port->values[0x378] = 0xFF;
            rig.port->values[0x379] = 0x78;
            Levels13 levels;
            levels.fill(true);
            QVERIFY(!ReadLptInputs(*rig.access, 0x378, levels));
            QCOMPARE(Text(levels), QStringLiteral("0000000011111"));
            QCOMPARE(rig.port->ops.back().write, false);
            QCOMPARE(rig.port->ops.size(), 4u);
        }
        // Control write refused: the data reader stops before reading.
        {
            Rig rig(direct);
            rig.port->refusedWrites = {0x37A};
            rig.port->values[0x378] = 0xFF;
            Levels13 levels;
            levels.fill(true);
            QVERIFY(!ReadLptData(*rig.access, 0x378, levels));
            CompareOps(rig.port->ops, {Wr(0x37A, pw8, 0x2B)});
        }
    }
}

void TestPorts::noAccess()
{
    PortAccess none;
    QVERIFY(!none.DriverAvailable());
    QVERIFY(!none.DirectIoAllowed());
    Levels13 levels;
    levels.fill(true);
    // Every read gives 0: the inverted BUSY line reads as an active input 8.
    QVERIFY(ReadLptInputs(none, 0x378, levels));
    QCOMPARE(Text(levels), QStringLiteral("0000000010000"));
    QCOMPARE(none.PortRead(0x379, pw32), 0u);
    none.PortWrite(0x378, pw8, 0xFF); // skipped, no crash
    QVERIFY(WriteLptData(none, 0x378, 0xFF));
    Levels4 game{};
    QVERIFY(!ReadGamePortButtons(none, 0x201, game));
    TInterface itf;
    QVERIFY(!IsPortAccessible(none, 4, itf));
}

void TestPorts::controlValues_data()
{
    QTest::addColumn<bool>("input");
    QTest::addColumn<bool>("strobe");
    QTest::addColumn<bool>("autofeed");
    QTest::addColumn<bool>("init");
    QTest::addColumn<bool>("selectIn");
    QTest::addColumn<quint32>("value");
    QTest::newRow("input, all low") << true << false << false << false << false << 0x2Bu;
    QTest::newRow("output, all low") << false << false << false << false << false << 0x0Bu;
    QTest::newRow("output, all high") << false << true << true << true << true << 0x04u;
    QTest::newRow("strobe high only") << false << true << false << false << false << 0x0Au;
    QTest::newRow("init high only") << false << false << false << true << false << 0x0Fu;
}

void TestPorts::controlValues()
{
    QFETCH(bool, input);
    QFETCH(bool, strobe);
    QFETCH(bool, autofeed);
    QFETCH(bool, init);
    QFETCH(bool, selectIn);
    QFETCH(quint32, value);
    Rig rig;
    QVERIFY(WriteLptControl(*rig.access, 0x278, input, strobe, autofeed, init, selectIn));
    CompareOps(rig.port->ops, {Wr(0x27A, pw8, value)});
}

void TestPorts::serialAndGamePort()
{
    // Modem status: CTS, DSR, RI, DCD from bits 4..7 at base + 6.
    {
        Rig rig;
        rig.port->values[0x3FE] = 0x30;
        Levels4 levels{};
        QVERIFY(ReadSerialModemLines(*rig.access, 0x3F8, levels));
        QCOMPARE(Text(levels), QStringLiteral("1100"));
        CompareOps(rig.port->ops, {Rd(0x3FE, pw8, 0x30)});
    }
    // A refused modem read leaves the levels as they were.
    {
        Rig rig(true);
        rig.port->refusedReads = {0x2FE};
        rig.port->values[0x2FE] = 0xF0;
        Levels4 levels = {true, false, true, false};
        QVERIFY(!ReadSerialModemLines(*rig.access, 0x2F8, levels));
        QCOMPARE(Text(levels), QStringLiteral("1010"));
    }
    // Game port: one direct 8-bit read; a pressed button reads 0.
    {
        Rig rig(true);
        rig.port->values[0x201] = 0xE0;
        Levels4 levels{};
        QVERIFY(ReadGamePortButtons(*rig.access, 0x201, levels));
        QCOMPARE(Text(levels), QStringLiteral("1000"));
        CompareOps(rig.port->ops, {Rd(0x201, pw8, 0xE0)});
    }
    // Never through a driver-like device: refused, levels untouched, nothing issued.
    {
        Rig rig(false);
        Levels4 levels = {false, true, false, true};
        QVERIFY(!ReadGamePortButtons(*rig.access, 0x201, levels));
        QCOMPARE(Text(levels), QStringLiteral("0101"));
        QVERIFY(rig.port->ops.empty());
    }
}

void TestPorts::selectionTable_data()
{
    QTest::addColumn<int>("selection");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("lpt");
    QTest::addColumn<int>("serial");
    QTest::addColumn<int>("game");
    QTest::newRow("COM1") << 0 << "COM1" << 0xFFFF << 0x3F8 << 0xFFFF;
    QTest::newRow("COM2") << 1 << "COM2" << 0xFFFF << 0x2F8 << 0xFFFF;
    QTest::newRow("COM3") << 2 << "COM3" << 0xFFFF << 0x3E8 << 0xFFFF;
    QTest::newRow("COM4") << 3 << "COM4" << 0xFFFF << 0x2E8 << 0xFFFF;
    QTest::newRow("LPT1") << 4 << "LPT1" << 0x378 << 0xFFFF << 0xFFFF;
    QTest::newRow("LPT2") << 5 << "LPT2" << 0x278 << 0xFFFF << 0xFFFF;
    QTest::newRow("JOY1") << 6 << "JOY1" << 0xFFFF << 0xFFFF << 0x201;
    QTest::newRow("7") << 7 << "" << 0xFFFF << 0xFFFF << 0xFFFF;
    QTest::newRow("9") << 9 << "" << 0xFFFF << 0xFFFF << 0xFFFF;
    QTest::newRow("-1") << -1 << "" << 0xFFFF << 0xFFFF << 0xFFFF;
}

void TestPorts::selectionTable()
{
    QFETCH(int, selection);
    QFETCH(QString, name);
    QFETCH(int, lpt);
    QFETCH(int, serial);
    QFETCH(int, game);
    std::uint16_t l = 1, s = 1, g = 1;
    GetPortBaseAddresses(selection, l, s, g);
    QCOMPARE(int(l), lpt);
    QCOMPARE(int(s), serial);
    QCOMPARE(int(g), game);
    QCOMPARE(GetPortName(selection), name);
}

void TestPorts::setUpInterface_data()
{
    QTest::addColumn<int>("selection");
    QTest::addColumn<int>("lptBase");
    QTest::newRow("LPT1") << 4 << 0x378;
    QTest::newRow("LPT2") << 5 << 0x278;
    QTest::newRow("JOY1") << 6 << 0xFFFF;
    QTest::newRow("9") << 9 << 0xFFFF;
}

void TestPorts::setUpInterface()
{
    QFETCH(int, selection);
    QFETCH(int, lptBase);
    TInterface itf;
    QCOMPARE(itf.LptBase(), 0);
    QCOMPARE(itf.SerialBase(), 0);
    QCOMPARE(itf.GameAddress(), 0);
    Rig rig(true);
    SetUpInterface(*rig.access, selection, itf);
    QCOMPARE(int(itf.LptBase()), lptBase);
    // A parallel port gets its data lines driven to 0 and nothing else.
    if (lptBase != 0xFFFF)
        CompareOps(rig.port->ops, {Wr(std::uint16_t(lptBase), pw8, 0)});
    else
        QVERIFY(rig.port->ops.empty());
}

void TestPorts::portAccessible()
{
    TInterface itf;
    Rig rig;
    for (int selection : {4, 5}) {
        QVERIFY(IsPortAccessible(*rig.access, selection, itf));
    }
    // Never for the game port or an unknown selection, whatever the hardware.
    for (int selection : {6, 7, 9, -1}) {
        QVERIFY(!IsPortAccessible(*rig.access, selection, itf));
    }
    // A serial port is accessible only once opened.
    QVERIFY(!IsPortAccessible(*rig.access, 0, itf));
    QVERIFY(!OpenSerialPort(7, itf));

    // A backend that holds only LPT1 must not report LPT2 usable.
    Rig lpt1Only;
    lpt1Only.port->servedOnly = {0x378, 0x379, 0x37A};
    QVERIFY(IsPortAccessible(*lpt1Only.access, 4, itf));
    QVERIFY(!IsPortAccessible(*lpt1Only.access, 5, itf));
}

void TestPorts::everyAccessIsOneRegister_data()
{
    QTest::addColumn<int>("selection");
    QTest::addColumn<bool>("direct");
    for (int selection = 0; selection <= 6; ++selection)
        for (bool direct : {false, true})
            QTest::addRow("%s %s", qPrintable(GetPortName(selection)), direct ? "direct" : "device")
                << selection << direct;
}

// Set-up, test, passes and a reset touch only the registers of the selected
// interface, one 8-bit register at a time: a wider access would also write the
// registers next to it (the EPP registers above a parallel port's control register).
void TestPorts::everyAccessIsOneRegister()
{
    QFETCH(int, selection);
    QFETCH(bool, direct);
    struct Register
    {
        std::uint16_t port;
        bool read, write;
    };
    std::vector<Register> map;
    std::uint16_t lpt = 0, serial = 0, game = 0;
    GetPortBaseAddresses(selection, lpt, serial, game);
    if (lpt != kNoPortBase)
        map = {{lpt, true, true},
               {std::uint16_t(lpt + 1), true, false},
               {std::uint16_t(lpt + 2), false, true}};
    if (serial != kNoPortBase)
        map = {{std::uint16_t(serial + 6), true, false}}; // modem status
    if (game != kNoPortBase)
        map = {{game, true, false}};

    Rig rig(direct);
    TInterface itf;
    FakeTicks ticks;
    RecordingSink sink;
    TCaptureEngine engine(ticks, sink);
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.PortBaseAddressIndex = selection;
    engine.ResetChannels(prefs);
    SetUpInterface(*rig.access, selection, itf);
    IsPortAccessible(*rig.access, selection, itf);
    engine.LoadCaptureSettings(prefs);
    engine.SetBases({itf.LptBase(), itf.SerialBase(), itf.GameAddress()});
    engine.SetPort(rig.access.get());
    for (int pass = 0; pass < 3; ++pass)
        engine.SamplePass();
    engine.ResetChannels(prefs);
    SetUpInterface(*rig.access, selection, itf);

    for (const PortOp& op : rig.port->ops) {
        QCOMPARE(op.width, int(pw8));
        const auto r = std::find_if(map.begin(), map.end(),
                                    [&](const Register& x) { return x.port == op.port; });
        if (r == map.end() || !(op.write ? r->write : r->read))
            QFAIL(QTest::toString(op));
    }
    // Something was read on every interface the pass reads (not the game port through a
    // device, which the program never does).
    if (lpt != kNoPortBase || serial != kNoPortBase || direct)
        QVERIFY(!rig.port->ops.empty());
}

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
