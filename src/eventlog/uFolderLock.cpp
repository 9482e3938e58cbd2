#include "eventlog/uFolderLock.h"

#include "base/ktSafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace evtrak {

namespace {

QString FolderText(const QString& folder)
{
    return QDir::toNativeSeparators(QDir::cleanPath(folder));
}

// Exclusive and without waiting. An open-file-description lock belongs to this open of
// the file alone (no other open or close in the process can drop it); flock where the
// kernel or the file system does not know it. Returns 0, or the errno of the failure
// (EWOULDBLOCK when someone else holds it).
int LockFile(int fd)
{
    struct flock fl
    {
    };
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0)
        return 0;
    if (errno == EAGAIN || errno == EACCES)
        return EWOULDBLOCK;
    if (errno != EINVAL)
        return errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return 0;
    return errno == EINTR ? EWOULDBLOCK : errno;
}

FolderLockHolder ParseHolder(const QByteArray& bytes)
{
    FolderLockHolder h;
    // The first value of each key counts: a shorter description written over a longer
    // one may leave the old tail for an instant.
    bool seen[5] = {};
    const QList<QByteArray> lines = bytes.split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        const QString value = QString::fromUtf8(line.mid(eq + 1));
        if (key == "program" && !std::exchange(seen[0], true))
            h.Program = value;
        else if (key == "pid" && !std::exchange(seen[1], true))
            h.Pid = value.toLongLong();
        else if (key == "mode" && !std::exchange(seen[2], true))
            h.Mode = value;
        else if (key == "host" && !std::exchange(seen[3], true))
            h.Host = value;
        else if (key == "since" && !std::exchange(seen[4], true))
            h.Since = QDateTime::fromString(value, Qt::ISODate);
    }
    if (h.Pid <= 0 || !h.Since.isValid())
        h = FolderLockHolder{};
    return h;
}

QByteArray Describe(const QString& mode)
{
    QString program = QCoreApplication::applicationName();
    if (program.isEmpty())
        program = QStringLiteral("evtrak");
    return QStringLiteral("program=%1\npid=%2\nmode=%3\nhost=%4\nsince=%5\n")
        .arg(program, QString::number(qint64(::getpid())), mode, QSysInfo::machineHostName(),
             QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
        .toUtf8();
}

// Whether a description read from the file can be the live holder's: the holder writes
// its own just after locking, so for an instant the file may still describe a process
// that has ended.
bool Plausible(const FolderLockHolder& h)
{
    if (h.Pid <= 0)
        return false;
    if (h.Host != QSysInfo::machineHostName())
        return true; // a shared folder: nothing to check here
    return ::kill(pid_t(h.Pid), 0) == 0 || errno == EPERM;
}

} // namespace

QString TFolderLock::PathIn(const QString& folder)
{
    return QDir(folder).filePath(FileName());
}

TFolderLock::~TFolderLock()
{
    Release();
}

void TFolderLock::Release()
{
    if (m_fd < 0)
        return;
    // A clean end leaves an empty file: only a crash leaves a description behind.
    if (m_held) {
        [[maybe_unused]] const int r = ::ftruncate(m_fd, 0);
    }
    ::close(m_fd);
    m_fd = -1;
    m_held = false;
}

TFolderLock::Result TFolderLock::Acquire(const QString& folder, const QString& mode)
{
    Release();
    m_folder = folder;
    m_path = PathIn(folder);
    m_holder = FolderLockHolder{};
    m_error.clear();
    const QString prefix = QStringLiteral("le dossier Log \"%1\" ne peut pas être verrouillé : ")
                               .arg(FolderText(folder));
    const QString suffix = QStringLiteral(" ; rien n'est fait.");
    const QString notRegular =
        prefix + QStringLiteral("\"%1\" n'est pas un fichier ordinaire").arg(FileName()) + suffix;
    const QByteArray path = QFile::encodeName(m_path);

    // Never through a link, never blocking on a FIFO; the type is checked once open.
    m_fd = ::open(path.constData(),
                  O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (m_fd < 0) {
        const int err = errno;
        struct stat st
        {
        };
        if (err == ELOOP && ::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            m_error = prefix +
                      QStringLiteral("\"%1\" est un lien symbolique, qui n'est pas suivi")
                          .arg(FileName()) +
                      suffix;
        else if (err == EISDIR || err == ENXIO)
            m_error = notRegular;
        else
            m_error = prefix + ErrnoReason(err) + suffix;
        return Result::Failed;
    }
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Release();
        m_error = notRegular;
        return Result::Failed;
    }

    // The holder describes itself just after locking, and a holder on its way out may
    // have emptied the file already: give either a moment.
    int err = 0;
    for (int attempt = 0;; ++attempt) {
        err = LockFile(m_fd);
        if (err != EWOULDBLOCK)
            break;
        if (ReadHolder() || attempt == 20) {
            m_error = BusyText();
            Release();
            return Result::Busy;
        }
        QThread::msleep(50);
    }
    if (err != 0) {
        Release();
        m_error = prefix + ErrnoReason(err) + suffix;
        return Result::Failed;
    }
    m_held = true;

    // Written over the old description, then cut to its length: a reader never finds
    // the file empty while it is held.
    // Held all the same when this fails (a full disk): only the name given to a second
    // process suffers.
    const QByteArray me = Describe(mode);
    if (::pwrite(m_fd, me.constData(), std::size_t(me.size()), 0) == me.size()) {
        [[maybe_unused]] const int r = ::ftruncate(m_fd, me.size());
    }
    return Result::Acquired;
}

bool TFolderLock::ReadHolder()
{
    char buf[1024];
    const ssize_t n = ::pread(m_fd, buf, sizeof buf, 0);
    m_holder = n > 0 ? ParseHolder(QByteArray(buf, n)) : FolderLockHolder{};
    if (Plausible(m_holder))
        return true;
    m_holder = FolderLockHolder{};
    return false;
}

QString TFolderLock::BusyText() const
{
    const QString folder = FolderText(m_folder);
    if (m_holder.Pid <= 0)
        return QStringLiteral("le dossier Log \"%1\" est déjà utilisé par un autre programme ; "
                              "rien n'est fait.")
            .arg(folder);
    QString who = QStringLiteral("pid %1").arg(m_holder.Pid);
    if (m_holder.Host != QSysInfo::machineHostName())
        who += QStringLiteral(" sur %1").arg(m_holder.Host);
    if (!m_holder.Mode.isEmpty())
        who += QStringLiteral(", ") + m_holder.Mode;
    who += QStringLiteral(", depuis le ") +
           m_holder.Since.toLocalTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    return QStringLiteral("le dossier Log \"%1\" est déjà utilisé par %2 (%3) ; rien n'est fait.")
        .arg(folder, m_holder.Program.isEmpty() ? QStringLiteral("evtrak") : m_holder.Program, who);
}

} // namespace evtrak
