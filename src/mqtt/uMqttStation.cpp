#include "mqtt/uMqttStation.h"

#include "mqtt/uMqttPublisher.h"

#include <QDir>

namespace evtrak {

TMqttStation::TMqttStation(const TUserPrefs& prefs, QObject* parent)
    : QObject(parent), m_prefs(prefs)
{
    m_poll.setInterval(250);
    connect(&m_poll, &QTimer::timeout, this, &TMqttStation::Poll);
}

TMqttStation::~TMqttStation()
{
    Shutdown(std::chrono::milliseconds(0));
}

QString TMqttStation::OutboxFileIn(const QString& logDir)
{
    return QDir(logDir).filePath(QStringLiteral("mqtt_outbox.dat"));
}

void TMqttStation::Configure(const QString& logDir, const QString& interfaceName)
{
    const bool wanted = m_prefs.MqttEnabled && !m_prefs.MqttHost.trimmed().isEmpty();
    const TMqttConfig config = MqttConfigFromPrefs(m_prefs, OutboxFileIn(logDir), interfaceName);
    if (wanted && m_publisher && m_publisher->Config() == config)
        return;
    Shutdown(std::chrono::milliseconds(0));
    m_error.clear();
    if (wanted) {
        QDir().mkpath(logDir);
        auto publisher = std::make_unique<TMqttPublisher>(config);
        if (publisher->Start()) {
            m_publisher = std::move(publisher);
            m_poll.start();
            EmitNotices();
        } else {
            m_error = QStringLiteral("MQTT désactivé : %1").arg(publisher->ErrorText());
        }
    }
    Poll();
}

void TMqttStation::Feed(std::span<const CapturedEvent> events)
{
    if (!m_publisher || events.empty())
        return;
    m_tails.clear();
    for (const CapturedEvent& ev : events) {
        m_tails.push_back(EventJsonTail(ev, GetInputPrefs(m_prefs, ev.InputIndex).Label));
        m_lines.Apply(ev);
    }
    m_publisher->Publish(m_tails);
    if (!m_liveLines)
        m_publisher->SetLinesWord(m_lines.Word());
}

void TMqttStation::SetLinesWord(std::uint16_t word)
{
    m_liveLines = true;
    if (m_publisher)
        m_publisher->SetLinesWord(word);
}

void TMqttStation::Shutdown(std::chrono::milliseconds grace)
{
    m_poll.stop();
    if (m_publisher) {
        m_publisher->Stop(grace);
        EmitNotices();
    }
    m_publisher.reset();
    m_lines.Reset();
}

QString TMqttStation::StatusText() const
{
    if (!m_publisher)
        return m_error.isEmpty() ? QString() : QStringLiteral("MQTT : hors service");
    if (const std::uint64_t pending = m_publisher->Pending())
        return QStringLiteral("MQTT : %1 en attente").arg(pending);
    return m_publisher->Connected() ? QStringLiteral("MQTT : connecté")
                                    : QStringLiteral("MQTT : non connecté");
}

void TMqttStation::EmitNotices()
{
    for (const QString& text : m_publisher->TakeNotices())
        Q_EMIT notice(text);
}

void TMqttStation::Poll()
{
    if (m_publisher)
        EmitNotices();
    const QString text = StatusText();
    if (text == m_lastStatus)
        return;
    m_lastStatus = text;
    Q_EMIT statusChanged(text);
}

} // namespace evtrak
