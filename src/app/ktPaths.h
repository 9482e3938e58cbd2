#pragma once
// The program's paths, computed once at start-up.
//
// AppDir is the executable's folder. A portable copy (a build tree, an unpacked copy)
// keeps the settings file, the folder "Log" and ConfDir there: it is marked by the file
// "evtrak.portable" beside the program, or by an "evtrak.ini" already there (copies set
// up before the marker existed). Any other copy, an installed one above all, uses the
// user's folders whoever runs it, even root: $XDG_DATA_HOME/evtrak for Log and ConfDir,
// $XDG_CONFIG_HOME/evtrak for the settings file. The help page and the readme are looked
// up beside the executable, then in the installed share folder.

#include "eventlog/uDateTexts.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace evtrak {

struct AppPaths
{
    QString AppDir;              // the executable's folder, ending with '/'
    QString LogDir;              // folder of the daily files, ending with '/'
    QString ConfDir;             // first folder of the configuration dialogs, ending with '/'
    QString PrefsFileName;       // the program's settings file (evtrak.ini)
    QString HelpFile;            // evtrak.html (may not exist: the help command says so)
    QString ReadmeFile;          // A_Lire.txt (may not exist)
    QDateTime StartTime;         // local time when InitPaths ran
    bool AppDirWritable = false; // files kept beside the program (a portable copy)
    // French messages for folders that could not be created ("Impossible de créer le
    // répertoire \"...\""), in the order they happened; the UI shows each in a box.
    QStringList Errors;
};

// The marker file that makes a copy of the program portable.
inline constexpr char kPortableMarker[] = "evtrak.portable";

// Computes every path and creates LogDir (and the settings folder) when missing.
// Never fails: a folder that cannot be made is reported in Errors.
AppPaths InitPaths(const QString& exeDir, const Clock& clock = SystemClock());

// Makes sure every level of path exists, walking it from the start and stopping at the
// first level that cannot be made, then checks the whole path once more. Each failure
// appends its message to errors. Returns whether the whole path exists afterwards.
bool ForceDirs(const QString& path, QStringList* errors = nullptr);

} // namespace evtrak
