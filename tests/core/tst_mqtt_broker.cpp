// Publishing to a real Mosquitto broker that the test starts on a free loopback port:
// the messages as a consumer reads them, a broker that goes away in the middle of a
// capture, the program itself killed with events still waiting, a full disk, an
// outbox removed or cut under the program, and a name resolver that never answers.
#include "mosquitto_support.h"
#include "mqtt/uMqttOutbox.h"
#include "mqtt/uMqttPublisher.h"
#include "mqtt/uMqttStation.h"
#include "testsupport.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>
#include <csignal>
#include <ctime>
#include <map>
#include <poll.h>
#include <thread>
#include <unistd.h>

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

// The consumer's view keyed on (station, seq): a number that came with two different
// events, or a number missing below the highest. Empty when every number is whole.
QString NumberingFault(const std::vector<Message>& messages)
{
    std::map<qint64, QByteArray> bySeq;
    for (const Message& m : messages) {
        const qint64 seq = QJsonDocument::fromJson(m.payload).object().value("seq").toInteger();
        const auto [it, fresh] = bySeq.emplace(seq, m.payload);
        if (!fresh && it->second != m.payload)
            return QStringLiteral("seq %1 came with two events:\n%2\n%3")
                .arg(seq)
                .arg(QString::fromUtf8(it->second), QString::fromUtf8(m.payload));
    }
    qint64 expected = 1;
    for (const auto& entry : bySeq)
        if (entry.first != expected++)
            return QStringLiteral("seq %1 missing").arg(expected - 1);
    return {};
}

void FeedOneByOne(TMqttStation& station, int count, std::int64_t& ms)
{
    for (int i = 0; i < count; ++i) {
        const CapturedEvent e = Event(i % 13, true, i % 2 == 0, ++ms);
        station.Feed({&e, 1});
    }
}

// A broker that sends its acknowledgements in the reverse order of the messages, as a
// cluster of brokers may: only CONNECT, PUBLISH with QoS 1 and PUBACK are spoken.
class ReverseAckBroker
{
public:
    explicit ReverseAckBroker(std::size_t expected) : m_expected(expected)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~ReverseAckBroker()
    {
        m_stop.store(true);
        m_thread.join();
        ::close(m_listen);
    }
    int Port() const { return m_port; }

private:
    bool ReadAll(int fd, char* to, std::size_t n)
    {
        while (n > 0) {
            pollfd p{fd, POLLIN, 0};
            if (m_stop.load())
                return false;
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t got = ::recv(fd, to, n, 0);
            if (got <= 0)
                return false;
            to += got;
            n -= std::size_t(got);
        }
        return true;
    }
    bool Packet(int fd, quint8& type, QByteArray& body)
    {
        char c = 0;
        if (!ReadAll(fd, &c, 1))
            return false;
        type = quint8(c);
        std::size_t length = 0;
        for (int shift = 0; shift < 28; shift += 7) {
            if (!ReadAll(fd, &c, 1))
                return false;
            length |= std::size_t(c & 0x7f) << shift;
            if (!(c & 0x80))
                break;
        }
        body.resize(qsizetype(length));
        return ReadAll(fd, body.data(), length);
    }
    void Run()
    {
        pollfd p{m_listen, POLLIN, 0};
        while (!m_stop.load() && ::poll(&p, 1, 50) <= 0) {
        }
        if (m_stop.load())
            return;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        quint8 type = 0;
        QByteArray body;
        std::vector<quint16> ids;
        if (Packet(fd, type, body) && (type >> 4) == 1) {
            ::send(fd, "\x20\x02\x00\x00", 4, MSG_NOSIGNAL);
            while (ids.size() < m_expected && Packet(fd, type, body)) {
                if ((type >> 4) == 3 && (type & 0x06) == 0x02) {
                    const auto topicLength = (quint8(body[0]) << 8) | quint8(body[1]);
                    ids.push_back(quint16((quint8(body[2 + topicLength]) << 8) |
                                          quint8(body[3 + topicLength])));
                }
            }
            for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
                const char ack[4] = {0x40, 0x02, char(*it >> 8), char(*it & 0xff)};
                ::send(fd, ack, 4, MSG_NOSIGNAL);
            }
            while (Packet(fd, type, body)) { // whatever else comes, until the end
            }
        }
        ::close(fd);
    }

    std::size_t m_expected;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A name resolver that never answers, until the test lets it go.
std::atomic<bool> g_resolverStuck{false};
std::atomic<bool> g_resolverReleased{false};
int StuckResolver(mosquitto*, const char*, int, int)
{
    g_resolverStuck.store(true);
    while (!g_resolverReleased.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return MOSQ_ERR_EAI;
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
        prefs.Inputs[3].Label = QStringLiteral("Porte \"nord\" é");
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
        TestBroker broker(dir.path(), "max_queued_messages 0\n"); // the subscriber may lag
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
        feed(5700); // more than the outbox holds in memory: the rest is read back

        QTRY_VERIFY_WITH_TIMEOUT(!station.Publisher()->Connected(), 10000);
        QVERIFY(station.Publisher()->Pending() > 0);
        QVERIFY(station.StatusText().endsWith(QStringLiteral(" en attente")));

        QVERIFY(broker.Start());
        QTRY_COMPARE_WITH_TIMEOUT(station.Publisher()->Pending(), std::uint64_t(0), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(Seqs(sub.On("/events")).back() == 6000, 30000);

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
        QCOMPARE(highest, qint64(6000));
    }

    // The disk fills under the outbox and stays full at exit; the next run goes on.
    // No number ever comes with two different events, and none is skipped.
    void fullDiskNeverReusesNumbers()
    {
        QTemporaryDir dir;
        TestBroker broker(dir.path());
        QVERIFY(broker.Start());
        Subscriber sub(broker.Port(), "evtrak/+/events");
        QTRY_VERIFY(sub.Subscribed());
        const TUserPrefs prefs = MqttPrefs(broker.Port(), QStringLiteral("plein"));
        const QString log = dir.filePath(QStringLiteral("Log"));
        std::int64_t ms = QDateTime::currentMSecsSinceEpoch();
        {
            TMqttStation station(prefs);
            QSignalSpy notices(&station, &TMqttStation::notice);
            station.Configure(log, QStringLiteral("LPT1"));
            QTRY_VERIFY(station.Publisher()->Connected());
            FeedOneByOne(station, 10, ms);
            QTRY_COMPARE(station.Publisher()->Pending(), std::uint64_t(0));
            // Room for about two more records.
            FileSizeLimit limit(QFileInfo(TMqttStation::OutboxFileIn(log)).size() + 500);
            FeedOneByOne(station, 20, ms);
            QTest::qWait(300);
            station.Shutdown(std::chrono::seconds(2));
            QVERIFY(!notices.isEmpty());
        }
        TMqttStation station(prefs);
        station.Configure(log, QStringLiteral("LPT1"));
        FeedOneByOne(station, 20, ms);
        QTRY_COMPARE_WITH_TIMEOUT(station.Publisher()->Pending(), std::uint64_t(0), 20000);
        QTRY_VERIFY(!sub.On("/events").empty() &&
                    Seqs(sub.On("/events")).back() == qint64(station.Publisher()->AckedUpTo()));
        QVERIFY(station.Publisher()->AckedUpTo() >= 30);
        const QString fault = NumberingFault(sub.On("/events"));
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // The outbox removed or cut while events wait for an absent broker: noticed at
    // the next write, said in French, rewritten; after the program ends, every event
    // goes out with its own number and numbering goes on.
    void outboxRemovedOrCutWhileRunning_data()
    {
        QTest::addColumn<bool>("cut");
        QTest::newRow("removed") << false;
        QTest::newRow("cut") << true;
    }
    void outboxRemovedOrCutWhileRunning()
    {
        QFETCH(bool, cut);
        QTemporaryDir dir;
        TestBroker broker(dir.path()); // not started yet
        const TUserPrefs prefs = MqttPrefs(broker.Port(), QStringLiteral("coupe"));
        const QString log = dir.filePath(QStringLiteral("Log"));
        const QString outbox = TMqttStation::OutboxFileIn(log);
        std::int64_t ms = QDateTime::currentMSecsSinceEpoch();
        {
            TMqttStation station(prefs);
            QSignalSpy notices(&station, &TMqttStation::notice);
            station.Configure(log, QStringLiteral("LPT1"));
            FeedOneByOne(station, 40, ms);
            QTRY_VERIFY(QFileInfo(outbox).size() > 40 * 100); // written once the file was read
            if (cut)
                QVERIFY(::truncate(QFile::encodeName(outbox).constData(),
                                   QFileInfo(outbox).size() / 2) == 0);
            else
                QVERIFY(QFile::remove(outbox));
            FeedOneByOne(station, 1, ms);
            QTRY_VERIFY(!notices.isEmpty());
            const QString text = notices.first().first().toString();
            QVERIFY2(text.contains(cut ? QStringLiteral("tronqué") : QStringLiteral("supprimé")),
                     qPrintable(text));
            station.Shutdown(std::chrono::milliseconds(0));
        }
        QVERIFY(broker.Start());
        Subscriber sub(broker.Port(), "evtrak/+/events");
        QTRY_VERIFY(sub.Subscribed());
        TMqttStation station(prefs);
        station.Configure(log, QStringLiteral("LPT1"));
        FeedOneByOne(station, 1, ms);
        QTRY_COMPARE_WITH_TIMEOUT(sub.On("/events").size(), std::size_t(42), 20000);
        const QString fault = NumberingFault(sub.On("/events"));
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // Acknowledgements are matched by number: with a damaged record skipped, the
    // numbers in flight do not follow each other, and acknowledgements that come in
    // any order still settle each one.
    void acknowledgedByNumberAcrossAGap()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("Log"));
        QVERIFY(QDir().mkpath(log));
        const QString outbox = TMqttStation::OutboxFileIn(log);
        {
            TMqttOutbox box;
            QVERIFY(box.Open(outbox));
            for (int i = 1; i <= 6; ++i) {
                const QByteArray p = "{\"n\":" + QByteArray::number(i) + '}';
                QVERIFY(box.Append(&p, 1));
            }
        }
        QByteArray bytes = ReadBytes(outbox);
        bytes.replace("{\"n\":3}", "{\"n\":9}");
        WriteBytes(outbox, bytes);
        ReverseAckBroker broker(6); // the "online" status and five events
        const TUserPrefs prefs = MqttPrefs(broker.Port(), QStringLiteral("trou"));
        TMqttStation station(prefs); // keeps a reference to the settings
        station.Configure(log, QStringLiteral("LPT1"));
        QTRY_COMPARE_WITH_TIMEOUT(station.Publisher()->AckedUpTo(), std::uint64_t(6), 20000);
        QCOMPARE(station.Publisher()->Pending(), std::uint64_t(0));
    }

    // A resolver that never answers holds neither the hand-over nor the stop: the
    // stop gives up on the network within its grace, the events stay in the outbox.
    void stopNeverWaitsForTheResolver()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("Log"));
        g_resolverStuck.store(false);
        g_resolverReleased.store(false);
        TMqttPublisher::SetConnectCall(&StuckResolver);
        TUserPrefs prefs = MqttPrefs(1883, QStringLiteral("dns"));
        prefs.MqttHost = QStringLiteral("broker.example");
        std::int64_t ms = QDateTime::currentMSecsSinceEpoch();
        {
            TMqttStation station(prefs);
            station.Configure(log, QStringLiteral("LPT1"));
            QTRY_VERIFY(g_resolverStuck.load());
            FeedOneByOne(station, 3, ms);
            QElapsedTimer t;
            t.start();
            station.Shutdown(std::chrono::seconds(2));
            QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        }
        g_resolverReleased.store(true);
        TMqttPublisher::SetConnectCall(nullptr);
        TMqttOutbox box;
        QVERIFY(box.Open(TMqttStation::OutboxFileIn(log)));
        std::deque<OutboxEntry> left;
        QCOMPARE(box.Take(left, 10, 10), std::size_t(3));
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
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
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
