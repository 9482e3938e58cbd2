#include "ui/widgets/uCaptureQualityView.h"

#include "acquisition/uCaptureControl.h"
#include "mqtt/uMqttStation.h"
#include "ui/widgets/frmCaptureJournal.h"
#include "ui/widgets/uLiveLines.h"

#include <QDateTime>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <QWidget>
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

TCaptureQualityView::TCaptureQualityView(TCaptureController& capture, TMqttStation& mqtt,
                                         TLiveLines& lines, QWidget* window)
    : QObject(window), m_capture(capture), m_mqtt(mqtt), m_lines(lines), m_window(window),
      m_journal(new TfmCaptureJournal(window)), m_timer(new QTimer(this))
{
    m_timer->setInterval(kQualityRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &TCaptureQualityView::Refresh);
    connect(&m_capture, &TCaptureController::captureStateChanged, this,
            &TCaptureQualityView::CaptureRunningChanged);
}

void TCaptureQualityView::ShowJournal()
{
    // Opened over the main window, inside the screen the main window is on.
    if (!m_journal->isVisible()) {
        QRect r(QPoint(), m_journal->size());
        r.moveCenter(m_window->frameGeometry().center());
        if (const QScreen* screen = m_window->screen()) {
            const QRect room = screen->availableGeometry();
            r.moveLeft(std::max(room.left(), std::min(r.left(), room.right() - r.width())));
            r.moveTop(std::max(room.top(), std::min(r.top(), room.bottom() - r.height())));
        }
        m_journal->move(r.topLeft());
    }
    m_journal->show();
    m_journal->raise();
    m_journal->activateWindow();
}

void TCaptureQualityView::CaptureRunningChanged(bool running)
{
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    m_backlog = m_backlogSeen = 0;
    if (running) {
        m_passRate.Restart(MonotonicNs());
        m_journal->AddLine(now, QStringLiteral("Acquisition démarrée (%1)")
                                    .arg(PaceText(m_capture.Quality().PeriodUs())));
        m_timer->start();
        Refresh();
        return;
    }
    m_timer->stop();
    Refresh(); // the stalls of the last moments
    const CaptureFigures f = m_capture.Quality().Figures();
    m_journal->AddLine(now, QStringLiteral("Acquisition arrêtée : %1 passes, intervalle "
                                           "max. %2 ms, %3 interruption(s)")
                                .arg(QLocale(QLocale::French).toString(qulonglong(f.Passes)))
                                .arg(QString::number(double(f.LongestNs) / 1e6, 'f', 3))
                                .arg(f.Stalls));
}

void TCaptureQualityView::Refresh()
{
    TCaptureQuality& quality = m_capture.Quality();
    const CaptureFigures f = quality.Figures();
    const bool running = m_capture.CaptureRunning();
    if (running) {
        m_passRate.Update(f.Passes, MonotonicNs());
        m_mqtt.SetLinesWord(f.States); // published when it changes, 10 times a second at most
    }
    m_lines.ShowStates(f.States, running);
    for (const StallReport& r : quality.TakeStalls())
        m_journal->AddLine(r.WallMs, StallText(r.LengthMs));
    // Events that waited through a whole refresh period mean the UI is behind; one just
    // handed over, with its wake-up on the way, does not.
    const std::size_t waiting = m_capture.Backlog();
    m_backlog = m_backlogSeen > 0 ? waiting : 0;
    m_backlogSeen = waiting;
    Q_EMIT statusChanged();
}

QString TCaptureQualityView::FiguresText() const
{
    return CaptureFiguresLine(m_capture.Quality().Figures(), m_passRate.Rate());
}

QString TCaptureQualityView::StatusText() const
{
    return CaptureQualityStatus(m_capture.CaptureRunning(), m_passRate.Rate(), m_backlog);
}

} // namespace evtrak
