// The window and its dialogs from the keyboard: every menu opens by its mnemonic and
// every entry, button and check box has a letter of its own within its menu or dialog.
#include "mainwindow_support.h"

#include "acquisition/uCaptureControl.h"
#include "base/uResStr.h"
#include "ui/widgets/frmAbout.h"
#include "ui/widgets/frmGoTo.h"
#include "ui/widgets/frmOptions.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/frmStatistics.h"
#include "ui/widgets/uFilterBar.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>

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

// Labels that name no field: the preview of an input's colours and its caption, and the
// statistics' row count.
bool ShowsOnly(const QLabel* l)
{
    static const QStringList names = {
        QStringLiteral("lblPreviewCaption"), QStringLiteral("lblEventPreview"),
        QStringLiteral("lblNoPreview"), QStringLiteral("lblStatisticsRows")};
    const bool rich = l->textFormat() == Qt::RichText ||
                      (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text()));
    return rich || l->text().isEmpty() || names.contains(l->objectName());
}

// The captions whose letters act in a dialog: its buttons, its field labels (each must
// hand the focus to a field) and the titles of its groups.
QStringList ButtonCaptions(const QWidget* dialog, QStringList* failures = nullptr)
{
    QStringList captions;
    // A button drawn with a sign ("✕") has no letter to give.
    const auto words = [](const QString& t) {
        return std::any_of(t.begin(), t.end(), [](QChar c) { return c.isLetterOrNumber(); });
    };
    for (const QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
        if (words(b->text()) && !qobject_cast<const QTabBar*>(b->parentWidget()))
            captions << b->text();
    for (const QLabel* l : dialog->findChildren<QLabel*>()) {
        if (ShowsOnly(l))
            continue;
        captions << l->text();
        QWidget* buddy = l->buddy();
        while (buddy && buddy->focusProxy())
            buddy = buddy->focusProxy();
        if (failures && (!buddy || buddy->focusPolicy() == Qt::NoFocus))
            *failures << QStringLiteral("\"%1\" has no field to give the focus to").arg(l->text());
    }
    for (const QGroupBox* g : dialog->findChildren<QGroupBox*>())
        if (!Mnemonic(g->title()).isNull())
            captions << g->title();
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
                                  ButtonCaptions(pages->widget(i), &failures) + outside);
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
        TFilterBar search;
        failures << OptionsFailures(&options);
        const std::pair<const char*, QWidget*> dialogs[] = {{"A propos", &about},
                                                            {"Impression", &printOptions},
                                                            {"Aller à", &goTo},
                                                            {"Statistiques", &stats},
                                                            {"Recherche", &search}};
        for (const auto& [name, dialog] : dialogs)
            failures << CheckDistinct(QString::fromUtf8(name), ButtonCaptions(dialog, &failures));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }

    // The pages turn both ways with Ctrl+Tab and Ctrl+Shift+Tab (sent as Backtab by X11,
    // as Tab with Shift elsewhere), from a field of a page as from a button outside them.
    void ctrlTabTurnsTheOptionsPages()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        TfmOptions options(prefs, {}, nullptr, [](const QString&) {});
        options.LoadFromSettings();
        options.show();
        QApplication::setActiveWindow(&options);
        QVERIFY(QTest::qWaitForWindowActive(&options));
        // X11 maps Ctrl+Shift+Tab to several of these forms: two shortcuts on one key
        // cancel each other there (test events do not show this; the keys are compared).
        QSet<QKeyCombination> keys;
        for (const QShortcut* shortcut : options.findChildren<QShortcut*>()) {
            for (const QKeySequence& key : shortcut->keys()) {
                QKeyCombination k = key[0];
                if (k.key() == Qt::Key_Backtab)
                    k = QKeyCombination(k.keyboardModifiers() | Qt::ShiftModifier, Qt::Key_Tab);
                QVERIFY2(!keys.contains(k), qPrintable(key.toString()));
                keys.insert(k);
            }
        }
        auto* pages = options.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        const int count = pages->count();
        for (const char* start : {"btnOK", "edMqttHost"}) {
            pages->setCurrentIndex(0);
            options.findChild<QWidget*>(QLatin1String(start))->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
            QCOMPARE(pages->currentIndex(), 1);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                            Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(pages->currentIndex(), 0);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab,
                            Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(pages->currentIndex(), count - 1);
        }
    }

    // F2 edits the label whatever column is current; Ctrl+Q during a capture asks as
    // closing does ("Non" keeps the capture running).
    void listKeysDuringWork()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 3);
        QTableView* view = w.listView();
        view->setFocus();
        view->setCurrentIndex(view->model()->index(1, TEventList::ColDateTime));
        QTest::keyClick(view, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor && view->viewport()->isAncestorOf(editor));
        QCOMPARE(view->currentIndex().column(), int(TEventList::ColLabel));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);

        QTest::keyClick(&w, Qt::Key_F11);
        QVERIFY(w.capture().CaptureRunning());
        rig.prompt.answers = {Answer::No};
        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(rig.prompt.saw(ResStr::AskStopCapture()));
        QVERIFY(w.isVisible());
        QVERIFY(w.capture().CaptureRunning());
        QTest::keyClick(&w, Qt::Key_F12);
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
