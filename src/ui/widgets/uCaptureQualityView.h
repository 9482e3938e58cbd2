#pragma once
// The acquisition's quality as the window shows it: the live lines, the pass rate and
// the backlog for the status bar, and the acquisition journal with the stalls. It polls
// the capture's figures from the UI thread while a capture runs.

#include "acquisition/uCaptureQuality.h"

#include <QObject>
#include <QString>
#include <cstddef>

class QTimer;
class QWidget;

namespace evtrak {

class TCaptureController;
class TfmCaptureJournal;
class TLiveLines;
class TMqttStation;

class TCaptureQualityView : public QObject
{
    Q_OBJECT

public:
    // The journal window is made as a child window of window, over which it opens.
    TCaptureQualityView(TCaptureController& capture, TMqttStation& mqtt, TLiveLines& lines,
                        QWidget* window);

    // Polls the worker's figures: live lines, rate, backlog, stalls (every 50 ms while
    // capturing; tests call it directly).
    void Refresh();
    // The capture's figures on one line, as a headless run prints them on SIGUSR1.
    QString FiguresText() const;
    // The status bar's last panel: the backlog, the rate or the dashes.
    QString StatusText() const;
    // Shows the acquisition journal over the window, inside the window's screen.
    void ShowJournal();
    TfmCaptureJournal* journal() const { return m_journal; }

Q_SIGNALS:
    // StatusText may have changed.
    void statusChanged();

private:
    void CaptureRunningChanged(bool running);

    TCaptureController& m_capture;
    TMqttStation& m_mqtt;
    TLiveLines& m_lines;
    QWidget* m_window;
    TfmCaptureJournal* m_journal;
    QTimer* m_timer;
    TPassRate m_passRate;
    std::size_t m_backlog = 0;     // events shown as waiting
    std::size_t m_backlogSeen = 0; // events waiting at the previous refresh
};

} // namespace evtrak
