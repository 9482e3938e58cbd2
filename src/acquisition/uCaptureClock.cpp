#include "acquisition/uCaptureClock.h"

#include <ctime>

namespace evtrak {

namespace {

class MonotonicTickSource : public TickSource
{
public:
    std::uint32_t Ticks() override { return static_cast<std::uint32_t>(Ticks64()); }
    std::uint64_t Ticks64() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
               static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    }
};

std::int64_t RealtimeMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

constexpr double kMsPerDay = 86400000.0;

} // namespace

TickSource& MonotonicTicks()
{
    static MonotonicTickSource source;
    return source;
}

EventStamper::EventStamper(const Clock& clock) : m_clock(clock), m_system(&clock == &SystemClock())
{}

std::int64_t EventStamper::NowMs() const
{
    return m_system ? RealtimeMs() : m_clock.now().toMSecsSinceEpoch();
}

TDateTime LocalStamp::FromMs(std::int64_t ms)
{
    const std::int64_t second = ms - ((ms % 1000) + 1000) % 1000;
    if (second != m_secondStartMs) {
        m_secondStartMs = second;
        m_secondBase = DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(second));
    }
    return m_secondBase + static_cast<double>(ms - second) / kMsPerDay;
}

std::int64_t NextLocalMidnightMs(const QDateTime& t)
{
    const QDateTime local = t.toLocalTime();
    return QDateTime(local.date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
}

void DayWatch::Arm(const QDateTime& from)
{
    m_nextMs.store(from.isValid() ? NextLocalMidnightMs(from) : INT64_MAX,
                   std::memory_order_relaxed);
}

bool DayWatch::DueAt(std::int64_t ms)
{
    if (ms < m_nextMs.load(std::memory_order_relaxed))
        return false;
    m_nextMs.store(INT64_MAX, std::memory_order_relaxed);
    return true;
}

} // namespace evtrak
