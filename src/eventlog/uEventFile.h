#pragma once
// Event files: one event per line, four fields joined by ';' (label, input index,
// date-time, duration), Windows-1252 bytes, CR LF line ends.

#include "eventlog/uLog.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace evtrak {

// One line (without its line end) as an event; nullopt for a line that is empty, has
// fewer than four fields, or whose index or duration cannot be read. A date that cannot
// be read gives 0. Two-digit years pivot around currentYear.
std::optional<EventRecord> ParseEventLine(QStringView line, int currentYear);

struct EventFileContent
{
    std::vector<EventRecord> Records; // the accepted lines, in file order
    bool Ok = false;                  // false when the file could not be opened or read
};

// Reads a file's events. A line ends at CR LF, CR or LF; a 0x1A byte ends the file.
// Bytes are Windows-1252 unless the whole file is valid UTF-8. After a read error the
// lines read so far are returned with Ok false.
EventFileContent ReadEventFile(const QString& name, int currentYear);

// Replaces the list's rows by the file's events (the list's flags are left alone).
bool LoadEventFile(TEventList& list, const QString& name, int currentYear);

// Writes every row of the list into name, top row first. The content goes to a
// temporary file beside name that replaces name only once completely written; with
// makeBackup the previous name is kept as its backup (BackupFileName) at that moment.
// On failure name (and its backup) are as they were.
bool SaveEventFile(const TEventList& list, const QString& name, bool makeBackup);

// Appends lines (CR LF after each) at the end of name, creating it when missing, and
// flushes. No backup. False when nothing or only a part could be written.
bool AppendEventLines(const QString& name, const QStringList& lines);

// name with its extension replaced by ".bak" (".bak" added when it has none).
QString BackupFileName(const QString& name);

// Moves name to its backup name, replacing an older backup. False when name does not
// exist or cannot be moved.
bool BackupEventFile(const QString& name);

} // namespace evtrak
