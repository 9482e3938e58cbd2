#include "eventlog/uJournal.h"

#include "base/ktMisc.h"
#include "base/ktSafeFile.h"
#include "eventlog/uEventFile.h"
#include "eventlog/uLog.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcJournal, "evtrak.journal")

namespace evtrak {

namespace {

constexpr unsigned char kMagic0 = 0xE7;
constexpr unsigned char kMagic1 = 0x4A;
constexpr unsigned char kEvent = 'E';  // seq, ms, input, flags, duration
constexpr unsigned char kAppend = 'A'; // first seq, last seq, offset, size, crc, file
constexpr unsigned char kSave = 'S';   // last seq, day (0: every day), size, crc, file
constexpr std::size_t kHeader = 5;     // magic, type, payload length
constexpr std::size_t kTrailer = 4;    // CRC
constexpr std::size_t kEventPayload = 22;
constexpr std::size_t kFilePayload = 36; // the fixed part of an append or save record
constexpr std::size_t kMaxPayload = 4096;
constexpr std::size_t kReadChunk = std::size_t(1) << 20;

// Slicing by 8: eight tables, eight bytes a step.
std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables()
{
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (std::size_t k = 1; k < 8; ++k)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    return t;
}

void Put(unsigned char* out, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t Get(const unsigned char* in, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= std::uint64_t(in[i]) << (8 * i);
    return v;
}

ssize_t ReadSome(int fd, unsigned char* data, std::size_t size, qint64 at)
{
    for (;;) {
        const ssize_t n = at < 0 ? ::read(fd, data, size) : ::pread(fd, data, size, off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

void SyncFolderOf(const QString& path)
{
    const int fd = ::open(Native(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::size_t EncodeRecord(unsigned char type, const unsigned char* payload, std::size_t size,
                         unsigned char* out)
{
    out[0] = kMagic0;
    out[1] = kMagic1;
    out[2] = type;
    Put(out + 3, size, 2);
    std::memcpy(out + kHeader, payload, size);
    const std::uint32_t crc = Crc32Update(0, reinterpret_cast<const char*>(out + 2), 3 + size);
    Put(out + kHeader + size, crc, 4);
    return kHeader + size + kTrailer;
}

void EncodeEvent(std::uint64_t seq, const JournalEvent& ev, unsigned char* payload)
{
    Put(payload, seq, 8);
    Put(payload + 8, static_cast<std::uint64_t>(ev.Ms), 8);
    payload[16] = static_cast<unsigned char>(ev.InputIndex);
    payload[17] = static_cast<unsigned char>((ev.Suffix ? 1u : 0u) | (ev.State ? 2u : 0u));
    Put(payload + 18, static_cast<std::uint32_t>(ev.DurationMs), 4);
}

bool DecodeEvent(const unsigned char* p, std::uint64_t& seq, JournalEvent& ev)
{
    seq = Get(p, 8);
    ev.Ms = static_cast<std::int64_t>(Get(p + 8, 8));
    ev.InputIndex = p[16];
    ev.Suffix = (p[17] & 1u) != 0;
    ev.State = (p[17] & 2u) != 0;
    ev.DurationMs = static_cast<std::int32_t>(Get(p + 18, 4));
    return ev.InputIndex < kInputCount && p[17] <= 3u;
}

// The fixed part of an append or a save record, then the file's name (UTF-8).
std::vector<unsigned char> FilePayload(std::uint64_t a, std::uint64_t b, qint64 offsetOrDay,
                                       qint64 size, std::uint32_t crc, const QString& file)
{
    const QByteArray name = QFileInfo(file).absoluteFilePath().toUtf8();
    std::vector<unsigned char> p(kFilePayload + std::size_t(name.size()));
    Put(p.data(), a, 8);
    Put(p.data() + 8, b, 8);
    Put(p.data() + 16, static_cast<std::uint64_t>(offsetOrDay), 8);
    Put(p.data() + 24, static_cast<std::uint64_t>(size), 8);
    Put(p.data() + 32, crc, 4);
    std::memcpy(p.data() + kFilePayload, name.constData(), std::size_t(name.size()));
    return p;
}

// Local date-times of event stamps, one time-zone conversion per second and one per day.
class LocalTimes
{
public:
    TDateTime DateTime(std::int64_t ms)
    {
        const std::int64_t second = ms - ((ms % 1000) + 1000) % 1000;
        if (second != m_second) {
            m_second = second;
            m_secondBase = DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(second));
        }
        return m_secondBase + static_cast<double>(ms - second) / 86400000.0;
    }
    QDate Day(std::int64_t ms)
    {
        if (ms < m_dayStart || ms >= m_dayEnd) {
            m_day = QDateTime::fromMSecsSinceEpoch(ms).date();
            m_dayStart = QDateTime(m_day, QTime(0, 0)).toMSecsSinceEpoch();
            m_dayEnd = QDateTime(m_day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
            if (ms < m_dayStart || ms >= m_dayEnd) // a day without its midnight
                m_dayStart = m_dayEnd = ms;
        }
        return m_day;
    }

private:
    std::int64_t m_second = -1;
    TDateTime m_secondBase = 0.0;
    QDate m_day;
    std::int64_t m_dayStart = 0, m_dayEnd = 0;
};

struct Record
{
    unsigned char Type = 0;
    const unsigned char* Payload = nullptr;
    std::size_t Size = 0;
};

// Reads the records of a journal in order with a buffer of its own, skipping what fails
// its check and resynchronising on the next whole record.
class RecordReader
{
public:
    explicit RecordReader(int fd) : m_fd(fd), m_buf(kReadChunk + kMaxPayload + 64) {}

    bool Next(Record& out)
    {
        for (;;) {
            if (!Ensure(kHeader))
                return false;
            const unsigned char* p = m_buf.data() + m_pos;
            if (p[0] != kMagic0) {
                const void* hit = std::memchr(p + 1, kMagic0, m_end - m_pos - 1);
                m_pos = hit ? std::size_t(static_cast<const unsigned char*>(hit) - m_buf.data())
                            : m_end;
                continue;
            }
            const unsigned char type = p[2];
            const std::size_t size = std::size_t(Get(p + 3, 2));
            const bool shape = p[1] == kMagic1 && ((type == kEvent && size == kEventPayload) ||
                                                   ((type == kAppend || type == kSave) &&
                                                    size >= kFilePayload && size <= kMaxPayload));
            if (!shape) {
                ++m_pos;
                continue;
            }
            const std::size_t whole = kHeader + size + kTrailer;
            if (!Ensure(whole))
                return false; // torn at the end
            p = m_buf.data() + m_pos;
            const std::uint32_t crc =
                Crc32Update(0, reinterpret_cast<const char*>(p + 2), 3 + size);
            if (std::uint32_t(Get(p + kHeader + size, 4)) != crc) {
                ++m_pos; // damaged: look for the next whole record
                continue;
            }
            out.Type = type;
            out.Payload = p + kHeader;
            out.Size = size;
            m_pos += whole;
            ++m_records;
            return true;
        }
    }
    std::uint64_t Records() const { return m_records; }

private:
    bool Ensure(std::size_t n)
    {
        if (m_end - m_pos >= n)
            return true;
        if (m_eof)
            return false;
        std::memmove(m_buf.data(), m_buf.data() + m_pos, m_end - m_pos);
        m_end -= m_pos;
        m_pos = 0;
        while (!m_eof && m_end < n) {
            const ssize_t got = ReadSome(m_fd, m_buf.data() + m_end, m_buf.size() - m_end, -1);
            if (got <= 0)
                m_eof = true;
            else
                m_end += std::size_t(got);
        }
        return m_end - m_pos >= n;
    }

    int m_fd;
    std::vector<unsigned char> m_buf;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
    std::uint64_t m_records = 0;
};

// The event files the journal names, read as they are now, a window of each at a time.
class FileChecker
{
public:
    FileChecker() : m_buf(kReadChunk) {}
    ~FileChecker()
    {
        for (auto& [name, f] : m_files)
            if (f.Fd >= 0)
                ::close(f.Fd);
    }
    FileChecker(const FileChecker&) = delete;
    FileChecker& operator=(const FileChecker&) = delete;

    // Whether bytes [offset, offset + size) of file have this CRC.
    bool Holds(const QByteArray& file, qint64 offset, qint64 size, std::uint32_t crc)
    {
        Open& f = Get(file);
        if (f.Fd < 0 || offset < 0 || size < 0 || offset + size > f.Size)
            return false;
        std::uint32_t c = 0;
        qint64 at = offset;
        const qint64 end = offset + size;
        while (at < end) {
            if (f.Fd != m_windowFd || at < m_windowAt || at >= m_windowAt + m_windowSize) {
                const ssize_t got = ReadSome(f.Fd, m_buf.data(), m_buf.size(), at);
                if (got <= 0)
                    return false;
                m_windowFd = f.Fd;
                m_windowAt = at;
                m_windowSize = got;
            }
            const qint64 from = at - m_windowAt;
            const qint64 n = std::min(end - at, m_windowSize - from);
            c = Crc32Update(c, reinterpret_cast<const char*>(m_buf.data() + from), std::size_t(n));
            at += n;
        }
        return c == crc;
    }
    qint64 SizeOf(const QByteArray& file) { return Get(file).Size; }

private:
    struct Open
    {
        int Fd = -1;
        qint64 Size = -1;
    };
    Open& Get(const QByteArray& file)
    {
        auto it = m_files.find(file);
        if (it != m_files.end())
            return it->second;
        Open f;
        f.Fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st
        {
        };
        if (f.Fd >= 0 && (::fstat(f.Fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(f.Fd);
            f.Fd = -1;
        }
        if (f.Fd >= 0)
            f.Size = st.st_size;
        return m_files.emplace(file, f).first->second;
    }

    std::map<QByteArray, Open> m_files;
    std::vector<unsigned char> m_buf;
    int m_windowFd = -1;
    qint64 m_windowAt = 0;
    qint64 m_windowSize = 0;
};

struct FileRecord
{
    std::uint64_t A = 0, B = 0;
    qint64 OffsetOrDay = 0, Size = 0;
    std::uint32_t Crc = 0;
    QByteArray File;
};

FileRecord DecodeFileRecord(const Record& r)
{
    FileRecord f;
    f.A = Get(r.Payload, 8);
    f.B = Get(r.Payload + 8, 8);
    f.OffsetOrDay = static_cast<qint64>(Get(r.Payload + 16, 8));
    f.Size = static_cast<qint64>(Get(r.Payload + 24, 8));
    f.Crc = std::uint32_t(Get(r.Payload + 32, 4));
    f.File = QFile::encodeName(QString::fromUtf8(
        reinterpret_cast<const char*>(r.Payload + kFilePayload), qsizetype(r.Size - kFilePayload)));
    return f;
}

int OpenJournalForReading(const QString& path, struct stat& st)
{
    // The program's own file: a link is never followed, a FIFO never waited on.
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd >= 0 && ::fstat(fd, &st) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const char* data, std::size_t size)
{
    static const std::array<std::array<std::uint32_t, 256>, 8> t = MakeCrcTables();
    std::uint32_t c = crc ^ 0xFFFFFFFFu;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    while (size >= 8) {
        const std::uint32_t lo = c ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                      std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        c = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
            t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        size -= 8;
    }
    while (size-- > 0)
        c = t[0][(c ^ *p++) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

TJournal::TJournal(QString path) : m_path(std::move(path)) {}

TJournal::~TJournal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString TJournal::PathIn(const QString& logDir)
{
    QString dir = logDir;
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    return dir + QStringLiteral("evtrak_journal.bin");
}

JournalFindings TJournal::Scan()
{
    JournalFindings found;
    struct stat st
    {
    };
    const int fd = OpenJournalForReading(m_path, st);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENXIO) {
            const QString aside = KeepAside(QDateTime::currentDateTime());
            found.Problem = QStringLiteral("Le journal de reprise %1 n'est pas un fichier "
                                           "ordinaire ; il est mis de côté sous %2.")
                                .arg(m_path, aside);
        }
        return found;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxBytes) {
        ::close(fd);
        const QString aside = KeepAside(QDateTime::currentDateTime());
        found.Problem = S_ISREG(st.st_mode)
                            ? QStringLiteral("Le journal de reprise %1 est trop grand pour en "
                                             "être un (%2 octets) ; il est mis de côté sous %3.")
                                  .arg(m_path)
                                  .arg(qint64(st.st_size))
                                  .arg(aside)
                            : QStringLiteral("Le journal de reprise %1 n'est pas un fichier "
                                             "ordinaire ; il est mis de côté sous %2.")
                                  .arg(m_path, aside);
        return found;
    }

    // First pass: what the records say is in which file, checked against the files.
    FileChecker files;
    // Appends the file confirms: event numbers, and where in which file they start.
    struct Held
    {
        std::uint64_t A = 0, B = 0;
        QByteArray File;
        qint64 Offset = 0;
    };
    std::vector<Held> held;
    std::uint64_t savedAll = 0;                              // settled up to, any day
    std::vector<std::pair<std::uint64_t, qint64>> savedDays; // up to, Julian day
    // Per file, since the last save that reached it: where the first append the file does
    // not confirm starts, and where the appends end.
    struct Tail
    {
        qint64 FirstUnheld = -1;
        qint64 End = 0;
    };
    std::map<QByteArray, Tail> tails;
    std::uint64_t events = 0;
    {
        RecordReader reader(fd);
        Record r;
        while (reader.Next(r)) {
            if (r.Type == kEvent) {
                ++events;
                found.LastSeq = std::max(found.LastSeq, Get(r.Payload, 8));
            } else if (r.Type == kAppend) {
                const FileRecord f = DecodeFileRecord(r);
                Tail& tail = tails[f.File];
                tail.End = std::max(tail.End, f.OffsetOrDay + f.Size);
                if (!files.Holds(f.File, f.OffsetOrDay, f.Size, f.Crc)) {
                    if (tail.FirstUnheld < 0)
                        tail.FirstUnheld = f.OffsetOrDay;
                } else if (!held.empty() && held.back().File == f.File &&
                           held.back().B + 1 == f.A) {
                    held.back().B = f.B;
                } else {
                    held.push_back(Held{f.A, f.B, f.File, f.OffsetOrDay});
                }
            } else {
                const FileRecord f = DecodeFileRecord(r);
                if (files.Holds(f.File, 0, f.Size, f.Crc)) {
                    // The save replaced the file: what was appended to it before is in it.
                    tails.erase(f.File);
                    if (f.OffsetOrDay == 0)
                        savedAll = std::max(savedAll, f.B);
                    else
                        savedDays.emplace_back(f.B, f.OffsetOrDay);
                }
            }
        }
        if (reader.Records() == 0 && st.st_size >= 64) {
            ::close(fd);
            const QString aside = KeepAside(QDateTime::currentDateTime());
            found.Problem = QStringLiteral("Le journal de reprise %1 ne peut pas être lu ; il "
                                           "est mis de côté sous %2.")
                                .arg(m_path, aside);
            return found;
        }
    }
    // A kill or a power cut in the middle of appends left part of their lines, or a run of
    // zeros where the system had grown the file before its data reached the disk: the
    // file ends where the first append it does not hold began, and the events from there
    // on come back from the journal. Only what this program appended is cut: a file that
    // grew beyond its appends was written by someone else and is left alone.
    std::map<QByteArray, qint64> cuts;
    for (const auto& [file, tail] : tails) {
        const qint64 size = files.SizeOf(file);
        if (tail.FirstUnheld < 0 || size <= tail.FirstUnheld || size > tail.End)
            continue;
        const int wfd = ::open(file.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (wfd >= 0 && ::ftruncate(wfd, off_t(tail.FirstUnheld)) == 0 && ::fsync(wfd) == 0) {
            cuts[file] = tail.FirstUnheld;
            found.CutFile = QFile::decodeName(file);
        }
        if (wfd >= 0)
            ::close(wfd);
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> appended; // settled seq ranges
    for (const Held& h : held) {
        const auto cut = cuts.find(h.File);
        if (cut == cuts.end() || h.Offset < cut->second)
            appended.emplace_back(h.A, h.B);
    }
    std::sort(appended.begin(), appended.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
    for (const auto& range : appended) {
        if (!merged.empty() && range.first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, range.second);
        else
            merged.push_back(range);
    }
    LocalTimes local;
    const auto settled = [&](std::uint64_t seq, const JournalEvent& ev) {
        if (seq <= savedAll)
            return true;
        const auto it =
            std::upper_bound(merged.begin(), merged.end(), seq,
                             [](std::uint64_t s, const std::pair<std::uint64_t, std::uint64_t>& r) {
                                 return s < r.first;
                             });
        if (it != merged.begin() && std::prev(it)->second >= seq)
            return true;
        for (const auto& [upTo, day] : savedDays)
            if (seq <= upTo && local.Day(ev.Ms).toJulianDay() == day)
                return true;
        return false;
    };

    // Second pass: the events no file holds.
    if (events > 0 && ::lseek(fd, 0, SEEK_SET) == 0) {
        RecordReader reader(fd);
        Record r;
        while (reader.Next(r)) {
            if (r.Type != kEvent)
                continue;
            std::uint64_t seq = 0;
            JournalEvent ev;
            if (DecodeEvent(r.Payload, seq, ev) && !settled(seq, ev))
                found.Events.push_back(ev);
        }
    }
    ::close(fd);
    return found;
}

bool TJournal::NoteRecoverySave(const QString& file, std::uint64_t lastSeq, const QDate& day,
                                qint64 size, std::uint32_t crc)
{
    const int fd = ::open(Native(m_path).constData(),
                          O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const std::vector<unsigned char> payload =
        FilePayload(0, lastSeq, day.toJulianDay(), size, crc, file);
    std::vector<unsigned char> bytes(kHeader + payload.size() + kTrailer);
    EncodeRecord(kSave, payload.data(), payload.size(), bytes.data());
    const bool ok = WriteAllFd(fd, bytes.data(), bytes.size()) && ::fdatasync(fd) == 0;
    ::close(fd);
    return ok;
}

QString TJournal::KeepAside(const QDateTime& now)
{
    QString aside = m_path;
    if (aside.endsWith(QStringLiteral(".bin")))
        aside.chop(4);
    aside += QStringLiteral("_non_recupere_") + now.toString(QStringLiteral("yyyy_MM_dd_HHmmss"));
    QString name = aside + QStringLiteral(".bin");
    struct stat st
    {
    };
    for (int n = 2; ::lstat(Native(name).constData(), &st) == 0; ++n)
        name = aside + QStringLiteral("_%1.bin").arg(n);
    if (::rename(Native(m_path).constData(), Native(name).constData()) != 0) {
        qCWarning(lcJournal) << "cannot keep the journal aside:" << strerror(errno);
        return {};
    }
    SyncFolderOf(m_path);
    return name;
}

bool TJournal::Open(std::span<const JournalEvent> carried)
{
    if (m_fd >= 0)
        return true;
    // The fresh journal is made whole beside the old one, then takes its place.
    const QString temp = m_path + QStringLiteral(".new");
    const QByteArray tempName = Native(temp);
    ::unlink(tempName.constData());
    const int fd =
        ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        m_openError = errno;
        qCWarning(lcJournal) << "cannot make the journal" << temp << strerror(m_openError);
        return false;
    }
    m_fd = fd;
    m_size = 0;
    m_nextSeq = 1;
    m_settledUpTo = 0;
    m_writeFailed = false;
    Append(carried.data(), carried.size());
    m_batchCount = 0;
    if (m_writeFailed || ::fdatasync(m_fd) != 0 ||
        ::rename(tempName.constData(), Native(m_path).constData()) != 0) {
        m_openError = errno;
        qCWarning(lcJournal) << "cannot make the journal" << m_path << strerror(errno);
        ::close(m_fd);
        m_fd = -1;
        ::unlink(tempName.constData());
        return false;
    }
    SyncFolderOf(m_path);
    m_dirty = false;
    m_openError = 0;
    return true;
}

bool TJournal::WriteBytes(const unsigned char* data, std::size_t size)
{
    if (!WriteAllFd(m_fd, data, size)) {
        if (!m_writeFailed)
            qCWarning(lcJournal) << "journal write failed:" << strerror(errno);
        m_writeFailed = true;
        return false;
    }
    m_size += qint64(size);
    m_dirty = true;
    return true;
}

bool TJournal::WriteRecord(unsigned char type, const unsigned char* payload, std::size_t size,
                           bool sync)
{
    m_buffer.resize(kHeader + size + kTrailer);
    EncodeRecord(type, payload, size, m_buffer.data());
    if (!WriteBytes(m_buffer.data(), m_buffer.size()))
        return false;
    if (sync) {
        m_dirty = false;
        if (::fdatasync(m_fd) != 0) {
            m_writeFailed = true;
            return false;
        }
    }
    return true;
}

void TJournal::Append(const JournalEvent* events, std::size_t count)
{
    m_batchCount = 0;
    if (m_fd < 0 || count == 0)
        return;
    constexpr std::size_t kRecord = kHeader + kEventPayload + kTrailer;
    m_buffer.resize(count * kRecord);
    m_batchFirst = m_nextSeq;
    unsigned char payload[kEventPayload];
    for (std::size_t i = 0; i < count; ++i) {
        EncodeEvent(m_nextSeq++, events[i], payload);
        EncodeRecord(kEvent, payload, kEventPayload, m_buffer.data() + i * kRecord);
    }
    if (WriteBytes(m_buffer.data(), m_buffer.size()))
        m_batchCount = count;
}

bool TJournal::NoteAppend(const QString& file, qint64 offset, qint64 size, std::uint32_t crc,
                          std::size_t count)
{
    // Lines of events this journal does not hold need no record.
    if (m_fd < 0 || count == 0 || count != m_batchCount)
        return true;
    const std::vector<unsigned char> payload =
        FilePayload(m_batchFirst, m_batchFirst + count - 1, offset, size, crc, file);
    return WriteRecord(kAppend, payload.data(), payload.size(), true);
}

void TJournal::AppendDone(const QString& file, bool ok)
{
    if (m_fd < 0 || m_batchCount == 0)
        return;
    if (ok) {
        if (m_settledUpTo + 1 >= m_batchFirst)
            m_settledUpTo = m_batchFirst + m_batchCount - 1;
        if (!m_appended.contains(file))
            m_appended << file;
    }
    m_batchCount = 0;
}

void TJournal::NoteSave(const QString& file, qint64 size, std::uint32_t crc)
{
    if (m_fd < 0)
        return;
    const std::vector<unsigned char> payload = FilePayload(0, m_nextSeq - 1, 0, size, crc, file);
    WriteRecord(kSave, payload.data(), payload.size(), true);
}

bool TJournal::SyncAppendedFiles()
{
    bool ok = true;
    for (const QString& file : std::as_const(m_appended)) {
        const int fd = ::open(Native(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0 || ::fdatasync(fd) != 0)
            ok = false;
        if (fd >= 0)
            ::close(fd);
    }
    m_appended.clear();
    return ok;
}

void TJournal::Settle()
{
    if (m_fd < 0)
        return;
    // The appended lines reach the disk before the records that name them go.
    SyncAppendedFiles();
    if (::ftruncate(m_fd, 0) != 0 || ::fdatasync(m_fd) != 0) {
        qCWarning(lcJournal) << "cannot empty the journal:" << strerror(errno);
        return;
    }
    m_size = 0;
    m_dirty = false;
    m_batchCount = 0;
    m_settledUpTo = m_nextSeq - 1;
}

void TJournal::Sync()
{
    if (m_fd < 0)
        return;
    if (m_dirty) {
        m_dirty = false;
        ::fdatasync(m_fd);
    }
    // The appended lines reach the disk within a second too: a power cut leaves at most
    // the last second's lines half written (which the next start cuts off).
    SyncAppendedFiles();
    if (m_size > kCompactBytes && m_settledUpTo + 1 == m_nextSeq)
        Settle();
}

void TJournal::Finish()
{
    if (m_fd < 0)
        return;
    Settle();
    ::close(m_fd);
    m_fd = -1;
    ::unlink(Native(m_path).constData());
    SyncFolderOf(m_path);
}

std::vector<JournalEvent> TJournal::ReadEvents(const QString& path)
{
    std::vector<JournalEvent> events;
    struct stat st
    {
    };
    const int fd = OpenJournalForReading(path, st);
    if (fd < 0)
        return events;
    if (S_ISREG(st.st_mode)) {
        RecordReader reader(fd);
        Record r;
        while (reader.Next(r)) {
            std::uint64_t seq = 0;
            JournalEvent ev;
            if (r.Type == kEvent && DecodeEvent(r.Payload, seq, ev))
                events.push_back(ev);
        }
    }
    ::close(fd);
    return events;
}

std::vector<CapturedEvent> ToCaptured(std::span<const JournalEvent> events)
{
    std::vector<CapturedEvent> out;
    out.reserve(events.size());
    LocalTimes local;
    for (const JournalEvent& j : events) {
        CapturedEvent e;
        e.Suffix = j.Suffix;
        e.State = j.State;
        e.InputIndex = j.InputIndex;
        e.DurationMs = j.DurationMs;
        e.DateTime = local.DateTime(j.Ms);
        e.EpochMs = j.Ms;
        out.push_back(e);
    }
    return out;
}

namespace {

// Merges events into the day's file name; false when the file cannot be read or written.
bool MergeIntoDayFile(TJournal& journal, const QString& name, const QDate& day,
                      std::uint64_t lastSeq, std::span<const JournalEvent> events,
                      const TUserPrefs& prefs, int currentYear, QString& why)
{
    EventFileContent content = ReadEventFile(name, currentYear);
    if (content.State == FileReadResult::Refused) {
        why = content.Reason;
        return false;
    }
    // The file's rows with the events put in at their place by date-time, written as the
    // list would write them.
    struct DayRow
    {
        QString Label;
        EventSuffix Suffix;
        std::int32_t Input;
        qint64 Seconds;
        std::int32_t DurationMs;
    };
    std::vector<DayRow> rows;
    rows.reserve(content.Records.size());
    for (const EventRecord& r : content.Records)
        rows.push_back(
            DayRow{r.Label, NoSuffix, r.InputIndex, SecondsFromDateTime(r.DateTime), r.DurationMs});
    std::vector<DayRow> added;
    for (const CapturedEvent& e : ToCaptured(events))
        added.push_back(DayRow{GetInputPrefs(prefs, e.InputIndex).Label,
                               MakeSuffix(e.Suffix, e.State), e.InputIndex,
                               SecondsFromDateTime(e.DateTime), e.DurationMs});
    rows = MergeNewestFirst(
        rows, std::move(added), [](const DayRow& r) { return r.Seconds; }, content.Kept);
    QByteArray bytes;
    EventLineWriter line;
    const int count = int(rows.size());
    AppendRowsWithKept(bytes, count, 0, count, content.Kept, [&](int i) {
        const DayRow& r = rows[std::size_t(i)];
        line.Append(bytes, EncodeLineText(r.Label), r.Suffix, r.Input, r.Seconds, r.DurationMs,
                    prefs.LogDurationFormat);
    });
    bool noted = true;
    const bool saved =
        SaveEventBytes(bytes, name, prefs.LogSaveMakeBackup, [&](qint64 size, std::uint32_t crc) {
            noted = journal.NoteRecoverySave(name, lastSeq, day, size, crc);
            return noted;
        });
    if (!saved)
        why = noted ? QStringLiteral("écriture impossible")
                    : QStringLiteral("le journal de reprise ne peut pas être écrit");
    return saved;
}

} // namespace

RecoveryResult RecoverEvents(TJournal& journal, const JournalFindings& found, TEventList& list,
                             const TUserPrefs& prefs, const QString& logDir, const QDate& today)
{
    RecoveryResult result;
    std::vector<JournalEvent> toList;
    std::map<QDate, std::vector<JournalEvent>> byDay;
    LocalTimes local;
    for (const JournalEvent& ev : found.Events) {
        const QDate day = local.Day(ev.Ms);
        if (day == today)
            toList.push_back(ev);
        else
            byDay[day].push_back(ev);
    }
    QString dir = logDir;
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    for (const auto& [day, events] : byDay) {
        const QString name =
            dir + day.toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".txt");
        QString why;
        if (MergeIntoDayFile(journal, name, day, found.LastSeq, events, prefs, today.year(), why)) {
            result.IntoDayFiles += int(events.size());
            continue;
        }
        result.Messages << QStringLiteral("%1 évenement(s) du %2 ne peuvent pas rejoindre le "
                                          "fichier %3 (%4) : ils rejoignent la liste.")
                               .arg(events.size())
                               .arg(day.toString(QStringLiteral("dd/MM/yyyy")), name, why);
        toList.insert(toList.end(), events.begin(), events.end());
    }
    list.InsertEvents(ToCaptured(toList));
    result.IntoList = int(toList.size());
    // The events in the list are journaled afresh: the journal found can go.
    if (!journal.Open(toList))
        qCWarning(lcJournal) << "no fresh journal after the recovery:" << journal.Path();
    return result;
}

int ImportJournal(const QString& path, TJournal& journal, TEventList& list)
{
    // Its own journal holds the list's events already.
    if (QFileInfo(path).canonicalFilePath() == QFileInfo(journal.Path()).canonicalFilePath())
        return 0;
    const std::vector<JournalEvent> all = TJournal::ReadEvents(path);
    // Events that reached a file before the journal was kept aside are in the list when
    // that file is loaded: a row with the same second, input, state and duration is taken
    // for the event, once.
    using Key = std::tuple<qint64, std::int32_t, int, std::int32_t>;
    std::map<Key, int> rows;
    for (int r = 0; r < list.rowCount(); ++r) {
        const TEventList::RowFacts f = list.rowFacts(r);
        int suffix = f.Suffix;
        if (f.StateInLabel) {
            const QString& label = list.labelText(f.LabelId);
            suffix = label.endsWith(QStringLiteral(" [ON]"))    ? TEventList::OnSuffix
                     : label.endsWith(QStringLiteral(" [OFF]")) ? TEventList::OffSuffix
                                                                : TEventList::NoSuffix;
        }
        ++rows[Key{f.Seconds, f.Input, suffix, f.DurationMs}];
    }
    std::vector<JournalEvent> events;
    for (const JournalEvent& j : all) {
        const CapturedEvent e = ToCaptured(std::span(&j, 1)).front();
        const int suffix = !e.Suffix ? TEventList::NoSuffix
                           : e.State ? TEventList::OnSuffix
                                     : TEventList::OffSuffix;
        const auto it =
            rows.find(Key{SecondsFromDateTime(e.DateTime), e.InputIndex, suffix, e.DurationMs});
        if (it != rows.end() && it->second > 0)
            --it->second;
        else
            events.push_back(j);
    }
    if (events.empty())
        return 0;
    journal.Append(events.data(), events.size());
    journal.Sync();
    list.InsertEvents(ToCaptured(events));
    return int(events.size());
}

} // namespace evtrak
