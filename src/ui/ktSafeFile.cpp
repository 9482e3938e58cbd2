#include "ui/ktSafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
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

} // namespace

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
    case ENOTDIR:
        return QStringLiteral("dossier ou fichier introuvable");
    case EIO:
        return QStringLiteral("erreur d'entrée-sortie sur le support");
    case ENOSPC:
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

bool WriteFileSafely(const QString& name, const std::function<bool(QIODevice&)>& write,
                     const QString& backupName, QString* error)
{
    const auto fail = [&](const QString& reason) {
        qCWarning(lcSafeFile) << "cannot write" << name << ":" << reason;
        if (error)
            *error = reason;
        return false;
    };
    const QFileInfo target(name);
    if (name.isEmpty() || target.isDir())
        return fail(ErrnoReason(EISDIR));
    QTemporaryFile temp(target.absoluteFilePath() + QStringLiteral(".XXXXXX"));
    temp.setAutoRemove(true);
    if (!temp.open())
        return fail(temp.errorString());
    if (!write(temp) || !temp.flush())
        return fail(temp.errorString());
    if (::fsync(temp.handle()) != 0)
        return fail(ErrnoReason(errno));
    // The new file gets the permissions of the one it replaces, else the usual ones.
    temp.setPermissions(target.exists() ? target.permissions()
                                        : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                              QFile::ReadOther);
    temp.close();
    Notify(SafeWriteStep::TempSynced);

    // The backup is made while name still holds the current version; a failed backup
    // does not stop the save.
    if (!backupName.isEmpty() && target.exists()) {
        if (!MakeBackup(target.absoluteFilePath(), backupName))
            qCWarning(lcSafeFile) << "cannot keep" << name << "as" << backupName;
        Notify(SafeWriteStep::BackupMade);
    }
    if (std::rename(QFile::encodeName(temp.fileName()).constData(),
                    QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
        return fail(ErrnoReason(errno));
    temp.setAutoRemove(false);
    // The new name must survive a power cut too.
    if (!SyncFolder(target.absolutePath()))
        qCWarning(lcSafeFile) << "cannot sync the folder of" << name;
    Notify(SafeWriteStep::Replaced);
    return true;
}

} // namespace evtrak
