// The window's side of the acquisition's quality: the live lines' command and settings,
// and the journal's command. The figures themselves are polled by TCaptureQualityView.
#include "ui/widgets/frmMain.h"

#include "ui/widgets/uCaptureQualityView.h"
#include "ui/widgets/uLiveLines.h"

#include <QAction>

namespace evtrak {

void TfmMain::CreateQualityParts()
{
    m_quality = new TCaptureQualityView(*m_capture, *m_mqtt, *m_liveLines, this);
    connect(m_quality, &TCaptureQualityView::statusChanged, this, &TfmMain::UpdateLastPanel);
    QAction* show = action(QStringLiteral("ActCaptureShowLines"));
    show->setCheckable(true);
    show->setChecked(m_liveLines->isVisibleTo(this));
}

void TfmMain::ApplyQualityPrefs()
{
    m_liveLines->SetInputs(m_prefs);
    m_liveLines->setVisible(m_prefs.CaptureShowLiveLines);
    action(QStringLiteral("ActCaptureShowLines"))->setChecked(m_prefs.CaptureShowLiveLines);
}

void TfmMain::ActCaptureShowLinesExecute()
{
    // Kept in the settings file with the other settings when the program closes.
    m_prefs.CaptureShowLiveLines = action(QStringLiteral("ActCaptureShowLines"))->isChecked();
    m_liveLines->setVisible(m_prefs.CaptureShowLiveLines);
}

void TfmMain::ActCaptureJournalExecute()
{
    m_quality->ShowJournal();
}

} // namespace evtrak
