#include "eventlog/uEventFile.h"

#include "eventlog/uTextNumbers.h"
#include "ui/ktMisc.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QTemporaryFile>
#include <array>
#include <cstdio>
#include <unistd.h>

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

bool IsS(QChar c)
{
    return c == u's' || c == u'S';
}

// Duration field: "<n> ms" (integer), "<x> s" (decimal seconds) or a bare integer of ms.
bool ReadDurationField(QStringView field, std::int32_t& ms)
{
    qsizetype msAt = -1;
    qsizetype sAt = -1;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if ((field[i] == u'm' || field[i] == u'M') && i + 1 < field.size() && IsS(field[i + 1])) {
            msAt = i;
            break;
        }
        if (sAt < 0 && IsS(field[i]))
            sAt = i;
    }
    if (msAt >= 0)
        return ReadInt32(field.left(msAt).trimmed(), ms);
    if (sAt >= 0)
        return ReadDecimalSecondsAsMs(field.left(sAt).trimmed(), ms, false);
    return ReadInt32(field.trimmed(), ms);
}

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
            // The text after the last ';' is a field only when it is not empty.
            if (start < line.size())
                fields[n++] = line.mid(start);
            break;
        }
        fields[n++] = line.mid(start, sep - start);
        start = sep + 1;
    }
    if (n < 4)
        return false;
    out.Label = fields[0];
    if (!ReadInt32(fields[1], out.Index) || !ReadDurationField(fields[3], out.DurationMs))
        return false;
    out.DateTime = ParseEventDateTime(fields[2], currentYear);
    return true;
}

// Moves from to to, replacing to. POSIX rename is atomic within one file system.
bool RenameReplacing(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    qCWarning(lcEventFile) << "cannot rename" << from << "to" << to << ":"
                           << qt_error_string(errno);
    return false;
}

// Event files are Windows-1252 unless the whole file is valid UTF-8. The byte-by-byte
// decoding of a large file goes through a table made once from DecodeText.
QString DecodeFileText(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n && p[i] < 0x80)
        ++i;
    if (i == n)
        return QString::fromLatin1(bytes);
    if (QByteArrayView(bytes).sliced(i).isValidUtf8())
        return QString::fromUtf8(bytes);
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            t[std::size_t(b)] =
                b < 0x80 ? char16_t(b) : DecodeText(QByteArrayView(&c, 1))[0].unicode();
        }
        return t;
    }();
    QString out(n, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype k = 0; k < n; ++k)
        o[k] = table[p[k]];
    return out;
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
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        qCInfo(lcEventFile) << "cannot open" << name << ":" << file.errorString();
        return content;
    }
    QByteArray bytes = file.readAll();
    content.Ok = file.error() == QFileDevice::NoError;
    if (!content.Ok)
        qCWarning(lcEventFile) << "read error in" << name << ":" << file.errorString();
    file.close();
    const qsizetype eof = bytes.indexOf('\x1A');
    if (eof >= 0)
        bytes.truncate(eof);
    const QString text = DecodeFileText(bytes);
    bytes = QByteArray();

    // Rows usually share a handful of labels: share their texts too.
    QHash<QStringView, QString> labels;
    content.Records.reserve(std::size_t(text.size() / 40));
    const QChar* data = text.constData();
    const qsizetype size = text.size();
    qsizetype start = 0;
    LineFields f;
    while (start < size) {
        qsizetype end = start;
        while (end < size && data[end] != u'\r' && data[end] != u'\n')
            ++end;
        if (SplitLine(QStringView(data + start, end - start), currentYear, f)) {
            auto it = labels.find(f.Label);
            if (it == labels.end())
                it = labels.insert(f.Label, f.Label.toString());
            content.Records.push_back(EventRecord{it.value(), f.Index, f.DateTime, f.DurationMs});
        }
        // CR LF, CR alone and LF alone all end a line.
        if (end < size && data[end] == u'\r' && end + 1 < size && data[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
    return content;
}

bool LoadEventFile(TEventList& list, const QString& name, int currentYear)
{
    list.ClearEvents();
    const EventFileContent content = ReadEventFile(name, currentYear);
    list.AppendEvents(content.Records);
    return content.Ok;
}

bool SaveEventFile(const TEventList& list, const QString& name, bool makeBackup)
{
    const QFileInfo target(name);
    if (name.isEmpty() || target.isDir())
        return false;
    QTemporaryFile temp(target.absoluteFilePath() + QStringLiteral(".XXXXXX"));
    temp.setAutoRemove(true);
    if (!temp.open()) {
        qCWarning(lcEventFile) << "cannot create a file beside" << name << ":"
                               << temp.errorString();
        return false;
    }
    QByteArray buffer;
    buffer.reserve(1 << 20);
    const int rows = list.rowCount();
    bool ok = true;
    for (int first = 0; ok && first < rows; first += kRowsPerWrite) {
        buffer.truncate(0);
        list.AppendFileBytes(buffer, first, kRowsPerWrite);
        ok = WriteAll(temp, buffer);
    }
    ok = ok && temp.flush() && ::fsync(temp.handle()) == 0;
    if (!ok) {
        qCWarning(lcEventFile) << "cannot write" << name << ":" << temp.errorString();
        return false;
    }
    // The new file gets the permissions of the one it replaces, else the usual ones.
    temp.setPermissions(target.exists() ? target.permissions()
                                        : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                              QFile::ReadOther);
    temp.close();

    QString backup;
    if (makeBackup && target.exists()) {
        backup = BackupFileName(name);
        // A failed backup does not stop the save.
        if (!RenameReplacing(name, backup))
            backup.clear();
    }
    if (!RenameReplacing(temp.fileName(), name)) {
        if (!backup.isEmpty())
            RenameReplacing(backup, name);
        return false;
    }
    temp.setAutoRemove(false);
    return true;
}

bool AppendEventLines(const QString& name, const QStringList& lines)
{
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCInfo(lcEventFile) << "cannot append to" << name << ":" << file.errorString();
        return false;
    }
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += EncodeText(line);
        bytes += "\r\n";
    }
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

bool BackupEventFile(const QString& name)
{
    if (!QFileInfo::exists(name))
        return false;
    return RenameReplacing(name, BackupFileName(name));
}

} // namespace evtrak
