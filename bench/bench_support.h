#pragma once
// Small measuring tools the benchmarks share.

#include <QElapsedTimer>
#include <sys/resource.h>

namespace evtrak::bench {

inline double Ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// The process's peak resident memory so far.
inline long PeakMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

} // namespace evtrak::bench
