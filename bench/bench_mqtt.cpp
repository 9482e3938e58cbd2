// Publishing to a local Mosquitto broker (started here on a free loopback port):
// events per second with QoS 1, from the UI-side hand-over to the broker's last
// acknowledgement, the latency from the hand-over to a subscriber, and resident
// memory over a 1,000,000-event outage of the broker (then its start-up and drain).
#include "bench_support.h"
#include "mosquitto_support.h"
#include "mqtt/uMqttPublisher.h"
#include "mqtt/uMqttStation.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

using namespace evtrak;
using namespace evtrak::test;
using evtrak::bench::Seconds;
using Steady = std::chrono::steady_clock;

namespace {

// The publisher's results come as Qt events of this thread.
bool WaitFor(const std::function<bool()>& done, int limitMs)
{
    return bench::WaitFor(done, limitMs, std::chrono::microseconds(200), true);
}

std::vector<CapturedEvent> Batch(int count, std::int64_t& ms)
{
    std::vector<CapturedEvent> batch(std::size_t(count), CapturedEvent{});
    for (int i = 0; i < count; ++i) {
        CapturedEvent& e = batch[std::size_t(i)];
        e.Suffix = true;
        e.State = (i & 1) != 0;
        e.InputIndex = i % 13;
        e.EpochMs = ++ms;
    }
    return batch;
}

// Resident memory of this process, in MB.
double ResidentMb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// The broker away while 1,000,000 events are recorded: resident memory stays flat (the
// pending events beyond a window wait on disk only); a start with them all pending;
// the broker back, the drain.
int Outage(const TUserPrefs& base, std::int64_t& ms)
{
    QTemporaryDir dir;
    TestBroker broker(dir.path(), "max_queued_messages 0\n"); // not started yet
    TUserPrefs prefs = base;
    prefs.MqttPort = broker.Port();
    const QString log = dir.filePath(QStringLiteral("Log"));
    constexpr int kEvents = 1000000;
    constexpr int kBatch = 100;
    {
        TMqttStation station(prefs);
        station.Configure(log, QStringLiteral("LPT1"));
        for (int i = 0; i < 100; ++i) // warm up: the first window fills memory
            station.Feed(Batch(kBatch, ms));
        const double before = ResidentMb();
        double highest = before;
        const auto t0 = Steady::now();
        for (int i = 100; i < kEvents / kBatch; ++i) {
            station.Feed(Batch(kBatch, ms));
            if (i % 1000 == 0) {
                QCoreApplication::processEvents();
                highest = std::max(highest, ResidentMb());
            }
        }
        const double after = ResidentMb();
        std::printf("broker away, %d events handed over in %.1f s: resident memory %.1f MB -> "
                    "%.1f MB (+%.1f MB, highest +%.1f MB); %llu pending\n",
                    kEvents, Seconds(Steady::now() - t0), before, after, after - before,
                    highest - before, qulonglong(station.Publisher()->Pending()));
        station.Shutdown(std::chrono::milliseconds(0));
    }
    const qint64 bytes = QFileInfo(TMqttStation::OutboxFileIn(log)).size();
    const double before = ResidentMb();
    const auto t0 = Steady::now();
    TMqttStation station(prefs);
    station.Configure(log, QStringLiteral("LPT1"));
    const auto configured = Steady::now();
    WaitFor([&] { return station.Publisher()->Pending() > 0; }, 600000);
    std::printf("start with %llu pending in a %.0f MB outbox: publishing set up in %.3f s, the "
                "outbox read (by the publisher's thread) in %.2f s, resident +%.1f MB\n",
                qulonglong(station.Publisher()->Pending()), double(bytes) / 1048576.0,
                Seconds(configured - t0), Seconds(Steady::now() - t0), ResidentMb() - before);
    if (!broker.Start())
        return 1;
    const auto t1 = Steady::now();
    double highest = ResidentMb();
    int polls = 0;
    if (!WaitFor(
            [&] {
                if (++polls % 500 == 0)
                    highest = std::max(highest, ResidentMb());
                return station.Publisher()->Pending() == 0;
            },
            600000)) {
        std::printf("not all acknowledged\n");
        return 1;
    }
    std::printf("broker back: %d events acknowledged in %.1f s = %.0f events/s, resident at "
                "most +%.1f MB over the start\n",
                kEvents, Seconds(Steady::now() - t1), kEvents / Seconds(Steady::now() - t1),
                highest - before);
    station.Shutdown(std::chrono::seconds(2));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (MosquittoProgram().isEmpty()) {
        std::printf("mosquitto is not installed: nothing measured\n");
        return 0;
    }
    QTemporaryDir dir;
    TestBroker broker(dir.path());
    if (!broker.Start()) {
        std::printf("the broker did not start\n");
        return 1;
    }
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.MqttEnabled = true;
    prefs.MqttHost = QStringLiteral("127.0.0.1");
    prefs.MqttPort = broker.Port();
    prefs.MqttStation = QStringLiteral("bench");
    std::int64_t ms = QDateTime::currentMSecsSinceEpoch();

    // Throughput: 200,000 events in batches of 100, as the capture hands them over.
    {
        TMqttStation station(prefs);
        station.Configure(dir.filePath(QStringLiteral("Log")), QStringLiteral("LPT1"));
        if (!WaitFor([&] { return station.Publisher()->Connected(); }, 10000)) {
            std::printf("no connection\n");
            return 1;
        }
        constexpr int kEvents = 200000;
        constexpr int kBatch = 100;
        std::vector<std::vector<CapturedEvent>> batches;
        for (int i = 0; i < kEvents / kBatch; ++i)
            batches.push_back(Batch(kBatch, ms));
        const auto t0 = Steady::now();
        for (const auto& b : batches)
            station.Feed(b);
        const auto handedOver = Steady::now();
        if (!WaitFor([&] { return station.Publisher()->Pending() == 0; }, 120000)) {
            std::printf("not all acknowledged\n");
            return 1;
        }
        const auto acked = Steady::now();
        const double rate = kEvents / Seconds(acked - t0);
        std::printf(
            "QoS 1 events acknowledged: %d in %.3f s = %.0f events/s (goal 20000: %.2f x)\n",
            kEvents, Seconds(acked - t0), rate, rate / 20000.0);
        std::printf("UI-side hand-over (JSON + outbox append): %.2f us per event\n",
                    Seconds(handedOver - t0) * 1e6 / kEvents);
        station.Shutdown(std::chrono::seconds(2));
    }

    // Latency: 1,000 events a second for 5 s, one at a time; hand-over to subscriber.
    {
        Subscriber sub(broker.Port(), "evtrak/bench/events", "bench-sub");
        if (!WaitFor([&] { return sub.Subscribed(); }, 10000))
            return 1;
        QFile::remove(TMqttStation::OutboxFileIn(dir.filePath(QStringLiteral("Log"))));
        TMqttStation station(prefs);
        station.Configure(dir.filePath(QStringLiteral("Log")), QStringLiteral("LPT1"));
        WaitFor([&] { return station.Publisher()->Connected(); }, 10000);
        constexpr int kEvents = 5000;
        const std::uint64_t firstSeq = station.Publisher()->AckedUpTo() + 1;
        std::vector<Steady::time_point> sent;
        auto next = Steady::now();
        for (int i = 0; i < kEvents; ++i) {
            std::this_thread::sleep_until(next);
            next += std::chrono::milliseconds(1);
            sent.push_back(Steady::now());
            station.Feed(Batch(1, ms));
        }
        WaitFor([&] { return sub.Messages().size() >= std::size_t(kEvents); }, 30000);
        std::vector<double> lat;
        for (const Message& m : sub.Messages()) {
            const auto seq =
                std::uint64_t(QJsonDocument::fromJson(m.payload).object().value("seq").toInteger());
            if (seq >= firstSeq && seq < firstSeq + kEvents)
                lat.push_back(Seconds(m.at - sent[seq - firstSeq]) * 1000.0);
        }
        std::sort(lat.begin(), lat.end());
        if (lat.empty())
            return 1;
        std::printf("latency hand-over -> subscriber, %zu events at 1000/s: p50 %.3f ms, p99 %.3f "
                    "ms, max %.3f ms\n",
                    lat.size(), lat[lat.size() / 2], lat[lat.size() * 99 / 100], lat.back());
        station.Shutdown(std::chrono::seconds(2));
    }
    return Outage(prefs, ms);
}
