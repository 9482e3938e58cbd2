#include "mqtt/uMqttWatch.h"

#include "mqtt/uMqttErrors.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mosquitto.h>
#include <mutex>

namespace evtrak {

using namespace std::chrono_literals;

QString StationOfTopic(const QString& topic, const QString& prefix, const QString& leaf)
{
    const QString head = prefix + u'/';
    const QString tail = u'/' + leaf;
    if (!topic.startsWith(head) || !topic.endsWith(tail) ||
        topic.size() <= head.size() + tail.size())
        return {};
    const QString station = topic.mid(head.size(), topic.size() - head.size() - tail.size());
    return station.contains(u'/') ? QString() : station;
}

std::optional<TStationStatus> ParseStatusMessage(const QString& station, const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QString status = o.value(QLatin1String("status")).toString();
    if (status != QLatin1String("online") && status != QLatin1String("offline"))
        return std::nullopt;
    TStationStatus s;
    s.Station = station;
    s.Online = status == QLatin1String("online");
    s.Interface = o.value(QLatin1String("interface")).toString();
    s.Version = o.value(QLatin1String("version")).toString();
    return s;
}

std::optional<TStationEvent> ParseEventMessage(const QString& station, const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue seq = o.value(QLatin1String("seq"));
    const QJsonValue epoch = o.value(QLatin1String("epoch_ms"));
    if (!seq.isDouble() || !epoch.isDouble() || seq.toDouble() < 0)
        return std::nullopt;
    TStationEvent e;
    e.Station = station;
    e.Seq = std::uint64_t(seq.toDouble());
    e.Input = o.value(QLatin1String("input")).toInt(-1);
    e.Label = o.value(QLatin1String("label")).toString();
    const QJsonValue state = o.value(QLatin1String("state"));
    e.State = state == QJsonValue(QLatin1String("on"))    ? 1
              : state == QJsonValue(QLatin1String("off")) ? 0
                                                          : -1;
    e.EpochMs = std::int64_t(epoch.toDouble());
    e.DurationMs = o.value(QLatin1String("duration_ms")).toInt(0);
    return e;
}

struct TMqttWatch::Shared
{
    explicit Shared(TMqttConfig c)
        : Config(std::move(c)),
          StatusFilter((Config.TopicPrefix + QStringLiteral("/+/status")).toUtf8()),
          EventsFilter((Config.TopicPrefix + QStringLiteral("/+/events")).toUtf8())
    {}

    const TMqttConfig Config;
    const QByteArray StatusFilter;
    const QByteArray EventsFilter;
    std::atomic<bool> Stop{false};
    std::atomic<bool> Connected{false};

    std::mutex Mutex;
    std::condition_variable Cv;  // the pause between two attempts; Stop ends it
    TMqttWatch* Owner = nullptr; // null once the watch is gone
    bool WakePending = false;
    Batch Pending;
    QString Error;

    // Under Mutex.
    void WakeLocked()
    {
        if (!Owner || WakePending)
            return;
        WakePending = true;
        QMetaObject::invokeMethod(Owner, &TMqttWatch::changed, Qt::QueuedConnection);
    }
    void SetConnected(bool up, const QString& error)
    {
        std::lock_guard lock(Mutex);
        const bool was = Connected.exchange(up);
        if (was == up && error == Error)
            return;
        Error = error;
        WakeLocked();
    }
    void Body();
    static void OnConnect(mosquitto* m, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* msg);
};

void TMqttWatch::Shared::OnConnect(mosquitto* m, void* self, int rc)
{
    auto* s = static_cast<Shared*>(self);
    if (rc != 0) {
        s->SetConnected(false, ConnackError(rc));
        return;
    }
    mosquitto_subscribe(m, nullptr, s->StatusFilter.constData(), 1);
    mosquitto_subscribe(m, nullptr, s->EventsFilter.constData(), 1);
    s->SetConnected(true, {});
}

void TMqttWatch::Shared::OnMessage(mosquitto*, void* self, const mosquitto_message* msg)
{
    auto* s = static_cast<Shared*>(self);
    const QString topic = QString::fromUtf8(msg->topic);
    const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
    const QString prefix = s->Config.TopicPrefix;
    if (const QString st = StationOfTopic(topic, prefix, QStringLiteral("events")); !st.isEmpty()) {
        std::optional<TStationEvent> ev = ParseEventMessage(st, payload);
        if (!ev)
            return;
        std::lock_guard lock(s->Mutex);
        s->Pending.Received[st].push_back(ev->Seq);
        s->Pending.Events.push_back(std::move(*ev));
        if (s->Pending.Events.size() > kMaxQueuedEvents)
            s->Pending.Events.pop_front();
        s->WakeLocked();
    } else if (const QString st2 = StationOfTopic(topic, prefix, QStringLiteral("status"));
               !st2.isEmpty()) {
        std::optional<TStationStatus> status = ParseStatusMessage(st2, payload);
        if (!status)
            return;
        std::lock_guard lock(s->Mutex);
        s->Pending.Statuses[st2] = std::move(*status);
        s->WakeLocked();
    }
}

void TMqttWatch::Shared::Body()
{
    const QByteArray host = Config.Host.toUtf8();
    auto backoff = 250ms;
    while (!Stop.load()) {
        mosquitto* m = mosquitto_new(nullptr, true, this); // clean session, no will
        if (!m) {
            SetConnected(false, QStringLiteral("client MQTT impossible à créer"));
            return;
        }
        mosquitto_connect_callback_set(m, &Shared::OnConnect);
        mosquitto_message_callback_set(m, &Shared::OnMessage);
        if (!Config.Username.isEmpty()) {
            const QByteArray user = Config.Username.toUtf8();
            const QByteArray password = Config.Password.toUtf8();
            mosquitto_username_pw_set(m, user.constData(),
                                      Config.Password.isEmpty() ? nullptr : password.constData());
        }
        int rc = MOSQ_ERR_SUCCESS;
        if (!Config.CaFile.isEmpty()) {
            const QByteArray ca = QFile::encodeName(Config.CaFile);
            const QByteArray cert = QFile::encodeName(Config.CertFile);
            const QByteArray key = QFile::encodeName(Config.KeyFile);
            rc = mosquitto_tls_set(m, ca.constData(), nullptr,
                                   cert.isEmpty() ? nullptr : cert.constData(),
                                   key.isEmpty() ? nullptr : key.constData(), nullptr);
        }
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_connect(m, host.constData(), Config.Port, Config.KeepAlive);
        if (rc == MOSQ_ERR_SUCCESS) {
            backoff = 250ms;
            while (!Stop.load() && rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop(m, 100, 1);
            if (Stop.load())
                mosquitto_disconnect(m);
        }
        const int err = errno;
        mosquitto_destroy(m);
        if (Stop.load())
            break;
        SetConnected(false, MosqError(rc, err));
        std::unique_lock lock(Mutex);
        Cv.wait_for(lock, backoff, [this] { return Stop.load(); });
        backoff = std::min<std::chrono::milliseconds>(backoff * 2, 5s);
    }
    Connected.store(false);
}

TMqttWatch::TMqttWatch(TMqttConfig config, QObject* parent)
    : QObject(parent), m_config(std::move(config))
{
    static std::once_flag libInit;
    std::call_once(libInit, [] { mosquitto_lib_init(); });
}

TMqttWatch::~TMqttWatch()
{
    if (!m_shared)
        return;
    {
        std::lock_guard lock(m_shared->Mutex);
        m_shared->Owner = nullptr;
        m_shared->Stop.store(true);
    }
    m_shared->Cv.notify_all();
}

void TMqttWatch::Start()
{
    if (m_shared)
        return;
    m_shared = std::make_shared<Shared>(m_config);
    m_shared->Owner = this;
    // Detached: a connection attempt may block as long as the resolver or the TCP
    // timeout does, and closing the window must not wait for it. The thread keeps
    // what it uses alive.
    std::thread([shared = m_shared] { shared->Body(); }).detach();
}

bool TMqttWatch::Connected() const
{
    return m_shared && m_shared->Connected.load();
}

QString TMqttWatch::ErrorText() const
{
    if (!m_shared)
        return {};
    std::lock_guard lock(m_shared->Mutex);
    return m_shared->Error;
}

TMqttWatch::Batch TMqttWatch::Take()
{
    if (!m_shared)
        return {};
    std::lock_guard lock(m_shared->Mutex);
    m_shared->WakePending = false;
    return std::exchange(m_shared->Pending, Batch());
}

} // namespace evtrak
