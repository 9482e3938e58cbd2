#include "acquisition/uCapture.h"

#include "acquisition/uPortSelection.h"

#include <algorithm>
#include <cstdint>

namespace evtrak {

void InitChannel(InputChannel& channel, std::int32_t index, bool active, bool invert,
                 std::int32_t minDuration)
{
    channel.Index = index;
    channel.Active = active;
    channel.Invert = invert;
    channel.MinDuration = minDuration;
    channel.StartTick = 0;
    channel.Activated = false;
}

TCaptureEngine::TCaptureEngine(TickSource& ticks, EventSink& sink) : m_ticks(ticks), m_sink(sink) {}

void TCaptureEngine::ResetChannels(const TUserPrefs& prefs)
{
    for (int i = 0; i < kInputCount; ++i) {
        const auto u = static_cast<std::size_t>(i);
        InputChannel& c = m_channels[u];
        const TInputPrefs& input = prefs.Inputs[u];
        InitChannel(c, i, input.Active, input.Invert, input.MinDuration);
        c.Debounce = std::clamp(input.Debounce, 0, kMaxDebounceMs);
        c.Pending = false;
        c.LastSample = c.PreviousState;
    }
    m_stateWord = 0;
    for (const InputChannel& c : m_channels)
        PublishState(c);
}

void TCaptureEngine::PublishState(const InputChannel& channel)
{
    const auto bit = static_cast<std::uint16_t>(1u << channel.Index);
    if (channel.Active && channel.PreviousState)
        m_stateWord = static_cast<std::uint16_t>(m_stateWord | bit);
    else
        m_stateWord = static_cast<std::uint16_t>(m_stateWord & ~bit);
}

void TCaptureEngine::LoadCaptureSettings(const TUserPrefs& prefs)
{
    m_saveEdge = prefs.CaptureSaveEdge;
    m_saveDuration = prefs.CaptureSaveDuration;
    m_selection = prefs.PortBaseAddressIndex;
}

void TCaptureEngine::UpdateChannel(InputChannel& channel, bool level)
{
    if (!channel.Active)
        return;
    channel.CurrentState = channel.Invert ? !level : level;
    if (channel.Debounce > 0)
        return UpdateDebounced(channel);
    if (channel.CurrentState == channel.PreviousState)
        return;
    // The tick is read only when it matters. Durations beyond the 32-bit range of a
    // row saturate instead of coming out negative.
    std::int32_t elapsed = 0;
    if (channel.Activated) {
        const std::uint64_t ms = m_ticks.Ticks64() - channel.StartTick;
        elapsed = ms > std::uint64_t(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(ms);
    }
    if (m_saveEdge)
        m_sink.RecordEvent(true, channel.CurrentState, channel.Index, elapsed);
    if (channel.CurrentState) {
        // Read anew: the time spent recording the [ON] event is not part of the
        // activation.
        channel.StartTick = m_ticks.Ticks64();
        channel.Activated = true;
    } else {
        channel.Activated = false;
        if (m_saveDuration && !m_saveEdge && elapsed > channel.MinDuration)
            m_sink.RecordEvent(false, false, channel.Index, elapsed);
    }
    channel.PreviousState = channel.CurrentState;
    PublishState(channel);
}

// A contact that bounces flips several times before it settles. The change counts once
// the sample has held its new value for Debounce ms; it is dated from the first sample
// that differed, so the event keeps the moment the contact moved and an activation's
// length is the time between the starts of its two counted changes. A run of flips
// that settles back on the counted state is a glitch and records nothing.
void TCaptureEngine::UpdateDebounced(InputChannel& channel)
{
    const bool sample = channel.CurrentState;
    if (!channel.Pending && sample == channel.PreviousState) {
        channel.LastSample = sample;
        return; // steady: the tick is not read
    }
    const std::uint64_t now = m_ticks.Ticks64();
    if (!channel.Pending) {
        channel.Pending = true;
        channel.PendingStart = now;
        channel.LastFlip = now;
    } else if (sample != channel.LastSample) {
        channel.LastFlip = now;
    }
    channel.LastSample = sample;
    if (now - channel.LastFlip < std::uint64_t(channel.Debounce))
        return;
    channel.Pending = false;
    if (sample == channel.PreviousState)
        return;
    const auto age = static_cast<std::int32_t>(
        std::min<std::uint64_t>(now - channel.PendingStart, std::uint64_t(INT32_MAX)));
    std::int32_t elapsed = 0;
    if (channel.Activated) {
        const std::uint64_t ms = channel.PendingStart - channel.StartTick;
        elapsed = ms > std::uint64_t(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(ms);
    }
    if (m_saveEdge)
        m_sink.RecordEventAged(true, sample, channel.Index, elapsed, age);
    if (sample) {
        channel.StartTick = channel.PendingStart;
        channel.Activated = true;
    } else {
        channel.Activated = false;
        if (m_saveDuration && !m_saveEdge && elapsed > channel.MinDuration)
            m_sink.RecordEventAged(false, false, channel.Index, elapsed, age);
    }
    channel.PreviousState = sample;
    PublishState(channel);
}

void TCaptureEngine::SamplePass()
{
    if (m_port == nullptr)
        return;
    switch (GetPortKind(m_selection)) {
    case PortKind::Parallel: {
        Levels13 levels{};
        ReadLptInputs(*m_port, m_bases.Lpt, levels);
        for (std::size_t i = 0; i < levels.size(); ++i)
            UpdateChannel(m_channels[i], levels[i]);
        break;
    }
    case PortKind::Serial:
    case PortKind::Game: {
        Levels4 levels{};
        if (GetPortKind(m_selection) == PortKind::Serial)
            ReadSerialModemLines(*m_port, m_bases.Serial, levels);
        else
            ReadGamePortButtons(*m_port, m_bases.Game, levels);
        for (std::size_t i = 0; i < levels.size(); ++i)
            UpdateChannel(m_channels[i], levels[i]);
        break;
    }
    case PortKind::None:
        break;
    }
}

} // namespace evtrak
