// Program paths: files beside a writable program folder, Log created, shipped files
// found, folders that cannot be made reported in French.
#include "testsupport.h"

#include "ui/ktPaths.h"

#include <QDir>
#include <QtTest>

using namespace evtrak;

class TestPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void besideAWritableProgram();
    void folderThatCannotBeMade();
};

void TestPaths::besideAWritableProgram()
{
    QTemporaryDir dir;
    QFile help(dir.filePath(QStringLiteral("evtrak.html")));
    QVERIFY(help.open(QIODevice::WriteOnly));
    help.close();
    const test::FakeClock clock;
    const AppPaths p = InitPaths(dir.path(), clock);
    const QString app = dir.path() + QLatin1Char('/');
    QVERIFY(p.AppDirWritable);
    QCOMPARE(p.AppDir, app);
    QCOMPARE(p.ConfDir, app);
    QCOMPARE(p.LogDir, app + QStringLiteral("Log/"));
    QVERIFY(QFileInfo(p.LogDir).isDir());
    QCOMPARE(p.PrefsFileName, app + QStringLiteral("evtrak.ini"));
    QCOMPARE(p.HelpFile, app + QStringLiteral("evtrak.html"));
    QCOMPARE(p.StartTime, clock.now());
    QVERIFY(p.Errors.isEmpty());
}

void TestPaths::folderThatCannotBeMade()
{
    QTemporaryDir dir;
    // A plain file stands where a folder level should be.
    QFile blocker(dir.filePath(QStringLiteral("Log")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QStringList errors;
    QVERIFY(!ForceDirs(dir.filePath(QStringLiteral("Log/2026/")), &errors));
    const QString first = QStringLiteral("Impossible de créer le répertoire \"%1\"")
                              .arg(dir.filePath(QStringLiteral("Log")));
    QCOMPARE(errors.size(), 2); // the first level that failed, then the whole path
    QCOMPARE(errors.at(0), first);
    QVERIFY(errors.at(1).endsWith(QStringLiteral("Log/2026\"")));

    // Program start-up goes on and says why.
    const AppPaths p = InitPaths(dir.path(), test::FakeClock());
    QVERIFY(!p.Errors.isEmpty());
    QCOMPARE(p.Errors.first(), first);
}

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
