// The life of the main window: start-up, closing and dropped files.
#include "ui/widgets/frmMain.h"

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureControl.h"
#include "app/uSession.h"
#include "base/ktMisc.h"
#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
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
    m_conf->SetConfDir(m_paths.ConfDir);
    // What the settings file said of the columns (read before the window existed).
    for (int i = 0; i < kColumnCount; ++i)
        if (const int width = m_session->StoredColumnWidth(i); width >= 0)
            m_columns->SetColumnWidth(i, width);

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
    m_session->OpenDayFile(); // a refused day's file leaves the list untitled
    if (m_session->RecoverJournal() == TSession::Recovery::Stopped)
        return; // a stop signal while the question was open: the journal waits
    ApplyUserPrefs();
    if (m_prefs.CaptureRunAtAppStartup) {
        // Before the start-up's own "Réinitialiser système", which then leaves the
        // running capture alone.
        ShowStartResult(int(m_session->StartCapture()));
    }
    m_conf->SetConfFileName(ResStr::UntitledName());
    ActCaptureInitSystemExecute(); // ends with a test
    ActCaptureTestSystemExecute(); // each test ends with UpdateGui
}

void TfmMain::ActFileRecoverJournalExecute()
{
    const QString path = m_prompt->ChooseJournalToRecover(m_paths.LogDir);
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    const int count = m_session->ImportKeptJournal(path);
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
    // Saves as LogSaveAutoOnExit says (asking or not), finishes the journal and gives the
    // broker a moment; cancelled: the program goes on.
    if (m_session->End(TSession::EndMode::Ask, std::chrono::seconds(1)) ==
        TSession::EndResult::Cancelled)
        return false;
    const QString formsError = SaveFormsSizeAndPos(m_paths.PrefsFileName);
    if (!formsError.isEmpty() && prefsError.isEmpty())
        m_prompt->ShowError(formsError);
    return true;
}

void TfmMain::closeEvent(QCloseEvent* event)
{
    if (m_signalExit >= 0 || m_session->Ended()) {
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
    event->accept();
}

void TfmMain::CloseBySignal()
{
    if (m_signalExit >= 0 || m_session->Ended())
        return;
    qCInfo(lcMain) << "stop signal: closing in order";
    // Nobody is there to answer: no box and no question from here on; a save that fails
    // is said on standard error and in the exit status.
    const TSession::EndResult end =
        m_session->End(TSession::EndMode::NoQuestions, std::chrono::seconds(1));
    const int status = end == TSession::EndResult::SaveFailed ? 1 : 0;
    QString error = WriteUserPrefs(m_prefs, m_paths.PrefsFileName, m_columns.get());
    if (error.isEmpty())
        error = SaveFormsSizeAndPos(m_paths.PrefsFileName);
    if (!error.isEmpty())
        PrintErr(error);
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
