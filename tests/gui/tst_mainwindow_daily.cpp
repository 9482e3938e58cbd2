// The window in daily use: what the status bar and the list show in a narrow or a
// wide window, editing labels with the mouse, and the file name "Sauver sous..." offers.
#include "mainwindow_support.h"

#include "base/uResStr.h"
#include "eventlog/uSavingPolicy.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
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
