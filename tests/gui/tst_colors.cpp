#include "ui/widgets/ktColors.h"

#include <QTest>

using namespace evtrak;

class TestColors : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void toQColor()
    {
        QPalette pal;
        pal.setColor(QPalette::Base, QColor(1, 1, 1));
        pal.setColor(QPalette::Text, QColor(2, 2, 2));
        pal.setColor(QPalette::Button, QColor(3, 3, 3));
        pal.setColor(QPalette::Highlight, QColor(4, 4, 4));
        pal.setColor(QPalette::HighlightedText, QColor(5, 5, 5));
        pal.setColor(QPalette::Window, QColor(6, 6, 6));

        QCOMPARE(ToQColor(0x00FF8040, pal), QColor(0x40, 0x80, 0xFF)); // 0x00BBGGRR
        QCOMPARE(ToQColor(clBlack, pal), QColor(0, 0, 0));
        QCOMPARE(ToQColor(clWindow, pal), QColor(1, 1, 1));
        QCOMPARE(ToQColor(clWindowText, pal), QColor(2, 2, 2));
        QCOMPARE(ToQColor(clBtnFace, pal), QColor(3, 3, 3));
        QCOMPARE(ToQColor(static_cast<TColor>(0x8000000Du), pal), QColor(4, 4, 4));
        QCOMPARE(ToQColor(static_cast<TColor>(0x8000000Eu), pal), QColor(5, 5, 5));
        QCOMPARE(ToQColor(static_cast<TColor>(0x800000FFu), pal), QColor(6, 6, 6));
    }

    void fromQColorRoundTrips()
    {
        QCOMPARE(FromQColor(QColor(0x40, 0x80, 0xFF)), TColor(0x00FF8040));
        QCOMPARE(FromQColor(QColor(Qt::white)), TColor(0x00FFFFFF));
        QCOMPARE(FromQColor(QColor()), clBlack);
        for (TColor c : {0x000000, 0x123456, 0xFFFFFF, 0x0000FF})
            QCOMPARE(FromQColor(ToQColor(c, QPalette())), c);
    }
};

QTEST_MAIN(TestColors)
#include "tst_colors.moc"
