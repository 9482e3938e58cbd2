// The main window's commands: shortcuts by capture state, status bar, the event-file
// and configuration commands with their questions, dropped files, copy.
#include "mainwindow_support.h"

#include "acquisition/uCaptureControl.h"
#include "base/uResStr.h"
#include "eventlog/uSavingPolicy.h"
#include "settings/uConf.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <thread>

using namespace evtrak;
using namespace evtrak::test;

class TestMainWindowCommands : public QObject
{
    Q_OBJECT

    static void sendDrop(TfmMain& w, const QStringList& files)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& f : files)
            urls << QUrl::fromLocalFile(f);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 80), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&w, &enter);
        if (!enter.isAccepted())
            return;
        QDropEvent drop(QPointF(50, 80), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &drop);
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void shortcutsFollowTheCaptureState_data()
    {
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QString>("actionName");
        const std::pair<const char*, const char*> keys[] = {
            {"F11", "ActCaptureStart"},     {"Ctrl+N", "ActFileNew"},
            {"Ctrl+O", "ActFileOpen"},      {"Ctrl+S", "ActFileSave"},
            {"Ctrl+P", "ActPreview"},       {"Ctrl+I", "ActPrint"},
            {"Ctrl+Q", "ActAppClose"},      {"Del", "ActLogClearSelection"},
            {"Ctrl+Del", "ActLogClearAll"},
        };
        for (const auto& [k, a] : keys)
            QTest::newRow(k) << QKeySequence(QString::fromLatin1(k)) << QString::fromLatin1(a);
    }
    void shortcutsFollowTheCaptureState()
    {
        QFETCH(QKeySequence, key);
        QFETCH(QString, actionName);
        WindowRig rig;
        TfmMain& w = rig.start();
        QAction* a = w.action(actionName);
        QAction* stop = w.action(QStringLiteral("ActCaptureStop"));
        QCOMPARE(a->shortcut(), key);
        QVERIFY(a->isEnabled());
        QVERIFY(!stop->isEnabled());
        QSignalSpy stopSpy(stop, &QAction::triggered);
        QTest::keyClick(&w, Qt::Key_F12);
        QCOMPARE(stopSpy.count(), 0);

        QTest::keyClick(&w, Qt::Key_F11);
        QVERIFY(w.capture().CaptureRunning());
        QVERIFY(!w.acceptDrops());
        QSignalSpy spy(a, &QAction::triggered);
        rig.prompt.answers = {Answer::No}; // Ctrl+Q asks as closing does: stay
        QTest::keySequence(&w, key);
        QCOMPARE(spy.count(), 0);
        QVERIFY(w.isVisible());
        // Help, readme, about and copy stay available.
        for (const char* n : {"ActHelpIndex", "ActAppReadme", "ActAbout", "ActLogCopy"})
            QCOMPARE(w.action(QLatin1String(n))->isEnabled(),
                     n != QByteArray("ActHelpIndex") || QFile::exists(w.paths().HelpFile));

        QTest::keyClick(&w, Qt::Key_F12);
        QVERIFY(!w.capture().CaptureRunning());
        QVERIFY(a->isEnabled());
        QVERIFY(w.acceptDrops());
    }

    void exportPdfSitsAfterPrintInFileMenuAndPopup()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QAction* print = w.action(QStringLiteral("ActPrint"));
        QAction* pdf = w.action(QStringLiteral("ActExportPdf"));
        QCOMPARE(PlainCaption(pdf->text()), QStringLiteral("Exporter en PDF..."));
        for (const char* menuName : {"mnuFile", "PopupMenu1"}) {
            auto* menu = w.findChild<QMenu*>(QLatin1String(menuName));
            QVERIFY(menu);
            const QList<QAction*> entries = menu->actions();
            const qsizetype at = entries.indexOf(print);
            QVERIFY(at >= 0);
            QCOMPARE(entries.value(at + 1), pdf);
        }
        const QList<QAction*> file = w.findChild<QMenu*>(QStringLiteral("mnuFile"))->actions();
        QCOMPARE(PlainCaption(file.value(file.indexOf(pdf) + 1)->text()),
                 QStringLiteral("Exporter en CSV..."));
        QCOMPARE(PlainCaption(file.value(file.indexOf(pdf) + 2)->text()),
                 QStringLiteral("Exporter en VCD..."));
        QTest::keyClick(&w, Qt::Key_F11);
        QVERIFY(w.capture().CaptureRunning());
        QVERIFY(!pdf->isEnabled());
        QTest::keyClick(&w, Qt::Key_F12);
        QVERIFY(pdf->isEnabled());
    }

    void statusBarShowsStateAndCounters()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QCOMPARE(w.statusText(0), QString());
        QCOMPARE(w.statusText(1), QStringLiteral("LPT1"));
        QCOMPARE(w.statusText(3), QStringLiteral("0 (total : 0)"));
        QCOMPARE(w.statusText(4), QStringLiteral("--------"));
        w.prefs().PortBaseAddressIndex = 5;
        w.UpdateStatusBar();
        QCOMPARE(w.statusText(1), QStringLiteral("LPT2"));
        w.prefs().PortBaseAddressIndex = 9;
        w.UpdateStatusBar();
        QCOMPARE(w.statusText(1), QString());
        w.prefs().PortBaseAddressIndex = 4;

        // Live capture: three changes of input 0 in one run, then a second run.
        QTest::keyClick(&w, Qt::Key_F11);
        QCOMPARE(w.statusText(2), ResStr::CaptureRunningStatus());
        for (unsigned char v : {0x01, 0x00, 0x01}) {
            const int before = w.eventList().TotalCount();
            rig.setPortByte(0x378, v);
            QTRY_COMPARE(w.eventList().TotalCount(), before + 1);
        }
        QTRY_COMPARE(w.statusText(3), QStringLiteral("3 (total : 3)"));
        QCOMPARE(w.statusText(0), QStringLiteral("*"));
        QTest::keyClick(&w, Qt::Key_F12);
        QCOMPARE(w.statusText(2), ResStr::CaptureStoppedStatus());
        QTest::keyClick(&w, Qt::Key_F11);
        QCOMPARE(w.statusText(3), QStringLiteral("0 (total : 3)"));
        QTest::keyClick(&w, Qt::Key_F12);
    }

    // Per-event appends that fail turn the last panel red until they work again; the
    // rows stay in the list.
    void failingAppendsShowInTheStatusBar()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        w.prefs().LogSaveAutoOnNewEvent = true;
        const QString folder = rig.path(QStringLiteral("gone"));
        w.savingPolicy().SetCurrentEventFile(folder + QStringLiteral("/f.txt"));
        QTest::keyClick(&w, Qt::Key_F11);
        rig.setPortByte(0x378, 0x01);
        QTRY_COMPARE(w.statusText(4), ResStr::AppendFailingStatus());
        const QString dir = qEnvironmentVariable("EVTRAK_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            w.grab().save(dir + QStringLiteral("/mainwindow-append-failing.png"));
        QVERIFY(QDir().mkpath(folder));
        rig.setPortByte(0x378, 0x00);
        QTRY_VERIFY(w.statusText(4) != ResStr::AppendFailingStatus()); // the rate again
        QTest::keyClick(&w, Qt::Key_F12);
        QCOMPARE(w.eventList().rowCount(), 2);
    }

    void bannerShowsTheInputsColours()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        SetInputPrefs(w.prefs(), 2,
                      TInputPrefs{true, false, 2, QStringLiteral("Porte"), 0xFFFFFF, 0x800000});
        QTest::keyClick(&w, Qt::Key_F11);
        rig.setPortByte(0x378, 0x04);
        QTRY_COMPARE(w.banner()->text(), QStringLiteral("Porte"));
        QCOMPARE(w.eventList().text(0, 0), QStringLiteral("Porte [ON]"));
        QCOMPARE(w.banner()->palette().color(QPalette::Window), QColor(0, 0, 128));
        QCOMPARE(w.banner()->palette().color(QPalette::WindowText), QColor(255, 255, 255));
        QTest::keyClick(&w, Qt::Key_F12);
    }

    void windowStaysResponsiveUnderAStorm()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QTest::keyClick(&w, Qt::Key_F11);
        // The port changes as fast as the test can write it while the UI keeps ticking.
        std::atomic<bool> stop{false};
        std::thread storm([&] {
            QFile f(rig.portFile);
            if (!f.open(QIODevice::ReadWrite))
                return;
            unsigned char v = 0;
            while (!stop.load()) {
                v ^= 0xFF;
                f.seek(0x378);
                f.write(reinterpret_cast<const char*>(&v), 1);
                f.flush();
            }
        });
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(20);
        QTest::qWait(1500);
        // A loaded machine (sanitizers, parallel tests) may need longer for the rows.
        QTRY_VERIFY_WITH_TIMEOUT(w.eventList().rowCount() > 100, 30000);
        stop = true;
        storm.join();
        QTest::keyClick(&w, Qt::Key_F12);
        // Liveness, not speed: the UI thread kept running its timers during the storm
        // (speed is measured by the capture benchmark).
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        QCOMPARE(w.eventList().rowCount(), w.eventList().TotalCount());
        QCOMPARE(w.statusText(3),
                 QStringLiteral("%1 (total : %1)").arg(w.eventList().TotalCount()));
    }

    void newAndOpenAskAboutUnsavedRows()
    {
        WindowRig rig;
        rig.writeFile(QStringLiteral("other.txt"), "A;1;01/02/2026 10:00:00;5 ms\r\n");
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 2);

        // "Ouvrir..." with unsaved rows asks first; Cancel keeps everything.
        rig.prompt.files = {rig.path(QStringLiteral("other.txt"))};
        rig.prompt.answers = {Answer::Cancel};
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QVERIFY(rig.prompt.saw(ResStr::AskSaveModified()));
        QCOMPARE(w.eventList().rowCount(), 2);
        QVERIFY(w.eventList().Modified());

        rig.prompt.shown.clear();
        rig.prompt.files = {rig.path(QStringLiteral("other.txt"))};
        rig.prompt.answers = {Answer::No};
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(w.eventList().rowCount(), 1);
        QCOMPARE(w.windowTitle(), QStringLiteral("Acquisition de données - [other.txt]"));
        QVERIFY(
            rig.prompt.shown.first().startsWith(QStringLiteral("[open events] ") + rig.logDir()));

        AddRows(w.eventList(), 1);
        rig.prompt.answers = {Answer::No};
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(w.eventList().rowCount(), 0);
        QCOMPARE(w.windowTitle(), QStringLiteral("Acquisition de données - [Sans_Nom]"));
    }

    void saveAndSaveAs()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 2);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(QFile::exists(rig.logDir() + QStringLiteral("2026_12_07.txt")));
        QVERIFY(!w.eventList().Modified());
        QCOMPARE(w.statusText(0), QString());

        const QString elsewhere = rig.path(QStringLiteral("archive/jour.txt"));
        QDir().mkpath(rig.path(QStringLiteral("archive")));
        rig.prompt.files = {elsewhere};
        w.action(QStringLiteral("ActFileSaveAs"))->trigger();
        QVERIFY(QFile::exists(elsewhere));
        QCOMPARE(w.windowTitle(), QStringLiteral("Acquisition de données - [jour.txt]"));
        QCOMPARE(w.savingPolicy().LogDir(), rig.path(QStringLiteral("archive")) + u'/');

        // A save that fails leaves the rows unsaved: closing still offers to save them.
        w.savingPolicy().SetCurrentEventFile(rig.path(QStringLiteral("missing/x.txt")));
        AddRows(w.eventList(), 1);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(w.eventList().Modified());
        rig.prompt.shown.clear();
        rig.prompt.answers = {Answer::Cancel};
        QVERIFY(!w.close());
        QVERIFY(rig.prompt.saw(ResStr::AskSaveModified()));
    }

    void droppedFiles()
    {
        WindowRig rig;
        rig.writeFile(QStringLiteral("a.txt"), "A;1;01/02/2026 10:00:00;5 ms\r\n");
        rig.writeFile(QStringLiteral("b.txt"), "B;1;01/02/2026 10:00:00;5 ms\r\nB;2;01/02/2026 "
                                               "10:00:00;5 ms\r\n");
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 3);
        const QStringList files = {rig.path(QStringLiteral("a.txt")),
                                   rig.path(QStringLiteral("b.txt")),
                                   rig.path(QStringLiteral("c.txt"))};
        rig.prompt.answers = {Answer::Cancel};
        sendDrop(w, files);
        QVERIFY(rig.prompt.saw(ResStr::AskSaveModified()));
        QCOMPARE(w.eventList().rowCount(), 3);

        rig.prompt.answers = {Answer::No};
        sendDrop(w, files);
        QTRY_COMPARE(w.eventList().rowCount(), 1); // only the first file
        QCOMPARE(w.eventList().text(0, 0), QStringLiteral("A"));

        QTest::keyClick(&w, Qt::Key_F11);
        sendDrop(w, {rig.path(QStringLiteral("b.txt"))});
        QCOMPARE(w.eventList().rowCount(), 1);
        QTest::keyClick(&w, Qt::Key_F12);
    }

    void configurationCommands()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QAction* save = w.action(QStringLiteral("ActConfSave"));
        // "Sauver" before any configuration: the save dialog, proposing "Sans_Nom".
        const QString mine = rig.path(QStringLiteral("confs/Mine.icf"));
        QDir().mkpath(rig.path(QStringLiteral("confs")));
        rig.prompt.files = {mine};
        w.prefs().AppMainTitle = QStringLiteral("Banc 2");
        save->trigger();
        QVERIFY(rig.prompt.shown.last().endsWith(u'|' + ResStr::UntitledName()));
        QVERIFY(QFile::exists(mine));
        QCOMPARE(PlainCaption(w.confSaveMenuEntry()->text()), QStringLiteral("Sauver (Mine.icf)"));
        QCOMPARE(PlainCaption(save->text()), QStringLiteral("Sauver"));

        // A later "Sauver" writes the same file without a dialog.
        rig.prompt.shown.clear();
        QFile::remove(mine);
        save->trigger();
        QVERIFY(QFile::exists(mine));
        QVERIFY(rig.prompt.shown.isEmpty());

        // Loading re-titles the window with the loaded title.
        w.prefs().AppMainTitle = QStringLiteral("Autre");
        rig.prompt.files = {mine};
        w.action(QStringLiteral("ActConfLoad"))->trigger();
        QVERIFY(rig.prompt.shown.last().startsWith(QStringLiteral("[load conf] ") +
                                                   rig.path(QStringLiteral("confs"))));
        QCOMPARE(w.windowTitle(), QStringLiteral("Banc 2 - [2026_12_07.txt]"));

        // The menu entry follows the action's state.
        QTest::keyClick(&w, Qt::Key_F11);
        QVERIFY(!w.confSaveMenuEntry()->isEnabled());
        QTest::keyClick(&w, Qt::Key_F12);
        QVERIFY(w.confSaveMenuEntry()->isEnabled());
    }

    void messageBoxesSpeakFrench()
    {
        QWidget parent;
        TMessagePrompt prompt(&parent);
        QStringList buttons;
        QString text;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            text = box->text();
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            // Answered by its letter.
            QApplication::setActiveWindow(box);
            (void)QTest::qWaitForWindowActive(box);
            QTest::keyClick(box, Qt::Key_N, Qt::AltModifier);
            if (!QTest::qWaitFor([box] { return !box->isVisible(); }, 2000))
                box->button(QMessageBox::Cancel)->click();
        });
        QCOMPARE(prompt.AskYesNoCancel(ResStr::AskStopCapture()), Answer::No);
        QCOMPARE(text, ResStr::AskStopCapture());
        buttons.sort();
        QCOMPARE(buttons, (QStringList{QStringLiteral("&Annuler"), QStringLiteral("&Non"),
                                       QStringLiteral("&Oui")}));
    }

    void listCommandsAndCopy()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(rig.prompt.saw(ResStr::NoEvents()));

        AddRows(w.eventList(), 3);
        w.eventList().SetModified(false);
        w.listView()->selectRow(1);
        QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), w.eventList().fileLine(1) + u'\n');

        rig.prompt.answers = {Answer::No};
        QTest::keyClick(&w, Qt::Key_Delete);
        QCOMPARE(w.eventList().rowCount(), 3);
        QVERIFY(!w.eventList().Modified());
        rig.prompt.answers = {Answer::Yes};
        QTest::keyClick(&w, Qt::Key_Delete);
        QCOMPARE(w.eventList().rowCount(), 2);
        QCOMPARE(w.statusText(0), QStringLiteral("*"));
    }
};

QTEST_MAIN(TestMainWindowCommands)
#include "tst_mainwindow_commands.moc"
