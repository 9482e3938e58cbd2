// The life of the main window: start-up, closing and dropped files.
#include "ui/widgets/frmMain.h"

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureControl.h"
#include "base/uResStr.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "mqtt/uMqttStation.h"
#include "settings/uConf.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/uFormsGeometry.h"
#include "ui/widgets/uMessagePrompt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMimeData>
#include <QTimer>
#include <cstdio>

Q_LOGGING_CATEGORY(lcMain, "evtrak.ui.main")

namespace evtrak {

void TfmMain::InitPaths()
{
    const Clock& clock = m_setup.clock ? *m_setup.clock : SystemClock();
    m_paths = evtrak::InitPaths(m_setup.exeDir, clock);
    for (const QString& error : std::as_const(m_paths.Errors))
        m_prompt->ShowError(error);
    m_policy->SetLogDir(m_paths.LogDir);
    m_policy->InitDay();
    m_conf->SetConfDir(m_paths.ConfDir);

    // The help command is offered when the help page is there at start-up.
    QAction* help = action(QStringLiteral("ActHelpIndex"));
    const bool hasHelp = QFileInfo::exists(m_paths.HelpFile);
    help->setEnabled(hasHelp);
    help->setToolTip(hasHelp ? ResStr::HelpIndexHint() : ResStr::HelpMissingHint());
    help->setStatusTip(ResStr::HelpIndexHint());
}

void TfmMain::FormCreate()
{
    m_appStarting = true;
    InitPaths();
    QString reason;
    if (!ReadUserPrefs(m_prefs, m_paths.PrefsFileName, m_columns.get(), &reason))
        m_prompt->ShowError(ResStr::CannotRead(m_paths.PrefsFileName, reason));
    // A journal left by an interrupted session is read before anything is captured into
    // this session's.
    m_journal = std::make_unique<TJournal>(TJournal::PathIn(m_paths.LogDir));
    JournalFindings found = m_journal->Scan();
    if (!found.Problem.isEmpty())
        m_prompt->ShowError(found.Problem);
    m_policy->setJournal(m_journal.get());
    m_capture->setJournal(m_journal.get());
    m_policy->OpenDailyFile();
    if (!RecoverJournal(std::move(found)))
        return;       // a stop signal while the question was open: the journal waits
    ApplyUserPrefs(); // may start the capture (CaptureRunAtAppStartup)
    m_conf->SetConfFileName(ResStr::UntitledName());
    ActCaptureInitSystemExecute(); // ends with a test
    ActCaptureTestSystemExecute(); // each test ends with UpdateGui
}

bool TfmMain::RecoverJournal(JournalFindings found)
{
    if (!found.Events.empty()) {
        const Answer answer =
            m_prompt->AskYesNo(ResStr::AskRecoverJournal(int(found.Events.size())));
        // Closed by a signal meanwhile: nothing was decided, the next start asks again.
        if (m_signalExit >= 0)
            return false;
        if (answer == Answer::Yes) {
            const Clock& clock = m_setup.clock ? *m_setup.clock : SystemClock();
            const RecoveryResult r = RecoverEvents(*m_journal, found, *m_list, m_prefs,
                                                   m_paths.LogDir, clock.now().date());
            for (const QString& message : r.Messages)
                m_prompt->ShowError(message);
        } else {
            const QString aside = m_journal->KeepAside(QDateTime::currentDateTime());
            qCInfo(lcMain) << "recovered events kept aside in" << aside;
            if (!aside.isEmpty())
                m_prompt->Inform(ResStr::JournalKeptAside(QDir::toNativeSeparators(aside)));
        }
    }
    if (!m_journal->IsOpen() && !m_journal->Open())
        qCWarning(lcMain) << "no recovery journal:" << m_journal->Path();
    return true;
}

void TfmMain::ActFileRecoverJournalExecute()
{
    const QString path = m_prompt->ChooseJournalToRecover(m_paths.LogDir);
    if (path.isEmpty() || !m_journal)
        return;
    const QString name = QFileInfo(path).fileName();
    const int count = ImportJournal(path, *m_journal, *m_list);
    m_prompt->Inform(count > 0 ? ResStr::JournalRecovered(count, name)
                               : ResStr::NoEventInJournal(name));
}

TfmPrintOptions* TfmMain::CreatePrintOptions()
{
    if (!m_printOptions) {
        m_printOptions = new TfmPrintOptions(this);
        m_printOptions->hide();
    }
    return m_printOptions;
}

void TfmMain::QueueStep(std::function<void()> begin, std::function<void()> end, bool first)
{
    Step step{std::move(begin), std::move(end)};
    if (first)
        m_steps.push_front(std::move(step));
    else
        m_steps.push_back(std::move(step));
    RunSteps();
}

void TfmMain::RunSteps()
{
    // Repaints and the capture's deliveries go on during a pause; the next step starts
    // only when the one before has ended.
    while (!m_stepWaiting && !m_steps.empty()) {
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        if (step.begin)
            step.begin();
        if (m_setup.pauseMs > 0 && step.end) {
            m_stepWaiting = true;
            QTimer::singleShot(m_setup.pauseMs + 1, this, [this, end = std::move(step.end)] {
                m_stepWaiting = false;
                end();
                RunSteps();
            });
            return;
        }
        if (step.end)
            step.end();
    }
    if (!m_stepWaiting && m_steps.empty() && m_closeAfterSteps) {
        m_closeAfterSteps = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TfmMain::RunCommand(void (TfmMain::*handler)())
{
    if (m_stepWaiting || !m_steps.empty())
        m_steps.push_back({[this, handler] { (this->*handler)(); }, {}});
    else
        (this->*handler)();
}

// ---- Closing ----

bool TfmMain::FormCloseQuery()
{
    if (!m_capture->CaptureRunning())
        return true;
    if (m_prompt->AskYesNoCancel(ResStr::AskStopCapture()) != Answer::Yes)
        return false;
    ActCaptureStopExecute();
    // "Sans_Nom" opens the save dialog; a cancel still closes. A save that failed has
    // shown its box: the window stays, and closing does not ask a second time.
    return m_policy->SaveIfModified(false);
}

bool TfmMain::FormClose()
{
    const QString prefsError = WriteUserPrefs(m_prefs, m_paths.PrefsFileName, m_columns.get());
    if (!prefsError.isEmpty())
        m_prompt->ShowError(prefsError); // the events still deserve their question
    if (!m_policy->SaveIfModified(!m_prefs.LogSaveAutoOnExit))
        return false; // cancelled: the program goes on
    const QString formsError = SaveFormsSizeAndPos(m_paths.PrefsFileName);
    if (!formsError.isEmpty() && prefsError.isEmpty())
        m_prompt->ShowError(formsError);
    // The broker gets a moment for what is pending; the rest waits in the outbox.
    m_mqtt->Shutdown(std::chrono::seconds(1));
    return true;
}

void TfmMain::closeEvent(QCloseEvent* event)
{
    if (m_signalExit >= 0) {
        event->accept(); // already closed in order
        return;
    }
    if (m_stepWaiting || !m_steps.empty()) {
        // Closed once the set-up steps have ended, never in the middle of one.
        m_closeAfterSteps = true;
        event->ignore();
        return;
    }
    if (!FormCloseQuery() || !FormClose()) {
        event->ignore();
        return;
    }
    // Every row is saved, or the user chose to drop them: the journal has done its job.
    if (m_journal)
        m_journal->Finish();
    event->accept();
}

void TfmMain::CloseBySignal()
{
    if (m_signalExit >= 0)
        return;
    qCInfo(lcMain) << "stop signal: closing in order";
    if (m_capture->CaptureRunning())
        ActCaptureStopExecute();
    m_capture->DrainNow();
    int status = 0;
    if (m_list->Modified()) {
        QString file = m_policy->CurrentEventFile();
        if (file.isEmpty())
            file = m_policy->DailyFileName();
        // No box may wait for an answer now: a failure goes to the log and the status.
        const bool showErrors = m_prefs.MiscShowErrorMessages;
        m_prefs.MiscShowErrorMessages = false;
        if (!m_policy->SaveEventFile(file)) {
            std::fprintf(stderr, "%s\n", qPrintable(ResStr::SaveFailed(file)));
            status = 1;
        }
        m_prefs.MiscShowErrorMessages = showErrors;
    }
    QString error = WriteUserPrefs(m_prefs, m_paths.PrefsFileName, m_columns.get());
    if (error.isEmpty())
        error = SaveFormsSizeAndPos(m_paths.PrefsFileName);
    if (!error.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(error));
    // The journal stays when the rows did not reach their file: the next start offers
    // them back.
    if (status == 0 && m_journal)
        m_journal->Finish();
    m_signalExit = status;
    QCoreApplication::exit(status);
}

// ---- Dropped files ----

namespace {
QStringList LocalFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    const auto urls = data->urls();
    for (const QUrl& url : urls)
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}
} // namespace

void TfmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptDrops() && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfmMain::dropEvent(QDropEvent* event)
{
    const QStringList files = LocalFiles(event->mimeData());
    if (!acceptDrops() || files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The question box must not run inside the drag and drop's own loop.
    QTimer::singleShot(0, this, [this, files] { BUDragDrop1Drop(files); });
}

void TfmMain::BUDragDrop1Drop(const QStringList& files)
{
    if (files.isEmpty() || m_capture->CaptureRunning())
        return;
    m_policy->DropFiles(files); // asks about unsaved rows, loads the first file
}

} // namespace evtrak
