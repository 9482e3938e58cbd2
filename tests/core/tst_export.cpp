// CSV and VCD exports of the list: exact bytes for the tricky rows (suffixes, quoting,
// decimal comma, negative values, pulses and edges on the wire), the command-line form
// and its atomic write.
#include "testsupport.h"

#include "eventlog/uEventFile.h"
#include "eventlog/uExport.h"
#include "ui/ktCommandLine.h"

#include <QtTest>

using namespace evtrak;
using evtrak::test::FileSizeLimit;
using evtrak::test::ReadBytes;
using evtrak::test::WriteBytes;

namespace {

TDateTime At(int h, int m, int s)
{
    return DateTimeFromQt(QDateTime(QDate(2026, 12, 7), QTime(h, m, s)));
}

// Adds rows oldest first at the top, as a capture does.
void Add(TEventList& list, const QString& label, int input, TDateTime when, int ms, int suffix = -1)
{
    list.AddEvent({label, input, when, ms}, suffix >= 0, suffix == 1, true);
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void csvForSpreadsheets();
    void vcdWaveforms();
    void commandLine();
};

void TestExport::csvForSpreadsheets()
{
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.LogDurationFormat = 2; // "2.250 s" in the rows: read back to ms
    TEventList list(prefs);
    Add(list, QStringLiteral("Négatif"), -3, At(14, 3, 1), -5);
    Add(list, QStringLiteral(" Dit \"fin\""), 12, At(14, 3, 5), 1500);
    Add(list, QStringLiteral("Porte atelier"), 0, At(14, 3, 9), 0, 1);
    Add(list, QStringLiteral("Porte atelier"), 0, At(14, 3, 11), 2250, 0);
    const QByteArray expected = "\xEF\xBB\xBF"
                                "Date;Heure;Libellé;État;TS;Durée (ms);Durée (s)\r\n"
                                "07/12/2026;14:03:11;Porte atelier;OFF;0;2250;2,250\r\n"
                                "07/12/2026;14:03:09;Porte atelier;ON;0;0;0,000\r\n"
                                "07/12/2026;14:03:05;\" Dit \"\"fin\"\"\";;12;1500;1,500\r\n"
                                "07/12/2026;14:03:01;Négatif;;-3;-5;-0,005\r\n";
    QCOMPARE(ExportCsv(list), expected);
}

void TestExport::vcdWaveforms()
{
    const TUserPrefs prefs = DefaultUserPrefs(); // the list reads it while it lives
    TEventList list(prefs);
    // Input 5 is on when the list starts; input 0 has edges whose OFF row lost its
    // milliseconds; inputs 12 and 7 have pulses; 7 shares input 0's label.
    Add(list, QStringLiteral("Porte atelier"), 0, At(14, 3, 9), 0, 1);
    Add(list, QStringLiteral("Été 1"), 5, At(14, 3, 10), 3000, 0);
    Add(list, QStringLiteral("Porte atelier"), 0, At(14, 3, 11), 2250, 0);
    Add(list, QStringLiteral("3e porte"), 12, At(14, 3, 12), 1500);
    Add(list, QStringLiteral("Porte atelier"), 7, At(14, 3, 12), 200);
    const QDateTime now(QDate(2026, 12, 8), QTime(9, 30, 0));
    const QByteArray expected = "$date\n   08/12/2026 09:30:00\n$end\n"
                                "$version\n   Evtrak " EVTRAK_VERSION "\n$end\n"
                                "$comment\n   Temps 0 : 07/12/2026 14:03:08\n$end\n"
                                "$timescale 1 ms $end\n$scope module evtrak $end\n"
                                "$var wire 1 ! Porte_atelier $end\n"
                                "$var wire 1 \" Ete_1 $end\n"
                                "$var wire 1 # Porte_atelier_TS7 $end\n"
                                "$var wire 1 $ _3e_porte $end\n"
                                "$upscope $end\n$enddefinitions $end\n"
                                "#0\n$dumpvars\n0!\n1\"\n0#\n0$\n$end\n"
                                "#1000\n1!\n"
                                "#2000\n0\"\n"
                                "#2500\n1$\n"
                                "#3250\n0!\n"
                                "#3800\n1#\n"
                                "#4000\n0$\n0#\n"
                                "#5000\n";
    QCOMPARE(ExportVcd(list, now), expected);
}

void TestExport::commandLine()
{
    const auto parse = [](QStringList args) {
        args.prepend(QStringLiteral("evtrak"));
        return ParseCommandLine(args);
    };
    QCOMPARE(parse({"--export", "xls", "a.txt", "b"}).exitCode, 2);
    QCOMPARE(parse({"--export", "csv", "a.txt"}).exitCode, 2);
    QCOMPARE(parse({"--export", "csv", "a.txt", "b", "c"}).exitCode, 2);
    const CommandLineResult ok = parse({"--export", "VCD", "a.txt", "b.vcd"});
    QCOMPARE(ok.exitCode, 0);
    QCOMPARE(ok.options.exportFormat, QStringLiteral("vcd"));
    QCOMPARE(ok.options.exportFile, QStringLiteral("a.txt"));
    QCOMPARE(ok.options.exportOutput, QStringLiteral("b.vcd"));

    QTemporaryDir dir;
    const QString events = dir.filePath(QStringLiteral("events.txt"));
    const QByteArray eventBytes = "Porte [ON];0;07/12/2026 14:03:09;0 ms\r\n";
    WriteBytes(events, eventBytes);
    const QString out = dir.filePath(QStringLiteral("out.csv"));
    QCOMPARE(RunExport(ExportFormat::Csv, events, out), 0);
    QVERIFY(ReadBytes(out).endsWith("07/12/2026;14:03:09;Porte;ON;0;0;0,000\r\n"));

    // Failures exit 2 and leave every file as it was.
    QCOMPARE(RunExport(ExportFormat::Csv, dir.filePath(QStringLiteral("missing.txt")), out), 2);
    WriteBytes(dir.filePath(QStringLiteral("empty.txt")), "not an event\r\n");
    QCOMPARE(RunExport(ExportFormat::Csv, dir.filePath(QStringLiteral("empty.txt")), out), 2);
    QCOMPARE(RunExport(ExportFormat::Vcd, events, events), 2);
    QCOMPARE(ReadBytes(events), eventBytes);
    QCOMPARE(RunExport(ExportFormat::Vcd, events, dir.filePath(QStringLiteral("no/dir.vcd"))), 2);
    WriteBytes(out, "previous");
    {
        FileSizeLimit limit(100); // the VCD header alone is longer: the disk is full
        QCOMPARE(RunExport(ExportFormat::Vcd, events, out), 2);
    }
    QCOMPARE(ReadBytes(out), QByteArray("previous"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3); // no temporary left
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
