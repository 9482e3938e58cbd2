#include "eventlog/uEventFile.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace evtrak;

using evtrak::test::FileSizeLimit;
using evtrak::test::ReadBytes;
using evtrak::test::WriteBytes;

namespace {

QStringList Lines(const TEventList& list)
{
    QStringList out;
    for (int r = 0; r < list.rowCount(); ++r)
        out << list.fileLine(r);
    return out;
}

// The bytes of the file the list was saved into; empty when the save failed.
QByteArray SaveAndRead(const TEventList& list, const QString& name)
{
    return SaveEventFile(list, name, false) ? ReadBytes(name) : QByteArray();
}

} // namespace

class TestEventFile : public QObject
{
    Q_OBJECT
    TUserPrefs prefs = DefaultUserPrefs();

    void fill(TEventList& list, int rows)
    {
        std::vector<EventRecord> recs;
        for (int i = 0; i < rows; ++i)
            recs.push_back(EventRecord{QStringLiteral("Libellé_%1").arg(i % 13), i % 13,
                                       45000.25 - i / 86400.0, i * 7});
        list.AppendEvents(recs);
    }

private Q_SLOTS:
    void parseLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("date");
        QTest::addColumn<int>("ms");
        const QString zero = QStringLiteral("30/12/1899 00:00:00");
        const QString when = QStringLiteral("07/12/2026 14:05:11");
        QTest::newRow("written form") << "Libellé_3 [OFF];3;07/12/2026 14:05:11;1.874 s" << true
                                      << "Libellé_3 [OFF]" << 3 << when << 1874;
        QTest::newRow("bad date gives zero") << "X;3;garbage;5 ms" << true << "X" << 3 << zero << 5;
        QTest::newRow("bare ms") << "X;1;;1500" << true << "X" << 1 << zero << 1500;
        QTest::newRow("short seconds") << "X;1;;1.5 s" << true << "X" << 1 << zero << 1500;
        QTest::newRow("upper S") << "X;1;;1.500 S" << true << "X" << 1 << zero << 1500;
        QTest::newRow("upper MS") << "X;1;;2 MS" << true << "X" << 1 << zero << 2;
        QTest::newRow("exact seconds") << "X;1;;1.003 s" << true << "X" << 1 << zero << 1003;
        QTest::newRow("negative ms") << "X;1;;-5 ms" << true << "X" << 1 << zero << -5;
        QTest::newRow("decimal comma") << "X;1;;1,500 s" << true << "X" << 1 << zero << 1500;
        QTest::newRow("junk duration") << "X;1;;5 parsecs" << false << "" << 0 << "" << 0;
        QTest::newRow("duration overflow") << "X;1;;99999999999" << false << "" << 0 << "" << 0;
        QTest::newRow("empty label, blanks kept") << " ;3;x;0 ms" << true << " " << 3 << zero << 0;
        QTest::newRow("leading blanks in index") << "A;  7;x;1" << true << "A" << 7 << zero << 1;
        QTest::newRow("leading zeros") << "A;007;x;1" << true << "A" << 7 << zero << 1;
        QTest::newRow("fifth field ignored")
            << "A;1;7/12/2026 14:05:11;1;z" << true << "A" << 1 << when << 1;
        QTest::newRow("label with separator") << "a;b;1;x;1 ms" << false << "" << 0 << "" << 0;
        QTest::newRow("trailing blank in index") << "A;7 ;x;1" << false << "" << 0 << "" << 0;
        QTest::newRow("index overflow") << "A;2147483648;x;1" << false << "" << 0 << "" << 0;
        QTest::newRow("empty") << "" << false << "" << 0 << "" << 0;
        QTest::newRow("three fields") << "A;1;x" << false << "" << 0 << "" << 0;
        QTest::newRow("empty duration") << "A;1;x;" << true << "A" << 1 << zero << 0;
        QTest::newRow("control byte in label") << "A\x01;1;x;1" << false << "" << 0 << "" << 0;
    }
    void parseLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, accepted);
        const auto rec = ParseEventLine(line, 2026);
        QCOMPARE(rec.has_value(), accepted);
        if (!accepted)
            return;
        QTEST(rec->Label, "label");
        QTEST(int(rec->InputIndex), "index");
        QTEST(FormatEventDateTime(rec->DateTime), "date");
        QTEST(int(rec->DurationMs), "ms");
    }

    void readLineEndsAndEncodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("labels");
        const QByteArray a = "A;1;7/12/2026;1";
        const QByteArray b = "B;2;7/12/2026;2";
        QTest::newRow("crlf") << a + "\r\n" + b + "\r\n" << QStringList{"A", "B"};
        QTest::newRow("lf") << a + "\n" + b + "\n" << QStringList{"A", "B"};
        QTest::newRow("cr") << a + "\r" + b << QStringList{"A", "B"};
        QTest::newRow("mixed, blank lines") << a + "\n\r\n\r" + b << QStringList{"A", "B"};
        QTest::newRow("end of file byte") << a + "\r\n\x1A" + b << QStringList{"A"};
        QTest::newRow("cut line") << a + "\r\nB;2;7/12" << QStringList{"A"};
        QTest::newRow("windows-1252") << QByteArray("Entr\xE9"
                                                    "e \x80;1;x;1\r\n")
                                      << QStringList{"Entrée €"};
        QTest::newRow("utf-8") << QByteArray("Entr\xC3\xA9"
                                             "e \xE2\x82\xAC;1;x;1\n")
                               << QStringList{"Entrée €"};
        QTest::newRow("utf-8 line in a windows-1252 file")
            << QByteArray("\xE9t\xE9;1;x;1\r\n\xC3\xA9t\xC3\xA9;2;x;2\r\n")
            << QStringList{"été", "été"};
    }
    void readLineEndsAndEncodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, labels);
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        WriteBytes(name, bytes);
        const EventFileContent c = ReadEventFile(name, 2026);
        QVERIFY(c.Ok());
        QStringList got;
        for (const EventRecord& r : c.Records)
            got << r.Label;
        QCOMPARE(got, labels);
    }

    void saveThenLoadGivesSameRows()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("2026_12_07.txt"));
        TEventList list(prefs);
        fill(list, 1000);
        list.setData(list.index(5, 0), QStringLiteral("Entrée € édité"));
        QVERIFY(SaveEventFile(list, name, false));
        QByteArray expected;
        list.AppendFileBytes(expected, 0, list.rowCount());
        QCOMPARE(ReadBytes(name), expected);

        TEventList loaded(prefs);
        QAbstractItemModelTester tester(&loaded,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(LoadEventFile(loaded, name, 2026));
        QCOMPARE(Lines(loaded), Lines(list));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"2026_12_07.txt"});
    }

    void loadingNormalisesTexts()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        WriteBytes(name, "A;007;7/12/2026 9:05;1500 ms\r\nB;-3;7/12/26 9:05:01;0.25 s\r\n");
        prefs.LogDurationFormat = 1;
        TEventList list(prefs);
        QVERIFY(LoadEventFile(list, name, 2026));
        QCOMPARE(Lines(list), (QStringList{"B;-3;07/12/2026 09:05:01;0.250 s",
                                           "A;7;07/12/2026 09:05:00;1.500 s"}));
        prefs.LogDurationFormat = 2;
    }

    // Per-event saving appends oldest first after a newest-first save: whatever the
    // file's order, the list is newest on top, rows of one second as they were captured
    // (reversed where the file runs oldest first), and a save writes it back newest first.
    void loadingPutsNewestOnTop()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        WriteBytes(name, "head\r\n"
                         "N3;1;07/12/2026 10:00:03;5 ms\r\n"
                         "N1;1;07/12/2026 10:00:01;5 ms\r\n"
                         "A4;2;07/12/2026 10:00:04;5 ms\r\n"
                         "odd line\r\n"
                         "A5a;2;07/12/2026 10:00:05;5 ms\r\n"
                         "A5b;3;07/12/2026 10:00:05;5 ms\r\n"
                         "Z;3;not a date;5 ms\r\n"
                         "A6;2;07/12/2026 10:00:06;5 ms\r\n");
        TEventList list(prefs);
        QVERIFY(LoadEventFile(list, name, 2026));
        QStringList labels;
        for (int r = 0; r < list.rowCount(); ++r)
            labels << list.text(r, TEventList::ColLabel);
        QCOMPARE(labels, (QStringList{"A6", "A5b", "A5a", "A4", "N3", "N1", "Z"}));
        QCOMPARE(SaveAndRead(list, name), QByteArray("head\r\n"
                                                     "A6;2;07/12/2026 10:00:06;5 ms\r\n"
                                                     "A5b;3;07/12/2026 10:00:05;5 ms\r\n"
                                                     "odd line\r\n"
                                                     "A5a;2;07/12/2026 10:00:05;5 ms\r\n"
                                                     "A4;2;07/12/2026 10:00:04;5 ms\r\n"
                                                     "N3;1;07/12/2026 10:00:03;5 ms\r\n"
                                                     "N1;1;07/12/2026 10:00:01;5 ms\r\n"
                                                     "Z;3;30/12/1899 00:00:00;5 ms\r\n"));
        TEventList again(prefs);
        QVERIFY(LoadEventFile(again, name, 2026));
        QCOMPARE(Lines(again), Lines(list));
    }

    void loadingMissingFileEmptiesList()
    {
        TEventList list(prefs);
        fill(list, 3);
        QVERIFY(!LoadEventFile(list, QStringLiteral("/nonexistent/x.txt"), 2026));
        QCOMPARE(list.rowCount(), 0);
    }

    void backupThatCannotBeMadeDoesNotStopSave()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        WriteBytes(name, "previous\r\n");
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("f.bak/x"))); // not replaceable
        TEventList list(prefs);
        fill(list, 1);
        QVERIFY(SaveEventFile(list, name, true));
        QCOMPARE(ReadBytes(name), Lines(list).first().toLatin1() + "\r\n");
    }

    void failedSaveLeavesPreviousFile_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::newRow("no backup") << false;
        QTest::newRow("backup") << true;
    }
    void failedSaveLeavesPreviousFile()
    {
        QFETCH(bool, backup);
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        const QString bak = dir.filePath(QStringLiteral("f.bak"));
        WriteBytes(name, "previous\r\n");
        WriteBytes(bak, "older\r\n");
        TEventList list(prefs);
        fill(list, 5000); // far more than the limit below
        {
            FileSizeLimit limit(4096);
            QVERIFY(!SaveEventFile(list, name, backup));
        }
        QCOMPARE(ReadBytes(name), QByteArray("previous\r\n"));
        QCOMPARE(ReadBytes(bak), QByteArray("older\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary left
    }

    void saveIntoUnusableNames()
    {
        QTemporaryDir dir;
        TEventList list(prefs);
        fill(list, 1);
        QVERIFY(!SaveEventFile(list, dir.filePath(QStringLiteral("missing/f.txt")), true));
        QVERIFY(!SaveEventFile(list, dir.path(), true));
        QVERIFY(!SaveEventFile(list, QString(), false));
    }

    void appendAddsLinesAtEnd()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        QVERIFY(AppendEventLines(name, {QStringLiteral("Entrée;1;x;1 ms")}));
        QVERIFY(
            AppendEventLines(name, {QStringLiteral("B;2;x;2 ms"), QStringLiteral("C;3;x;3 ms")}));
        QCOMPARE(ReadBytes(name), QByteArray("Entr\xE9"
                                             "e;1;x;1 ms\r\nB;2;x;2 ms\r\nC;3;x;3 ms\r\n"));
        QVERIFY(!QFile::exists(BackupFileName(name)));
        QVERIFY(!AppendEventLines(dir.filePath(QStringLiteral("missing/f.txt")), {"A;1;x;1"}));
    }

    void backupNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("backup");
        QTest::newRow("daily") << "/a/Log/2026_12_07.txt"
                               << "/a/Log/2026_12_07.bak";
        QTest::newRow("no extension") << "/a/noext"
                                      << "/a/noext.bak";
        QTest::newRow("dot in folder") << "/a.b/name"
                                       << "/a.b/name.bak";
        QTest::newRow("two dots") << "a.b.txt"
                                  << "a.b.bak";
    }
    void backupNames()
    {
        QFETCH(QString, name);
        QTEST(BackupFileName(name), "backup");
    }

    // At every step of a save the file is whole (old, then new) and the backup holds a
    // whole earlier version: a kill at any moment loses nothing.
    void saveKeepsWholeFilesAtEveryStep()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        const QString bak = dir.filePath(QStringLiteral("f.bak"));
        WriteBytes(name, "previous\r\n");
        WriteBytes(bak, "older\r\n");
        TEventList list(prefs);
        fill(list, 3);
        QByteArray fresh;
        list.AppendFileBytes(fresh, 0, 3);
        QStringList seen;
        SetSafeWriteObserver([&](SafeWriteStep step) {
            const QByteArray now = ReadBytes(name);
            const QByteArray backup = ReadBytes(bak);
            seen << QStringLiteral("%1:%2:%3")
                        .arg(int(step))
                        .arg(now == fresh            ? "new"
                             : now == "previous\r\n" ? "old"
                                                     : "broken")
                        .arg(backup == "previous\r\n" ? "old"
                             : backup == "older\r\n"  ? "older"
                                                      : "broken");
        });
        const bool saved = SaveEventFile(list, name, true);
        SetSafeWriteObserver({});
        QVERIFY(saved);
        QCOMPARE(seen, (QStringList{"0:old:older", "1:old:old", "2:new:old"}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"f.bak", "f.txt"}));
        // Without backup the .bak is left alone.
        QVERIFY(SaveEventFile(list, name, false));
        QCOMPARE(ReadBytes(bak), QByteArray("previous\r\n"));
    }

    // What is not an event survives the next save byte for byte, in its place, also
    // when rows around it were deleted and events were captured on top.
    void linesNotUnderstoodSurviveSaves()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        WriteBytes(name, "-- notes \xE9quipe --\r\n"
                         "A;1;07/12/2026 10:00:00;1,500 s\r\n"
                         "a;b;1;x\r\n"
                         "B;2;07/12/2026 10:00:01;\n"
                         "C;3;07/12/2026 10:00:02;5 ms\r\n"
                         "trailer");
        TEventList list(prefs);
        QVERIFY(LoadEventFile(list, name, 2026));
        QCOMPARE(Lines(list),
                 (QStringList{"C;3;07/12/2026 10:00:02;5 ms", "B;2;07/12/2026 10:00:01;0 ms",
                              "A;1;07/12/2026 10:00:00;1.500 s"}));
        QCOMPARE(list.KeptLines().size(), std::size_t(3));
        list.DeleteRows({1});
        list.RecordEvent(CapturedEvent{false, false, 4, 7, 46363.5});
        QCOMPARE(SaveAndRead(list, name), QByteArray("Libell\xE9_4;4;07/12/2026 12:00:00;7 ms\r\n"
                                                     "-- notes \xE9quipe --\r\n"
                                                     "C;3;07/12/2026 10:00:02;5 ms\r\n"
                                                     "a;b;1;x\r\n"
                                                     "A;1;07/12/2026 10:00:00;1.500 s\r\n"
                                                     "trailer\r\n"));
        list.ClearEvents(); // the user's "Effacer tout" keeps them too
        QCOMPARE(SaveAndRead(list, name),
                 QByteArray("-- notes \xE9quipe --\r\na;b;1;x\r\ntrailer\r\n"));
    }

    // Whatever the duration format and the labels' characters, what is written reads
    // back as the same rows with the same durations.
    void writtenFilesReadBackWhateverTheSettings_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("3") << 3;
        QTest::newRow("-1") << -1;
        QTest::newRow("7") << 7;
        QTest::newRow("1") << 1;
    }
    void writtenFilesReadBackWhateverTheSettings()
    {
        QFETCH(int, format);
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("f.txt"));
        TUserPrefs p = DefaultUserPrefs();
        p.LogDurationFormat = format;
        p.Inputs[0].Label = QStringLiteral("Ωmega été");           // not all Windows-1252
        p.Inputs[1].Label = QString::fromUtf8("\xC3\x83\xC2\xA9"); // "Ã©": bytes of UTF-8
        TEventList list(p);
        for (int i = 0; i < 3; ++i)
            list.RecordEvent(CapturedEvent{true, i % 2 == 0, i % 2, 1234 * i, 46363.5 + i});
        QVERIFY(SaveEventFile(list, name, false));
        TEventList loaded(p);
        QVERIFY(LoadEventFile(loaded, name, 2026));
        QCOMPARE(Lines(loaded), Lines(list));
        QVERIFY(loaded.KeptLines().empty());
        TUserPrefs inMs = p;
        inMs.LogDurationFormat = 0;
        TEventList again(inMs);
        QVERIFY(LoadEventFile(again, name, 2026));
        QCOMPARE(again.text(0, TEventList::ColDuration), QStringLiteral("2468 ms"));
    }

    // Only regular files are read, without waiting on them, within a bound.
    void refusesWhatIsNotARegularFile()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo.txt"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString zero = dir.filePath(QStringLiteral("zero.txt"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
        const QString big = dir.filePath(QStringLiteral("big.txt"));
        WriteBytes(big, QByteArray(100, 'x'));
        const struct
        {
            QString name;
            qint64 max;
            const char* reason;
        } cases[] = {{fifo, kMaxEventFileBytes, "pas un fichier ordinaire"},
                     {zero, kMaxEventFileBytes, "pas un fichier ordinaire"},
                     {dir.path(), kMaxEventFileBytes, "dossier"},
                     {big, 99, "trop volumineux"}};
        for (const auto& c : cases) {
            const FileReadResult r = ReadRegularFile(c.name, c.max);
            QCOMPARE(r.State, FileReadResult::Refused);
            QVERIFY2(r.Reason.contains(QLatin1String(c.reason)), qPrintable(r.Reason));
        }
        QCOMPARE(ReadRegularFile(big, 100).Bytes.size(), 100);
        // A refused file leaves the list as it was.
        TEventList list(prefs);
        fill(list, 2);
        QVERIFY(!LoadEventFile(list, fifo, 2026));
        QCOMPARE(list.rowCount(), 2);
        QVERIFY(!AppendEventLines(fifo, {QStringLiteral("A;1;x;1")}));
        QVERIFY(!SaveEventFile(list, fifo, true));
        QVERIFY(!QFileInfo(fifo).isFile());
    }

    // A day's file that is a link to a file elsewhere: appends and full saves both reach
    // that file, the link stays, the backup lies beside the file it backs up.
    void saveThroughLink()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("data")));
        const QString real = dir.filePath(QStringLiteral("data/real.txt"));
        const QString link = dir.filePath(QStringLiteral("2026_12_07.txt"));
        WriteBytes(real, "previous\r\n");
        QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::link(QStringLiteral("data/real.txt"), link)); // relative, as ln -s makes
        TEventList list(prefs);
        fill(list, 2);
        QVERIFY(SaveEventFile(list, link, true));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(ReadBytes(real).count("\r\n"), 2);
        QCOMPARE(ReadBytes(dir.filePath(QStringLiteral("data/real.bak"))), "previous\r\n");
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("2026_12_07.bak"))));
        QVERIFY(!(QFile::permissions(real) & (QFile::ReadGroup | QFile::ReadOther)));
        QVERIFY(AppendEventLines(link, {Lines(list).first()}));
        QVERIFY(SaveEventFile(list, link, false));
        QVERIFY(AppendEventLines(link, {Lines(list).first()}));
        QCOMPARE(ReadBytes(real).count("\r\n"), 3);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("data"))).entryList(QDir::Files).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestEventFile)
#include "tst_eventfile.moc"
