#pragma once
// How well the capture samples: the pace of the passes, the longest gap between two
// passes, the stalls (gaps longer than a threshold, during which a short pulse could
// pass unseen) and the last counted state of the inputs.
//
// The worker writes everything with relaxed atomic stores; the UI thread polls. Each
// stall slot carries its own sequence number, so a slot read before its store is
// visible is recognised and read again at the next poll. Nothing here allocates on the
// worker or touches Qt there.

#include <QString>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace evtrak {

// CLOCK_MONOTONIC in nanoseconds.
std::int64_t MonotonicNs();

// The choices of the sampling period offered in the options (µs; 0: back to back).
inline constexpr std::array<std::int32_t, 8> kSamplingPeriodChoices = {0,    100,  250,  500,
                                                                       1000, 2000, 5000, 10000};
// The longest period accepted from a settings file (µs): the stop waits 500 ms at most.
inline constexpr std::int32_t kMaxSamplingPeriodUs = 100000;

struct StallReport
{
    std::int64_t WallMs = 0;   // wall clock (ms since the epoch) when it was noticed
    std::int32_t LengthMs = 0; // the gap between the two passes, rounded
};

struct CaptureFigures
{
    std::uint64_t Passes = 0;
    std::int64_t LongestNs = 0; // longest interval between two passes
    std::uint64_t Stalls = 0;
    std::uint16_t States = 0; // bit i: input i counted active
};

class TCaptureQuality
{
public:
    // UI thread, while no worker runs: stall threshold in ms (0: no detection) and
    // sampling period in µs (0: back to back; clamped to 0..kMaxSamplingPeriodUs).
    // Resets the figures.
    void Configure(std::int32_t stallThresholdMs, std::int32_t periodUs);

    // Worker, at the start of each pass: when paced, waits for the pass's absolute
    // deadline first; then measures the interval since the previous pass.
    void BeginPass();
    // The measurement alone, at a given monotonic time (tests drive it). Returns the
    // length in ms of the stall that this pass ends, or 0.
    std::int32_t PassAt(std::int64_t nowNs);
    // Worker, after each pass.
    void PublishStates(std::uint16_t word) { m_states.store(word, std::memory_order_relaxed); }

    // UI thread.
    CaptureFigures Figures() const;
    // The stalls reported since the last call, oldest first. When more than the ring
    // holds came in between, the oldest are gone but still counted in Figures().
    std::vector<StallReport> TakeStalls();
    std::int32_t PeriodUs() const { return m_periodUs; }
    std::int64_t ThresholdNs() const { return m_thresholdNs; }

private:
    static constexpr std::size_t kRing = 64;

    // Worker-only after Configure (the thread start orders the writes).
    std::int32_t m_periodUs = 0;
    std::int64_t m_periodNs = 0;
    std::int64_t m_thresholdNs = 0;
    std::int64_t m_deadlineNs = 0;
    std::int64_t m_previousNs = 0;
    std::uint64_t m_passes = 0;
    std::uint64_t m_stalls = 0;
    std::int64_t m_longestNs = 0;

    std::atomic<std::uint64_t> m_passesOut{0};
    std::atomic<std::int64_t> m_longestOut{0};
    std::atomic<std::uint64_t> m_stallsOut{0};
    std::atomic<std::uint16_t> m_states{0};
    // (stall number modulo 2^32) << 32 | length in ms
    std::array<std::atomic<std::uint64_t>, kRing> m_stallSlots{};
    std::uint64_t m_stallsTaken = 0; // UI thread
};

// Passes per second seen from the UI thread, over windows of about one second.
class TPassRate
{
public:
    void Restart(std::int64_t nowNs);
    // Returns the current rate (the first figure comes after 200 ms).
    double Update(std::uint64_t passes, std::int64_t nowNs);
    double Rate() const { return m_rate; }

private:
    std::int64_t m_fromNs = 0;
    std::uint64_t m_fromPasses = 0;
    double m_rate = 0.0;
};

// The status bar's last panel: what is waiting first (the UI is behind), then the rate
// while capturing, else the dashes.
QString CaptureQualityStatus(bool running, double rate, std::size_t backlog);
// "Interruption de l'acquisition : 35 ms".
QString StallText(std::int32_t lengthMs);
// The figures since the start on one line (headless SIGUSR1).
QString CaptureFiguresLine(const CaptureFigures& f, double rate);

} // namespace evtrak
