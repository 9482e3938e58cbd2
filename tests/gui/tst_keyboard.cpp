// The window and its dialogs from the keyboard: every menu opens by its mnemonic and
// every entry, button and check box has a letter of its own within its menu or dialog.
#include "mainwindow_support.h"

#include "ui/widgets/frmAbout.h"
#include "ui/widgets/frmGoTo.h"
#include "ui/widgets/frmOptions.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/frmStatistics.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>

using namespace evtrak;
using namespace evtrak::test;

namespace {

// The mnemonic letter of a caption, upper case; null when it has none.
QChar Mnemonic(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] == u'&') {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return {};
}

// Each caption has a mnemonic, and no two share one. Returns the failures.
QStringList CheckDistinct(const QString& where, const QStringList& captions)
{
    QStringList failures;
    QHash<QChar, QString> seen;
    for (const QString& c : captions) {
        const QChar m = Mnemonic(c);
        if (m.isNull())
            failures << where + QStringLiteral(": no mnemonic in \"") + c + u'"';
        else if (seen.contains(m))
            failures << where + QStringLiteral(": \"") + c + QStringLiteral("\" and \"") + seen[m] +
                            QStringLiteral("\" share ") + m;
        else
            seen.insert(m, c);
    }
    return failures;
}

QStringList MenuCaptions(const QMenu* menu)
{
    QStringList captions;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator() && a->isVisible())
            captions << a->text();
    return captions;
}

QStringList ButtonCaptions(const QWidget* dialog)
{
    QStringList captions;
    for (const QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
        if (!b->text().isEmpty() && !qobject_cast<const QTabBar*>(b->parentWidget()))
            captions << b->text();
    return captions;
}

// Only the page shown answers its letters: each page of the options is checked with the
// buttons that are outside the pages (OK, Annuler, Appliquer).
QStringList OptionsFailures(const QWidget* options)
{
    const auto* pages = options->findChild<const QTabWidget*>(QStringLiteral("PageControl1"));
    if (!pages)
        return {QStringLiteral("Options: no pages")};
    QStringList outside;
    for (const QAbstractButton* b : options->findChildren<QAbstractButton*>())
        if (!b->text().isEmpty() && !pages->isAncestorOf(b))
            outside << b->text();
    QStringList failures;
    for (int i = 0; i < pages->count(); ++i)
        failures << CheckDistinct(QStringLiteral("Options, ") + pages->tabText(i),
                                  ButtonCaptions(pages->widget(i)) + outside);
    return failures;
}

} // namespace

class TestKeyboard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void everyMenuOpensByItsMnemonic()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        QStringList failures;
        QStringList titles;
        for (QAction* top : w.menuBar()->actions()) {
            titles << top->text();
            QMenu* menu = top->menu();
            QVERIFY(menu);
            failures << CheckDistinct(PlainCaption(top->text()), MenuCaptions(menu));
            const QChar m = Mnemonic(top->text());
            if (m.isNull())
                continue;
            QTest::keyClick(&w, m.toLower().toLatin1(), Qt::AltModifier);
            QTRY_VERIFY2(menu->isVisible(), qPrintable(top->text()));
            QTest::keyClick(menu, Qt::Key_Escape);
            QTRY_VERIFY(!menu->isVisible());
        }
        failures << CheckDistinct(QStringLiteral("menu bar"), titles);
        failures << CheckDistinct(QStringLiteral("pop-up"), MenuCaptions(w.popupMenu()));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
        // F10 opens the first menu.
        QTest::keyClick(&w, Qt::Key_F10);
        QTRY_VERIFY(w.fileMenu()->isVisible());
        QTest::keyClick(w.fileMenu(), Qt::Key_Escape);
    }

    void dialogsHaveDistinctMnemonics()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        TfmOptions options(prefs, {}, nullptr, [](const QString&) {});
        TfmAbout about;
        TfmPrintOptions printOptions;
        TfmGoTo goTo(QDateTime::currentDateTime());
        TfmStatistics stats({}, prefs, QString());
        QStringList failures;
        failures << OptionsFailures(&options);
        failures << CheckDistinct(QStringLiteral("A propos"), ButtonCaptions(&about));
        failures << CheckDistinct(QStringLiteral("Impression"), ButtonCaptions(&printOptions));
        failures << CheckDistinct(QStringLiteral("Aller à"), ButtonCaptions(&goTo));
        failures << CheckDistinct(QStringLiteral("Statistiques"), ButtonCaptions(&stats));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }

    // The pages turn with Ctrl+Tab even when a button outside them has the focus.
    void ctrlTabTurnsTheOptionsPages()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        TfmOptions options(prefs, {}, nullptr, [](const QString&) {});
        options.LoadFromSettings();
        options.show();
        QVERIFY(QTest::qWaitForWindowExposed(&options));
        auto* pages = options.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        auto* ok = options.findChild<QAbstractButton*>(QStringLiteral("btnOK"));
        const int count = pages->count();
        pages->setCurrentIndex(0);
        ok->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(pages->currentIndex(), 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                        Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                        Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(pages->currentIndex(), count - 1);
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
