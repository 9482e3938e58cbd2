#include "acquisition/ktDirectIo.h"

#include <cerrno>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#define EVTRAK_HAVE_PORT_IO 1
#include <sys/io.h>
#else
#define EVTRAK_HAVE_PORT_IO 0
#endif

namespace evtrak {

std::vector<PortRange> DirectIoPort::DefaultRanges(std::uint16_t lptBase)
{
    return {{lptBase, 3}, {0x3F8, 8}, {0x2F8, 8}, {0x3E8, 8}, {0x2E8, 8}, {0x201, 1}};
}

bool DirectIoPort::Supported()
{
    return EVTRAK_HAVE_PORT_IO != 0;
}

DirectIoPort::DirectIoPort(std::vector<PortRange> ranges) : m_ranges(std::move(ranges)) {}

DirectIoPort::~DirectIoPort()
{
#if EVTRAK_HAVE_PORT_IO
    if (m_open)
        for (const PortRange& r : m_ranges)
            ioperm(r.from, r.count, 0);
#endif
}

QString DirectIoPort::name() const
{
    return QStringLiteral("ioperm");
}

int DirectIoPort::grant() const
{
#if EVTRAK_HAVE_PORT_IO
    for (const PortRange& r : m_ranges)
        if (ioperm(r.from, r.count, 1) != 0)
            return errno;
    return 0;
#else
    return ENOSYS;
#endif
}

bool DirectIoPort::open()
{
    m_error = grant();
    m_open = m_error == 0;
    return m_open;
}

// Runs on the capture worker: changes nothing the UI thread reads.
bool DirectIoPort::prepareThread()
{
    return m_open && grant() == 0;
}

bool DirectIoPort::granted(std::uint16_t port, int bytes) const
{
    // A wide access also touches the next ports: all of them must have been granted,
    // otherwise the processor faults.
    for (const PortRange& r : m_ranges)
        if (port >= r.from && unsigned(port) + unsigned(bytes) <= unsigned(r.from) + r.count)
            return true;
    return false;
}

bool DirectIoPort::serves(std::uint16_t port) const
{
    return m_open && granted(port, 1);
}

bool DirectIoPort::read(std::uint16_t port, int width, std::uint32_t& value)
{
    value = 0;
    const int bytes = PortWidthBytes(width);
    if (!m_open || bytes == 0 || !granted(port, bytes))
        return false;
#if EVTRAK_HAVE_PORT_IO
    switch (width) {
    case pw8:
        value = inb(port);
        break;
    case pw16:
        value = inw(port);
        break;
    default:
        value = inl(port);
        break;
    }
    return true;
#else
    return false;
#endif
}

bool DirectIoPort::write(std::uint16_t port, int width, std::uint32_t value)
{
    const int bytes = PortWidthBytes(width);
    if (!m_open || bytes == 0 || !granted(port, bytes))
        return false;
#if EVTRAK_HAVE_PORT_IO
    switch (width) {
    case pw8:
        outb(static_cast<unsigned char>(value), port);
        break;
    case pw16:
        outw(static_cast<unsigned short>(value), port);
        break;
    default:
        outl(value, port);
        break;
    }
    return true;
#else
    (void)value;
    return false;
#endif
}

} // namespace evtrak
