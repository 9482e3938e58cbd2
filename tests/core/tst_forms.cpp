#include "settings/ktForms.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

using namespace evtrak;

namespace {
const QRect kDesigned(375, 246, 541, 364); // the main window as designed
const QSize kScreen(1024, 768);
constexpr int kMax = std::numeric_limits<int>::max();
} // namespace

class TestForms : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void placeForm_data()
    {
        QTest::addColumn<QRect>("current");
        QTest::addColumn<QList<int>>("stored"); // left, top, width, height
        QTest::addColumn<bool>("resizable");
        QTest::addColumn<QRect>("expected");

        QTest::newRow("nothing stored")
            << kDesigned << QList<int>{-1, -1, -1, -1} << true << kDesigned;
        QTest::newRow("all stored")
            << kDesigned << QList<int>{10, 20, 600, 400} << true << QRect(10, 20, 600, 400);
        QTest::newRow("width -1 keeps width, place applies")
            << kDesigned << QList<int>{10, 20, -1, 300} << true << QRect(10, 20, 541, 300);
        QTest::newRow("zero is a value")
            << kDesigned << QList<int>{0, 0, 0, 0} << true << QRect(0, 0, 0, 0);
        QTest::newRow("dialog keeps its size")
            << kDesigned << QList<int>{10, 20, 900, 700} << false << QRect(10, 20, 541, 364);
        QTest::newRow("off the right: centred")
            << kDesigned << QList<int>{2000, 20, -1, -1} << true << QRect(241, 20, 541, 364);
        QTest::newRow("off the bottom: centred")
            << kDesigned << QList<int>{10, 700, -1, -1} << true << QRect(10, 202, 541, 364);
        QTest::newRow("touching the edges stays")
            << kDesigned << QList<int>{483, 404, -1, -1} << true << QRect(483, 404, 541, 364);
        QTest::newRow("wider than the screen: truncated toward zero")
            << kDesigned << QList<int>{0, 0, 1101, 300} << true << QRect(-38, 0, 1101, 300);
        QTest::newRow("too big both ways fills the screen")
            << kDesigned << QList<int>{0, 0, 1100, 800} << true << QRect(0, 0, 1014, 758);
        QTest::newRow("just too big")
            << kDesigned << QList<int>{50, 50, 1020, 764} << true << QRect(0, 0, 1014, 758);
        QTest::newRow("just not too big")
            << kDesigned << QList<int>{2, 2, 1019, 764} << true << QRect(2, 2, 1019, 764);
        QTest::newRow("extreme stored values")
            << kDesigned << QList<int>{kMax, kMax, -1, -1} << true << QRect(241, 202, 541, 364);
        QTest::newRow("extreme size")
            << kDesigned << QList<int>{kMax, kMax, kMax, kMax} << true << QRect(0, 0, 1014, 758);
        QTest::newRow("stale place of a dialog")
            << QRect(100, 100, 300, 200) << QList<int>{1900, 1000, 50, 50} << false
            << QRect(362, 284, 300, 200);
    }
    void placeForm()
    {
        QFETCH(QRect, current);
        QFETCH(QList<int>, stored);
        QFETCH(bool, resizable);
        QFETCH(QRect, expected);
        QCOMPARE(PlaceForm(current, stored[0], stored[1], stored[2], stored[3], resizable, kScreen),
                 expected);
    }

    void storedAndRestored()
    {
        const QString path = m_dir.filePath(QStringLiteral("evtrak.ini"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[UserPrefs]\r\nAppMainTitle=x\r\n[FormsSizeAndPos]\r\nfmMain_Left=1\r\n"
                    "fmPrintOptions_Width=abc\r\n");
        }
        QList<TFormGeometry> forms{
            {QStringLiteral("fmMain"), QRect(5, 6, 700, 500), true},
            {QStringLiteral("fmPrintOptions"), QRect(7, 8, 300, 200), false}};
        QCOMPARE(SaveFormsSizeAndPos(path, forms), QString());

        const QList<TFormPlacement> read =
            ReadFormsSizeAndPos(path, {QStringLiteral("FMMAIN"), QStringLiteral("fmPrintOptions"),
                                       QStringLiteral("x")});
        QCOMPARE(read, (QList<TFormPlacement>{{5, 6, 700, 500}, {7, 8, 300, 200}, {}}));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().startsWith("[UserPrefs]\r\nAppMainTitle=x\r\n[FormsSizeAndPos]\r\n"
                                       "fmMain_Left=5\r\nfmPrintOptions_Width=300\r\n"));

        QList<TFormGeometry> restored{
            {QStringLiteral("fmMain"), kDesigned, true},
            {QStringLiteral("fmPrintOptions"), QRect(0, 0, 10, 10), false}};
        LoadFormsSizeAndPos(path, restored, kScreen);
        QCOMPARE(restored[0].geometry, QRect(5, 6, 700, 500));
        QCOMPARE(restored[1].geometry, QRect(7, 8, 10, 10));
    }

    void missingFileLeavesWindows()
    {
        const QString path = m_dir.filePath(QStringLiteral("none.ini"));
        QList<TFormGeometry> forms{{QStringLiteral("fmMain"), kDesigned, true}};
        LoadFormsSizeAndPos(path, forms, QSize(100, 100));
        QCOMPARE(forms[0].geometry, kDesigned);
        QVERIFY(ReadFormsSizeAndPos(path, {QStringLiteral("fmMain")}).isEmpty());

        const QString bad = m_dir.filePath(QStringLiteral("no/dir/evtrak.ini"));
        QCOMPARE(SaveFormsSizeAndPos(bad, forms),
                 QStringLiteral("Impossible d'écrire dans ") + bad);
    }
};

QTEST_GUILESS_MAIN(TestForms)
#include "tst_forms.moc"
