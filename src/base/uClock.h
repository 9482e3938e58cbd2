#pragma once
// The local clock every layer reads "now" from.

#include <QDateTime>

namespace evtrak {

// Source of "now" (local clock). Injectable so tests can stand at any date.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};
// The process's real clock.
const Clock& SystemClock();

} // namespace evtrak
