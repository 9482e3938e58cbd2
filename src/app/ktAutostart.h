#pragma once
// Start at log-on: a desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart), named after the program
// and running it by its full path. The run-once entry is a second desktop entry that the
// program never creates but removes whenever the settings are applied.

#include <QString>

namespace evtrak {

// The autostart folder (without trailing separator).
QString AutostartDir();
// The entry files for a program name ("evtrak" → ".../evtrak.desktop",
// ".../evtrak-runonce.desktop").
QString AutostartEntryPath(const QString& name);
QString RunOnceEntryPath(const QString& name);

// The contents of an entry running command (quoted as desktop entries require).
QByteArray DesktopEntryText(const QString& name, const QString& command);

// Writes or removes the two entries. Returns false when an entry could not be written
// or removed (the caller decides whether to tell the user).
bool SetRunOnStartup(const QString& name, const QString& command, bool runAtLogon, bool runOnce);

} // namespace evtrak
