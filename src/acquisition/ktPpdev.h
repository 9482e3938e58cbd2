#pragma once
// The kernel's parallel-port device (/dev/parportN, ppdev).
//
// The port is opened, claimed exclusively (PPEXCL then PPCLAIM) and held for the whole
// run so that no other kernel driver touches it. PPEXCL makes the kernel refuse the
// claim at once (ENXIO) when another driver such as lp is registered on the port,
// instead of letting PPCLAIM wait until that driver lets go: the claim never blocks.
//
// One thread at a time uses the port: the UI thread sets it up while no capture worker
// lives, the worker samples it, and it is closed only once the worker has been joined.
// No lock is taken per request: each one is a system call already, and the sampling
// rate is bounded by them.
//
// Register offsets 0, 1 and 2 from the port's base map to the data, status and control
// requests. The data direction (control bit 5) can't be written through the control
// request (the kernel logs a message at every such call and never switches back), so it
// is sent with PPDATADIR, only when it changes, and kept here since it can't be read
// back.

#include "acquisition/ktPorts.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace evtrak {

// The system calls the ppdev backend makes; tests put a fake in their place.
// Every call returns a value >= 0 on success or -errno on failure.
class PpdevIo
{
public:
    virtual ~PpdevIo() = default;
    virtual int open(const QString& path) = 0; // read-write, close-on-exec
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int close(int fd) = 0;
    // Contents of a small text file (procfs); nullopt when it can't be read.
    virtual std::optional<QByteArray> readText(const QString& path) = 0;
    // Entries of a directory (procfs), without "." and "..".
    virtual QStringList listDir(const QString& path) = 0;
};

// The real system calls.
std::shared_ptr<PpdevIo> SystemPpdevIo();

// Where the kernel describes its parallel ports (one folder per port, "parportN").
inline const QString kProcParport = QStringLiteral("/proc/sys/dev/parport");

// The kernel's parallel-port device for a base address.
struct ParportLookup
{
    QString device;      // the /dev/parportN to claim; empty when the kernel has none there
    bool listed = false; // the kernel lists a port at that base: only a claim may use it
};

// The parport whose base-addr under procRoot matches. When the kernel lists no parport
// at all (no parport support, or no procfs), the device is guessed by number:
// parport0 for 0x378, parport1 for 0x278 (any other base: parport0). When it lists
// parports but none at that base, there is no device (another number would be another
// port).
ParportLookup FindParport(PpdevIo& io, std::uint16_t base, const QString& procRoot = kProcParport);
QString FindParportDevice(PpdevIo& io, std::uint16_t base);

class PpdevPort : public PortBackend
{
public:
    PpdevPort(std::shared_ptr<PpdevIo> io, QString device, std::uint16_t base,
              QString procRoot = kProcParport);
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    // Opens and claims the port; on failure error() and reason() say why.
    bool open();
    // Puts the data lines back to output, releases the claim and closes (idempotent).
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int error() const { return m_error; }
    QString reason() const { return m_reason; }
    // The device opened but the claim was refused: something else holds the port.
    bool heldElsewhere() const;
    QString device() const { return m_device; }
    std::uint16_t base() const { return m_base; }

    QString name() const override;
    bool direct() const override { return false; }
    bool read(std::uint16_t port, int width, std::uint32_t& value) override;
    bool write(std::uint16_t port, int width, std::uint32_t value) override;
    bool serves(std::uint16_t port) const override;

private:
    bool setDirection(bool input);
    void fail(int err);

    std::shared_ptr<PpdevIo> m_io;
    QString m_device;
    std::uint16_t m_base;
    QString m_procRoot;
    int m_fd = -1;
    int m_error = 0;
    bool m_claimRefused = false;
    QString m_reason;
    std::optional<bool> m_dataInput; // unknown until the first direction request
};

} // namespace evtrak
