#pragma once
// Event files: one event per line, four fields joined by ';' (label, input index,
// date-time, duration), Windows-1252 bytes, CR LF line ends.

#include "base/ktSafeFile.h"
#include "eventlog/uLog.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace evtrak {

// One line (without its line end) as an event; nullopt for a line that is empty, has
// fewer than four fields, or whose index or duration cannot be read. A date that cannot
// be read gives 0. Two-digit years pivot around currentYear.
std::optional<EventRecord> ParseEventLine(QStringView line, int currentYear);

struct EventFileContent
{
    // The accepted lines, newest first by date-time (those of one second in file order;
    // a date that cannot be read counts as the oldest).
    std::vector<EventRecord> Records;
    std::vector<KeptLine> Kept; // the other lines (empty lines aside), in file order
    FileReadResult::Status State = FileReadResult::Missing;
    QString Reason; // why the file was refused (French)
    bool Ok() const { return State == FileReadResult::Ok; }
};

// Reads a file's events. Only a regular file of at most kMaxEventFileBytes is read;
// anything else is refused (Records empty). A line ends at CR LF, CR or LF; a 0x1A byte
// ends the file. Each line is UTF-8 when it is valid UTF-8, else Windows-1252. A line
// that is not an event (or whose label holds what a label may not) is kept byte for byte.
EventFileContent ReadEventFile(const QString& name, int currentYear);
// The reading of ReadEventFile from the bytes of a file: fills Records and Kept.
void ParseEventFileBytes(QByteArray bytes, int currentYear, EventFileContent& content);

// Replaces the list's rows and kept lines by the file's (the list's flags are left
// alone). A refused file changes nothing. True when the file was read.
bool LoadEventFile(TEventList& list, const QString& name, int currentYear);

// Writes every row of the list into name, top row first, with its kept lines. Through
// WriteFileSafely: name always holds its whole old or new content; with makeBackup the
// previous version is kept as BackupFileName(name). On failure name is as it was.
// beforeCommit, when given, gets the new content's size and CRC-32 once it is written and
// before it replaces name; false from it abandons the save. error, when given, gets the
// reason of a failure in French.
using BeforeCommit = std::function<bool(qint64 size, std::uint32_t crc)>;
bool SaveEventFile(const TEventList& list, const QString& name, bool makeBackup,
                   const BeforeCommit& beforeCommit = {}, QString* error = nullptr);
// The same for the bytes of a whole event file.
bool SaveEventBytes(const QByteArray& bytes, const QString& name, bool makeBackup,
                    const BeforeCommit& beforeCommit = {}, QString* error = nullptr);

// Appends lines (CR LF after each) at the end of name, creating it when missing, and
// flushes. No backup. False when nothing or only a part could be written, and when name
// is not a regular file.
// beforeWrite, when given, gets the offset the lines go to, their size and CRC-32 just
// before they are written.
using BeforeAppend = std::function<void(qint64 offset, qint64 size, std::uint32_t crc)>;
bool AppendEventLines(const QString& name, const QStringList& lines,
                      const BeforeAppend& beforeWrite = {});

// name with its extension replaced by ".bak" (".bak" added when it has none).
QString BackupFileName(const QString& name);

} // namespace evtrak
