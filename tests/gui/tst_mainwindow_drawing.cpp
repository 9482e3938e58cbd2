// The coloured drawing of event rows and the in-place label editor.
#include "mainwindow_support.h"

#include "ui/widgets/uEventListDelegate.h"

#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTableView>
#include <QValidator>

using namespace evtrak;
using namespace evtrak::test;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;

// One row painted alone on a white image 480 x 16, columns 200/60/120/100.
QImage PaintRow(const QStringList& texts, bool selected, const TUserPrefs& prefs,
                QVector<int> widths = {200, 60, 120, 100})
{
    QImage img(480, 16, QImage::Format_RGB32);
    img.fill(kWhite);
    QPainter p(&img);
    EventRowPaint row;
    row.rowRect = QRect(0, 0, 480, 16);
    row.widths = widths;
    row.texts = texts;
    row.selected = selected;
    row.font = QFont(QStringLiteral("Arial"), 8);
    row.font.setStyleStrategy(QFont::NoAntialias); // exact colours to count
    QPalette pal;
    pal.setColor(QPalette::Base, QColor(250, 250, 250));
    row.systemPalette = pal;
    PaintEventRow(p, row, prefs);
    return img;
}

// How many pixels of colour c lie in columns [x0, x1) (of lines [y0, y1)).
int Count(const QImage& img, int x0, int x1, QColor c, int y0 = 0, int y1 = 16)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += img.pixelColor(x, y) == c;
    return n;
}

} // namespace

class TestMainWindowDrawing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void unselectedRowInItsInputsColours()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        SetInputPrefs(prefs, 2,
                      TInputPrefs{true, false, 2, QStringLiteral("x"), 0xFFFFFF, 0x800000});
        const QImage img = PaintRow({QStringLiteral("Porte"), QStringLiteral("2"),
                                     QStringLiteral("07/12/2026 10:00:00"), QStringLiteral("5 ms")},
                                    false, prefs);
        const QColor navy(0, 0, 128), white(255, 255, 255);
        // Every column is dark blue, each with white text.
        for (auto [x0, x1] : {std::pair{0, 200}, {200, 260}, {260, 380}, {380, 480}}) {
            QCOMPARE(img.pixelColor(x0 + 2, 15), navy);
            QVERIFY(Count(img, x0, x1, white) > 0);
        }
    }

    void selectedRowScheme()
    {
        TUserPrefs prefs = DefaultUserPrefs();
        SetInputPrefs(prefs, 2,
                      TInputPrefs{true, false, 2, QStringLiteral("x"), 0xFFFFFF, 0x800000});
        const QStringList texts = {QStringLiteral("Porte"), QStringLiteral("2"),
                                   QStringLiteral("07/12/2026 10:00:00"), QStringLiteral("5 ms")};
        QImage img = PaintRow(texts, true, prefs);
        const QColor green(0, 128, 0), lime(0, 255, 0), yellow(255, 255, 128);
        QCOMPARE(img.pixelColor(2, 13), green);
        QCOMPARE(img.pixelColor(199, 13), green);
        QCOMPARE(img.pixelColor(200, 13), yellow);
        QCOMPARE(img.pixelColor(477, 13), yellow);
        QVERIFY(Count(img, 0, 200, lime) > 0);
        QVERIFY(Count(img, 200, 478, Qt::black, 2, 14) > 0);
        QCOMPARE(Count(img, 0, 480, QColor(0, 0, 128)), 0); // no input colour shows

        // A wider first column moves the boundary and the later texts.
        img = PaintRow(texts, true, prefs, {260, 60, 120, 40});
        QCOMPARE(img.pixelColor(255, 13), green);
        QCOMPARE(Count(img, 200, 260, Qt::black, 2, 14), 0);

        // A row of an input coloured like the selection (black on light yellow) is told
        // from a selected row by the frame: black outside, white inside, all round.
        SetInputPrefs(prefs, 2,
                      TInputPrefs{true, false, 2, QStringLiteral("x"), 0x000000, kSelRestBG});
        const QImage plain = PaintRow(texts, false, prefs);
        img = PaintRow(texts, true, prefs);
        for (const QPoint outer :
             {QPoint(150, 0), QPoint(470, 0), QPoint(470, 15), QPoint(0, 8), QPoint(479, 8)}) {
            QCOMPARE(img.pixelColor(outer), QColor(Qt::black));
            QVERIFY(plain.pixelColor(outer) != QColor(Qt::black));
        }
        for (const QPoint inner : {QPoint(150, 1), QPoint(470, 14), QPoint(1, 8), QPoint(478, 8)})
            QCOMPARE(img.pixelColor(inner), QColor(Qt::white));
    }

    void unknownInputAndUnreadableIndex_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<bool>("failure");
        QTest::newRow("42") << QStringLiteral("42") << false;
        QTest::newRow("-1") << QStringLiteral("-1") << false;
        QTest::newRow("text") << QStringLiteral("abc") << true;
        QTest::newRow("empty") << QString() << true;
    }
    void unknownInputAndUnreadableIndex()
    {
        QFETCH(QString, index);
        QFETCH(bool, failure);
        const QImage img =
            PaintRow({QStringLiteral("Porte"), index, QStringLiteral("d"), QStringLiteral("5 ms")},
                     false, DefaultUserPrefs());
        const QColor red(255, 0, 0);
        if (failure) {
            // "---" in red at the left margin and nothing after it.
            QVERIFY(Count(img, 0, 40, red) > 0);
            QCOMPARE(Count(img, 40, 480, Qt::black), 0);
        } else {
            // Black text on the window colour, no failure mark.
            QCOMPARE(img.pixelColor(479, 15), QColor(250, 250, 250));
            QCOMPARE(Count(img, 0, 480, red), 0);
            QVERIFY(Count(img, 200, 260, Qt::black) > 0);
        }
    }

    void listDrawsColoursOnlyWhenAskedTo()
    {
        WindowRig rig;
        TfmMain& w = rig.start();
        w.resize(600, 300);
        AddRows(w.eventList(), 3, 1);
        w.listView()->selectRow(0);
        QTableView* view = w.listView();
        const QPoint cell =
            view->visualRect(view->model()->index(0, 0)).bottomLeft() + QPoint(3, -3);
        const QColor green(0, 128, 0);

        QCoreApplication::processEvents();
        QVERIFY(view->viewport()->grab().toImage().pixelColor(cell) != green);

        w.prefs().LogUseColors = true;
        w.ApplyUserPrefs();
        QCOMPARE(view->viewport()->grab().toImage().pixelColor(cell), green);
        // Kept visible when the list loses the focus.
        view->clearFocus();
        QCOMPARE(view->viewport()->grab().toImage().pixelColor(cell), green);
    }

    void labelEditorRefusesSeparators_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << QStringLiteral("Porte nord") << true;
        QTest::newRow("semicolon") << QStringLiteral("a;b") << false;
        QTest::newRow("LF") << QStringLiteral("a\nb") << false;
        QTest::newRow("CR") << QStringLiteral("a\rb") << false;
    }
    void labelEditorRefusesSeparators()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(IsValidLabel(text), accepted);

        WindowRig rig;
        TfmMain& w = rig.start();
        AddRows(w.eventList(), 1);
        w.eventList().SetModified(false);
        const QModelIndex idx = w.eventList().index(0, 0);
        QTableView* view = w.listView();
        view->edit(idx);
        auto* editor = view->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->selectAll();
        editor->insert(text); // typing or pasting: the validator decides
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents(); // the commit is queued
        QCOMPARE(w.eventList().text(0, 0) == text, accepted);
        QCOMPARE(w.eventList().Modified(), accepted);
    }
};

QTEST_MAIN(TestMainWindowDrawing)
#include "tst_mainwindow_drawing.moc"
