#pragma once
// Time sources of the capture: the millisecond tick that measures activations, the
// local clock that stamps events, and the watch that notices local midnight.

#include "eventlog/uDateTexts.h"

#include <QDateTime>
#include <atomic>
#include <cstdint>

namespace evtrak {

// A millisecond counter that wraps modulo 2^32.
class TickSource
{
public:
    virtual ~TickSource() = default;
    virtual std::uint32_t Ticks() = 0;
    // The same count without the wrap. By default Ticks() extended by counting the
    // wraps it sees, which holds when it is read at least once per wrap (49.7 days);
    // not thread-safe: one reader (the capture worker).
    virtual std::uint64_t Ticks64()
    {
        const std::uint32_t t = Ticks();
        if (t < m_lastLow)
            m_high += std::uint64_t(1) << 32;
        m_lastLow = t;
        return m_high | t;
    }

private:
    std::uint32_t m_lastLow = 0;
    std::uint64_t m_high = 0;
};

// CLOCK_MONOTONIC in milliseconds (Ticks: truncated to 32 bits).
TickSource& MonotonicTicks();

// The moment of an event on the worker: milliseconds since the epoch from a Clock.
// With the system clock it is one clock_gettime; the worker does no local-time
// conversion at all (those go through the C library's time-zone state, which the UI
// thread uses too). Any other clock is asked every time.
class EventStamper
{
public:
    explicit EventStamper(const Clock& clock);
    std::int64_t NowMs() const;

private:
    const Clock& m_clock;
    bool m_system;
};

// Turns those milliseconds into local date-times on the UI thread. The day count of
// the current second is cached and the milliseconds are added to it (offset changes
// happen on whole seconds), so a batch of events costs one conversion per second.
class LocalStamp
{
public:
    TDateTime FromMs(std::int64_t ms);

private:
    std::int64_t m_secondStartMs = -1;
    TDateTime m_secondBase = 0.0;
};

// Notices the first moment after a local midnight with one comparison per pass. Armed
// on the UI thread (which computes the boundary); after a crossing it stays quiet until
// armed again.
class DayWatch
{
public:
    explicit DayWatch(const EventStamper& stamper) : m_stamper(stamper) {}
    // The first boundary is the next local midnight after `from`.
    void Arm(const QDateTime& from);
    // Worker: true once when the clock (or an event's stamp) reaches the boundary.
    bool Due() { return DueAt(m_stamper.NowMs()); }
    bool DueAt(std::int64_t ms);

private:
    const EventStamper& m_stamper;
    std::atomic<std::int64_t> m_nextMs{INT64_MAX};
};

// Milliseconds since the epoch of the first local midnight after t.
std::int64_t NextLocalMidnightMs(const QDateTime& t);

} // namespace evtrak
