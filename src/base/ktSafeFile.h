#pragma once
// Whole files read and written safely: a save never leaves a file half-written or
// missing (a power cut or a kill at any moment leaves the whole old or the whole new
// version), and a read never blocks on a FIFO or a device nor fills the memory.

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <functional>

namespace evtrak {

// What a read accepts. Event files reach a few hundred MB after months of appends at a
// high rate; settings files are a few KB, but their readers take huge lines in their
// stride.
inline constexpr qint64 kMaxEventFileBytes = qint64(512) << 20;   // 512 MiB
inline constexpr qint64 kMaxSettingsFileBytes = qint64(64) << 20; // 64 MiB

struct FileReadResult
{
    enum Status
    {
        Ok,
        Missing, // no such file: an empty file to most callers
        Refused  // not a regular file, too large, or an open or read error
    };
    Status State = Missing;
    QByteArray Bytes;
    QString Reason; // French, for the user: why the file was refused
};

// A system error number as a short French reason for the user ("accès refusé").
QString ErrnoReason(int err);

// Writes all size bytes to fd (again after EINTR and short writes). False, with errno
// set by the failing write (0 after a write of nothing), when they could not all go.
bool WriteAllFd(int fd, const void* data, std::size_t size);

// Opens name without blocking, checks that it is a regular file of at most maxBytes, and
// reads it whole.
FileReadResult ReadRegularFile(const QString& name, qint64 maxBytes);

// Who may read a file that WriteFileSafely creates or rewrites.
enum class FileAccess
{
    Usual,  // a new file follows the umask; a rewrite keeps the mode the file had
    Private // the owner only (0600): the file holds a password; a rewrite never widens
};

// Writes name through write(), which gets a temporary file beside name. The temporary
// file is synced to disk, then, when backupName is not empty and name exists, backupName
// becomes a hard link to the current name (a copy where links are refused), then the
// temporary file is renamed over name and the folder is synced. On any failure name is
// left as it was; error (when given) receives the reason, in French.
// Only a regular file (or a name that does not exist yet) is ever replaced: a directory,
// a FIFO, a socket or a device is refused, whoever runs the program. When name is a
// symbolic link, the file it leads to is written (in that file's own folder, its backup
// beside it) and the link stays.
bool WriteFileSafely(const QString& name, const std::function<bool(QIODevice&)>& write,
                     const QString& backupName = QString(), QString* error = nullptr,
                     FileAccess access = FileAccess::Usual);

// The file that name leads to through symbolic links (name itself when it is no link);
// empty with reason set when the links loop or go too deep.
QString FollowLinks(const QString& name, QString* reason = nullptr);

// Steps of WriteFileSafely, for tests that check what is on disk at each of them.
enum class SafeWriteStep
{
    TempSynced, // the new content is on disk under the temporary name
    BackupMade, // the backup holds the current version (when a backup was asked)
    Replaced    // name holds the new version
};
void SetSafeWriteObserver(std::function<void(SafeWriteStep)> observer);

} // namespace evtrak
