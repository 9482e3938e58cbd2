#pragma once
// Direct port instructions (in/out) once ioperm has granted the registers: x86 Linux
// only, with CAP_SYS_RAWIO and no kernel lockdown. The permission belongs to a
// thread, so every thread that accesses ports calls prepareThread first.

#include "acquisition/ktPorts.h"

#include <memory>
#include <vector>

namespace evtrak {

struct PortRange
{
    std::uint16_t from;
    std::uint16_t count;
};

class DirectIoPort : public PortBackend
{
public:
    // The registers granted: the data, status and control registers of the parallel
    // port at lptBase (only that one: the other may belong to a kernel driver), the four
    // serial ports and the game port.
    static std::vector<PortRange> DefaultRanges(std::uint16_t lptBase = 0x378);
    // Whether this build can execute port instructions at all.
    static bool Supported();

    explicit DirectIoPort(std::vector<PortRange> ranges);
    ~DirectIoPort() override;

    // Asks ioperm for the ranges in the calling thread; false with error() on refusal.
    bool open();
    int error() const { return m_error; }
    // A ppdev claim held alongside keeps the other drivers off the port.
    void keepClaim(std::unique_ptr<PortBackend> claim) { m_claim = std::move(claim); }
    PortBackend* claim() const { return m_claim.get(); }

    QString name() const override;
    bool direct() const override { return true; }
    bool read(std::uint16_t port, int width, std::uint32_t& value) override;
    bool write(std::uint16_t port, int width, std::uint32_t value) override;
    bool prepareThread() override;
    bool serves(std::uint16_t port) const override;

private:
    bool granted(std::uint16_t port, int bytes) const;
    int grant() const; // 0 or errno

    std::vector<PortRange> m_ranges;
    int m_error = 0;
    bool m_open = false;
    std::unique_ptr<PortBackend> m_claim;
};

} // namespace evtrak
