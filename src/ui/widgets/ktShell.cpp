#include "ui/widgets/ktShell.h"

#include <QDesktopServices>
#include <QUrl>

namespace evtrak {

namespace {
std::function<void(const QString&)>& Hook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}
} // namespace

void ShellOpen(const QString& path)
{
    if (Hook()) {
        Hook()(path);
        return;
    }
    (void)QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SetShellOpenHook(std::function<void(const QString&)> hook)
{
    Hook() = std::move(hook);
}

} // namespace evtrak
