#pragma once
// Opening a document with the desktop's default application.

#include <QString>
#include <functional>

namespace evtrak {

// Asks the desktop to open path with its default application. False when the file is
// missing or no application could be started for it.
bool ShellOpen(const QString& path);

// The French message for a document ShellOpen could not open: names the file and its
// folder.
QString ShellOpenFailedText(const QString& path);

// Tests replace the desktop with a hook (an empty function restores it). The first form
// opens every document; the second says whether it could.
void SetShellOpenHook(std::function<void(const QString&)> hook);
void SetShellOpenResultHook(std::function<bool(const QString&)> hook);

} // namespace evtrak
