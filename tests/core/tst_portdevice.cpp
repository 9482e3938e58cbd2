// The port-device backend on a regular file standing for the port space.

#include "acquisition/ktPortDevice.h"
#include "acquisition/ktPortStart.h"
#include "acquisition/ktPorts.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

using namespace evtrak;

namespace {

void Poke(const QString& path, qint64 offset, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek(offset));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray Peek(const QString& path, qint64 offset, int count)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return f.read(count);
}

QString MakeFile(const QTemporaryDir& dir, qint64 size)
{
    const QString path = dir.filePath(QStringLiteral("ports.bin"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(QByteArray(size, '\0'));
    return path;
}

} // namespace

class TestPortDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void inputsWrittenFromOutside();
    void widthsAndByteOrder();
    void shortFile();
    void missingFile();
};

void TestPortDevice::inputsWrittenFromOutside()
{
    QTemporaryDir dir;
    const QString path = MakeFile(dir, PortDeviceFile::kPortSpaceSize);
    PortStartOptions options;
    options.portDevice = path;
    auto access = StartPortDriver(options);
    QVERIFY(access->DriverAvailable());
    QVERIFY(!access->DirectIoAllowed());
    QVERIFY(access->Description().contains(path));

    Levels13 levels{};
    Poke(path, 0x378, QByteArray("\xA5\x78", 2));
    Poke(path, 0x37B, QByteArray("\xEE\xEE\xEE", 3)); // the EPP registers above
    QVERIFY(ReadLptInputs(*access, 0x378, levels));
    const Levels13 first = {true, false, true, false, false, true, false,
                            true, true,  true, true,  true,  true};
    QCOMPARE(levels, first);
    // The pass left the control register with the lines driven, and wrote nothing
    // beyond it.
    QCOMPARE(Peek(path, 0x37A, 4), QByteArray("\x0B\xEE\xEE\xEE", 4));

    // A later change made from outside is seen by the next pass.
    Poke(path, 0x379, QByteArray("\x80", 1));
    Poke(path, 0x378, QByteArray("\x01", 1));
    QVERIFY(ReadLptInputs(*access, 0x378, levels));
    const Levels13 second = {true,  false, false, false, false, false, false,
                             false, false, false, false, false, false};
    QCOMPARE(levels, second);

    // Driving the data lines to 0 at set-up must not wipe the inputs in the file.
    QVERIFY(WriteLptData(*access, 0x378, 0));
    Poke(path, 0x277, QByteArray("\x11\x22\x33\x44", 4));
    access->PortWrite(0x277, pw32, 0); // a run on either side of LPT2's inputs
    QCOMPARE(Peek(path, 0x277, 4), QByteArray("\0\x22\x33\0", 4));
    QCOMPARE(Peek(path, 0x378, 4), QByteArray("\x01\x80\x0B\xEE", 4));
    QVERIFY(ReadLptInputs(*access, 0x378, levels));
    QCOMPARE(levels, second);
    QCOMPARE(QFileInfo(path).size(), PortDeviceFile::kPortSpaceSize);
}

void TestPortDevice::widthsAndByteOrder()
{
    QTemporaryDir dir;
    const QString path = MakeFile(dir, PortDeviceFile::kPortSpaceSize);
    Poke(path, 0x100, QByteArray("\x11\x22\x33\x44", 4));
    PortDeviceFile device(path);
    QVERIFY(device.open());
    std::uint32_t v = 0;
    QVERIFY(device.read(0x100, pw8, v));
    QCOMPARE(v, 0x11u);
    QVERIFY(device.read(0x100, pw16, v));
    QCOMPARE(v, 0x2211u);
    QVERIFY(device.read(0x100, pw32, v));
    QCOMPARE(v, 0x44332211u);
    QVERIFY(device.write(0x200, pw16, 0xBEEF));
    QCOMPARE(Peek(path, 0x200, 3), QByteArray("\xEF\xBE\0", 3));
    QVERIFY(!device.read(0x100, 7, v)); // unknown width code
}

void TestPortDevice::shortFile()
{
    QTemporaryDir dir;
    const QString path = MakeFile(dir, 0x37A); // ends right after the status byte
    Poke(path, 0x379, QByteArray("\x78", 1));
    PortDeviceFile device(path);
    QVERIFY(device.open());
    std::uint32_t v = 0xDEAD;
    QVERIFY(device.read(0x379, pw32, v));
    QCOMPARE(v, 0x78u);
    QVERIFY(device.read(0xFFFE, pw32, v));
    QCOMPARE(v, 0u);
    // Never grown: a write past the end is refused.
    QVERIFY(!device.write(0x37A, pw8, 0x04));
    QVERIFY(!device.write(0x378, pw32, 0));
    QCOMPARE(QFileInfo(path).size(), 0x37A);

    // Too short for the registers asked for: refused, with the reason.
    device.requireSize(0x37B);
    QVERIFY(!device.open());
    QVERIFY(device.refusal().contains(QStringLiteral("trop court")));
}

void TestPortDevice::missingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("absent/ports.bin"));
    PortDeviceFile device(path);
    QVERIFY(!device.open());
    QCOMPARE(device.error(), ENOENT);
    std::uint32_t v = 1;
    QVERIFY(!device.read(0x379, pw8, v));

    PortStartOptions options;
    options.portDevice = path;
    auto access = StartPortDriver(options);
    QVERIFY(!access->DriverAvailable());
    QCOMPARE(access->Description(), QStringLiteral("Aucun accès au port parallèle. ") + path +
                                        QStringLiteral(" : introuvable."));
    QVERIFY(!QFile::exists(path)); // never created behind the user's back
}

QTEST_GUILESS_MAIN(TestPortDevice)
#include "tst_portdevice.moc"
