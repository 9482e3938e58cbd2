#pragma once
// What Evtrak publishes over MQTT: the connection settings, the topics and the JSON
// texts of the event, status and lines messages.

#include "eventlog/uLog.h"
#include "settings/uUserPrefs.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace evtrak {

struct TMqttConfig
{
    QString Host;
    int Port = 1883;
    QString TopicPrefix = QStringLiteral("evtrak");
    QString Station; // never empty once built by MqttConfigFromPrefs
    QString Username;
    QString Password; // never written to a log or to stderr
    QString CaFile;   // TLS when set
    QString CertFile;
    QString KeyFile;
    int KeepAlive = 60;    // seconds
    QString InterfaceName; // shown in the "online" status
    QString OutboxFile;    // where events wait for the broker's acknowledgement
    QString ReplayFolder;  // where events are kept for a collector's replay
    int ReplayDays = 7;    // how long they are kept (0: not at all)
    friend bool operator==(const TMqttConfig&, const TMqttConfig&) = default;

    QString EventsTopic() const;
    QString StatusTopic() const;
    QString LinesTopic() const;
    // A collector asks for events again here ({"from":N,"to":M})...
    QString ReplayTopic() const;
    // ...and the station says here which of them it no longer holds.
    QString MissingTopic() const;
    // "host:port" and the user, for messages (never the password).
    QString Describe() const;
};

// The settings' MQTT values made usable: a Port of 0 gives 1883, or 8883 with TLS; an
// empty Station gives the host name; characters that MQTT topics reserve ('/', '+',
// '#') become '_' in the station; the prefix loses its outer '/' and '+' or '#'.
TMqttConfig MqttConfigFromPrefs(const TUserPrefs& prefs, const QString& outboxFile,
                                const QString& interfaceName);

// "HOST[:PORT]" or "[IPv6]:PORT" of the command line; false for a bad port or host.
bool ParseMqttHostPort(const QString& text, QString& host, int& port);

// An event message is built in two halves, so that its sequence number can be put in
// while the outbox is locked: head + seq + tail is
// {"station":...,"seq":N,"input":...,"label":...,"state":"on"|"off"|null,
//  "time":"<ISO 8601 local time with offset>","epoch_ms":...,"duration_ms":...}
QByteArray EventJsonHead(const QString& station);
QByteArray EventJsonTail(const CapturedEvent& ev, const QString& label);
// The retained status: "online" with the program version and the interface, or
// "offline" (the last will, and at a clean exit).
QByteArray StatusJson(const TMqttConfig& cfg, bool online);
// The retained live state of the 13 inputs: bit i for input i.
// {"from":N,"to":M}: a range of sequence numbers (a replay request or a range missing).
QByteArray RangeJson(std::uint64_t from, std::uint64_t to);
// Reads RangeJson; false for anything else (numbers from 1 up, from <= to).
bool ParseRangeJson(const QByteArray& json, std::uint64_t& from, std::uint64_t& to);
QByteArray LinesJson(const QString& station, std::uint16_t word, std::int64_t epochMs);
// ISO 8601 local time with milliseconds and the offset from UTC.
QString IsoLocalTime(std::int64_t epochMs);

// The live state word derived from recorded events, for when the capture does not
// give one itself: a state change sets or clears its input's bit; events without a
// state (pulse lengths) leave the word as it is.
class TLinesFromEvents
{
public:
    void Apply(const CapturedEvent& ev)
    {
        if (!ev.Suffix || ev.InputIndex < 0 || ev.InputIndex >= kInputCount)
            return;
        const auto bit = std::uint16_t(1u << ev.InputIndex);
        m_word = ev.State ? std::uint16_t(m_word | bit) : std::uint16_t(m_word & ~bit);
    }
    std::uint16_t Word() const { return m_word; }
    void Reset() { m_word = 0; }

private:
    std::uint16_t m_word = 0;
};

} // namespace evtrak
