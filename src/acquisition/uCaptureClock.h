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
};

// CLOCK_MONOTONIC in milliseconds, truncated to 32 bits.
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
