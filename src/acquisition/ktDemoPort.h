#pragma once
// A simulated parallel port whose inputs change by themselves, so that a newcomer sees
// events at once. The pattern is a pure function of a monotonic millisecond clock:
// a few data inputs pulse (from about 30 ms to a few seconds) at irregular but
// reproducible times, and a door-like status input (SELECT) opens and closes about
// every ten seconds. At rest the status byte reads 0x80 (BUSY line low), so every
// input reads inactive. Answers at both parallel bases; other ports are refused.
// Safe to use from several threads.

#include "acquisition/ktPorts.h"

#include <atomic>
#include <functional>

namespace evtrak {

class DemoPort : public PortBackend
{
public:
    using MsClock = std::function<std::int64_t()>;

    // clock: monotonic milliseconds; steady_clock when empty.
    explicit DemoPort(MsClock clock = {}, std::uint32_t seed = 0x5EEDu);

    // The simulated lines at a given time.
    static std::uint8_t DataInputsAt(std::int64_t ms, std::uint32_t seed);
    static std::uint8_t StatusAt(std::int64_t ms, std::uint32_t seed);

    QString name() const override;
    bool direct() const override { return false; }
    bool read(std::uint16_t port, int width, std::uint32_t& value) override;
    bool write(std::uint16_t port, int width, std::uint32_t value) override;
    bool serves(std::uint16_t port) const override;

private:
    bool registerByte(std::uint16_t port, std::uint8_t& byte) const;

    MsClock m_clock;
    std::uint32_t m_seed;
    std::atomic<std::uint8_t> m_data[2] = {0, 0}; // output latches, LPT1 and LPT2
    std::atomic<std::uint8_t> m_control[2] = {0x0B, 0x0B};
};

} // namespace evtrak
