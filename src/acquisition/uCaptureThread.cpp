#include "acquisition/uCaptureThread.h"

#include <QLoggingCategory>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcCaptureThread, "evtrak.capture.thread", QtWarningMsg)

namespace evtrak {

ThreadSchedule ScheduleForPriority(int level)
{
    using C = ThreadSchedule::Class;
    switch (level) {
    case 0:
        return {C::Idle, 0, 0};
    case 1:
        return {C::Normal, 10, 0};
    case 2:
        return {C::Normal, 5, 0};
    case 4:
        return {C::Normal, -5, 0};
    case 5:
        return {C::Normal, -10, 0};
    case 6:
        return {C::Fifo, 0, sched_get_priority_min(SCHED_FIFO)};
    default:
        return {C::Normal, 0, 0}; // 3 "Normale", and any other value
    }
}

bool ApplyThreadSchedule(const ThreadSchedule& schedule)
{
    sched_param param{};
    switch (schedule.schedClass) {
    case ThreadSchedule::Class::Idle:
        return pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0;
    case ThreadSchedule::Class::Fifo:
        param.sched_priority = schedule.fifoPriority;
        return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    case ThreadSchedule::Class::Normal:
        break;
    }
    // A nice value set on a thread id applies to that thread only (Linux).
    const int tid = static_cast<int>(gettid());
    if (getpriority(PRIO_PROCESS, static_cast<id_t>(tid)) == schedule.nice)
        return true;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), schedule.nice) == 0;
}

TCaptureThread::~TCaptureThread()
{
    Join();
}

bool TCaptureThread::Start(int priority, PortBackend* backend, std::function<void()> pass,
                           std::function<void()> onEnd)
{
    Reap(); // a worker that has already left its loop does not stand in the way
    if (m_alive.load(std::memory_order_acquire))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_leftLoop = false;
    }
    m_pass = std::move(pass);
    m_onEnd = std::move(onEnd);
    m_passes.store(0, std::memory_order_relaxed);
    m_running.store(true, std::memory_order_release);
    m_alive.store(true, std::memory_order_release);
    try {
        m_thread = std::thread([this, priority, backend] { Body(priority, backend); });
    } catch (const std::system_error& e) {
        qCWarning(lcCaptureThread) << "cannot create the capture thread:" << e.what();
        m_running.store(false, std::memory_order_release);
        m_alive.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

void TCaptureThread::Body(int priority, PortBackend* backend)
{
    if (backend != nullptr)
        backend->prepareThread();
    const bool applied = ApplyThreadSchedule(ScheduleForPriority(priority));
    m_scheduleApplied.store(applied);
    if (!applied)
        qCInfo(lcCaptureThread) << "priority level" << priority << "refused; kept as it is";
    std::uint64_t passes = 0;
    do {
        m_pass();
        m_passes.store(++passes, std::memory_order_relaxed);
    } while (m_running.load(std::memory_order_acquire));
    {
        std::lock_guard lock(m_mutex);
        m_leftLoop = true;
    }
    m_left.notify_all();
    if (m_onEnd)
        m_onEnd();
}

bool TCaptureThread::Stop(std::chrono::milliseconds limit)
{
    m_running.store(false, std::memory_order_release);
    if (!m_thread.joinable()) {
        m_alive.store(false, std::memory_order_release);
        return true;
    }
    {
        std::unique_lock lock(m_mutex);
        if (!m_left.wait_for(lock, limit, [this] { return m_leftLoop; }))
            return false; // still in a pass: its end notification will reap it
    }
    m_thread.join();
    m_alive.store(false, std::memory_order_release);
    return true;
}

void TCaptureThread::Join()
{
    m_running.store(false, std::memory_order_release);
    if (m_thread.joinable())
        m_thread.join();
    m_alive.store(false, std::memory_order_release);
}

void TCaptureThread::Reap()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (!m_leftLoop)
            return;
    }
    m_thread.join();
    m_alive.store(false, std::memory_order_release);
}

} // namespace evtrak
