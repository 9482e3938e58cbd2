#include "acquisition/uCapture.h"

#include "acquisition/uPortSelection.h"

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
        InitChannel(m_channels[u], i, prefs.LogEventActive[u], prefs.LogEventInvert[u],
                    prefs.LogEventMinDuration[u]);
    }
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
