// Program paths: files beside a writable program folder, Log created, shipped files
// found, folders that cannot be made reported in French.
#include "testsupport.h"

#include "app/ktPaths.h"

#include <QDir>
#include <QtTest>

using namespace evtrak;

class TestPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void besideAWritableProgram();
    void installedCopyUsesUserFolders_data();
    void installedCopyUsesUserFolders();
    void folderThatCannotBeMade();
};

void TestPaths::besideAWritableProgram()
{
    QTemporaryDir dir;
    test::WriteBytes(dir.filePath(QStringLiteral("evtrak.html")), {});
    test::WriteBytes(dir.filePath(QStringLiteral("evtrak.portable")), {});
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

void TestPaths::installedCopyUsesUserFolders_data()
{
    QTest::addColumn<QString>("besideProgram");
    QTest::addColumn<bool>("portable");
    QTest::newRow("writable folder, no marker") << QString() << false;
    QTest::newRow("settings file already there") << QStringLiteral("evtrak.ini") << true;
}

// A writable folder alone (root running /usr/local/bin/evtrak) must not receive the
// settings or the Log folder; an existing settings file keeps an old copy where it was.
void TestPaths::installedCopyUsesUserFolders()
{
    QFETCH(QString, besideProgram);
    QFETCH(bool, portable);
    QTemporaryDir bin;
    QTemporaryDir home;
    if (!besideProgram.isEmpty())
        test::WriteBytes(bin.filePath(besideProgram), "[UserPrefs]\r\n");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    const AppPaths p = InitPaths(bin.path());
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    QCOMPARE(p.AppDirWritable, portable);
    const QString app = bin.path() + u'/';
    const QString data = home.filePath(QStringLiteral("data/evtrak/"));
    QCOMPARE(p.PrefsFileName, portable ? app + QStringLiteral("evtrak.ini")
                                       : home.filePath(QStringLiteral("config/evtrak/evtrak.ini")));
    QCOMPARE(p.LogDir, (portable ? app : data) + QStringLiteral("Log/"));
    QVERIFY(QFileInfo(p.LogDir).isDir());
    QCOMPARE(QFileInfo::exists(app + QStringLiteral("Log")), portable);
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
    test::WriteBytes(dir.filePath(QStringLiteral("evtrak.portable")), {});
    const AppPaths p = InitPaths(dir.path(), test::FakeClock());
    QVERIFY(!p.Errors.isEmpty());
    QCOMPARE(p.Errors.first(), first);
}

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
