#pragma once
// The capture worker: a std::thread running sampling passes back to back while
// CaptureRunning stays true, at the scheduling class chosen by CaptureThreadPriority.

#include "acquisition/ktPorts.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace evtrak {

// Linux scheduling for the seven priority levels of CaptureThreadPriority.
struct ThreadSchedule
{
    enum class Class
    {
        Idle,
        Normal,
        Fifo
    };
    Class schedClass = Class::Normal;
    int nice = 0;         // for Normal
    int fifoPriority = 0; // for Fifo
    friend bool operator==(const ThreadSchedule&, const ThreadSchedule&) = default;
};

// 0 SCHED_IDLE, 1 nice 10, 2 nice 5, 3 nice 0, 4 nice -5, 5 nice -10, 6 SCHED_FIFO at
// its lowest priority; any other value as 3.
ThreadSchedule ScheduleForPriority(int level);
// Applies a schedule to the calling thread; false when the system refused (ignored by
// the worker: it keeps the priority it has).
bool ApplyThreadSchedule(const ThreadSchedule& schedule);

class TCaptureThread
{
public:
    TCaptureThread() = default;
    ~TCaptureThread(); // stops and joins a worker still running
    TCaptureThread(const TCaptureThread&) = delete;
    TCaptureThread& operator=(const TCaptureThread&) = delete;

    // Starts a worker that calls backend->prepareThread() (when given), applies the
    // schedule of `priority`, then calls pass() until CaptureRunning is false, and
    // finally onEnd() (on the worker: it may only post a notification). Returns false,
    // starting nothing and leaving CaptureRunning false, when a worker of an earlier run
    // has not ended or the thread cannot be created.
    bool Start(int priority, PortBackend* backend, std::function<void()> pass,
               std::function<void()> onEnd);
    // Clears CaptureRunning and waits at most `limit` for the worker to leave its loop;
    // joins it when it did (returns at once then). Returns whether the worker is gone.
    bool Stop(std::chrono::milliseconds limit);
    // Clears CaptureRunning and waits for the worker to end, however long its pass
    // takes: afterwards nothing of the worker runs any more.
    void Join();
    // The worker's end notification, on the UI thread: joins a worker that has left its
    // loop and clears WorkerAlive. Harmless when there is none.
    void Reap();

    bool CaptureRunning() const { return m_running.load(std::memory_order_acquire); }
    bool WorkerAlive() const { return m_alive.load(std::memory_order_acquire); }
    // Whether the last worker's schedule was granted (for the log and the tests).
    bool ScheduleApplied() const { return m_scheduleApplied.load(); }
    std::uint64_t Passes() const { return m_passes.load(std::memory_order_relaxed); }

private:
    void Body(int priority, PortBackend* backend);

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_alive{false};
    std::atomic<bool> m_scheduleApplied{false};
    std::atomic<std::uint64_t> m_passes{0};
    std::mutex m_mutex;
    std::condition_variable m_left;
    bool m_leftLoop = false; // guarded by m_mutex
    std::thread m_thread;
    std::function<void()> m_pass;
    std::function<void()> m_onEnd;
};

} // namespace evtrak
