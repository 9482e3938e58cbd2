// The main window's event-file, configuration, capture, printing and options commands.
#include "ui/widgets/frmMain.h"

#include "acquisition/uCaptureControl.h"
#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "settings/uConf.h"
#include "ui/widgets/frmExport.h"
#include "ui/widgets/frmOptions.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/frmStations.h"
#include "ui/widgets/uMessagePrompt.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QStatusBar>
#include <utility>

namespace evtrak {

// ---- Event files ----

void TfmMain::ActFileNewExecute()
{
    m_policy->FileNew();
}

void TfmMain::ActFileOpenExecute()
{
    const QString file = m_prompt->ChooseEventFileToOpen(m_policy->LogDir());
    if (!file.isEmpty())
        m_policy->FileOpen(file); // asks first when the list holds unsaved rows
}

void TfmMain::ActFileSaveExecute()
{
    m_policy->FileSave();
}

void TfmMain::ActFileSaveAsExecute()
{
    m_policy->FileSaveAs();
}

TfmStations* TfmMain::stationsWindow() const
{
    return static_cast<TfmStations*>(m_stationsWindow.data());
}

void TfmMain::ActStationsExecute()
{
    if (!m_stationsWindow) {
        auto* w = new TfmStations(
            m_prefs, m_paths.LogDir, *m_prompt,
            [this](const QString& file) { OpenStationFile(file); }, this);
        // Closed, it goes with its subscription.
        w->setAttribute(Qt::WA_DeleteOnClose);
        m_stationsWindow = w;
    }
    m_stationsWindow->show();
    m_stationsWindow->raise();
    m_stationsWindow->activateWindow();
}

void TfmMain::OpenStationFile(const QString& file)
{
    if (m_capture->CaptureRunning()) {
        m_prompt->Inform(
            QStringLiteral("Arrêtez l'acquisition pour ouvrir le fichier d'un poste."));
        return;
    }
    m_policy->FileOpen(file); // asks first when the list holds unsaved rows
    raise();
    activateWindow();
}

void TfmMain::ActAppCloseExecute()
{
    close();
}

// ---- Configuration files ----

void TfmMain::ActConfLoadExecute()
{
    const QString file = m_prompt->ChooseConfFileToLoad(m_conf->ConfDir());
    if (file.isEmpty())
        return;
    QString reason;
    if (!m_conf->LoadConf(m_prefs, file, m_columns.get(), &reason)) {
        m_prompt->ShowError(ResStr::CannotRead(QFileInfo(file).fileName(), reason));
        return;
    }
    ApplyUserPrefs();
    UpdateStatusBar();
}

void TfmMain::ActConfSaveExecute()
{
    if (!m_conf->HasConfFile())
        return ActConfSaveAsExecute();
    const QString error = m_conf->SaveConf(m_prefs, m_conf->ConfFileName(), m_columns.get());
    if (!error.isEmpty())
        m_prompt->ShowError(error);
}

void TfmMain::ActConfSaveAsExecute()
{
    const QString file = m_prompt->ChooseConfFileToSave(m_conf->ConfDir(), ResStr::UntitledName());
    if (file.isEmpty())
        return;
    const QString error = m_conf->SaveConfAs(m_prefs, file, m_columns.get());
    if (!error.isEmpty())
        m_prompt->ShowError(error);
}

// ---- Options and printing ----

void TfmMain::ActOptionsExecute()
{
    ExecOptionsDialog(
        modalParent(), m_prefs,
        [this] {
            ApplyUserPrefs();
            UpdateStatusBar();
        },
        m_paths.ReadmeFile);
}

QPrinter& TfmMain::printer()
{
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>();
        InitReportPrinter(*m_printer);
    }
    return *m_printer;
}

QString TfmMain::PrintJobName() const
{
    return QStringLiteral("Evtrak - ") + QFileInfo(m_policy->CurrentEventFile()).fileName();
}

void TfmMain::ActPrintConfExecute()
{
    QPageSetupDialog dialog(&printer(), modalParent());
    dialog.exec();
}

void TfmMain::ActPreviewExecute()
{
    if (!m_list->RequireEvents())
        return m_prompt->Inform(ResStr::NoEvents());
    const auto shown = ShownReportRows();
    PrintReport(modalParent(), *m_list, m_prefs, printer(), true, PrintJobName(), shown.get());
}

void TfmMain::ActPrintExecute()
{
    if (!m_list->RequireEvents())
        return m_prompt->Inform(ResStr::NoEvents());
    const auto shown = ShownReportRows();
    PrintReport(modalParent(), *m_list, m_prefs, printer(), false, PrintJobName(), shown.get());
}

void TfmMain::ActExportPdfExecute()
{
    const auto shown = ShownReportRows();
    ShowExportWritten(ExportReportPdf(modalParent(), *m_list, m_prefs, shown.get()));
}

void TfmMain::ActExportCsvExecute()
{
    ShowExportWritten(ExportEventList(*m_prompt, *m_list, ExportFormat::Csv));
}

void TfmMain::ActExportVcdExecute()
{
    ShowExportWritten(ExportEventList(*m_prompt, *m_list, ExportFormat::Vcd));
}

void TfmMain::ShowExportWritten(const QString& path)
{
    constexpr int kExportMessageMs = 10000;
    if (!path.isEmpty())
        statusBar()->showMessage(ResStr::ExportWritten(QDir::toNativeSeparators(path)),
                                 kExportMessageMs);
}

namespace {

// Long enough to be read after a start-up's questions; the status panels the message
// covers meanwhile come back after it.
constexpr int kNoticeMs = 15000;

} // namespace

void TfmMain::ShowNotice(const QString& text)
{
    static const QString terminalPrefix = QStringLiteral("evtrak : ");
    const QString shown =
        text.startsWith(terminalPrefix) ? text.mid(terminalPrefix.size()) : text;
    // The status bar hides its panels for a message only while they show: a message
    // given earlier would be drawn over them.
    if (!isVisible()) {
        m_pendingNotice = m_pendingNotice.isEmpty() ? shown : m_pendingNotice + u' ' + shown;
        return;
    }
    statusBar()->showMessage(shown, kNoticeMs);
}

void TfmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_pendingNotice.isEmpty())
        statusBar()->showMessage(std::exchange(m_pendingNotice, QString()), kNoticeMs);
}

// ---- Capture ----

void TfmMain::ShowStartResult(int result)
{
    switch (static_cast<TCaptureController::StartResult>(result)) {
    case TCaptureController::StartResult::NotAccessible: {
        // A warning with the reason on a second line: what to fix is in the help page.
        const QString reason = m_capture->RefusalReason();
        m_prompt->ShowError(reason.isEmpty() ? ResStr::PortNotAccessible()
                                             : ResStr::PortNotAccessible() + u'\n' + reason);
        break;
    }
    case TCaptureController::StartResult::NotLpt:
        m_prompt->Inform(ResStr::NotLpt());
        break;
    case TCaptureController::StartResult::Started:
    case TCaptureController::StartResult::WorkerBusy: // still stopping: stays stopped
        break;
    }
}

void TfmMain::ActCaptureStartExecute()
{
    m_capture->CaptureInitSystem();
    m_capture->TestSystem();
    ShowStartResult(int(m_capture->CaptureStart()));
    UpdateGui();
}

void TfmMain::ActCaptureStopExecute()
{
    action(QStringLiteral("ActCaptureStop"))->setEnabled(false);
    m_capture->CaptureStop();
    UpdateGui();
}

void TfmMain::ActCaptureInitSystemExecute()
{
    QueueStep([this] { SetBanner(ResStr::InitInProgress(), m_banner.TextColor, m_banner.BGColor); },
              [this] {
                  // Does nothing while a capture started with the program runs: it was
                  // initialised before its worker's first pass.
                  m_capture->CaptureInitSystem();
                  QueueTestStep(true); // the test comes next, before anything queued meanwhile
              });
}

void TfmMain::ActCaptureTestSystemExecute()
{
    QueueTestStep(false);
}

void TfmMain::QueueTestStep(bool first)
{
    QueueStep([this] { SetBanner(ResStr::TestInProgress(), m_banner.TextColor, m_banner.BGColor); },
              [this] {
                  const bool ready = m_capture->TestSystem();
                  constexpr TColor green = 0x00FF00, red = 0x0000FF, black = 0x000000;
                  SetBanner(ready ? ResStr::SystemReady() : ResStr::SystemNotReady(),
                            ready ? green : red, black);
                  // The list shows the result of the test at once (greyed when the port is gone).
                  UpdateGui();
              },
              first);
}

} // namespace evtrak
