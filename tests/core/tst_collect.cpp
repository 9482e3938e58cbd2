// A site on one machine: a private Mosquitto, real headless stations on port files and
// the collector, each a copy of the program in its own folder. What each station prints
// is the truth: every printed line must be in the collector's files for that station
// exactly once, through kills of the collector, a restart of the broker, messages the
// broker drops, and ranges a station no longer holds.
#include "base/ktMisc.h"
#include "mosquitto_support.h"
#include "testsupport.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <memory>

using evtrak::test::TestBroker;
using evtrak::test::WriteBytes;

namespace {

const QString kBinary = QStringLiteral(EVTRAK_BINARY_DIR "/src/evtrak");

// A copy of the program in its own portable folder, run with the given arguments.
struct Program
{
    explicit Program(const QByteArray& ini)
    {
        exe = dir.filePath(QStringLiteral("evtrak"));
        QFile::copy(kBinary, exe);
        WriteBytes(dir.filePath(QStringLiteral("evtrak.portable")), {});
        WriteBytes(dir.filePath(QStringLiteral("evtrak.ini")), ini);
    }
    ~Program() { Kill(); }
    void Start(const QStringList& args)
    {
        process = std::make_unique<QProcess>();
        process->setWorkingDirectory(dir.path());
        process->start(exe, args);
    }
    // Reads what the program wrote so far.
    void Poll()
    {
        out += process->readAllStandardOutput();
        err += process->readAllStandardError();
    }
    bool WaitErr(const QByteArray& text, int ms = 30000)
    {
        return QTest::qWaitFor(
            [&] {
                Poll();
                return err.contains(text);
            },
            ms);
    }
    void Signal(int sig)
    {
        if (process && process->state() != QProcess::NotRunning) {
            ::kill(pid_t(process->processId()), sig);
            process->waitForFinished(20000);
            Poll();
        }
    }
    void Kill() { Signal(SIGKILL); }
    QString Path(const QString& rel) const { return dir.filePath(rel); }

    QTemporaryDir dir;
    QString exe;
    std::unique_ptr<QProcess> process;
    QByteArray out;
    QByteArray err;
};

struct Station : Program
{
    Station(const QString& stationName, int port, const QByteArray& extraMqtt = {})
        : Program("[Mqtt]\r\nStation=" + stationName.toUtf8() + "\r\n" + extraMqtt),
          name(stationName)
    {
        QByteArray bytes(65536, '\0');
        bytes[0x379] = char(0x80); // status inputs at rest
        WriteBytes(Path(QStringLiteral("port.bin")), bytes);
        Start({QStringLiteral("--headless"), QStringLiteral("--port-device"),
               Path(QStringLiteral("port.bin")), QStringLiteral("--mqtt"),
               QStringLiteral("127.0.0.1:%1").arg(port)});
    }
    // Flips input 0 `count` times; what the capture saw is what it prints.
    void Toggle(int count)
    {
        QFile f(Path(QStringLiteral("port.bin")));
        if (!f.open(QIODevice::ReadWrite))
            return;
        for (int i = 0; i < count; ++i) {
            f.seek(0x378);
            f.write(QByteArray(1, char(m_bit ^= 1)));
            f.flush();
            QTest::qWait(15);
        }
        Poll();
    }
    QStringList Printed()
    {
        Poll();
        return QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    }
    QString name;

private:
    char m_bit = 0;
};

struct Collector : Program
{
    explicit Collector(int port, const QByteArray& collect = "ClientId=test-collector\r\n")
        : Program("[Collect]\r\n" + collect), m_port(port)
    {}
    void Run()
    {
        Start({QStringLiteral("--collect"), QStringLiteral("--mqtt"),
               QStringLiteral("127.0.0.1:%1").arg(m_port)});
    }
    QString Folder(const QString& station) const
    {
        return Path(QStringLiteral("Log/stations/") + station);
    }
    QMap<QString, QString> State(const QString& station) const
    {
        QMap<QString, QString> keys;
        QFile f(Folder(station) + QStringLiteral("/collect.state"));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (const qsizetype eq = line.indexOf('='); eq > 0)
                    keys.insert(QString::fromUtf8(line.left(eq)),
                                QString::fromUtf8(line.mid(eq + 1)));
        return keys;
    }
    // Every line of the station's day files, decoded as the program reads them.
    QStringList Lines(const QString& station) const
    {
        QStringList lines;
        const QDir d(Folder(station));
        for (const QString& name : d.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
            QFile f(d.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                for (const QByteArray& line : f.readAll().split('\n'))
                    if (!line.trimmed().isEmpty())
                        lines << evtrak::DecodeText(line.trimmed());
        }
        return lines;
    }
    // The collector has every number the station printed on disk or recorded lost.
    bool Caught(Station& station, int ms = 60000)
    {
        return QTest::qWaitFor(
            [&] {
                Poll();
                const auto s = State(station.name);
                return s.value(QStringLiteral("contiguous")).toLongLong() ==
                           station.Printed().size() &&
                       s.value(QStringLiteral("gaps")).isEmpty();
            },
            ms);
    }

private:
    int m_port;
};

QStringList Sorted(QStringList l)
{
    l.sort();
    return l;
}

} // namespace

class TestCollect : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(kBinary), "build the evtrak target first");
        if (evtrak::test::MosquittoProgram().isEmpty())
            QSKIP("mosquitto is not installed");
    }

    // Three stations publishing while the collector is killed mid-stream and restarted,
    // and while the broker restarts: each station's lines are in its files exactly once.
    void threeStationsThroughKillsAndBrokerRestart()
    {
        QTemporaryDir brokerDir;
        TestBroker broker(brokerDir.path());
        QVERIFY(broker.Start());
        std::vector<std::unique_ptr<Station>> stations;
        for (const char* name : {"alpha", "beta", "gamma"})
            stations.push_back(std::make_unique<Station>(QString::fromLatin1(name), broker.Port()));
        for (auto& s : stations)
            QVERIFY2(s->WaitErr("MQTT : connecté"), s->err.constData());
        Collector collector(broker.Port());
        collector.Run();
        QVERIFY2(collector.WaitErr("Collecteur : connecté"), collector.err.constData());
        // A second collector shares the site: it takes gamma only, into its own folder.
        Collector other(broker.Port(), QByteArray("ClientId=other\r\nStations=gam*, nobody\r\n"));
        other.Run();
        QVERIFY(other.WaitErr("Collecteur : connecté"));

        auto round = [&](int n) {
            for (int i = 0; i < n; ++i)
                for (auto& s : stations)
                    s->Toggle(2);
        };
        round(10);
        collector.Kill(); // while the stations go on: the broker keeps their messages
        round(10);
        collector.Run();
        round(5);
        collector.Kill(); // mid-stream, right after it restarted
        collector.Run();
        round(5);
        broker.Stop();
        round(5); // the stations keep these in their outboxes
        QVERIFY(broker.Start());
        round(5);

        for (auto& s : stations) {
            QVERIFY2(collector.Caught(*s),
                     qPrintable(s->name + QStringLiteral(": ") +
                                QString::fromUtf8(collector.err.right(2000))));
            const QStringList printed = s->Printed();
            QVERIFY(printed.size() >= 40);
            QCOMPARE(Sorted(collector.Lines(s->name)), Sorted(printed));
            QCOMPARE(collector.State(s->name).value(QStringLiteral("lost_count")),
                     QStringLiteral("0"));
        }
        QVERIFY(!collector.err.contains("le poste ne l"));
        QVERIFY(other.Caught(*stations[2]));
        QCOMPARE(Sorted(other.Lines(QStringLiteral("gamma"))), Sorted(stations[2]->Printed()));
        QCOMPARE(QDir(other.Path(QStringLiteral("Log/stations")))
                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("gamma")});

        // Killed between the append and the state: the journal names the batch, whose
        // lines are cut off at the restart (here a line the state never recorded).
        collector.Signal(SIGTERM);
        const QString day = QDir(collector.Folder(QStringLiteral("beta")))
                                .entryList({QStringLiteral("*.txt")})
                                .value(0);
        const QString dayPath = collector.Folder(QStringLiteral("beta")) + u'/' + day;
        const qint64 size = QFileInfo(dayPath).size();
        const qint64 batch = collector.State(QStringLiteral("beta")).value("batch").toLongLong();
        QFile f(dayPath);
        QVERIFY(f.open(QIODevice::Append));
        f.write("Libellé_0 [ON];0;08/12/2026 10:00:00;0 ms\r\n");
        f.close();
        WriteBytes(
            collector.Path(QStringLiteral("Log/stations/collect.journal")),
            QStringLiteral("batch=%1\nbeta\t%2\t%3\n").arg(batch + 1).arg(day).arg(size).toUtf8());
        collector.err.clear();
        collector.Run();
        QVERIFY(collector.WaitErr("beta/" + day.toUtf8() + " remis à son état"));
        QVERIFY(collector.Caught(*stations[1]));
        QCOMPARE(Sorted(collector.Lines(QStringLiteral("beta"))), Sorted(stations[1]->Printed()));
    }

    // Messages the broker dropped for the offline collector are fetched again from the
    // station that keeps them; a station that keeps nothing has that range recorded lost
    // once, said once, and never written. A restart keeps that record; a station whose
    // state cannot be read is left alone.
    void droppedMessagesFilledOrRecordedLost()
    {
        QTemporaryDir brokerDir;
        TestBroker broker(brokerDir.path(), "max_queued_messages 5\n");
        QVERIFY(broker.Start());
        Station keeps(QStringLiteral("keeps"), broker.Port());
        Station forgets(QStringLiteral("forgets"), broker.Port(), "ReplayDays=0\r\n");
        QVERIFY(keeps.WaitErr("MQTT : connecté"));
        QVERIFY(forgets.WaitErr("MQTT : connecté"));
        Collector collector(broker.Port());
        collector.Run();
        QVERIFY(collector.WaitErr("Collecteur : connecté"));
        keeps.Toggle(4);
        forgets.Toggle(4);
        QVERIFY(collector.Caught(keeps));
        QVERIFY(collector.Caught(forgets));
        const qsizetype before = forgets.Printed().size();

        collector.Signal(SIGTERM);
        QVERIFY2(collector.err.contains("Collecte arrêtée"), collector.err.constData());
        keeps.Toggle(30); // the broker queues 5 of them and drops the rest
        forgets.Toggle(30);
        QTest::qWait(1000);
        collector.Run();
        QTest::qWait(2000);
        // Newer events show the gaps; one station at a time, so that the replay's burst
        // cannot overflow the broker's small queue while the other's events go through.
        forgets.Toggle(4);
        QVERIFY(collector.Caught(forgets));
        keeps.Toggle(4);
        QVERIFY2(collector.Caught(keeps), collector.err.constData());
        const QStringList kept = keeps.Printed();
        QCOMPARE(Sorted(collector.Lines(keeps.name)), Sorted(kept));
        const auto keepsState = collector.State(keeps.name);
        QVERIFY(keepsState.value(QStringLiteral("filled")).toInt() > 0);
        QCOMPARE(keepsState.value(QStringLiteral("lost_count")), QStringLiteral("0"));

        QVERIFY(collector.Caught(forgets));
        const QStringList printed = forgets.Printed();
        auto state = collector.State(forgets.name);
        const QStringList range = state.value(QStringLiteral("lost")).split(u'-');
        QCOMPARE(range.size(), 2);
        const qsizetype from = range[0].toLongLong();
        const qsizetype to = range[1].toLongLong();
        QVERIFY2(from > before && to <= before + 30, qPrintable(state.value("lost")));
        QCOMPARE(state.value(QStringLiteral("lost_count")).toLongLong(), to - from + 1);
        // Line i printed is number i: all but the lost ones are in the files.
        QStringList expected = printed;
        expected.remove(from - 1, to - from + 1);
        QCOMPARE(Sorted(collector.Lines(forgets.name)), Sorted(expected));
        const QByteArray said =
            QStringLiteral("poste forgets, évènements %1 à %2 perdus").arg(from).arg(to).toUtf8();
        QCOMPARE(collector.err.count(said), 1);

        // A restart keeps the record: nothing asked again, nothing said again.
        // A state that cannot be read leaves its station alone: writing on would double.
        collector.Signal(SIGTERM);
        const QStringList keptLines = collector.Lines(keeps.name);
        WriteBytes(collector.Folder(keeps.name) + QStringLiteral("/collect.state"), "\xff\x00");
        collector.err.clear();
        collector.Run();
        QVERIFY(collector.WaitErr("ignorés pour ne rien écrire deux fois"));
        QVERIFY(collector.WaitErr("Collecteur : connecté"));
        keeps.Toggle(2);
        forgets.Toggle(2);
        QVERIFY(collector.Caught(forgets));
        QTest::qWait(4000); // past the probe that follows a connection
        collector.Poll();
        QVERIFY2(!collector.err.contains("le poste ne l"), collector.err.constData());
        QCOMPARE(collector.State(forgets.name).value(QStringLiteral("lost_count")).toLongLong(),
                 to - from + 1);
        QCOMPARE(collector.Lines(keeps.name), keptLines);
    }

    // A station name that cannot name a folder is refused with a French line and
    // nothing is written for it; an event that cannot be read is recorded lost at once
    // (asking for it again would bring the same message back forever).
    void unsafeStationNameRefused()
    {
        QTemporaryDir brokerDir;
        TestBroker broker(brokerDir.path());
        QVERIFY(broker.Start());
        Collector collector(broker.Port());
        collector.Run();
        QVERIFY(collector.WaitErr("Collecteur : connecté"));
        mosquitto* m = mosquitto_new(nullptr, true, nullptr);
        QCOMPARE(mosquitto_connect(m, "127.0.0.1", broker.Port(), 10), MOSQ_ERR_SUCCESS);
        const QByteArray ev =
            R"({"seq":1,"input":0,"label":"x","state":"on",)"
            R"("time":"2026-12-08T10:00:00.000+01:00","epoch_ms":0,"duration_ms":0})";
        for (const char* topic : {"evtrak/..bad/events", "evtrak/.hidden/events"})
            mosquitto_publish(m, nullptr, topic, int(ev.size()), ev.constData(), 1, false);
        const QByteArray bad = QByteArray(ev).replace("\"input\":0", "\"input\":-3");
        mosquitto_publish(m, nullptr, "evtrak/ok/events", int(bad.size()), bad.constData(), 1,
                          false);
        for (int i = 0; i < 20; ++i)
            mosquitto_loop(m, 50, 1);
        mosquitto_disconnect(m);
        mosquitto_destroy(m);
        QVERIFY(collector.WaitErr("« .hidden » est refusé"));
        QVERIFY(collector.WaitErr("« ..bad » est refusé"));
        QVERIFY(collector.WaitErr("poste ok, évènement 1 illisible"));
        QVERIFY(QTest::qWaitFor(
            [&] { return collector.State(QStringLiteral("ok")).value("contiguous") == "1"; }));
        QCOMPARE(collector.State(QStringLiteral("ok")).value("lost"), QStringLiteral("1"));
        QCOMPARE(collector.Lines(QStringLiteral("ok")), QStringList());
        QCOMPARE(QDir(collector.Path(QStringLiteral("Log/stations")))
                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("ok")});
    }
};

QTEST_GUILESS_MAIN(TestCollect)
#include "tst_collect.moc"
