#include "app/ktPaths.h"

#include "base/uResStr.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace evtrak {

namespace {

QString WithSlash(QString dir)
{
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

bool MakeDir(const QString& path, QStringList* errors)
{
    if (QFileInfo(path).isDir())
        return true;
    if (QDir().mkdir(path) || QFileInfo(path).isDir())
        return true;
    if (errors != nullptr)
        errors->append(ResStr::CannotCreateFolder(path));
    return false;
}

// Whether the copy keeps its files beside itself. A writable folder alone is not
// enough: root can write into /usr/local/bin, and settings must never land there.
bool IsPortable(const QString& appDir)
{
    return QFileInfo::exists(appDir + QLatin1String(kPortableMarker)) ||
           QFileInfo::exists(appDir + QStringLiteral("evtrak.ini"));
}

// The help page and the readme: beside the program, else in the installed share folder.
QString FindShipped(const QString& appDir, const QString& name)
{
    const QString beside = appDir + name;
    const QStringList shares{appDir + QStringLiteral("../share/evtrak/"),
                             QStringLiteral("/usr/local/share/evtrak/"),
                             QStringLiteral("/usr/share/evtrak/")};
    if (QFileInfo::exists(beside))
        return beside;
    for (const QString& dir : shares) {
        const QString candidate = QDir::cleanPath(dir + name);
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return beside;
}

QString UserDir(QStandardPaths::StandardLocation location)
{
    return WithSlash(QStandardPaths::writableLocation(location) + QStringLiteral("/evtrak"));
}

} // namespace

bool ForceDirs(const QString& path, QStringList* errors)
{
    if (path.isEmpty())
        return false;
    // Every level up to a separator, from the start; stop at the first that fails.
    for (qsizetype i = 1; i < path.size(); ++i) {
        if (path.at(i) != QLatin1Char('/'))
            continue;
        if (!MakeDir(path.left(i), errors))
            break;
    }
    QString whole = path;
    while (whole.size() > 1 && whole.endsWith(QLatin1Char('/')))
        whole.chop(1);
    return MakeDir(whole, errors);
}

AppPaths InitPaths(const QString& exeDir, const Clock& clock)
{
    AppPaths p;
    p.StartTime = clock.now();
    p.AppDir = WithSlash(QDir(exeDir).absolutePath());
    p.AppDirWritable = IsPortable(p.AppDir);
    if (p.AppDirWritable) {
        p.ConfDir = p.AppDir;
        p.PrefsFileName = p.AppDir + QStringLiteral("evtrak.ini");
    } else {
        p.ConfDir = UserDir(QStandardPaths::GenericDataLocation);
        const QString configDir = UserDir(QStandardPaths::GenericConfigLocation);
        ForceDirs(configDir, &p.Errors);
        p.PrefsFileName = configDir + QStringLiteral("evtrak.ini");
    }
    p.LogDir = p.ConfDir + QStringLiteral("Log/");
    if (!QFileInfo(p.LogDir).isDir())
        ForceDirs(p.LogDir, &p.Errors);
    p.HelpFile = FindShipped(p.AppDir, QStringLiteral("evtrak.html"));
    p.ReadmeFile = FindShipped(p.AppDir, QStringLiteral("A_Lire.txt"));
    return p;
}

} // namespace evtrak
