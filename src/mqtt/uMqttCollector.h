#pragma once
// The collector: subscribes to the events of every station of a site (QoS 1, a lasting
// session) and writes each station's events into its own folder of day files, each
// (station, seq) exactly once, whatever the broker redelivers, drops or loses.
//
// Per station, in <folder>/<station>/:
//   yyyy_mm_dd.txt   the events, by each event's own date, in the event-file format
//   collect.state    what is durable: key=value lines (UTF-8), replaced whole
//     contiguous=S        every seq <= S is in the files or recorded lost
//     received=a-b,...    seqs above S already in the files
//     gaps=a-b,...        seqs above S missing, asked for again
//     lost=a-b,...        seqs the station no longer held (never asked again)
//     filled=N            events obtained by replay
//     lost_count=N
//     last_seq=N          highest seq seen
//     last_epoch_ms=N     time of the newest event written
//     status=online|offline   the station's last status message
//     batch=N             the last write batch that reached this state
// and <folder>/collect.journal: the batch being written, for every station it touches
// the day files and their sizes before the append. Order of a batch: journal (on the
// disk itself), lines appended and synced, states replaced. After a crash, a file
// whose station state did not reach the journal's batch is cut back to its size
// before: those events are then missing again, and fetched again by replay.
//
// Missing numbers (a broker that dropped what it queued, a kill after the broker's
// acknowledgement) are asked of the station on <prefix>/<station>/replay; what it no
// longer holds comes back on <prefix>/<station>/replay/missing and is recorded lost.

#include "mqtt/uMqttMessages.h"
#include "mqtt/uStationArchive.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace evtrak {

struct TCollectConfig
{
    TMqttConfig Mqtt;     // broker, prefix, user, TLS, keep-alive (Station unused)
    QString ClientId;     // the lasting session's id
    QStringList Stations; // names or patterns (* and ?); empty: every station
    QString Folder;       // Log/stations
    int DurationFormat = 0;
    std::chrono::milliseconds FlushInterval{200};
    std::chrono::seconds AskAgain{10}; // a gap not filled is asked for again after this
    bool RecordLatency = false;        // for the benchmark: see TakeLatencies()
};

// The "Stations=" setting as a list: names or patterns separated by commas or blanks.
QStringList CollectStationList(const QString& setting);
// Whether a station name may name a folder: letters, digits, '-', '_', '.', '@', at
// most 64 characters, not starting with '.'.
bool SafeStationName(const QString& name);

class TMqttCollector
{
public:
    // say: a line for the user (French), called from the collector's threads.
    TMqttCollector(TCollectConfig config, std::function<void(const QString&)> say);
    ~TMqttCollector(); // Stop()
    TMqttCollector(const TMqttCollector&) = delete;
    TMqttCollector& operator=(const TMqttCollector&) = delete;

    // Repairs what a crash left (the journal), reads the states and connects. False,
    // with ErrorText(), when the folder cannot be used.
    bool Start();
    // Disconnects, writes what was received and joins the threads.
    void Stop();
    QString ErrorText() const { return m_error; }

    // Figures: events written durably, duplicates dropped.
    std::uint64_t Written() const { return m_written.load(std::memory_order_relaxed); }
    std::uint64_t Duplicates() const { return m_duplicates.load(std::memory_order_relaxed); }
    bool Connected() const { return m_connected.load(std::memory_order_relaxed); }
    // With RecordLatency: for each event written since the last call, the milliseconds
    // from its epoch_ms to the moment its state was on disk.
    std::vector<std::int64_t> TakeLatencies();

    using Range = TSeqRange;

private:
    struct Incoming
    {
        QByteArray Topic;
        QByteArray Payload;
    };
    struct Pending
    {
        QString DayFile; // file name only
        QByteArray Line; // encoded, with its CR LF
        std::int64_t EpochMs = 0;
        bool Filled = false; // it came to fill a gap
    };
    // What the state file holds.
    struct Durable
    {
        std::uint64_t Contiguous = 0;
        std::map<std::uint64_t, std::uint64_t> Done; // above Contiguous: written or lost
        std::vector<Range> Lost;
        std::uint64_t LostCount = 0;
        std::uint64_t Filled = 0;
        std::uint64_t LastSeq = 0;
        std::int64_t LastEpochMs = 0;
        std::uint64_t Batch = 0;
        QString Status;
    };
    struct Station
    {
        QString Name;
        QString Dir;
        Durable D;
        std::uint64_t LastSeq = 0;                // highest seen, written or not
        std::map<std::uint64_t, Pending> Waiting; // received, not written yet
        bool Dirty = false;
        bool Failing = false;
        std::chrono::steady_clock::time_point AskedAt{};
        std::chrono::steady_clock::time_point FilledAt{};
        std::chrono::steady_clock::time_point HeardAt{};
        bool ProbeDue = false; // ask for what may follow LastSeq once it is quiet
    };

    void Body();
    void Network();
    void Handle(const Incoming& in);
    Station* StationFor(const QString& name);
    static bool Has(const Station& st, std::uint64_t seq);
    static void MarkDone(Durable& d, std::uint64_t from, std::uint64_t to);
    static std::vector<Range> Gaps(const Durable& d, std::uint64_t lastSeq,
                                   const std::map<std::uint64_t, Pending>* waiting);
    static QByteArray StateText(const Durable& d);
    void Flush();
    bool WriteState(const Station& st, const Durable& d);
    void AskGaps(std::chrono::steady_clock::time_point now);
    void Ask(const Station& st, std::uint64_t from, std::uint64_t to);
    bool Recover();
    void LoadStates();
    bool Wanted(const QString& name) const;

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* msg);

    const TCollectConfig m_config;
    const std::function<void(const QString&)> m_say;
    const QString m_prefix;
    QString m_error;
    std::vector<QRegularExpression> m_patterns;
    bool m_literalStations = false; // subscribe to each station's own topics
    mosquitto* m_mosq = nullptr;
    std::thread m_thread;
    std::thread m_netThread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_netStop{false};
    std::atomic<bool> m_connected{false};
    std::atomic<int> m_connects{0};
    std::atomic<std::uint64_t> m_written{0};
    std::atomic<std::uint64_t> m_duplicates{0};
    bool m_journalFailing = false;

    // From the network thread to the collector's, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_room;
    std::deque<Incoming> m_queue;
    std::vector<std::int64_t> m_latencies;

    // The collector thread's own.
    std::map<QString, Station> m_stations;
    QStringList m_refused;
    QStringList m_blocked; // files without a readable state: never written to again
    std::uint64_t m_batch = 0;
    std::size_t m_waiting = 0;
    int m_seenConnects = 0;
    std::chrono::steady_clock::time_point m_connectedAt{};
};

} // namespace evtrak
