#include "base/uResStr.h"
#include "eventlog/uSavingPolicy.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace evtrak;
using evtrak::test::FakeClock;
using evtrak::test::ScriptedPrompt;

using evtrak::test::ReadBytes;
using evtrak::test::WriteBytes;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(14, 5, 9));
const QDateTime kAfterMidnight(QDate(2026, 12, 8), QTime(0, 0, 1));

} // namespace

class TestSavingPolicy : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> tmp;
    QString logDir;
    TUserPrefs prefs;
    std::unique_ptr<TEventList> list;
    ScriptedPrompt prompt;
    FakeClock clock{kStart};
    bool capturing = false;
    std::unique_ptr<TSavingPolicy> policy;

    QString logFile(const QString& name) const { return logDir + name; }

    void capture(int input, int second = 10)
    {
        const QDateTime when = clock.now().addSecs(second - clock.now().time().second());
        list->RecordEvent(CapturedEvent{true, true, input, 0, DateTimeFromQt(when)});
    }

private Q_SLOTS:
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        logDir = tmp->path() + QStringLiteral("/Log/");
        QVERIFY(QDir().mkpath(logDir));
        prefs = DefaultUserPrefs();
        prompt = ScriptedPrompt();
        clock.set(kStart);
        capturing = false;
        list = std::make_unique<TEventList>(prefs);
        policy = std::make_unique<TSavingPolicy>(*list, prefs, prompt, clock);
        policy->setCaptureRunningQuery([this] { return capturing; });
        policy->SetLogDir(logDir.chopped(1)); // the missing '/' is added
        policy->InitDay();
    }
    void cleanup()
    {
        policy.reset();
        list.reset();
        tmp.reset();
    }

    void startupOpensDailyFile_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("new day") << false;
        QTest::newRow("file of the day") << true;
    }
    void startupOpensDailyFile()
    {
        QFETCH(bool, exists);
        const QString daily = logFile(QStringLiteral("2026_12_07.txt"));
        QCOMPARE(policy->DailyFile(), daily);
        if (exists)
            WriteBytes(daily, "A;1;07/12/2026 08:00:00;0 ms\r\nB;2;07/12/2026 09:00:00;0 ms\r\n");
        QSignalSpy caption(policy.get(), &TSavingPolicy::captionChanged);
        policy->OpenDailyFile();
        QCOMPARE(policy->CurrentEventFile(), daily);
        QCOMPARE(caption.last().at(0).toString(),
                 QStringLiteral("Acquisition de données - [2026_12_07.txt]"));
        QCOMPARE(list->rowCount(), exists ? 2 : 0);
        QVERIFY(!list->Modified());
        QVERIFY(prompt.shown.isEmpty());
        QCOMPARE(QFile::exists(daily), exists); // not created before the first save
    }

    void captionForEmptyName()
    {
        policy->SetCurrentEventFile(QString());
        QCOMPARE(policy->Caption(), QStringLiteral("Acquisition de données - [Nouveau]"));
    }

    void dayChange_data()
    {
        QTest::addColumn<bool>("daily");
        QTest::addColumn<bool>("nextDayExists");
        QTest::newRow("off") << false << false;
        QTest::newRow("new file") << true << false;
        QTest::newRow("existing file") << true << true;
    }
    void dayChange()
    {
        QFETCH(bool, daily);
        QFETCH(bool, nextDayExists);
        prefs.LogSaveAutoOnNewDay = daily;
        policy->OpenDailyFile();
        capturing = true;
        capture(1);
        capture(2);
        const QString today = logFile(QStringLiteral("2026_12_07.txt"));
        const QString tomorrow = logFile(QStringLiteral("2026_12_08.txt"));
        if (nextDayExists)
            WriteBytes(tomorrow, "C;3;08/12/2026 00:00:00;0 ms\r\n");

        QVERIFY(!policy->CheckDayChange()); // same day: nothing
        clock.set(kAfterMidnight);
        QCOMPARE(policy->CheckDayChange(), daily);
        QVERIFY(prompt.shown.isEmpty());
        if (!daily) {
            QCOMPARE(list->rowCount(), 2);
            QCOMPARE(policy->CurrentEventFile(), today);
            QVERIFY(list->Modified());
            QVERIFY(!QFile::exists(today));
            return;
        }
        QCOMPARE(ReadBytes(today).count("\r\n"), 2);
        QCOMPARE(policy->CurrentEventFile(), tomorrow);
        QCOMPARE(policy->DailyFile(), tomorrow);
        QCOMPARE(policy->StartTime(), kAfterMidnight);
        QCOMPARE(list->rowCount(), nextDayExists ? 1 : 0);
        QVERIFY(!list->Modified());
        QVERIFY(!policy->CheckDayChange()); // once per day
    }

    // A day change whose save fails keeps rows and file, and retries a minute later.
    void dayChangeSaveFailureKeepsRows()
    {
        prefs.LogSaveAutoOnNewDay = true;
        policy->OpenDailyFile();
        capturing = true;
        capture(1);
        const QString today = policy->CurrentEventFile();
        WriteBytes(logFile(QStringLiteral("2026_12_08.txt")), "C;3;08/12/2026 00:00:00;0 ms\r\n");
        QVERIFY(QDir(logDir).rename(QStringLiteral("2026_12_08.txt"), QStringLiteral("../x")));
        QVERIFY(QDir(logDir).removeRecursively());

        clock.set(kAfterMidnight);
        QVERIFY(!policy->CheckDayChange());
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(policy->CurrentEventFile(), today);
        QVERIFY(list->Modified());
        QVERIFY(prompt.shown.isEmpty()); // silent while capturing, and no question
        capture(2);

        QVERIFY(QDir().mkpath(logDir));
        QVERIFY(QFile::rename(tmp->path() + QStringLiteral("/x"),
                              logFile(QStringLiteral("2026_12_08.txt"))));
        clock.advanceMs(30 * 1000);
        QVERIFY(!policy->CheckDayChange()); // too early to try again
        QVERIFY(!QFile::exists(today));
        clock.advanceMs(31 * 1000);
        QVERIFY(policy->CheckDayChange());
        QCOMPARE(ReadBytes(today).count("\r\n"), 2);
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->text(0, 0), QStringLiteral("C"));
    }

    void saveFailureReporting_data()
    {
        QTest::addColumn<bool>("showErrors");
        QTest::addColumn<bool>("capture");
        QTest::addColumn<bool>("shown");
        QTest::newRow("shown") << true << false << true;
        QTest::newRow("silent while capturing") << true << true << false;
        QTest::newRow("messages off") << false << false << false;
    }
    void saveFailureReporting()
    {
        QFETCH(bool, showErrors);
        QFETCH(bool, capture);
        QFETCH(bool, shown);
        prefs.MiscShowErrorMessages = showErrors;
        const QString bad = tmp->path() + QStringLiteral("/missing/f.txt");
        policy->SetCurrentEventFile(bad);
        this->capture(1);
        capturing = capture;
        QVERIFY(!policy->FileSave());
        QVERIFY(list->Modified()); // closing must still offer to save
        QCOMPARE(policy->CurrentEventFile(), bad);
        QCOMPARE(prompt.shown,
                 shown ? QStringList{ResStr::SaveFailed(QStringLiteral("f.txt"),
                                                        QStringLiteral("le dossier n'existe pas"))}
                       : QStringList{});
    }

    void loadFailureIsShownAndNamesTheFile()
    {
        // While capturing (the day change loads inside the capture's delivery) no box
        // may wait for an answer: the failure goes to the log only.
        for (const bool whileCapturing : {false, true}) {
            prompt.shown.clear();
            capturing = whileCapturing;
            capture(1);
            const QString missing = logFile(QStringLiteral("absent.txt"));
            QVERIFY(!policy->LoadEventFile(missing));
            QCOMPARE(prompt.shown,
                     whileCapturing
                         ? QStringList{}
                         : QStringList{ResStr::LoadFailed(QStringLiteral("absent.txt"))});
            QCOMPARE(list->rowCount(), 0);
            QCOMPARE(policy->CurrentEventFile(), missing);
        }
        QVERIFY(!list->Modified());
    }

    // An untitled list has no file: per-event saving writes nothing anywhere (not a file
    // named after the caption in the working folder) and the rows stay to be saved.
    void saveAsForUntitled()
    {
        prefs.LogSaveAutoOnNewEvent = true;
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp->path()));
        policy->FileNew();
        capture(1);
        QVERIFY(QDir::setCurrent(cwd));
        QVERIFY(policy->CurrentEventFile().isEmpty());
        QCOMPARE(policy->Caption(), QStringLiteral("Acquisition de données - [Sans_Nom]"));
        QVERIFY(policy->AppendFailing());
        QCOMPARE(QDir(tmp->path()).entryList(QDir::Files), QStringList());
        // Cancelled dialog: nothing changes.
        QVERIFY(!policy->FileSave());
        QCOMPARE(prompt.shown.last(), QStringLiteral("[save dialog] ") + logDir + u"|Sans_Nom");
        QVERIFY(list->Modified());
        // A folder that cannot be written keeps the name and the flag.
        prompt.saveNames.push_back(tmp->path() + QStringLiteral("/missing/a.txt"));
        QVERIFY(!policy->FileSaveAs());
        QVERIFY(policy->CurrentEventFile().isEmpty());
        QCOMPARE(policy->LogDir(), logDir);
        QVERIFY(list->Modified());
        // Another folder becomes the folder of daily files.
        const QString other = tmp->path() + QStringLiteral("/Other/");
        QVERIFY(QDir().mkpath(other));
        prompt.saveNames.push_back(other + QStringLiteral("mine.txt"));
        QVERIFY(policy->FileSave());
        QCOMPARE(policy->CurrentEventFile(), other + QStringLiteral("mine.txt"));
        QVERIFY(!list->Modified());
        QCOMPARE(policy->DailyFileName(), other + QStringLiteral("2026_12_07.txt"));
    }

    void questionBeforeDroppingRows_data()
    {
        QTest::addColumn<int>("command"); // 0 New, 1 Open, 2 drop
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<bool>("goesOn");
        QTest::addColumn<bool>("saved");
        const char* const names[] = {"new", "open", "drop"};
        for (int c = 0; c < 3; ++c) {
            const char* n = names[c];
            QTest::addRow("%s yes", n) << c << Answer::Yes << false << true << true;
            QTest::addRow("%s no", n) << c << Answer::No << false << true << false;
            QTest::addRow("%s cancel", n) << c << Answer::Cancel << false << false << false;
            QTest::addRow("%s yes, save fails", n) << c << Answer::Yes << true << false << false;
        }
    }
    void questionBeforeDroppingRows()
    {
        QFETCH(int, command);
        QFETCH(Answer, answer);
        QFETCH(bool, saveFails);
        QFETCH(bool, goesOn);
        QFETCH(bool, saved);
        const QString other = logFile(QStringLiteral("other.txt"));
        WriteBytes(other, "O;1;x;1 ms\r\n");
        const QString current =
            saveFails ? tmp->path() + QStringLiteral("/missing/c.txt") : logFile("c.txt");
        policy->SetCurrentEventFile(current);
        capture(4);
        prompt.answers.push_back(answer);
        bool done = false;
        if (command == 0)
            done = policy->FileNew();
        else if (command == 1)
            done = policy->FileOpen(other);
        else
            done = policy->DropFiles({other, logFile(QStringLiteral("ignored.txt"))});
        QCOMPARE(prompt.shown.first(), ResStr::AskSaveModified());
        QCOMPARE(done, goesOn);
        QCOMPARE(QFile::exists(current), saved);
        if (!goesOn) {
            QCOMPARE(list->rowCount(), 1);
            QCOMPARE(policy->CurrentEventFile(), current);
            QVERIFY(list->Modified());
            return;
        }
        QCOMPARE(list->rowCount(), command == 0 ? 0 : 1);
        QCOMPARE(policy->CurrentEventFile(), command == 0 ? QString() : other);
        QVERIFY(!list->Modified());
    }

    void noQuestionWhenUnmodified()
    {
        QVERIFY(policy->SaveIfModified(true));
        QVERIFY(!policy->DropFiles({}));
        QVERIFY(!policy->FileOpen(QString()));
        QVERIFY(prompt.shown.isEmpty());
    }

    void saveWithoutAskingOnExit()
    {
        policy->SetCurrentEventFile(logFile(QStringLiteral("c.txt")));
        capture(1);
        QVERIFY(policy->SaveIfModified(false));
        QVERIFY(prompt.shown.isEmpty());
        QVERIFY(QFile::exists(logFile(QStringLiteral("c.txt"))));
        // Untitled: the Save As dialog, and cancelling it lets closing go on.
        policy->FileNew();
        capture(2);
        QVERIFY(policy->SaveIfModified(false));
        QVERIFY(prompt.shown.last().startsWith(QStringLiteral("[save dialog]")));
    }

    void perEventAppendAndBackup()
    {
        prefs.LogSaveAutoOnNewEvent = true;
        prefs.LogSaveMakeBackup = true;
        policy->OpenDailyFile();
        const QString daily = policy->CurrentEventFile();
        const QString bak = logFile(QStringLiteral("2026_12_07.bak"));
        capture(1, 10);
        capture(2, 11);
        QVERIFY(!list->Modified()); // every row is on disk: nothing to ask at exit
        QCOMPARE(ReadBytes(daily), QByteArray("Libell\xE9_1 [ON];1;07/12/2026 14:05:10;0 ms\r\n"
                                              "Libell\xE9_2 [ON];2;07/12/2026 14:05:11;0 ms\r\n"));
        QVERIFY(!QFile::exists(bak));
        const QByteArray appended = ReadBytes(daily);
        QVERIFY(policy->FileSave());
        QCOMPARE(ReadBytes(bak), appended);
        QVERIFY(ReadBytes(daily).startsWith("Libell\xE9_2")); // newest first
    }

    void captureStartAdoptsDailyFile()
    {
        prefs.LogSaveAutoOnNewDay = true;
        policy->FileNew();
        capture(1);
        policy->AdoptDailyFileAtCaptureStart();
        QCOMPARE(policy->CurrentEventFile(), logFile(QStringLiteral("2026_12_07.txt")));
        QCOMPARE(list->rowCount(), 1);
        QVERIFY(list->Modified());
        // An existing current file is kept.
        const QString mine = logFile(QStringLiteral("mine.txt"));
        WriteBytes(mine, "");
        policy->SetCurrentEventFile(mine);
        policy->AdoptDailyFileAtCaptureStart();
        QCOMPARE(policy->CurrentEventFile(), mine);
    }

    // A file that cannot be read never becomes current, so no save can replace it: not
    // at start-up, not through Ouvrir or a drop, not at the capture start.
    void refusedFileIsNeverCurrent()
    {
        prefs.LogSaveAutoOnNewDay = true;
        const QString daily = logFile(QStringLiteral("2026_12_07.txt"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), daily));
        QVERIFY(!policy->OpenDailyFile());
        QVERIFY(policy->CurrentEventFile().isEmpty());
        QVERIFY2(prompt.shown.last().contains(QStringLiteral("2026_12_07.txt")) &&
                     prompt.shown.last().contains(QStringLiteral("pas un fichier ordinaire")),
                 qPrintable(prompt.shown.last()));
        capture(1);
        policy->AdoptDailyFileAtCaptureStart();
        QVERIFY(policy->CurrentEventFile().isEmpty());

        const QString mine = logFile(QStringLiteral("mine.txt"));
        WriteBytes(mine, "A;1;07/12/2026 08:00:00;0 ms\r\n");
        QVERIFY(policy->FileOpen(mine)); // its question leads to a save dialog, cancelled
        QVERIFY(!policy->DropFiles({daily}));
        QCOMPARE(policy->CurrentEventFile(), mine);
        QCOMPARE(list->rowCount(), 1);
        QVERIFY(QFileInfo(daily).isSymLink());
    }

    void linesNotUnderstoodAreCounted()
    {
        const QString daily = logFile(QStringLiteral("2026_12_07.txt"));
        WriteBytes(daily, "A;1;07/12/2026 08:00:00;0 ms\r\nnote\r\nB;2\r\n");
        QVERIFY(policy->OpenDailyFile());
        QCOMPARE(list->rowCount(), 1);
        QVERIFY(prompt.shown.last().startsWith(
            QStringLiteral("2 ligne(s) du fichier \"2026_12_07.txt\"")));
    }

    // Failing appends are reported once when they start and once when they work again;
    // the rows stay for the next full save.
    void failingAppendsAreReportedOnce()
    {
        prefs.LogSaveAutoOnNewEvent = true;
        const QString folder = logFile(QStringLiteral("gone/"));
        policy->SetCurrentEventFile(folder + QStringLiteral("f.txt"));
        QSignalSpy changes(policy.get(), &TSavingPolicy::appendFailingChanged);
        capture(1, 10);
        capture(2, 11);
        QVERIFY(policy->AppendFailing());
        QVERIFY(QDir().mkpath(folder));
        capture(3, 12);
        QVERIFY(!policy->AppendFailing());
        QCOMPARE(changes.size(), 2);
        QCOMPARE(list->rowCount(), 3);
        QVERIFY(list->Modified());
        QVERIFY(policy->FileSave());
        QCOMPARE(ReadBytes(folder + QStringLiteral("f.txt")).count("\r\n"), 3);
    }
};

QTEST_GUILESS_MAIN(TestSavingPolicy)
#include "tst_savingpolicy.moc"
