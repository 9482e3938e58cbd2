#include "mqtt/uMqttOutbox.h"

#include "base/ktSafeFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace evtrak {

namespace {

constexpr char kHeader[] = "EVTRAK-MQTT-OUTBOX 1\n";
constexpr qsizetype kHeaderLine = sizeof kHeader - 2; // without the '\n'
// An event message is a few hundred bytes; a longer line is damage, not a record.
constexpr qsizetype kMaxLine = 64 * 1024;
constexpr qsizetype kChunk = 64 * 1024;
constexpr qsizetype kWriteChunk = 1024 * 1024;

// The payload's CRC-16 as four lower-case hex digits.
void AppendCrc(QByteArray& out, QByteArrayView payload)
{
    static const char hex[] = "0123456789abcdef";
    const quint16 crc = qChecksum(payload, Qt::ChecksumIso3309);
    const char text[4] = {hex[crc >> 12], hex[(crc >> 8) & 15], hex[(crc >> 4) & 15],
                          hex[crc & 15]};
    out.append(text, 4);
}

void AppendEventLine(QByteArray& out, std::uint64_t seq, QByteArrayView payload)
{
    out += "E ";
    out += QByteArray::number(qulonglong(seq));
    out += ' ';
    AppendCrc(out, payload);
    out += ' ';
    out += payload;
    out += '\n';
}

QByteArray SeqLine(char kind, std::uint64_t seq)
{
    return QByteArray(1, kind) + ' ' + QByteArray::number(qulonglong(seq)) + '\n';
}

bool ParseSeq(QByteArrayView text, std::uint64_t& seq)
{
    bool ok = false;
    seq = text.toULongLong(&ok);
    return ok && seq > 0;
}

QString SysError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString DateSuffix()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
}

struct Record
{
    char Kind = 0; // 'H' header, 'E', 'A', 'S', 'N'
    std::uint64_t Seq = 0;
    QByteArrayView Payload; // into the line
};

bool ParseRecord(QByteArrayView line, Record& r)
{
    if (line.size() == kHeaderLine && std::memcmp(line.data(), kHeader, kHeaderLine) == 0) {
        r.Kind = 'H';
        return true;
    }
    if (line.size() < 3 || line[1] != ' ')
        return false;
    r.Kind = line[0];
    if (r.Kind == 'E') {
        const qsizetype sp1 = line.indexOf(' ', 2);
        const qsizetype sp2 = sp1 < 0 ? -1 : line.indexOf(' ', sp1 + 1);
        if (sp2 != sp1 + 5 || !ParseSeq(line.sliced(2, sp1 - 2), r.Seq))
            return false;
        r.Payload = line.sliced(sp2 + 1);
        QByteArray crc;
        AppendCrc(crc, r.Payload);
        return line.sliced(sp1 + 1, 4) == crc;
    }
    if (r.Kind == 'A' || r.Kind == 'S' || r.Kind == 'N')
        return ParseSeq(line.sliced(2), r.Seq);
    return false;
}

// Reads an open file line by line between two offsets through a bounded buffer.
class TLineReader
{
public:
    enum class Got
    {
        Line,
        TooLong,
        End
    };

    TLineReader(int fd, qint64 from, qint64 end) : m_fd(fd), m_end(end), m_bufOffset(from) {}

    // The next whole line (without its '\n', valid until the next call) and where it
    // starts. A line longer than kMaxLine is skipped up to its end and reported as
    // TooLong. At End, a last line without its '\n' is left unread: Offset() is where
    // it starts.
    Got Next(QByteArrayView& line, qint64& start)
    {
        bool skipping = false;
        for (;;) {
            const qsizetype nl = m_buf.indexOf('\n', m_pos);
            if (nl >= 0) {
                const bool tooLong = skipping || nl - m_pos > kMaxLine;
                if (!skipping)
                    start = m_bufOffset + m_pos;
                line = tooLong ? QByteArrayView()
                               : QByteArrayView(m_buf.constData() + m_pos, nl - m_pos);
                m_pos = nl + 1;
                return tooLong ? Got::TooLong : Got::Line;
            }
            if (!skipping && m_buf.size() - m_pos > kMaxLine) {
                skipping = true;
                start = m_bufOffset + m_pos;
                m_skipStart = start;
            }
            if (skipping) { // nothing of that line is kept
                m_bufOffset += m_buf.size();
                m_buf.clear();
                m_pos = 0;
            } else {
                m_buf.remove(0, m_pos);
                m_bufOffset += m_pos;
                m_pos = 0;
            }
            const qint64 at = m_bufOffset + m_buf.size();
            const qint64 want = std::min<qint64>(kChunk, m_end - at);
            if (want <= 0 || !Fill(at, qsizetype(want))) {
                if (skipping) { // a long line cut by the end: start of the unread tail
                    m_bufOffset = m_skipStart;
                    m_buf.clear();
                    m_pos = 0;
                }
                return Got::End;
            }
        }
    }
    qint64 Offset() const { return m_bufOffset + m_pos; }

private:
    bool Fill(qint64 at, qsizetype want)
    {
        const qsizetype old = m_buf.size();
        m_buf.resize(old + want);
        ssize_t n;
        do
            n = ::pread(m_fd, m_buf.data() + old, std::size_t(want), at);
        while (n < 0 && errno == EINTR);
        m_buf.resize(old + std::max<qsizetype>(n, 0));
        return n > 0;
    }

    int m_fd;
    qint64 m_end;
    qint64 m_bufOffset;
    qint64 m_skipStart = 0;
    QByteArray m_buf;
    qsizetype m_pos = 0;
};

// A copy of the first `size` bytes of fd under a name that does not exist yet.
bool CopyFd(int fd, qint64 size, const QByteArray& dest)
{
    const int out =
        ::open(dest.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0)
        return false;
    QByteArray buf(kWriteChunk, Qt::Uninitialized);
    bool ok = true;
    for (qint64 at = 0; ok && at < size;) {
        const ssize_t n =
            ::pread(fd, buf.data(), std::size_t(std::min<qint64>(kWriteChunk, size - at)), at);
        ok = n > 0 && WriteAllFd(out, buf.constData(), std::size_t(n));
        at += std::max<ssize_t>(n, 0);
    }
    ok = ::fsync(out) == 0 && ok;
    ::close(out);
    return ok;
}

void SyncFolderOf(const QString& fileName)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(fileName).absolutePath());
    if (const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// A temporary file next to the outbox, created anew (whatever was at that name goes).
int CreateTemp(const QByteArray& tmp)
{
    ::unlink(tmp.constData());
    return ::open(tmp.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                  0600);
}

} // namespace

TMqttOutbox::TMqttOutbox(std::size_t memoryWindow, qint64 maxBytes)
    : m_window(std::max<std::size_t>(memoryWindow, 1)), m_maxBytes(maxBytes)
{}

TMqttOutbox::~TMqttOutbox()
{
    Close();
}

bool TMqttOutbox::Open(const QString& fileName)
{
    return Lock(fileName) && Read();
}

bool TMqttOutbox::Lock(const QString& fileName)
{
    Close();
    m_fileName = fileName;
    m_error.clear();
    m_notice.clear();
    m_lastSeq = m_acked = m_taken = m_lastRecord = 0;
    m_mem.clear();
    m_spilled = false;
    m_readOffset = 0;
    const QByteArray path = QFile::encodeName(fileName);
    auto refuse = [this](const QString& text) {
        m_error = text;
        Close();
        return false;
    };
    auto linkText = [](const QString& name) {
        return QStringLiteral("%1 est un lien symbolique : refusé, la boîte d'envoi MQTT doit "
                              "être un fichier ordinaire.")
            .arg(name);
    };
    // The lock lives on a file of its own: compaction renames a new data file into
    // place, and a lock on the old one would go with it.
    const QByteArray lockPath = path + ".lock";
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0 && errno == ELOOP)
        return refuse(linkText(QFile::decodeName(lockPath)));
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        return refuse(
            errno == EWOULDBLOCK
                ? QStringLiteral("%1 est utilisé par un autre programme.").arg(fileName)
                : QStringLiteral("Ouverture impossible de %1 : %2").arg(fileName, SysError()));
    }
    // A link, a FIFO or a device is refused before it is opened: opening some of them
    // has effects of its own, and writing would change what they point to.
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return refuse(
            S_ISLNK(st.st_mode)
                ? linkText(fileName)
                : QStringLiteral("%1 n'est pas un fichier ordinaire : refusé.").arg(fileName));
    }
    m_fd = ::open(path.constData(),
                  O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        return refuse(
            errno == ELOOP
                ? linkText(fileName)
                : QStringLiteral("Ouverture impossible de %1 : %2").arg(fileName, SysError()));
    }
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return refuse(QStringLiteral("%1 n'est pas un fichier ordinaire : refusé.").arg(fileName));
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    return true;
}

bool TMqttOutbox::Read(const std::atomic<bool>* cancel)
{
    struct stat st
    {
    };
    const bool ok = m_fd >= 0 && ::fstat(m_fd, &st) == 0 && Load(st.st_size, cancel);
    // Numbers are handed out from what was read: it must be on the disk itself.
    if (ok && !Sync())
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
    else if (ok)
        return true;
    Close();
    return false;
}

void TMqttOutbox::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
    m_fd = m_lockFd = -1;
}

QString TMqttOutbox::TakeNotice()
{
    return std::exchange(m_notice, QString());
}

bool TMqttOutbox::Load(qint64 fileSize, const std::atomic<bool>* cancel)
{
    if (fileSize > m_maxBytes) {
        return SetAside(QStringLiteral("%1 est trop grand pour une boîte d'envoi MQTT (%2 Mo)")
                            .arg(m_fileName)
                            .arg(fileSize >> 20));
    }
    TLineReader reader(m_fd, 0, fileSize);
    qint64 goodEnd = 0;
    bool damaged = false;
    QByteArrayView line;
    qint64 start = 0;
    for (std::uint32_t lines = 1;; ++lines) {
        // Nothing is changed before the whole file was read: a stop may end it here.
        if (cancel && lines % 4096 == 0 && cancel->load(std::memory_order_relaxed)) {
            m_error = QStringLiteral("lecture de %1 interrompue").arg(m_fileName);
            return false;
        }
        const TLineReader::Got got = reader.Next(line, start);
        if (got == TLineReader::Got::End)
            break; // a line cut by a crash is dropped below
        Record r;
        bool ok = got == TLineReader::Got::Line && ParseRecord(line, r);
        if (ok) {
            switch (r.Kind) {
            case 'E':
                if (r.Seq <= m_lastSeq) {
                    ok = false;
                    break;
                }
                m_lastSeq = m_lastRecord = r.Seq;
                if (r.Seq <= m_acked)
                    break;
                if (!m_spilled && m_mem.size() < m_window) {
                    m_mem.push_back({r.Seq, r.Payload.toByteArray()});
                } else if (!m_spilled) {
                    m_spilled = true;
                    m_readOffset = start;
                }
                break;
            case 'S':
            case 'N':
                m_lastSeq = std::max(m_lastSeq, r.Seq);
                if (r.Kind == 'N')
                    break;
                [[fallthrough]];
            case 'A':
                m_acked = std::max(m_acked, std::min(r.Seq, m_lastSeq));
                while (!m_mem.empty() && m_mem.front().Seq <= m_acked)
                    m_mem.pop_front();
                break;
            default:
                break;
            }
        }
        if (ok)
            goodEnd = reader.Offset();
        else
            damaged = true;
    }
    // Numbers whose records are gone (a rewrite that lost its newest ones) wait for
    // no acknowledgement.
    if (m_acked >= m_lastRecord)
        m_acked = m_lastSeq;
    m_taken = m_acked;
    if (damaged) {
        // Keep what could not be read: the next compaction would delete it otherwise.
        CopyFd(m_fd, fileSize,
               QFile::encodeName(m_fileName + QStringLiteral(".damaged-") + DateSuffix()));
    }
    if (goodEnd < fileSize && ::ftruncate(m_fd, goodEnd) != 0) {
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
        return false;
    }
    m_size = goodEnd;
    if (m_size == 0 && !WriteAll(QByteArray(kHeader)))
        return false;
    if (m_mem.empty() && !m_spilled && m_size > qint64(sizeof kHeader) + 32)
        Compact();
    return true;
}

bool TMqttOutbox::SetAside(const QString& why)
{
    // The last number used is at the end: numbering goes on after it.
    const qint64 size = [this] {
        struct stat st
        {
        };
        return ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : 0;
    }();
    TLineReader tail(m_fd, std::max<qint64>(0, size - kMaxLine), size);
    QByteArrayView line;
    qint64 start = 0;
    std::uint64_t last = 0;
    for (TLineReader::Got got; (got = tail.Next(line, start)) != TLineReader::Got::End;) {
        Record r;
        if (got == TLineReader::Got::Line && ParseRecord(line, r) && r.Kind != 'H')
            last = std::max(last, r.Seq);
    }
    const QByteArray path = QFile::encodeName(m_fileName);
    QString aside;
    for (int i = 0; i < 100 && aside.isEmpty(); ++i) {
        const QString name = m_fileName + QStringLiteral(".too-large-") + DateSuffix() +
                             (i ? QStringLiteral("-%1").arg(i) : QString());
        if (::link(path.constData(), QFile::encodeName(name).constData()) == 0)
            aside = name;
        else if (errno != EEXIST)
            break;
    }
    if (aside.isEmpty() || ::unlink(path.constData()) != 0) {
        m_error = QStringLiteral("%1 ; il n'a pas pu être mis de côté : %2").arg(why, SysError());
        return false;
    }
    ::close(m_fd);
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                  0600);
    m_size = 0;
    m_lastSeq = m_acked = m_taken = last;
    m_lastRecord = 0;
    struct stat st
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 ||
        !WriteAll(QByteArray(kHeader) + (last ? SeqLine('S', last) : QByteArray()))) {
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
        return false;
    }
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_notice = QStringLiteral("%1 : mis de côté sous le nom %2, ses messages ne seront pas "
                              "publiés ; la numérotation reprend après %3.")
                   .arg(why, QFileInfo(aside).fileName())
                   .arg(last);
    return true;
}

bool TMqttOutbox::WriteAll(const QByteArray& bytes)
{
    // Where the file really ends: what someone else cut off must not come back as a
    // hole when a failed write is undone.
    struct stat st
    {
    };
    const qint64 base = ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : m_size;
    if (!WriteAllFd(m_fd, bytes.constData(), std::size_t(bytes.size()))) {
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
        // No half line may stay: the next record would be glued to it.
        [[maybe_unused]] const int r = ::ftruncate(m_fd, base);
        return false;
    }
    m_size += bytes.size();
    return true;
}

bool TMqttOutbox::Append(const QByteArray* payloads, std::size_t count)
{
    if (m_fd < 0 || count == 0)
        return m_fd >= 0;
    QByteArray out;
    out.reserve(qsizetype(count) * 200);
    for (std::size_t i = 0; i < count; ++i)
        AppendEventLine(out, m_lastSeq + 1 + i, payloads[i]);
    if (m_size + out.size() > m_maxBytes) {
        m_error = QStringLiteral("%1 a atteint sa taille maximale (%2 Mo)")
                      .arg(m_fileName)
                      .arg(m_maxBytes >> 20);
        return false;
    }
    const qint64 at = m_size;
    if (!WriteAll(out))
        return false;
    if (!m_spilled && m_mem.size() + count <= m_window) {
        for (std::size_t i = 0; i < count; ++i)
            m_mem.push_back({m_lastSeq + 1 + i, payloads[i]});
    } else if (!m_spilled) {
        // From here on the records stay on disk until Take reads them back.
        m_spilled = true;
        m_readOffset = at;
    }
    m_lastSeq += count;
    m_lastRecord = m_lastSeq;
    return true;
}

std::size_t TMqttOutbox::Take(std::deque<OutboxEntry>& out, std::size_t max, std::uint64_t upTo)
{
    std::size_t n = 0;
    while (n < max && !m_mem.empty() && m_mem.front().Seq <= upTo) {
        m_taken = m_mem.front().Seq;
        out.push_back(std::move(m_mem.front()));
        m_mem.pop_front();
        ++n;
    }
    if (n == max || !m_mem.empty() || !m_spilled || m_fd < 0)
        return n;
    TLineReader reader(m_fd, m_readOffset, m_size);
    QByteArrayView line;
    qint64 start = 0;
    while (n < max) {
        const TLineReader::Got got = reader.Next(line, start);
        if (got == TLineReader::Got::End)
            break;
        Record r;
        if (got == TLineReader::Got::Line && ParseRecord(line, r) && r.Kind == 'E' &&
            r.Seq > std::max(m_taken, m_acked)) {
            if (r.Seq > upTo) {
                m_readOffset = start; // not on the disk itself yet: read again later
                return n;
            }
            m_taken = r.Seq;
            out.push_back({r.Seq, r.Payload.toByteArray()});
            ++n;
        }
        m_readOffset = reader.Offset();
    }
    m_readOffset = reader.Offset();
    if (m_readOffset >= m_size)
        m_spilled = false; // caught up: new records are kept in memory again
    return n;
}

bool TMqttOutbox::Ack(std::uint64_t seq, qint64 compactBytes)
{
    seq = std::min(seq, m_lastSeq);
    if (seq >= m_lastRecord)
        seq = m_lastSeq; // numbers whose records were lost wait for nothing
    if (seq <= m_acked)
        return true;
    m_acked = seq;
    m_taken = std::max(m_taken, seq);
    while (!m_mem.empty() && m_mem.front().Seq <= m_acked)
        m_mem.pop_front();
    if (m_fd < 0 || !WriteAll(SeqLine('A', seq)))
        return false;
    if (m_acked == m_lastSeq && m_size > compactBytes)
        return Compact();
    return true;
}

bool TMqttOutbox::Sync()
{
    return m_fd >= 0 && ::fdatasync(m_fd) == 0;
}

int TMqttOutbox::DuplicateHandle() const
{
    return m_fd >= 0 ? ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0) : -1;
}

TMqttOutbox::FileState TMqttOutbox::CheckFile() const
{
    struct stat own
    {
    };
    struct stat named
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &own) != 0)
        return FileState::Ours;
    if (own.st_nlink == 0)
        return FileState::Removed;
    if (::lstat(QFile::encodeName(m_fileName).constData(), &named) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileState::Removed : FileState::Ours;
    if (named.st_dev != own.st_dev || named.st_ino != own.st_ino)
        return FileState::Removed;
    return own.st_size < m_size ? FileState::Cut : FileState::Ours;
}

bool TMqttOutbox::InstallFresh(const QByteArray& tmp, int fd, qint64 size)
{
    struct stat st
    {
    };
    const QByteArray path = QFile::encodeName(m_fileName);
    // A rename replaces whatever is at the name (a link included, never its target).
    if (::fsync(fd) != 0 || ::fstat(fd, &st) != 0 ||
        ::rename(tmp.constData(), path.constData()) != 0) {
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
        ::close(fd);
        ::unlink(tmp.constData());
        return false; // the old file stays, whole
    }
    SyncFolderOf(m_fileName);
    ::close(m_fd);
    m_fd = fd;
    m_size = size;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    return true;
}

bool TMqttOutbox::Compact()
{
    const QByteArray tmp = QFile::encodeName(m_fileName) + ".tmp";
    const QByteArray bytes = QByteArray(kHeader) + SeqLine('S', m_lastSeq);
    const int fd = CreateTemp(tmp);
    if (fd < 0 || !WriteAllFd(fd, bytes.constData(), std::size_t(bytes.size()))) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tmp.constData());
        return false;
    }
    if (!InstallFresh(tmp, fd, bytes.size()))
        return false;
    m_acked = m_taken = m_lastSeq;
    m_lastRecord = 0;
    m_mem.clear();
    m_spilled = false;
    return true;
}

bool TMqttOutbox::Rewrite(const std::vector<OutboxEntry>& held, std::uint64_t* kept)
{
    if (m_fd < 0)
        return false;
    // What memory holds, by number; the records on the old file are merged in order.
    std::map<std::uint64_t, QByteArray> extra;
    for (const OutboxEntry& e : held)
        if (e.Seq > m_acked)
            extra.emplace(e.Seq, e.Payload);
    for (const OutboxEntry& e : m_mem)
        extra.emplace(e.Seq, e.Payload);

    const QByteArray tmp = QFile::encodeName(m_fileName) + ".tmp";
    const int fd = CreateTemp(tmp);
    if (fd < 0) {
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
        return false;
    }
    const std::uint64_t memLast = m_mem.empty() ? m_taken : m_mem.back().Seq;
    QByteArray out = kHeader;
    if (m_acked > 0)
        out += SeqLine('S', m_acked);
    qint64 written = 0;
    qint64 spillAt = -1;
    std::uint64_t last = 0;
    std::uint64_t count = 0;
    bool ok = true;
    auto put = [&](std::uint64_t seq, QByteArrayView payload) {
        if (seq > memLast && spillAt < 0)
            spillAt = written + out.size();
        AppendEventLine(out, seq, payload);
        last = seq;
        ++count;
        if (out.size() >= kWriteChunk) {
            ok = ok && WriteAllFd(fd, out.constData(), std::size_t(out.size()));
            written += out.size();
            out.clear();
        }
    };
    struct stat st
    {
    };
    TLineReader reader(m_fd, 0, ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : m_size);
    QByteArrayView line;
    qint64 start = 0;
    for (TLineReader::Got got; ok && (got = reader.Next(line, start)) != TLineReader::Got::End;) {
        Record r;
        if (got != TLineReader::Got::Line || !ParseRecord(line, r) || r.Kind != 'E' ||
            r.Seq <= std::max(m_acked, last) || r.Seq > m_lastSeq)
            continue;
        while (!extra.empty() && extra.begin()->first < r.Seq) {
            put(extra.begin()->first, extra.begin()->second);
            extra.erase(extra.begin());
        }
        extra.erase(r.Seq);
        put(r.Seq, r.Payload);
    }
    for (const auto& [seq, payload] : extra)
        if (seq > last)
            put(seq, payload);
    // The numbers used so far stay used, even those whose records are lost.
    if (last < m_lastSeq)
        out += SeqLine(count ? 'N' : 'S', m_lastSeq);
    ok = ok && WriteAllFd(fd, out.constData(), std::size_t(out.size()));
    written += out.size();
    if (!ok) {
        m_error = QStringLiteral("Écriture impossible dans %1 : %2").arg(m_fileName, SysError());
        ::close(fd);
        ::unlink(tmp.constData());
        return false;
    }
    if (!InstallFresh(tmp, fd, written))
        return false;
    m_lastRecord = last;
    if (count == 0)
        m_acked = m_taken = m_lastSeq;
    m_spilled = spillAt >= 0;
    m_readOffset = m_spilled ? spillAt : written;
    if (kept)
        *kept = count;
    return true;
}

} // namespace evtrak
