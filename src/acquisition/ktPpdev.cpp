#include "acquisition/ktPpdev.h"

#include "acquisition/ktPortsLog.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>

#include <linux/ppdev.h> // uses the macros of sys/ioctl.h
#include <unistd.h>

namespace evtrak {

namespace {

class SystemIo : public PpdevIo
{
public:
    int open(const QString& path) override
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }
    int ioctl(int fd, unsigned long request, void* arg) override
    {
        const int r = ::ioctl(fd, request, arg);
        return r >= 0 ? r : -errno;
    }
    int close(int fd) override { return ::close(fd) == 0 ? 0 : -errno; }
    std::optional<QByteArray> readText(const QString& path) override
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        return f.read(4096);
    }
    QStringList listDir(const QString& path) override
    {
        return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    }
};

} // namespace

std::shared_ptr<PpdevIo> SystemPpdevIo()
{
    return std::make_shared<SystemIo>();
}

ParportLookup FindParport(PpdevIo& io, std::uint16_t base, const QString& procRoot)
{
    ParportLookup found;
    bool anyPort = false;
    // base-addr holds the base and the ECP base in decimal: "888\t1912".
    for (const QString& port : io.listDir(procRoot)) {
        if (!port.startsWith(QLatin1String("parport")))
            continue;
        const auto text =
            io.readText(procRoot + QLatin1Char('/') + port + QStringLiteral("/base-addr"));
        if (!text)
            continue;
        anyPort = true;
        const QList<QByteArray> fields = text->simplified().split(' ');
        bool ok = false;
        if (!fields.isEmpty() && fields.first().toUInt(&ok) == base && ok) {
            found.device = QStringLiteral("/dev/") + port;
            found.listed = true;
            return found;
        }
    }
    if (!anyPort)
        found.device =
            base == 0x278 ? QStringLiteral("/dev/parport1") : QStringLiteral("/dev/parport0");
    return found;
}

QString FindParportDevice(PpdevIo& io, std::uint16_t base)
{
    return FindParport(io, base).device;
}

PpdevPort::PpdevPort(std::shared_ptr<PpdevIo> io, QString device, std::uint16_t base,
                     QString procRoot)
    : m_io(std::move(io)), m_device(std::move(device)), m_base(base),
      m_procRoot(std::move(procRoot))
{}

PpdevPort::~PpdevPort()
{
    close();
}

QString PpdevPort::name() const
{
    return QStringLiteral("ppdev ") + m_device;
}

bool PpdevPort::heldElsewhere() const
{
    return m_claimRefused;
}

void PpdevPort::fail(int err)
{
    m_error = err;
    m_reason = PortErrorReason(err, PortErrorPlace::Parport);
    if (err != ENXIO && err != EBUSY)
        return;
    // Say who holds the port, or that there is no port behind the device.
    const QString port = m_device.section(QLatin1Char('/'), -1);
    const QString dir = m_procRoot + QLatin1Char('/') + port;
    if (!m_io->readText(dir + QStringLiteral("/base-addr"))) {
        m_reason = QStringLiteral("aucun port parallèle derrière ce périphérique");
        return;
    }
    // The device using the port now, else the ones registered on it (lp registers
    // itself on every port it finds and refuses exclusive users even while idle).
    QString holder;
    if (const auto active = m_io->readText(dir + QStringLiteral("/devices/active")))
        holder = QString::fromLocal8Bit(active->trimmed());
    if (holder.isEmpty() || holder == QLatin1String("none")) {
        QStringList holders = m_io->listDir(dir + QStringLiteral("/devices"));
        holders.removeAll(QStringLiteral("active"));
        holder = holders.join(QStringLiteral(", "));
    }
    if (holder.isEmpty())
        return;
    // Another process's claim through the same device driver shows as "ppdevN".
    if (holder.startsWith(QLatin1String("ppdev")))
        m_reason = QStringLiteral("port tenu par un autre programme (%1)").arg(holder);
    else
        m_reason = QStringLiteral("port tenu par un autre pilote (%1)").arg(holder);
}

bool PpdevPort::open()
{
    close();
    m_error = 0;
    m_reason.clear();
    m_claimRefused = false;
    const int fd = m_io->open(m_device);
    if (fd < 0) {
        fail(-fd);
        return false;
    }
    // Exclusive first: the claim is then refused at once rather than left waiting for
    // another driver to let go.
    int r = m_io->ioctl(fd, PPEXCL, nullptr);
    if (r >= 0)
        r = m_io->ioctl(fd, PPCLAIM, nullptr);
    if (r < 0) {
        m_io->close(fd);
        fail(-r);
        m_claimRefused = -r == ENXIO || -r == EBUSY;
        return false;
    }
    m_fd = fd;
    m_dataInput.reset();
    return true;
}

void PpdevPort::close()
{
    if (m_fd < 0)
        return;
    // Hand the port back with its data lines driven, as a printer driver expects it.
    if (m_dataInput.value_or(false)) {
        int reverse = 0;
        m_io->ioctl(m_fd, PPDATADIR, &reverse);
    }
    m_io->ioctl(m_fd, PPRELEASE, nullptr);
    m_io->close(m_fd);
    m_fd = -1;
    m_dataInput.reset();
}

bool PpdevPort::serves(std::uint16_t port) const
{
    return port >= m_base && port - m_base <= 2;
}

bool PpdevPort::read(std::uint16_t port, int width, std::uint32_t& value)
{
    (void)width; // the registers are 8 bits wide; a wider read gives the register alone
    value = 0;
    if (!serves(port))
        return false;
    unsigned long request = 0;
    switch (port - m_base) {
    case 0:
        request = PPRDATA;
        break;
    case 1:
        request = PPRSTATUS;
        break;
    default:
        request = PPRCONTROL;
        break;
    }
    if (m_fd < 0)
        return false;
    unsigned char byte = 0;
    if (m_io->ioctl(m_fd, request, &byte) < 0)
        return false;
    value = byte;
    return true;
}

bool PpdevPort::setDirection(bool input)
{
    if (m_dataInput == input)
        return true;
    int reverse = input ? 1 : 0;
    if (m_io->ioctl(m_fd, PPDATADIR, &reverse) < 0) {
        m_dataInput.reset(); // unknown now: ask again next time
        return false;
    }
    m_dataInput = input;
    return true;
}

bool PpdevPort::write(std::uint16_t port, int width, std::uint32_t value)
{
    (void)width; // only the addressed 8-bit register is written
    if (!serves(port))
        return false;
    if (m_fd < 0)
        return false;
    switch (port - m_base) {
    case 0: {
        unsigned char byte = static_cast<unsigned char>(value & 0xFFu);
        return m_io->ioctl(m_fd, PPWDATA, &byte) >= 0;
    }
    case 2: {
        if (!setDirection((value & 0x20u) != 0))
            return false;
        unsigned char byte = static_cast<unsigned char>(value & 0xDFu);
        return m_io->ioctl(m_fd, PPWCONTROL, &byte) >= 0;
    }
    default:
        return false; // the status register can't be written
    }
}

} // namespace evtrak
