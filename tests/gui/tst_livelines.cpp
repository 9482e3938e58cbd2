// The live lines under the banner, the rate in the status bar and the menu entry that
// shows or hides the lines, on the real window over a port file.
#include "mainwindow_support.h"

#include "acquisition/uCaptureControl.h"
#include "settings/ktIniFile.h"
#include "ui/widgets/frmCaptureJournal.h"
#include "ui/widgets/uCaptureQualityView.h"
#include "ui/widgets/uLiveLines.h"

#include <QAction>
#include <QLabel>
#include <QtTest>

using namespace evtrak;
using namespace evtrak::test;

class TestLiveLines : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void linesFollowThePortWhileCapturing()
    {
        WindowRig rig;
        rig.writeFile(QStringLiteral("evtrak.ini"),
                      "[UserPrefs]\r\nLogEvent7Active=0\r\nLogEvent2Label=Porte\r\n"
                      "LogEvent2BGColor=128\r\n");
        TfmMain& w = rig.start();
        TLiveLines* lines = w.liveLines();
        QVERIFY(lines->isVisible());
        QCOMPARE(lines->Indicator(2)->toolTip(), QStringLiteral("Entrée 2 : Porte"));
        QVERIFY(!lines->Indicator(7)->isEnabled()); // not monitored: greyed
        QCOMPARE(w.statusText(TfmMain::kPanelCount - 1), QStringLiteral("--------"));

        rig.setPortByte(0x378, 0x84); // inputs 2 and 7 high
        w.action(QStringLiteral("ActCaptureStart"))->trigger();
        QVERIFY(w.capture().CaptureRunning());
        QTRY_VERIFY(lines->IsLit(2));
        QVERIFY(!lines->IsLit(7));
        QVERIFY(!lines->IsLit(3));
        // Lit in the input's own background colour (maroon), its number white on it.
        QCOMPARE(lines->Indicator(2)->palette().color(QPalette::Window), QColor(128, 0, 0));
        QCOMPARE(lines->Indicator(2)->palette().color(QPalette::WindowText), QColor(Qt::white));
        QTRY_VERIFY(w.statusText(TfmMain::kPanelCount - 1).endsWith(QStringLiteral(" éch./s")) &&
                    w.statusText(TfmMain::kPanelCount - 1) != QStringLiteral("0 éch./s"));

        rig.setPortByte(0x378, 0x00);
        QTRY_VERIFY(!lines->IsLit(2));
        w.action(QStringLiteral("ActCaptureStop"))->trigger();
        QCOMPARE(w.statusText(TfmMain::kPanelCount - 1), QStringLiteral("--------"));
        const QStringList journal = w.captureQuality().journal()->Lines();
        // Start and stop, with whatever stalls a loaded machine caused in between.
        QVERIFY(journal.size() >= 2);
        QVERIFY(journal.first().contains(QStringLiteral("Acquisition démarrée")));
        QVERIFY(journal.last().contains(QStringLiteral("Acquisition arrêtée")));
        for (qsizetype i = 1; i < journal.size() - 1; ++i)
            QVERIFY(journal[i].contains(QStringLiteral("Interruption de l'acquisition : ")));
    }

    void menuEntryHidesTheLinesAndIsRemembered()
    {
        WindowRig rig;
        {
            TfmMain& w = rig.start();
            QAction* show = w.action(QStringLiteral("ActCaptureShowLines"));
            QVERIFY(show->isCheckable());
            QVERIFY(show->isChecked());
            show->trigger();
            QVERIFY(!w.liveLines()->isVisible());
            QVERIFY(w.close());
        }
        TIniFile ini(rig.iniFile());
        QCOMPARE(ini.ReadString(QStringLiteral("UserPrefs"), QStringLiteral("CaptureShowLiveLines"),
                                QString()),
                 QStringLiteral("0"));
        rig.window.reset();
        TfmMain& again = rig.start();
        QVERIFY(!again.liveLines()->isVisible());
        QVERIFY(!again.action(QStringLiteral("ActCaptureShowLines"))->isChecked());
        again.action(QStringLiteral("ActCaptureShowLines"))->trigger();
        QVERIFY(again.liveLines()->isVisible());
    }
};

QTEST_MAIN(TestLiveLines)
#include "tst_livelines.moc"
