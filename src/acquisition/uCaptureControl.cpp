#include "acquisition/uCaptureControl.h"

#include <QLoggingCategory>
#include <span>
#include <sys/eventfd.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcCapture, "evtrak.capture", QtInfoMsg)

namespace evtrak {

namespace {
// A day change whose save failed is tried again at this pace (the policy itself also
// spaces its attempts), never at every pass.
constexpr int kDayRetryMs = 1000;
// The journal reaches the disk itself (fdatasync) at this pace, with room to spare for a
// busy event loop within the second a power cut may cost; between two syncs its records
// are already in the kernel, which a killed process does not lose.
constexpr int kJournalSyncMs = 400;
} // namespace

TCaptureController::TCaptureController(const TUserPrefs& prefs, PortAccess& port, TInterface& itf,
                                       TEventList& list, TSavingPolicy& policy, const Clock& clock,
                                       TickSource& ticks, QObject* parent)
    : QObject(parent), m_prefs(prefs), m_port(port), m_list(list), m_policy(policy), m_clock(clock),
      m_interface(itf), m_stamper(clock), m_dayWatch(m_stamper), m_channel([this] { Wake(); }),
      m_sink(m_channel, m_stamper), m_engine(ticks, m_sink)
{
    m_policy.setCaptureRunningQuery([this] { return CaptureRunning(); });
    m_policy.setWorkerWait([this] { WaitForWorker(); });
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd >= 0) {
        m_wakeNotifier = std::make_unique<QSocketNotifier>(m_wakeFd, QSocketNotifier::Read);
        connect(m_wakeNotifier.get(), &QSocketNotifier::activated, this,
                &TCaptureController::onWorkerWake);
    } else {
        qCWarning(lcCapture) << "no eventfd: the capture cannot start";
    }
    m_dayRetry.setInterval(kDayRetryMs);
    connect(&m_dayRetry, &QTimer::timeout, this, &TCaptureController::onDayRetry);
    m_journalSync.setInterval(kJournalSyncMs);
    m_journalSync.setTimerType(Qt::PreciseTimer);
    connect(&m_journalSync, &QTimer::timeout, this, &TCaptureController::onJournalSync);
}

TCaptureController::~TCaptureController()
{
    // The worker may be in the middle of a pass that ends with a wake-up: nothing it
    // uses is released before it has ended.
    m_thread.Join();
    if (m_journal)
        m_journal->Sync();
    m_wakeNotifier.reset();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_policy.setCaptureRunningQuery({});
    m_policy.setWorkerWait({});
}

void TCaptureController::CaptureInitSystem()
{
    // The channels and the bases belong to the worker while it lives.
    if (m_thread.WorkerAlive())
        return;
    m_engine.ResetChannels(m_prefs);
    SetUpInterface(m_port, m_prefs.PortBaseAddressIndex, m_interface);
    m_engine.SetBases({m_interface.LptBase(), m_interface.SerialBase(), m_interface.GameAddress()});
    m_initialised = true;
}

bool TCaptureController::TestSystem()
{
    m_portAccessible = IsPortAccessible(m_port, m_prefs.PortBaseAddressIndex, m_interface);
    return m_portAccessible;
}

TCaptureController::StartResult TCaptureController::CaptureStart()
{
    m_list.ResetCaptureCount();
    if (!TestSystem())
        return StartResult::NotAccessible;
    if (GetPortKind(m_prefs.PortBaseAddressIndex) != PortKind::Parallel)
        return StartResult::NotLpt;
    m_thread.Reap();
    if (m_thread.WorkerAlive() || m_wakeFd < 0)
        return StartResult::WorkerBusy;
    // An automatic start may come before the first "Réinitialiser système": the worker
    // must not read a port that was never set up.
    if (!m_initialised)
        CaptureInitSystem();
    if (m_prefs.LogSaveAutoOnNewDay)
        m_policy.AdoptDailyFileAtCaptureStart();

    m_engine.LoadCaptureSettings(m_prefs);
    m_engine.SetPort(&m_port);
    m_watchDay = m_prefs.LogSaveAutoOnNewDay;
    // A capture restarted after midnight switches at its first pass.
    m_dayWatch.Arm(m_policy.StartTime());
    m_sink.SetDayWatch(m_watchDay ? &m_dayWatch : nullptr);
    m_dayChangePending = false;
    Drain(); // nothing of an earlier run may follow this run's events
    m_quality.Configure(m_prefs.CaptureStallThreshold, m_prefs.CaptureSamplingPeriod);
    m_quality.PublishStates(m_engine.StateWord());

    const bool started = m_thread.Start(
        m_prefs.CaptureThreadPriority, m_port.backend(),
        [this] {
            m_quality.BeginPass();
            m_engine.SamplePass();
            m_quality.PublishStates(m_engine.StateWord());
            m_sink.Flush(m_watchDay && m_dayWatch.Due());
        },
        [this] { Wake(); });
    if (!started)
        return StartResult::WorkerBusy;
    qCDebug(lcCapture) << "capture started on selection" << m_prefs.PortBaseAddressIndex;
    Q_EMIT captureStateChanged(true);
    return StartResult::Started;
}

bool TCaptureController::CaptureStop()
{
    const bool wasRunning = m_thread.CaptureRunning();
    const bool ended = m_thread.Stop(m_stopLimit);
    m_dayRetry.stop();
    Drain(); // every event recorded before the stop reaches the list
    if (!ended) {
        // Still inside a pass: it is shown stopped once its end notification came.
        qCWarning(lcCapture) << "the capture worker did not leave its pass in time";
        m_stopPending = m_stopPending || wasRunning;
        return false;
    }
    if (wasRunning || m_stopPending)
        Q_EMIT captureStateChanged(false);
    m_stopPending = false;
    return true;
}

void TCaptureController::WaitForWorker()
{
    if (m_thread.CaptureRunning() || !m_thread.WorkerAlive())
        return;
    qCWarning(lcCapture) << "waiting for the stopped capture worker to end";
    m_thread.Join();
    Drain();
    if (m_stopPending)
        Q_EMIT captureStateChanged(false);
    m_stopPending = false;
}

void TCaptureController::DrainNow()
{
    Drain();
}

void TCaptureController::setJournal(TJournal* journal)
{
    m_journal = journal;
    if (m_journal)
        m_journalSync.start();
    else
        m_journalSync.stop();
}

void TCaptureController::onJournalSync()
{
    if (m_journal)
        m_journal->Sync();
}

void TCaptureController::Wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void TCaptureController::onWorkerWake()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    Drain();
    // The worker's end notification: join it once it has left its loop.
    m_thread.Reap();
    Drain();
    if (m_stopPending && !m_thread.WorkerAlive()) {
        m_stopPending = false;
        Q_EMIT captureStateChanged(false);
    }
}

void TCaptureController::onDayRetry()
{
    Drain(); // the events recorded before now stay on the day they belong to
    if (!m_thread.CaptureRunning()) {
        m_dayRetry.stop();
        return;
    }
    if (m_dayChangePending)
        RunDayChange();
}

void TCaptureController::Drain()
{
    // Whatever runs inside the recording (a nested event loop, a message box) must not
    // drain in the middle of this batch: its events would land before the rest of it.
    // Such a call only asks for one more round here.
    if (m_draining) {
        m_drainAgain = true;
        return;
    }
    m_draining = true;
    CaptureBatch batch = std::move(m_spare);
    do {
        m_drainAgain = false;
        m_channel.Take(batch);
        if (batch.empty())
            continue;
        std::size_t from = 0;
        for (const std::size_t mark : batch.dayChanges) {
            RecordRun(batch, from, mark);
            from = mark;
            m_dayWatch.Arm(m_clock.now()); // the worker waits for the next midnight
            RunDayChange();
        }
        RecordRun(batch, from, batch.events.size());
        Q_EMIT eventsArrived();
    } while (m_drainAgain);
    batch.clear();
    m_spare = std::move(batch);
    m_draining = false;
}

void TCaptureController::RecordRun(const CaptureBatch& batch, std::size_t from, std::size_t to)
{
    if (to <= from)
        return;
    // Journaled first: the rows may be appended to their file as they are added, and the
    // journal says so.
    if (m_journal)
        m_journal->Append(batch.events.data() + from, to - from);
    m_run.resize(to - from);
    for (std::size_t i = from; i < to; ++i) {
        const StampedEvent& s = batch.events[i];
        CapturedEvent& e = m_run[i - from];
        e.Suffix = s.Suffix;
        e.State = s.State;
        e.InputIndex = s.InputIndex;
        e.DurationMs = s.DurationMs;
        e.DateTime = m_local.FromMs(s.Ms);
        e.EpochMs = s.Ms;
    }
    const std::span<const CapturedEvent> run(m_run);
    m_list.RecordEvents(run);
    if (m_recordedHook)
        m_recordedHook(run);
}

void TCaptureController::RunDayChange()
{
    if (!m_prefs.LogSaveAutoOnNewDay)
        return;
    if (m_policy.CheckDayChange() || !m_policy.DayChanged()) {
        m_dayChangePending = false;
        m_dayRetry.stop();
        return;
    }
    // The save failed or the question was cancelled: the rows and the current file
    // stay, the capture goes on, and the switch is tried again later.
    m_dayChangePending = true;
    if (!m_dayRetry.isActive())
        m_dayRetry.start();
}

} // namespace evtrak
