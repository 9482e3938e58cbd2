// CSV and VCD exports of the list: exact bytes for the tricky rows (suffixes, quoting,
// decimal comma, negative values, pulses and edges on the wire), the command-line form
// and its atomic write.
#include "testsupport.h"

#include "app/ktCommandLine.h"
#include "eventlog/uEventFile.h"
#include "export/uExport.h"

#include <QtTest>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

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
    void vcdNeverMergesPulses();
    void commandLine();
    void csvCellsNeverFormulas();
    void unreadableDatesExportedEmpty();
    void onlyRegularFilesReplaced();
};

void TestExport::csvForSpreadsheets()
{
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.LogDurationFormat = 2; // "2.250 s" in the rows: read back to ms
    TEventList list(prefs);
    Add(list, QStringLiteral("Négatif"), -3, At(14, 3, 1), -5);
    Add(list, QStringLiteral("Bouton [ON]"), 4, At(14, 3, 2), 100); // a label, typed so
    Add(list, QStringLiteral(" Dit \"fin\""), 12, At(14, 3, 5), 1500);
    Add(list, QStringLiteral("Porte atelier"), 0, At(14, 3, 9), 0, 1);
    Add(list, QStringLiteral("Porte atelier"), 0, At(14, 3, 11), 2250, 0);
    const QByteArray expected = "\xEF\xBB\xBF"
                                "Date;Heure;Libellé;État;TS;Durée (ms);Durée (s)\r\n"
                                "07/12/2026;14:03:11;Porte atelier;OFF;0;2250;2,250\r\n"
                                "07/12/2026;14:03:09;Porte atelier;ON;0;0;0,000\r\n"
                                "07/12/2026;14:03:05;\" Dit \"\"fin\"\"\";;12;1500;1,500\r\n"
                                "07/12/2026;14:03:02;Bouton [ON];;4;100;0,100\r\n"
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

namespace {

// The changes of the first wire ('!') of a dump: time and value, in order.
QList<QPair<qint64, char>> FirstWireChanges(const QByteArray& vcd)
{
    QList<QPair<qint64, char>> changes;
    qint64 t = 0;
    const QByteArray body = vcd.mid(vcd.indexOf("$dumpvars"));
    for (const QByteArray& line : body.split('\n')) {
        if (line.startsWith('#'))
            t = line.mid(1).toLongLong();
        else if (line.size() == 2 && line[1] == '!')
            changes.append({t, line[0]});
    }
    return changes;
}

} // namespace

// Two pulses of one input within one second stay two pulses: to the millisecond for
// captured rows, laid out from their durations for rows read from a file.
void TestExport::vcdNeverMergesPulses()
{
    const TUserPrefs prefs = DefaultUserPrefs();
    const QDateTime now(QDate(2026, 12, 8), QTime(9, 30, 0));
    using Changes = QList<QPair<qint64, char>>;

    TEventList captured(prefs);
    const TDateTime second = At(14, 3, 9);
    for (const auto& [endMs, length] : {std::pair{120, 40}, std::pair{300, 56}, std::pair{300, 0}})
        captured.RecordEvent(CapturedEvent{false, false, 2, length, second + endMs / 86400000.0});
    // Time 0 is 14:03:08: the first pulse runs from 1080 to 1120 ms.
    QCOMPARE(
        FirstWireChanges(ExportVcd(captured, now)).mid(1),
        (Changes{{1080, '1'}, {1120, '0'}, {1244, '1'}, {1300, '0'}, {1301, '1'}, {1302, '0'}}));

    QTemporaryDir dir;
    const QString events = dir.filePath(QStringLiteral("events.txt"));
    WriteBytes(events, "Off;2;07/12/2026 14:03:09;20 ms\r\n"
                       "On;2;07/12/2026 14:03:09;0 ms\r\n"
                       "Dans [OFF];3;07/12/2026 14:03:09;0 ms\r\n"
                       "B;2;07/12/2026 14:03:09;56 ms\r\n"
                       "A;2;07/12/2026 14:03:09;50 ms\r\n");
    TEventList loaded(prefs);
    QVERIFY(LoadEventFile(loaded, events, 2026));
    const Changes fromFile = FirstWireChanges(ExportVcd(loaded, now)).mid(1);
    // A from -50 to 0 ms of its second, B just after it, then the rows Off and On of
    // input 2 taken as pulses too, in file order from the bottom, never at one instant.
    QCOMPARE(fromFile, (Changes{{1950, '1'},
                                {2000, '0'},
                                {2001, '1'},
                                {2057, '0'},
                                {2058, '1'},
                                {2059, '0'},
                                {2060, '1'},
                                {2080, '0'}}));
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

// A spreadsheet runs a cell starting with =, +, - or @ as a formula: labels get a leading
// apostrophe, the number columns (negative inputs and durations included) stay numbers.
void TestExport::csvCellsNeverFormulas()
{
    const TUserPrefs prefs = DefaultUserPrefs();
    TEventList list(prefs);
    Add(list, QStringLiteral("=1+2"), -3, At(14, 3, 1), -5);
    Add(list, QStringLiteral("+cmd|' /C calc'!A0"), 1, At(14, 3, 2), 0);
    Add(list, QStringLiteral("@SUM(A1);x"), 2, At(14, 3, 3), 0);
    Add(list, QStringLiteral("-2"), 3, At(14, 3, 4), 0);
    Add(list, QStringLiteral("a=b"), 4, At(14, 3, 5), 0);
    const QList<QByteArray> lines = ExportCsv(list).split('\n');
    QCOMPARE(lines.at(1), "07/12/2026;14:03:05;a=b;;4;0;0,000\r");
    QCOMPARE(lines.at(2), "07/12/2026;14:03:04;'-2;;3;0;0,000\r");
    QCOMPARE(lines.at(3), "07/12/2026;14:03:03;\"'@SUM(A1);x\";;2;0;0,000\r");
    QCOMPARE(lines.at(4), "07/12/2026;14:03:02;'+cmd|' /C calc'!A0;;1;0;0,000\r");
    QCOMPARE(lines.at(5), "07/12/2026;14:03:01;'=1+2;;-3;-5;-0,005\r");
}

// A date that cannot be read is no date: an empty cell in the CSV, no change in the VCD,
// and not the start of the report's period.
void TestExport::unreadableDatesExportedEmpty()
{
    QTemporaryDir dir;
    const QString events = dir.filePath(QStringLiteral("events.txt"));
    WriteBytes(events, "Porte;1;07/12/2026 14:03:09;5 ms\r\nPorte;1;pas une date;7 ms\r\n");
    const QString csv = dir.filePath(QStringLiteral("out.csv"));
    QCOMPARE(RunExport(ExportFormat::Csv, events, csv), 0);
    QVERIFY(ReadBytes(csv).endsWith("\r\n;;Porte;;1;7;0,007\r\n"));
    const QString vcd = dir.filePath(QStringLiteral("out.vcd"));
    QCOMPARE(RunExport(ExportFormat::Vcd, events, vcd), 0);
    QVERIFY(!ReadBytes(vcd).contains("1899"));
    QVERIFY(ReadBytes(vcd).contains("Temps 0 : 07/12/2026 14:03:07"));

    const TUserPrefs prefs = DefaultUserPrefs();
    TEventList list(prefs);
    QVERIFY(LoadEventFile(list, events, 2026));
    const auto [oldest, newest] = list.DateTimeRange();
    QVERIFY(oldest >= 0);
    QCOMPARE(oldest, newest);
    QCOMPARE(list.text(oldest, TEventList::ColDateTime), QStringLiteral("07/12/2026 14:03:09"));
}

// A FIFO, a socket, a device node or a folder given as the export's target is refused
// and left as it was, whoever runs the program; so is a link leading to one.
void TestExport::onlyRegularFilesReplaced()
{
    QTemporaryDir dir;
    const QString events = dir.filePath(QStringLiteral("events.txt"));
    WriteBytes(events, "Porte [ON];0;07/12/2026 14:03:09;0 ms\r\n");
    const auto at = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
    QStringList targets;
    QCOMPARE(::mkfifo(QFile::encodeName(at("fifo.csv")).constData(), 0600), 0);
    targets << at("fifo.csv");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(sock >= 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray sockPath = QFile::encodeName(at("socket.csv"));
    QVERIFY(std::size_t(sockPath.size()) < sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.constData(), std::size_t(sockPath.size()));
    QCOMPARE(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    targets << at("socket.csv");
    // A node of our own with /dev/full's numbers, in the scratch folder (root only).
    if (::geteuid() == 0) {
        QCOMPARE(
            ::mknod(QFile::encodeName(at("full.csv")).constData(), S_IFCHR | 0600, makedev(1, 7)),
            0);
        targets << at("full.csv");
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.csv")));
    targets << at("folder.csv");
    QVERIFY(QFile::link(at("fifo.csv"), at("link.csv")));
    targets << at("link.csv");

    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System);
    for (const QString& target : targets) {
        struct stat was
        {
        };
        QCOMPARE(::lstat(QFile::encodeName(target).constData(), &was), 0);
        QCOMPARE(RunExport(ExportFormat::Csv, events, target), 2);
        QString error;
        QVERIFY(!WriteExportFile(target, "x", &error));
        QVERIFY2(
            error.startsWith(QStringLiteral("Impossible d'écrire dans \"%1\" : ").arg(target)) &&
                (error.contains(QStringLiteral("pas un fichier ordinaire")) ||
                 error.contains(QStringLiteral("dossier"))),
            qPrintable(error));
        struct stat now
        {
        };
        QCOMPARE(::lstat(QFile::encodeName(target).constData(), &now), 0);
        QCOMPARE(now.st_mode, was.st_mode);
        QCOMPARE(now.st_rdev, was.st_rdev);
    }
    ::close(sock);
    // No temporary file left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System), before);
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
