#include "app/uSession.h"

#include "acquisition/ktPorts.h"
#include "app/ktStopSignals.h"
#include "base/ktMisc.h"
#include "base/ktSafeFile.h"
#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "mqtt/uMqttStation.h"

#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSession, "evtrak.session")

namespace evtrak {

// The front-end's prompt, or nobody: without questions what would be asked gets Yes and
// what would be shown goes to standard error.
class TSession::Prompt : public UserPrompt
{
public:
    UserPrompt* front = nullptr;
    bool noQuestions = false;
    int printed = 0; // lines written to standard error so far

    bool Asking() const { return front && !noQuestions; }
    Answer AskYesNoCancel(const QString& text) override
    {
        return Asking() ? front->AskYesNoCancel(text) : Answer::Yes;
    }
    Answer AskYesNo(const QString& text) override
    {
        return Asking() ? front->AskYesNo(text) : Answer::Yes;
    }
    void Inform(const QString& text) override
    {
        if (Asking())
            front->Inform(text);
        else
            Print(text);
    }
    void ShowError(const QString& text) override
    {
        if (Asking())
            front->ShowError(text);
        else
            Print(text);
    }
    QString ChooseEventFileToSave(const QString& dir, const QString& proposedName) override
    {
        return Asking() ? front->ChooseEventFileToSave(dir, proposedName) : QString();
    }

private:
    void Print(const QString& text)
    {
        PrintErr(text);
        ++printed;
    }
};

namespace {

// The column widths the settings file gives, kept until the window applies them.
class StoredColumns : public ColumnWidthStore
{
public:
    explicit StoredColumns(std::array<int, kColumnCount>& widths) : m_widths(widths) {}
    int ColumnCount() const override { return kColumnCount; }
    int ColumnWidth(int i) const override { return m_widths[std::size_t(i)]; }
    void SetColumnWidth(int i, int w) override
    {
        if (i >= 0 && i < kColumnCount)
            m_widths[std::size_t(i)] = w;
    }

private:
    std::array<int, kColumnCount>& m_widths;
};

} // namespace

TSession::TSession(const SessionSetup& setup, QObject* parent)
    : QObject(parent), m_clock(setup.clock ? *setup.clock : SystemClock()), m_exeDir(setup.exeDir),
      m_prompt(std::make_unique<Prompt>()), m_prefs(DefaultUserPrefs()),
      m_lock(std::make_unique<TFolderLock>())
{
    m_prompt->front = setup.prompt;
    m_columnWidths.fill(-1);
    m_list = std::make_unique<TEventList>(m_prefs);
    m_policy = std::make_unique<TSavingPolicy>(*m_list, m_prefs, *m_prompt, m_clock);
    m_mqtt = std::make_unique<TMqttStation>(m_prefs);
    // One line when appends start failing, one when they work again.
    connect(m_policy.get(), &TSavingPolicy::appendFailingChanged, this, [this](bool failing) {
        const QString file = m_policy->CurrentEventFile();
        Q_EMIT notice(failing ? ResStr::AppendFailing(file) : ResStr::AppendWorksAgain(file));
    });
    connect(m_mqtt.get(), &TMqttStation::notice, this, &TSession::notice);
}

TSession::~TSession()
{
    // The worker goes before the list, the policy and the port it uses; the folder is
    // released last.
    m_capture.reset();
    m_mqtt.reset();
    RemovePortDriver(m_ownPorts);
    m_lock.reset();
    m_signals.reset();
}

bool TSession::InstallStopSignals()
{
    if (m_signals)
        return true;
    auto signals = std::make_unique<TStopSignals>();
    if (!signals->installed())
        return false;
    m_signals = std::move(signals);
    connect(m_signals.get(), &TStopSignals::stopRequested, this, [this] {
        m_stopRequested = true; // before anyone hears of it: an open question decides nothing
        Q_EMIT stopRequested();
    });
    connect(m_signals.get(), &TStopSignals::figuresRequested, this, &TSession::figuresRequested);
    return true;
}

void TSession::SetPrompt(UserPrompt* prompt)
{
    m_prompt->front = prompt;
}

bool TSession::ReadSettings()
{
    m_paths = InitPaths(m_exeDir, m_clock);
    for (const QString& error : std::as_const(m_paths.Errors))
        m_prompt->ShowError(error);
    m_policy->SetLogDir(m_paths.LogDir);
    m_journal = std::make_unique<TJournal>(TJournal::PathIn(m_paths.LogDir));
    m_policy->setJournal(m_journal.get());
    if (m_capture)
        m_capture->setJournal(m_journal.get());
    QString reason;
    StoredColumns columns(m_columnWidths);
    if (ReadUserPrefs(m_prefs, m_paths.PrefsFileName, &columns, &reason))
        return true;
    m_prompt->ShowError(ResStr::CannotRead(m_paths.PrefsFileName, reason) +
                        QStringLiteral(" Réglages par défaut."));
    return false;
}

int TSession::StoredColumnWidth(int column) const
{
    return column >= 0 && column < kColumnCount ? m_columnWidths[std::size_t(column)] : -1;
}

TFolderLock::Result TSession::TakeLogFolder(const QString& mode)
{
    return m_lock->Acquire(m_paths.LogDir, mode);
}

void TSession::StartPort(PortStartOptions options)
{
    // The parport to claim is the one of the stored selection.
    options.lptSelection = m_prefs.PortBaseAddressIndex;
    m_ownPorts = StartPortDriver(options);
    // Which access is used, or why there is none: said in both modes.
    PrintErr(m_ownPorts->Description());
    UsePort(*m_ownPorts);
}

void TSession::UsePort(PortAccess& ports)
{
    Q_ASSERT(!m_capture);
    m_capture = std::make_unique<TCaptureController>(m_prefs, ports, m_interface, *m_list,
                                                     *m_policy, m_clock);
    m_capture->setJournal(m_journal.get());
    m_capture->setRecordedHook([this](std::span<const CapturedEvent> events) {
        if (m_frontHook)
            m_frontHook(events);
        m_mqtt->Feed(events);
    });
}

bool TSession::OpenDayFile()
{
    m_policy->InitDay();
    // Read before the day's file so that a torn tail is cut before the file is loaded,
    // and before this run writes a journal of its own.
    m_found = m_journal->Scan();
    if (!m_found.Problem.isEmpty())
        m_prompt->ShowError(m_found.Problem);
    if (!m_found.CutFile.isEmpty())
        Q_EMIT notice(ResStr::TornLineCut(m_found.CutFile));
    return m_policy->OpenDailyFile();
}

TSession::Recovery TSession::RecoverJournal()
{
    Recovery result = Recovery::Nothing;
    if (!m_found.Events.empty()) {
        const Answer answer =
            m_prompt->Asking()
                ? m_prompt->AskYesNo(ResStr::AskRecoverJournal(int(m_found.Events.size())))
                : Answer::Yes;
        // Stopped while the question was open: nothing was decided, the next start asks
        // again.
        if (m_stopRequested || m_ended)
            return Recovery::Stopped;
        if (answer == Answer::Yes) {
            const RecoveryResult r = RecoverEvents(*m_journal, m_found, *m_list, m_prefs,
                                                   m_paths.LogDir, m_clock.now().date());
            for (const QString& message : r.Messages)
                m_prompt->ShowError(message);
            Q_EMIT notice(ResStr::RecoveredEvents(r.IntoList, r.IntoDayFiles));
            result = Recovery::Recovered;
        } else {
            const QString aside = m_journal->KeepAside(QDateTime::currentDateTime());
            qCInfo(lcSession) << "recovered events kept aside in" << aside;
            if (!aside.isEmpty())
                m_prompt->Inform(ResStr::JournalKeptAside(QDir::toNativeSeparators(aside)));
            result = Recovery::KeptAside;
        }
        m_found = {};
    }
    if (!m_journal->IsOpen() && !m_journal->Open())
        Q_EMIT notice(QStringLiteral("evtrak : impossible d'ouvrir le journal de reprise %1 : %2.")
                          .arg(m_journal->Path(), ErrnoReason(m_journal->OpenError())));
    return result;
}

int TSession::ImportKeptJournal(const QString& path)
{
    return ImportJournal(path, *m_journal, *m_list);
}

TCaptureController::StartResult TSession::StartCapture()
{
    // The worker finds the channels and the interface set up at its first pass.
    m_capture->CaptureInitSystem();
    m_capture->TestSystem();
    return m_capture->CaptureStart();
}

void TSession::ConfigureMqtt()
{
    m_mqtt->Configure(m_paths.LogDir, GetPortName(m_prefs.PortBaseAddressIndex));
}

TSession::EndResult TSession::End(EndMode mode, std::chrono::milliseconds mqttGrace)
{
    if (m_ended)
        return EndResult::Done;
    if (mode == EndMode::NoQuestions)
        m_prompt->noQuestions = true;
    // Every event the worker recorded is in the list before anything is saved.
    if (m_capture) {
        if (m_capture->CaptureRunning())
            m_capture->CaptureStop();
        m_capture->WaitForWorker();
        m_capture->DrainNow();
    }
    bool saveFailed = false;
    if (mode == EndMode::Ask) {
        // Asks per LogSaveAutoOnExit; a failed save keeps the program going, like a cancel.
        const bool goOn = m_policy->SaveIfModified(!m_prefs.LogSaveAutoOnExit);
        if (m_ended)
            return EndResult::Done; // a stop signal while the question was open ended it all
        if (!goOn)
            return EndResult::Cancelled;
    } else if (m_list->Modified()) {
        QString file = m_policy->CurrentEventFile();
        if (file.isEmpty())
            file = m_policy->DailyFileName();
        const int printed = m_prompt->printed;
        if (!m_policy->SaveEventFile(file)) {
            saveFailed = true;
            if (m_prompt->printed == printed) // said once, with or without error boxes
                PrintErr(ResStr::SaveFailed(file));
        }
    }
    m_ended = true;
    // Every row is in its file, or the user chose to drop them: the journal has done its
    // job. After a failed save it stays, and the next start offers the rows back.
    if (!saveFailed && m_journal)
        m_journal->Finish();
    // The broker gets a moment for what is pending; the rest waits in the outbox.
    m_mqtt->Shutdown(mqttGrace);
    return saveFailed ? EndResult::SaveFailed : EndResult::Done;
}

} // namespace evtrak
