#include "eventlog/uMqttMessages.h"

#include <QDateTime>
#include <QSysInfo>
#include <algorithm>

namespace evtrak {

namespace {

void AppendJsonString(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

QString TopicPart(QString text, bool allowSlash)
{
    for (QChar& c : text)
        if (c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() < 0x20 ||
            (!allowSlash && c == QLatin1Char('/')))
            c = QLatin1Char('_');
    while (allowSlash && text.startsWith(QLatin1Char('/')))
        text.remove(0, 1);
    while (allowSlash && text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

} // namespace

QString TMqttConfig::EventsTopic() const
{
    return TopicPrefix + QStringLiteral("/") + Station + QStringLiteral("/events");
}
QString TMqttConfig::StatusTopic() const
{
    return TopicPrefix + QStringLiteral("/") + Station + QStringLiteral("/status");
}
QString TMqttConfig::LinesTopic() const
{
    return TopicPrefix + QStringLiteral("/") + Station + QStringLiteral("/lines");
}

QString TMqttConfig::Describe() const
{
    const QString host = Host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(Host) : Host;
    QString text = QStringLiteral("%1:%2").arg(host).arg(Port);
    if (!CaFile.isEmpty())
        text += QStringLiteral(" (TLS)");
    if (!Username.isEmpty())
        text += QStringLiteral(", utilisateur %1").arg(Username);
    return text;
}

TMqttConfig MqttConfigFromPrefs(const TUserPrefs& prefs, const QString& outboxFile,
                                const QString& interfaceName)
{
    TMqttConfig c;
    c.Host = prefs.MqttHost.trimmed();
    const bool tls = !prefs.MqttCaFile.isEmpty();
    c.Port = prefs.MqttPort > 0 && prefs.MqttPort <= 65535 ? prefs.MqttPort : (tls ? 8883 : 1883);
    c.TopicPrefix = TopicPart(prefs.MqttTopicPrefix.trimmed(), true);
    if (c.TopicPrefix.isEmpty())
        c.TopicPrefix = QStringLiteral("evtrak");
    c.Station = TopicPart(prefs.MqttStation.trimmed(), false);
    if (c.Station.isEmpty())
        c.Station = TopicPart(QSysInfo::machineHostName(), false);
    if (c.Station.isEmpty())
        c.Station = QStringLiteral("evtrak");
    c.Username = prefs.MqttUsername;
    c.Password = prefs.MqttPassword;
    c.CaFile = prefs.MqttCaFile;
    c.CertFile = prefs.MqttCertFile;
    c.KeyFile = prefs.MqttKeyFile;
    c.KeepAlive = std::clamp(prefs.MqttKeepAlive, 5, 65535);
    c.InterfaceName = interfaceName;
    c.OutboxFile = outboxFile;
    return c;
}

bool ParseMqttHostPort(const QString& text, QString& host, int& port)
{
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        portText = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        host = text.section(QLatin1Char(':'), 0, 0);
        portText = text.section(QLatin1Char(':'), 1);
    } else {
        host = text; // a name, an IPv4 address or a bare IPv6 address
    }
    port = 0;
    if (!portText.isNull()) {
        bool ok = false;
        port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return false;
    }
    return !host.trimmed().isEmpty() && !host.contains(QLatin1Char(' '));
}

QString IsoLocalTime(std::int64_t epochMs)
{
    // Always "+hh:mm", also at UTC, so that every consumer reads one form.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(epochMs);
    const int offset = local.offsetFromUtc() / 60;
    const int minutes = offset < 0 ? -offset : offset;
    return local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray EventJsonHead(const QString& station)
{
    QByteArray out("{\"station\":");
    AppendJsonString(out, station);
    out += ",\"seq\":";
    return out;
}

QByteArray EventJsonTail(const CapturedEvent& ev, const QString& label)
{
    QByteArray out(",\"input\":");
    out += QByteArray::number(ev.InputIndex);
    out += ",\"label\":";
    AppendJsonString(out, label);
    out += ",\"state\":";
    out += ev.Suffix ? (ev.State ? "\"on\"" : "\"off\"") : "null";
    out += ",\"time\":\"";
    out += IsoLocalTime(ev.EpochMs).toLatin1();
    out += "\",\"epoch_ms\":";
    out += QByteArray::number(qint64(ev.EpochMs));
    out += ",\"duration_ms\":";
    out += QByteArray::number(ev.DurationMs);
    out += '}';
    return out;
}

QByteArray StatusJson(const TMqttConfig& cfg, bool online)
{
    QByteArray out("{\"station\":");
    AppendJsonString(out, cfg.Station);
    out += online ? ",\"status\":\"online\",\"version\":" : ",\"status\":\"offline\"";
    if (online) {
        AppendJsonString(out, QStringLiteral(EVTRAK_VERSION));
        out += ",\"interface\":";
        AppendJsonString(out, cfg.InterfaceName);
        out += ",\"time\":";
        AppendJsonString(out, IsoLocalTime(QDateTime::currentMSecsSinceEpoch()));
    }
    out += '}';
    return out;
}

QByteArray LinesJson(const QString& station, std::uint16_t word, std::int64_t epochMs)
{
    QByteArray out("{\"station\":");
    AppendJsonString(out, station);
    out += ",\"word\":" + QByteArray::number(word) + ",\"time\":";
    AppendJsonString(out, IsoLocalTime(epochMs));
    out += ",\"epoch_ms\":" + QByteArray::number(qint64(epochMs)) + '}';
    return out;
}

} // namespace evtrak
