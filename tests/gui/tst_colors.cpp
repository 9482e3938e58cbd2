#include "ui/widgets/ktColors.h"

#include <QTest>

using namespace evtrak;

class TestColors : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Stored colours are 0x00BBGGRR and come back unchanged; the system colours follow
    // the palette of the moment (a dark theme changes them), so they are never frozen.
    void storedColoursRoundTripSystemColoursFollowThePalette()
    {
        QCOMPARE(ToQColor(0x00FF8040, QPalette()), QColor(0x40, 0x80, 0xFF));
        for (TColor c : {0x000000, 0x123456, 0xFFFFFF, 0x0000FF})
            QCOMPARE(FromQColor(ToQColor(c, QPalette())), c);
        QCOMPARE(FromQColor(QColor()), clBlack);
        QPalette dark;
        dark.setColor(QPalette::Base, QColor(1, 1, 1));
        dark.setColor(QPalette::Button, QColor(3, 3, 3));
        QCOMPARE(ToQColor(clWindow, dark), QColor(1, 1, 1));
        QCOMPARE(ToQColor(clBtnFace, dark), QColor(3, 3, 3));
    }
};

QTEST_MAIN(TestColors)
#include "tst_colors.moc"
