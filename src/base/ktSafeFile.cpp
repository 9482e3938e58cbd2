#include "base/ktSafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSafeFile, "evtrak.file")

namespace evtrak {

namespace {

std::function<void(SafeWriteStep)>& Observer()
{
    static std::function<void(SafeWriteStep)> observer;
    return observer;
}

void Notify(SafeWriteStep step)
{
    if (Observer())
        Observer()(step);
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool SyncFolder(const QString& folder)
{
    Fd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.get() >= 0 && ::fsync(dir.get()) == 0;
}

// A copy of from, synced, renamed over to. For file systems that refuse hard links.
bool CopyOver(const QString& from, const QString& to)
{
    Fd in(::open(QFile::encodeName(from).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (in.get() < 0)
        return false;
    QTemporaryFile out(to + QStringLiteral(".XXXXXX"));
    if (!out.open())
        return false;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (out.write(buf, n) != n)
            return false;
    }
    if (!out.flush() || ::fsync(out.handle()) != 0)
        return false;
    out.setPermissions(QFileInfo(from).permissions());
    out.close();
    if (std::rename(QFile::encodeName(out.fileName()).constData(),
                    QFile::encodeName(to).constData()) != 0)
        return false;
    out.setAutoRemove(false);
    return true;
}

// backup := the current version of name, without ever touching name.
bool MakeBackup(const QString& name, const QString& backup)
{
    const QByteArray target = QFile::encodeName(name);
    const QByteArray link = QFile::encodeName(backup + QStringLiteral(".new"));
    ::unlink(link.constData());
    if (::link(target.constData(), link.constData()) == 0) {
        if (std::rename(link.constData(), QFile::encodeName(backup).constData()) == 0)
            return true;
        ::unlink(link.constData());
        return false;
    }
    return CopyOver(name, backup);
}

QByteArray ReadLink(const QString& path)
{
    QByteArray buf(4096, Qt::Uninitialized);
    const ssize_t n =
        ::readlink(QFile::encodeName(path).constData(), buf.data(), std::size_t(buf.size()));
    if (n <= 0 || n >= buf.size())
        return QByteArray();
    buf.truncate(n);
    return buf;
}

// The folder of an absolute path, as written (QFileInfo would clean "..").
QString FolderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Why what stands at a path may not be replaced by a regular file; empty when it may.
QString NotRegularReason(bool exists, const struct stat& st)
{
    if (!exists || S_ISREG(st.st_mode))
        return QString();
    if (S_ISDIR(st.st_mode))
        return ErrnoReason(EISDIR);
    return QStringLiteral("ce n'est pas un fichier ordinaire (tube, socket ou périphérique)");
}

// A new file beside path, removed again unless released once renamed into place.
class TempFile
{
public:
    TempFile(const QString& path, mode_t mode)
    {
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            m_name = QFile::encodeName(path) + '.' +
                     QByteArray::number(QRandomGenerator::global()->generate64(), 36);
            m_fd = ::open(m_name.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, mode);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
    }
    ~TempFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_released && m_fd >= 0)
            ::unlink(m_name.constData());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    int fd() const { return m_fd; }
    const QByteArray& name() const { return m_name; }
    void release() { m_released = true; }

private:
    QByteArray m_name;
    int m_fd = -1;
    bool m_released = false;
};

} // namespace

bool WriteAllFd(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

QString ErrnoReason(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return QStringLiteral("accès refusé");
    case EISDIR:
        return QStringLiteral("c'est un dossier, pas un fichier");
    case ELOOP:
        return QStringLiteral("liens symboliques en boucle");
    case ENOENT:
        return QStringLiteral("le dossier n'existe pas");
    case ENOTDIR:
        return QStringLiteral("un élément du chemin n'est pas un dossier");
    case EFBIG:
        return QStringLiteral("taille de fichier maximale atteinte");
    case EIO:
        return QStringLiteral("erreur d'entrée-sortie sur le support");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("disque plein");
    case EROFS:
        return QStringLiteral("support en lecture seule");
    default:
        return QStringLiteral("erreur système %1 (%2)").arg(err).arg(qt_error_string(err));
    }
}

FileReadResult ReadRegularFile(const QString& name, qint64 maxBytes)
{
    FileReadResult r;
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
    Fd fd(
        ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            r.State = FileReadResult::Missing;
            return r;
        }
        r.State = FileReadResult::Refused;
        r.Reason = ErrnoReason(errno);
        return r;
    }
    r.State = FileReadResult::Refused;
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0) {
        r.Reason = ErrnoReason(errno);
        return r;
    }
    if (S_ISDIR(st.st_mode)) {
        r.Reason = ErrnoReason(EISDIR);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.Reason = QStringLiteral("ce n'est pas un fichier ordinaire");
        return r;
    }
    const QString tooLarge =
        QStringLiteral("fichier trop volumineux (plus de %1 Mio)").arg(maxBytes >> 20);
    if (st.st_size > maxBytes) {
        r.Reason = tooLarge;
        return r;
    }
    // The file may grow while it is read: read to its end, never beyond the bound.
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > maxBytes) {
                r.Reason = tooLarge;
                return r;
            }
            bytes.resize(std::min<qsizetype>(got * 2 + 4096, qsizetype(maxBytes) + 1));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + got, std::size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            r.Reason = ErrnoReason(errno);
            return r;
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes) {
        r.Reason = tooLarge;
        return r;
    }
    bytes.truncate(got);
    r.Bytes = std::move(bytes);
    r.State = FileReadResult::Ok;
    return r;
}

void SetSafeWriteObserver(std::function<void(SafeWriteStep)> observer)
{
    Observer() = std::move(observer);
}

QString FollowLinks(const QString& name, QString* reason)
{
    QString path = name;
    // The kernel's own limit on links followed in one path.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st
        {
        };
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        const QString target = QFile::decodeName(ReadLink(path));
        if (target.isEmpty())
            return path;
        // Not cleaned: "a/link/../b" is for the kernel to resolve, ".." after a linked
        // folder leads into the folder the link points to.
        path = QDir::isAbsolutePath(target) ? target : FolderOf(path) + u'/' + target;
    }
    if (reason)
        *reason = ErrnoReason(ELOOP);
    return QString();
}

bool WriteFileSafely(const QString& name, const std::function<bool(QIODevice&)>& write,
                     const QString& backupName, QString* error, FileAccess access)
{
    const auto fail = [&](const QString& reason) {
        qCWarning(lcSafeFile) << "cannot write" << name << ":" << reason;
        if (error)
            *error = reason;
        return false;
    };
    if (name.isEmpty())
        return fail(ErrnoReason(EISDIR));
    // Through a link, the file it leads to is replaced in its own folder and the link
    // stays: replacing the link would cut off whatever else reads or appends through it.
    const QString linkPath = QFileInfo(name).absoluteFilePath();
    QString reason;
    const QString path = FollowLinks(linkPath, &reason);
    if (path.isEmpty())
        return fail(reason);
    const QByteArray pathBytes = QFile::encodeName(path);
    struct stat old
    {
    };
    const bool exists = ::lstat(pathBytes.constData(), &old) == 0;
    // A FIFO, a socket or a device node is never replaced by a regular file, even by root.
    if (!(reason = NotRegularReason(exists, old)).isEmpty())
        return fail(reason);

    TempFile temp(path, access == FileAccess::Private || exists ? 0600 : 0666);
    if (temp.fd() < 0)
        return fail(ErrnoReason(errno));
    {
        QFile out;
        if (!out.open(temp.fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            return fail(ErrnoReason(EIO));
        errno = 0;
        if (!write(out) || !out.flush())
            return fail(errno ? ErrnoReason(errno) : QStringLiteral("écriture interrompue"));
    }
    if (exists) {
        // A rewrite keeps the file's owner where it can, and is never more readable
        // than the file it replaces.
        mode_t mode = old.st_mode & 0777;
        if (access == FileAccess::Private)
            mode &= 0600;
        if (::fchown(temp.fd(), old.st_uid, old.st_gid) != 0) {
            struct stat now
            {
            };
            if (::fstat(temp.fd(), &now) != 0 || now.st_gid != old.st_gid)
                mode &= ~mode_t(0070);
        }
        if (::fchmod(temp.fd(), mode) != 0)
            return fail(ErrnoReason(errno));
    }
    if (::fsync(temp.fd()) != 0)
        return fail(ErrnoReason(errno));
    Notify(SafeWriteStep::TempSynced);

    // The backup is made while the file still holds the current version, beside it; a
    // failed backup does not stop the save.
    if (!backupName.isEmpty() && exists) {
        QString backup = backupName;
        if (path != linkPath) {
            const QString linkBase = QFileInfo(linkPath).completeBaseName();
            QString file = QFileInfo(backupName).fileName();
            if (!linkBase.isEmpty() && file.startsWith(linkBase))
                file = QFileInfo(path).completeBaseName() + file.mid(linkBase.size());
            backup = FolderOf(path) + u'/' + file;
        }
        if (!MakeBackup(path, backup))
            qCWarning(lcSafeFile) << "cannot keep" << path << "as" << backup;
        Notify(SafeWriteStep::BackupMade);
    }
    // Checked again at the last moment: something else may have been put there meanwhile.
    struct stat now
    {
    };
    const bool existsNow = ::lstat(pathBytes.constData(), &now) == 0;
    if (!(reason = NotRegularReason(existsNow, now)).isEmpty())
        return fail(reason);
    if (std::rename(temp.name().constData(), pathBytes.constData()) != 0)
        return fail(ErrnoReason(errno));
    temp.release();
    // The new name must survive a power cut too.
    if (!SyncFolder(FolderOf(path)))
        qCWarning(lcSafeFile) << "cannot sync the folder of" << path;
    Notify(SafeWriteStep::Replaced);
    return true;
}

} // namespace evtrak
