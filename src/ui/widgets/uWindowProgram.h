#pragma once
// The windowed program's entry.

namespace evtrak {

struct CommandLineOptions;

// The windowed program: creates the window, runs the start-up and the event loop.
// A QApplication exists already.
int RunMainWindow(const CommandLineOptions& options);

} // namespace evtrak
