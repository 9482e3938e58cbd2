#pragma once
// The station's side of MQTT publishing, on the UI thread: follows the settings
// (starts, restarts or stops the publisher), turns the recorded events into messages,
// and says how the connection is doing for the status bar or the terminal.

#include "eventlog/uLog.h"
#include "mqtt/uMqttMessages.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <span>

namespace evtrak {

class TMqttPublisher;

class TMqttStation : public QObject
{
    Q_OBJECT
public:
    // prefs: the live settings record (labels are read from it); it must outlive this.
    explicit TMqttStation(const TUserPrefs& prefs, QObject* parent = nullptr);
    ~TMqttStation() override; // stops without waiting for the broker

    // The outbox file of a program whose event files are in logDir.
    static QString OutboxFileIn(const QString& logDir);

    // Follows the settings: with MqttEnabled and a host, a publisher for this
    // configuration (restarted when it changed), else none. An outbox that cannot be
    // opened leaves publishing off; ErrorText() says why.
    void Configure(const QString& logDir, const QString& interfaceName);
    // Publishes the events just recorded (emission order) and the state word they
    // give, until the capture hands over a live word of its own.
    void Feed(std::span<const CapturedEvent> events);
    // Clean end: the pending events get up to `grace` to be acknowledged, the rest
    // waits in the outbox for the next run.
    void Shutdown(std::chrono::milliseconds grace);

    // The live state word of the 13 inputs as the capture worker sees it (bit i: input
    // i active). Once given, it replaces the word worked out from the events, which is
    // right in state-change mode only.
    void SetLinesWord(std::uint16_t word);
    bool Active() const { return m_publisher != nullptr; }
    TMqttPublisher* Publisher() const { return m_publisher.get(); }
    // "MQTT : connecté", "MQTT : 12 en attente", "MQTT : non connecté"; empty when
    // publishing is off.
    QString StatusText() const;
    QString ErrorText() const { return m_error; }

Q_SIGNALS:
    // The status text changed (checked four times a second).
    void statusChanged(const QString& text);
    // A line for the user about the outbox (rewritten after it was removed, kept
    // aside, not writable, events given up at the end), given once.
    void notice(const QString& text);

private:
    void Poll();
    void EmitNotices();

    const TUserPrefs& m_prefs;
    std::unique_ptr<TMqttPublisher> m_publisher;
    QString m_error;
    QString m_lastStatus;
    QTimer m_poll;
    TLinesFromEvents m_lines;
    bool m_liveLines = false; // the capture gives the state word itself
    std::vector<QByteArray> m_tails;
};

} // namespace evtrak
