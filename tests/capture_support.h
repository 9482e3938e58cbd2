#pragma once
// Fakes for the capture tests: ports the test drives, a tick the test sets, a sink
// that keeps every event.

#include "acquisition/ktPorts.h"
#include "acquisition/uCapture.h"
#include "acquisition/uCaptureClock.h"

#include <QStringList>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace evtrak::test {

// A port space of bytes the test writes and the worker reads (through /dev/port-like
// accesses).
class MemoryPort : public PortBackend
{
public:
    QString name() const override { return QStringLiteral("memory"); }
    bool direct() const override { return false; }
    bool read(std::uint16_t port, int width, std::uint32_t& value) override
    {
        value = 0;
        const int bytes = PortWidthBytes(width);
        for (int i = 0; i < bytes; ++i)
            value |= std::uint32_t(byteAt(std::uint16_t(port + i))) << (8 * i);
        onRead(port);
        return true;
    }
    bool write(std::uint16_t port, int width, std::uint32_t value) override
    {
        const int bytes = PortWidthBytes(width);
        for (int i = 0; i < bytes; ++i) {
            const auto at = std::uint16_t(port + i);
            // The status registers are read-only, as on the hardware: a 32-bit write to
            // the data register does not reach them.
            if (at != 0x379 && at != 0x279)
                m_bytes[at].store(std::uint8_t(value >> (8 * i)));
        }
        return true;
    }
    void set(std::uint16_t port, std::uint8_t value) { m_bytes[port].store(value); }
    std::uint8_t byteAt(std::uint16_t port) const { return m_bytes[port].load(); }

protected:
    virtual void onRead(std::uint16_t) {}

private:
    std::array<std::atomic<std::uint8_t>, 65536> m_bytes{};
};

// The samples of one line as a test writes them: "1@100,0@0x101" is level 1 at tick
// 100, then level 0 at tick 0x101.
struct Sample
{
    bool level;
    std::uint32_t tick;
};
inline std::vector<Sample> Samples(const QString& text)
{
    std::vector<Sample> out;
    for (const QString& s : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = s.split(QLatin1Char('@'));
        out.push_back({parts[0] == QLatin1String("1"), parts[1].toUInt(nullptr, 0)});
    }
    return out;
}

// An event's kind as the tests write it: "ON", "OFF", or "D" for a duration event.
inline QString EventKind(bool suffix, bool state)
{
    return !suffix ? QStringLiteral("D") : state ? QStringLiteral("ON") : QStringLiteral("OFF");
}

// Status byte with BUSY high: inputs 8..12 all inactive.
inline constexpr std::uint8_t kIdleStatus = 0x80;

// Every read of the LPT1 data register flips the data byte between 0x00 and `mask`:
// the selected inputs change at every pass. Optionally stops flipping after `limit`
// flips (the inputs then stay still).
class TogglingPort : public MemoryPort
{
public:
    explicit TogglingPort(std::uint8_t mask, std::uint64_t limit = UINT64_MAX)
        : m_mask(mask), m_limit(limit)
    {
        set(0x379, kIdleStatus);
    }
    std::uint64_t flips() const { return m_flips.load(); }

protected:
    void onRead(std::uint16_t port) override
    {
        if (port != 0x378 || m_flips.load() >= m_limit)
            return;
        set(0x378, std::uint8_t(byteAt(0x378) ^ m_mask));
        m_flips.fetch_add(1);
    }

private:
    std::uint8_t m_mask;
    std::uint64_t m_limit;
    std::atomic<std::uint64_t> m_flips{0};
};

// A port whose status read blocks while the test holds it: a pass that never ends.
class BlockingPort : public MemoryPort
{
public:
    BlockingPort() { set(0x379, kIdleStatus); }
    void hold()
    {
        std::lock_guard lock(m_mutex);
        m_held = true;
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_cv.notify_all();
    }
    bool blocking() const { return m_blocking.load(); }

protected:
    void onRead(std::uint16_t port) override
    {
        if (port != 0x379)
            return;
        std::unique_lock lock(m_mutex);
        m_blocking.store(m_held);
        m_cv.wait(lock, [this] { return !m_held; });
        m_blocking.store(false);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
    std::atomic<bool> m_blocking{false};
};

class FakeTicks : public TickSource
{
public:
    std::uint32_t Ticks() override { return now.load(); }
    std::atomic<std::uint32_t> now{1000};
};

struct SinkEvent
{
    bool suffix;
    bool state;
    std::int32_t index;
    std::int32_t duration;
    friend bool operator==(const SinkEvent&, const SinkEvent&) = default;
};

// Keeps every event; optionally advances the tick by the time a record takes.
class RecordingSink : public EventSink
{
public:
    explicit RecordingSink(FakeTicks* ticks = nullptr, std::uint32_t costMs = 0)
        : m_ticks(ticks), m_cost(costMs)
    {}
    void RecordEvent(bool suffix, bool state, std::int32_t index, std::int32_t duration) override
    {
        events.push_back({suffix, state, index, duration});
        if (m_ticks != nullptr)
            m_ticks->now += m_cost;
    }
    std::vector<SinkEvent> events;

private:
    FakeTicks* m_ticks;
    std::uint32_t m_cost;
};

} // namespace evtrak::test
