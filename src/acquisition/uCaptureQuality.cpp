#include "acquisition/uCaptureQuality.h"

#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <ctime>

namespace evtrak {

namespace {

constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::int64_t kNsPerS = 1000000000;

std::int64_t WallMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / kNsPerMs;
}

void SleepUntil(std::int64_t deadlineNs)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadlineNs / kNsPerS);
    ts.tv_nsec = static_cast<long>(deadlineNs % kNsPerS);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

QString Grouped(double value)
{
    return QLocale(QLocale::French, QLocale::France).toString(static_cast<qlonglong>(value + 0.5));
}

} // namespace

std::int64_t MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerS + ts.tv_nsec;
}

void TCaptureQuality::Configure(std::int32_t stallThresholdMs, std::int32_t periodUs)
{
    m_periodUs = std::clamp(periodUs, 0, kMaxSamplingPeriodUs);
    m_periodNs = static_cast<std::int64_t>(m_periodUs) * 1000;
    // A paced pass comes one period after the previous one by design: that is never a
    // stall, however low the threshold was set.
    m_thresholdNs =
        stallThresholdMs > 0
            ? std::max(static_cast<std::int64_t>(stallThresholdMs) * kNsPerMs, 2 * m_periodNs)
            : 0;
    m_deadlineNs = 0;
    m_previousNs = 0;
    m_passes = 0;
    m_stalls = 0;
    m_longestNs = 0;
    m_passesOut.store(0, std::memory_order_relaxed);
    m_longestOut.store(0, std::memory_order_relaxed);
    m_stallsOut.store(0, std::memory_order_relaxed);
    for (auto& slot : m_stallSlots)
        slot.store(~std::uint64_t(0), std::memory_order_relaxed);
    m_stallsTaken = 0;
}

void TCaptureQuality::BeginPass()
{
    if (m_periodNs > 0) {
        const std::int64_t now = MonotonicNs();
        m_deadlineNs = m_deadlineNs == 0 ? now : m_deadlineNs + m_periodNs;
        if (now - m_deadlineNs > m_periodNs) {
            // More than one period late (the worker was held up): start a new grid
            // here rather than running a burst of passes to catch up.
            m_deadlineNs = now;
        } else if (m_deadlineNs > now) {
            SleepUntil(m_deadlineNs);
        }
    }
    PassAt(MonotonicNs());
}

std::int32_t TCaptureQuality::PassAt(std::int64_t nowNs)
{
    std::int32_t stallMs = 0;
    if (m_passes > 0) {
        const std::int64_t interval = nowNs - m_previousNs;
        if (interval > m_longestNs) {
            m_longestNs = interval;
            m_longestOut.store(interval, std::memory_order_relaxed);
        }
        if (m_thresholdNs > 0 && interval > m_thresholdNs) {
            stallMs = static_cast<std::int32_t>(
                std::min<std::int64_t>((interval + kNsPerMs / 2) / kNsPerMs, INT32_MAX));
            const std::uint64_t number = m_stalls++;
            m_stallSlots[number % kRing].store((number << 32) | static_cast<std::uint32_t>(stallMs),
                                               std::memory_order_relaxed);
            m_stallsOut.store(m_stalls, std::memory_order_relaxed);
        }
    }
    m_previousNs = nowNs;
    m_passesOut.store(++m_passes, std::memory_order_relaxed);
    return stallMs;
}

CaptureFigures TCaptureQuality::Figures() const
{
    CaptureFigures f;
    f.Passes = m_passesOut.load(std::memory_order_relaxed);
    f.LongestNs = m_longestOut.load(std::memory_order_relaxed);
    f.Stalls = m_stallsOut.load(std::memory_order_relaxed);
    f.States = m_states.load(std::memory_order_relaxed);
    return f;
}

std::vector<StallReport> TCaptureQuality::TakeStalls()
{
    std::vector<StallReport> out;
    const std::uint64_t count = m_stallsOut.load(std::memory_order_relaxed);
    if (count < m_stallsTaken) // reconfigured since the last call
        m_stallsTaken = 0;
    if (count - m_stallsTaken > kRing)
        m_stallsTaken = count - kRing;
    const std::int64_t now = WallMs();
    for (std::uint64_t i = m_stallsTaken; i < count; ++i) {
        const std::uint64_t v = m_stallSlots[i % kRing].load(std::memory_order_relaxed);
        const auto ahead = static_cast<std::int32_t>(static_cast<std::uint32_t>(v >> 32) -
                                                     static_cast<std::uint32_t>(i));
        if (ahead < 0 || v == ~std::uint64_t(0))
            break; // this stall's slot is not visible yet: read it at the next poll
        m_stallsTaken = i + 1;
        if (ahead > 0)
            continue; // overwritten by a newer stall: counted, not listed
        out.push_back({now, static_cast<std::int32_t>(v & 0xFFFFFFFFu)});
    }
    return out;
}

void TPassRate::Restart(std::int64_t nowNs)
{
    m_fromNs = nowNs;
    m_fromPasses = 0;
    m_rate = 0.0;
}

double TPassRate::Update(std::uint64_t passes, std::int64_t nowNs)
{
    const std::int64_t span = nowNs - m_fromNs;
    const bool first = m_rate == 0.0 && span >= 200 * kNsPerMs;
    if (span >= kNsPerS || first) {
        if (passes >= m_fromPasses)
            m_rate = double(passes - m_fromPasses) * double(kNsPerS) / double(span);
        if (span >= kNsPerS) {
            m_fromNs = nowNs;
            m_fromPasses = passes;
        }
    }
    return m_rate;
}

QString CaptureQualityStatus(bool running, double rate, std::size_t backlog)
{
    if (backlog > 0)
        return QStringLiteral("%1 en attente").arg(static_cast<qulonglong>(backlog));
    if (running)
        return QStringLiteral("%1 éch./s").arg(Grouped(rate));
    return QStringLiteral("--------");
}

QString StallText(std::int32_t lengthMs)
{
    return QStringLiteral("Interruption de l'acquisition : %1 ms").arg(lengthMs);
}

QString CaptureFiguresLine(const CaptureFigures& f, double rate)
{
    return QStringLiteral("Acquisition : %1 passes/s, plus long intervalle %2 ms, "
                          "%3 interruption(s) depuis le début")
        .arg(Grouped(rate), QString::number(double(f.LongestNs) / double(kNsPerMs), 'f', 3))
        .arg(static_cast<qulonglong>(f.Stalls));
}

} // namespace evtrak
