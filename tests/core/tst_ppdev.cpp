// The ppdev backend through a fake system-call seam, and the choice of backend at
// start.

#include "acquisition/ktPortStart.h"
#include "acquisition/ktPorts.h"
#include "acquisition/ktPpdev.h"
#include "acquisition/uPortSelection.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <sys/ioctl.h>

#include <linux/ppdev.h> // uses the macros of sys/ioctl.h
#include <map>

using namespace evtrak;

namespace {

// Records requests as "NAME" or "NAME=value" and answers from a script.
class FakeIo : public PpdevIo
{
public:
    int openResult = 3;                    // fd, or -errno
    std::map<unsigned long, int> failures; // request -> -errno
    std::map<unsigned long, unsigned char> reads;
    std::map<QString, QByteArray> files; // procfs contents
    std::map<QString, QStringList> dirs;
    QStringList calls;
    int openFds = 0;

    int open(const QString& path) override
    {
        calls << QStringLiteral("open ") + path;
        if (openResult >= 0)
            ++openFds;
        return openResult;
    }
    int ioctl(int, unsigned long request, void* arg) override
    {
        QString text = Name(request);
        if (request == PPDATADIR)
            text += QStringLiteral("=%1").arg(*static_cast<int*>(arg));
        else if (request == PPWDATA || request == PPWCONTROL)
            text += QStringLiteral("=0x%1").arg(*static_cast<unsigned char*>(arg), 2, 16,
                                                QLatin1Char('0'));
        calls << text;
        if (auto f = failures.find(request); f != failures.end())
            return f->second;
        if (request == PPRDATA || request == PPRSTATUS || request == PPRCONTROL)
            *static_cast<unsigned char*>(arg) = reads[request];
        return 0;
    }
    int close(int) override
    {
        calls << QStringLiteral("close");
        --openFds;
        return 0;
    }
    std::optional<QByteArray> readText(const QString& path) override
    {
        if (!tree.isEmpty() && path.startsWith(tree))
            return real->readText(path);
        if (auto it = files.find(path); it != files.end())
            return it->second;
        return std::nullopt;
    }
    QStringList listDir(const QString& path) override
    {
        if (!tree.isEmpty() && path.startsWith(tree))
            return real->listDir(path);
        auto it = dirs.find(path);
        return it == dirs.end() ? QStringList() : it->second;
    }
    // Below this folder, procfs is read from real files (a fake tree on disk).
    QString tree;
    std::shared_ptr<PpdevIo> real = SystemPpdevIo();

    static QString Name(unsigned long r)
    {
        switch (r) {
        case PPEXCL:
            return QStringLiteral("EXCL");
        case PPCLAIM:
            return QStringLiteral("CLAIM");
        case PPRELEASE:
            return QStringLiteral("RELEASE");
        case PPRDATA:
            return QStringLiteral("RDATA");
        case PPRSTATUS:
            return QStringLiteral("RSTATUS");
        case PPRCONTROL:
            return QStringLiteral("RCONTROL");
        case PPWDATA:
            return QStringLiteral("WDATA");
        case PPWCONTROL:
            return QStringLiteral("WCONTROL");
        case PPDATADIR:
            return QStringLiteral("DATADIR");
        default:
            return QStringLiteral("?");
        }
    }

    // A machine with parport0 at 0x378, lp registered on it.
    void oneParportWithLp()
    {
        dirs[QStringLiteral("/proc/sys/dev/parport")] = {QStringLiteral("default"),
                                                         QStringLiteral("parport0")};
        files[QStringLiteral("/proc/sys/dev/parport/parport0/base-addr")] = "888\t1912\n";
        dirs[QStringLiteral("/proc/sys/dev/parport/parport0/devices")] = {QStringLiteral("active"),
                                                                          QStringLiteral("lp")};
    }
};

// A parport tree on disk like the kernel's: the two ports numbered the other way
// round (parport0 at 0x278), with the given device using LPT1 and registered on it.
struct ProcTree
{
    explicit ProcTree(const QByteArray& active, const QStringList& registered = {})
    {
        Write(QStringLiteral("parport0/base-addr"), "632\t1656\n");
        Write(QStringLiteral("parport0/devices/active"), "none\n");
        Write(QStringLiteral("parport1/base-addr"), "888\t1912\n");
        Write(QStringLiteral("parport1/devices/active"), active + '\n');
        for (const QString& name : registered)
            Write(QStringLiteral("parport1/devices/%1/timeslice").arg(name), "200\n");
        Write(QStringLiteral("default/timeslice"), "200\n");
    }
    void Write(const QString& relative, const QByteArray& text)
    {
        const QString path = root() + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QString root() const { return dir.path() + QStringLiteral("/parport"); }
    QTemporaryDir dir;
};

struct Claimed
{
    Claimed()
        : io(std::make_shared<FakeIo>()),
          port(std::make_unique<PpdevPort>(io, QStringLiteral("/dev/parport0"), 0x378))
    {
        ok = port->open();
        io->calls.clear();
    }
    std::shared_ptr<FakeIo> io;
    std::unique_ptr<PpdevPort> port;
    bool ok = false;
};

} // namespace

class TestPpdev : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void claimIsExclusive();
    void claimFailures_data();
    void claimFailures();
    void readerTranslation();
    void directionOnlyOnChange();
    void refusedOffsets();
    void failedRequestsAreReported();
    void releaseAtEnd();
    void deviceLookup();
    void startChoosesBackend();
    void refusedClaimRefusesThePort_data();
    void refusedClaimRefusesThePort();
    void noKernelDeviceForTheBase();
};

void TestPpdev::claimIsExclusive()
{
    auto io = std::make_shared<FakeIo>();
    PpdevPort port(io, QStringLiteral("/dev/parport0"), 0x378);
    QVERIFY(port.open());
    QCOMPARE(io->calls, QStringList({"open /dev/parport0", "EXCL", "CLAIM"}));
    QCOMPARE(port.name(), QStringLiteral("ppdev /dev/parport0"));
}

void TestPpdev::claimFailures_data()
{
    QTest::addColumn<int>("openErr");
    QTest::addColumn<int>("claimErr");
    QTest::addColumn<bool>("procListsLp");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not in lp group") << EACCES << 0 << true << "groupe lp";
    QTest::newRow("no device node") << ENOENT << 0 << false << "introuvable";
    QTest::newRow("lp holds the port") << 0 << ENXIO << true << "autre pilote (lp)";
    QTest::newRow("busy") << 0 << EBUSY << true << "autre pilote (lp)";
    QTest::newRow("no port behind the node") << 0 << ENXIO << false << "aucun port parallèle";
    QTest::newRow("lockdown") << EPERM << 0 << true << "Secure Boot";
}

void TestPpdev::claimFailures()
{
    QFETCH(int, openErr);
    QFETCH(int, claimErr);
    QFETCH(bool, procListsLp);
    QFETCH(QString, reason);
    auto io = std::make_shared<FakeIo>();
    if (procListsLp)
        io->oneParportWithLp();
    else
        io->dirs[QStringLiteral("/proc/sys/dev/parport")] = {QStringLiteral("parport1")};
    if (openErr)
        io->openResult = -openErr;
    if (claimErr)
        io->failures[PPCLAIM] = -claimErr;
    PpdevPort port(io, QStringLiteral("/dev/parport0"), 0x378);
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
    QCOMPARE(port.error(), openErr ? openErr : claimErr);
    QVERIFY2(port.reason().contains(reason), qPrintable(port.reason()));
    QCOMPARE(io->openFds, 0); // a failed claim doesn't leak the descriptor
    std::uint32_t v = 0;
    QVERIFY(!port.read(0x379, pw8, v));
}

void TestPpdev::readerTranslation()
{
    Claimed c;
    QVERIFY(c.ok);
    c.io->reads[PPRSTATUS] = 0x78;
    c.io->reads[PPRDATA] = 0xA5;
    PortAccess access(std::move(c.port));
    QVERIFY(access.DriverAvailable());
    QVERIFY(!access.DirectIoAllowed());
    Levels13 levels{};
    QVERIFY(ReadLptInputs(access, 0x378, levels));
    const Levels13 want = {true, false, true, false, false, true, false,
                           true, true,  true, true,  true,  true};
    QCOMPARE(levels, want);
    // Bit 5 never reaches the control request: it goes through the direction request.
    QCOMPARE(c.io->calls, QStringList({"RSTATUS", "DATADIR=1", "WCONTROL=0x0b", "WCONTROL=0x0b",
                                       "RDATA", "DATADIR=0", "WCONTROL=0x0b"}));
}

void TestPpdev::directionOnlyOnChange()
{
    Claimed c;
    std::uint32_t v = 0;
    QVERIFY(c.port->write(0x37A, pw32, 0x2B));
    QVERIFY(c.port->write(0x37A, pw32, 0x2B));
    QVERIFY(c.port->write(0x37A, pw32, 0x2F));
    QVERIFY(c.port->read(0x37A, pw32, v));
    QVERIFY(c.port->write(0x37A, pw32, 0x0B));
    QVERIFY(c.port->write(0x37A, pw32, 0x0B));
    QCOMPARE(c.io->calls,
             QStringList({"DATADIR=1", "WCONTROL=0x0b", "WCONTROL=0x0b", "WCONTROL=0x0f",
                          "RCONTROL", "DATADIR=0", "WCONTROL=0x0b", "WCONTROL=0x0b"}));
}

void TestPpdev::refusedOffsets()
{
    Claimed c;
    std::uint32_t v = 0;
    for (std::uint16_t port : {0x377, 0x37B, 0x37E, 0x278, 0x201}) {
        QVERIFY(!c.port->read(port, pw8, v));
        QVERIFY(!c.port->write(port, pw8, 0));
    }
    QVERIFY(!c.port->write(0x379, pw8, 0)); // the status register is read-only
    QVERIFY(c.io->calls.isEmpty());
    QVERIFY(c.port->serves(0x37A));
    QVERIFY(!c.port->serves(0x37B));
    // Wide accesses touch only the addressed register.
    QVERIFY(c.port->write(0x378, pw32, 0x00000000));
    QCOMPARE(c.io->calls, QStringList({"WDATA=0x00"}));
}

void TestPpdev::failedRequestsAreReported()
{
    Claimed c;
    c.io->failures[PPDATADIR] = -EIO;
    QVERIFY(!c.port->write(0x37A, pw32, 0x2B));
    c.io->failures.clear();
    // The direction is unknown after a failure: it is asked again, not assumed.
    QVERIFY(c.port->write(0x37A, pw32, 0x2B));
    QCOMPARE(c.io->calls, QStringList({"DATADIR=1", "DATADIR=1", "WCONTROL=0x0b"}));

    // A failing read ends the reader with false instead of passing for a 0 byte.
    c.io->failures[PPRSTATUS] = -EIO;
    PortAccess access(std::move(c.port));
    Levels13 levels;
    levels.fill(true);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused")));
    QVERIFY(!ReadLptStatus(access, 0x378, levels));
    QVERIFY(!levels[8]);
}

void TestPpdev::releaseAtEnd()
{
    {
        Claimed c;
        QVERIFY(c.port->write(0x37A, pw32, 0x2B)); // left with the lines as inputs
        c.io->calls.clear();
        c.port.reset();
        QCOMPARE(c.io->calls, QStringList({"DATADIR=0", "RELEASE", "close"}));
        QCOMPARE(c.io->openFds, 0);
    }
    {
        Claimed c;
        c.port->close();
        c.port->close(); // idempotent
        QCOMPARE(c.io->calls, QStringList({"RELEASE", "close"}));
    }
}

void TestPpdev::deviceLookup()
{
    FakeIo io;
    QCOMPARE(FindParportDevice(io, 0x378), QStringLiteral("/dev/parport0"));
    QCOMPARE(FindParportDevice(io, 0x278), QStringLiteral("/dev/parport1"));
    // The parport whose base address matches wins over the number.
    io.dirs[QStringLiteral("/proc/sys/dev/parport")] = {
        QStringLiteral("default"), QStringLiteral("parport0"), QStringLiteral("parport1")};
    io.files[QStringLiteral("/proc/sys/dev/parport/parport0/base-addr")] = "632\t1656\n";
    io.files[QStringLiteral("/proc/sys/dev/parport/parport1/base-addr")] = "888\t1912\n";
    QCOMPARE(FindParportDevice(io, 0x378), QStringLiteral("/dev/parport1"));
    QCOMPARE(FindParportDevice(io, 0x278), QStringLiteral("/dev/parport0"));
}

void TestPpdev::startChoosesBackend()
{
    PortStartOptions options;
    PortStartSeams seams;
    seams.tryDirectIo = false;
    seams.portSpaceDevice = QStringLiteral("/nonexistent/port");

    // The claim works: ppdev is used.
    {
        auto io = std::make_shared<FakeIo>();
        seams.ppdevIo = io;
        auto access = StartPortDriver(options, seams);
        QVERIFY(access->DriverAvailable());
        QVERIFY(!access->DirectIoAllowed());
        QVERIFY(access->Description().contains(QStringLiteral("/dev/parport0")));
        QVERIFY(access->ServesLpt(0x378));
        QVERIFY(!access->ServesLpt(0x278));
        RemovePortDriver(access);
        QVERIFY(!access);
        QVERIFY(io->calls.contains(QStringLiteral("RELEASE")));
    }
    // LPT2 selected: the second parport is claimed.
    {
        auto io = std::make_shared<FakeIo>();
        seams.ppdevIo = io;
        options.lptSelection = 5;
        auto access = StartPortDriver(options, seams);
        QCOMPARE(io->calls.first(), QStringLiteral("open /dev/parport1"));
        QVERIFY(access->ServesLpt(0x278));
        options.lptSelection = 4;
    }
    // Nothing works: no access, and the description gives every reason.
    {
        auto io = std::make_shared<FakeIo>();
        io->openResult = -EACCES;
        seams.ppdevIo = io;
        auto access = StartPortDriver(options, seams);
        QVERIFY(!access->DriverAvailable());
        const QString text = access->Description();
        QVERIFY2(text.startsWith(QStringLiteral("Aucun accès")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("groupe lp")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("/nonexistent/port : introuvable")),
                 qPrintable(text));
    }
    // The demo port needs nothing from the system.
    {
        options.demo = true;
        auto access = StartPortDriver(options, seams);
        QVERIFY(access->DriverAvailable());
        QVERIFY(access->Description().contains(QStringLiteral("simulé")));
    }
}

void TestPpdev::refusedClaimRefusesThePort_data()
{
    QTest::addColumn<QByteArray>("active");
    QTest::addColumn<QStringList>("registered");
    QTest::addColumn<int>("claimErr");
    QTest::addColumn<QString>("reason");
    QTest::newRow("another process") << QByteArray("ppdev0") << QStringList{"ppdev0"} << ENXIO
                                     << "/dev/parport1 : port tenu par un autre programme (ppdev0)";
    QTest::newRow("lp registered, idle") << QByteArray("none") << QStringList{"lp"} << ENXIO
                                         << "/dev/parport1 : port tenu par un autre pilote (lp)";
    QTest::newRow("lp printing") << QByteArray("lp") << QStringList{"lp"} << EBUSY
                                 << "/dev/parport1 : port tenu par un autre pilote (lp)";
    QTest::newRow("not in group lp")
        << QByteArray("none") << QStringList{} << -EACCES << "/dev/parport1 : accès refusé";
}

// Where the kernel has a device for the port, nothing but its claim may use the port:
// a port-space device that would open is not used.
void TestPpdev::refusedClaimRefusesThePort()
{
    QFETCH(QByteArray, active);
    QFETCH(QStringList, registered);
    QFETCH(int, claimErr);
    QFETCH(QString, reason);
    ProcTree tree(active, registered);
    auto io = std::make_shared<FakeIo>();
    io->tree = tree.root();
    if (claimErr < 0)
        io->openResult = claimErr;
    else
        io->failures[PPCLAIM] = -claimErr;
    PortStartSeams seams;
    seams.ppdevIo = io;
    seams.procRoot = tree.root();
    seams.tryDirectIo = false;
    seams.portSpaceDevice = tree.root() + QStringLiteral("/default/timeslice"); // opens
    auto access = StartPortDriver(PortStartOptions{}, seams);
    QCOMPARE(io->calls.first(), QStringLiteral("open /dev/parport1"));
    QVERIFY2(!access->DriverAvailable(), qPrintable(access->Description()));
    QVERIFY2(access->Reason().startsWith(reason), qPrintable(access->Reason()));
    QCOMPARE(PortRefusalReason(*access, 4), access->Reason());
}

// Where it has none, the port is free for direct access or the port-space device.
void TestPpdev::noKernelDeviceForTheBase()
{
    ProcTree tree("none");
    QVERIFY(QDir(tree.root() + QStringLiteral("/parport1")).removeRecursively());
    auto io = std::make_shared<FakeIo>();
    io->tree = tree.root();
    PortStartSeams seams;
    seams.ppdevIo = io;
    seams.procRoot = tree.root();
    seams.tryDirectIo = false;
    seams.portSpaceDevice = tree.root() + QStringLiteral("/default/timeslice");
    auto access = StartPortDriver(PortStartOptions{}, seams); // LPT1, 0x378
    QVERIFY(io->calls.isEmpty()); // parport0 is 0x278: not to be claimed for LPT1
    QVERIFY(access->DriverAvailable());
    QVERIFY2(access->Description().contains(seams.portSpaceDevice),
             qPrintable(access->Description()));
    // Not LPT2 through it later: the kernel drives that one.
    QVERIFY(access->ServesLpt(0x378));
    QVERIFY(!access->ServesLpt(0x278));
    QVERIFY(!WriteLptData(*access, 0x278, 0));

    // No parport support at all: the device is tried by number; a port held there is
    // still refused, a missing device is not.
    QVERIFY(QDir(tree.root()).removeRecursively());
    io->calls.clear();
    io->failures[PPCLAIM] = -EBUSY;
    QVERIFY(!StartPortDriver(PortStartOptions{}, seams)->DriverAvailable());
    QCOMPARE(io->calls.first(), QStringLiteral("open /dev/parport0"));
    io->openResult = -ENXIO; // no driver behind the device node
    QTemporaryDir spare;
    seams.portSpaceDevice = spare.filePath(QStringLiteral("port"));
    QFile port(seams.portSpaceDevice);
    QVERIFY(port.open(QIODevice::WriteOnly));
    QVERIFY(StartPortDriver(PortStartOptions{}, seams)->DriverAvailable());
}

QTEST_GUILESS_MAIN(TestPpdev)
#include "tst_ppdev.moc"
