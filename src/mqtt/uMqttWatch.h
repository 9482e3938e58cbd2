#pragma once
// A read-only look at the stations of a site: a subscription of its own (clean
// session, never publishes) to every station's retained status and to its events.
// The library runs in a thread of its own; what arrives is queued for the UI thread,
// which is woken once per batch and takes the whole batch. Stopping never waits for
// the network: a connection still being made is left to end on its own.

#include "mqtt/uMqttMessages.h"

#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace evtrak {

// A station's retained status.
struct TStationStatus
{
    QString Station;
    bool Online = false; // "offline" is also the station's last will
    QString Interface;
    QString Version;
};

// One event as a station published it.
struct TStationEvent
{
    QString Station;
    std::uint64_t Seq = 0;
    int Input = -1;
    QString Label;
    int State = -1; // 1 on, 0 off, -1 a pulse (no state)
    std::int64_t EpochMs = 0;
    std::int32_t DurationMs = 0;
};

// The station named by a topic "<prefix>/<station>/<leaf>"; empty when the topic is
// not of that shape.
QString StationOfTopic(const QString& topic, const QString& prefix, const QString& leaf);
// The messages read; nullopt for a payload that is not the JSON the stations send.
std::optional<TStationStatus> ParseStatusMessage(const QString& station, const QByteArray& json);
std::optional<TStationEvent> ParseEventMessage(const QString& station, const QByteArray& json);

class TMqttWatch : public QObject
{
    Q_OBJECT
public:
    // How many of the newest events a batch keeps (older ones are only counted).
    static constexpr std::size_t kMaxQueuedEvents = 1000;

    struct Batch
    {
        std::deque<TStationEvent> Events; // oldest first
        std::map<QString, TStationStatus> Statuses;
        // The numbers of the events received per station in this batch, those beyond
        // Events included, redeliveries too.
        std::map<QString, std::vector<std::uint64_t>> Received;
    };

    explicit TMqttWatch(TMqttConfig config, QObject* parent = nullptr);
    ~TMqttWatch() override;

    void Start();
    bool Connected() const;
    // Why the broker cannot be reached (French); empty while connected or trying first.
    QString ErrorText() const;
    // Everything that came since the last call.
    Batch Take();
    const TMqttConfig& Config() const { return m_config; }

Q_SIGNALS:
    // Something is waiting for Take(), or the connection changed.
    void changed();

private:
    struct Shared;

    const TMqttConfig m_config;
    std::shared_ptr<Shared> m_shared;
};

} // namespace evtrak
