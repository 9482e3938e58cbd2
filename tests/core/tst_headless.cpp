// The program run without a window on a port file: the test flips bits in the file,
// reads the lines the program prints, stops it with a signal and reads the day's file.
// Also the command line's exits, one owner per Log folder and the figures signal.
#include "base/ktMisc.h"
#include "capture_support.h" // the thread checker's view of Qt Test
#include "eventlog/uJournal.h"
#include "mosquitto_support.h"
#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using evtrak::test::ReadBytes;
using evtrak::test::WriteBytes;

namespace {

const QString kBinary = QStringLiteral(EVTRAK_BINARY_DIR "/src/evtrak");

// A copy of the program in its own folder, so its settings and Log are there.
struct Sandbox
{
    Sandbox()
    {
        exe = dir.filePath(QStringLiteral("evtrak"));
        QFile::copy(kBinary, exe);
        (void)QFile(dir.filePath(QStringLiteral("evtrak.portable"))).open(QIODevice::WriteOnly);
        portFile = dir.filePath(QStringLiteral("port.bin"));
        QByteArray bytes(65536, '\0');
        bytes[0x379] = char(0x80); // BUSY high: status inputs at rest
        QFile f(portFile);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    void writeSettings(const QByteArray& userPrefs)
    {
        QFile f(dir.filePath(QStringLiteral("evtrak.ini")));
        if (f.open(QIODevice::WriteOnly))
            f.write("[UserPrefs]\r\n" + userPrefs);
    }
    void setPortByte(int port, quint8 value)
    {
        QFile f(portFile);
        if (f.open(QIODevice::ReadWrite) && f.seek(port))
            f.write(QByteArray(1, char(value)));
    }
    void start(QProcess& p, QStringList args = {})
    {
        if (args.isEmpty())
            args = {QStringLiteral("--headless"), QStringLiteral("--port-device"), portFile};
        p.setWorkingDirectory(dir.path());
        p.start(exe, args);
    }
    QString dailyFile() const
    {
        return dir.filePath(QStringLiteral("Log/") +
                            QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) +
                            QStringLiteral(".txt"));
    }
    // Waits for the capture, records one event, and returns the printed line.
    QString startCaptureWithOneEvent(QProcess& p)
    {
        QByteArray err;
        if (!QTest::qWaitFor([&] { return (err += p.readAllStandardError()).contains("Ctrl+C"); },
                             20000))
            return QString::fromUtf8("no capture: " + err);
        setPortByte(0x378, 0x01);
        QByteArray out;
        if (!QTest::qWaitFor([&] { return (out += p.readAllStandardOutput()).contains('\n'); },
                             20000))
            return QStringLiteral("no event");
        return QString::fromUtf8(out).trimmed();
    }
    QStringList dailyFileLines() const
    {
        const QDir log(dir.filePath(QStringLiteral("Log")));
        const QStringList files = log.entryList({QStringLiteral("*.txt")}, QDir::Files);
        if (files.size() != 1)
            return {QStringLiteral("%1 daily files").arg(files.size())};
        QFile f(log.filePath(files.first()));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return evtrak::DecodeText(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    QString exe;
    QString portFile;
};

// Every entry of the Log folder: the bytes of files, the target of links, the mode of the rest.
QMap<QString, QByteArray> LogSnapshot(const Sandbox& box)
{
    QMap<QString, QByteArray> entries;
    const QDir log(box.dir.filePath(QStringLiteral("Log")));
    const QFileInfoList all =
        log.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : all) {
        struct stat st
        {
        };
        ::lstat(QFile::encodeName(fi.filePath()).constData(), &st);
        entries.insert(fi.fileName(), S_ISREG(st.st_mode) ? ReadBytes(fi.filePath())
                                      : S_ISLNK(st.st_mode)
                                          ? "-> " + QFile::encodeName(fi.symLinkTarget())
                                          : QByteArray::number(st.st_mode, 8));
    }
    return entries;
}

QProcessEnvironment WindowEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The window says in its log when a second start brought it to the front.
    env.insert(QStringLiteral("QT_LOGGING_RULES"),
               QStringLiteral("qt.qpa.*=false\nevtrak.ui.main.info=true"));
    return env;
}

// Starts the window or a headless run and waits until its capture runs (the window
// captures at start-up when the settings say so: its journal then exists).
bool StartCapture(Sandbox& box, QProcess& p, bool window, QByteArray* err)
{
    if (window) {
        p.setProcessEnvironment(WindowEnvironment());
        box.start(p, {QStringLiteral("--port-device"), box.portFile});
        const QString journal = box.dir.filePath(QStringLiteral("Log/evtrak_journal.bin"));
        return QTest::qWaitFor([&] { return QFileInfo::exists(journal); }, 20000);
    }
    box.start(p);
    return QTest::qWaitFor([&] { return (*err += p.readAllStandardError()).contains("Ctrl+C"); },
                           20000);
}

// The command run as a user the file modes apply to: nobody when the test runs as root
// (the sandbox is then opened to everyone). Empty when that is not possible.
QStringList AsUnprivileged(Sandbox& box, QStringList command)
{
    if (::geteuid() != 0)
        return command;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty() || ::getpwnam("nobody") == nullptr)
        return {};
    ::chmod(QFile::encodeName(box.dir.path()).constData(), 0777);
    for (const QString& f : {box.dir.filePath(QStringLiteral("evtrak.ini")), box.portFile})
        ::chmod(QFile::encodeName(f).constData(), 0666);
    return QStringList{setpriv, QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                       QStringLiteral("--clear-groups")} +
           command;
}

QStringList Lines(QByteArray& buffer, QProcess& p)
{
    buffer += p.readAllStandardOutput();
    return QString::fromUtf8(buffer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QFileInfo::exists(kBinary), "build the evtrak target first"); }
    void capturesAndSavesOnSignal_data();
    void capturesAndSavesOnSignal();
    void stallsAndFiguresOnStderrOnly();
    void killedRunIsRecoveredOnce_data();
    void killedRunIsRecoveredOnce();
    void windowClosesInOrderOnSignal_data();
    void windowClosesInOrderOnSignal();
    void signalDuringRecoveryQuestionKeepsJournal_data() { windowClosesInOrderOnSignal_data(); }
    void signalDuringRecoveryQuestionKeepsJournal();
    void failedSaveAtStopKeepsJournal_data();
    void failedSaveAtStopKeepsJournal();
    void refusedInterfaceExits2_data();
    void refusedInterfaceExits2();
    void refusedDayFileExits2BeforeCapture_data();
    void refusedDayFileExits2BeforeCapture();
    void killDuringSaveLeavesWholeFiles_data();
    void killDuringSaveLeavesWholeFiles();
    void commandLine_data();
    void commandLine();
    void readOnlyLogFailsQuietly_data();
    void readOnlyLogFailsQuietly();
    void portDeviceThatCannotServeIsRefused_data();
    void portDeviceThatCannotServeIsRefused();
    void secondRunOnTheFolderTouchesNothing_data();
    void secondRunOnTheFolderTouchesNothing();
    void refusedLockFile_data();
    void refusedLockFile();
    void figuresSignalNeverKills_data();
    void figuresSignalNeverKills();
    void figuresSignalDuringTheBrokersWait();
};

void TestHeadless::capturesAndSavesOnSignal_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("appendsAsItGoes");
    QTest::newRow("defaults, SIGINT") << QByteArray() << int(SIGINT) << false;
    QTest::newRow("per-event append, SIGTERM")
        << QByteArray("LogSaveAutoOnNewDay=1\r\nLogSaveAutoOnNewEvent=1\r\n") << int(SIGTERM)
        << true;
}

void TestHeadless::capturesAndSavesOnSignal()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, signal);
    QFETCH(bool, appendsAsItGoes);
    Sandbox box;
    box.writeSettings(settings);
    QProcess p;
    box.start(p);
    QVERIFY(p.waitForStarted());
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Ctrl+C"), 20000);

    QByteArray out;
    box.setPortByte(0x378, 0x04); // input 2 rises
    QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), 1, 20000);
    box.setPortByte(0x379, 0x80 | 0x08); // input 12 (ERROR) rises
    QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), 2, 20000);
    box.setPortByte(0x378, 0x00);
    QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), 3, 20000);

    const QStringList printed = Lines(out, p);
    QVERIFY(printed[0].startsWith(QStringLiteral("Libellé_2 [ON];2;")));
    QVERIFY(printed[0].endsWith(QStringLiteral(";0 ms")));
    QVERIFY(printed[1].startsWith(QStringLiteral("Libellé_12 [ON];12;")));
    QVERIFY(printed[2].startsWith(QStringLiteral("Libellé_2 [OFF];2;")));
    if (appendsAsItGoes)
        QTRY_COMPARE(box.dailyFileLines(), printed);

    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    // The whole list saved at the end, newest first; rows already appended one by one
    // are on disk, so nothing is written again.
    const QStringList saved = box.dailyFileLines();
    QCOMPARE(saved, appendsAsItGoes ? printed : QStringList({printed[2], printed[1], printed[0]}));
}

// A program held still (SIGSTOP) is a stall: reported once on stderr with its length,
// never among the events. SIGUSR1 prints the figures and the capture goes on.
void TestHeadless::stallsAndFiguresOnStderrOnly()
{
    Sandbox box;
    box.writeSettings("CaptureSamplingPeriod=1000\r\n");
    QProcess p;
    box.start(p);
    QVERIFY(p.waitForStarted());
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Ctrl+C"), 20000);
    ::kill(pid_t(p.processId()), SIGSTOP);
    QTest::qSleep(300);
    ::kill(pid_t(p.processId()), SIGCONT);
    // A loaded machine may add short stalls of its own: the long one must be among them.
    const QRegularExpression stall(QStringLiteral("Interruption de l'acquisition : (\\d+) ms"));
    const auto longStall = [&] {
        err += p.readAllStandardError();
        for (const QRegularExpressionMatch& m : stall.globalMatch(QString::fromUtf8(err)))
            if (m.captured(1).toInt() >= 250)
                return true;
        return false;
    };
    QVERIFY2(QTest::qWaitFor(longStall, 20000), err.constData());

    ::kill(pid_t(p.processId()), SIGUSR1);
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("passes/s"), 20000);
    QVERIFY(QString::fromUtf8(err).contains(QRegularExpression(
        QStringLiteral("plus long intervalle \\d+\\.\\d{3} ms, [1-9]\\d* interruption"))));
    QVERIFY(p.state() == QProcess::Running);

    box.setPortByte(0x378, 0x01);
    QByteArray out;
    QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), 1, 20000);
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(Lines(out, p).size(), 1);
    QCOMPARE(box.dailyFileLines().size(), 1);
}

void TestHeadless::killedRunIsRecoveredOnce_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("appendsAsItGoes");
    QTest::newRow("defaults") << QByteArray() << false;
    QTest::newRow("per-event append")
        << QByteArray("LogSaveAutoOnNewDay=1\r\nLogSaveAutoOnNewEvent=1\r\n") << true;
}

void TestHeadless::killedRunIsRecoveredOnce()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, appendsAsItGoes);
    Sandbox box;
    box.writeSettings(settings);
    QByteArray out;
    QStringList printed;
    {
        QProcess p;
        box.start(p);
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Ctrl+C"), 20000);
        box.setPortByte(0x378, 0x04);
        QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), 1, 20000);
        box.setPortByte(0x378, 0x00);
        QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), 2, 20000);
        printed = Lines(out, p);
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(20000));
    }
    // The next run puts back what the day's file lacks, once, and saves it.
    for (int run = 0; run < 2; ++run) {
        QProcess p;
        box.start(p);
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Ctrl+C"), 20000);
        const bool told = err.contains("2 évenement(s) d'une acquisition interrompue récupéré(s)");
        QVERIFY2(told == (run == 0 && !appendsAsItGoes), err.constData());
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        // Appended lines come oldest first; a saved list newest first.
        QCOMPARE(box.dailyFileLines(),
                 appendsAsItGoes ? printed : QStringList({printed[1], printed[0]}));
        QVERIFY(!QFile::exists(box.dir.filePath(QStringLiteral("Log/evtrak_journal.bin"))));
    }
}

void TestHeadless::windowClosesInOrderOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestHeadless::windowClosesInOrderOnSignal()
{
    QFETCH(int, signal);
    Sandbox box;
    box.writeSettings("CaptureRunAtAppStartup=1\r\n");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    box.start(p, {QStringLiteral("--port-device"), box.portFile});
    // The capture runs once the journal exists; an event shows in it.
    const QFileInfo journal(box.dir.filePath(QStringLiteral("Log/evtrak_journal.bin")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(journal.filePath()), 20000);
    box.setPortByte(0x378, 0x04);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(journal.filePath()).size() >= 24, 20000);
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QStringList saved = box.dailyFileLines();
    QCOMPARE(saved.size(), 1);
    QVERIFY(saved[0].startsWith(QStringLiteral("Libellé_2 [ON];2;")));
    QFile ini(box.dir.filePath(QStringLiteral("evtrak.ini")));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.readAll().contains("[FormsSizeAndPos]"));
    QVERIFY(!QFile::exists(journal.filePath()));
}

// A stop signal while the window asks whether to recover a killed run's events decides
// nothing: the journal stays as it was and the next start offers the events again.
void TestHeadless::signalDuringRecoveryQuestionKeepsJournal()
{
    QFETCH(int, signal);
    Sandbox box;
    QProcess killed;
    box.start(killed);
    const QString event = box.startCaptureWithOneEvent(killed);
    QVERIFY2(event.startsWith(QStringLiteral("Libellé_0 [ON];0;")), qPrintable(event));
    QTest::qWait(1200); // the journal reaches the disk once a second
    killed.kill();
    QVERIFY(killed.waitForFinished(20000));
    box.setPortByte(0x378, 0x00); // no change waits for the next capture
    const QString journal = box.dir.filePath(QStringLiteral("Log/evtrak_journal.bin"));
    const QByteArray left = ReadBytes(journal);
    QVERIFY(!left.isEmpty());

    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    window.setProcessEnvironment(env);
    box.start(window, {QStringLiteral("--port-device"), box.portFile});
    QVERIFY(window.waitForStarted());
    QTest::qWait(1500); // the question is open: nobody answers it
    QCOMPARE(window.state(), QProcess::Running);
    ::kill(pid_t(window.processId()), signal);
    QVERIFY(window.waitForFinished(20000));
    QCOMPARE(window.exitStatus(), QProcess::NormalExit);
    QVERIFY(ReadBytes(journal) == left);
    QVERIFY(box.dailyFileLines().join(u'|').indexOf(QStringLiteral("Libellé_0")) < 0);

    QProcess again;
    box.start(again);
    QByteArray err;
    QVERIFY(QTest::qWaitFor(
        [&] { return (err += again.readAllStandardError()).contains("Ctrl+C"); }, 20000));
    QVERIFY2(err.contains("1 évenement(s) d'une acquisition interrompue"), err.constData());
    ::kill(pid_t(again.processId()), SIGTERM);
    QVERIFY(again.waitForFinished(20000));
    QCOMPARE(box.dailyFileLines(), QStringList{event});
}

// A stop whose save fails, in either mode: no box waits for an answer (the window would
// hang), the failure is said once and in the status, the journal stays for the next start,
// and the settings file keeps the user's choice about error boxes.
void TestHeadless::failedSaveAtStopKeepsJournal_data()
{
    QTest::addColumn<bool>("window");
    QTest::newRow("window") << true;
    QTest::newRow("headless") << false;
}

void TestHeadless::failedSaveAtStopKeepsJournal()
{
    QFETCH(bool, window);
    Sandbox box;
    box.writeSettings("CaptureRunAtAppStartup=1\r\nMiscShowErrorMessages=1\r\n");
    QProcess p;
    QByteArray err;
    QVERIFY(StartCapture(box, p, window, &err));
    const QString journal = box.dir.filePath(QStringLiteral("Log/evtrak_journal.bin"));
    box.setPortByte(0x378, 0x04);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(journal).size() >= 24, 20000);
    // Nothing can replace a FIFO, root or not.
    QFile::remove(box.dailyFile());
    QCOMPARE(::mkfifo(QFile::encodeName(box.dailyFile()).constData(), 0644), 0);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 1);
    err += p.readAllStandardError();
    QCOMPARE(QString::fromUtf8(err).count(QStringLiteral("La sauvegarde dans le fichier")), 1);
    QVERIFY(!evtrak::TJournal::ReadEvents(journal).empty());
    QVERIFY(ReadBytes(box.dir.filePath(QStringLiteral("evtrak.ini")))
                .contains("MiscShowErrorMessages=1"));
}

void TestHeadless::refusedInterfaceExits2_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("missingPort");
    QTest::newRow("port device missing") << QByteArray() << true;
    QTest::newRow("game port selected") << QByteArray("PortBaseAddressIndex=6\r\n") << false;
    QTest::newRow("COM1 selected") << QByteArray("PortBaseAddressIndex=0\r\n") << false;
}

void TestHeadless::refusedInterfaceExits2()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, missingPort);
    Sandbox box;
    box.writeSettings(settings);
    if (missingPort)
        QFile::remove(box.portFile);
    QProcess p;
    box.start(p);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    if (settings.contains("=0"))
        QVERIFY2(err.contains(QStringLiteral("COM1 n'est pas un port parallèle")) &&
                     !err.contains(QStringLiteral("Not LPT")),
                 qPrintable(err));
    else
        QVERIFY2(err.contains(QStringLiteral("Accès au port sélectionné impossible.")),
                 qPrintable(err));
    // The access in use, or why there is none, is said once.
    QCOMPARE(err.count(QStringLiteral("Port parallèle :")) +
                 err.count(QStringLiteral("Aucun accès au port parallèle")),
             1);
}

void TestHeadless::refusedDayFileExits2BeforeCapture_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
    QTest::newRow("unreadable to its user") << "mode000";
}

void TestHeadless::refusedDayFileExits2BeforeCapture()
{
    QFETCH(QString, kind);
    Sandbox box;
    QVERIFY(QDir(box.dir.path()).mkpath(QStringLiteral("Log")));
    const QString day = box.dailyFile();
    const QByteArray dayPath = QFile::encodeName(day);
    QStringList command = {box.exe, QStringLiteral("--headless"), QStringLiteral("--port-device"),
                           box.portFile};
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(dayPath.constData(), 0644), 0);
    } else if (kind == QLatin1String("zero")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), day));
    } else {
        WriteBytes(day, "A;1;07/12/2026 10:00:00;5 ms\r\n");
        QCOMPARE(::chmod(dayPath.constData(), 0), 0);
        // Root reads everything: run the program as a user who cannot.
        QCOMPARE(
            ::chmod(QFile::encodeName(box.dir.filePath(QStringLiteral("Log"))).constData(), 0777),
            0);
        command = AsUnprivileged(box, command);
        if (command.isEmpty())
            QSKIP("running as root without setpriv or the user nobody: cannot test a file "
                  "its user cannot read");
    }
    QProcess p;
    p.setWorkingDirectory(box.dir.path());
    p.start(command.takeFirst(), command);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("ne peut pas être ouvert")) &&
                 err.contains(QFileInfo(day).fileName()) && !err.contains(QStringLiteral("Ctrl+C")),
             qPrintable(err));
    // Left as it was.
    const QFileInfo after(day);
    if (kind == QLatin1String("zero"))
        QCOMPARE(after.symLinkTarget(), QStringLiteral("/dev/zero"));
    else if (kind == QLatin1String("fifo"))
        QVERIFY(!after.isFile() && after.exists());
    else
        QCOMPARE(ReadBytes(day), QByteArray("A;1;07/12/2026 10:00:00;5 ms\r\n"));
}

// The program is killed at the entry of each call that changes the folder during its save
// at exit: the day's file is always there and whole (old or new), and so is its backup.
void TestHeadless::killDuringSaveLeavesWholeFiles_data()
{
    QTest::addColumn<QString>("syscall");
    QTest::addColumn<int>("when");
    QTest::addColumn<bool>("newFile");
    // The start-up's first rename puts the fresh recovery journal in place.
    QTest::newRow("before the backup link") << "link" << 1 << false;
    QTest::newRow("before the backup is renamed") << "rename" << 2 << false;
    QTest::newRow("before the new file is renamed") << "rename" << 3 << false;
    QTest::newRow("not killed") << "rename" << 4 << true;
}

void TestHeadless::killDuringSaveLeavesWholeFiles()
{
    QFETCH(QString, syscall);
    QFETCH(int, when);
    QFETCH(bool, newFile);
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("strace is not installed (scripts/deps.sh installs it)");
    if (QProcess::execute(strace, {QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                   QStringLiteral("true")}) != 0)
        QSKIP("strace cannot trace here (ptrace not permitted)");
    Sandbox box;
    box.writeSettings("LogSaveMakeBackup=1\r\n");
    QVERIFY(QDir(box.dir.path()).mkpath(QStringLiteral("Log")));
    const QString day = box.dailyFile();
    const QString bak = day.left(day.size() - 3) + QStringLiteral("bak");
    QByteArray old;
    for (int i = 0; i < 20000; ++i)
        old += "Old;" + QByteArray::number(i % 13) + ";07/12/2026 10:00:00;5 ms\r\n";
    WriteBytes(day, old);
    WriteBytes(bak, "Older;1;06/12/2026 10:00:00;5 ms\r\n");

    // Killed at the entry of the chosen call, before the call does anything.
    QProcess p;
    p.setWorkingDirectory(box.dir.path());
    p.start(strace,
            {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"),
             QStringLiteral("/dev/null"), QStringLiteral("-e"),
             QStringLiteral("inject=%1:error=EIO:signal=KILL:when=%2").arg(syscall).arg(when),
             box.exe, QStringLiteral("--headless"), QStringLiteral("--port-device"), box.portFile});
    const QString event = box.startCaptureWithOneEvent(p);
    QVERIFY2(event.startsWith(QStringLiteral("Libellé_0 [ON];0;")), qPrintable(event));
    // strace does not pass signals on: stop the traced program itself.
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(p.processId()));
    QVERIFY(children.open(QIODevice::ReadOnly));
    const pid_t child = pid_t(children.readAll().trimmed().toInt());
    QVERIFY(child > 0);
    ::kill(child, SIGTERM);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus() == QProcess::CrashExit, !newFile); // killed, or saved and done

    const QByteArray now = ReadBytes(day);
    const QByteArray fresh = event.toUtf8().replace("Libellé", "Libell\xE9") + "\r\n" + old;
    QCOMPARE(now.size(), (newFile ? fresh : old).size());
    QVERIFY(now == (newFile ? fresh : old));
    const QByteArray backup = ReadBytes(bak);
    QVERIFY(backup == old || backup.startsWith("Older;"));
    if (syscall == QLatin1String("rename") && when >= 3)
        QVERIFY(backup == old); // the backup is in place before the file is replaced
}

void TestHeadless::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "--headless"
                            << "";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "evtrak " EVTRAK_VERSION << "";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << ""
                                    << "option inconnue « frobnicate »";
    QTest::newRow("--pdf without --report") << QStringList{"--pdf", "x.pdf"} << 2 << ""
                                            << "--report FICHIER et --pdf";
    QTest::newRow("--port-device without a path") << QStringList{"--port-device"} << 2 << ""
                                                  << "evtrak :";
    QTest::newRow("--demo with --port-device")
        << QStringList{"--headless", "--demo", "--port-device", "p"} << 2 << ""
        << "--demo";
    QTest::newRow("--mqtt port out of range")
        << QStringList{"--headless", "--mqtt", "host:70000"} << 2 << ""
        << "HOTE[:PORT]";
    QTest::newRow("--mqtt with no port after the colon")
        << QStringList{"--headless", "--mqtt", "host:"} << 2 << ""
        << "le numéro de port manque";
    QTest::newRow("--mqtt followed by an option")
        << QStringList{"--headless", "--mqtt", "--demo"} << 2 << ""
        << "--mqtt demande une valeur : « --demo » est une option";
    QTest::newRow("--mqtt without --headless") << QStringList{"--mqtt", "host"} << 2 << ""
                                               << "qu'avec --headless";
    QTest::newRow("--collect with --headless") << QStringList{"--collect", "--headless"} << 2 << ""
                                               << "--collect ne s'utilise qu'avec --mqtt";
    QTest::newRow("stray argument") << QStringList{"file.txt"} << 2 << ""
                                    << "file.txt";
    // The window without any display: a clear message instead of Qt's abort.
    QTest::newRow("window without a display") << QStringList{"--demo"} << 2 << ""
                                              << "evtrak --headless";
}

void TestHeadless::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrHas);
    Sandbox box;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    box.start(p, args);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), exitCode);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(out.contains(stdoutHas), qPrintable(out));
    QVERIFY2(err.contains(stderrHas), qPrintable(err));
    QCOMPARE(QDir(box.dir.filePath(QStringLiteral("Log"))).exists(), false); // nothing created
}

// A second process on a Log folder held by another: a window hands over to the window,
// everything else is refused with status 2, and nothing in the folder changes. The
// holder killed, the kernel frees the folder at once.
void TestHeadless::secondRunOnTheFolderTouchesNothing_data()
{
    QTest::addColumn<bool>("firstWindow");
    QTest::addColumn<bool>("secondWindow");
    QTest::newRow("headless, then headless") << false << false;
    QTest::newRow("window, then headless") << true << false;
    QTest::newRow("headless, then window") << false << true;
    QTest::newRow("window, then window") << true << true;
}

void TestHeadless::secondRunOnTheFolderTouchesNothing()
{
    QFETCH(bool, firstWindow);
    QFETCH(bool, secondWindow);
    Sandbox box;
    box.writeSettings(
        "LogSaveAutoOnNewDay=1\r\nLogSaveAutoOnNewEvent=1\r\nCaptureRunAtAppStartup=1\r\n");
    QProcess first;
    QByteArray firstErr;
    QVERIFY(StartCapture(box, first, firstWindow, &firstErr));
    box.setPortByte(0x378, 0x04); // one event in the journal and the day's file
    const QString journal = box.dir.filePath(QStringLiteral("Log/evtrak_journal.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(
        box.dailyFileLines().value(0).startsWith(QStringLiteral("Libellé_2 [ON];2;")) &&
            QFileInfo(journal).size() >= 24,
        20000);
    const QMap<QString, QByteArray> before = LogSnapshot(box);
    QVERIFY(before.contains(QStringLiteral("evtrak_journal.bin")));

    QProcess second;
    if (secondWindow) {
        second.setProcessEnvironment(WindowEnvironment());
        box.start(second, {QStringLiteral("--port-device"), box.portFile});
    } else {
        box.start(second);
    }
    QVERIFY(second.waitForFinished(20000));
    const QString err = QString::fromUtf8(second.readAllStandardError());
    if (firstWindow && secondWindow) {
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(
            err.contains(
                QStringLiteral("(pid %1) ; elle passe au premier plan.").arg(first.processId())),
            qPrintable(err));
        // Said by the first window once it has come to the front.
        QTRY_VERIFY_WITH_TIMEOUT(
            (firstErr += first.readAllStandardError()).contains("brought to the front"), 20000);
    } else {
        QCOMPARE(second.exitCode(), 2);
        const QString holder = QStringLiteral("est déjà utilisé par evtrak (pid %1, %2, depuis le ")
                                   .arg(first.processId())
                                   .arg(firstWindow ? "fenêtre" : "sans fenêtre");
        QVERIFY2(err.contains(QStringLiteral("le dossier Log \"")) && err.contains(holder) &&
                     err.contains(QStringLiteral("; rien n'est fait.")),
                 qPrintable(err));
    }
    QVERIFY(LogSnapshot(box) == before);
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    QVERIFY(first.waitForFinished(20000));
    QProcess next;
    QByteArray nextErr;
    QVERIFY2(StartCapture(box, next, false, &nextErr), nextErr.constData());
    ::kill(pid_t(next.processId()), SIGTERM);
    QVERIFY(next.waitForFinished(20000));
    QCOMPARE(next.exitCode(), 0);
}

// The lock file is the program's own: never followed through a link, never anything but a
// regular file; a folder it cannot write in gives the real reason. Nothing is touched.
void TestHeadless::refusedLockFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("link to a file") << "link"
                                    << "\"evtrak.lock\" est un lien symbolique";
    QTest::newRow("dangling link") << "dangling"
                                   << "\"evtrak.lock\" est un lien symbolique";
    QTest::newRow("FIFO") << "fifo"
                          << "\"evtrak.lock\" n'est pas un fichier ordinaire";
    QTest::newRow("read-only Log folder") << "readonly"
                                          << "ne peut pas être verrouillé : accès refusé";
}

void TestHeadless::refusedLockFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    Sandbox box;
    QVERIFY(QDir(box.dir.path()).mkpath(QStringLiteral("Log")));
    const QString logDir = box.dir.filePath(QStringLiteral("Log"));
    const QString lock = box.dir.filePath(QStringLiteral("Log/evtrak.lock"));
    const QString victim = box.dir.filePath(QStringLiteral("victim.txt"));
    QStringList command = {box.exe, QStringLiteral("--headless"), QStringLiteral("--port-device"),
                           box.portFile};
    if (kind == QLatin1String("link")) {
        WriteBytes(victim, "keep me\n");
        QVERIFY(QFile::link(victim, lock));
    } else if (kind == QLatin1String("dangling")) {
        QVERIFY(QFile::link(victim, lock));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0644), 0);
    } else {
        WriteBytes(box.dir.filePath(QStringLiteral("Log/2026_12_07.txt")),
                   "A;1;07/12/2026 10:00:00;5 ms\r\n");
        QCOMPARE(::chmod(QFile::encodeName(logDir).constData(), 0555), 0);
        if (::geteuid() == 0) {
            // Root writes everywhere: run the program as a user who cannot.
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (setpriv.isEmpty() || ::getpwnam("nobody") == nullptr)
                QSKIP("running as root without setpriv or the user nobody");
            QCOMPARE(::chmod(QFile::encodeName(box.dir.path()).constData(), 0777), 0);
            QCOMPARE(::chmod(QFile::encodeName(box.portFile).constData(), 0666), 0);
            command =
                QStringList{setpriv, QStringLiteral("--reuid=nobody"),
                            QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups")} +
                command;
        }
    }
    const QMap<QString, QByteArray> before = LogSnapshot(box);
    QProcess p;
    p.setWorkingDirectory(box.dir.path());
    p.start(command.takeFirst(), command);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(message) && err.contains(QStringLiteral("; rien n'est fait.")) &&
                 !err.contains(QStringLiteral("Ctrl+C")),
             qPrintable(err));
    QVERIFY(LogSnapshot(box) == before);
    if (kind == QLatin1String("link"))
        QCOMPARE(ReadBytes(victim), QByteArray("keep me\n"));
    if (kind == QLatin1String("dangling"))
        QVERIFY(!QFileInfo::exists(victim));
    ::chmod(QFile::encodeName(logDir).constData(), 0755);
}

// SIGUSR1 at any moment of the start-up never ends the program: sent at random 0-100 ms
// after the program has made its Log folder (early in main, long before any capture).
// Once the capture runs it prints the figures, in both modes.
void TestHeadless::figuresSignalNeverKills_data()
{
    QTest::addColumn<bool>("window");
    QTest::newRow("headless") << false;
    QTest::newRow("window") << true;
}

void TestHeadless::figuresSignalNeverKills()
{
    QFETCH(bool, window);
    for (int trial = 0; trial < 6; ++trial) {
        Sandbox box;
        box.writeSettings("CaptureRunAtAppStartup=1\r\n");
        const QString log = box.dir.filePath(QStringLiteral("Log"));
        QProcess p;
        if (window)
            p.setProcessEnvironment(WindowEnvironment());
        box.start(p, window ? QStringList{QStringLiteral("--port-device"), box.portFile}
                            : QStringList{});
        QVERIFY(p.waitForStarted());
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(log) && p.state() == QProcess::Running && t.elapsed() < 20000)
            QThread::usleep(200);
        QThread::msleep(QRandomGenerator::global()->bounded(101));
        ::kill(pid_t(p.processId()), SIGUSR1);
        QByteArray err;
        const QString journal = box.dir.filePath(QStringLiteral("Log/evtrak_journal.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(p.state() != QProcess::Running || QFileInfo::exists(journal),
                                 20000);
        QVERIFY2(p.state() == QProcess::Running, qPrintable(QStringLiteral("trial %1").arg(trial)));
        ::kill(pid_t(p.processId()), SIGUSR1);
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("passes/s"), 20000);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
}

// At the exit the publisher waits up to 2 s for the broker's acknowledgements (a broker
// held still never sends them): SIGUSR1 sent all along the exit never kills.
void TestHeadless::figuresSignalDuringTheBrokersWait()
{
    if (evtrak::test::MosquittoProgram().isEmpty())
        QSKIP("mosquitto is not installed (scripts/deps.sh installs it)");
    Sandbox box;
    evtrak::test::TestBroker broker(box.dir.path());
    QVERIFY(broker.Start());
    QProcess p;
    box.start(p, {QStringLiteral("--headless"), QStringLiteral("--port-device"), box.portFile,
                  QStringLiteral("--mqtt"), QStringLiteral("127.0.0.1:%1").arg(broker.Port())});
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("MQTT : connecté"), 20000);
    ::kill(pid_t(broker.Pid()), SIGSTOP);
    box.setPortByte(0x378, 0x01);
    QByteArray out;
    QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), 1, 20000);
    ::kill(pid_t(p.processId()), SIGTERM);
    QElapsedTimer t;
    t.start();
    while (!p.waitForFinished(20) && t.elapsed() < 20000)
        ::kill(pid_t(p.processId()), SIGUSR1);
    ::kill(pid_t(broker.Pid()), SIGCONT);
    QCOMPARE(p.state(), QProcess::NotRunning);
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(t.elapsed() >= 1000, "the exit did not wait for the broker"); // the case holds
}

// Appends that fail on a day's file the program cannot write: during a burst of events,
// one French line when they start failing, and none of the developers' English lines
// unless asked for. (A Log folder it cannot write is refused at start, with the reason.)
void TestHeadless::readOnlyLogFailsQuietly_data()
{
    QTest::addColumn<QStringList>("extraArgs");
    QTest::addColumn<QString>("loggingRules");
    QTest::addColumn<bool>("diagnostics");
    QTest::newRow("default") << QStringList() << QString() << false;
    QTest::newRow("--debug") << QStringList{"--debug"} << QString() << true;
    QTest::newRow("QT_LOGGING_RULES") << QStringList() << "evtrak.eventfile=true" << true;
    QTest::newRow("QT_LOGGING_RULES over --debug")
        << QStringList{"--debug"} << "evtrak.*=false" << false;
}

void TestHeadless::readOnlyLogFailsQuietly()
{
    QFETCH(QStringList, extraArgs);
    QFETCH(QString, loggingRules);
    QFETCH(bool, diagnostics);
    Sandbox box;
    box.writeSettings("LogSaveAutoOnNewEvent=1\r\nCaptureStallThreshold=0\r\n");
    const QString log = box.dir.filePath(QStringLiteral("Log"));
    QVERIFY(QDir().mkpath(log));
    QCOMPARE(::chmod(QFile::encodeName(log).constData(), 0777), 0);
    WriteBytes(box.dailyFile(), "A;1;07/12/2026 10:00:00;5 ms\r\n");
    QCOMPARE(::chmod(QFile::encodeName(box.dailyFile()).constData(), 0444), 0);
    QStringList command =
        AsUnprivileged(box, QStringList{box.exe, QStringLiteral("--headless"),
                                        QStringLiteral("--port-device"), box.portFile} +
                                extraArgs);
    if (command.isEmpty())
        QSKIP("running as root without setpriv or the user nobody");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), loggingRules);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(box.dir.path());
    p.start(command.takeFirst(), command);
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Ctrl+C"), 20000);
    // Each toggle waits for its event: a loaded machine could otherwise merge them.
    QByteArray out;
    for (int i = 0; i < 30; ++i) {
        box.setPortByte(0x378, quint8(i % 2 == 0 ? 0x01 : 0x00));
        QTRY_COMPARE_WITH_TIMEOUT(Lines(out, p).size(), i + 1, 20000);
    }
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(20000));
    err += p.readAllStandardError();
    const int events = int(Lines(out, p).size());
    const QString text = QString::fromUtf8(err);
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(text.count(QStringLiteral("Écriture impossible dans")), 1);
    const int english =
        int(lines.filter(QRegularExpression(QStringLiteral("^evtrak\\.\\w"))).size());
    if (diagnostics) {
        QVERIFY2(text.contains(QStringLiteral("evtrak.eventfile: cannot append")),
                 qPrintable(text));
    } else {
        QCOMPARE(english, 0);
        // Port, journal, start, appends failing, and the save at exit: not one per event.
        QVERIFY2(lines.size() <= 8, qPrintable(QStringLiteral("%1 events:\n").arg(events) + text));
    }
}

// The port file must be able to stand for the port: a FIFO or a file shorter
// than the registers is refused with the reason and left as it is.
void TestHeadless::portDeviceThatCannotServeIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("FIFO") << "fifo"
                          << "est un tube nommé (FIFO)";
    QTest::newRow("10-byte file") << "short"
                                  << "fichier de 10 octets, trop court";
}

void TestHeadless::portDeviceThatCannotServeIsRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    Sandbox box;
    const QString path = box.dir.filePath(QStringLiteral("port.dev"));
    const QByteArray name = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(name.constData(), 0644), 0);
    else
        WriteBytes(path, QByteArray(10, '\0'));
    QProcess p;
    box.start(p, {QStringLiteral("--headless"), QStringLiteral("--port-device"), path});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(message) && !err.contains(QStringLiteral("Ctrl+C")), qPrintable(err));
    if (kind == QLatin1String("short"))
        QCOMPARE(QFileInfo(path).size(), 10); // never grown
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
