#include "settings/uConf.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace evtrak;

class TestConf : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:

    void saveAsThenSaveAndLoad()
    {
        TConf conf(QStringLiteral("/opt/evtrak"));
        QSignalSpy captions(&conf, &TConf::SaveMenuCaptionChanged);
        const QString mine = m_dir.filePath(QStringLiteral("Mine.icf"));
        TUserPrefs prefs = DefaultUserPrefs();
        prefs.AppMainTitle = QStringLiteral("Ligne 2");

        QCOMPARE(conf.SaveConfAs(prefs, mine, nullptr), QString());
        QCOMPARE(conf.ConfFileName(), mine);
        QVERIFY(conf.HasConfFile());
        QCOMPARE(conf.SaveMenuCaption(), QStringLiteral("Sauver (Mine.icf)"));
        QCOMPARE(captions.size(), 1);
        QCOMPARE(captions.at(0).at(0).toString(), QStringLiteral("Sauver (Mine.icf)"));
        QCOMPARE(QDir(conf.ConfDir()), QDir(m_dir.path()));

        // Loading another file (missing: every setting back to its default, titles kept)
        // makes it current but leaves the dialog folder.
        prefs.ReportMainTitle = QStringLiteral("Rapport");
        const QString other = QDir::temp().filePath(QStringLiteral("evtrak-none/Autre.icf"));
        QVERIFY(conf.LoadConf(prefs, other, nullptr));
        QCOMPARE(conf.SaveMenuCaption(), QStringLiteral("Sauver (Autre.icf)"));
        QCOMPARE(prefs.AppMainTitle, DefaultUserPrefs().AppMainTitle);
        QCOMPARE(prefs.ReportMainTitle, QStringLiteral("Rapport"));
        QCOMPARE(QDir(conf.ConfDir()), QDir(m_dir.path()));

        QVERIFY(conf.LoadConf(prefs, mine, nullptr));
        QCOMPARE(prefs.AppMainTitle, QStringLiteral("Ligne 2"));
    }

    void failedSaveKeepsName()
    {
        TConf conf(QStringLiteral("/opt/evtrak"));
        const QString mine = m_dir.filePath(QStringLiteral("Kept.icf"));
        QCOMPARE(conf.SaveConf(DefaultUserPrefs(), mine, nullptr), QString());
        QSignalSpy captions(&conf, &TConf::SaveMenuCaptionChanged);

        const QString bad = m_dir.filePath(QStringLiteral("no/such/dir/Bad.icf"));
        QCOMPARE(conf.SaveConfAs(DefaultUserPrefs(), bad, nullptr),
                 QStringLiteral("Impossible d'écrire dans ") + bad);
        QCOMPARE(conf.ConfFileName(), mine);
        QCOMPARE(conf.SaveMenuCaption(), QStringLiteral("Sauver (Kept.icf)"));
        QCOMPARE(QDir(conf.ConfDir()), QDir(QStringLiteral("/opt/evtrak")));
        QCOMPARE(captions.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestConf)
#include "tst_conf.moc"
