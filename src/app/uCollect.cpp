#include "app/uCollect.h"

#include "app/ktPaths.h"
#include "app/ktStopSignals.h"
#include "base/ktMisc.h"
#include "base/uResStr.h"
#include "eventlog/uFolderLock.h"
#include "mqtt/uMqttCollector.h"
#include "settings/uUserPrefs.h"

#include <QCoreApplication>
#include <QDir>
#include <QSysInfo>

namespace evtrak {

int RunCollect(const CommandLineOptions& options)
{
    TStopSignals signals;
    if (!signals.installed()) {
        PrintErr(QStringLiteral("evtrak : impossible d'installer la gestion des signaux."));
        return 1;
    }
    const AppPaths paths = InitPaths(QCoreApplication::applicationDirPath());
    for (const QString& error : paths.Errors)
        PrintErr(error);
    TUserPrefs prefs = DefaultUserPrefs();
    QString reason;
    if (!ReadUserPrefs(prefs, paths.PrefsFileName, nullptr, &reason))
        PrintErr(ResStr::CannotRead(paths.PrefsFileName, reason) +
                 QStringLiteral(" Réglages par défaut."));
    if (!options.mqttHost.isEmpty()) {
        prefs.MqttHost = options.mqttHost;
        prefs.MqttPort = options.mqttPort;
    }
    if (prefs.MqttHost.trimmed().isEmpty()) {
        PrintErr(QStringLiteral("evtrak : le collecteur a besoin d'un serveur MQTT : --mqtt "
                                "HOTE[:PORT], ou Host= dans la section [Mqtt] d'evtrak.ini."));
        return 2;
    }

    TCollectConfig config;
    config.Mqtt = MqttConfigFromPrefs(prefs, QString(), QString());
    config.Folder = QDir(paths.LogDir).filePath(QStringLiteral("stations"));
    config.Stations = CollectStationList(prefs.CollectStations);
    config.DurationFormat = prefs.LogDurationFormat;
    config.ClientId = prefs.CollectClientId.trimmed();
    if (config.ClientId.isEmpty()) {
        // Stable across runs, so that the broker keeps the session while it is away.
        QString host = QSysInfo::machineHostName();
        for (QChar& c : host)
            if (!c.isLetterOrNumber() && c != u'-' && c != u'.')
                c = u'_';
        config.ClientId =
            QStringLiteral("evtrak-collect-") + (host.isEmpty() ? QStringLiteral("evtrak") : host);
    }
    if (!QDir().mkpath(config.Folder)) {
        PrintErr(
            QStringLiteral("evtrak : le dossier %1 ne peut pas être créé.").arg(config.Folder));
        return 2;
    }
    TFolderLock folderLock;
    if (folderLock.Acquire(config.Folder, CollectLockMode()) != TFolderLock::Result::Acquired) {
        PrintErr(QStringLiteral("evtrak : ") + folderLock.ErrorText());
        return 2;
    }

    TMqttCollector collector(config, [](const QString& line) { PrintErr(line); });
    if (!collector.Start()) {
        PrintErr(QStringLiteral("evtrak : ") + collector.ErrorText());
        return 2;
    }
    PrintErr(QStringLiteral("Collecte en cours dans %1 (client %2) ; Ctrl+C pour arrêter.")
                 .arg(QDir::toNativeSeparators(config.Folder), config.ClientId));
    QObject::connect(&signals, &TStopSignals::stopRequested, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    collector.Stop();
    PrintErr(QStringLiteral("Collecte arrêtée : %1 évènement(s) écrit(s), %2 doublon(s) écarté(s).")
                 .arg(collector.Written())
                 .arg(collector.Duplicates()));
    return 0;
}

} // namespace evtrak
