#pragma once
// A port-space device: /dev/port, or any file where byte N stands for port N (a
// regular file of 64 KiB lets tests and users drive the inputs by writing bytes into
// it). An access of w bytes is a read or write of w bytes at offset = port, low byte
// first; reads beyond the end of a shorter file give 0 bytes.
//
// In a regular file the data and status bytes of the parallel ports hold the input
// lines that someone drives from outside: writes leave them alone, as the hardware
// keeps its input lines apart from its output latch and ignores status writes.
// Without this, the write that drives the data lines to 0 at set-up would wipe the
// inputs written into the file.
//
// Only a regular file or a character device can stand for the port space. A regular file
// must already hold the registers the program touches: it is never grown, and a write
// past its end is refused.

#include "acquisition/ktPorts.h"

namespace evtrak {

class PortDeviceFile : public PortBackend
{
public:
    static constexpr qint64 kPortSpaceSize = 65536;

    explicit PortDeviceFile(QString path);
    ~PortDeviceFile() override;
    PortDeviceFile(const PortDeviceFile&) = delete;
    PortDeviceFile& operator=(const PortDeviceFile&) = delete;

    // Opens read-write; false on failure, with error() (errno) or, for a file that
    // cannot stand for the port space, refusal() (French).
    bool open();
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int error() const { return m_error; }
    const QString& refusal() const { return m_refusal; }
    // A regular file shorter than size bytes is refused at open (0: any size).
    void requireSize(qint64 size) { m_requiredSize = size; }
    QString path() const { return m_path; }

    QString name() const override { return m_path; }
    bool direct() const override { return false; }
    bool read(std::uint16_t port, int width, std::uint32_t& value) override;
    bool write(std::uint16_t port, int width, std::uint32_t value) override;
    // Of the two parallel ports, only the one at base is served (the other one may
    // belong to a kernel driver).
    void limitToLpt(std::uint16_t base) { m_onlyLpt = base; }
    bool serves(std::uint16_t port) const override;

private:
    QString m_path;
    std::uint16_t m_onlyLpt = 0;
    bool writeRun(qint64 offset, const unsigned char* bytes, int count);

    int m_fd = -1;
    int m_error = 0;
    QString m_refusal;
    qint64 m_requiredSize = 0;
    bool m_regularFile = false;
    qint64 m_fileSize = 0; // of a regular file, as opened
};

} // namespace evtrak
