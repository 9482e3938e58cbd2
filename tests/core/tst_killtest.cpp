// Kills the headless program with SIGKILL at random moments of its start, its capture
// and its save at exit, many times over, in one folder whose day's file keeps growing.
// After every kill the day's file and its .bak exist whole and parse; at the end a last
// run recovers what the journal kept, and no event older than a second before its
// kill is missing, none is doubled.
// EVTRAK_KILLTEST_ROUNDS (default 200) and EVTRAK_KILLTEST_SECONDS (default 240) bound
// the run; EVTRAK_KILLTEST_GRACE_MS (default 1000) is the age from which an event must
// have survived its kill.
#include "eventlog/uEventFile.h"
#include "ui/ktMisc.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <csignal>

namespace {

const QString kBinary = QStringLiteral(EVTRAK_BINARY_DIR "/src/evtrak");

int EnvInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

// Every line of a file an interrupted program left: it must read back whole.
QString CheckWhole(const QString& path, int* events = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 missing").arg(path);
    const QByteArray bytes = f.readAll();
    if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
        return QStringLiteral("%1 cut short").arg(path);
    const QStringList lines =
        evtrak::DecodeText(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString& line : lines)
        if (!evtrak::ParseEventLine(line, QDate::currentDate().year()))
            return QStringLiteral("%1: unreadable line \"%2\"").arg(path, line);
    if (events)
        *events = int(lines.size());
    return {};
}

} // namespace

class TestKillTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killsLoseNothingOlderThanASecond();
};

void TestKillTest::killsLoseNothingOlderThanASecond()
{
    QVERIFY2(QFileInfo::exists(kBinary), "build the evtrak target first");
    const int rounds = EnvInt("EVTRAK_KILLTEST_ROUNDS", 200);
    const int seconds = EnvInt("EVTRAK_KILLTEST_SECONDS", 240);
    const int graceMs = EnvInt("EVTRAK_KILLTEST_GRACE_MS", 1000);
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("evtrak"));
    QVERIFY(QFile::copy(kBinary, exe));
    const QString portFile = dir.filePath(QStringLiteral("port.bin"));
    QByteArray space(65536, '\0');
    space[0x379] = char(0x80); // status inputs at rest
    QFile port(portFile);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(port.write(space) == space.size() && port.flush());
    const auto setInput2 = [&port](bool high) {
        port.seek(0x378);
        port.write(QByteArray(1, high ? char(0x04) : char(0)));
        port.flush();
    };
    {
        QFile ini(dir.filePath(QStringLiteral("evtrak.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[UserPrefs]\r\nLogSaveMakeBackup=1\r\n");
    }
    // A day's file of some size, so that the save at exit takes a while.
    const QString day = dir.filePath(QStringLiteral("Log/") +
                                     QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) +
                                     QStringLiteral(".txt"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("Log"))));
    const int prefilled = 5000;
    {
        QFile f(day);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray line = "Ancien;5;01/01/2026 00:00:00;0 ms\r\n";
        f.write(line.repeated(prefilled));
    }

    QRandomGenerator rng(quint32(QDateTime::currentMSecsSinceEpoch()));
    QElapsedTimer total;
    total.start();
    int done = 0;
    int toggles = 0;
    int mustHave = 0; // toggles older than graceMs when their run was killed
    int kills[3] = {0, 0, 0};
    for (; done < rounds && total.elapsed() < seconds * 1000LL; ++done) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(exe, {QStringLiteral("--headless"), QStringLiteral("--port-device"), portFile});
        QVERIFY(p.waitForStarted());
        const int mode = rng.bounded(10); // 0: at start-up, 1-6: capturing, 7-9: saving
        if (mode == 0) {
            QThread::msleep(rng.bounded(60));
        } else {
            QByteArray err;
            QElapsedTimer wait;
            wait.start();
            while (!err.contains("Ctrl+C") && wait.elapsed() < 30000) {
                p.waitForReadyRead(50);
                err += p.readAllStandardError();
            }
            QVERIFY2(err.contains("Ctrl+C"), err.constData());
            const int life = rng.bounded(10) < 8 ? rng.bounded(400) : 1000 + rng.bounded(600);
            QElapsedTimer lived;
            lived.start();
            std::vector<qint64> flips;
            bool high = false;
            while (lived.elapsed() < life) {
                QThread::msleep(60 + rng.bounded(40));
                high = !high;
                setInput2(high);
                flips.push_back(lived.elapsed());
            }
            if (mode >= 7) {
                ::kill(pid_t(p.processId()), SIGTERM);
                QThread::msleep(rng.bounded(40));
            }
            const qint64 killedAt = lived.elapsed();
            toggles += int(flips.size());
            for (const qint64 t : flips)
                if (t < killedAt - graceMs)
                    ++mustHave;
        }
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(30000));
        ++kills[mode == 0 ? 0 : mode >= 7 ? 2 : 1];
        setInput2(false); // the next run starts at rest
        const QString dayError = CheckWhole(day);
        QVERIFY2(dayError.isEmpty(),
                 qPrintable(QStringLiteral("round %1: %2").arg(done).arg(dayError)));
        if (QFileInfo::exists(day + QStringLiteral(".bak")) ||
            QFileInfo::exists(
                QString(day).replace(QStringLiteral(".txt"), QStringLiteral(".bak")))) {
            const QString bak =
                QFileInfo::exists(day + QStringLiteral(".bak"))
                    ? day + QStringLiteral(".bak")
                    : QString(day).replace(QStringLiteral(".txt"), QStringLiteral(".bak"));
            const QString bakError = CheckWhole(bak);
            QVERIFY2(bakError.isEmpty(),
                     qPrintable(QStringLiteral("round %1: %2").arg(done).arg(bakError)));
        }
    }

    // A last run that ends in order takes what the journal kept into the day's file.
    QProcess last;
    last.setWorkingDirectory(dir.path());
    last.start(exe, {QStringLiteral("--headless"), QStringLiteral("--port-device"), portFile});
    QByteArray lastErr;
    QTRY_VERIFY2_WITH_TIMEOUT((lastErr += last.readAllStandardError()).contains("Ctrl+C"),
                              lastErr.constData(), 30000);
    ::kill(pid_t(last.processId()), SIGTERM);
    QVERIFY(last.waitForFinished(30000));
    QCOMPARE(last.exitCode(), 0);
    int rows = 0;
    const QString error = CheckWhole(day, &rows);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const int captured = rows - prefilled;
    qInfo("%d kills in %lld s (%d at start-up, %d capturing, %d saving); %d toggles, %d events "
          "kept, %d of them required (older than %d ms at the kill)",
          done, total.elapsed() / 1000, kills[0], kills[1], kills[2], toggles, captured, mustHave,
          graceMs);
    QVERIFY2(captured >= mustHave, "events older than the grace were lost");
    QVERIFY2(captured <= toggles, "events were doubled");
}

QTEST_GUILESS_MAIN(TestKillTest)
#include "tst_killtest.moc"
