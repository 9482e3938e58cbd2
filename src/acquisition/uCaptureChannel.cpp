#include "acquisition/uCaptureChannel.h"

namespace evtrak {

namespace {
constexpr std::size_t kInitialCapacity = 4096;
}

TCaptureChannel::TCaptureChannel(std::function<void()> wake) : m_wake(std::move(wake))
{
    m_pending.events.reserve(kInitialCapacity);
}

void TCaptureChannel::Push(const StampedEvent* events, std::size_t count, bool dayChangeAfter)
{
    if (count == 0 && !dayChangeAfter)
        return;
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending.events.insert(m_pending.events.end(), events, events + count);
        if (dayChangeAfter)
            m_pending.dayChanges.push_back(m_pending.events.size());
        // One wake-up per batch: only the first push after a take posts one.
        wake = !m_wakePending;
        m_wakePending = true;
    }
    if (wake && m_wake)
        m_wake();
}

void TCaptureChannel::Take(CaptureBatch& into)
{
    into.clear();
    std::lock_guard lock(m_mutex);
    m_wakePending = false;
    // Swapping hands the worker back the capacity of the batch drained last time.
    std::swap(into, m_pending);
}

std::size_t TCaptureChannel::PendingEvents() const
{
    std::lock_guard lock(m_mutex);
    return m_pending.events.size();
}

void TChannelSink::RecordEvent(bool suffix, bool state, std::int32_t index, std::int32_t durationMs)
{
    RecordEventAged(suffix, state, index, durationMs, 0);
}

void TChannelSink::RecordEventAged(bool suffix, bool state, std::int32_t index,
                                   std::int32_t durationMs, std::int32_t ageMs)
{
    const std::int64_t ms = m_stamper.NowMs() - ageMs;
    if (m_watch != nullptr && m_watch->DueAt(ms))
        Flush(true);
    else if (m_count == m_pass.size())
        Flush();
    StampedEvent& ev = m_pass[m_count++];
    ev.Suffix = suffix;
    ev.State = state;
    ev.InputIndex = index;
    ev.DurationMs = durationMs;
    ev.Ms = ms;
}

void TChannelSink::Flush(bool dayChange)
{
    m_channel.Push(m_pass.data(), m_count, dayChange);
    m_count = 0;
}

} // namespace evtrak
