// The search bar, "Aller à la date..." and the commands that work on the rows shown.
#include "mainwindow_support.h"

#include "eventlog/uEventFilter.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/uEventListDelegate.h"
#include "ui/widgets/uEventView.h"
#include "ui/widgets/uFilterBar.h"

#include <QAction>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

using namespace evtrak;
using namespace evtrak::test;

namespace {
// Rows "Porte" on input 1 and "Pompe" on input 2, alternating, a minute apart.
void AddDoorsAndPumps(TEventList& list, int count)
{
    for (int i = 0; i < count; ++i) {
        const bool door = i % 2 == 0;
        list.AddEvent(
            EventRecord{door ? QStringLiteral("Porte") : QStringLiteral("Pompe"), door ? 1 : 2,
                        DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(8, 0).addSecs(60 * i))),
                        i},
            false, false, true);
    }
    list.SetModified(false);
}
QString FilterPanel(const TfmMain& w)
{
    return w.statusBar()->findChild<QLabel*>(QStringLiteral("StatusBar1FilterPanel"))->text();
}
} // namespace

class TestMainWindowFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void typingFiltersAndEscapeShowsAllAgain()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        AddDoorsAndPumps(w.eventList(), 10);
        QHeaderView* cols = w.listView()->horizontalHeader();
        cols->resizeSection(1, 45);
        cols->resizeSection(0, 150);
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(w.filterBar()->isVisible());
        auto* text = w.filterBar()->findChild<QLineEdit*>(QStringLiteral("edFilterText"));
        QCOMPARE(QApplication::focusWidget(), text);
        QTest::keyClicks(text, QStringLiteral("PÔRTE"));
        QTRY_VERIFY(w.FilterActive());
        QCOMPARE(w.listView()->model()->rowCount(), 5);
        QCOMPARE(FilterPanel(w), QStringLiteral("5 / 10 affichés"));
        // Events recorded meanwhile are filtered as they come.
        w.eventList().AddEvent(EventRecord{QStringLiteral("Porte"), 1, 46000.0, 1}, false, false,
                               true);
        w.eventList().AddEvent(EventRecord{QStringLiteral("Pompe"), 2, 46000.0, 1}, false, false,
                               true);
        QCOMPARE(FilterPanel(w), QStringLiteral("6 / 12 affichés"));

        // An input list that cannot be read is marked in the field, not only by 0 rows.
        auto* inputs = w.filterBar()->findChild<QLineEdit*>(QStringLiteral("edFilterInputs"));
        const auto framedInRed = [inputs] {
            const QImage img = inputs->grab().toImage();
            const QColor edge = img.pixelColor(0, img.height() / 2);
            return edge.red() > 200 && edge.green() < 60 && edge.blue() < 60;
        };
        QVERIFY(!framedInRed());
        QTest::keyClicks(inputs, QStringLiteral("abc;99"));
        QVERIFY(framedInRed());
        QVERIFY(inputs->toolTip().contains(QStringLiteral("illisible")));
        QTRY_COMPARE(FilterPanel(w), QStringLiteral("0 / 12 affichés"));
        inputs->setText(QStringLiteral("1; 5-7"));
        QVERIFY(!framedInRed());
        QVERIFY(inputs->toolTip().isEmpty());
        inputs->clear();

        QTest::keyClick(text, Qt::Key_Escape);
        QVERIFY(!w.filterBar()->isVisible());
        QVERIFY(!w.FilterActive());
        QCOMPARE(w.listView()->model(), &w.eventList());
        QCOMPARE(w.listView()->model()->rowCount(), 12);
        QVERIFY(!w.eventList().Modified()); // a filter never changes the list
        // The columns kept the user's widths through both changes of model.
        QCOMPARE(cols->sectionSize(1), 45);
        QCOMPARE(cols->length(), w.listView()->viewport()->width());
    }

    // Selecting all, copying and deleting while filtered touch only the rows shown.
    void commandsWorkOnTheRowsShown()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        AddDoorsAndPumps(w.eventList(), 6);
        w.action(QStringLiteral("ActLogSelectAll"))->trigger(); // the pumps too
        EventFilter f;
        f.Inputs = QStringLiteral("1");
        w.SetFilter(f);
        QCOMPARE(w.ShownRows(), (std::vector<int>{1, 3, 5}));
        // Hidden rows left the selection; the rows shown keep theirs both ways.
        QCOMPARE(w.SelectedRows(), (std::vector<int>{1, 3, 5}));
        w.CloseFilter();
        QCOMPARE(w.SelectedRows(), (std::vector<int>{1, 3, 5}));
        w.SetFilter(f);
        QCOMPARE(w.SelectedRows(), (std::vector<int>{1, 3, 5}));
        f.Inputs = QStringLiteral("1-2");
        w.SetFilter(f); // a wider filter brings the pumps back unselected
        QCOMPARE(w.SelectedRows(), (std::vector<int>{1, 3, 5}));
        f.Inputs = QStringLiteral("1");
        w.SetFilter(f);
        w.action(QStringLiteral("ActLogSelectAll"))->trigger();
        w.action(QStringLiteral("ActLogCopy"))->trigger();
        const QStringList copied =
            QApplication::clipboard()->text().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(copied.size(), 3);
        for (const QString& line : copied)
            QVERIFY(line.startsWith(QStringLiteral("Porte;1;")));
        w.action(QStringLiteral("ActLogClearSelection"))->trigger(); // answered Yes
        QCOMPARE(w.eventList().rowCount(), 3);
        w.CloseFilter();
        for (int r = 0; r < 3; ++r)
            QCOMPARE(w.eventList().text(r, 0), QStringLiteral("Pompe"));
    }

    // Scrolled down, the rows in view stay while events arrive; at the top the newest
    // show; a button leads back to them.
    void reviewingKeepsRowsInViewWhileEventsArrive()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        TEventList& list = w.eventList();
        QTableView* v = w.listView();
        AddDoorsAndPumps(list, 300);
        const auto record = [&list](int count, int input) {
            std::vector<CapturedEvent> evs(std::size_t(count),
                                           CapturedEvent{false, false, input, 5, 46400.5, 0});
            list.RecordEvents(evs);
            QCoreApplication::processEvents(); // the view's delayed layout
        };
        const auto topLine = [&] {
            return list.fileLine(w.eventView().ListRow(v->indexAt(QPoint(2, 2))));
        };
        const auto inView = [v](const QModelIndex& shown) {
            return v->viewport()->rect().intersects(v->visualRect(shown));
        };
        QToolButton* back = w.eventView().newestButton();

        record(1, 3); // at the top: the newest event shows
        QCOMPARE(topLine(), list.fileLine(0));
        QVERIFY(!back->isVisible());

        QVERIFY(w.GoToDateTime(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 20))));
        const QString chosen = list.fileLine(w.SelectedRows().front());
        const QString top = topLine();
        record(3, 3);
        record(1, 4);
        QCOMPARE(topLine(), top);
        QCOMPARE(list.fileLine(w.SelectedRows().front()), chosen); // still selected
        QVERIFY(inView(v->currentIndex()));
        QVERIFY(back->isVisible());
        QCOMPARE(back->text(), QStringLiteral("4 nouveaux évenements ↑"));
        QTest::mouseClick(back, Qt::LeftButton);
        QCOMPARE(topLine(), list.fileLine(0));
        QVERIFY(!back->isVisible());

        // A row gone to among the newest (the view stays at the top) stays too.
        QVERIFY(w.GoToDateTime(QDateTime(QDate(2026, 12, 7), QTime(13, 0))));
        QCOMPARE(v->verticalScrollBar()->value(), 0);
        const QString newest = list.fileLine(w.SelectedRows().front());
        record(40, 3);
        QCOMPARE(list.fileLine(w.SelectedRows().front()), newest);
        QVERIFY(inView(v->currentIndex()));
        QTest::mouseClick(back, Qt::LeftButton);
        QCOMPARE(topLine(), list.fileLine(0));

        // Filtered: only the events shown count, and they move nothing either.
        EventFilter f;
        f.Inputs = QStringLiteral("1");
        w.SetFilter(f);
        v->scrollTo(v->model()->index(100, 0), QAbstractItemView::PositionAtTop);
        const QString filteredTop = topLine();
        record(2, 2); // hidden
        record(1, 1);
        QCOMPARE(topLine(), filteredTop);
        QCOMPARE(back->text(), QStringLiteral("1 nouvel évenement ↑"));
        // Scrolling to the top by hand shows the newest too, and the button goes.
        v->scrollToTop();
        QVERIFY(!back->isVisible());
        record(1, 1);
        QCOMPARE(topLine(), list.fileLine(0));
    }

    void goToSelectsTheNearestShownEvent()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        AddDoorsAndPumps(w.eventList(), 300);
        QVERIFY(w.GoToDateTime(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 20))));
        // 10:00 is the event of minute 120, row 299 - 120 from the top.
        QCOMPARE(w.listView()->currentIndex().row(), 179);
        QCOMPARE(w.SelectedRows(), std::vector<int>{179});
        QVERIFY(w.listView()->viewport()->rect().intersects(
            w.listView()->visualRect(w.listView()->currentIndex())));
        // Filtered: the nearest among the pumps (odd minutes), at 10:01.
        EventFilter f;
        f.Inputs = QStringLiteral("2");
        w.SetFilter(f);
        QVERIFY(w.GoToDateTime(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 20))));
        QCOMPARE(w.SelectedRows(), std::vector<int>{178});
    }

    void filteredReportSaysSo()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        prefs.ReportStatistics = true;
        TEventList list(prefs);
        AddDoorsAndPumps(list, 6);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        ReportRows shown{{1, 3, 5}, QStringLiteral("Filtre : entrées 1")};
        QString error;
        QVERIFY2(WriteReportPdf(list, prefs, pdf, &error, QDate(2026, 12, 8), &shown),
                 qPrintable(error));
        // The PDF holds text: the filter line and the statistics headings are there.
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        if (!p.waitForFinished() || p.exitCode() != 0)
            QSKIP("pdftotext not available");
        const QString text = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY(text.contains(QStringLiteral("Filtre :")));
        QVERIFY(text.contains(QStringLiteral("entrées 1")));
        QCOMPARE(text.count(QStringLiteral("Porte")), 3);
        QVERIFY(!text.contains(QStringLiteral("Pompe")));
        QVERIFY(text.contains(QStringLiteral("Durée la plus longue")));
    }

    void screenshots()
    {
        const QString dir = qEnvironmentVariable("EVTRAK_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("EVTRAK_SCREENSHOT_DIR not set");
        WindowRig rig;
        TfmMain& w = rig.start();
        w.resize(900, 420);
        const char* labels[] = {"Porte atelier", "Pompe de relevage", "Défaut chaudière"};
        for (int i = 0; i < 3; ++i)
            w.prefs().Inputs[std::size_t(i)].Label = QString::fromUtf8(labels[i]);
        for (int i = 0; i < 40; ++i) {
            const int input = i % 3;
            const bool on = (i / 3) % 2 == 0;
            w.eventList().AddEvent(
                EventRecord{
                    QString::fromUtf8(labels[input]), input,
                    DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(7, 0).addSecs(97 * i))),
                    on ? 0 : 1000 + 37 * i},
                true, on, true);
        }
        QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(w.filterBar()->findChild<QLineEdit*>(QStringLiteral("edFilterText")),
                         QStringLiteral("chaudiere"));
        QTRY_VERIFY(w.FilterActive());
        QVERIFY(w.grab().save(dir + QStringLiteral("/search-bar.png")));

        const auto grabModal = [&](const QString& name, QAction* action) {
            QTimer::singleShot(300, &w, [&, name] {
                QWidget* d = QApplication::activeModalWidget();
                QVERIFY(d);
                QVERIFY(d->grab().save(dir + u'/' + name));
                d->close();
            });
            action->trigger();
        };
        w.listView()->setCurrentIndex(w.listView()->model()->index(2, 0));
        grabModal(QStringLiteral("goto.png"), w.action(QStringLiteral("ActLogGoTo")));
        grabModal(QStringLiteral("statistics.png"), w.action(QStringLiteral("ActLogStatistics")));
        w.CloseFilter();
        QMenu* edit = w.findChild<QMenu*>(QStringLiteral("mnuEdit"));
        edit->popup(w.mapToGlobal(QPoint(60, 20)));
        QTRY_VERIFY(edit->isVisible());
        QVERIFY(edit->grab().save(dir + QStringLiteral("/menu-edition.png")));
        edit->close();

        // Reviewing during a capture: scrolled down, a row selected, events arriving.
        w.prefs().LogUseColors = true;
        w.prefs().Inputs[2].BGColor = kSelRestBG; // an input coloured like the selection
        w.ApplyUserPrefs();
        w.listView()->scrollTo(w.listView()->model()->index(12, 0),
                               QAbstractItemView::PositionAtTop);
        w.listView()->selectRow(14);
        for (int i = 0; i < 3; ++i)
            w.eventList().RecordEvent(CapturedEvent{true, i % 2 == 0, i, 0, 46363.5 + i, 0});
        QCoreApplication::processEvents();
        QVERIFY(w.grab().save(dir + QStringLiteral("/newest-button.png")));
    }
};

QTEST_MAIN(TestMainWindowFilter)
#include "tst_mainwindow_filter.moc"
