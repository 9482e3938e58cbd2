#include "acquisition/ktPortDevice.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace evtrak {

namespace {

// The input bytes of LPT1 and LPT2 (data and status registers).
bool IsInputByte(unsigned port)
{
    return port == 0x378 || port == 0x379 || port == 0x278 || port == 0x279;
}

} // namespace

PortDeviceFile::PortDeviceFile(QString path) : m_path(std::move(path)) {}

PortDeviceFile::~PortDeviceFile()
{
    close();
}

bool PortDeviceFile::open()
{
    close();
    m_error = 0;
    m_refusal.clear();
    // O_NONBLOCK: a FIFO or a terminal named by mistake must not hold the start-up.
    const int fd =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        m_error = errno;
        ::close(fd);
        return false;
    }
    m_regularFile = S_ISREG(st.st_mode);
    m_fileSize = st.st_size;
    if (!m_regularFile && !S_ISCHR(st.st_mode))
        m_refusal = QStringLiteral("ni un fichier ordinaire ni un périphérique de port");
    else if (m_regularFile && m_fileSize < m_requiredSize)
        m_refusal = QStringLiteral("fichier de %1 octets, trop court pour les registres du port "
                                   "(%2 octets au moins ; il n'est pas agrandi)")
                        .arg(m_fileSize)
                        .arg(m_requiredSize);
    if (!m_refusal.isEmpty()) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void PortDeviceFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool PortDeviceFile::serves(std::uint16_t port) const
{
    if (m_onlyLpt == 0)
        return true;
    for (std::uint16_t lpt : {std::uint16_t(0x378), std::uint16_t(0x278)})
        if (lpt != m_onlyLpt && port >= lpt && port <= lpt + 2)
            return false;
    return true;
}

bool PortDeviceFile::read(std::uint16_t port, int width, std::uint32_t& value)
{
    value = 0;
    const int bytes = PortWidthBytes(width);
    if (m_fd < 0 || bytes == 0 || !serves(port))
        return false;
    unsigned char buffer[4] = {0, 0, 0, 0};
    ssize_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::pread(m_fd, buffer + got, size_t(bytes - got), off_t(port) + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break; // past the end of a short file: the remaining bytes read 0
        got += n;
    }
    // Low byte first, as the port space is laid out.
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | buffer[i];
    return true;
}

bool PortDeviceFile::writeRun(qint64 offset, const unsigned char* bytes, int count)
{
    int done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(m_fd, bytes + done, size_t(count - done), off_t(offset) + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

bool PortDeviceFile::write(std::uint16_t port, int width, std::uint32_t value)
{
    const int bytes = PortWidthBytes(width);
    if (m_fd < 0 || bytes == 0 || !serves(port))
        return false;
    unsigned char buffer[4];
    for (int i = 0; i < bytes; ++i)
        buffer[i] = static_cast<unsigned char>(value >> (8 * i));
    if (!m_regularFile)
        return writeRun(port, buffer, bytes);
    if (qint64(port) + bytes > m_fileSize)
        return false; // the file is never grown
    // Write the runs of bytes between input bytes.
    int i = 0;
    while (i < bytes) {
        if (IsInputByte(unsigned(port) + unsigned(i))) {
            ++i;
            continue;
        }
        int end = i + 1;
        while (end < bytes && !IsInputByte(unsigned(port) + unsigned(end)))
            ++end;
        if (!writeRun(qint64(port) + i, buffer + i, end - i))
            return false;
        i = end;
    }
    return true;
}

} // namespace evtrak
