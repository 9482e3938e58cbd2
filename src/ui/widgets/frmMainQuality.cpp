// The acquisition's quality in the window: the live lines, the pass rate and the
// backlog in the status bar, and the acquisition journal with the stalls.
#include "ui/widgets/frmMain.h"

#include "acquisition/uCaptureControl.h"
#include "mqtt/uMqttStation.h"
#include "ui/widgets/frmCaptureJournal.h"
#include "ui/widgets/uLiveLines.h"

#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace evtrak {

namespace {

// About 20 refreshes a second: the lines look live and the UI thread stays idle.
constexpr int kQualityRefreshMs = 50;

QString PaceText(std::int32_t periodUs)
{
    return periodUs > 0 ? QStringLiteral("une passe toutes les %1 µs").arg(periodUs)
                        : QStringLiteral("passes continues");
}

} // namespace

void TfmMain::CreateQualityParts()
{
    m_captureJournal = new TfmCaptureJournal(this);
    m_qualityTimer = new QTimer(this);
    m_qualityTimer->setInterval(kQualityRefreshMs);
    connect(m_qualityTimer, &QTimer::timeout, this, &TfmMain::RefreshCaptureQuality);
    connect(m_capture, &TCaptureController::captureStateChanged, this,
            &TfmMain::CaptureRunningChanged);
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
    // Opened over the main window, inside the screen the main window is on.
    if (!m_captureJournal->isVisible()) {
        QRect r(QPoint(), m_captureJournal->size());
        r.moveCenter(frameGeometry().center());
        if (const QScreen* screen = this->screen()) {
            const QRect room = screen->availableGeometry();
            r.moveLeft(std::max(room.left(), std::min(r.left(), room.right() - r.width())));
            r.moveTop(std::max(room.top(), std::min(r.top(), room.bottom() - r.height())));
        }
        m_captureJournal->move(r.topLeft());
    }
    m_captureJournal->show();
    m_captureJournal->raise();
    m_captureJournal->activateWindow();
}

void TfmMain::CaptureRunningChanged(bool running)
{
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    m_backlog = m_backlogSeen = 0;
    if (running) {
        m_passRate.Restart(MonotonicNs());
        m_captureJournal->AddLine(now, QStringLiteral("Acquisition démarrée (%1)")
                                           .arg(PaceText(m_capture->Quality().PeriodUs())));
        m_qualityTimer->start();
        RefreshCaptureQuality();
        return;
    }
    m_qualityTimer->stop();
    RefreshCaptureQuality(); // the stalls of the last moments
    const CaptureFigures f = m_capture->Quality().Figures();
    m_captureJournal->AddLine(now, QStringLiteral("Acquisition arrêtée : %1 passes, intervalle "
                                                  "max. %2 ms, %3 interruption(s)")
                                       .arg(QLocale(QLocale::French).toString(qulonglong(f.Passes)))
                                       .arg(QString::number(double(f.LongestNs) / 1e6, 'f', 3))
                                       .arg(f.Stalls));
}

void TfmMain::RefreshCaptureQuality()
{
    TCaptureQuality& quality = m_capture->Quality();
    const CaptureFigures f = quality.Figures();
    const bool running = m_capture->CaptureRunning();
    if (running) {
        m_passRate.Update(f.Passes, MonotonicNs());
        m_mqtt->SetLinesWord(f.States); // published when it changes, 10 times a second at most
    }
    m_liveLines->ShowStates(f.States, running);
    for (const StallReport& r : quality.TakeStalls())
        m_captureJournal->AddLine(r.WallMs, StallText(r.LengthMs));
    // Events that waited through a whole refresh period mean the UI is behind; one just
    // handed over, with its wake-up on the way, does not.
    const std::size_t waiting = m_capture->Backlog();
    m_backlog = m_backlogSeen > 0 ? waiting : 0;
    m_backlogSeen = waiting;
    UpdateLastPanel();
}

QString TfmMain::CaptureFiguresText() const
{
    return CaptureFiguresLine(m_capture->Quality().Figures(), m_passRate.Rate());
}

QString TfmMain::LastPanelText() const
{
    return CaptureQualityStatus(m_capture->CaptureRunning(), m_passRate.Rate(), m_backlog);
}

} // namespace evtrak
