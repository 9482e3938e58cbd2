#include "mqtt/uMqttMessages.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

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

QString TMqttConfig::ReplayTopic() const
{
    return TopicPrefix + QStringLiteral("/") + Station + QStringLiteral("/replay");
}
QString TMqttConfig::MissingTopic() const
{
    return ReplayTopic() + QStringLiteral("/missing");
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
    c.ReplayFolder = QFileInfo(outboxFile).dir().filePath(QStringLiteral("mqtt_replay"));
    c.ReplayDays = std::clamp(prefs.MqttReplayDays, 0, 3650);
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
    // The zone's offset is looked up once a minute (offsets change on whole minutes);
    // the rest is integer arithmetic: the clock's zone lookups cost tens of
    // microseconds, too much at thousands of events a second. One cache per thread.
    thread_local std::int64_t cachedMinute = std::numeric_limits<std::int64_t>::min();
    thread_local int offsetSeconds = 0;
    const std::int64_t minute = epochMs >= 0 ? epochMs / 60000 : (epochMs - 59999) / 60000;
    if (minute != cachedMinute) {
        offsetSeconds = QDateTime::fromMSecsSinceEpoch(minute * 60000).offsetFromUtc();
        cachedMinute = minute;
    }
    const std::int64_t local = epochMs + std::int64_t(offsetSeconds) * 1000;
    std::int64_t days = local >= 0 ? local / 86400000 : (local - 86399999) / 86400000;
    const std::int64_t msOfDay = local - days * 86400000;
    // Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const int offsetMinutes = offsetSeconds / 60;
    const int absOffset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[48];
    const int n =
        std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                      static_cast<long long>(year), month, day, int(msOfDay / 3600000),
                      int(msOfDay / 60000 % 60), int(msOfDay / 1000 % 60), int(msOfDay % 1000),
                      offsetMinutes < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return QString::fromLatin1(text, n);
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

QByteArray RangeJson(std::uint64_t from, std::uint64_t to)
{
    return "{\"from\":" + QByteArray::number(qulonglong(from)) +
           ",\"to\":" + QByteArray::number(qulonglong(to)) + '}';
}

bool ParseRangeJson(const QByteArray& json, std::uint64_t& from, std::uint64_t& to)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    const QJsonValue f = o.value(QLatin1String("from"));
    const QJsonValue t = o.value(QLatin1String("to"));
    // JSON numbers are doubles: beyond 2^53 they are not exact.
    constexpr double kMax = 9007199254740991.0;
    if (!f.isDouble() || !t.isDouble() || f.toDouble() < 1 || t.toDouble() < f.toDouble() ||
        t.toDouble() > kMax || f.toDouble() != std::floor(f.toDouble()) ||
        t.toDouble() != std::floor(t.toDouble()))
        return false;
    from = std::uint64_t(f.toDouble());
    to = std::uint64_t(t.toDouble());
    return true;
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
