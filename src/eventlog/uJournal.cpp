#include "eventlog/uJournal.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcJournal, "evtrak.journal")

namespace evtrak {

namespace {

constexpr std::size_t kPayload = 20;

std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

std::uint32_t Crc32(const unsigned char* p, std::size_t n)
{
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i)
        c = table[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
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

bool WriteAll(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool Exists(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

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

QString TJournal::RecoveryPath() const
{
    QString p = m_path;
    if (p.endsWith(QStringLiteral(".bin")))
        p.chop(4);
    return p + QStringLiteral("_a_recuperer.bin");
}

void TJournal::Encode(const JournalEvent& ev, unsigned char* out)
{
    Put(out, static_cast<std::uint64_t>(ev.Ms), 8);
    Put(out + 8, static_cast<std::uint32_t>(ev.InputIndex), 4);
    Put(out + 12, static_cast<std::uint32_t>(ev.DurationMs), 4);
    Put(out + 16, (ev.Suffix ? 1u : 0u) | (ev.State ? 2u : 0u), 4);
    Put(out + 20, Crc32(out, kPayload), 4);
}

std::vector<JournalEvent> TJournal::Read(const QString& path)
{
    std::vector<JournalEvent> events;
    // Only a regular file is read, without blocking on a FIFO.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return events;
    struct stat st
    {
    };
    std::vector<unsigned char> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(std::size_t(st.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    std::size_t at = 0;
    while (at + kRecordSize <= bytes.size()) {
        const unsigned char* r = bytes.data() + at;
        const std::uint32_t flags = std::uint32_t(Get(r + 16, 4));
        if (std::uint32_t(Get(r + 20, 4)) != Crc32(r, kPayload) || flags > 3u) {
            ++at; // a damaged or torn record: look for the next whole one
            continue;
        }
        JournalEvent ev;
        ev.Ms = static_cast<std::int64_t>(Get(r, 8));
        ev.InputIndex = static_cast<std::int32_t>(Get(r + 8, 4));
        ev.DurationMs = static_cast<std::int32_t>(Get(r + 12, 4));
        ev.Suffix = (flags & 1u) != 0;
        ev.State = (flags & 2u) != 0;
        if (ev.InputIndex >= 0 && ev.InputIndex < kInputCount)
            events.push_back(ev);
        at += kRecordSize;
    }
    return events;
}

std::vector<JournalEvent> TJournal::TakeOver()
{
    const QString recovery = RecoveryPath();
    const QByteArray live = QFile::encodeName(m_path);
    if (Exists(m_path)) {
        if (!Exists(recovery)) {
            if (::rename(live.constData(), QFile::encodeName(recovery).constData()) != 0)
                qCWarning(lcJournal) << "cannot move the journal aside:" << strerror(errno);
        } else {
            // A recovery was interrupted too: the later journal joins it.
            const std::vector<JournalEvent> later = Read(m_path);
            const int fd = ::open(QFile::encodeName(recovery).constData(),
                                  O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
            bool ok = fd >= 0;
            if (ok) {
                std::vector<unsigned char> bytes(later.size() * kRecordSize);
                for (std::size_t i = 0; i < later.size(); ++i)
                    Encode(later[i], bytes.data() + i * kRecordSize);
                ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fdatasync(fd) == 0;
                ::close(fd);
            }
            if (ok)
                ::unlink(live.constData());
        }
    }
    // A recovery killed after its events joined the new journal left them twice: an
    // input cannot record the same change twice in the same millisecond.
    std::vector<JournalEvent> found;
    QSet<QByteArray> seen;
    for (const JournalEvent& ev : Read(recovery)) {
        QByteArray key(int(kRecordSize), '\0');
        Encode(ev, reinterpret_cast<unsigned char*>(key.data()));
        if (!seen.contains(key)) {
            seen.insert(key);
            found.push_back(ev);
        }
    }
    if (found.empty())
        ::unlink(QFile::encodeName(recovery).constData());
    return found;
}

bool TJournal::Open()
{
    if (m_fd >= 0)
        return true;
    m_fd = ::open(QFile::encodeName(m_path).constData(),
                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (m_fd < 0) {
        m_openError = errno;
        qCWarning(lcJournal) << "cannot open the journal" << m_path << strerror(m_openError);
        return false;
    }
    m_openError = 0;
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        m_openError = EINVAL;
        qCWarning(lcJournal) << "the journal is not a regular file:" << m_path;
        return false;
    }
    return true;
}

void TJournal::Append(const JournalEvent* events, std::size_t count)
{
    if (m_fd < 0 || count == 0)
        return;
    m_buffer.resize(count * kRecordSize);
    for (std::size_t i = 0; i < count; ++i)
        Encode(events[i], m_buffer.data() + i * kRecordSize);
    if (!WriteAll(m_fd, m_buffer.data(), m_buffer.size())) {
        if (!m_writeFailed)
            qCWarning(lcJournal) << "journal write failed:" << strerror(errno);
        m_writeFailed = true;
    }
    m_dirty = true;
}

void TJournal::Sync()
{
    if (m_fd < 0 || !m_dirty)
        return;
    m_dirty = false;
    ::fdatasync(m_fd);
}

void TJournal::Clear()
{
    if (m_fd < 0)
        return;
    if (::ftruncate(m_fd, 0) != 0)
        qCWarning(lcJournal) << "cannot empty the journal:" << strerror(errno);
    m_dirty = false;
}

void TJournal::Finish()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
        ::unlink(QFile::encodeName(m_path).constData());
    }
}

void TJournal::AcceptRecovered(std::span<const JournalEvent> events)
{
    if (!events.empty()) {
        Append(events.data(), events.size());
        Sync();
        if (m_fd < 0 || m_writeFailed)
            return; // the recovery file stays until they are safe
    }
    ::unlink(QFile::encodeName(RecoveryPath()).constData());
}

QString TJournal::KeepRecoveredAside(const QDateTime& now)
{
    QString aside = m_path;
    if (aside.endsWith(QStringLiteral(".bin")))
        aside.chop(4);
    aside += QStringLiteral("_non_recupere_") + now.toString(QStringLiteral("yyyy_MM_dd_HHmmss"));
    QString name = aside + QStringLiteral(".bin");
    for (int n = 2; Exists(name); ++n)
        name = aside + QStringLiteral("_%1.bin").arg(n);
    if (::rename(QFile::encodeName(RecoveryPath()).constData(),
                 QFile::encodeName(name).constData()) != 0) {
        qCWarning(lcJournal) << "cannot keep the journal aside:" << strerror(errno);
        return RecoveryPath();
    }
    return name;
}

namespace {

std::vector<CapturedEvent> ToCaptured(std::span<const JournalEvent> events)
{
    std::vector<CapturedEvent> out;
    out.reserve(events.size());
    for (const JournalEvent& j : events) {
        CapturedEvent e;
        e.Suffix = j.Suffix;
        e.State = j.State;
        e.InputIndex = j.InputIndex;
        e.DurationMs = j.DurationMs;
        e.DateTime = DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(j.Ms));
        out.push_back(e);
    }
    return out;
}

} // namespace

void DropListedEvents(const TEventList& list, const TUserPrefs& prefs,
                      std::vector<JournalEvent>& events)
{
    if (events.empty() || list.rowCount() == 0)
        return;
    QHash<QString, int> listed;
    for (int row = 0; row < list.rowCount(); ++row)
        ++listed[list.fileLine(row)];
    // The events' lines, made as the list makes them.
    TEventList scratch(prefs);
    const std::vector<CapturedEvent> captured = ToCaptured(events);
    scratch.RecordEvents(captured);
    const int n = int(events.size());
    std::vector<JournalEvent> kept;
    for (int i = 0; i < n; ++i) {
        const auto it = listed.find(scratch.fileLine(n - 1 - i)); // newest on top
        if (it != listed.end() && it.value() > 0)
            --it.value();
        else
            kept.push_back(events[std::size_t(i)]);
    }
    events.swap(kept);
}

void InsertRecoveredEvents(TEventList& list, std::span<const JournalEvent> events)
{
    list.InsertEvents(ToCaptured(events));
}

} // namespace evtrak
