#include "acquisition/ktPorts.h"

#include "acquisition/ktPortsLog.h"

namespace evtrak {

Q_LOGGING_CATEGORY(lcPorts, "evtrak.ports")

namespace {

std::uint32_t MaskToWidth(std::uint32_t value, int width)
{
    switch (width) {
    case pw8:
        return value & 0xFFu;
    case pw16:
        return value & 0xFFFFu;
    default:
        return value;
    }
}

} // namespace

int PortWidthBytes(int width)
{
    switch (width) {
    case pw8:
        return 1;
    case pw16:
        return 2;
    case pw32:
        return 4;
    default:
        return 0;
    }
}

PortAccess::PortAccess(std::unique_ptr<PortBackend> backend)
    : m_backend(std::move(backend)), m_direct(m_backend && m_backend->direct())
{}

PortAccess::~PortAccess() = default;

bool PortAccess::DirectIoAllowed() const
{
    return m_direct;
}

bool PortAccess::DriverAvailable() const
{
    return m_backend != nullptr;
}

bool PortAccess::ServesLpt(std::uint16_t base) const
{
    return m_backend && m_backend->serves(base) && m_backend->serves(base + 1) &&
           m_backend->serves(base + 2);
}

void PortAccess::noteFailure(std::uint16_t port, bool write)
{
    // A refused access repeats at every pass: say it once per run.
    if (!m_failureLogged.exchange(true, std::memory_order_relaxed))
        qCWarning(lcPorts, "%s of port 0x%X refused by %s", write ? "write" : "read",
                  unsigned(port), qPrintable(m_backend->name()));
}

std::uint32_t PortAccess::PortRead(std::uint16_t port, int width)
{
    std::uint32_t value = 0;
    if (!RuleRead(port, width, value))
        return 0;
    return value;
}

void PortAccess::PortWrite(std::uint16_t port, int width, std::uint32_t value)
{
    RuleWrite(port, width, value);
}

// Without any access a read gives 0 and a write is skipped, both without complaint.
// A backend that fails an access (the platform refusing an instruction, a device
// request failing) ends the reader with false and the value read is 0.
bool PortAccess::RuleRead(std::uint16_t port, int width, std::uint32_t& value)
{
    value = 0;
    if (PortWidthBytes(width) == 0)
        return false;
    if (!m_backend)
        return true;
    std::uint32_t v = 0;
    if (!m_backend->read(port, width, v)) {
        noteFailure(port, false);
        return false;
    }
    value = MaskToWidth(v, width);
    return true;
}

bool PortAccess::RuleWrite(std::uint16_t port, int width, std::uint32_t value)
{
    if (PortWidthBytes(width) == 0)
        return false;
    if (!m_backend)
        return true;
    if (!m_backend->write(port, width, MaskToWidth(value, width))) {
        noteFailure(port, true);
        return false;
    }
    return true;
}

bool ReadLptStatus(PortAccess& pa, std::uint16_t base, Levels13& levels)
{
    for (int i = 8; i <= 12; ++i)
        levels[i] = false;
    std::uint32_t v = 0;
    if (!pa.RuleRead(std::uint16_t(base + 1), kPortWidth, v))
        return false;
    levels[8] = (v & 0x80u) == 0;  // the port hardware inverts BUSY
    levels[9] = (v & 0x40u) != 0;  // ACK
    levels[10] = (v & 0x20u) != 0; // PAPER END
    levels[11] = (v & 0x10u) != 0; // SELECT
    levels[12] = (v & 0x08u) != 0; // ERROR
    return true;
}

bool WriteLptControl(PortAccess& pa, std::uint16_t base, bool inputDirection, bool strobe,
                     bool autofeed, bool init, bool selectIn)
{
    // The port hardware inverts STROBE, AUTOFEED and SELECT-IN, not INIT.
    std::uint32_t v = 0;
    if (!strobe)
        v |= 0x01u;
    if (!autofeed)
        v |= 0x02u;
    if (init)
        v |= 0x04u;
    if (!selectIn)
        v |= 0x08u;
    if (inputDirection)
        v |= 0x20u;
    return pa.RuleWrite(std::uint16_t(base + 2), kPortWidth, v);
}

bool ReadLptData(PortAccess& pa, std::uint16_t base, Levels13& levels)
{
    if (!WriteLptControl(pa, base, true, false, false, false, false))
        return false;
    for (int i = 0; i <= 7; ++i)
        levels[i] = false;
    std::uint32_t v = 0;
    if (!pa.RuleRead(base, kPortWidth, v))
        return false; // the data lines stay in the input direction
    for (int i = 0; i <= 7; ++i)
        levels[i] = (v >> i) & 1u;
    return WriteLptControl(pa, base, false, false, false, false, false);
}

bool ReadLptInputs(PortAccess& pa, std::uint16_t base, Levels13& levels)
{
    // Each step reads what it can: a refused status read still lets the data lines be
    // read.
    bool ok = ReadLptStatus(pa, base, levels);
    ok = WriteLptControl(pa, base, true, false, false, false, false) && ok;
    ok = ReadLptData(pa, base, levels) && ok;
    return ok;
}

bool WriteLptData(PortAccess& pa, std::uint16_t base, std::uint8_t bits)
{
    return pa.RuleWrite(base, kPortWidth, bits);
}

bool ReadSerialModemLines(PortAccess& pa, std::uint16_t base, Levels4& levels)
{
    std::uint32_t v = 0;
    if (!pa.RuleRead(std::uint16_t(base + 6), kPortWidth, v))
        return false;
    levels[0] = (v & 0x10u) != 0; // CTS
    levels[1] = (v & 0x20u) != 0; // DSR
    levels[2] = (v & 0x40u) != 0; // RI
    levels[3] = (v & 0x80u) != 0; // DCD
    return true;
}

bool ReadGamePortButtons(PortAccess& pa, std::uint16_t address, Levels4& levels)
{
    // The game port is only ever read by the program's own instruction.
    if (!pa.DirectIoAllowed())
        return false;
    std::uint32_t v = 0;
    if (!pa.RuleRead(address, pw8, v))
        return false;
    // A pressed button reads 0.
    for (int i = 0; i < 4; ++i)
        levels[i] = (v & (0x10u << i)) == 0;
    return true;
}

} // namespace evtrak
