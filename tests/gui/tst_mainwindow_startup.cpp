// The main window's life: start-up in an empty or a used folder, the applied settings,
// the close dialogue, and the window geometry kept in the settings file.
#include "mainwindow_support.h"

#include "acquisition/uCaptureControl.h"
#include "base/uResStr.h"
#include "eventlog/uEventFile.h"
#include "eventlog/uJournal.h"
#include "eventlog/uSavingPolicy.h"
#include "settings/ktIniFile.h"
#include "settings/uConf.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/ktShell.h"

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QStatusBar>
#include <QLabel>
#include <QScreen>
#include <QTableView>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace evtrak;
using namespace evtrak::test;

class TestMainWindowStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void firstStartInAnEmptyFolder()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QVERIFY(QFileInfo(rig.logDir()).isDir());
        QCOMPARE(w.windowTitle(), QStringLiteral("Acquisition de données - [2026_12_07.txt]"));
        QCOMPARE(PlainCaption(w.confSaveMenuEntry()->text()), QStringLiteral("Sauver (Sans_Nom)"));
        QCOMPARE(PlainCaption(w.action(QStringLiteral("ActConfSave"))->text()),
                 QStringLiteral("Sauver"));
        QCOMPARE(w.eventList().rowCount(), 0);
        QCOMPARE(w.banner()->text(), ResStr::SystemReady());
        QVERIFY(w.listView()->isEnabled());
        // The design place, brought inside a screen too narrow for it.
        QCOMPARE(w.size(), QSize(541, 364));
        QCOMPARE(w.y(), 246);
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(w.geometry()));
        QCOMPARE(w.statusText(2), ResStr::CaptureStoppedStatus());
        QVERIFY(!QFile::exists(rig.logDir() + QStringLiteral("2026_12_07.txt")));

        QVERIFY(w.close());
        TIniFile ini(rig.iniFile());
        for (const char* section : {"UserPrefs", "GUIControlsSizeAndPos", "FormsSizeAndPos"})
            QVERIFY2(ini.SectionExists(QLatin1String(section)), section);
        QCOMPARE(
            ini.ReadInteger(QStringLiteral("FormsSizeAndPos"), QStringLiteral("fmMain_Left"), -1),
            w.x());
        QCOMPARE(ini.ReadInteger(QStringLiteral("GUIControlsSizeAndPos"),
                                 QStringLiteral("EventsList_Column2_Width"), -1),
                 120);
        QVERIFY(ini.ReadInteger(QStringLiteral("FormsSizeAndPos"),
                                QStringLiteral("fmPrintOptions_Left"), -1) >= 0);
    }

    void startUpTestsTheInterfaceTwiceWithItsPauses()
    {
        WindowRig rig;
        TfmMain& w = rig.create(200);
        QStringList banners;
        connect(&w, &TfmMain::bannerChanged, [&](const QString& text) { banners << text; });
        QElapsedTimer clock;
        clock.start();
        rig.start();
        // The steps run from the event loop: a close request meanwhile waits for them.
        w.close();
        QVERIFY(w.isVisible());
        const QStringList expected{ResStr::InitInProgress(), ResStr::TestInProgress(),
                                   ResStr::SystemReady(), ResStr::TestInProgress(),
                                   ResStr::SystemReady()};
        QTRY_COMPARE_WITH_TIMEOUT(banners, expected, 5000);
        QVERIFY(clock.elapsed() > 600); // three pauses of more than 200 ms
        QTRY_VERIFY(!w.isVisible());
    }

    void startWithTheDaysFileAndStoredSettings()
    {
        WindowRig rig;
        rig.writeFile(QStringLiteral("Log/2026_12_07.txt"),
                      "Porte;3;07/12/2026 08:00:00;1500 ms\r\nFen\xEAtre;4;07/12/2026 08:01:00;"
                      "2 ms\r\n");
        rig.writeFile(QStringLiteral("evtrak.ini"),
                      "[UserPrefs]\r\nAppMainTitle=Atelier\r\nLogDurationFormat=1\r\n"
                      "LogShowGridLines=1\r\nGridColumnCaption1=Num\r\n"
                      "[GUIControlsSizeAndPos]\r\nEventsList_Column1_Width=0\r\n"
                      "EventsList_Column2_Width=-5\r\nEventsList_Column3_Width=77\r\n");
        TfmMain& w = rig.start();
        QCOMPARE(w.eventList().rowCount(), 2);
        QCOMPARE(w.eventList().text(0, 0), QStringLiteral("Fenêtre")); // the newest on top
        QCOMPARE(w.eventList().text(1, 3), QStringLiteral("1.500 s")); // format applied
        QVERIFY(!w.eventList().Modified());
        QCOMPARE(w.statusText(0), QString());
        QCOMPARE(w.windowTitle(), QStringLiteral("Atelier - [2026_12_07.txt]"));
        QVERIFY(w.listView()->showGrid());
        QCOMPARE(w.eventList().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Num"));
        QHeaderView* h = w.listView()->horizontalHeader();
        QVERIFY(h->isSectionHidden(1));
        QCOMPARE(h->sectionSize(2), 120);
        QCOMPARE(h->sectionSize(3), 77);
    }

    // A journal left by a killed session: the events the day's file lacks are offered
    // back once; Oui puts them at their place by time, Non keeps the journal aside.
    void journalOfAnInterruptedSession_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("Oui") << true;
        QTest::newRow("Non") << false;
    }
    void journalOfAnInterruptedSession()
    {
        QFETCH(bool, accept);
        WindowRig rig;
        const auto at = [](int h, int m, int s) {
            return QDateTime(QDate(2026, 12, 7), QTime(h, m, s)).toMSecsSinceEpoch();
        };
        const JournalEvent events[] = {{at(8, 0, 0), 3, 0, true, true},
                                       {at(7, 59, 0), 1, 0, true, true},
                                       {at(8, 0, 2), 3, 2000, true, false}};
        {
            // Input 3 [ON] at 08:00:00 already reached the day's file (per-event saving).
            const QString day = rig.logDir() + QStringLiteral("2026_12_07.txt");
            QVERIFY(QDir().mkpath(rig.logDir()));
            TJournal journal(TJournal::PathIn(rig.logDir()));
            QVERIFY(journal.Open());
            journal.Append(events, 1);
            const QStringList line{QStringLiteral("Libellé_3 [ON];3;07/12/2026 08:00:00;0 ms")};
            QVERIFY(AppendEventLines(day, line, [&](qint64 offset, qint64 size, std::uint32_t crc) {
                journal.NoteAppend(day, offset, size, crc, 1);
            }));
            journal.Append(events + 1, 2);
        }
        QFile torn(rig.logDir() + QStringLiteral("evtrak_journal.bin"));
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("torn"); // the last record was cut short by the kill
        torn.close();
        rig.prompt.answers = {accept ? Answer::Yes : Answer::No};

        TfmMain& w = rig.start(false);
        QVERIFY(rig.prompt.saw(QStringLiteral("Des évenements d'une acquisition interrompue ont "
                                              "été retrouvés (2). Les récupérer ?")));
        const QStringList aside =
            QDir(rig.logDir()).entryList({QStringLiteral("evtrak_journal_non_recupere_*.bin")});
        if (accept) {
            QCOMPARE(w.eventList().rowCount(), 3);
            QCOMPARE(w.eventList().text(0, 0), QStringLiteral("Libellé_3 [OFF]"));
            QCOMPARE(w.eventList().text(1, 0), QStringLiteral("Libellé_3 [ON]"));
            QCOMPARE(w.eventList().text(2, 0), QStringLiteral("Libellé_1 [ON]"));
            QVERIFY(w.eventList().Modified());
            QVERIFY(aside.isEmpty());
            // Said in the status bar too, as a headless run prints it, once the window
            // shows: in place of the panels, not over them.
            QVERIFY(w.statusBar()->currentMessage().isEmpty());
            w.show();
            QCOMPARE(w.statusBar()->currentMessage(),
                     ResStr::RecoveredEvents(2, 0).mid(QStringLiteral("evtrak : ").size()));
            QVERIFY(!w.findChild<QLabel*>(QStringLiteral("StatusBar1Panel1"))->isVisible());
        } else {
            QCOMPARE(w.eventList().rowCount(), 1);
            QCOMPARE(aside.size(), 1);
            QCOMPARE(TJournal::ReadEvents(rig.logDir() + aside.first()).size(), std::size_t(3));
            QVERIFY(rig.prompt.saw(ResStr::JournalKeptAside(rig.logDir() + aside.first())));
        }
        // Asked once: the next start finds nothing to offer.
        QVERIFY(w.close());
        rig.window.reset();
        rig.prompt.shown.clear();
        TfmMain& again = rig.start(false);
        QVERIFY(!rig.prompt.shown.join(u'|').contains(QStringLiteral("Les récupérer ?")));
        QCOMPARE(again.eventList().rowCount(), accept ? 3 : 1);
        if (accept)
            return;
        // The journal kept aside comes back on demand: the two events the day's file
        // lacks, once.
        for (const int count : {2, 0}) {
            rig.prompt.files = {rig.logDir() + aside.first()};
            again.action(QStringLiteral("ActFileRecoverJournal"))->trigger();
            QVERIFY(rig.prompt.saw(count ? ResStr::JournalRecovered(count, aside.first())
                                         : ResStr::NoEventInJournal(aside.first())));
            QCOMPARE(again.eventList().rowCount(), 3);
        }
        QCOMPARE(again.eventList().text(0, 0), QStringLiteral("Libellé_3 [OFF]"));
        QCOMPARE(again.eventList().text(2, 0), QStringLiteral("Libellé_1 [ON]"));
        QVERIFY(again.eventList().Modified());
    }

    void failedTestGreysTheList()
    {
        WindowRig rig(false);
        rig.ports->setReason(QStringLiteral("/dev/parport0 : introuvable."));
        TfmMain& w = rig.start();
        QCOMPARE(w.banner()->text(), ResStr::SystemNotReady());
        QCOMPARE(w.banner()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(w.banner()->palette().color(QPalette::Window), QColor(0, 0, 0));
        QCOMPARE(w.listView()->palette().color(QPalette::Base),
                 QGuiApplication::palette().color(QPalette::Button));
        // Greyed, yet a file from elsewhere can still be read, selected and copied.
        QVERIFY(w.listView()->isEnabled());
        AddRows(w.eventList(), 3);
        QTest::mouseClick(w.listView()->viewport(), Qt::LeftButton, {},
                          w.listView()->visualRect(w.eventList().index(1, 0)).center());
        QCOMPARE(w.SelectedRows(), std::vector<int>{1});
        QTest::keyClick(w.listView(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), w.eventList().fileLine(1) + u'\n');
        // F11 on an unusable port warns, with the reason, and stays stopped.
        w.action(QStringLiteral("ActCaptureStart"))->trigger();
        QCOMPARE(rig.prompt.errors, QStringList{ResStr::PortNotAccessible() +
                                                QStringLiteral("\n/dev/parport0 : introuvable.")});
        QVERIFY(!w.capture().CaptureRunning());
    }

    // A print server that takes the connection and never answers must not keep the
    // window from showing nor the capture from running.
    void silentPrintServerDoesNotHoldTheStartUp()
    {
        // Listening, never accepting: the kernel completes the connection, nobody answers.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(silent >= 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr*>(&addr), len) == 0);
        QVERIFY(::listen(silent, 16) == 0);
        QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
        const QByteArray old = qgetenv("CUPS_SERVER");
        qputenv("CUPS_SERVER", "127.0.0.1:" + QByteArray::number(ntohs(addr.sin_port)));
        const auto restore = qScopeGuard([&] {
            ::close(silent);
            if (old.isEmpty())
                qunsetenv("CUPS_SERVER");
            else
                qputenv("CUPS_SERVER", old);
        });
        WindowRig rig;
        TfmMain& w = rig.start();
        QVERIFY(w.isVisible());
        w.action(QStringLiteral("ActCaptureStart"))->trigger();
        QVERIFY(w.capture().CaptureRunning());
        rig.setPortByte(0x378, 0x01);
        QTRY_VERIFY(w.eventList().rowCount() > 0);
        w.action(QStringLiteral("ActCaptureStop"))->trigger();
        QVERIFY(!w.hasPrinter());
    }

    void autoStartRunsBeforeTheWindowShowsAndOnlyThen()
    {
        WindowRig rig;
        rig.writeFile(QStringLiteral("evtrak.ini"), "[UserPrefs]\r\nCaptureRunAtAppStartup=1\r\n");
        TfmMain& w = rig.start();
        QVERIFY(w.capture().CaptureRunning());
        QVERIFY(!w.action(QStringLiteral("ActCaptureStart"))->isEnabled());
        QVERIFY(w.action(QStringLiteral("ActCaptureStop"))->isEnabled());
        QCOMPARE(w.banner()->text(), ResStr::SystemReady());
        // The worker was started with the channels set up: a change on input 0 is seen.
        rig.setPortByte(0x378, 0x01);
        QTRY_VERIFY(w.eventList().rowCount() > 0);
        QCOMPARE(w.eventList().text(0, 1), QStringLiteral("0"));

        w.action(QStringLiteral("ActCaptureStop"))->trigger();
        QVERIFY(!w.capture().CaptureRunning());
        w.ApplyUserPrefs(); // as the options dialog's OK does
        QVERIFY(!w.capture().CaptureRunning());
        // The captured rows are still unsaved after the settings were applied.
        QVERIFY(w.eventList().Modified());
        rig.prompt.answers = {Answer::Cancel};
        QVERIFY(!w.close());
        QVERIFY(rig.prompt.saw(ResStr::AskSaveModified()));
    }

    void closeDialogue_data()
    {
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("geometryWritten");
        using L = QList<int>;
        const int Y = int(Answer::Yes), N = int(Answer::No), C = int(Answer::Cancel);
        QTest::newRow("capturing, No") << true << L{N} << false << false << false;
        QTest::newRow("capturing, Cancel") << true << L{C} << false << false << false;
        QTest::newRow("capturing, Yes") << true << L{Y} << true << true << true;
        QTest::newRow("modified, Yes") << false << L{Y} << true << true << true;
        QTest::newRow("modified, No") << false << L{N} << true << false << true;
        QTest::newRow("modified, Cancel") << false << L{C} << false << false << false;
    }
    void closeDialogue()
    {
        QFETCH(bool, capturing);
        QFETCH(QList<int>, answers);
        QFETCH(bool, closes);
        QFETCH(bool, saved);
        QFETCH(bool, geometryWritten);

        WindowRig rig;
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 2);
        w.move(100, 120);
        if (capturing) {
            QTest::keyClick(&w, Qt::Key_F11);
            QVERIFY(w.capture().CaptureRunning());
        }
        for (int a : answers)
            rig.prompt.answers.push_back(Answer(a));
        QCOMPARE(w.close(), closes);
        QCOMPARE(w.capture().CaptureRunning(), capturing && !closes);
        const QString daily = rig.logDir() + QStringLiteral("2026_12_07.txt");
        QCOMPARE(QFile::exists(daily), saved);
        QCOMPARE(rig.prompt.saw(ResStr::AskStopCapture()), capturing);
        // The settings are written as soon as closing was allowed to begin.
        QCOMPARE(QFile::exists(rig.iniFile()), closes || !capturing);
        TIniFile ini(rig.iniFile());
        QCOMPARE(
            ini.ReadInteger(QStringLiteral("FormsSizeAndPos"), QStringLiteral("fmMain_Left"), -1),
            geometryWritten ? 100 : -1);
    }

    void geometryIsRestoredOnTheScreen()
    {
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        WindowRig rig;
        rig.writeFile(QStringLiteral("evtrak.ini"),
                      QStringLiteral("[FormsSizeAndPos]\r\nfmMain_Left=%1\r\nfmMain_Top=10\r\n"
                                     "fmMain_Width=-1\r\nfmMain_Height=300\r\n"
                                     "fmPrintOptions_Left=20\r\nfmPrintOptions_Top=30\r\n"
                                     "fmPrintOptions_Width=900\r\nfmPrintOptions_Height=900\r\n")
                          .arg(screen.width() + 500)
                          .toLatin1());
        TfmMain& w = rig.start(false);
        QCOMPARE(w.pos(), QPoint((screen.width() - 541) / 2, 10));
        QCOMPARE(w.size(), QSize(541, 300));
        TfmPrintOptions* po = w.printOptions();
        QVERIFY(po && !po->isVisible());
        QCOMPARE(po->pos(), QPoint(20, 30));
        QVERIFY(po->width() < 900); // a dialog keeps its designed size
    }

    void helpAndReadmeGoThroughTheShell()
    {
        QStringList opened;
        SetShellOpenHook([&](const QString& p) { opened << p; });
        {
            WindowRig rig;
            TfmMain& w = rig.start();
            QAction* help = w.action(QStringLiteral("ActHelpIndex"));
            if (QFile::exists(w.paths().HelpFile)) {
                QVERIFY(help->isEnabled());
                QCOMPARE(help->toolTip(), ResStr::HelpIndexHint());
            } else {
                QVERIFY(!help->isEnabled());
                QCOMPARE(help->toolTip(),
                         QStringLiteral("Index de l'aide\n[Fichier d'aide non localisé]"));
            }
            w.action(QStringLiteral("ActAppReadme"))->trigger();
            QCOMPARE(opened, QStringList{w.paths().ReadmeFile});
            QVERIFY(rig.prompt.shown.isEmpty());
            // Without any application to show it, the user learns which file it was.
            SetShellOpenResultHook([](const QString&) { return false; });
            w.action(QStringLiteral("ActAppReadme"))->trigger();
            QCOMPARE(rig.prompt.shown.size(), 1);
            QVERIFY(rig.prompt.shown[0].contains(QStringLiteral("A_Lire.txt")));
            QVERIFY(rig.prompt.shown[0].contains(QFileInfo(w.paths().ReadmeFile).absolutePath()));
        }
        SetShellOpenHook({});
    }
};

QTEST_MAIN(TestMainWindowStartup)
#include "tst_mainwindow_startup.moc"
