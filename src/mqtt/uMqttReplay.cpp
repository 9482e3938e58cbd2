#include "mqtt/uMqttReplay.h"

#include "base/ktSafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace evtrak {

namespace {

constexpr qint64 kSegmentMs = 3600 * 1000; // a new segment every hour
constexpr qint64 kChunk = 256 * 1024;

QString SegmentName(std::uint64_t first)
{
    return QStringLiteral("%1.rpl").arg(qulonglong(first), 20, 10, QLatin1Char('0'));
}

// Cuts what follows the last line end of an open file (a line torn by a crash).
void CutTornTail(int fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || st.st_size == 0)
        return;
    QByteArray buf;
    for (qint64 end = st.st_size; end > 0;) {
        const qint64 from = std::max<qint64>(0, end - kChunk);
        buf.resize(end - from);
        if (::pread(fd, buf.data(), std::size_t(buf.size()), from) != buf.size())
            return;
        const qsizetype nl = buf.lastIndexOf('\n');
        if (nl >= 0) {
            if (from + nl + 1 < st.st_size) [[maybe_unused]]
                const int r = ::ftruncate(fd, from + nl + 1);
            return;
        }
        end = from;
    }
    [[maybe_unused]] const int r = ::ftruncate(fd, 0);
}

} // namespace

TReplayStore::TReplayStore(QString folder, int days, qint64 segmentBytes, qint64 maxBytes)
    : m_folder(std::move(folder)), m_days(days), m_segmentBytes(segmentBytes), m_maxBytes(maxBytes)
{}

TReplayStore::~TReplayStore()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TReplayStore::Open()
{
    m_open = false;
    m_segments.clear();
    if (m_days <= 0) {
        m_open = true;
        return true;
    }
    struct stat st
    {
    };
    const QByteArray dir = QFile::encodeName(m_folder);
    if (!QDir().mkpath(m_folder) || ::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        m_error = QStringLiteral("le dossier de rejeu %1 ne peut pas être utilisé : %2")
                      .arg(m_folder, ErrnoReason(errno ? errno : ENOTDIR));
        return false;
    }
    const QStringList names =
        QDir(m_folder).entryList({QStringLiteral("*.rpl")}, QDir::Files | QDir::NoSymLinks);
    for (const QString& name : names) {
        bool ok = false;
        const std::uint64_t first = name.left(name.size() - 4).toULongLong(&ok);
        if (ok && first > 0 && name.size() == 24)
            m_segments.push_back({first, QDir(m_folder).filePath(name)});
    }
    std::sort(m_segments.begin(), m_segments.end(),
              [](const ReplaySegment& a, const ReplaySegment& b) { return a.First < b.First; });
    if (!m_segments.empty()) {
        const QByteArray last = QFile::encodeName(m_segments.back().Path);
        const int fd = ::open(last.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
                CutTornTail(fd);
            ::close(fd);
        }
    }
    Prune();
    m_open = true;
    return true;
}

void TReplayStore::Prune()
{
    const qint64 cutoff = QDateTime::currentMSecsSinceEpoch() - qint64(m_days) * 86400 * 1000;
    qint64 total = 0;
    std::vector<qint64> sizes;
    std::vector<qint64> mtimes;
    for (const ReplaySegment& s : m_segments) {
        struct stat st
        {
        };
        const bool ok = ::stat(QFile::encodeName(s.Path).constData(), &st) == 0;
        sizes.push_back(ok ? qint64(st.st_size) : 0);
        mtimes.push_back(ok ? qint64(st.st_mtime) * 1000 : 0);
        total += sizes.back();
    }
    // Oldest first, never the newest: what stays is one run of numbers.
    std::size_t drop = 0;
    while (drop + 1 < m_segments.size() && (mtimes[drop] < cutoff || total > m_maxBytes)) {
        ::unlink(QFile::encodeName(m_segments[drop].Path).constData());
        total -= sizes[drop];
        ++drop;
    }
    m_segments.erase(m_segments.begin(), m_segments.begin() + std::ptrdiff_t(drop));
}

bool TReplayStore::StartSegment(std::uint64_t first)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    const QString path = QDir(m_folder).filePath(SegmentName(first));
    const int fd =
        ::open(QFile::encodeName(path).constData(),
               O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    struct stat st
    {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        m_error = QStringLiteral("le fichier de rejeu %1 ne peut pas être écrit : %2")
                      .arg(path, ErrnoReason(fd < 0 ? errno : EINVAL));
        return false;
    }
    m_fd = fd;
    m_size = st.st_size;
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    if (m_segments.empty() || m_segments.back().First < first)
        m_segments.push_back({first, path});
    Prune();
    return true;
}

bool TReplayStore::Append(const OutboxEntry* entries, std::size_t count)
{
    if (!m_open || m_days <= 0 || count == 0)
        return m_open;
    const std::uint64_t first = entries[0].Seq;
    if (m_fd < 0 || m_size >= m_segmentBytes || first <= m_last ||
        QDateTime::currentMSecsSinceEpoch() - m_startedMs >= kSegmentMs) {
        if (!StartSegment(first))
            return false;
    }
    QByteArray out;
    out.reserve(qsizetype(count) * 256);
    for (std::size_t i = 0; i < count; ++i) {
        out += QByteArray::number(qulonglong(entries[i].Seq));
        out += ' ';
        out += entries[i].Payload;
        out += '\n';
    }
    if (!WriteAllFd(m_fd, out.constData(), std::size_t(out.size()))) {
        m_error = QStringLiteral("le fichier de rejeu ne peut pas être écrit : %1")
                      .arg(ErrnoReason(errno));
        [[maybe_unused]] const int r = ::ftruncate(m_fd, m_size); // no half line stays
        return false;
    }
    m_size += out.size();
    m_last = entries[count - 1].Seq;
    return true;
}

int TReplayStore::DuplicateHandle() const
{
    return m_fd >= 0 ? ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0) : -1;
}

bool TReplayCursor::Step(const std::vector<ReplaySegment>& segments, std::uint64_t lastUsed,
                         std::size_t max, std::vector<OutboxEntry>& out,
                         std::vector<std::pair<std::uint64_t, std::uint64_t>>& missing)
{
    const std::uint64_t end = std::min(m_to, lastUsed);
    const auto lose = [&](std::uint64_t upTo) {
        upTo = std::min(upTo, end);
        if (m_next <= upTo) {
            missing.emplace_back(m_next, upTo);
            m_next = upTo + 1;
        }
    };
    const std::size_t start = out.size();
    QByteArray buf;
    while (out.size() - start < max) {
        if (m_next > end)
            return true;
        // The segment that holds m_next: the last one that starts at or before it.
        auto it =
            std::upper_bound(segments.begin(), segments.end(), m_segment ? m_segment : m_next,
                             [](std::uint64_t v, const ReplaySegment& s) { return v < s.First; });
        if (it == segments.begin()) { // before the oldest segment kept
            if (segments.empty()) {
                lose(end);
                return true;
            }
            lose(segments.front().First - 1);
            m_segment = segments.front().First;
            m_offset = 0;
            continue;
        }
        --it;
        if (m_segment == 0 || it->First != m_segment) { // first look, or removed meanwhile
            m_segment = it->First;
            m_offset = 0;
        }
        const auto next = std::next(it);
        const int fd =
            ::open(QFile::encodeName(it->Path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        qint64 got = 0;
        if (fd >= 0) {
            buf.resize(kChunk);
            got = ::pread(fd, buf.data(), std::size_t(kChunk), m_offset);
            ::close(fd);
        }
        const qsizetype lastNl =
            got > 0 ? QByteArrayView(buf.constData(), got).lastIndexOf('\n') : -1;
        if (lastNl < 0) {
            if (got == kChunk) { // a line longer than any record: damage, skipped
                m_offset += got;
                continue;
            }
            // This segment is read: what it lacked up to the next one has no record.
            if (next == segments.end()) {
                lose(end);
                return true;
            }
            lose(next->First - 1);
            m_next = std::max(m_next, next->First);
            m_segment = next->First;
            m_offset = 0;
            continue;
        }
        qsizetype pos = 0;
        while (pos <= lastNl && out.size() - start < max) {
            const qsizetype nl = buf.indexOf('\n', pos);
            const QByteArrayView line(buf.constData() + pos, nl - pos);
            m_offset += nl + 1 - pos;
            pos = nl + 1;
            const qsizetype sp = line.indexOf(' ');
            bool ok = false;
            const std::uint64_t seq = sp > 0 ? line.first(sp).toULongLong(&ok) : 0;
            if (!ok || seq < m_next || sp + 1 >= line.size())
                continue;
            if (seq > end) {
                lose(end);
                return true;
            }
            lose(seq - 1);
            out.push_back({seq, line.sliced(sp + 1).toByteArray()});
            m_next = seq + 1;
        }
    }
    return m_next > end;
}

} // namespace evtrak
