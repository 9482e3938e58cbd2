#pragma once
// One capture session, wired once: the settings, the event list, the saving policy, the
// recovery journal, the capture, MQTT publishing, the stop signals and the ownership of
// the Log folder. The window and the headless run are front-ends over it; both go through
// the same start-up, in this order:
//   ReadSettings -> TakeLogFolder -> StartPort (or UsePort) -> OpenDayFile
//   -> RecoverJournal -> the interface test and the capture,
// and leave through End: the capture stopped and its worker ended, the list saved as
// the mode says, the journal finished when every row is on disk, the broker's wait,
// the Log folder released.

#include "acquisition/uCaptureControl.h"
#include "app/ktPaths.h"
#include "base/uUserPrompt.h"
#include "eventlog/uFolderLock.h"
#include "eventlog/uJournal.h"
#include "settings/uUserPrefs.h"

#include <QObject>
#include <array>
#include <chrono>
#include <memory>
#include <span>

namespace evtrak {

class PortAccess;
class TEventList;
class TMqttStation;
class TSavingPolicy;
class TStopSignals;

struct SessionSetup
{
    QString exeDir;               // the executable's folder (the paths are found from it)
    const Clock* clock = nullptr; // nullptr: the system clock
    UserPrompt* prompt = nullptr; // the front-end's questions and boxes; nullptr: none
};

class TSession : public QObject
{
    Q_OBJECT
public:
    explicit TSession(const SessionSetup& setup, QObject* parent = nullptr);
    // Stops a running capture (its worker joined) before anything it uses goes.
    ~TSession() override;

    // SIGINT, SIGTERM and SIGHUP ask for a stop, SIGUSR1 for the figures (see
    // stopRequested and figuresRequested). false when they could not be installed.
    bool InstallStopSignals();
    // A stop signal came: a question open meanwhile decides nothing.
    bool StopRequested() const { return m_stopRequested; }

    // The front-end's questions and boxes (the window gives its own once it exists).
    void SetPrompt(UserPrompt* prompt);
    // Without a prompt (headless runs, and the window from a stop signal on: see End) no
    // question is asked and no box shown: what would be asked gets Yes, what would be
    // shown goes to standard error. No setting is touched for it.

    // 1. The folders and the settings file; the stored column widths are kept for the
    // window (StoredColumnWidth). false when the file exists but cannot be read (the
    // defaults are used and the user is told).
    bool ReadSettings();
    // A column width the settings file gave, -1 when it gave none.
    int StoredColumnWidth(int column) const;
    // 2. Only the folder's owner goes further: nothing in the Log folder (journal,
    // outbox, day's file) nor the port is touched before this succeeds.
    TFolderLock::Result TakeLogFolder(const QString& mode);
    const TFolderLock& folderLock() const { return *m_lock; }
    // 3. The port: started here for the stored parallel-port selection, or given (tests).
    void StartPort(PortStartOptions options);
    void UsePort(PortAccess& ports);
    // 4. Reads the journal an interrupted run left (cutting a torn tail off its day's
    // file first), then loads or begins the day's file. false when the day's file
    // exists but was refused (the list is then untitled).
    bool OpenDayFile();
    // 5. Offers back what the journal found and no file holds, then opens this run's
    // journal. With questions, the user is asked (Non keeps the journal aside); without,
    // the events are taken back.
    enum class Recovery
    {
        Nothing,   // no event to offer
        Recovered, // back in the list or in their day's files
        KeptAside, // declined: the journal is kept under another name
        Stopped    // a stop came while the question was open: the journal stays as it was
    };
    Recovery RecoverJournal();
    // A journal kept aside by an earlier run ("Fichier > Récupérer un journal..."): its
    // events the list lacks join it, unsaved, and this run's journal. Returns how many.
    int ImportKeptJournal(const QString& path);
    // 6. "Réinitialiser système", "Test système" and "Démarrer" in one go.
    TCaptureController::StartResult StartCapture();

    // The one way out. Ask: the window's close (may ask to save; Cancelled when the user
    // cancelled, everything then stays as it was apart from the stopped capture).
    // NoQuestions: a stop by signal or the end of a headless run: unsaved rows go to the
    // current file (the day's file for an untitled list), SaveFailed when they could not.
    // The journal is finished only when no row is left unsaved by a failure; the broker
    // gets mqttGrace for what is pending. The port, then the Log folder, are released
    // when the session is destroyed.
    enum class EndMode
    {
        Ask,
        NoQuestions
    };
    enum class EndResult
    {
        Done,
        Cancelled,
        SaveFailed
    };
    EndResult End(EndMode mode, std::chrono::milliseconds mqttGrace);
    bool Ended() const { return m_ended; }

    // Called with each run of events recorded, after it is in the list and before MQTT
    // gets it (the headless run prints their lines).
    void setRecordedHook(TCaptureController::RecordedHook hook) { m_frontHook = std::move(hook); }

    const Clock& clock() const { return m_clock; }
    const AppPaths& paths() const { return m_paths; }
    TUserPrefs& prefs() { return m_prefs; }
    TEventList& eventList() { return *m_list; }
    TSavingPolicy& savingPolicy() { return *m_policy; }
    TCaptureController& capture() { return *m_capture; }
    TMqttStation& mqtt() { return *m_mqtt; }
    // Publishing follows the settings (the port's name goes into the messages).
    void ConfigureMqtt();

Q_SIGNALS:
    void stopRequested();
    void figuresRequested();
    // A line for the terminal (a torn line cut off, events recovered, per-event appends
    // failing or working again, MQTT's connection and outbox): the headless run prints
    // it; the window leaves it to the developers' log.
    void notice(const QString& text);

private:
    class Prompt;

    const Clock& m_clock;
    QString m_exeDir;
    std::unique_ptr<Prompt> m_prompt;
    AppPaths m_paths;
    TUserPrefs m_prefs;
    std::array<int, kColumnCount> m_columnWidths{};
    std::unique_ptr<TEventList> m_list;
    std::unique_ptr<TSavingPolicy> m_policy;
    std::unique_ptr<TMqttStation> m_mqtt;
    std::unique_ptr<TJournal> m_journal;
    std::unique_ptr<TFolderLock> m_lock;
    std::unique_ptr<PortAccess> m_ownPorts;
    TInterface m_interface;
    std::unique_ptr<TCaptureController> m_capture;
    std::unique_ptr<TStopSignals> m_signals;
    JournalFindings m_found;
    TCaptureController::RecordedHook m_frontHook;
    bool m_stopRequested = false;
    bool m_ended = false;
};

} // namespace evtrak
