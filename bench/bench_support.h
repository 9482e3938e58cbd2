#pragma once
// Small measuring tools the benchmarks share.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <functional>
#include <sys/resource.h>
#include <thread>

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

inline double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Waits until done() holds, looking every poll; with runEvents the thread's Qt events
// are handled between two looks. False when limitMs passed first.
inline bool WaitFor(const std::function<bool()>& done, int limitMs, std::chrono::microseconds poll,
                    bool runEvents)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        if (runEvents)
            QCoreApplication::processEvents();
        std::this_thread::sleep_for(poll);
    }
    return true;
}

} // namespace evtrak::bench
