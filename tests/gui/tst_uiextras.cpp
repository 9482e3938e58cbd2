// The small pieces of the window layer: the flat menu look, the about and
// print-options dialogs, the shell hook.
#include "ui/widgets/frmAbout.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/ktShell.h"
#include "ui/widgets/ktXpMenuStyle.h"

#include <QApplication>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace evtrak;

class TestUiExtras : public QObject
{
    Q_OBJECT

    static QImage grabMenu(QMenu& menu)
    {
        menu.adjustSize();
        menu.ensurePolished();
        return menu.grab().toImage();
    }

private Q_SLOTS:
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

QTEST_MAIN(TestUiExtras)
#include "tst_uiextras.moc"
