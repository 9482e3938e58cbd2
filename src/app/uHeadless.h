#pragma once
// Capture without any window, for unattended logging:
//   evtrak --headless [--port-device PATH | --demo]
// Same settings file, files and folders as the windowed program. Each recorded event's
// file line is written to stdout (UTF-8) as it is recorded; SIGINT or SIGTERM stop the
// capture, save a modified list to the current file and end the program. Each stall of
// the sampling goes to stderr as one line; SIGUSR1 prints the pass rate, the longest
// interval between passes and the stall count since the start there (and is ignored
// before the capture and after it: it never ends the program).

#include "app/ktCommandLine.h"

namespace evtrak {

// Needs a QCoreApplication. Exit status: 0 after a stop by signal with everything
// saved; 1 when the final save failed; 2 when the interface was refused ("Accès au
// port sélectionné impossible.") or is not a parallel port ("Not LPT !"), and when the
// Log folder is held by another process or cannot be locked (then nothing is touched).
// Once the day's file is open, the run ends like the window closed by a signal
// (TSession::End): rows recovered from an interrupted run are saved even when the
// capture never started.
int RunHeadless(const CommandLineOptions& options);

} // namespace evtrak
