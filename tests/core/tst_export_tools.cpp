// The program's files opened by other tools, run as a user would: the CSV export in
// LibreOffice Calc (French), the VCD export in sigrok-cli, the PDF report on a machine
// without any font (pdffonts, pdftotext). A tool that is not installed skips its test.
#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

using evtrak::test::ReadBytes;
using evtrak::test::WriteBytes;

namespace {

const QString kBinary = QStringLiteral(EVTRAK_BINARY_DIR "/src/evtrak");

// Runs a program to its end; its standard output, or a failure of the running test.
QByteArray Run(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(120000))
        qWarning() << program << "did not finish";
    if (exitCode)
        *exitCode = p.exitCode();
    else if (p.exitCode() != 0)
        qWarning().noquote() << program << args << "failed:" << p.readAllStandardError();
    return p.readAllStandardOutput();
}

// Event lines: pulses on inputs 0 and 3, newest first, as the program saves them.
QByteArray EventLines(int count)
{
    QByteArray bytes;
    for (int i = count - 1; i >= 0; --i)
        bytes += QStringLiteral("Défini %1;%2;07/12/2026 14:%3:%4;%5 ms\r\n")
                     .arg(i % 2 ? QStringLiteral("filtre") : QStringLiteral("four"))
                     .arg(i % 2 ? 3 : 0)
                     .arg(10 + i / 60, 2, 10, QLatin1Char('0'))
                     .arg(i % 60, 2, 10, QLatin1Char('0'))
                     .arg(250 + i)
                     .toLatin1();
    return bytes;
}

} // namespace

class TestExportTools : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QFileInfo::exists(kBinary), "build the evtrak target first"); }
    void csvInLibreOfficeCalc();
    void vcdInSigrok();
    void reportWithoutSystemFonts();

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
};

void TestExportTools::csvInLibreOfficeCalc()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("LibreOffice (soffice) n'est pas installé : test du CSV dans Calc sauté");
    WriteBytes(path(QStringLiteral("calc.txt")),
               "Dit \"fin\" [OFF];3;07/12/2026 14:03:11;2.250 s\r\n"
               "=1+2;-4;07/12/2026 14:03:12;5 ms\r\n");
    QCOMPARE(QProcess::execute(kBinary, {"--export", "csv", path(QStringLiteral("calc.txt")),
                                         path(QStringLiteral("calc.csv"))}),
             0);
    // Import as a French user: ';', '"', UTF-8, language fr-FR; flat ODS shows the types.
    Run(soffice, {QStringLiteral("-env:UserInstallation=file://") + path(QStringLiteral("lo")),
                  "--headless", "--infilter=CSV:59,34,76,1,,1036", "--convert-to", "fods",
                  "--outdir", m_dir.path(), path(QStringLiteral("calc.csv"))});
    QXmlStreamReader xml(ReadBytes(path(QStringLiteral("calc.fods"))));
    QStringList cells[4]; // rows 2 and 3: "type value" per cell
    int row = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("table-row"))
            ++row;
        if (row < 2 || row > 3 || !xml.isStartElement() ||
            xml.name() != QLatin1String("table-cell"))
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const QString type = a.value(QLatin1String("office:value-type")).toString();
        QString value;
        for (const char* key : {"office:date-value", "office:time-value", "office:value"})
            if (a.hasAttribute(QLatin1String(key)))
                value = a.value(QLatin1String(key)).toString();
        if (type == QLatin1String("string"))
            value = xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
        if (!type.isEmpty())
            cells[row] << type + u' ' + value;
    }
    // Newest on top: the row of 14:03:12 first.
    QCOMPARE(cells[3], QStringList({"date 2026-12-07", "time PT14H03M11S", "string Dit \"fin\"",
                                    "string OFF", "float 3", "float 2250", "float 2.25"}));
    // Calc runs a bare "=1+2" as a formula; the exported label stays text, the input and
    // the durations stay numbers.
    QCOMPARE(cells[2], QStringList({"date 2026-12-07", "time PT14H03M12S", "string '=1+2",
                                    "float -4", "float 5", "float 0.005"}));
}

void TestExportTools::vcdInSigrok()
{
    const QString sigrok = QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
    if (sigrok.isEmpty())
        QSKIP("sigrok-cli n'est pas installé : test du VCD dans sigrok sauté");
    WriteBytes(path(QStringLiteral("wave.txt")), "Bouton [OFF];1;07/12/2026 14:03:11;1.500 s\r\n"
                                                 "Bouton [ON];1;07/12/2026 14:03:09;0 ms\r\n"
                                                 "Sonde;4;07/12/2026 14:03:10;300 ms\r\n");
    QCOMPARE(QProcess::execute(kBinary, {"--export", "vcd", path(QStringLiteral("wave.txt")),
                                         path(QStringLiteral("wave.vcd"))}),
             0);
    const QByteArray bits =
        Run(sigrok, {"-I", "vcd", "-i", path(QStringLiteral("wave.vcd")), "-O", "bits:width=0"});
    // Samples at 1 kHz per channel, then the ms where each level change happens.
    QMap<QString, QString> samples;
    for (const QByteArray& line : bits.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && !line.startsWith("META"))
            samples[QString::fromLatin1(line.left(colon))] +=
                QString::fromLatin1(line.mid(colon + 1)).remove(u' ');
    }
    QCOMPARE(samples.keys(), QStringList({"Bouton", "Sonde"}));
    const auto edges = [](const QString& s) {
        QList<int> at;
        for (int i = 1; i < s.size(); ++i)
            if (s.at(i) != s.at(i - 1))
                at << i;
        return at;
    };
    // Time 0 is 14:03:08; the button is on from 14:03:09 for 2 s (the OFF row's time
    // beats its 1.5 s), the probe's pulse ends at 14:03:10.
    QCOMPARE(edges(samples[QStringLiteral("Bouton")]), QList<int>({1000, 3000}));
    QCOMPARE(edges(samples[QStringLiteral("Sonde")]), QList<int>({1700, 2000}));
    QCOMPARE(samples[QStringLiteral("Bouton")].at(1500), QChar(u'1'));
}

void TestExportTools::reportWithoutSystemFonts()
{
    for (const char* tool : {"pdffonts", "pdftotext"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("poppler-utils n'est pas installé : test des polices du rapport sauté");
    WriteBytes(path(QStringLiteral("fonts.conf")),
               "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
    WriteBytes(path(QStringLiteral("report.txt")), EventLines(150));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FONTCONFIG_FILE"), path(QStringLiteral("fonts.conf")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    int code = -1;
    Run(kBinary,
        {"--report", path(QStringLiteral("report.txt")), "--pdf",
         path(QStringLiteral("report.pdf"))},
        env, &code);
    QCOMPARE(code, 0);

    const QString fonts =
        QString::fromUtf8(Run(QStringLiteral("pdffonts"), {path(QStringLiteral("report.pdf"))}));
    QVERIFY2(fonts.contains(QStringLiteral("LiberationSans")) &&
                 fonts.contains(QStringLiteral("LiberationSans-Bold")),
             qPrintable(fonts));
    for (const QString& line : fonts.split(u'\n').mid(2, -1))
        if (!line.isEmpty())
            QVERIFY2(line.contains(QStringLiteral("LiberationSans")) &&
                         line.contains(QStringLiteral(" yes ")),
                     qPrintable(line)); // every font is ours, and embedded

    // Words in reading order; the gap between a caption and its value is not counted.
    const QString text =
        QString::fromUtf8(
            Run(QStringLiteral("pdftotext"), {"-layout", path(QStringLiteral("report.pdf")), "-"}))
            .simplified();
    QVERIFY2(text.contains(QStringLiteral("Nombre total d'évenements : 150")),
             qPrintable(text.left(600)));
    // Plain letters: a viewer's search finds "défini" and "filtre".
    QVERIFY(text.contains(QStringLiteral("Défini filtre")));
    for (const QChar ligature : {QChar(0xFB01), QChar(0xFB02), QChar(0xFB00), QChar(0xFB03)})
        QVERIFY(!text.contains(ligature));
}

QTEST_GUILESS_MAIN(TestExportTools)
#include "tst_export_tools.moc"
