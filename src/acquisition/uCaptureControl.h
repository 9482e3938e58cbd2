#pragma once
// The capture seen from the UI thread: initialise and test the interface, start and
// stop the worker, and carry its events into the event list in emission order.
// Used by the main window and by the headless runner alike.

#include "acquisition/uCapture.h"
#include "acquisition/uCaptureChannel.h"
#include "acquisition/uCaptureClock.h"
#include "acquisition/uCaptureQuality.h"
#include "acquisition/uCaptureThread.h"
#include "acquisition/uPortSelection.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <span>

namespace evtrak {

class TCaptureController : public QObject
{
    Q_OBJECT
public:
    enum class StartResult
    {
        Started,       // capture runs
        NotAccessible, // show "Accès au port sélectionné impossible."
        NotLpt,        // show "Not LPT !"
        WorkerBusy     // the worker of an earlier run has not ended, or no wake-up
                       // descriptor could be made: nothing started
    };

    // prefs is the live settings record, read on the UI thread only. itf is the
    // interface of the window or of the headless run that owns this controller. The
    // controller sets the policy's capture-running query and its wait for a stopped
    // worker. clock stamps events and drives the day change;
    // ticks measure activations. All references must outlive the controller.
    TCaptureController(const TUserPrefs& prefs, PortAccess& port, TInterface& itf, TEventList& list,
                       TSavingPolicy& policy, const Clock& clock = SystemClock(),
                       TickSource& ticks = MonotonicTicks(), QObject* parent = nullptr);
    // Stops a running capture (events kept in the list) and joins the worker before
    // releasing anything it uses.
    ~TCaptureController() override;

    // "Réinitialiser système": reloads the channels from the settings and sets the
    // interface up. Does nothing while a worker is alive.
    void CaptureInitSystem();
    // "Test système": whether the selected interface can be read; stored.
    bool TestSystem();
    // "Démarrer" after CaptureInitSystem and TestSystem: resets the capture count,
    // checks the interface, adopts the day's file when LogSaveAutoOnNewDay is on and
    // starts the worker. Only Started reports (and emits) running.
    StartResult CaptureStart();
    // "Arrêter": clears CaptureRunning and waits at most 500 ms for the worker to leave
    // its loop (returning as soon as it did); every event it recorded is in the list
    // afterwards. Emits captureStateChanged(false) when capture was running and the
    // worker has ended; a worker still inside its pass (false returned) is reported
    // stopped only once it has ended, and file commands wait for it (WaitForWorker).
    bool CaptureStop();
    // Joins a worker told to stop that is still inside its pass, however long that
    // takes, and brings its last events into the list. Nothing while capturing.
    void WaitForWorker();

    bool CaptureRunning() const { return m_thread.CaptureRunning(); }
    bool WorkerAlive() const { return m_thread.WorkerAlive(); }
    bool PortAccessible() const { return m_portAccessible; }
    // Why the selected interface can't be used (empty when nothing more to say).
    QString RefusalReason() const
    {
        return PortRefusalReason(m_port, m_prefs.PortBaseAddressIndex);
    }

    // Called with each run of events just recorded at the top of the list (they are
    // rows 0..size-1, the newest at row 0), after the run is in the list; the headless
    // runner prints their lines. Runs before eventsArrived.
    using RecordedHook = std::function<void(std::span<const CapturedEvent> events)>;
    void setRecordedHook(RecordedHook hook) { m_recordedHook = std::move(hook); }
    // The stop's wait limit (tests shorten it).
    void setStopLimit(std::chrono::milliseconds limit) { m_stopLimit = limit; }
    // The recovery journal (not owned; nullptr: none): every event is written to it as
    // it reaches the list, synced once a second, and emptied by each full save.
    void setJournal(TJournal* journal);
    // Takes whatever the worker has pushed so far into the list now (also done by the
    // posted wake-up; useful before a save).
    void DrainNow();

    const TCaptureEngine& Engine() const { return m_engine; }
    // The pace, gaps and input states the worker publishes (polled by the UI thread).
    TCaptureQuality& Quality() { return m_quality; }
    // Events the worker has handed over that are not in the list yet.
    std::size_t Backlog() const { return m_channel.PendingEvents(); }
    std::uint64_t Passes() const { return m_thread.Passes(); }
    bool ScheduleApplied() const { return m_thread.ScheduleApplied(); }

Q_SIGNALS:
    void captureStateChanged(bool running);
    // Once per drained batch: refresh the banner and the status bar now.
    void eventsArrived();

private Q_SLOTS:
    void onWorkerWake();
    void onDayRetry();
    void onJournalSync();

private:
    // The worker wakes the UI thread through an eventfd watched by a socket notifier:
    // nothing of Qt is touched on the worker, and the events themselves go through the
    // channel's mutex. Without the eventfd no capture starts.
    void Wake();
    void Drain();
    void RecordRun(const CaptureBatch& batch, std::size_t from, std::size_t to);
    void RunDayChange();

    int m_wakeFd = -1;
    std::unique_ptr<QSocketNotifier> m_wakeNotifier;
    const TUserPrefs& m_prefs;
    PortAccess& m_port;
    TEventList& m_list;
    TSavingPolicy& m_policy;
    const Clock& m_clock;
    TInterface& m_interface;
    EventStamper m_stamper;
    DayWatch m_dayWatch;
    TCaptureChannel m_channel;
    TChannelSink m_sink;
    TCaptureEngine m_engine;
    TCaptureQuality m_quality;
    TCaptureThread m_thread;
    CaptureBatch m_spare; // the capacity handed back and forth with the worker
    bool m_draining = false;
    bool m_drainAgain = false;
    TJournal* m_journal = nullptr;
    QTimer m_journalSync;
    std::vector<CapturedEvent> m_run; // one run of the batch, stamped in local time
    LocalStamp m_local;
    bool m_watchDay = false;
    bool m_initialised = false;
    bool m_portAccessible = false;
    bool m_dayChangePending = false;
    bool m_stopPending = false; // stopped while the worker was inside a pass
    QTimer m_dayRetry;
    std::chrono::milliseconds m_stopLimit{500};
    RecordedHook m_recordedHook;
};

} // namespace evtrak
