// The window in daily use: what the status bar and the list show in a narrow or a
// wide window, editing labels with the mouse, and the file name "Sauver sous..." offers.
#include "mainwindow_support.h"

#include "acquisition/uCaptureControl.h"
#include "base/uResStr.h"
#include "eventlog/uSavingPolicy.h"
#include "export/uExport.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>
#include <algorithm>

using namespace evtrak;
using namespace evtrak::test;

class TestMainWindowDaily : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void portModeAndPanelsInANarrowWindow()
    {
        WindowRig rig;
        rig.portMode = QStringLiteral("démo");
        TfmMain& w = rig.start();
        QCOMPARE(w.statusText(1), QStringLiteral("LPT1 (démo)"));
        const auto panels = w.statusBar()->findChildren<QLabel*>(
            QRegularExpression(QStringLiteral("^StatusBar1Panel")));
        QCOMPARE(panels.size(), int(TfmMain::kPanelCount));
        // As narrow as the window goes (the live lines keep it a little wider).
        for (int width : {900, std::max(260, w.minimumSizeHint().width())}) {
            w.resize(width, 300);
            QTRY_COMPARE(w.width(), width);
            QCoreApplication::processEvents();
            // Side by side and inside the bar, whatever the window's width.
            for (int i = 0; i + 1 < panels.size(); ++i)
                QVERIFY2(panels[i]->geometry().right() < panels[i + 1]->geometry().left(),
                         qPrintable(QString::number(width)));
            QVERIFY(panels.last()->geometry().right() <= w.statusBar()->width());
        }
    }

    void labelColumnTakesTheSpareWidthButKeepsTheUsersWidth()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QHeaderView* cols = w.listView()->horizontalHeader();
        cols->resizeSection(0, 150); // the user's width
        w.resize(1000, 400);
        QTRY_COMPARE(w.width(), 1000);
        QTRY_COMPARE(cols->length(), w.listView()->viewport()->width());
        QVERIFY(cols->sectionSize(0) > 150);
        QCOMPARE(w.close(), true);
        // Stored at the user's width: a smaller window later does not scroll sideways.
        const QString stored = QString::fromLatin1(ReadBytes(rig.iniFile()));
        QVERIFY2(stored.contains(QStringLiteral("EventsList_Column0_Width=150")),
                 qPrintable(stored));
    }

    void doubleClickEditsALabel()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 3);
        QTableView* view = w.listView();
        const QPoint at = view->visualRect(w.eventList().index(1, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY(view->indexWidget(w.eventList().index(1, 0)));
    }

    // Editing a label edits the label alone: the row keeps its state (" [ON]"/" [OFF]",
    // captured or read from a file), and a typed " [ON]" stays text. The CSV export says
    // the same.
    void editingALabelKeepsTheRowsState()
    {
        WindowRig rig;
        rig.writeFile(QStringLiteral("Log/lu.txt"), "Porte [OFF];2;07/12/2026 10:00:02;40 ms\r\n"
                                                    "Bouton;3;07/12/2026 10:00:01;5 ms\r\n");
        TfmMain& w = rig.start();
        rig.prompt.files.push_back(rig.path(QStringLiteral("Log/lu.txt")));
        w.action(QStringLiteral("ActFileOpen"))->trigger();
        const TDateTime at = DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 3)));
        w.eventList().RecordEvent(CapturedEvent{true, true, 1, 0, at});
        QCOMPARE(w.eventList().rowCount(), 3);
        QTableView* view = w.listView();
        const auto edit = [&](int row, const QString& typed) {
            const QModelIndex cell = w.eventList().index(row, 0);
            view->setCurrentIndex(cell);
            view->edit(cell);
            auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(cell));
            if (!editor)
                return QStringLiteral("(no editor)");
            const QString before = editor->text();
            editor->selectAll();
            QTest::keyClicks(editor, typed);
            QTest::keyClick(editor, Qt::Key_Return);
            QCoreApplication::processEvents(); // the view commits after the key
            return before;
        };
        QCOMPARE(edit(0, QStringLiteral("Presse")), QStringLiteral("Libellé_1"));
        QCOMPARE(edit(1, QStringLiteral("Porte nord")), QStringLiteral("Porte"));
        QCOMPARE(edit(2, QStringLiteral("Bouton [ON]")), QStringLiteral("Bouton"));
        QCOMPARE(w.eventList().text(0, 0), QStringLiteral("Presse [ON]"));
        QCOMPARE(w.eventList().text(1, 0), QStringLiteral("Porte nord [OFF]"));
        QCOMPARE(w.eventList().text(2, 0), QStringLiteral("Bouton [ON]"));
        const QString csv = QString::fromUtf8(ExportCsv(w.eventList()));
        QVERIFY2(csv.contains(QStringLiteral(";Presse;ON;1;")) &&
                     csv.contains(QStringLiteral(";Porte nord;OFF;2;")) &&
                     csv.contains(QStringLiteral(";Bouton [ON];;3;")),
                 qPrintable(csv));
    }

    // The exports are in the list's pop-up menu too, and say in the status bar which
    // file they wrote.
    void exportsFromThePopupSayWhatTheyWrote()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 2);
        const QList<QAction*> popup = w.findChild<QMenu*>(QStringLiteral("PopupMenu1"))->actions();
        for (const char* name : {"ActExportCsv", "ActExportVcd"}) {
            QAction* a = w.action(QLatin1String(name));
            QVERIFY(popup.contains(a));
            const QString out = rig.path(QLatin1String(name) + QStringLiteral(".out"));
            rig.prompt.files = {out};
            a->trigger();
            QVERIFY(QFileInfo(out).size() > 0);
            QCOMPARE(w.statusBar()->currentMessage(), ResStr::ExportWritten(out));
        }
        rig.prompt.files.clear(); // cancelled: nothing said
        w.statusBar()->clearMessage();
        w.action(QStringLiteral("ActExportCsv"))->trigger();
        QVERIFY(w.statusBar()->currentMessage().isEmpty());
    }

    // A save that fails at closing shows one box, which says why; the window stays open.
    void failedSaveAtCloseShowsOneBoxWithItsReason_data()
    {
        QTest::addColumn<bool>("capturing");
        QTest::newRow("idle") << false;
        QTest::newRow("capturing") << true;
    }
    void failedSaveAtCloseShowsOneBoxWithItsReason()
    {
        QFETCH(bool, capturing);
        WindowRig rig;
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 2);
        rig.writeFile(QStringLiteral("plain"), "x"); // a file where a folder should be
        w.savingPolicy().SetCurrentEventFile(rig.path(QStringLiteral("plain/jour.txt")));
        if (capturing) {
            QTest::keyClick(&w, Qt::Key_F11);
            QVERIFY(w.capture().CaptureRunning());
        }
        rig.prompt.errors.clear();
        QVERIFY(!w.close()); // every question answered "Oui"
        QCOMPARE(rig.prompt.errors.size(), 1);
        const QString box = rig.prompt.errors.first();
        QVERIFY2(box.startsWith(ResStr::SaveFailed(QStringLiteral("jour.txt")) + u'\n') &&
                     box.size() > ResStr::SaveFailed(QStringLiteral("jour.txt")).size() + 10,
                 qPrintable(box));
        QVERIFY(w.eventList().Modified());
    }

    void saveAsOffersTheCurrentFileName()
    {
        WindowRig rig;
        rig.writeFile(QStringLiteral("Log/atelier.txt"), "Porte;0;07/12/2026 10:00:00;0 ms\r\n");
        TfmMain& w = rig.start();
        rig.prompt.files.push_back(rig.path(QStringLiteral("Log/atelier.txt")));
        w.action(QStringLiteral("ActFileOpen"))->trigger();
        rig.prompt.shown.clear();
        w.action(QStringLiteral("ActFileSaveAs"))->trigger();
        QVERIFY2(!rig.prompt.shown.isEmpty() &&
                     rig.prompt.shown.first().endsWith(QStringLiteral("|atelier.txt")),
                 qPrintable(rig.prompt.shown.join(u'\n')));
    }
};

QTEST_MAIN(TestMainWindowDaily)
#include "tst_mainwindow_daily.moc"
