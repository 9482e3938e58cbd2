#include "app/ktCommandLine.h"

#include "mqtt/uMqttMessages.h"

#include <QCommandLineParser>
#include <QFile>
#include <sys/stat.h>

namespace evtrak {

namespace {

QString HelpText(const QString& program)
{
    return QStringLiteral(
               "Usage : %1 [options]\n"
               "Enregistreur d'évènements sur les entrées du port parallèle.\n"
               "\n"
               "Options :\n"
               "  --headless             acquisition sans fenêtre : chaque évènement est écrit\n"
               "                         sur la sortie standard ; SIGINT ou SIGTERM arrête,\n"
               "                         sauvegarde le fichier en cours et termine\n"
               "  --collect              collecteur : écrit les évènements de chaque poste\n"
               "                         publiés sur le serveur MQTT dans Log/stations/POSTE\n"
               "  --port-device CHEMIN   utilise CHEMIN comme /dev/port (un fichier de 64 Kio\n"
               "                         où l'octet N représente le port N convient)\n"
               "  --demo                 port parallèle simulé dont les entrées changent seules\n"
               "  --mqtt HOTE[:PORT]     avec --headless : publie les évènements sur ce serveur\n"
               "                         MQTT (les autres réglages : section [Mqtt] d'evtrak.ini) "
               ";\n"
               "                         avec --collect : les collecte sur ce serveur\n"
               "  --report FICHIER       imprime le fichier d'évènements FICHIER...\n"
               "  --pdf SORTIE.pdf       ... dans le fichier PDF SORTIE.pdf, sans fenêtre\n"
               "  --export csv|vcd FICHIER SORTIE\n"
               "                         exporte le fichier d'évènements FICHIER dans SORTIE :\n"
               "                         csv pour les tableurs, vcd pour les chronogrammes\n"
               "  --debug                affiche sur la sortie d'erreur les diagnostics des\n"
               "                         développeurs (en anglais) ; QT_LOGGING_RULES les\n"
               "                         choisit plus finement (par exemple\n"
               "                         QT_LOGGING_RULES='evtrak.mqtt=true')\n"
               "  --help                 affiche cette aide\n"
               "  --version              affiche la version\n")
        .arg(program);
}

CommandLineResult Fail(const QString& text)
{
    CommandLineResult r;
    r.action = CommandLineResult::Action::Exit;
    r.exitCode = 2;
    r.err = QStringLiteral("evtrak : ") + text +
            QStringLiteral("\nEssayez « evtrak --help » pour plus d'informations.\n");
    return r;
}

// What a path names when it cannot stand for the port space (a regular file or a
// character device such as /dev/port); empty when it can, or when it does not exist (the
// port's start-up says so with the reason).
QString UnusablePortDevice(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("un tube nommé (FIFO)");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("une socket");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("un dossier");
    if (S_ISBLK(st.st_mode))
        return QStringLiteral("un périphérique bloc");
    return {};
}

} // namespace

CommandLineResult ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption collect(QStringLiteral("collect"));
    const QCommandLineOption demo(QStringLiteral("demo"));
    const QCommandLineOption portDevice(QStringLiteral("port-device"), QString(),
                                        QStringLiteral("PATH"));
    const QCommandLineOption report(QStringLiteral("report"), QString(),
                                    QStringLiteral("EVENTFILE"));
    const QCommandLineOption pdf(QStringLiteral("pdf"), QString(), QStringLiteral("OUTPUT"));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"), QString(), QStringLiteral("HOST"));
    const QCommandLineOption exportAs(QStringLiteral("export"), QString(),
                                      QStringLiteral("FORMAT"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption debug(QStringLiteral("debug"));
    const QList<QCommandLineOption> all = {headless, demo,    portDevice, report,  pdf,  mqtt,
                                           exportAs, collect, help,       version, debug};
    parser.addOptions(all);

    if (!parser.parse(arguments)) {
        // Qt's own texts are English: say it in French with the offending option.
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return Fail(QStringLiteral("option inconnue « %1 »").arg(unknown.first()));
        return Fail(QStringLiteral("ligne de commande incorrecte (%1)").arg(parser.errorText()));
    }
    const QString program = QStringLiteral("evtrak");
    if (parser.isSet(help)) {
        CommandLineResult r;
        r.action = CommandLineResult::Action::Exit;
        r.out = HelpText(program);
        return r;
    }
    if (parser.isSet(version)) {
        CommandLineResult r;
        r.action = CommandLineResult::Action::Exit;
        r.out = QStringLiteral("evtrak %1\n").arg(QStringLiteral(EVTRAK_VERSION));
        return r;
    }
    // An option's value that is itself one of the options ("--mqtt --demo"): the value
    // was forgotten.
    for (const QCommandLineOption& option : all) {
        if (option.valueName().isEmpty() || !parser.isSet(option))
            continue;
        QString value = parser.value(option);
        if (!value.startsWith(QLatin1Char('-')))
            continue;
        while (value.startsWith(QLatin1Char('-')))
            value.remove(0, 1);
        for (const QCommandLineOption& other : all)
            if (other.names().contains(value))
                return Fail(QStringLiteral("--%1 demande une valeur : « %2 » est une option")
                                .arg(option.names().first(), parser.value(option)));
    }
    QStringList positional = parser.positionalArguments();
    CommandLineResult r;
    CommandLineOptions& o = r.options;
    if (parser.isSet(exportAs)) {
        o.exportFormat = parser.value(exportAs).toLower();
        if (o.exportFormat != QLatin1String("csv") && o.exportFormat != QLatin1String("vcd"))
            return Fail(QStringLiteral("format d'export inconnu « %1 » (csv ou vcd)")
                            .arg(parser.value(exportAs)));
        if (positional.size() < 2 || positional.at(0).isEmpty() || positional.at(1).isEmpty())
            return Fail(QStringLiteral("--export %1 demande un FICHIER d'évènements et une SORTIE")
                            .arg(o.exportFormat));
        o.exportFile = positional.takeFirst();
        o.exportOutput = positional.takeFirst();
        if (parser.isSet(headless) || parser.isSet(report) || parser.isSet(pdf))
            return Fail(QStringLiteral("--export ne peut pas être utilisée avec --headless ou "
                                       "--report"));
    }
    if (!positional.isEmpty())
        return Fail(QStringLiteral("argument inattendu « %1 »").arg(positional.first()));

    o.headless = parser.isSet(headless);
    o.collect = parser.isSet(collect);
    if (o.collect && (parser.isSet(headless) || parser.isSet(demo) || parser.isSet(portDevice) ||
                      parser.isSet(report) || parser.isSet(pdf) || parser.isSet(exportAs)))
        return Fail(QStringLiteral("--collect ne s'utilise qu'avec --mqtt (et --debug)"));
    o.demo = parser.isSet(demo);
    o.debug = parser.isSet(debug);
    o.portDevice = parser.value(portDevice);
    o.reportFile = parser.value(report);
    o.pdfFile = parser.value(pdf);
    if (parser.isSet(portDevice) && o.portDevice.isEmpty())
        return Fail(QStringLiteral("--port-device demande un chemin"));
    if (o.demo && !o.portDevice.isEmpty())
        return Fail(
            QStringLiteral("--demo et --port-device ne peuvent pas être utilisées ensemble"));
    if (!o.portDevice.isEmpty()) {
        const QString kind = UnusablePortDevice(o.portDevice);
        if (!kind.isEmpty())
            return Fail(QStringLiteral("--port-device « %1 » est %2 ; il faut un fichier "
                                       "ordinaire ou un périphérique de port comme /dev/port")
                            .arg(o.portDevice, kind));
    }
    if (parser.isSet(report) != parser.isSet(pdf) ||
        (parser.isSet(report) && (o.reportFile.isEmpty() || o.pdfFile.isEmpty())))
        return Fail(QStringLiteral("--report FICHIER et --pdf SORTIE.pdf vont ensemble"));
    if (parser.isSet(mqtt)) {
        if (!o.headless && !o.collect)
            return Fail(QStringLiteral("--mqtt ne s'utilise qu'avec --headless ou --collect"));
        const QString value = parser.value(mqtt);
        // "host:" or "[::1]:": a colon with no port after it (a bare IPv6 address such as
        // "fe80::" ends with one too, without brackets and with several colons).
        if (value.endsWith(QLatin1Char(':')) &&
            (value.count(QLatin1Char(':')) == 1 || value.startsWith(QLatin1Char('['))))
            return Fail(
                QStringLiteral("--mqtt « %1 » : le numéro de port manque après « : »").arg(value));
        if (!ParseMqttHostPort(value, o.mqttHost, o.mqttPort))
            return Fail(QStringLiteral("--mqtt demande HOTE[:PORT] (port de 1 à 65535), pas « %1 »")
                            .arg(parser.value(mqtt)));
    }
    if (o.headless && o.reportToPdf())
        return Fail(
            QStringLiteral("--headless et --report ne peuvent pas être utilisées ensemble"));
    return r;
}

} // namespace evtrak
