#pragma once
// The one ordered channel from the capture worker to the UI thread.
//
// The worker appends events (and day-change markers) under a mutex; the first append
// after a drain posts one wake-up to the UI thread, which then takes the whole batch by
// swapping vectors. Nothing is dropped: when the UI falls behind the queue grows (its
// memory is bounded only by how far behind the UI is, 24 bytes per event), and
// the capacity is kept from batch to batch so a steady capture stops allocating.

#include "acquisition/uCapture.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace evtrak {

// One event as the worker hands it over (the local date-time is made on the UI side);
// the recovery journal keeps the same record.
using StampedEvent = JournalEvent;

// One drained batch: events in emission order; dayChanges holds, in order, the number
// of events that preceded each day-change marker.
struct CaptureBatch
{
    std::vector<StampedEvent> events;
    std::vector<std::size_t> dayChanges;
    void clear()
    {
        events.clear();
        dayChanges.clear();
    }
    bool empty() const { return events.empty() && dayChanges.empty(); }
};

class TCaptureChannel
{
public:
    // wake is called on the worker, at most once per batch: it must only post a
    // notification to the UI thread (a queued call), never touch UI state.
    explicit TCaptureChannel(std::function<void()> wake);

    // Worker side.
    void Push(const StampedEvent* events, std::size_t count, bool dayChangeAfter);
    // UI side: swaps the pending batch into `into` (cleared first). Clears the wake-up
    // flag with the same lock, so anything pushed afterwards posts a new wake-up.
    void Take(CaptureBatch& into);
    std::size_t PendingEvents() const;

private:
    std::function<void()> m_wake;
    mutable std::mutex m_mutex;
    CaptureBatch m_pending;     // guarded by m_mutex
    bool m_wakePending = false; // guarded by m_mutex: a wake-up is posted and not yet taken
};

// The engine's sink on the worker: stamps each event with the clock and keeps
// the events of one pass (at most 13) until Flush hands them to the channel at once.
// With a day watch, the day-change marker goes exactly between the last event stamped
// on the old day and the first stamped on the new one.
class TChannelSink : public EventSink
{
public:
    TChannelSink(TCaptureChannel& channel, EventStamper& stamper)
        : m_channel(channel), m_stamper(stamper)
    {}
    void RecordEvent(bool suffix, bool state, std::int32_t index, std::int32_t durationMs) override;
    void RecordEventAged(bool suffix, bool state, std::int32_t index, std::int32_t durationMs,
                         std::int32_t ageMs) override;
    // Hands the pass's events over, then a day-change marker when asked.
    void Flush(bool dayChange = false);
    // nullptr: no day-change markers from event stamps.
    void SetDayWatch(DayWatch* watch) { m_watch = watch; }

private:
    TCaptureChannel& m_channel;
    EventStamper& m_stamper;
    DayWatch* m_watch = nullptr;
    std::array<StampedEvent, 2 * kInputCount> m_pass{};
    std::size_t m_count = 0;
};

} // namespace evtrak
