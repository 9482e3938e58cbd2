// The recovery journal on its own: its records survive damage around them, and what it
// says is in a file is believed only when the file, as it is now, confirms it.
#include "eventlog/uEventFile.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using namespace evtrak;

namespace {

const QDate kToday(2026, 12, 8);

JournalEvent EventAt(const QDate& day, int second, int input = 2, bool on = true)
{
    const qint64 ms = QDateTime(day, QTime(10, 0, 0)).toMSecsSinceEpoch() + second * 1000;
    return JournalEvent{ms, input, on ? 0 : 40, true, on};
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The events of a list as the capture hands them over, appended to file through the
// journal (per-event saving).
void AppendThroughJournal(TJournal& journal, const QString& file,
                          std::span<const JournalEvent> events, const TUserPrefs& prefs)
{
    journal.Append(events.data(), events.size());
    QStringList text;
    for (const CapturedEvent& e : ToCaptured(events))
        text << EventLineText(
            GetInputPrefs(prefs, e.InputIndex).Label, MakeSuffix(e.Suffix, e.State), e.InputIndex,
            SecondsFromDateTime(e.DateTime), e.DurationMs, prefs.LogDurationFormat);
    const bool ok =
        AppendEventLines(file, text, [&](qint64 offset, qint64 size, std::uint32_t crc) {
            journal.NoteAppend(file, offset, size, crc, std::size_t(text.size()));
        });
    journal.AppendDone(file, ok);
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readingResynchronisesAfterDamage();
    void eventsAreSettledOnlyByWhatTheFilesHold();
    void recoveryPutsEachDayInItsFileOnce();
    void recoveryKeepsTheFilesOwnLinesInPlace();
    void whatCannotBeAJournalIsKeptAside();
};

void TestJournal::readingResynchronisesAfterDamage()
{
    // The standard CRC-32 check value, also across the eight-byte steps.
    QCOMPARE(Crc32Update(0, "123456789", 9), 0xCBF43926u);
    QCOMPARE(Crc32Update(Crc32Update(0, "12345678", 8), "9", 1), 0xCBF43926u);
    QTemporaryDir dir;
    const QString path = TJournal::PathIn(dir.path());
    // Bounce: byte-identical events are distinct events.
    std::vector<JournalEvent> events(40, EventAt(kToday, 1));
    for (std::size_t i = 0; i < events.size(); i += 3)
        events[i].InputIndex = int(i % 13);
    {
        TJournal journal(path);
        QVERIFY(journal.Open(events));
    }
    const QByteArray whole = ReadAll(path);
    const qsizetype record = whole.size() / qsizetype(events.size());
    QCOMPARE(record * qsizetype(events.size()), whole.size());

    // A damaged record in the middle, garbage that looks like the start of records
    // between two others, and a record torn at the end.
    QByteArray damaged = whole;
    damaged[record * 10 + 12] = char(damaged[record * 10 + 12] ^ 0x10);
    damaged.insert(record * 20, QByteArray("\xE7\x4A"
                                           "E\x16\x00"
                                           "\xE7\xE7\x4A",
                                           8));
    damaged.chop(7);
    WriteAll(path, damaged);
    const std::vector<JournalEvent> read = TJournal::ReadEvents(path);
    QCOMPARE(read.size(), events.size() - 2);
    // Every record after the damage is there, in order.
    for (std::size_t i = 11; i + 1 < events.size(); ++i)
        QCOMPARE(read[i - 1].InputIndex, events[i].InputIndex);

    TJournal journal(path);
    const JournalFindings found = journal.Scan();
    QVERIFY(found.Problem.isEmpty());
    QCOMPARE(found.Events.size(), events.size() - 2);
}

void TestJournal::eventsAreSettledOnlyByWhatTheFilesHold()
{
    QTemporaryDir dir;
    const TUserPrefs prefs = DefaultUserPrefs();
    const QString path = TJournal::PathIn(dir.path());
    const QString day = dir.filePath(QStringLiteral("2026_12_08.txt"));
    const JournalEvent first[] = {EventAt(kToday, 1), EventAt(kToday, 1, 2, false)};
    const JournalEvent second[] = {EventAt(kToday, 2), EventAt(kToday, 2, 2, false),
                                   EventAt(kToday, 2)};
    {
        TJournal journal(path);
        QVERIFY(journal.Open());
        AppendThroughJournal(journal, day, first, prefs);
        AppendThroughJournal(journal, day, second, prefs);
    }
    // Both appends are in the file: nothing to offer, even with labels since renamed.
    const QByteArray appended = ReadAll(day);
    QCOMPARE(TJournal(path).Scan().Events.size(), std::size_t(0));

    // Killed in the middle of the second append, or cut off by a power cut after the
    // system grew the file but before its data reached the disk (zeros): the file ends
    // where the second append began, its events come back.
    const qsizetype firstEnd = appended.indexOf("\r\n", appended.indexOf("\r\n") + 2) + 2;
    JournalFindings found;
    for (const QByteArray& tail :
         {appended.mid(firstEnd, 9), QByteArray(appended.size() - firstEnd, '\0')}) {
        WriteAll(day, appended.left(firstEnd) + tail);
        found = TJournal(path).Scan();
        QCOMPARE(found.Events.size(), std::size_t(3));
        QCOMPARE(found.CutFile, day);
        QCOMPARE(ReadAll(day), appended.left(firstEnd));
    }
    // A file that grew beyond what was appended to it was written by someone else: left
    // alone.
    WriteAll(day, appended.left(firstEnd) + QByteArray(appended.size(), 'x'));
    QVERIFY(TJournal(path).Scan().CutFile.isEmpty());
    WriteAll(day, appended.left(firstEnd));

    // A full save that reached its file before the kill settles every event before it;
    // one that did not reach it (renamed over nothing) settles none.
    for (const bool reached : {false, true}) {
        TJournal journal(path);
        QVERIFY(journal.Open(second));
        TEventList list(prefs);
        QVERIFY(LoadEventFile(list, day, 2026));
        list.InsertEvents(ToCaptured(second));
        const bool saved = SaveEventFile(list, day, false, [&](qint64 size, std::uint32_t crc) {
            journal.NoteSave(day, size, crc);
            return reached; // false: killed before the rename
        });
        QCOMPARE(saved, reached);
        found = TJournal(path).Scan();
        QCOMPARE(found.Events.size(), reached ? std::size_t(0) : std::size_t(3));
    }
}

void TestJournal::recoveryPutsEachDayInItsFileOnce()
{
    QTemporaryDir dir;
    const TUserPrefs prefs = DefaultUserPrefs();
    const QString logDir = dir.path() + u'/';
    const QString path = TJournal::PathIn(logDir);
    const QDate yesterday = kToday.addDays(-1);
    const QString yesterdayFile = logDir + QStringLiteral("2026_12_07.txt");
    WriteAll(yesterdayFile, "Ancien;5;07/12/2026 09:00:00;0 ms\r\n");
    const JournalEvent events[] = {EventAt(yesterday, 3590), EventAt(yesterday, 3599),
                                   EventAt(kToday, 5), EventAt(kToday, 6, 4)};
    {
        TJournal journal(path);
        QVERIFY(journal.Open(events));
    }
    // The fresh journal cannot be made (killed before it replaced the old one): the old
    // one stays, and what went to yesterday's file is not offered again.
    QVERIFY(QDir().mkdir(path + QStringLiteral(".new")));
    {
        TJournal journal(path);
        const JournalFindings found = journal.Scan();
        QCOMPARE(found.Events.size(), std::size_t(4));
        TEventList list(prefs);
        const RecoveryResult r = RecoverEvents(journal, found, list, prefs, logDir, kToday);
        QCOMPARE(r.IntoDayFiles, 2);
        QCOMPARE(r.IntoList, 2);
        QCOMPARE(list.rowCount(), 2);
        QVERIFY(!journal.IsOpen());
    }
    QVERIFY(QDir().rmdir(path + QStringLiteral(".new")));
    QCOMPARE(ReadEventFile(yesterdayFile, 2026).Records.size(), std::size_t(3));
    TJournal journal(path);
    const JournalFindings again = journal.Scan();
    QCOMPARE(again.Events.size(), std::size_t(2));
    TEventList list(prefs);
    const RecoveryResult r = RecoverEvents(journal, again, list, prefs, logDir, kToday);
    QCOMPARE(r.IntoDayFiles, 0);
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(ReadEventFile(yesterdayFile, 2026).Records.size(), std::size_t(3));
    // The fresh journal holds today's two, still waiting for their file.
    QVERIFY(journal.IsOpen());
    QCOMPARE(TJournal::ReadEvents(path).size(), std::size_t(2));
}

// Events put back into a day's file go in by date-time; the lines of the file that are
// not events stay above the rows they were above, in their order.
void TestJournal::recoveryKeepsTheFilesOwnLinesInPlace()
{
    QTemporaryDir dir;
    const TUserPrefs prefs = DefaultUserPrefs();
    const QString logDir = dir.path() + u'/';
    const QDate yesterday = kToday.addDays(-1);
    const QString dayFile = logDir + QStringLiteral("2026_12_07.txt");
    WriteAll(dayFile, "note\r\nB;5;07/12/2026 10:59:00;0 ms\r\nmid\r\n"
                      "A;5;07/12/2026 09:00:00;1,500 s\r\nend\r\n");
    const JournalEvent events[] = {EventAt(yesterday, 3590), EventAt(yesterday, 3599, 3, false),
                                   EventAt(yesterday, 3599, 4), EventAt(yesterday, -7200)};
    {
        TJournal journal(TJournal::PathIn(logDir));
        QVERIFY(journal.Open(events));
    }
    TJournal journal(TJournal::PathIn(logDir));
    TEventList list(prefs);
    QCOMPARE(RecoverEvents(journal, journal.Scan(), list, prefs, logDir, kToday).IntoDayFiles, 4);
    QCOMPARE(ReadAll(dayFile), QByteArray("Libell\xE9_4 [ON];4;07/12/2026 10:59:59;0 ms\r\n"
                                          "Libell\xE9_3 [OFF];3;07/12/2026 10:59:59;40 ms\r\n"
                                          "Libell\xE9_2 [ON];2;07/12/2026 10:59:50;0 ms\r\n"
                                          "note\r\n"
                                          "B;5;07/12/2026 10:59:00;0 ms\r\n"
                                          "mid\r\n"
                                          "A;5;07/12/2026 09:00:00;1.500 s\r\n"
                                          "Libell\xE9_2 [ON];2;07/12/2026 08:00:00;0 ms\r\n"
                                          "end\r\n"));
}

void TestJournal::whatCannotBeAJournalIsKeptAside()
{
    QTemporaryDir dir;
    const QString path = TJournal::PathIn(dir.path());
    const auto check = [&](const char* what) {
        TJournal journal(path);
        const JournalFindings found = journal.Scan();
        QVERIFY2(found.Problem.contains(QStringLiteral("mis de côté")), what);
        QVERIFY2(!QFileInfo::exists(path), what);
        QVERIFY2(journal.Open(), what);
        QVERIFY(QFile::remove(path));
    };
    // Larger than any journal (sparse, nothing read).
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::ftruncate(fd, TJournal::kMaxBytes + 1), 0);
        ::close(fd);
        check("too large");
    }
    // Bytes that hold no record at all (an older format, or garbage).
    WriteAll(path, QByteArray(4096, '\x55'));
    check("unreadable");
    // A link is never followed.
    const QString victim = dir.filePath(QStringLiteral("victim"));
    WriteAll(victim, "keep");
    QVERIFY(QFile::link(victim, path));
    check("link");
    QCOMPARE(ReadAll(victim), QByteArray("keep"));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*non_recupere*")}).size(), 3);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
