#include "ui/ktCommandLine.h"

#include "eventlog/uMqttMessages.h"

#include <QCommandLineParser>

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
               "  --port-device CHEMIN   utilise CHEMIN comme /dev/port (un fichier de 64 Kio\n"
               "                         où l'octet N représente le port N convient)\n"
               "  --demo                 port parallèle simulé dont les entrées changent seules\n"
               "  --mqtt HOTE[:PORT]     avec --headless : publie les évènements sur ce serveur\n"
               "                         MQTT (les autres réglages : section [Mqtt] d'evtrak.ini)\n"
               "  --report FICHIER       imprime le fichier d'évènements FICHIER...\n"
               "  --pdf SORTIE.pdf       ... dans le fichier PDF SORTIE.pdf, sans fenêtre\n"
               "  --export csv|vcd FICHIER SORTIE\n"
               "                         exporte le fichier d'évènements FICHIER dans SORTIE :\n"
               "                         csv pour les tableurs, vcd pour les chronogrammes\n"
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

} // namespace

CommandLineResult ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption headless(QStringLiteral("headless"));
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
    parser.addOptions({headless, demo, portDevice, report, pdf, mqtt, exportAs, help, version});

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
    o.demo = parser.isSet(demo);
    o.portDevice = parser.value(portDevice);
    o.reportFile = parser.value(report);
    o.pdfFile = parser.value(pdf);
    if (parser.isSet(portDevice) && o.portDevice.isEmpty())
        return Fail(QStringLiteral("--port-device demande un chemin"));
    if (o.demo && !o.portDevice.isEmpty())
        return Fail(
            QStringLiteral("--demo et --port-device ne peuvent pas être utilisées ensemble"));
    if (parser.isSet(report) != parser.isSet(pdf) ||
        (parser.isSet(report) && (o.reportFile.isEmpty() || o.pdfFile.isEmpty())))
        return Fail(QStringLiteral("--report FICHIER et --pdf SORTIE.pdf vont ensemble"));
    if (parser.isSet(mqtt)) {
        if (!o.headless)
            return Fail(QStringLiteral("--mqtt ne s'utilise qu'avec --headless"));
        if (!ParseMqttHostPort(parser.value(mqtt), o.mqttHost, o.mqttPort))
            return Fail(QStringLiteral("--mqtt demande HOTE[:PORT] (port de 1 à 65535), pas « %1 »")
                            .arg(parser.value(mqtt)));
    }
    if (o.headless && o.reportToPdf())
        return Fail(
            QStringLiteral("--headless et --report ne peuvent pas être utilisées ensemble"));
    return r;
}

} // namespace evtrak
