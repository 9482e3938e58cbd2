#include "settings/uUserPrefs.h"

#include <QTest>

using namespace evtrak;

class TestUserPrefs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void inputAccessorsOutOfRange()
    {
        TUserPrefs p = DefaultUserPrefs();
        for (int i : {-1, 13, 1000}) {
            const TInputPrefs v = GetInputPrefs(p, i);
            QCOMPARE(v.Active, false);
            QCOMPARE(v.Invert, false);
            QCOMPARE(v.MinDuration, 2);
            QVERIFY(v.Label.isEmpty());
            QCOMPARE(v.TextColor, clBlack);
            QCOMPARE(v.BGColor, clWindow);
        }
        const TUserPrefs before = p;
        SetInputPrefs(p, 13, TInputPrefs{true, true, 9, QStringLiteral("x"), 1, 2});
        SetInputPrefs(p, -1, TInputPrefs{true, true, 9, QStringLiteral("x"), 1, 2});
        QVERIFY(p == before);
        SetInputPrefs(p, 12, TInputPrefs{false, true, 9, QStringLiteral("x"), 1, 2});
        QCOMPARE(GetInputPrefs(p, 12), (TInputPrefs{false, true, 9, QStringLiteral("x"), 1, 2}));
        QCOMPARE(GetInputPrefs(p, 3).Label, QStringLiteral("Libellé_3"));
    }
};

QTEST_GUILESS_MAIN(TestUserPrefs)
#include "tst_userprefs.moc"
