// The collector against a local Mosquitto broker (started here on a free loopback port):
//  1. 10 simulated stations publishing 2,000 events/s each (QoS 1, straight with
//     libmosquitto) into one collector: events/s written durably, none lost or doubled
//     (every station's numbers contiguous, its files holding one line per event), and
//     the latency from publication to the collector's record on disk (p50, p99); then
//     the same number of events sent as fast as the stations can (the capacity);
//  2. a gap of 100,000 events (published while the collector was away and its session
//     gone) filled by replay from a real station publisher and its replay store;
//  3. the resident memory of the collector program (evtrak --collect) over 1,000,000
//     events;
//  4. the collector's own pace: what 10 stations sent while it was away (2,000 events
//     per station per second of part 1), written after its start.
// Usage: bench_collect [seconds of parts 1 and 4, default 10] [parts to run, default 1234]
#include "bench_support.h"
#include "mosquitto_support.h"
#include "mqtt/uMqttCollector.h"
#include "mqtt/uMqttPublisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDirIterator>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

using namespace evtrak;
using namespace evtrak::test;
using evtrak::bench::Seconds;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kStations = 10;

// The collector and the stations run on threads of their own: a look every 20 ms.
bool WaitFor(const std::function<bool()>& done, int limitMs)
{
    return bench::WaitFor(done, limitMs, 20ms, false);
}

QByteArray EventJson(const QString& station, std::uint64_t seq, std::int64_t epochMs)
{
    CapturedEvent ev;
    ev.Suffix = true;
    ev.State = (seq & 1) != 0;
    ev.InputIndex = int(seq % 13);
    ev.EpochMs = epochMs;
    return EventJsonHead(station) + QByteArray::number(qulonglong(seq)) +
           EventJsonTail(ev, QStringLiteral("Entrée %1").arg(ev.InputIndex));
}

// A simulated station: its own client (QoS 1), `rate` events a second for `count`
// events, each stamped with the moment it is handed to the library.
void Publish(int port, const QString& station, int rate, std::uint64_t count,
             std::atomic<std::uint64_t>& acked)
{
    mosquitto* m = mosquitto_new(nullptr, true, &acked);
    mosquitto_max_inflight_messages_set(m, 1000);
    mosquitto_publish_callback_set(m, [](mosquitto*, void* a, int) {
        static_cast<std::atomic<std::uint64_t>*>(a)->fetch_add(1);
    });
    mosquitto_connect(m, "127.0.0.1", port, 60);
    mosquitto_loop_start(m);
    const QByteArray topic = ("evtrak/" + station + "/events").toUtf8();
    const auto start = Steady::now();
    for (std::uint64_t seq = 1; seq <= count; ++seq) {
        if (rate > 0 && seq % 20 == 0) // paced by slices of 10 ms at 2,000/s
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(std::int64_t(seq) * 1000000 / rate));
        const QByteArray payload = EventJson(station, seq, QDateTime::currentMSecsSinceEpoch());
        while (mosquitto_publish(m, nullptr, topic.constData(), int(payload.size()),
                                 payload.constData(), 1, false) == MOSQ_ERR_NOMEM)
            std::this_thread::sleep_for(1ms);
    }
    WaitFor([&] { return acked.load() >= count; }, 120000);
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
}

qint64 LinesIn(const QString& folder)
{
    qint64 n = 0;
    QDirIterator it(folder, {QStringLiteral("*.txt")}, QDir::Files);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            n += f.readAll().count('\n');
    }
    return n;
}

QString StateValue(const QString& folder, const QString& station, const QString& key)
{
    QFile f(folder + u'/' + station + QStringLiteral("/collect.state"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith(QByteArray(key.toUtf8() + '=')))
                return QString::fromUtf8(line.mid(key.size() + 1));
    return {};
}

TCollectConfig CollectConfig(int port, const QString& folder)
{
    TCollectConfig c;
    c.Mqtt.Host = QStringLiteral("127.0.0.1");
    c.Mqtt.Port = port;
    c.ClientId = QStringLiteral("bench-collector");
    c.Folder = folder;
    c.RecordLatency = true;
    return c;
}

void Say(const QString& line)
{
    if (!line.startsWith(QStringLiteral("Collecteur : connecté")))
        std::fprintf(stderr, "  %s\n", qPrintable(line));
}

int Throughput(int seconds, bool paced)
{
    QTemporaryDir dir;
    TestBroker broker(dir.path(), "max_queued_messages 0\n");
    if (!broker.Start())
        return 1;
    const QString folder = dir.filePath(QStringLiteral("stations"));
    TMqttCollector collector(CollectConfig(broker.Port(), folder), Say);
    if (!collector.Start() || !WaitFor([&] { return collector.Connected(); }, 10000))
        return 1;
    std::this_thread::sleep_for(500ms); // subscriptions in place
    const std::uint64_t perStation = std::uint64_t(2000) * std::uint64_t(seconds);
    std::vector<std::atomic<std::uint64_t>> acked(kStations);
    std::vector<std::thread> threads;
    const auto start = Steady::now();
    for (int i = 0; i < kStations; ++i)
        threads.emplace_back(Publish, broker.Port(), QStringLiteral("s%1").arg(i), 2000, perStation,
                             std::ref(acked[std::size_t(i)]));
    for (std::thread& t : threads)
        t.join();
    const std::uint64_t total = perStation * kStations;
    const bool all = WaitFor([&] { return collector.Written() >= total; }, 120000);
    const double secs = Seconds(Steady::now() - start);
    collector.Stop();
    std::vector<std::int64_t> lat = collector.TakeLatencies();
    std::sort(lat.begin(), lat.end());
    auto pct = [&](double p) {
        return lat.empty() ? -1
                           : lat[std::min(lat.size() - 1, std::size_t(p * double(lat.size())))];
    };
    bool exact = all && collector.Written() == total;
    for (int i = 0; i < kStations; ++i) {
        const QString name = QStringLiteral("s%1").arg(i);
        exact =
            exact &&
            StateValue(folder, name, QStringLiteral("contiguous")).toULongLong() == perStation &&
            LinesIn(folder + u'/' + name) == qint64(perStation);
    }
    std::printf("1%s. %d stations x %s: %llu events written durably in %.1f s "
                "= %.0f ev/s; %s; %llu duplicates dropped\n"
                "   publication -> on disk: p50 %lld ms, p99 %lld ms, max %lld ms\n",
                paced ? "" : "b", kStations,
                qPrintable(paced ? QStringLiteral("2000 ev/s for %1 s").arg(seconds)
                                 : QStringLiteral("%1 events at once").arg(perStation)),
                static_cast<unsigned long long>(collector.Written()), secs,
                double(collector.Written()) / secs,
                exact ? "every number once, files exact" : "MISMATCH (lost or doubled)",
                static_cast<unsigned long long>(collector.Duplicates()),
                static_cast<long long>(pct(0.5)), static_cast<long long>(pct(0.99)),
                static_cast<long long>(lat.empty() ? -1 : lat.back()));
    return exact ? 0 : 1;
}

int Replay()
{
    constexpr int kGap = 100000;
    QTemporaryDir dir;
    TestBroker broker(dir.path());
    if (!broker.Start())
        return 1;
    const QString folder = dir.filePath(QStringLiteral("stations"));
    TMqttConfig config;
    config.Host = QStringLiteral("127.0.0.1");
    config.Port = broker.Port();
    config.Station = QStringLiteral("gap");
    config.OutboxFile = dir.filePath(QStringLiteral("Log/mqtt_outbox.dat"));
    config.ReplayFolder = dir.filePath(QStringLiteral("Log/mqtt_replay"));
    QDir().mkpath(dir.filePath(QStringLiteral("Log")));
    TMqttPublisher station(config);
    if (!station.Start())
        return 1;
    std::int64_t ms = QDateTime::currentMSecsSinceEpoch();
    auto publish = [&](int count) {
        std::vector<QByteArray> tails;
        for (int i = 0; i < count; ++i) {
            CapturedEvent ev;
            ev.Suffix = true;
            ev.State = (i & 1) != 0;
            ev.EpochMs = ++ms;
            tails.push_back(EventJsonTail(ev, QStringLiteral("Entrée 0")));
            if (tails.size() == 1000 || i == count - 1) {
                station.Publish(tails);
                tails.clear();
            }
        }
    };
    {
        TMqttCollector first(CollectConfig(broker.Port(), folder), Say);
        if (!first.Start() || !WaitFor([&] { return first.Connected(); }, 10000))
            return 1;
        std::this_thread::sleep_for(500ms);
        publish(10);
        if (!WaitFor([&] { return first.Written() == 10; }, 30000)) {
            std::fprintf(stderr, "2. the first events did not arrive\n");
            return 1;
        }
    }
    // The collector away with its session expired: the broker keeps nothing for it (a
    // broker's queue limit does the same, but would also drop the replay's bursts).
    publish(kGap);
    if (!WaitFor([&] { return station.Pending() == 0; }, 120000)) {
        std::fprintf(stderr, "2. the station could not publish the gap\n");
        return 1;
    }
    const auto start = Steady::now();
    TCollectConfig fresh = CollectConfig(broker.Port(), folder);
    fresh.ClientId = QStringLiteral("bench-collector-new-session");
    TMqttCollector second(fresh, Say);
    if (!second.Start())
        return 1;
    WaitFor([&] { return second.Connected(); }, 10000);
    publish(1);
    const std::uint64_t total = 10 + kGap + 1;
    const bool done = WaitFor(
        [&] {
            return StateValue(folder, QStringLiteral("gap"), QStringLiteral("contiguous"))
                       .toULongLong() == total;
        },
        qEnvironmentVariableIntValue("BENCH_WAIT") ? qEnvironmentVariableIntValue("BENCH_WAIT")
                                                   : 300000);
    const double secs = Seconds(Steady::now() - start);
    if (!done)
        std::fprintf(stderr, "2. not filled: %s\n", qPrintable(folder));
    second.Stop();
    station.Stop(1s);
    const QString filled = StateValue(folder, QStringLiteral("gap"), QStringLiteral("filled"));
    const bool exact = done && LinesIn(folder + QStringLiteral("/gap")) == qint64(total);
    std::printf("2. a gap of %d events (published while the collector had no session) filled by "
                "replay in %.1f s "
                "(%s events obtained by replay); %s\n",
                kGap, secs, qPrintable(filled),
                exact ? "every number once, files exact" : "MISMATCH");
    return exact ? 0 : 1;
}

double ResidentMb(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

int Memory(const QString& binary)
{
    constexpr std::uint64_t kPerStation = 100000; // 1,000,000 in all
    QTemporaryDir dir;
    TestBroker broker(dir.path(), "max_queued_messages 0\n");
    if (!broker.Start())
        return 1;
    const QString exe = dir.filePath(QStringLiteral("evtrak"));
    QFile::copy(binary, exe);
    QFile(dir.filePath(QStringLiteral("evtrak.portable"))).open(QIODevice::WriteOnly);
    QFile ini(dir.filePath(QStringLiteral("evtrak.ini")));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("[Collect]\r\nClientId=bench-rss\r\n");
    ini.close();
    QProcess collector;
    collector.setWorkingDirectory(dir.path());
    collector.setStandardOutputFile(QProcess::nullDevice());
    collector.setStandardErrorFile(QProcess::nullDevice());
    collector.start(exe, {QStringLiteral("--collect"), QStringLiteral("--mqtt"),
                          QStringLiteral("127.0.0.1:%1").arg(broker.Port())});
    if (!collector.waitForStarted(10000))
        return 1;
    std::this_thread::sleep_for(2s);
    const QString folder = dir.filePath(QStringLiteral("Log/stations"));
    auto written = [&] {
        std::uint64_t n = 0;
        for (int i = 0; i < kStations; ++i)
            n += StateValue(folder, QStringLiteral("m%1").arg(i), QStringLiteral("contiguous"))
                     .toULongLong();
        return n;
    };
    std::vector<std::atomic<std::uint64_t>> acked(kStations);
    std::vector<std::thread> threads;
    for (int i = 0; i < kStations; ++i)
        threads.emplace_back(Publish, broker.Port(), QStringLiteral("m%1").arg(i), 2000,
                             kPerStation, std::ref(acked[std::size_t(i)]));
    double first = 0;
    double low = 1e9;
    double high = 0;
    const std::uint64_t total = kPerStation * kStations;
    const auto start = Steady::now();
    for (std::uint64_t n = 0; n < total && Seconds(Steady::now() - start) < 300;) {
        std::this_thread::sleep_for(1s);
        n = written();
        const double rss = ResidentMb(collector.processId());
        if (n >= total / 10) { // after the start-up's growth
            first = first ? first : rss;
            low = std::min(low, rss);
            high = std::max(high, rss);
        }
    }
    for (std::thread& t : threads)
        t.join();
    const std::uint64_t n = written();
    ::kill(pid_t(collector.processId()), SIGTERM);
    collector.waitForFinished(30000);
    std::printf("3. evtrak --collect over %llu events: resident memory %.1f MB at 100,000, "
                "between %.1f and %.1f MB after (spread %.1f MB)\n",
                static_cast<unsigned long long>(n), first, low, high, high - low);
    return n == total ? 0 : 1;
}

// The collector's own pace: the stations publish while it is away (the broker queues for
// its lasting session), then it starts and writes the backlog; the senders no longer
// share the processors with it.
int Backlog(int seconds)
{
    QTemporaryDir dir;
    TestBroker broker(dir.path(), "max_queued_messages 0\n");
    if (!broker.Start())
        return 1;
    const QString folder = dir.filePath(QStringLiteral("stations"));
    {
        TMqttCollector first(CollectConfig(broker.Port(), folder), Say);
        if (!first.Start() || !WaitFor([&] { return first.Connected(); }, 10000))
            return 1;
        std::this_thread::sleep_for(500ms); // subscriptions in place
        first.Stop();
    }
    const std::uint64_t perStation = std::uint64_t(2000) * std::uint64_t(seconds);
    std::vector<std::atomic<std::uint64_t>> acked(kStations);
    std::vector<std::thread> threads;
    for (int i = 0; i < kStations; ++i)
        threads.emplace_back(Publish, broker.Port(), QStringLiteral("s%1").arg(i), 0, perStation,
                             std::ref(acked[std::size_t(i)]));
    for (std::thread& t : threads)
        t.join();
    const std::uint64_t total = perStation * kStations;
    TMqttCollector collector(CollectConfig(broker.Port(), folder), Say);
    const auto start = Steady::now();
    if (!collector.Start())
        return 1;
    const bool all = WaitFor([&] { return collector.Written() >= total; }, 300000);
    const double secs = Seconds(Steady::now() - start);
    collector.Stop();
    bool exact = all && collector.Written() == total;
    for (int i = 0; i < kStations; ++i)
        exact = exact && LinesIn(folder + QStringLiteral("/s%1").arg(i)) == qint64(perStation);
    std::printf("4. %llu events queued by the broker while the collector was away, written "
                "durably in %.1f s after its start = %.0f ev/s; %s\n",
                static_cast<unsigned long long>(collector.Written()), secs,
                double(collector.Written()) / secs,
                exact ? "every number once, files exact" : "MISMATCH (lost or doubled)");
    return exact ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (MosquittoProgram().isEmpty()) {
        std::fprintf(stderr, "mosquitto is not installed\n");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const QString parts = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("1234");
    int status = 0;
    if (parts.contains(u'1')) {
        status |= Throughput(seconds, true);
        status |= Throughput(seconds, false); // as fast as the stations can send
    }
    if (parts.contains(u'2'))
        status |= Replay();
    if (parts.contains(u'3'))
        status |= Memory(QStringLiteral(EVTRAK_BENCH_BINARY));
    if (parts.contains(u'4'))
        status |= Backlog(seconds);
    return status;
}
