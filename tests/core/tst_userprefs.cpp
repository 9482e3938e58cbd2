#include "base/uResStr.h"
#include "settings/uUserPrefs.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <utility>
#include <vector>

using namespace evtrak;

using evtrak::test::ReadBytes;

namespace {

// The list view's column widths, recording every change.
class FakeColumns : public ColumnWidthStore
{
public:
    std::vector<int> widths{50, 60, 70, 80};
    std::vector<std::pair<int, int>> calls;
    int ColumnCount() const override { return static_cast<int>(widths.size()); }
    int ColumnWidth(int i) const override { return widths.at(static_cast<std::size_t>(i)); }
    void SetColumnWidth(int i, int w) override
    {
        calls.emplace_back(i, w);
        widths.at(static_cast<std::size_t>(i)) = w;
    }
};

// Every field away from its default.
TUserPrefs NonDefault()
{
    TUserPrefs p;
    p.LogDurationFormat = 1;
    p.LogShowGridLines = p.LogUseColors = p.LogPrintColors = true;
    for (int i = 0; i < kInputCount; ++i) {
        SetInputPrefs(p, i,
                      TInputPrefs{false, true, 100 + i, QStringLiteral("Entrée n°%1 «é»").arg(i),
                                  0x00123456 + i, i % 2 ? clBtnFace : 0x00FFFFFF - i});
    }
    p.Inputs[0].Label = QStringLiteral("  padded  ");
    p.Inputs[1].Label = QStringLiteral("\"quoted\"");
    p.Inputs[2].Label = QString();
    p.LogSaveAutoOnExit = p.LogSaveAutoOnNewDay = p.LogSaveAutoOnNewEvent = true;
    p.LogSaveMakeBackup = true;
    p.CaptureThreadPriority = 6;
    p.CaptureRunAtAppStartup = true;
    p.CaptureSaveEdge = false;
    p.CaptureSaveDuration = true;
    p.CaptureStallThreshold = 7;
    p.CaptureSamplingPeriod = 250;
    for (int i = 0; i < kInputCount; ++i)
        p.Inputs[i].Debounce = 3 * i;
    p.PortBaseAddressIndex = 5;
    p.ReportSorting = 1;
    p.ReportMainTitle = QStringLiteral("Titre principal é");
    p.ReportSubTitle = QStringLiteral("Sous-titre");
    p.MiscRunAppAtWindowsStartup = true;
    p.AppMainTitle = QStringLiteral("Banc d'essai n°2");
    p.GridColumnCaption = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                           QStringLiteral("D")};
    p.MiscMenuAsXPStyle = false;
    p.MiscShowErrorMessages = false;
    p.ConfLastUsedFile = QStringLiteral("/home/op/essai.icf");
    return p;
}

// The keys of one section of a file, in file order.
QStringList KeysOf(const QString& path, const QString& section)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList keys;
    bool in = false;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QString l = QString::fromLatin1(line).trimmed();
        if (l.startsWith(u'['))
            in = l == u'[' + section + u']';
        else if (in && l.contains(u'='))
            keys << l.section(u'=', 0, 0);
    }
    return keys;
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestUserPrefs : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString Path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void inputAccessorsOutOfRange()
    {
        TUserPrefs p = DefaultUserPrefs();
        for (int i : {-1, 13, 1000}) {
            const TInputPrefs v = GetInputPrefs(p, i);
            QCOMPARE(v.Active, false);
            QCOMPARE(v.Invert, false);
            QCOMPARE(v.MinDuration, 2);
            QVERIFY(v.Label.isEmpty());
            QCOMPARE(v.TextColor, clBlack);
            QCOMPARE(v.BGColor, clWindow);
        }
        const TUserPrefs before = p;
        SetInputPrefs(p, 13, TInputPrefs{true, true, 9, QStringLiteral("x"), 1, 2});
        SetInputPrefs(p, -1, TInputPrefs{true, true, 9, QStringLiteral("x"), 1, 2});
        QVERIFY(p == before);
        SetInputPrefs(p, 12, TInputPrefs{false, true, 9, QStringLiteral("x"), 1, 2});
        QCOMPARE(GetInputPrefs(p, 12), (TInputPrefs{false, true, 9, QStringLiteral("x"), 1, 2}));
        QCOMPARE(GetInputPrefs(p, 3).Label, QStringLiteral("Libellé_3"));
    }

    void missingFileGivesDefaultsButKeepsReportTitles()
    {
        TUserPrefs p = NonDefault();
        FakeColumns columns;
        QVERIFY(ReadUserPrefs(p, Path(QStringLiteral("missing.ini")), &columns));
        TUserPrefs expected = DefaultUserPrefs();
        expected.ReportMainTitle = QStringLiteral("Titre principal é");
        expected.ReportSubTitle = QStringLiteral("Sous-titre");
        QVERIFY(p == expected);
        QVERIFY(columns.calls.empty());

        TUserPrefs fresh; // as before the first read: titles empty
        QVERIFY(ReadUserPrefs(fresh, Path(QStringLiteral("missing.ini")), nullptr));
        QVERIFY(fresh == DefaultUserPrefs());
    }

    void everyFieldRoundTrips()
    {
        const QString path = Path(QStringLiteral("roundtrip.ini"));
        const TUserPrefs written = NonDefault();
        FakeColumns out;
        out.widths = {0, 1, 250, 4000};
        QCOMPARE(WriteUserPrefs(written, path, &out), QString());

        TUserPrefs read = DefaultUserPrefs();
        read.ReportMainTitle = QStringLiteral("ancien");
        FakeColumns in;
        QVERIFY(ReadUserPrefs(read, path, &in));
        QVERIFY(read == written);
        QCOMPARE(in.widths, out.widths);

        // Rewriting what was read changes no byte.
        const QByteArray first = ReadBytes(path);
        QCOMPARE(WriteUserPrefs(read, path, &in), QString());
        QCOMPARE(ReadBytes(path), first);
    }

    // Windows-1252 bytes, CR LF, the column widths in their own section.
    void writtenAsWindowsIniBytes()
    {
        const QString path = Path(QStringLiteral("bytes.ini"));
        FakeColumns c;
        QCOMPARE(WriteUserPrefs(DefaultUserPrefs(), path, &c), QString());
        QCOMPARE(KeysOf(path, QStringLiteral("GUIControlsSizeAndPos")),
                 (QStringList{"EventsList_Column0_Width", "EventsList_Column1_Width",
                              "EventsList_Column2_Width", "EventsList_Column3_Width"}));
        const QByteArray bytes = ReadBytes(path);
        QVERIFY(bytes.startsWith("[UserPrefs]\r\nAppMainTitle=Acquisition de donn\xe9\x65s\r\n"));
        QVERIFY(bytes.contains("\r\nLogEvent12BGColor=-2147483643\r\n"));
        QVERIFY(bytes.contains("\r\nLogEvent0Label=Libell\xe9_0\r\n"));
        QVERIFY(bytes.contains("\r\nLogShowGridLines=0\r\nLogUseColors=0\r\n"));
        QVERIFY(bytes.contains("\r\nMiscMenuAsXPStyle=1\r\n"));
        QVERIFY(bytes.contains("\r\nEventsList_Column3_Width=80\r\n"));
    }

    // A value read from a file, as it is written back out.
    void oddValues_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("word as boolean")
            << QByteArray("LogUseColors=yes") << QByteArray("LogUseColors=0");
        QTest::newRow("2 as boolean")
            << QByteArray("LogUseColors=2") << QByteArray("LogUseColors=1");
        QTest::newRow("garbage keeps default true")
            << QByteArray("LogEvent4Active=oui") << QByteArray("LogEvent4Active=1");
        QTest::newRow("0x5") << QByteArray("PortBaseAddressIndex=0x5")
                             << QByteArray("PortBaseAddressIndex=5");
        QTest::newRow("$5") << QByteArray("PortBaseAddressIndex=$5")
                            << QByteArray("PortBaseAddressIndex=5");
        QTest::newRow("out of range kept")
            << QByteArray("CaptureThreadPriority=99") << QByteArray("CaptureThreadPriority=99");
        QTest::newRow("empty integer")
            << QByteArray("CaptureThreadPriority=") << QByteArray("CaptureThreadPriority=3");
        QTest::newRow("hex system colour") << QByteArray("LogEvent3BGColor=0x80000008")
                                           << QByteArray("LogEvent3BGColor=-2147483640");
        QTest::newRow("key case and spaces")
            << QByteArray("  logevent12MINDURATION =  7 ") << QByteArray("LogEvent12MinDuration=7");
        QTest::newRow("quoted label") << QByteArray("LogEvent0Label=\"  Porte  \"")
                                      << QByteArray("LogEvent0Label=\"  Porte  \"");
        QTest::newRow("UTF-8 label") << QByteArray("LogEvent5Label=Entr\xc3\xa9\x65")
                                     << QByteArray("LogEvent5Label=Entr\xe9\x65");
        // A label would split its event-file lines.
        QTest::newRow("label with separator and end-of-file byte")
            << QByteArray("LogEvent2Label=Porte;nord\x1A")
            << QByteArray("LogEvent2Label=\"Porte nord \"");
    }
    void oddValues()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, written);
        const QString in = Path(QStringLiteral("odd-in.ini"));
        const QString out = Path(QStringLiteral("odd-out.ini"));
        QFile::remove(out);
        QVERIFY(WriteBytes(in, "[UserPrefs]\n" + line + "\n"));
        TUserPrefs p;
        QVERIFY(ReadUserPrefs(p, in, nullptr));
        QCOMPARE(WriteUserPrefs(p, out, nullptr), QString());
        const QList<QByteArray> lines = ReadBytes(out).split('\n');
        QVERIFY2(lines.contains(written + '\r'), ReadBytes(out).constData());
    }

    // A configuration file from before the broker settings leaves them alone; one with
    // a [Mqtt] section sets them, the missing keys to their defaults.
    void brokerSettingsKeptByOlderFiles()
    {
        const QString path = Path(QStringLiteral("mqtt.ini"));
        TUserPrefs p = DefaultUserPrefs();
        p.MqttEnabled = true;
        p.MqttHost = QStringLiteral("broker");
        QVERIFY(WriteBytes(path, "[UserPrefs]\r\nLogUseColors=1\r\n"));
        QVERIFY(ReadUserPrefs(p, path, nullptr));
        QVERIFY(p.LogUseColors);
        QVERIFY(p.MqttEnabled);
        QCOMPARE(p.MqttHost, QStringLiteral("broker"));

        QVERIFY(WriteBytes(path, "[Mqtt]\r\nHost=autre\r\nPort=8884\r\n"));
        QVERIFY(ReadUserPrefs(p, path, nullptr));
        QVERIFY(!p.MqttEnabled);
        QCOMPARE(p.MqttHost, QStringLiteral("autre"));
        QCOMPARE(p.MqttPort, 8884);
        QCOMPARE(p.MqttKeepAlive, 60);
    }

    void columnWidthsAppliedAsRead()
    {
        const QString path = Path(QStringLiteral("columns.ini"));
        QVERIFY(WriteBytes(path, "[GUIControlsSizeAndPos]\nEventsList_Column0_Width=100\n"
                                 "EventsList_Column1_Width=0\nEventsList_Column2_Width=-5\n"
                                 "EventsList_Column3_Width=abc\nEventsList_Column4_Width=9\n"));
        FakeColumns c;
        TUserPrefs p;
        QVERIFY(ReadUserPrefs(p, path, &c));
        QCOMPARE(c.widths, (std::vector<int>{100, 0, 70, 80}));
        QCOMPARE(c.calls.size(), std::size_t(2));
    }

    void otherSectionsAndLinesKept()
    {
        const QString path = Path(QStringLiteral("evtrak.ini"));
        const QByteArray forms("[FormsSizeAndPos]\r\nfmMain_Left=10\r\nfmMain_Top=20\n"
                               "\r\n; gard\xe9\r\n");
        QVERIFY(WriteBytes(path, "[UserPrefs]\r\nObsolete = 1\r\nappmaintitle = Old\r\n" + forms +
                                     "[Other]\nx=\x01\x02\n"));
        TUserPrefs p = DefaultUserPrefs();
        p.AppMainTitle = QStringLiteral("New");
        FakeColumns c;
        QCOMPARE(WriteUserPrefs(p, path, &c), QString());
        const QByteArray bytes = ReadBytes(path);
        QVERIFY(bytes.startsWith("[UserPrefs]\r\nObsolete = 1\r\nappmaintitle = New\r\n"
                                 "ConfLastUsedFile=\r\n"));
        // New sections go to the end; everything else keeps its bytes and place.
        QVERIFY(bytes.contains(
            QByteArray("\r\n" + forms + "[Other]\nx=\x01\x02\n[GUIControlsSizeAndPos]\r\n")));
    }

    void writeFailureReported()
    {
        const QString noFolder = Path(QStringLiteral("missing/folder/evtrak.ini"));
        QCOMPARE(WriteUserPrefs(DefaultUserPrefs(), noFolder, nullptr),
                 QStringLiteral("Impossible d'écrire dans ") + noFolder);
        QVERIFY(!QFile::exists(noFolder));

        // A settings name that cannot be read is neither read as defaults nor replaced.
        const QString dir = Path(QStringLiteral("adir.ini"));
        QVERIFY(QDir().mkpath(dir));
        TUserPrefs p = NonDefault();
        QString reason;
        QVERIFY(!ReadUserPrefs(p, dir, nullptr, &reason));
        QCOMPARE(reason, QStringLiteral("c'est un dossier, pas un fichier"));
        QVERIFY(p == NonDefault());
        QCOMPARE(WriteUserPrefs(p, dir, nullptr), ResStr::CannotWrite(dir));
    }
};

QTEST_GUILESS_MAIN(TestUserPrefs)
#include "tst_userprefs.moc"
