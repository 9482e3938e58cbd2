#include "eventlog/uMqttOutbox.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace evtrak {

namespace {

constexpr char kHeader[] = "EVTRAK-MQTT-OUTBOX 1\n";

// The payload's CRC-16 as four lower-case hex digits.
void AppendCrc(QByteArray& out, const QByteArray& payload)
{
    static const char hex[] = "0123456789abcdef";
    const quint16 crc = qChecksum(payload, Qt::ChecksumIso3309);
    const char text[4] = {hex[crc >> 12], hex[(crc >> 8) & 15], hex[(crc >> 4) & 15],
                          hex[crc & 15]};
    out.append(text, 4);
}

QByteArray Crc(const QByteArray& payload)
{
    QByteArray out;
    AppendCrc(out, payload);
    return out;
}

bool ParseSeq(const QByteArray& text, std::uint64_t& seq)
{
    bool ok = false;
    seq = text.toULongLong(&ok);
    return ok && seq > 0;
}

QString SysError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

TMqttOutbox::~TMqttOutbox()
{
    Close();
}

bool TMqttOutbox::Open(const QString& fileName)
{
    Close();
    m_fileName = fileName;
    m_error.clear();
    m_lastSeq = m_acked = 0;
    m_pending.clear();
    const QByteArray path = QFile::encodeName(fileName);
    // The lock lives on a file of its own: compaction renames a new data file into
    // place, and a lock on the old one would go with it.
    const QByteArray lockPath = path + ".lock";
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        m_error = errno == EWOULDBLOCK
                      ? QStringLiteral("%1 est utilisé par un autre programme.").arg(fileName)
                      : QStringLiteral("Ouverture impossible de %1 : %2").arg(fileName, SysError());
        Close();
        return false;
    }
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0600);
    struct stat st
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_error = QStringLiteral("Ouverture impossible de %1 : %2")
                      .arg(fileName, m_fd < 0 ? SysError() : QStringLiteral("pas un fichier"));
        Close();
        return false;
    }
    if (!Load()) {
        Close();
        return false;
    }
    return true;
}

void TMqttOutbox::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
    m_fd = m_lockFd = -1;
}

bool TMqttOutbox::Load()
{
    QFile f;
    if (!f.open(m_fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || !f.seek(0)) {
        m_error = QStringLiteral("Lecture impossible de %1").arg(m_fileName);
        return false;
    }
    const QByteArray bytes = f.readAll();
    f.close();
    qint64 goodEnd = 0;
    bool damaged = false;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype nl = bytes.indexOf('\n', pos);
        if (nl < 0)
            break; // a line cut by a crash: dropped below
        const QByteArray line = bytes.mid(pos, nl - pos);
        pos = nl + 1;
        std::uint64_t seq = 0;
        bool ok = false;
        if (line + '\n' == kHeader) {
            ok = true;
        } else if (line.startsWith("E ")) {
            const qsizetype sp1 = line.indexOf(' ', 2);
            const qsizetype sp2 = sp1 < 0 ? -1 : line.indexOf(' ', sp1 + 1);
            if (sp2 > 0 && ParseSeq(line.mid(2, sp1 - 2), seq) && seq > m_lastSeq) {
                QByteArray payload = line.mid(sp2 + 1);
                if (line.mid(sp1 + 1, sp2 - sp1 - 1) == Crc(payload)) {
                    m_lastSeq = seq;
                    if (seq > m_acked)
                        m_pending.push_back({seq, std::move(payload)});
                    ok = true;
                }
            }
        } else if (line.startsWith("A ") || line.startsWith("S ")) {
            if (ParseSeq(line.mid(2), seq)) {
                if (line.startsWith("S "))
                    m_lastSeq = std::max(m_lastSeq, seq);
                m_acked = std::max(m_acked, std::min(seq, m_lastSeq));
                while (!m_pending.empty() && m_pending.front().Seq <= m_acked)
                    m_pending.pop_front();
                ok = true;
            }
        }
        if (ok)
            goodEnd = pos;
        else
            damaged = true;
    }
    if (damaged) {
        // Keep what could not be read: the next compaction would delete it otherwise.
        const QString copy =
            m_fileName + QStringLiteral(".damaged-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
        QFile::copy(m_fileName, copy);
    }
    if (goodEnd < bytes.size() && ::ftruncate(m_fd, goodEnd) != 0) {
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
        return false;
    }
    m_size = goodEnd;
    if (m_size == 0 && !WriteAll(QByteArray(kHeader)))
        return false;
    if (m_pending.empty() && m_size > qint64(sizeof kHeader) + 32)
        Compact();
    return true;
}

bool TMqttOutbox::WriteAll(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error =
                QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
            // No half line may stay: the next record would be glued to it.
            [[maybe_unused]] const int r = ::ftruncate(m_fd, m_size);
            return false;
        }
        done += n;
    }
    m_size += bytes.size();
    return true;
}

bool TMqttOutbox::Append(const QByteArray* payloads, std::size_t count, std::uint64_t* firstSeq)
{
    if (firstSeq)
        *firstSeq = m_lastSeq + 1;
    QByteArray out;
    out.reserve(qsizetype(count) * 200);
    for (std::size_t i = 0; i < count; ++i) {
        ++m_lastSeq;
        out += "E ";
        out += QByteArray::number(qulonglong(m_lastSeq));
        out += ' ';
        AppendCrc(out, payloads[i]);
        out += ' ';
        out += payloads[i];
        out += '\n';
    }
    return m_fd >= 0 && WriteAll(out);
}

bool TMqttOutbox::Ack(std::uint64_t seq, qint64 compactBytes)
{
    seq = std::min(seq, m_lastSeq);
    if (seq <= m_acked)
        return true;
    m_acked = seq;
    if (m_fd < 0 || !WriteAll("A " + QByteArray::number(qulonglong(seq)) + '\n'))
        return false;
    if (m_acked == m_lastSeq && m_size > compactBytes)
        return Compact();
    return true;
}

void TMqttOutbox::Sync()
{
    if (m_fd >= 0)
        ::fdatasync(m_fd);
}

bool TMqttOutbox::Compact()
{
    const QByteArray path = QFile::encodeName(m_fileName);
    const QByteArray tmp = QByteArray(path + ".tmp");
    const QByteArray bytes =
        QByteArray(kHeader) + "S " + QByteArray::number(qulonglong(m_lastSeq)) + '\n';
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 &&
              ::write(fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size() &&
              ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    ok = ok && ::rename(tmp.constData(), path.constData()) == 0;
    if (!ok) {
        ::unlink(tmp.constData());
        return false; // the old file stays, whole
    }
    const QByteArray dir = QFile::encodeName(QFileInfo(m_fileName).absolutePath());
    if (const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    const int nfd = ::open(path.constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (nfd < 0)
        return false;
    ::close(m_fd);
    m_fd = nfd;
    m_size = bytes.size();
    m_acked = m_lastSeq;
    return true;
}

} // namespace evtrak
