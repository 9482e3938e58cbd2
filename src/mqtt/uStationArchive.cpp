#include "mqtt/uStationArchive.h"

#include "base/ktSafeFile.h"
#include "eventlog/uEventFile.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace evtrak {

namespace {

constexpr qint64 kMaxStateBytes = qint64(1) << 20;

std::uint64_t ToCount(const QByteArray& v)
{
    bool ok = false;
    const qulonglong n = v.trimmed().toULongLong(&ok);
    return ok ? n : 0;
}

} // namespace

std::vector<TSeqRange> ParseSeqRanges(const QString& text)
{
    std::vector<TSeqRange> out;
    for (const QString& part : text.split(u',', Qt::SkipEmptyParts)) {
        const qsizetype dash = part.indexOf(u'-');
        bool ok1 = false;
        bool ok2 = false;
        const std::uint64_t a = part.left(dash < 0 ? part.size() : dash).toULongLong(&ok1);
        const std::uint64_t b = dash < 0 ? a : part.mid(dash + 1).toULongLong(&ok2);
        if (ok1 && (dash < 0 || ok2) && a >= 1 && a <= b)
            out.push_back({a, b});
    }
    return out;
}

QString SeqRangesText(const std::vector<TSeqRange>& ranges)
{
    QString out;
    for (const TSeqRange& r : ranges) {
        if (!out.isEmpty())
            out += u',';
        out += r.From == r.To ? QString::number(r.From)
                              : QStringLiteral("%1-%2").arg(r.From).arg(r.To);
    }
    return out;
}

TCollectState ParseCollectState(const QByteArray& text)
{
    TCollectState s;
    s.Present = true;
    bool lostCountGiven = false;
    for (const QByteArray& raw : text.split('\n')) {
        const qsizetype eq = raw.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = raw.left(eq).trimmed();
        const QByteArray value = raw.mid(eq + 1).trimmed();
        if (key == "contiguous")
            s.Contiguous = ToCount(value);
        else if (key == "last_seq")
            s.LastSeq = ToCount(value);
        else if (key == "last_epoch_ms")
            s.LastEpochMs = qint64(ToCount(value));
        else if (key == "filled")
            s.Filled = ToCount(value);
        else if (key == "lost_count") {
            s.LostCount = ToCount(value);
            lostCountGiven = true;
        } else if (key == "gaps")
            s.Gaps = QString::fromUtf8(value);
        else if (key == "lost")
            s.Lost = QString::fromUtf8(value);
        else if (key == "received")
            s.Received = QString::fromUtf8(value);
        else if (key == "batch")
            s.Batch = ToCount(value);
        else if (key == "status")
            s.Status = QString::fromUtf8(value);
    }
    if (!lostCountGiven)
        for (const TSeqRange& r : ParseSeqRanges(s.Lost))
            s.LostCount += r.To - r.From + 1;
    return s;
}

TCollectState ReadCollectState(const QString& file)
{
    const FileReadResult r = ReadRegularFile(file, kMaxStateBytes);
    return r.State == FileReadResult::Ok ? ParseCollectState(r.Bytes) : TCollectState{};
}

void CountDayFile(TDayFileCount& c, int currentYear, qint64 sliceBytes,
                  const std::atomic<bool>* stop)
{
    const QByteArray name = QFile::encodeName(c.File);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st
    {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        c = TDayFileCount{c.File, 0, 0, 0, std::nullopt};
        return;
    }
    if (std::uint64_t(st.st_ino) != c.Inode || st.st_size < c.Offset) {
        c = TDayFileCount{c.File, 0, 0, 0, std::nullopt};
        c.Inode = std::uint64_t(st.st_ino);
    }
    const qint64 end = std::min<qint64>(st.st_size, kMaxEventFileBytes);
    // Slices keep the memory small whatever the file's size; a line longer than a
    // slice is carried into the next.
    QByteArray carry;
    while (c.Offset + carry.size() < end && !(stop && stop->load())) {
        const qint64 from = c.Offset + carry.size();
        QByteArray bytes(std::min(sliceBytes, end - from), Qt::Uninitialized);
        const ssize_t got = ::pread(fd, bytes.data(), size_t(bytes.size()), from);
        if (got <= 0)
            break;
        bytes.truncate(got);
        bytes.prepend(carry);
        const qsizetype lastEnd = bytes.lastIndexOf('\n');
        if (lastEnd < 0) {
            carry = std::move(bytes);
            continue;
        }
        carry = bytes.mid(lastEnd + 1);
        bytes.truncate(lastEnd + 1);
        EventFileContent part;
        ParseEventFileBytes(bytes, currentYear, part);
        c.Count += part.Records.size();
        // The rows come newest first, those of one second in file order: the newest is
        // the last of the first second (a replayed older event never takes its place).
        std::size_t k = 0;
        while (k + 1 < part.Records.size() &&
               part.Records[k + 1].DateTime == part.Records[0].DateTime)
            ++k;
        if (!part.Records.empty() && (!c.Last || part.Records[k].DateTime >= c.Last->DateTime))
            c.Last = std::move(part.Records[k]);
        c.Offset += bytes.size();
    }
    ::close(fd);
}

bool IsSafeStationFolder(const QString& station)
{
    if (station.isEmpty() || station.startsWith(u'.') || station.size() > 200)
        return false;
    return std::none_of(station.begin(), station.end(), [](QChar c) {
        return c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F;
    });
}

QString StationDayFile(const QString& stationsDir, const QString& station, const QDate& day)
{
    return stationsDir + station + u'/' + day.toString(QStringLiteral("yyyy_MM_dd")) +
           QStringLiteral(".txt");
}

std::vector<TArchiveStation> ScanArchive(const QString& stationsDir, const QDate& today,
                                         std::vector<TArchiveStation> previous,
                                         const std::atomic<bool>* stop)
{
    std::map<QString, TDayFileCount> counts;
    for (TArchiveStation& p : previous)
        counts[p.Name] = std::move(p.Today);
    std::vector<TArchiveStation> out;
    const QStringList names =
        QDir(stationsDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (stop && stop->load())
            break;
        if (!IsSafeStationFolder(name))
            continue;
        TArchiveStation s;
        s.Name = name;
        s.Dir = stationsDir + name + u'/';
        s.State = ReadCollectState(s.Dir + QStringLiteral("collect.state"));
        const QString file = StationDayFile(stationsDir, name, today);
        auto found = counts.find(name);
        if (found != counts.end() && found->second.File == file)
            s.Today = std::move(found->second);
        else
            s.Today.File = file;
        CountDayFile(s.Today, today.year(), kDayFileSliceBytes, stop);
        out.push_back(std::move(s));
    }
    return out;
}

} // namespace evtrak
