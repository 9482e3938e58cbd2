// Publishing to a real Mosquitto broker that the test starts on a free loopback port:
// the messages as a consumer reads them, a broker that goes away in the middle of a
// capture, and the program itself killed with events still waiting.
#include "eventlog/uMqttPublisher.h"
#include "eventlog/uMqttStation.h"
#include "mosquitto_support.h"
#include "testsupport.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <csignal>
#include <ctime>

using namespace evtrak;
using namespace evtrak::test;

// The broker is started and restarted while the publisher's and the subscriber's
// threads run; under ThreadSanitizer that fork is fine here (the child only execs).
extern "C" const char* __tsan_default_options()
{
    return "die_after_fork=0";
}

namespace {

const QString kBinary = QStringLiteral(EVTRAK_BINARY_DIR "/src/evtrak");

TUserPrefs MqttPrefs(int port, const QString& station)
{
    TUserPrefs p = DefaultUserPrefs();
    p.MqttEnabled = true;
    p.MqttHost = QStringLiteral("127.0.0.1");
    p.MqttPort = port;
    p.MqttStation = station;
    return p;
}

CapturedEvent Event(int input, bool suffix, bool state, std::int64_t ms, int duration = 0)
{
    CapturedEvent e;
    e.Suffix = suffix;
    e.State = state;
    e.InputIndex = input;
    e.DurationMs = duration;
    e.EpochMs = ms;
    return e;
}

std::vector<qint64> Seqs(const std::vector<Message>& messages)
{
    std::vector<qint64> seqs;
    for (const Message& m : messages)
        seqs.push_back(QJsonDocument::fromJson(m.payload).object().value("seq").toInteger());
    return seqs;
}

} // namespace

class TestMqttBroker : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        if (MosquittoProgram().isEmpty())
            QSKIP("mosquitto is not installed (apt-get install mosquitto): MQTT tests skipped");
        // A zone with an offset, so that the time text shows one.
        qputenv("TZ", "Europe/Paris");
        tzset();
    }

    // What a consumer reads: the exact event text, numbers that follow each other,
    // the retained status and state word.
    void messagesAsConsumersReadThem()
    {
        QTemporaryDir dir;
        TestBroker broker(dir.path());
        QVERIFY(broker.Start());
        Subscriber sub(broker.Port(), "evtrak/#");
        QTRY_VERIFY(sub.Subscribed());

        TUserPrefs prefs = MqttPrefs(broker.Port(), QStringLiteral("atelier/2"));
        prefs.LogEventLabel[3] = QStringLiteral("Porte \"nord\" é");
        TMqttStation station(prefs);
        station.Configure(dir.filePath(QStringLiteral("Log")), QStringLiteral("LPT1"));
        QVERIFY2(station.Active(), qPrintable(station.ErrorText()));
        QTRY_COMPARE(station.StatusText(), QStringLiteral("MQTT : connecté"));

        // 8 December 2026 15:03:09.250 in Paris.
        const std::int64_t t = 1796738589250;
        const CapturedEvent events[] = {Event(3, true, true, t),
                                        Event(3, true, false, t + 1500, 1500),
                                        Event(12, false, false, t + 2000, 40)};
        station.Feed(events);
        QTRY_COMPARE(sub.On("/events").size(), std::size_t(3));
        const std::vector<Message> got = sub.On("/events");
        QCOMPARE(got[0].topic, QByteArray("evtrak/atelier_2/events"));
        QCOMPARE(got[0].payload,
                 QByteArray("{\"station\":\"atelier_2\",\"seq\":1,\"input\":3,"
                            "\"label\":\"Porte \\\"nord\\\" \xc3\xa9\",\"state\":\"on\","
                            "\"time\":\"2026-12-08T15:03:09.250+01:00\",\"epoch_ms\":1796738589250,"
                            "\"duration_ms\":0}"));
        QCOMPARE(Seqs(got), (std::vector<qint64>{1, 2, 3}));
        const QJsonObject pulse = QJsonDocument::fromJson(got[2].payload).object();
        QVERIFY(pulse.value("state").isNull());
        QCOMPARE(pulse.value("duration_ms").toInt(), 40);
        QCOMPARE(pulse.value("label").toString(), QStringLiteral("Libellé_12"));

        const QJsonObject status =
            QJsonDocument::fromJson(sub.On("/status").front().payload).object();
        QCOMPARE(status.value("status").toString(), QStringLiteral("online"));
        QCOMPARE(status.value("interface").toString(), QStringLiteral("LPT1"));
        QCOMPARE(status.value("version").toString(), QStringLiteral(EVTRAK_VERSION));
        // Input 3 went on and off: the word ends at 0 (or was only ever sent as such).
        QTRY_VERIFY(!sub.On("/lines").empty());
        QTRY_COMPARE(
            QJsonDocument::fromJson(sub.On("/lines").back().payload).object().value("word").toInt(),
            0);

        // A clean end says so.
        station.Shutdown(std::chrono::seconds(2));
        QTRY_COMPARE(QJsonDocument::fromJson(sub.On("/status").back().payload)
                         .object()
                         .value("status")
                         .toString(),
                     QStringLiteral("offline"));
    }

    // The broker stops in the middle of a capture and comes back: all 1,000 events
    // arrive, in order; a number comes twice only as QoS 1's redelivery of messages
    // in flight when the connection broke.
    void brokerDownDuringCaptureLosesNothing()
    {
        QTemporaryDir dir;
        TestBroker broker(dir.path());
        QVERIFY(broker.Start());
        Subscriber sub(broker.Port(), "evtrak/+/events");
        QTRY_VERIFY(sub.Subscribed());
        const TUserPrefs prefs = MqttPrefs(broker.Port(), QStringLiteral("ligne"));
        TMqttStation station(prefs);
        station.Configure(dir.filePath(QStringLiteral("Log")), QStringLiteral("LPT1"));
        QTRY_VERIFY(station.Publisher()->Connected());

        std::int64_t ms = QDateTime::currentMSecsSinceEpoch();
        auto feed = [&](int count) {
            std::vector<CapturedEvent> batch;
            for (int i = 0; i < count; ++i) {
                batch.push_back(Event(i % 13, true, (i / 13) % 2 == 0, ++ms));
                if (batch.size() == 7 || i == count - 1) {
                    station.Feed(batch);
                    batch.clear();
                }
            }
        };
        feed(300);
        broker.Stop();
        feed(700);
        QTRY_VERIFY_WITH_TIMEOUT(!station.Publisher()->Connected(), 10000);
        QVERIFY(station.Publisher()->Pending() > 0);
        QVERIFY(station.StatusText().endsWith(QStringLiteral(" en attente")));

        QVERIFY(broker.Start());
        QTRY_COMPARE_WITH_TIMEOUT(station.Publisher()->Pending(), std::uint64_t(0), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(Seqs(sub.On("/events")).back() == 1000, 30000);

        const std::vector<qint64> seqs = Seqs(sub.On("/events"));
        qint64 highest = 0;
        for (const qint64 s : seqs) {
            if (s <= highest) {
                // Only what the broker had before it stopped can come twice: a message
                // whose acknowledgement was lost with the connection.
                QVERIFY2(s <= 300, qPrintable(QStringLiteral("%1 came twice").arg(s)));
                continue;
            }
            QCOMPARE(s, highest + 1); // no gap, no reordering
            highest = s;
        }
        QCOMPARE(highest, qint64(1000));
    }

    // A refused password says so, in French, and never shows up in a message.
    void refusedPasswordNeverPrinted()
    {
        QTemporaryDir dir;
        const QString passwords = dir.filePath(QStringLiteral("passwd"));
        QProcess tool;
        tool.start(QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd")),
                   {QStringLiteral("-c"), QStringLiteral("-b"), passwords, QStringLiteral("poste"),
                    QStringLiteral("bon-mot")});
        if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
            QSKIP("mosquitto_passwd is not available");
        TestBroker broker(dir.path(), "password_file " + passwords.toUtf8() + "\n");
        QVERIFY(broker.Start());

        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                messages << text;
            });
        TUserPrefs prefs = MqttPrefs(broker.Port(), QStringLiteral("p"));
        prefs.MqttUsername = QStringLiteral("poste");
        prefs.MqttPassword = QStringLiteral("mauvais-mot");
        {
            TMqttStation station(prefs);
            station.Configure(dir.filePath(QStringLiteral("Log")), QStringLiteral("LPT1"));
            QTRY_COMPARE(station.Publisher()->ErrorText(),
                         QStringLiteral("connexion non autorisée (utilisateur ou mot de passe ?)"));
            QVERIFY(!station.Publisher()->Connected());
        }
        prefs.MqttPassword = QStringLiteral("bon-mot");
        TMqttStation station(prefs);
        station.Configure(dir.filePath(QStringLiteral("Log")), QStringLiteral("LPT1"));
        QTRY_VERIFY(station.Publisher()->Connected());
        qInstallMessageHandler(previous);
        QVERIFY(!messages.isEmpty());
        for (const QString& m : std::as_const(messages))
            QVERIFY2(!m.contains(QStringLiteral("mot-")), qPrintable(m));
    }

    // The program, killed while the broker is away, leaves its events in the outbox;
    // the next start sends them. Killed while connected, its last will marks the
    // station offline.
    void killedProgramSendsOutboxAtNextStart()
    {
        QVERIFY2(QFileInfo::exists(kBinary), "build the evtrak target first");
        QTemporaryDir dir;
        const QString exe = dir.filePath(QStringLiteral("evtrak"));
        QVERIFY(QFile::copy(kBinary, exe));
        const QString portFile = dir.filePath(QStringLiteral("port.bin"));
        QByteArray port(65536, '\0');
        port[0x379] = char(0x80); // status inputs at rest
        WriteBytes(portFile, port);
        WriteBytes(dir.filePath(QStringLiteral("evtrak.ini")), "[Mqtt]\r\nStation=banc\r\n");
        auto setData = [&](quint8 value) {
            QFile f(portFile);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(0x378));
            f.write(QByteArray(1, char(value)));
        };
        TestBroker broker(dir.path()); // not started yet
        const QStringList args = {QStringLiteral("--headless"), QStringLiteral("--port-device"),
                                  portFile, QStringLiteral("--mqtt"),
                                  QStringLiteral("127.0.0.1:%1").arg(broker.Port())};

        QProcess first;
        first.setWorkingDirectory(dir.path());
        first.start(exe, args);
        QVERIFY(first.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += first.readAllStandardError()).contains("Ctrl+C"), 20000);
        QByteArray out;
        for (int i = 1; i <= 4; ++i) {
            setData(i % 2 ? 0x01 : 0x00);
            QTRY_COMPARE_WITH_TIMEOUT((out += first.readAllStandardOutput()).count('\n'), i, 20000);
        }
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(10000));

        QVERIFY(broker.Start());
        Subscriber sub(broker.Port(), "evtrak/banc/#");
        QTRY_VERIFY(sub.Subscribed());
        QProcess second;
        second.setWorkingDirectory(dir.path());
        second.start(exe, args);
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(sub.On("/events").size(), std::size_t(4), 20000);
        QCOMPARE(Seqs(sub.On("/events")), (std::vector<qint64>{1, 2, 3, 4}));
        QCOMPARE(QJsonDocument::fromJson(sub.On("/events")[3].payload)
                     .object()
                     .value("state")
                     .toString(),
                 QStringLiteral("off"));
        QTRY_VERIFY(sub.On("/status").back().payload.contains("\"online\""));

        ::kill(pid_t(second.processId()), SIGKILL);
        QVERIFY(second.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(sub.On("/status").back().payload.contains("\"offline\""), 20000);
    }
};

QTEST_GUILESS_MAIN(TestMqttBroker)
#include "tst_mqtt_broker.moc"
