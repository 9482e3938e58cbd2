#pragma once
// One owner per Log folder. The process that captures into a folder (the window, a
// headless run, the collector) holds an exclusive lock on the file "evtrak.lock" in it
// for as long as it lives: the kernel drops the lock when the process ends in any way,
// so a crash never blocks the next start. Only the holder reads, recovers, empties or
// removes the folder's state files (the recovery journal, the MQTT outbox); it takes the
// lock before any of them is opened.
//
// The holder writes who it is into the file (program, pid, mode, host, start time), so
// that a second process refused the folder can name the one that holds it. The file is
// never followed through a symbolic link and must be a regular file.

#include <QDateTime>
#include <QString>

namespace evtrak {

// The modes a holder gives; the window compares with WindowLockMode().
inline QString WindowLockMode()
{
    return QStringLiteral("fenêtre");
}
inline QString HeadlessLockMode()
{
    return QStringLiteral("sans fenêtre");
}
// The collector holds its own folder (Log/stations): a capture may run beside it.
inline QString CollectLockMode()
{
    return QStringLiteral("collecteur");
}

// Who holds a folder, as its holder wrote it.
struct FolderLockHolder
{
    QString Program; // "evtrak"
    qint64 Pid = 0;  // 0 when the file said nothing readable
    QString Mode;    // WindowLockMode(), HeadlessLockMode(), ...
    QString Host;
    QDateTime Since;
};

class TFolderLock
{
public:
    enum class Result
    {
        Acquired, // this object holds the folder
        Busy,     // another process (or another object) holds it: see Holder()
        Failed    // the lock file could not be made or locked: see ErrorText()
    };

    TFolderLock() = default;
    ~TFolderLock(); // releases the lock (the file stays, emptied)
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // Creates the lock file in folder when missing and tries to lock it, without
    // waiting. On success the file describes this process in the given mode.
    Result Acquire(const QString& folder, const QString& mode);

    bool Held() const { return m_fd >= 0 && m_held; }
    QString Path() const { return m_path; }
    // After Busy: the holder, as far as its file tells.
    const FolderLockHolder& Holder() const { return m_holder; }
    // After Busy or Failed: one French sentence without the program's prefix, e.g.
    //   le dossier Log "/x/Log" est déjà utilisé par evtrak (pid 1234, sans fenêtre,
    //   depuis le 08/12/2026 10:00:00) ; rien n'est fait.
    QString ErrorText() const { return m_error; }

    static QString FileName() { return QStringLiteral("evtrak.lock"); }
    static QString PathIn(const QString& folder);

private:
    void Release();
    // Whether the file describes a live holder (then in m_holder).
    bool ReadHolder();
    QString BusyText() const;

    int m_fd = -1;
    bool m_held = false;
    QString m_folder;
    QString m_path;
    FolderLockHolder m_holder;
    QString m_error;
};

} // namespace evtrak
