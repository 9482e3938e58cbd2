#include "eventlog/uEventFile.h"

#include "base/ktMisc.h"
#include "base/uLabelText.h"
#include "eventlog/uJournal.h"
#include "eventlog/uTextNumbers.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <algorithm>
#include <array>
#include <limits>
#include <numeric>

Q_LOGGING_CATEGORY(lcEventFile, "evtrak.eventfile")

namespace evtrak {

namespace {

constexpr int kRowsPerWrite = 16384;

// The fields of a line as views into it.
struct LineFields
{
    QStringView Label;
    std::int32_t Index = 0;
    TDateTime DateTime = 0.0;
    std::int32_t DurationMs = 0;
};

bool SplitLine(QStringView line, int currentYear, LineFields& out)
{
    if (line.isEmpty())
        return false;
    QStringView fields[4];
    qsizetype start = 0;
    int n = 0;
    while (n < 4) {
        const qsizetype sep = line.indexOf(u';', start);
        if (sep < 0) {
            // After three separators the rest is the duration, empty or not (an empty
            // duration is 0 ms); otherwise the text after the last ';' is a field only
            // when it is not empty.
            if (start < line.size() || n == 3)
                fields[n++] = line.mid(start);
            break;
        }
        fields[n++] = line.mid(start, sep - start);
        start = sep + 1;
    }
    if (n < 4)
        return false;
    out.Label = fields[0];
    if (!IsValidLabel(out.Label) || !ReadInt32(fields[1], out.Index) ||
        !ParseDurationText(fields[3], out.DurationMs))
        return false;
    out.DateTime = ParseEventDateTime(fields[2], currentYear);
    return true;
}

// Decodes the bytes line by line (each line UTF-8 when valid UTF-8, else Windows-1252)
// into out, which holds enough room for them all, so views into it stay valid.
// Windows-1252 goes through a table made once from DecodeText.
void AppendDecodedLine(QByteArrayView line, QString& out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n && p[i] < 0x80)
        ++i;
    if (i < n && line.sliced(i).isValidUtf8()) {
        out += QString::fromUtf8(line);
        return;
    }
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            t[std::size_t(b)] =
                b < 0x80 ? char16_t(b) : DecodeText(QByteArrayView(&c, 1))[0].unicode();
        }
        return t;
    }();
    const qsizetype at = out.size();
    out.resize(at + n);
    char16_t* o = reinterpret_cast<char16_t*>(out.data()) + at;
    for (qsizetype k = 0; k < n; ++k)
        o[k] = table[p[k]];
}

// Puts the records newest first by date-time, as the list shows them, whatever order
// the file holds (per-event saving appends oldest first after a newest-first save).
// Rows of one second keep their file order. On entry each kept line's RowsAfter is the
// index of the record that follows it in the file; on return it counts the rows after
// it in the new order: a line goes before the record it preceded, lines above the
// first record stay on top and lines after the last one at the bottom.
void SortNewestFirst(EventFileContent& content)
{
    std::vector<EventRecord>& recs = content.Records;
    const int rows = int(recs.size());
    const auto secondsOf = [](const EventRecord& r) {
        // A date without text is saved as none, which reads back as the zero date.
        const qint64 s = SecondsFromDateTime(r.DateTime);
        return s == kNoDateSeconds ? kUnreadDateSeconds : s;
    };
    // A file saved by the program is newest first already: checked, not sorted.
    qint64 previous = std::numeric_limits<qint64>::max();
    const auto unsorted = std::find_if(recs.begin(), recs.end(), [&](const EventRecord& r) {
        const qint64 s = secondsOf(r);
        const bool later = s > previous;
        previous = s;
        return later;
    });
    if (unsorted == recs.end()) {
        for (KeptLine& k : content.Kept)
            k.RowsAfter = rows - k.RowsAfter;
        return;
    }
    std::vector<qint64> seconds(recs.size());
    for (std::size_t i = 0; i < recs.size(); ++i)
        seconds[i] = secondsOf(recs[i]);
    // Rows of one second keep their order of capture: the file's order where the file
    // runs newest first, the reverse where it runs oldest first (per-event appends).
    std::vector<int> rank(recs.size());
    for (int i = 0; i < rows;) {
        int end = i + 1;
        while (end < rows && seconds[std::size_t(end)] == seconds[std::size_t(i)])
            ++end;
        const qint64 s = seconds[std::size_t(i)];
        const bool oldestFirst = i > 0 ? seconds[std::size_t(i - 1)] < s
                                       : end < rows && seconds[std::size_t(end)] > s;
        for (int k = i; k < end; ++k)
            rank[std::size_t(k)] = oldestFirst ? i + end - 1 - k : k;
        i = end;
    }
    std::vector<int> order(recs.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&seconds, &rank](int a, int b) {
        const qint64 sa = seconds[std::size_t(a)], sb = seconds[std::size_t(b)];
        return sa != sb ? sa > sb : rank[std::size_t(a)] < rank[std::size_t(b)];
    });
    std::vector<int> place(recs.size());
    std::vector<EventRecord> sortedRecs;
    sortedRecs.reserve(recs.size());
    for (int i = 0; i < rows; ++i) {
        place[std::size_t(order[std::size_t(i)])] = i;
        sortedRecs.push_back(std::move(recs[std::size_t(order[std::size_t(i)])]));
    }
    recs = std::move(sortedRecs);
    for (KeptLine& k : content.Kept) {
        const int next = k.RowsAfter;
        k.RowsAfter = next == 0 ? rows : next >= rows ? 0 : rows - place[std::size_t(next)];
    }
    std::stable_sort(
        content.Kept.begin(), content.Kept.end(),
        [](const KeptLine& a, const KeptLine& b) { return a.RowsAfter > b.RowsAfter; });
}

bool WriteAll(QFile& f, const QByteArray& bytes)
{
    return f.write(bytes) == bytes.size();
}

} // namespace

std::optional<EventRecord> ParseEventLine(QStringView line, int currentYear)
{
    LineFields f;
    if (!SplitLine(line, currentYear, f))
        return std::nullopt;
    return EventRecord{f.Label.toString(), f.Index, f.DateTime, f.DurationMs};
}

EventFileContent ReadEventFile(const QString& name, int currentYear)
{
    EventFileContent content;
    FileReadResult file = ReadRegularFile(name, kMaxEventFileBytes);
    content.State = file.State;
    content.Reason = file.Reason;
    if (file.State != FileReadResult::Ok) {
        if (file.State == FileReadResult::Refused)
            qCWarning(lcEventFile) << "refused" << name << ":" << file.Reason;
        return content;
    }
    ParseEventFileBytes(std::move(file.Bytes), currentYear, content);
    return content;
}

void ParseEventFileBytes(QByteArray bytes, int currentYear, EventFileContent& content)
{
    const qsizetype eof = bytes.indexOf('\x1A');
    if (eof >= 0)
        bytes.truncate(eof);

    // The decoded text never holds more characters than the file has bytes.
    QString text;
    text.reserve(bytes.size());
    // Rows usually share a handful of labels: share their texts too.
    QHash<QStringView, QString> labels;
    content.Records.reserve(std::size_t(bytes.size() / 40));
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    LineFields f;
    while (start < size) {
        qsizetype end = start;
        while (end < size && data[end] != '\r' && data[end] != '\n')
            ++end;
        const QByteArrayView raw(data + start, end - start);
        const qsizetype at = text.size();
        AppendDecodedLine(raw, text);
        const QStringView line = QStringView(text).sliced(at);
        if (SplitLine(line, currentYear, f)) {
            auto it = labels.find(f.Label);
            if (it == labels.end())
                it = labels.insert(f.Label, f.Label.toString());
            content.Records.push_back(EventRecord{it.value(), f.Index, f.DateTime, f.DurationMs});
        } else if (!raw.isEmpty()) {
            // Filled with the rows after it once they are all counted.
            content.Kept.push_back(KeptLine{raw.toByteArray(), int(content.Records.size())});
        }
        // CR LF, CR alone and LF alone all end a line.
        if (end < size && data[end] == '\r' && end + 1 < size && data[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    SortNewestFirst(content);
}

bool LoadEventFile(TEventList& list, const QString& name, int currentYear)
{
    EventFileContent content = ReadEventFile(name, currentYear);
    if (content.State == FileReadResult::Refused)
        return false;
    list.ClearEvents();
    list.AppendEvents(content.Records);
    list.SetKeptLines(std::move(content.Kept));
    return content.Ok();
}

bool SaveEventFile(const TEventList& list, const QString& name, bool makeBackup,
                   const BeforeCommit& beforeCommit, QString* error)
{
    const auto write = [&list, &beforeCommit](QIODevice& out) {
        QByteArray buffer;
        buffer.reserve(1 << 20);
        const int rows = list.rowCount();
        int first = 0;
        qint64 size = 0;
        std::uint32_t crc = 0;
        // At least once: a list without rows may still hold kept lines.
        do {
            buffer.truncate(0);
            list.AppendFileBytes(buffer, first, kRowsPerWrite);
            if (out.write(buffer) != buffer.size())
                return false;
            size += buffer.size();
            crc = Crc32Update(crc, buffer.constData(), std::size_t(buffer.size()));
            first += kRowsPerWrite;
        } while (first < rows);
        // Told before the new content takes the name's place.
        return !beforeCommit || beforeCommit(size, crc);
    };
    return WriteFileSafely(name, write, makeBackup ? BackupFileName(name) : QString(), error);
}

bool SaveEventBytes(const QByteArray& bytes, const QString& name, bool makeBackup,
                    const BeforeCommit& beforeCommit, QString* error)
{
    const auto write = [&bytes, &beforeCommit](QIODevice& out) {
        if (out.write(bytes) != bytes.size())
            return false;
        return !beforeCommit || beforeCommit(bytes.size(), Crc32Update(0, bytes.constData(),
                                                                       std::size_t(bytes.size())));
    };
    return WriteFileSafely(name, write, makeBackup ? BackupFileName(name) : QString(), error);
}

bool AppendEventLines(const QString& name, const QStringList& lines,
                      const BeforeAppend& beforeWrite)
{
    // Never append into a FIFO or a device (and never wait on one).
    const QFileInfo info(name);
    if (info.exists() && !info.isFile())
        return false;
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCInfo(lcEventFile) << "cannot append to" << name << ":" << file.errorString();
        return false;
    }
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += EncodeLineText(line);
        bytes += "\r\n";
    }
    // The lines go to the end: what is there now is where they start.
    if (beforeWrite)
        beforeWrite(file.size(), bytes.size(),
                    Crc32Update(0, bytes.constData(), std::size_t(bytes.size())));
    const bool ok = WriteAll(file, bytes) && file.flush();
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

QString BackupFileName(const QString& name)
{
    const qsizetype slash = name.lastIndexOf(u'/');
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > slash)
        return name.left(dot) + QStringLiteral(".bak");
    return name + QStringLiteral(".bak");
}

} // namespace evtrak
