#include "app/ktAutostart.h"

#include "base/ktSafeFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace evtrak {

QString AutostartDir()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString AutostartEntryPath(const QString& name)
{
    return AutostartDir() + QLatin1Char('/') + name + QStringLiteral(".desktop");
}

QString RunOnceEntryPath(const QString& name)
{
    return AutostartDir() + QLatin1Char('/') + name + QStringLiteral("-runonce.desktop");
}

namespace {

// Quotes one Exec argument: reserved characters force double quotes, inside which
// '"', '`', '$' and '\' take a backslash; then the value's own escaping doubles every
// backslash.
QString ExecArgument(const QString& arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    bool needQuotes = arg.isEmpty();
    for (QChar c : arg)
        if (reserved.contains(c))
            needQuotes = true;
    QString out = arg;
    if (needQuotes) {
        QString q;
        for (QChar c : arg) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                q += QLatin1Char('\\');
            q += c;
        }
        out = QLatin1Char('"') + q + QLatin1Char('"');
    }
    out.replace(QLatin1Char('%'), QStringLiteral("%%"));
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return out;
}

bool WriteEntry(const QString& path, const QByteArray& text)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    return WriteFileSafely(path,
                           [&text](QIODevice& out) { return out.write(text) == text.size(); });
}

bool RemoveEntry(const QString& path)
{
    return !QFile::exists(path) || QFile::remove(path);
}

} // namespace

QByteArray DesktopEntryText(const QString& name, const QString& command)
{
    QString name1 = name;
    name1.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Comment=Acquisition de données\n"
                                        "Exec=%2\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(name1, ExecArgument(command));
    return text.toUtf8();
}

bool SetRunOnStartup(const QString& name, const QString& command, bool runAtLogon, bool runOnce)
{
    bool ok = true;
    const QByteArray entry = DesktopEntryText(name, command);
    ok &= runOnce ? WriteEntry(RunOnceEntryPath(name), entry) : RemoveEntry(RunOnceEntryPath(name));
    ok &= runAtLogon ? WriteEntry(AutostartEntryPath(name), entry)
                     : RemoveEntry(AutostartEntryPath(name));
    return ok;
}

} // namespace evtrak
