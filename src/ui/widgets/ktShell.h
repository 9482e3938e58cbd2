#pragma once
// Opening a document with the desktop's default application.

#include <QString>
#include <functional>

namespace evtrak {

// Asks the desktop to open path with its default application. Any failure is ignored.
void ShellOpen(const QString& path);

// Tests replace the desktop with a hook (an empty function restores it).
void SetShellOpenHook(std::function<void(const QString&)> hook);

} // namespace evtrak
