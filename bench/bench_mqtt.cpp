// Publishing to a local Mosquitto broker (started here on a free loopback port):
// events per second with QoS 1, from the UI-side hand-over to the broker's last
// acknowledgement, and the latency from the hand-over to a subscriber.
#include "eventlog/uMqttPublisher.h"
#include "eventlog/uMqttStation.h"
#include "mosquitto_support.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <thread>

using namespace evtrak;
using namespace evtrak::test;
using Steady = std::chrono::steady_clock;

namespace {

double Seconds(Steady::duration d)
{
    return std::chrono::duration<double>(d).count();
}

bool WaitFor(const std::function<bool()>& done, int limitMs)
{
    const auto end = Steady::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (Steady::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
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
    return 0;
}
