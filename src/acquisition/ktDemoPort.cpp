#include "acquisition/ktDemoPort.h"

#include <chrono>

namespace evtrak {

namespace {

constexpr std::uint16_t kBases[2] = {0x378, 0x278};

// One simulated line: in each slot of periodMs, at most one pulse of minMs..maxMs
// starting at a pseudo-random offset; about a quarter of the slots stay quiet.
struct Line
{
    std::int64_t periodMs;
    std::int64_t minMs;
    std::int64_t maxMs;
};

constexpr Line kDataLines[4] = {
    {1500, 30, 120},    // D0: short knocks
    {4000, 150, 800},   // D1: a push button
    {9000, 1000, 4000}, // D2: a machine cycle of a few seconds
    {700, 30, 60},      // D3: quick pulses in bursts
};
constexpr Line kDoor = {10000, 3000, 7000}; // SELECT: a door, open for a few seconds

std::uint32_t Mix(std::uint32_t seed, std::uint32_t line, std::uint64_t slot)
{
    std::uint64_t x = (std::uint64_t(seed) << 32) ^ (std::uint64_t(line) << 56) ^ slot;
    // splitmix64 finaliser
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<std::uint32_t>(x);
}

bool LineActive(const Line& line, std::uint32_t id, std::int64_t ms, std::uint32_t seed)
{
    if (ms < 0)
        ms = 0;
    const auto slot = std::uint64_t(ms / line.periodMs);
    const std::int64_t inSlot = ms % line.periodMs;
    const std::uint32_t h = Mix(seed, id, slot);
    if ((h >> 30) == 0)
        return false; // a quiet slot
    const std::int64_t length =
        line.minMs + std::int64_t(h & 0xFFFFu) % (line.maxMs - line.minMs + 1);
    const std::int64_t start = std::int64_t((h >> 16) & 0x3FFFu) % (line.periodMs - length + 1);
    return inSlot >= start && inSlot < start + length;
}

std::int64_t SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

DemoPort::DemoPort(MsClock clock, std::uint32_t seed)
    : m_clock(clock ? std::move(clock) : MsClock(SteadyMs)), m_seed(seed)
{}

std::uint8_t DemoPort::DataInputsAt(std::int64_t ms, std::uint32_t seed)
{
    std::uint8_t bits = 0;
    for (std::uint32_t i = 0; i < 4; ++i)
        if (LineActive(kDataLines[i], i, ms, seed))
            bits |= std::uint8_t(1u << i);
    return bits;
}

std::uint8_t DemoPort::StatusAt(std::int64_t ms, std::uint32_t seed)
{
    // BUSY is inverted by the port hardware: bit 7 set means the line is low.
    std::uint8_t status = 0x80;
    if (LineActive(kDoor, 8, ms, seed))
        status |= 0x10;
    return status;
}

QString DemoPort::name() const
{
    return QStringLiteral("demo");
}

bool DemoPort::serves(std::uint16_t port) const
{
    for (std::uint16_t base : kBases)
        if (port >= base && port < base + 8)
            return true;
    return false;
}

bool DemoPort::registerByte(std::uint16_t port, std::uint8_t& byte) const
{
    for (int p = 0; p < 2; ++p) {
        if (port < kBases[p] || port >= kBases[p] + 8)
            continue;
        switch (port - kBases[p]) {
        case 0:
            // Data lines as inputs read the simulated inputs, else the output latch.
            byte =
                (m_control[p].load() & 0x20u) ? DataInputsAt(m_clock(), m_seed) : m_data[p].load();
            return true;
        case 1:
            byte = StatusAt(m_clock(), m_seed);
            return true;
        case 2:
            byte = m_control[p].load();
            return true;
        default:
            byte = 0xFF; // no extended registers
            return true;
        }
    }
    return false;
}

bool DemoPort::read(std::uint16_t port, int width, std::uint32_t& value)
{
    value = 0;
    const int bytes = PortWidthBytes(width);
    if (bytes == 0 || !serves(port))
        return false;
    for (int i = bytes - 1; i >= 0; --i) {
        std::uint8_t byte = 0xFF;
        registerByte(std::uint16_t(port + i), byte);
        value = (value << 8) | byte;
    }
    return true;
}

bool DemoPort::write(std::uint16_t port, int width, std::uint32_t value)
{
    const int bytes = PortWidthBytes(width);
    if (bytes == 0 || !serves(port))
        return false;
    // A wide write also reaches the next registers, as on the real port.
    for (int i = 0; i < bytes; ++i) {
        const std::uint16_t target = std::uint16_t(port + i);
        const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
        for (int p = 0; p < 2; ++p) {
            if (target == kBases[p])
                m_data[p].store(byte);
            else if (target == kBases[p] + 2)
                m_control[p].store(byte);
        }
    }
    return true;
}

} // namespace evtrak
