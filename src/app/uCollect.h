#pragma once
// The site's collector, without a window:
//   evtrak --collect [--mqtt HOST[:PORT]]
// Same settings file as the program ([Mqtt] for the broker, [Collect] for the client id
// and the stations taken). Each station's events go to Log/stations/<station>/, each
// exactly once; lines about the connection, refused stations and lost events go to
// stderr. SIGINT, SIGTERM or SIGHUP stop it after what was received is written.

#include "app/ktCommandLine.h"

namespace evtrak {

// Needs a QCoreApplication. Exit status: 0 after a stop by signal; 2 when no broker is
// set, or the folder is held by another collector or cannot be used.
int RunCollect(const CommandLineOptions& options);

} // namespace evtrak
