// The small pieces of the window layer: the flat menu look, the about and
// print-options dialogs, the shell hook; the windows' sizes and places on a small screen
// (683 x 384, what a 1366 x 768 screen offers at scale 2).
#include "mainwindow_support.h"

#include "eventlog/uEventStatistics.h"
#include "ui/widgets/frmAbout.h"
#include "ui/widgets/frmOptions.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/frmStatistics.h"
#include "ui/widgets/ktElidedLabel.h"
#include "ui/widgets/ktShell.h"
#include "ui/widgets/ktXpMenuStyle.h"
#include "ui/widgets/uCaptureQualityView.h"
#include "ui/widgets/uFilterBar.h"

#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

using namespace evtrak;
using namespace evtrak::test;

namespace {
const QSize kSmallScreen(683, 384);
} // namespace

class TestUiExtras : public QObject
{
    Q_OBJECT

    static QImage grabMenu(QMenu& menu)
    {
        menu.adjustSize();
        menu.ensurePolished();
        return menu.grab().toImage();
    }

    static QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }

private Q_SLOTS:
    void initTestCase()
    {
        IsolateUserFolders();
        if (Area().size() != kSmallScreen)
            QSKIP("needs the small offscreen screen this test sets up");
    }

    // A first start and stored places from a larger screen (or nonsense) all open the
    // main window inside the screen; the short status texts show whole, the long one
    // shortens and shows whole in its tooltip.
    void mainWindowInsideTheScreen()
    {
        const QString stored[] = {
            {},                                                  // first start
            QStringLiteral("fmMain_Left=750\nfmMain_Top=492\n"), // saved at scale 1
            QStringLiteral("fmMain_Left=-300\nfmMain_Top=-50\nfmMain_Width=2000\n"
                           "fmMain_Height=200\n"),
            QStringLiteral("fmMain_Left=100\nfmMain_Top=100\nfmMain_Width=3000\n"
                           "fmMain_Height=3000\n")};
        for (const QString& places : stored) {
            WindowRig rig;
            rig.portMode = QStringLiteral("fichier");
            if (!places.isEmpty())
                rig.writeFile(QStringLiteral("evtrak.ini"),
                              ("[FormsSizeAndPos]\n" + places).toUtf8());
            TfmMain& w = rig.start();
            QVERIFY2(Area().contains(w.geometry()), qPrintable(places));
            if (!places.isEmpty())
                continue;
            AddRows(w.eventList(), 12);
            QTest::keyClick(&w, Qt::Key_F11);
            w.captureQuality().Refresh();
            QTRY_VERIFY(w.statusText(1).startsWith(QStringLiteral("LPT1 (fichier)")));
            // At the default size and at the narrowest the window allows.
            for (const bool narrowest : {false, true}) {
                if (narrowest)
                    w.resize(w.minimumSizeHint().width(), w.height());
                for (int i : {0, 1, 3, 4}) {
                    auto* panel =
                        w.findChild<TElidedLabel*>(QStringLiteral("StatusBar1Panel%1").arg(i));
                    QTRY_VERIFY2(!panel->IsElided(), qPrintable(panel->text()));
                }
            }
            auto* state = w.findChild<TElidedLabel*>(QStringLiteral("StatusBar1Panel2"));
            if (state->IsElided()) {
                QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), state->mapToGlobal(QPoint(2, 2)));
                QApplication::sendEvent(state, &help);
                QCOMPARE(QToolTip::text(), state->text());
            }
            QTest::keyClick(&w, Qt::Key_F12);
            // The search bar fits too: it wraps rather than squeezing its fields.
            QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
            QTRY_VERIFY(w.filterBar()->isVisible());
            QVERIFY(Area().contains(w.geometry()));
            QVERIFY(w.filterBar()->width() >= w.filterBar()->minimumSizeHint().width());
        }
    }

    // The large dialogs shrink to the screen and scroll.
    void dialogsInsideTheScreen()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        TfmOptions options(prefs, {}, nullptr, [](const QString&) {});
        options.LoadFromSettings();
        std::vector<InputStatistics> rows(kInputCount);
        for (int i = 0; i < kInputCount; ++i)
            rows[std::size_t(i)].Input = i;
        TfmStatistics stats(rows, prefs, QStringLiteral("13 entrées"));
        for (QWidget* dialog : std::initializer_list<QWidget*>{&options, &stats}) {
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            QVERIFY2(Area().contains(dialog->geometry()), qPrintable(dialog->objectName()));
        }
    }

    void xpMenuHasIconColumnAndHotEntry()
    {
        QMainWindow w;
        QMenu* file = w.menuBar()->addMenu(QStringLiteral("Fichier"));
        QAction* a = file->addAction(QStringLiteral("Nouveau"));
        file->addSeparator();
        file->addAction(QStringLiteral("Quitter"));
        ApplyXpMenuStyle(&w, nullptr, true);
        QCOMPARE(file->style(), static_cast<QStyle*>(XpMenuStyleInstance()));

        const QPalette pal = file->palette();
        QImage img = grabMenu(*file);
        const QRect itemRect = file->actionGeometry(a);
        // Icon column in the button-face colour, text area on the base colour.
        QCOMPARE(img.pixelColor(XpMenuStyle::kIconColumn / 2, itemRect.center().y()),
                 pal.color(QPalette::Button));
        QCOMPARE(img.pixelColor(XpMenuStyle::kIconColumn + 4, itemRect.top() + 2),
                 pal.color(QPalette::Base));

        // The entry under the mouse: framed in the highlight colour, filled lighter.
        file->setActiveAction(a);
        img = grabMenu(*file);
        QCOMPARE(img.pixelColor(itemRect.right() - 1, itemRect.center().y()),
                 pal.color(QPalette::Highlight));
        const QColor fill = img.pixelColor(itemRect.right() - 4, itemRect.center().y());
        QVERIFY(fill != pal.color(QPalette::Base));
        QVERIFY(fill != pal.color(QPalette::Highlight));

        // Switched off: the application's own look again, toolbar buttons included.
        auto* tb = w.addToolBar(QStringLiteral("t"));
        tb->addAction(a);
        ApplyXpMenuStyle(&w, nullptr, true);
        QCOMPARE(tb->findChild<QToolButton*>()->style(),
                 static_cast<QStyle*>(XpMenuStyleInstance()));
        ApplyXpMenuStyle(&w, nullptr, false);
        QCOMPARE(file->style(), QApplication::style());
        QCOMPARE(tb->findChild<QToolButton*>()->style(), QApplication::style());
    }
};

// The offscreen screen is made small; run on another platform the size tests skip.
int main(int argc, char** argv)
{
    QTemporaryDir dir;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && dir.isValid()) {
        const QString config = dir.filePath(QStringLiteral("screens.json"));
        QFile f(config);
        if (f.open(QIODevice::WriteOnly))
            f.write(QStringLiteral("{\"screens\": [{\"name\": \"small\", \"x\": 0, \"y\": 0, "
                                   "\"width\": %1, \"height\": %2, \"logicalDpi\": 96}]}")
                        .arg(kSmallScreen.width())
                        .arg(kSmallScreen.height())
                        .toUtf8());
        f.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    }
    QApplication app(argc, argv);
    TestUiExtras test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_uiextras.moc"
