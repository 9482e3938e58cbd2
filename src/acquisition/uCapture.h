#pragma once
// The capture engine: 13 input channels turning raw levels into events.
//
// Each sampling pass reads the selected interface once, applies each input's
// inversion, detects changes of the logical state, measures activations with the
// millisecond tick and filters short ones. Events leave through an EventSink. The
// engine copies what it reads during capture (channel settings at ResetChannels, the
// recording modes and the selection at LoadCaptureSettings), so the capture worker
// never reads the shared settings record. A pass allocates nothing.

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureClock.h"
#include "settings/uUserPrefs.h"

#include <array>
#include <cstdint>

namespace evtrak {

// One input's copy of its settings and its live state.
struct InputChannel
{
    bool Active = false;
    bool Invert = false;
    bool PreviousState = false;
    bool CurrentState = false;
    // The tick at which the input last became active, in the source's 64-bit count so
    // that an activation longer than the 32-bit range is still measured; meaningful
    // only while an activation is in progress (0 is a real tick).
    std::uint64_t StartTick = 0;
    bool Activated = false; // an activation is in progress
    std::int32_t Index = 0;
    std::int32_t MinDuration = 0;
    // Debounce: a change counts once the new state has held this long (ms, 0: at once).
    std::int32_t Debounce = 0;
    bool Pending = false;           // the sample differs from the counted state
    std::uint64_t PendingStart = 0; // tick of the first sample that differed
    std::uint64_t LastFlip = 0;     // tick of the latest change of the sample
    bool LastSample = false;        // the logical sample of the previous pass
};

// Where the engine's events go (RecordEvent of the event log, through the worker's
// ordered channel). Called on the capture worker.
class EventSink
{
public:
    virtual ~EventSink() = default;
    virtual void RecordEvent(bool suffix, bool state, std::int32_t index,
                             std::int32_t durationMs) = 0;
    // A debounced change: it started ageMs before now and is stamped then.
    virtual void RecordEventAged(bool suffix, bool state, std::int32_t index,
                                 std::int32_t durationMs, std::int32_t /*ageMs*/)
    {
        RecordEvent(suffix, state, index, durationMs);
    }
};

// Sets Index, Active, Invert, MinDuration and ends any activation; the states stay.
void InitChannel(InputChannel& channel, std::int32_t index, bool active, bool invert,
                 std::int32_t minDuration);

// The three base addresses of the selected interface (0 before the first set-up).
struct InterfaceBases
{
    std::uint16_t Lpt = 0;
    std::uint16_t Serial = 0;
    std::uint16_t Game = 0;
};

class TCaptureEngine
{
public:
    TCaptureEngine(TickSource& ticks, EventSink& sink);

    // Loads every channel from the settings (ends activations, keeps PreviousState).
    void ResetChannels(const TUserPrefs& prefs);
    // Copies CaptureSaveEdge, CaptureSaveDuration and PortBaseAddressIndex.
    void LoadCaptureSettings(const TUserPrefs& prefs);
    void SetPort(PortAccess* port) { m_port = port; }
    void SetBases(const InterfaceBases& bases) { m_bases = bases; }
    const InterfaceBases& Bases() const { return m_bases; }

    // One sample of one input; may record an event.
    void UpdateChannel(InputChannel& channel, bool level);
    // The counted logical state of every input, bit i for input i (inactive inputs 0).
    std::uint16_t StateWord() const { return m_stateWord; }
    // Reads the selected interface once and updates the channels it provides, in
    // ascending input order. Without a port, nothing is read.
    void SamplePass();

    const std::array<InputChannel, kInputCount>& Channels() const { return m_channels; }
    std::array<InputChannel, kInputCount>& Channels() { return m_channels; }
    bool SaveEdge() const { return m_saveEdge; }
    bool SaveDuration() const { return m_saveDuration; }
    int Selection() const { return m_selection; }

private:
    void UpdateDebounced(InputChannel& channel);
    void PublishState(const InputChannel& channel);

    TickSource& m_ticks;
    EventSink& m_sink;
    PortAccess* m_port = nullptr;
    InterfaceBases m_bases;
    std::array<InputChannel, kInputCount> m_channels{};
    bool m_saveEdge = false;
    bool m_saveDuration = false;
    int m_selection = -1;
    std::uint16_t m_stateWord = 0;
};

// The longest debounce an input may have (ms).
inline constexpr std::int32_t kMaxDebounceMs = 1000;

} // namespace evtrak
