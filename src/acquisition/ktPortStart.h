#pragma once
// Choice of the port access backend at program start, with the seams tests use.

#include "acquisition/ktPorts.h"

#include <memory>

namespace evtrak {

class PpdevIo;

struct PortStartSeams
{
    std::shared_ptr<PpdevIo> ppdevIo; // the real system calls when null
    bool tryDirectIo = true;
    QString portSpaceDevice = QStringLiteral("/dev/port");
    QString procRoot; // the kernel's parport folder when empty
};

std::unique_ptr<PortAccess> StartPortDriver(const PortStartOptions& options,
                                            const PortStartSeams& seams);

} // namespace evtrak
