#pragma once
// The MQTT publisher: a thread of its own that keeps a connection to the broker and
// publishes, with QoS 1 and in order, every event written to the outbox; the outbox
// learns what the broker acknowledged. The capture worker never touches it: events
// are handed over from the UI thread, which only appends them to the outbox and wakes
// the publisher. The publisher sends a number only once its record is on the disk
// itself, watches that the outbox file is still its own (rewriting it when it was
// removed or cut), and keeps at most a window of messages in memory: the rest waits
// in the file. Name resolution and the start of a connection run in a thread of their
// own, so neither the hand-over nor the stop ever waits for the network.

#include "mqtt/uMqttMessages.h"
#include "mqtt/uMqttOutbox.h"
#include "mqtt/uMqttReplay.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace evtrak {

struct TConnectAttempt;

class TMqttPublisher
{
public:
    explicit TMqttPublisher(TMqttConfig config);
    ~TMqttPublisher(); // Stop with no grace
    TMqttPublisher(const TMqttPublisher&) = delete;
    TMqttPublisher& operator=(const TMqttPublisher&) = delete;

    // Takes the outbox and starts the thread, which reads it (what an earlier run left
    // in it goes out first; events handed over meanwhile wait in memory). False, with
    // ErrorText(), when the outbox cannot be taken; one that cannot be read turns
    // publishing off with a notice.
    bool Start();
    // Clean end: waits at most `grace` for the broker to acknowledge what is pending
    // (the rest stays in the outbox for the next run), publishes the "offline" status
    // and disconnects within that time, and joins the thread. A name resolution that
    // has not answered is left to finish on its own: it never holds the stop.
    void Stop(std::chrono::milliseconds grace);

    // UI side. Each tail (EventJsonTail) becomes one message with the next number; a
    // number is sent only once its record is on the disk itself.
    void Publish(std::span<const QByteArray> tails);
    // The live state word of the inputs; published retained when it changes, at most
    // ten times a second. Any thread.
    void SetLinesWord(std::uint16_t word) { m_linesWord.store(word, std::memory_order_relaxed); }

    bool Connected() const { return m_connected.load(std::memory_order_relaxed); }
    // Events not yet acknowledged by the broker.
    std::uint64_t Pending() const
    {
        const std::uint64_t acked = m_acked.load(std::memory_order_acquire);
        const std::uint64_t last = m_lastSeq.load(std::memory_order_acquire);
        return last > acked ? last - acked : 0;
    }
    std::uint64_t AckedUpTo() const { return m_acked.load(std::memory_order_relaxed); }
    QString ErrorText() const;
    // Lines for the user about the outbox (rewritten, kept aside, not writable); each
    // is given once.
    QStringList TakeNotices();
    const TMqttConfig& Config() const { return m_config; }

    // The call that resolves the broker's name and starts the connection; it may
    // block as long as the resolver does, so it runs in a thread of its own. Tests
    // put a resolver that never answers in its place; nullptr puts the library's back.
    using ConnectCall = int (*)(mosquitto*, const char* host, int port, int keepAlive);
    static void SetConnectCall(ConnectCall call);

private:
    struct Inflight
    {
        OutboxEntry entry;
        bool acked = false;
    };

    void Body();
    bool ReadOutbox();
    void Connect();
    void FinishConnect();
    void Drop(const QString& why);
    void MakeDurable(std::chrono::steady_clock::time_point now);
    void CheckOutboxLocked();
    bool FlushUnwrittenLocked();
    void PublishQueued();
    void PublishLines();
    void WriteAcks();
    void WriteAcksLocked();
    void FinishClean();
    void SetError(const QString& text);
    void Wake();
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* msg);
    void PublishReplays();

    const TMqttConfig m_config;
    const QByteArray m_head;
    const QByteArray m_topicEvents;
    const QByteArray m_topicStatus;
    const QByteArray m_topicLines;
    const QByteArray m_topicReplay;
    const QByteArray m_topicMissing;
    int m_wakeFd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_deadlineMs{0};
    std::atomic<bool> m_connected{false};
    std::atomic<std::uint64_t> m_lastSeq{0}; // numbers handed out, written or waiting
    std::atomic<std::uint64_t> m_acked{0};
    std::atomic<std::uint32_t> m_linesWord{0x10000}; // above 16 bits: no word yet

    // Shared with the UI thread, under m_mutex.
    mutable std::mutex m_mutex;
    TMqttOutbox m_outbox;
    TReplayStore m_replay; // what a collector may ask for again
    bool m_replayFailing = false;
    bool m_replayUnsynced = false;
    bool m_ready = false;  // the outbox was read: the UI side may append
    bool m_closed = false; // the outbox could not be read, or the publisher stopped
    // Events (message tails) not written yet, while the outbox is read or when the
    // disk refused them: numbered once written, in order; retried.
    std::vector<QByteArray> m_unwritten;
    std::uint64_t m_dropped = 0; // events given up when the disk stayed refused
    bool m_writeFailing = false;
    bool m_outboxBroken = false; // removed or cut, not rewritten yet
    std::uint64_t m_synced = 0;  // numbers up to here are on the disk itself
    QString m_error;
    QStringList m_notices;

    // The publisher thread's own.
    mosquitto* m_mosq = nullptr;
    std::shared_ptr<TConnectAttempt> m_connecting;
    bool m_sessionUp = false; // CONNACK accepted on this connection
    bool m_refused = false;   // CONNACK refused: the connection is dropped
    bool m_slowReported = false;
    QString m_refusal;
    std::deque<OutboxEntry> m_unsent;
    std::deque<Inflight> m_inflight;
    std::unordered_map<int, std::uint64_t> m_midToSeq;
    // Replay requests being answered, oldest first, and their messages in flight.
    std::deque<TReplayCursor> m_replayJobs;
    std::unordered_set<int> m_replayMids;
    // Highest number handed to the library: a replay never says missing what may still
    // be on its way as a live message.
    std::uint64_t m_publishedUpTo = 0;
    std::chrono::steady_clock::time_point m_replaySyncedAt{};
    std::uint64_t m_ackedLocal = 0;
    std::uint64_t m_ackWritten = 0;
    std::chrono::steady_clock::time_point m_nextAttempt{};
    std::chrono::steady_clock::time_point m_attemptStart{};
    std::chrono::milliseconds m_backoff{250};
    std::uint32_t m_linesPublished = 0x10000;
    std::chrono::steady_clock::time_point m_linesAt{};
    std::chrono::steady_clock::time_point m_syncedAt{};
    std::chrono::steady_clock::time_point m_checkedAt{};
    std::chrono::steady_clock::time_point m_retriedAt{};
};

} // namespace evtrak
