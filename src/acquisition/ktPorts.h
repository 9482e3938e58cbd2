#pragma once
// Port readers and writers, and the port access layer under them.
//
// The access layer is chosen once at program start (StartPortDriver) among the
// backends that PortBackend describes: the kernel's parallel-port device (ppdev),
// direct port instructions (ioperm), a port-space device (/dev/port, or a regular file
// standing for the port space), or the built-in simulated port. Readers and writers
// follow one access rule: when direct access is allowed the backend's accesses are used
// and a refused access ends the reader with false; otherwise, when the driver is
// available, the backend is used; otherwise a read yields 0 and a write is skipped.

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace evtrak {

// Access widths.
enum PortWidthCode : int
{
    pw8 = 0,
    pw16 = 1,
    pw32 = 2
};
// Every register of the parallel, serial and game ports is 8 bits wide. A wider access
// would span the next port addresses too: a 32-bit write to the data register would
// also write the control register, and one to the control register the EPP address
// and data registers, which starts a bus cycle on a port in EPP mode.
inline constexpr int kPortWidth = pw8;

// One way of reaching the I/O port space.
class PortBackend
{
public:
    virtual ~PortBackend() = default;
    // Short name for messages ("ppdev /dev/parport0", "ioperm", "/dev/port", ...).
    virtual QString name() const = 0;
    // true: the backend executes port accesses itself (DirectIoAllowed);
    // false: it goes through a driver-like device.
    virtual bool direct() const = 0;
    // Reads `width` from port; false when the platform refuses the access.
    virtual bool read(std::uint16_t port, int width, std::uint32_t& value) = 0;
    // Writes the low `width` of value to port; false when refused.
    virtual bool write(std::uint16_t port, int width, std::uint32_t value) = 0;
    // Called on each thread that will access ports before its first access
    // (ioperm permission is per thread). Default: nothing to do.
    virtual bool prepareThread() { return true; }
    // false for a port this backend can never reach (a ppdev claim covers one port's
    // three registers); lets IsPortAccessible tell a usable LPT from another one.
    virtual bool serves(std::uint16_t port) const
    {
        (void)port;
        return true;
    }
};

// The port access state of the run.
class PortAccess
{
public:
    PortAccess() = default;
    explicit PortAccess(std::unique_ptr<PortBackend> backend);
    ~PortAccess();
    PortAccess(const PortAccess&) = delete;
    PortAccess& operator=(const PortAccess&) = delete;

    bool DirectIoAllowed() const;
    bool DriverAvailable() const;
    PortBackend* backend() const { return m_backend.get(); }
    // Port access works for the parallel port at base (DriverAvailable and served).
    bool ServesLpt(std::uint16_t base) const;
    // What is in use, or why nothing could be opened (French, one line).
    QString Description() const { return m_description; }
    void setDescription(const QString& d) { m_description = d; }
    // Without any access: why each way was refused (French, one line); else empty.
    QString Reason() const { return m_reason; }
    void setReason(const QString& r) { m_reason = r; }

    // Raw accesses (no access rule; nothing happens when no access works).
    std::uint32_t PortRead(std::uint16_t port, int width);
    void PortWrite(std::uint16_t port, int width, std::uint32_t value);

    // Access rule for one register access; false = refused by the platform.
    bool RuleRead(std::uint16_t port, int width, std::uint32_t& value);
    bool RuleWrite(std::uint16_t port, int width, std::uint32_t value);

private:
    std::unique_ptr<PortBackend> m_backend;
    bool m_direct = false;
    QString m_description;
    QString m_reason;
    std::atomic<bool> m_failureLogged{false};
    void noteFailure(std::uint16_t port, bool write);
};

using Levels13 = std::array<bool, 13>;
using Levels4 = std::array<bool, 4>;

// Readers and writers. Each returns a success flag, which callers may ignore.
bool ReadLptStatus(PortAccess& pa, std::uint16_t base, Levels13& levels); // inputs 8..12
bool ReadLptData(PortAccess& pa, std::uint16_t base, Levels13& levels);   // inputs 0..7
bool ReadLptInputs(PortAccess& pa, std::uint16_t base, Levels13& levels); // all 13
bool WriteLptControl(PortAccess& pa, std::uint16_t base, bool inputDirection, bool strobe,
                     bool autofeed, bool init, bool selectIn);
bool WriteLptData(PortAccess& pa, std::uint16_t base, std::uint8_t bits);
bool ReadSerialModemLines(PortAccess& pa, std::uint16_t base, Levels4& levels);
bool ReadGamePortButtons(PortAccess& pa, std::uint16_t address, Levels4& levels);

// Program start options for the access layer.
struct PortStartOptions
{
    QString portDevice;   // --port-device PATH: used like /dev/port
    bool demo = false;    // --demo: the built-in simulated port
    int lptSelection = 4; // PortBaseAddressIndex at start (which parport to claim)
};

// Chooses and opens the backend (or the given port device / demo port). When the
// kernel has a parallel-port device at the selected base, the port is used only under
// its exclusive ppdev claim (through the claim, or with direct instructions while the
// claim is held); a refused claim leaves no access. Direct instructions, then
// /dev/port, without a claim only where the kernel has no device at that base.
// Never fails: without any backend the state has DriverAvailable() false and
// Description() and Reason() say why.
std::unique_ptr<PortAccess> StartPortDriver(const PortStartOptions& options);
// Releases and closes the backend (end of program).
void RemovePortDriver(std::unique_ptr<PortAccess>& access);

// Number of bytes of a width code (1, 2, 4), 0 for an unknown code.
int PortWidthBytes(int width);

// Where a port error happened, for the wording of its reason.
enum class PortErrorPlace
{
    Parport,
    DirectIo,
    PortDevice
};
// Why an access path could not be opened, in French, from an errno value.
QString PortErrorReason(int err, PortErrorPlace place);

} // namespace evtrak
