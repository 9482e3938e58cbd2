#include "base/uClock.h"

namespace evtrak {

namespace {

class RealClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace

const Clock& SystemClock()
{
    static const RealClock clock;
    return clock;
}

} // namespace evtrak
