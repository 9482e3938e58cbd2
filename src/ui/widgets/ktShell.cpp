#include "ui/widgets/ktShell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace evtrak {

namespace {
std::function<bool(const QString&)>& Hook()
{
    static std::function<bool(const QString&)> hook;
    return hook;
}
} // namespace

bool ShellOpen(const QString& path)
{
    if (Hook())
        return Hook()(path);
    if (!QFileInfo(path).isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString ShellOpenFailedText(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QDir::toNativeSeparators(info.absolutePath());
    if (!info.isFile())
        return QStringLiteral("Le fichier \"%1\" est introuvable dans le dossier %2.")
            .arg(info.fileName(), folder);
    return QStringLiteral("Le fichier \"%1\" (dossier %2) n'a pas pu être ouvert : aucune "
                          "application n'est installée pour l'afficher.")
        .arg(info.fileName(), folder);
}

void SetShellOpenHook(std::function<void(const QString&)> hook)
{
    if (!hook) {
        Hook() = {};
        return;
    }
    Hook() = [hook = std::move(hook)](const QString& path) {
        hook(path);
        return true;
    };
}

void SetShellOpenResultHook(std::function<bool(const QString&)> hook)
{
    Hook() = std::move(hook);
}

} // namespace evtrak
