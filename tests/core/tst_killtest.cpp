// Kills the headless program with SIGKILL at random moments of its start, its capture
// and its save at exit, many times over, in one folder whose day's file keeps growing.
// After every kill the day's file and its .bak exist whole and parse; at the end a last
// run recovers what the journal kept, and no event older than a second before its
// kill is missing, none is doubled.
// Then the same promise with the truth known, in the cases that break it most easily:
// the test flips the port file's inputs itself and reads the events the program prints
// on stdout; every event printed more than a second before a SIGKILL (or at all before a
// SIGTERM) must be in the file of its own day exactly once after the next start, and no
// file may hold an event more often than it was printed.
// EVTRAK_KILLTEST_ROUNDS (default 200) and EVTRAK_KILLTEST_SECONDS (default 240) bound
// the random run; EVTRAK_KILLTEST_GRACE_MS (default 1000) is the age from which an event
// must have survived its kill; EVTRAK_KILLTEST_TRIALS (default 8) is the number of
// same-second restarts, EVTRAK_KILLTEST_BOUNCE_FLIPS (default 200) the number of bounces,
// EVTRAK_KILLTEST_REPEAT (default 1) runs every other scenario that many times, each in
// a new folder.
#include "base/ktMisc.h"
#include "eventlog/uEventFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <csignal>
#include <functional>
#include <map>
#include <set>

namespace {

const QString kBinary = QStringLiteral(EVTRAK_BINARY_DIR "/src/evtrak");

int EnvInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

int GraceMs()
{
    return EnvInt("EVTRAK_KILLTEST_GRACE_MS", 1000);
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

// A portable copy of the program in a scratch folder, with its port file (every input
// at rest) and its settings.
class Folder
{
public:
    Folder()
    {
        QByteArray space(65536, '\0');
        space[0x379] = char(0x80); // status inputs at rest
        m_port.setFileName(path(QStringLiteral("port.bin")));
        // The marker keeps the copy's settings and Log folder beside it, never in $HOME.
        QFile portable(path(QStringLiteral("evtrak.portable")));
        m_ok = m_dir.isValid() && QFile::copy(kBinary, exe()) &&
               portable.open(QIODevice::WriteOnly) && m_port.open(QIODevice::ReadWrite) &&
               m_port.write(space) == space.size() && m_port.flush() && QDir().mkpath(logDir());
    }
    bool ok() const { return m_ok; }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString exe() const { return path(QStringLiteral("evtrak")); }
    QString portFile() const { return m_port.fileName(); }
    QString logDir() const { return path(QStringLiteral("Log")); }
    QString dayFile(QDate day) const
    {
        return logDir() + day.toString(QStringLiteral("/yyyy_MM_dd")) + QStringLiteral(".txt");
    }
    // The [UserPrefs] keys of evtrak.ini, each line ended by CR LF.
    bool writePrefs(const QByteArray& lines)
    {
        QFile ini(path(QStringLiteral("evtrak.ini")));
        return ini.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               ini.write("[UserPrefs]\r\n" + lines) > 0;
    }
    // The eight data inputs (input 2 is bit 2).
    void setInputs(quint8 bits)
    {
        m_port.seek(0x378);
        m_port.write(QByteArray(1, char(bits)));
        m_port.flush();
    }
    // n pulses on an input (2 unless said): 2n events, unless a stall of the sampling on
    // a busy machine swallows a pulse.
    void pulses(int n, int input = 2, int ms = 30)
    {
        for (int i = 0; i < n; ++i) {
            setInputs(quint8(1 << input));
            QThread::msleep(ms);
            setInputs(0);
            QThread::msleep(ms);
        }
    }

private:
    QTemporaryDir m_dir;
    QFile m_port;
    bool m_ok = false;
};

// What identifies an event whatever the label's text and the duration's format: its
// input, its date-time to the second and its state suffix.
struct EventKey
{
    int Input = 0;
    qint64 Seconds = 0;
    int Suffix = 0; // 0 none, 1 " [ON]", 2 " [OFF]"
    auto operator<=>(const EventKey&) const = default;
};

EventKey KeyOf(const evtrak::EventRecord& r)
{
    const int suffix = r.Label.endsWith(QLatin1String(" [ON]"))    ? 1
                       : r.Label.endsWith(QLatin1String(" [OFF]")) ? 2
                                                                   : 0;
    return {r.InputIndex, evtrak::SecondsFromDateTime(r.DateTime), suffix};
}

QDate DayOf(const EventKey& k)
{
    return QDate(1899, 12, 30).addDays(k.Seconds / 86400);
}

// The events printed by the runs of one scenario: all of them, and those that must be
// in the files.
struct Ledger
{
    std::map<EventKey, int> Printed;
    std::map<EventKey, int> Required;
    std::set<EventKey> Foreign; // printed by another copy of the program only
    int Unreadable = 0;         // printed lines that are no event
};

struct Tally
{
    int Printed = 0, Required = 0, Rows = 0, Lost = 0, Doubled = 0, Damaged = 0;
    void add(const Tally& t)
    {
        Printed += t.Printed, Required += t.Required, Rows += t.Rows;
        Lost += t.Lost, Doubled += t.Doubled, Damaged += t.Damaged;
    }
    bool exact() const { return Lost == 0 && Doubled == 0 && Damaged == 0; }
    QString text() const
    {
        return QString::asprintf("%d printed, %d required, %d rows in the files: lost %d, "
                                 "doubled %d, damaged %d",
                                 Printed, Required, Rows, Lost, Doubled, Damaged);
    }
};

// The one count of every scenario. Lost: required events missing from the file of their
// own day (yyyy_MM_dd.txt). Doubled: rows, in all the event files of logDir, beyond the
// number of times their event was printed (events only another copy printed aside).
// Damaged: lines that are no event, in the files or printed, and unreadable files.
Tally CountExactlyOnce(const Ledger& ledger, const QString& logDir)
{
    Tally t;
    t.Damaged = ledger.Unreadable;
    std::map<EventKey, int> inOwnDay, inFiles;
    const QFileInfoList files =
        QDir(logDir).entryInfoList({QStringLiteral("*.txt")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& file : files) {
        const QDate day = QDate::fromString(file.completeBaseName(), QStringLiteral("yyyy_MM_dd"));
        const evtrak::EventFileContent content =
            evtrak::ReadEventFile(file.filePath(), QDate::currentDate().year());
        t.Damaged += int(content.Kept.size()) + (content.Ok() ? 0 : 1);
        for (const evtrak::EventRecord& r : content.Records) {
            const EventKey key = KeyOf(r);
            ++inFiles[key];
            if (DayOf(key) == day)
                ++inOwnDay[key];
        }
        t.Rows += int(content.Records.size());
    }
    for (const auto& [key, n] : ledger.Printed)
        t.Printed += n;
    for (const auto& [key, n] : ledger.Required) {
        t.Required += n;
        t.Lost += std::max(0, n - inOwnDay[key]);
    }
    for (const auto& [key, n] : inFiles) {
        const auto printed = ledger.Printed.find(key);
        if (printed != ledger.Printed.end())
            t.Doubled += std::max(0, n - printed->second);
        else if (!ledger.Foreign.contains(key))
            t.Doubled += n;
    }
    return t;
}

// One headless run in a folder. The events it prints are timed as the test reads them
// (a little after the program printed them: the grace is counted in the run's favour).
class Run
{
public:
    explicit Run(Folder& folder, const QStringList& env = {})
    {
        if (!env.isEmpty()) {
            QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
            for (const QString& pair : env)
                e.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
            m_p.setProcessEnvironment(e);
        }
        m_p.setWorkingDirectory(folder.path(QString()));
        m_p.start(folder.exe(), {QStringLiteral("--headless"), QStringLiteral("--port-device"),
                                 folder.portFile()});
        m_p.waitForStarted();
        m_age.start();
    }
    ~Run()
    {
        signal(SIGKILL);
        m_p.waitForFinished(30000);
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    qint64 pid() const { return m_p.processId(); }
    // Never to a process id of 0 (the test's own group) once the run has ended.
    void signal(int sig)
    {
        if (running() && m_p.processId() > 0)
            ::kill(pid_t(m_p.processId()), sig);
    }
    qint64 age() const { return m_age.elapsed(); }
    const QByteArray& err() const { return m_err; }
    int printed() const { return int(m_events.size()); }
    bool running() const { return m_p.state() != QProcess::NotRunning; }
    // The exit status, -1 when it still runs or did not exit.
    int exitStatus() const
    {
        return running() || m_p.exitStatus() != QProcess::NormalExit ? -1 : m_p.exitCode();
    }
    // Reads the output until done() holds, the program has ended or ms have passed.
    bool pumpUntil(const std::function<bool()>& done, qint64 ms)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            drain();
            if (done())
                return true;
            if (!running() || t.elapsed() >= ms)
                return false;
            m_p.waitForReadyRead(int(std::clamp<qint64>(ms - t.elapsed(), 1, 5)));
        }
    }
    bool capturing()
    {
        return pumpUntil([this] { return m_err.contains("Ctrl+C"); }, 30000);
    }
    // Waits for n printed events, at most a second: a pulse lost in a stall of the
    // sampling is no fault, the events printed are the truth.
    void settle(int n)
    {
        pumpUntil([this, n] { return printed() >= n; }, 1000);
    }
    void idle(qint64 ms)
    {
        pumpUntil([] { return false; }, ms);
    }
    void finish()
    {
        pumpUntil([] { return false; }, 30000);
    }
    // SIGKILL: what was printed more than the grace before is required (nothing of a
    // foreign copy's).
    void kill(Ledger* ledger, bool foreign = false)
    {
        drain();
        const qint64 at = m_age.elapsed();
        signal(SIGKILL);
        finish();
        record(ledger, at - GraceMs(), foreign);
    }
    // SIGTERM: everything printed is required. Returns the exit status.
    int stop(Ledger* ledger, bool foreign = false)
    {
        signal(SIGTERM);
        finish();
        record(ledger, std::numeric_limits<qint64>::max(), foreign);
        return exitStatus();
    }

private:
    void drain()
    {
        m_err += m_p.readAllStandardError();
        m_out += m_p.readAllStandardOutput();
        qsizetype end;
        while ((end = m_out.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_out.left(end));
            m_out.remove(0, end + 1);
            if (const auto rec = evtrak::ParseEventLine(line, QDate::currentDate().year()))
                m_events.emplace_back(KeyOf(*rec), m_age.elapsed());
            else
                ++m_unreadable;
        }
    }
    void record(Ledger* ledger, qint64 requiredBefore, bool foreign) const
    {
        if (!ledger)
            return;
        ledger->Unreadable += m_unreadable; // a line cut by SIGKILL aside
        for (const auto& [key, at] : m_events) {
            if (foreign) {
                ledger->Foreign.insert(key);
                continue;
            }
            ++ledger->Printed[key];
            if (at < requiredBefore)
                ++ledger->Required[key];
        }
    }

    QProcess m_p;
    QElapsedTimer m_age;
    QByteArray m_out, m_err;
    std::vector<std::pair<EventKey, qint64>> m_events;
    int m_unreadable = 0;
};

// Runs a scenario EVTRAK_KILLTEST_REPEAT times, each in a new folder, and prints the
// sum of its counts.
Tally RunScenario(const char* name, const std::function<void(Folder&, Ledger&)>& once)
{
    Tally sum;
    QElapsedTimer took;
    took.start();
    for (int i = EnvInt("EVTRAK_KILLTEST_REPEAT", 1); i > 0 && !QTest::currentTestFailed(); --i) {
        Folder folder;
        if (!folder.ok()) {
            QTest::qFail("cannot prepare the scratch folder", __FILE__, __LINE__);
            break;
        }
        Ledger ledger;
        once(folder, ledger);
        sum.add(CountExactlyOnce(ledger, folder.logDir()));
    }
    qInfo("%s: %s (%lld ms)", name, qPrintable(sum.text()), took.elapsed());
    return sum;
}

// The Log folder's files and their contents.
std::map<QString, QByteArray> Snapshot(const QString& dir)
{
    std::map<QString, QByteArray> out;
    for (const QFileInfo& f :
         QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        QFile file(f.filePath());
        out[f.fileName()] = file.open(QIODevice::ReadOnly)
                                ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1)
                                : QByteArray("?");
    }
    return out;
}

// The environment that starts the program's wall clock at a given local time (the
// monotonic clock stays real, so that timers and the sampling keep their pace); empty
// when libfaketime is not installed.
QStringList WallClockAt(const char* localTime)
{
    const QString lib = qEnvironmentVariable("EVTRAK_KILLTEST_FAKETIME_LIB");
    for (const QString& candidate :
         {lib, QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"),
          QStringLiteral("/usr/lib/aarch64-linux-gnu/faketime/libfaketimeMT.so.1"),
          QStringLiteral("/usr/lib/faketime/libfaketimeMT.so.1")})
        if (!candidate.isEmpty() && QFileInfo(candidate).isFile())
            return {QStringLiteral("LD_PRELOAD=") + candidate,
                    QStringLiteral("FAKETIME=@") + QLatin1String(localTime),
                    QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC=1"),
                    // An ASan build wants its run-time first: the preload comes first here.
                    QStringLiteral("ASAN_OPTIONS=") + qEnvironmentVariable("ASAN_OPTIONS") +
                        QStringLiteral(":verify_asan_link_order=0")};
    return {};
}

} // namespace

class TestKillTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killsLoseNothingOlderThanASecond();
    void sameSecondRestarts();
    void contactBounceKeepsIdenticalEvents();
    void settingsChangedBetweenKillAndRestart_data();
    void settingsChangedBetweenKillAndRestart();
    void journalFromThePreviousDay_data();
    void journalFromThePreviousDay();
    void secondCopyOnOneFolder_data();
    void secondCopyOnOneFolder();
};

void TestKillTest::killsLoseNothingOlderThanASecond()
{
    QVERIFY2(QFileInfo::exists(kBinary), "build the evtrak target first");
    const int rounds = EnvInt("EVTRAK_KILLTEST_ROUNDS", 200);
    const int seconds = EnvInt("EVTRAK_KILLTEST_SECONDS", 240);
    const int graceMs = GraceMs();
    Folder folder;
    QVERIFY(folder.ok());
    QVERIFY(folder.writePrefs("LogSaveMakeBackup=1\r\n"));
    // A day's file of some size, so that the save at exit takes a while.
    const QString day = folder.dayFile(QDate::currentDate());
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
        Run p(folder);
        const int mode = rng.bounded(10); // 0: at start-up, 1-6: capturing, 7-9: saving
        if (mode == 0) {
            QThread::msleep(rng.bounded(60));
        } else {
            QVERIFY2(p.capturing(), p.err().constData());
            const int life = rng.bounded(10) < 8 ? rng.bounded(400) : 1000 + rng.bounded(600);
            QElapsedTimer lived;
            lived.start();
            std::vector<qint64> flips;
            bool high = false;
            while (lived.elapsed() < life) {
                QThread::msleep(60 + rng.bounded(40));
                high = !high;
                folder.setInputs(high ? 0x04 : 0);
                flips.push_back(lived.elapsed());
            }
            if (mode >= 7) {
                p.signal(SIGTERM);
                QThread::msleep(rng.bounded(40));
            }
            const qint64 killedAt = lived.elapsed();
            toggles += int(flips.size());
            for (const qint64 t : flips)
                if (t < killedAt - graceMs)
                    ++mustHave;
        }
        p.kill(nullptr);
        ++kills[mode == 0 ? 0 : mode >= 7 ? 2 : 1];
        folder.setInputs(0); // the next run starts at rest
        const QString dayError = CheckWhole(day);
        QVERIFY2(dayError.isEmpty(),
                 qPrintable(QStringLiteral("round %1: %2").arg(done).arg(dayError)));
        const QString bak = evtrak::BackupFileName(day);
        if (QFileInfo::exists(bak)) {
            const QString bakError = CheckWhole(bak);
            QVERIFY2(bakError.isEmpty(),
                     qPrintable(QStringLiteral("round %1: %2").arg(done).arg(bakError)));
        }
    }

    // A last run that ends in order takes what the journal kept into the day's file.
    Run last(folder);
    QVERIFY2(last.capturing(), last.err().constData());
    QCOMPARE(last.stop(nullptr), 0);
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

// A run saves at SIGTERM, the next one starts in the same second, records and is killed;
// a third recovers. Rows saved by the first run and events of the second share seconds.
void TestKillTest::sameSecondRestarts()
{
    const int trials = EnvInt("EVTRAK_KILLTEST_TRIALS", 8);
    const Tally t = RunScenario("same-second restarts", [trials](Folder& f, Ledger& ledger) {
        for (int i = 0; i < trials; ++i) {
            Run saved(f);
            QVERIFY2(saved.capturing(), saved.err().constData());
            f.pulses(3);
            saved.settle(6);
            QCOMPARE(saved.stop(&ledger), 0);
            Run killed(f);
            QVERIFY2(killed.capturing(), killed.err().constData());
            f.pulses(3);
            killed.settle(6);
            killed.idle(GraceMs() + 100);
            killed.kill(&ledger);
            Run recovers(f);
            QVERIFY2(recovers.capturing(), recovers.err().constData());
            QCOMPARE(recovers.stop(&ledger), 0);
        }
    });
    QVERIFY2(t.exact() && t.Required > 0, qPrintable(t.text()));
}

// Sub-millisecond bounce on one input: records identical to the byte are distinct events.
void TestKillTest::contactBounceKeepsIdenticalEvents()
{
    const int flips = EnvInt("EVTRAK_KILLTEST_BOUNCE_FLIPS", 200);
    const Tally t = RunScenario("contact bounce", [flips](Folder& f, Ledger& ledger) {
        Run bouncing(f);
        QVERIFY2(bouncing.capturing(), bouncing.err().constData());
        for (int i = 0; i < flips; ++i) {
            f.setInputs(i % 2 ? 0 : 0x04);
            QThread::usleep(100);
        }
        f.setInputs(0);
        bouncing.idle(GraceMs() + 100);
        bouncing.kill(&ledger);
        Run recovers(f);
        QVERIFY2(recovers.capturing(), recovers.err().constData());
        QCOMPARE(recovers.stop(&ledger), 0);
    });
    QVERIFY2(t.exact() && t.Required > 0, qPrintable(t.text()));
}

void TestKillTest::settingsChangedBetweenKillAndRestart_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("label") << QByteArray("LogSaveAutoOnNewEvent=1\r\n")
                           << QByteArray("LogSaveAutoOnNewEvent=1\r\nLogEvent2Label=Pompe 2\r\n");
    QTest::newRow("duration format")
        << QByteArray("LogSaveAutoOnNewEvent=1\r\nLogDurationFormat=0\r\n")
        << QByteArray("LogSaveAutoOnNewEvent=1\r\nLogDurationFormat=1\r\n");
}

// Per-event saving, a kill, then settings that change the rows' texts before the restart.
void TestKillTest::settingsChangedBetweenKillAndRestart()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const Tally t = RunScenario("settings changed", [&](Folder& f, Ledger& ledger) {
        QVERIFY(f.writePrefs(before));
        Run appending(f);
        QVERIFY2(appending.capturing(), appending.err().constData());
        f.pulses(4);
        appending.settle(8);
        appending.idle(GraceMs() + 100);
        appending.kill(&ledger);
        QVERIFY(f.writePrefs(after));
        Run recovers(f);
        QVERIFY2(recovers.capturing(), recovers.err().constData());
        QCOMPARE(recovers.stop(&ledger), 0);
    });
    QVERIFY2(t.exact() && t.Required > 0, qPrintable(t.text()));
}

void TestKillTest::journalFromThePreviousDay_data()
{
    QTest::addColumn<QByteArray>("prefs");
    QTest::addColumn<bool>("afterMidnight");
    // Events of the evening only: they stay in the evening's file.
    QTest::newRow("per event") << QByteArray("LogSaveAutoOnNewEvent=1\r\n") << false;
    // Events on both sides of midnight, each in its day's file.
    QTest::newRow("per event, daily files")
        << QByteArray("LogSaveAutoOnNewEvent=1\r\nLogSaveAutoOnNewDay=1\r\n") << true;
}

// A run started at 23:59:57 (on its own clock) records, passes midnight and is killed;
// the next start, the next day, finds its journal.
void TestKillTest::journalFromThePreviousDay()
{
    QFETCH(QByteArray, prefs);
    QFETCH(bool, afterMidnight);
    if (WallClockAt("2026-12-07 23:59:57").isEmpty())
        QSKIP("libfaketime is missing (Debian package faketime): the program's clock cannot "
              "be moved");
    const Tally t = RunScenario("journal of the previous day", [&](Folder& f, Ledger& ledger) {
        QVERIFY(f.writePrefs(prefs));
        Run evening(f, WallClockAt("2026-12-07 23:59:57"));
        QVERIFY2(evening.capturing(), evening.err().constData());
        // Long pulses: the preloaded clock makes the sampling stall more often.
        f.pulses(2, 2, 100);
        evening.settle(4);
        evening.idle(3500 - evening.age()); // its clock is now past midnight
        if (afterMidnight) {
            f.pulses(2, 2, 100);
            evening.settle(8);
        }
        evening.idle(GraceMs() + 100);
        evening.kill(&ledger);
        Run morning(f, WallClockAt("2026-12-08 00:00:20"));
        QVERIFY2(morning.capturing(), morning.err().constData());
        QCOMPARE(morning.stop(&ledger), 0);
        // The program's clock really was where the scenario needs it.
        std::set<QDate> days;
        QStringList seen;
        for (const auto& [key, n] : ledger.Printed) {
            days.insert(DayOf(key));
            seen << QDateTime(DayOf(key), QTime(0, 0).addSecs(int(key.Seconds % 86400)))
                        .toString(QStringLiteral("dd/MM hh:mm:ss"));
        }
        QVERIFY2(days == (afterMidnight ? std::set{QDate(2026, 12, 7), QDate(2026, 12, 8)}
                                        : std::set{QDate(2026, 12, 7)}),
                 qPrintable(seen.join(QStringLiteral(", "))));
    });
    QVERIFY2(t.exact() && t.Required > 0, qPrintable(t.text()));
}

void TestKillTest::secondCopyOnOneFolder_data()
{
    QTest::addColumn<bool>("kill");
    QTest::addColumn<bool>("secondEndsFirst");
    QTest::newRow("stopped, first copy first") << false << false;
    QTest::newRow("stopped, second copy first") << false << true;
    QTest::newRow("killed, first copy first") << true << false;
    QTest::newRow("killed, second copy first") << true << true;
}

// A second headless copy started on a Log folder that a capturing copy owns refuses at
// once (status 2, a message naming the owner) and changes nothing there; the first
// copy's events are saved exactly once whichever ends first and however.
void TestKillTest::secondCopyOnOneFolder()
{
    QFETCH(bool, kill);
    QFETCH(bool, secondEndsFirst);
    int secondStatus = 2;
    bool secondNamesOwner = true;
    bool untouched = true;
    QByteArray secondErr;
    const Tally t = RunScenario("second copy", [&](Folder& f, Ledger& ledger) {
        Run first(f);
        QVERIFY2(first.capturing(), first.err().constData());
        f.pulses(3);
        first.settle(6);
        const auto before = Snapshot(f.logDir());
        Run second(f);
        second.pumpUntil([&second] { return second.err().contains("Ctrl+C"); }, 10000);
        untouched = untouched && Snapshot(f.logDir()) == before;
        if (second.exitStatus() != 2)
            secondStatus = second.exitStatus();
        secondNamesOwner =
            secondNamesOwner && second.err().contains(QByteArray::number(first.pid()));
        secondErr = second.err();
        f.pulses(3);
        first.settle(12);
        // Each copy's output is read while the other's grace runs.
        const auto idleBoth = [&first, &second](qint64 ms) {
            QElapsedTimer both;
            both.start();
            while (both.elapsed() < ms && (first.running() || second.running())) {
                first.idle(5);
                second.idle(5);
            }
        };
        const auto end = [&](Run& run) {
            if (kill)
                idleBoth(GraceMs() + 100);
            const bool foreign = &run == &second;
            if (kill)
                run.kill(&ledger, foreign);
            else
                run.stop(&ledger, foreign);
        };
        end(secondEndsFirst ? second : first);
        // Recorded by the copy still running only; on another input, so that they never
        // share a second and an input with the events the other copy printed.
        f.pulses(3, 3);
        idleBoth(200);
        end(secondEndsFirst ? first : second);
        Run recovers(f);
        QVERIFY2(recovers.capturing(), recovers.err().constData());
        QCOMPARE(recovers.stop(&ledger), 0);
    });
    qInfo("second copy: exit status %d, stderr \"%s\"", secondStatus, secondErr.constData());
    QVERIFY2(t.exact() && t.Required > 0, qPrintable(t.text()));
    QCOMPARE(secondStatus, 2);
    QVERIFY2(untouched, "the second copy changed the Log folder");
    QVERIFY2(secondNamesOwner, "the second copy's message does not give the owner's process id");
}

QTEST_GUILESS_MAIN(TestKillTest)
#include "tst_killtest.moc"
