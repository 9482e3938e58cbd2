#include "app/ktAutostart.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace evtrak;

class TestAutostart : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

    static QString readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
    }

    void entryWrittenAndRemoved()
    {
        const QString entry = AutostartEntryPath(QStringLiteral("evtrak"));
        QCOMPARE(entry, m_home.path() + QStringLiteral("/autostart/evtrak.desktop"));
        // The folder does not exist yet: it is made.
        QVERIFY(SetRunOnStartup(QStringLiteral("evtrak"), QStringLiteral("/opt/evtrak/evtrak"),
                                true, false));
        const QString text = readAll(entry);
        QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
        QVERIFY(text.contains(QStringLiteral("\nExec=/opt/evtrak/evtrak\n")));
        QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));

        // Switched off: the entry goes, also one that something else wrote.
        QVERIFY(SetRunOnStartup(QStringLiteral("evtrak"), QStringLiteral("/opt/evtrak/evtrak"),
                                false, false));
        QVERIFY(!QFile::exists(entry));
        QVERIFY(SetRunOnStartup(QStringLiteral("evtrak"), QStringLiteral("/x"), false, false));
    }

    void runOnceEntryRemovedEitherWay()
    {
        const QString once = RunOnceEntryPath(QStringLiteral("evtrak"));
        QVERIFY(SetRunOnStartup(QStringLiteral("evtrak"), QStringLiteral("/a/b"), false, true));
        QVERIFY(QFile::exists(once));
        QVERIFY(SetRunOnStartup(QStringLiteral("evtrak"), QStringLiteral("/a/b"), true, false));
        QVERIFY(!QFile::exists(once));
        QVERIFY(QFile::exists(AutostartEntryPath(QStringLiteral("evtrak"))));
    }

    void execQuotesReservedCharacters_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/evtrak"
                               << "/usr/bin/evtrak";
        QTest::newRow("space") << "/home/jo/Mes programmes/evtrak"
                               << "\"/home/jo/Mes programmes/evtrak\"";
        QTest::newRow("dollar and quote") << "/tmp/a$b\"c/evtrak"
                                          << "\"/tmp/a\\\\$b\\\\\"c/evtrak\"";
        QTest::newRow("percent") << "/tmp/100%/evtrak"
                                 << "\"/tmp/100%%/evtrak\"";
    }
    void execQuotesReservedCharacters()
    {
        QFETCH(QString, command);
        QFETCH(QString, exec);
        const QString text = QString::fromUtf8(DesktopEntryText(QStringLiteral("evtrak"), command));
        QVERIFY2(text.contains(QStringLiteral("\nExec=") + exec + QLatin1Char('\n')),
                 qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
