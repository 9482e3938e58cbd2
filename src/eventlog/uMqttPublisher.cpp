#include "eventlog/uMqttPublisher.h"

#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcMqtt, "evtrak.mqtt", QtInfoMsg)

namespace evtrak {

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Messages handed to the library and not acknowledged yet: enough to keep a local
// broker busy, few enough that a reconnection resends little.
constexpr std::size_t kWindow = 1000;
constexpr auto kMaxBackoff = 5s;
constexpr auto kLinesInterval = 100ms; // at most ten lines messages a second
constexpr auto kSyncInterval = 1s;

std::int64_t NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The reasons a user meets most, in French; the library's own text otherwise.
QString MosqError(int rc, int err = 0)
{
    switch (rc) {
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return QStringLiteral("connexion perdue");
    case MOSQ_ERR_EAI:
        return QStringLiteral("serveur introuvable");
    case MOSQ_ERR_CONN_REFUSED:
        return QStringLiteral("connexion refusée par le serveur");
    case MOSQ_ERR_TLS:
        return QStringLiteral("échec de la négociation TLS");
    case MOSQ_ERR_ERRNO:
        if (err == ECONNREFUSED)
            return QStringLiteral("connexion refusée");
        if (err == ETIMEDOUT || err == EHOSTUNREACH || err == ENETUNREACH)
            return QStringLiteral("serveur injoignable");
        return QString::fromLocal8Bit(std::strerror(err));
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

QString ConnackError(int rc)
{
    switch (rc) {
    case 4:
        return QStringLiteral("utilisateur ou mot de passe refusé");
    case 5:
        return QStringLiteral("connexion non autorisée (utilisateur ou mot de passe ?)");
    default:
        return QStringLiteral("connexion refusée par le serveur (%1)")
            .arg(QString::fromUtf8(mosquitto_connack_string(rc)));
    }
}

} // namespace

TMqttPublisher::TMqttPublisher(TMqttConfig config)
    : m_config(std::move(config)), m_head(EventJsonHead(m_config.Station)),
      m_topicEvents(m_config.EventsTopic().toUtf8()),
      m_topicStatus(m_config.StatusTopic().toUtf8()), m_topicLines(m_config.LinesTopic().toUtf8())
{
    static std::once_flag libInit;
    std::call_once(libInit, [] { mosquitto_lib_init(); });
}

TMqttPublisher::~TMqttPublisher()
{
    Stop(0ms);
}

bool TMqttPublisher::Start()
{
    if (m_thread.joinable())
        return true;
    {
        std::lock_guard lock(m_mutex);
        if (!m_outbox.Open(m_config.OutboxFile)) {
            m_error = m_outbox.ErrorText();
            return false;
        }
        m_unsent = std::move(m_outbox.Pending());
        m_outbox.Pending().clear();
        m_lastSeq.store(m_outbox.NextSeq() - 1);
        m_ackedLocal = m_ackWritten = m_outbox.AckedUpTo();
        m_acked.store(m_ackedLocal);
    }
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_stop.store(false);
    m_thread = std::thread([this] { Body(); });
    return true;
}

void TMqttPublisher::Stop(std::chrono::milliseconds grace)
{
    if (m_thread.joinable()) {
        m_graceEndMs.store(NowMs() + grace.count());
        m_stop.store(true);
        Wake();
        m_thread.join();
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_wakeFd = -1;
    std::lock_guard lock(m_mutex);
    m_outbox.Sync();
    m_outbox.Close();
}

void TMqttPublisher::Publish(std::span<const QByteArray> tails)
{
    if (tails.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (!m_outbox.IsOpen())
            return;
        const std::uint64_t first = m_outbox.NextSeq();
        std::vector<QByteArray> payloads;
        payloads.reserve(tails.size());
        for (std::size_t i = 0; i < tails.size(); ++i)
            payloads.push_back(m_head + QByteArray::number(qulonglong(first + i)) + tails[i]);
        if (!m_outbox.Append(payloads.data(), payloads.size(), nullptr) && m_error.isEmpty()) {
            // The messages still go out from memory; only a crash before then loses them.
            m_error = m_outbox.ErrorText();
            qCWarning(lcMqtt).noquote() << m_error;
        }
        for (std::size_t i = 0; i < payloads.size(); ++i)
            m_incoming.push_back({first + i, std::move(payloads[i])});
        m_lastSeq.store(first + tails.size() - 1, std::memory_order_relaxed);
    }
    Wake();
}

QString TMqttPublisher::ErrorText() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void TMqttPublisher::SetError(const QString& text)
{
    std::lock_guard lock(m_mutex);
    if (text != m_error && !text.isEmpty())
        qCInfo(lcMqtt).noquote() << m_config.Describe() << ":" << text;
    m_error = text;
}

void TMqttPublisher::Wake()
{
    if (m_wakeFd < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void TMqttPublisher::Body()
{
    auto syncedSeq = m_lastSeq.load();
    m_syncedAt = SteadyClock::now();
    for (;;) {
        const bool stopping = m_stop.load();
        {
            std::lock_guard lock(m_mutex);
            while (!m_incoming.empty()) {
                m_unsent.push_back(std::move(m_incoming.front()));
                m_incoming.pop_front();
            }
        }
        if (stopping &&
            ((m_unsent.empty() && m_inflight.empty()) || !m_sessionUp || NowMs() >= m_graceEndMs))
            break;
        auto now = SteadyClock::now();
        if (!m_mosq && !stopping && now >= m_nextAttempt)
            Connect();
        if (m_sessionUp) {
            PublishQueued();
            PublishLines();
        }

        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        const int sock = m_mosq ? mosquitto_socket(m_mosq) : -1;
        if (sock >= 0) {
            fds[1] = {sock, short(POLLIN | (mosquitto_want_write(m_mosq) ? POLLOUT : 0)), 0};
            count = 2;
        }
        ::poll(fds, count, 100);
        if (fds[0].revents & POLLIN) {
            std::uint64_t n = 0;
            [[maybe_unused]] const ssize_t r = ::read(m_wakeFd, &n, sizeof n);
        }
        if (m_mosq) {
            int rc = MOSQ_ERR_SUCCESS;
            if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
                rc = mosquitto_loop_read(m_mosq, 1);
            if (rc == MOSQ_ERR_SUCCESS && count == 2 && (fds[1].revents & POLLOUT))
                rc = mosquitto_loop_write(m_mosq, 1);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop_misc(m_mosq);
            now = SteadyClock::now();
            if (m_refused) // the broker's reason, not the library's summary of it
                Drop(m_refusal);
            else if (rc != MOSQ_ERR_SUCCESS)
                Drop(MosqError(rc, errno));
            else if (!m_sessionUp &&
                     now - m_attemptStart > std::chrono::seconds(std::max(10, m_config.KeepAlive)))
                Drop(QStringLiteral("pas de réponse du serveur"));
        }
        WriteAcks();
        if (now - m_syncedAt >= kSyncInterval && syncedSeq != m_lastSeq.load()) {
            syncedSeq = m_lastSeq.load();
            m_syncedAt = now;
            m_outbox.Sync(); // only this thread replaces the outbox's file
        }
    }
    FinishClean();
}

void TMqttPublisher::Connect()
{
    m_attemptStart = SteadyClock::now();
    m_refused = false;
    // A new client object for every connection: the library then holds no message of
    // an earlier one, and everything unacknowledged is resent from here, in order.
    const QByteArray id =
        QStringLiteral("evtrak-%1-%2").arg(m_config.Station).arg(::getpid()).toUtf8();
    m_mosq = mosquitto_new(id.constData(), true, this);
    if (!m_mosq) {
        Drop(QStringLiteral("client MQTT impossible à créer"));
        return;
    }
    mosquitto_connect_callback_set(m_mosq, &TMqttPublisher::OnConnect);
    mosquitto_publish_callback_set(m_mosq, &TMqttPublisher::OnPublish);
    mosquitto_max_inflight_messages_set(m_mosq, 0); // the window above is the limit
    const QByteArray offline = StatusJson(m_config, false);
    mosquitto_will_set(m_mosq, m_topicStatus.constData(), int(offline.size()), offline.constData(),
                       1, true);
    if (!m_config.Username.isEmpty()) {
        const QByteArray user = m_config.Username.toUtf8();
        const QByteArray password = m_config.Password.toUtf8();
        mosquitto_username_pw_set(m_mosq, user.constData(),
                                  m_config.Password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_config.CaFile.isEmpty()) {
        const QByteArray ca = QFile::encodeName(m_config.CaFile);
        const QByteArray cert = QFile::encodeName(m_config.CertFile);
        const QByteArray key = QFile::encodeName(m_config.KeyFile);
        const int rc = mosquitto_tls_set(m_mosq, ca.constData(), nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            Drop(QStringLiteral("TLS : %1").arg(MosqError(rc)));
            return;
        }
    }
    const QByteArray host = m_config.Host.toUtf8();
    const int rc =
        mosquitto_connect_async(m_mosq, host.constData(), m_config.Port, m_config.KeepAlive);
    if (rc != MOSQ_ERR_SUCCESS)
        Drop(MosqError(rc, errno));
}

void TMqttPublisher::Drop(const QString& why)
{
    if (m_mosq)
        mosquitto_destroy(m_mosq); // no DISCONNECT: the broker sends the last will
    m_mosq = nullptr;
    m_sessionUp = false;
    m_refused = false;
    m_connected.store(false);
    for (auto it = m_inflight.rbegin(); it != m_inflight.rend(); ++it)
        if (!it->acked)
            m_unsent.push_front(std::move(it->entry));
    m_inflight.clear();
    m_midToSeq.clear();
    SetError(why);
    m_nextAttempt = SteadyClock::now() + m_backoff;
    m_backoff = std::min<std::chrono::milliseconds>(m_backoff * 2, kMaxBackoff);
}

void TMqttPublisher::OnConnect(mosquitto* mosq, void* self, int rc)
{
    auto* p = static_cast<TMqttPublisher*>(self);
    if (rc != 0) {
        p->m_refused = true;
        p->m_refusal = ConnackError(rc);
        return;
    }
    p->m_sessionUp = true;
    p->m_backoff = 250ms;
    p->m_linesPublished = 0x10000; // the broker may have lost the retained word
    const QByteArray online = StatusJson(p->m_config, true);
    mosquitto_publish(mosq, nullptr, p->m_topicStatus.constData(), int(online.size()),
                      online.constData(), 1, true);
    p->m_connected.store(true);
    p->SetError({});
    qCInfo(lcMqtt).noquote() << "connected to" << p->m_config.Describe();
}

void TMqttPublisher::OnPublish(mosquitto*, void* self, int mid)
{
    auto* p = static_cast<TMqttPublisher*>(self);
    const auto found = p->m_midToSeq.find(mid);
    if (found == p->m_midToSeq.end() || p->m_inflight.empty())
        return; // a status or lines message
    const std::uint64_t seq = found->second;
    p->m_midToSeq.erase(found);
    const std::uint64_t index = seq - p->m_inflight.front().entry.Seq;
    if (index < p->m_inflight.size())
        p->m_inflight[index].acked = true;
    while (!p->m_inflight.empty() && p->m_inflight.front().acked) {
        p->m_ackedLocal = p->m_inflight.front().entry.Seq;
        p->m_inflight.pop_front();
    }
}

void TMqttPublisher::PublishQueued()
{
    while (m_mosq && !m_unsent.empty() && m_inflight.size() < kWindow) {
        OutboxEntry& e = m_unsent.front();
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, m_topicEvents.constData(),
                                         int(e.Payload.size()), e.Payload.constData(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            Drop(MosqError(rc));
            return;
        }
        m_midToSeq[mid] = e.Seq;
        m_inflight.push_back({std::move(e), false});
        m_unsent.pop_front();
    }
}

void TMqttPublisher::PublishLines()
{
    const std::uint32_t word = m_linesWord.load(std::memory_order_relaxed);
    const auto now = SteadyClock::now();
    if (word > 0xFFFF || word == m_linesPublished || now - m_linesAt < kLinesInterval)
        return;
    const QByteArray payload = LinesJson(m_config.Station, std::uint16_t(word), NowMs());
    if (mosquitto_publish(m_mosq, nullptr, m_topicLines.constData(), int(payload.size()),
                          payload.constData(), 1, true) == MOSQ_ERR_SUCCESS) {
        m_linesPublished = word;
        m_linesAt = now;
    }
}

void TMqttPublisher::WriteAcks()
{
    if (m_ackedLocal <= m_ackWritten)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_outbox.Ack(m_ackedLocal);
    }
    m_ackWritten = m_ackedLocal;
    m_acked.store(m_ackedLocal, std::memory_order_relaxed);
}

void TMqttPublisher::FinishClean()
{
    if (m_mosq && m_sessionUp) {
        const QByteArray offline = StatusJson(m_config, false);
        mosquitto_publish(m_mosq, nullptr, m_topicStatus.constData(), int(offline.size()),
                          offline.constData(), 1, true);
        // Let what is queued leave, briefly; the PUBACKs that come back still count.
        const auto end = SteadyClock::now() + 500ms;
        while (m_mosq && mosquitto_want_write(m_mosq) && SteadyClock::now() < end) {
            pollfd fd{mosquitto_socket(m_mosq), POLLOUT | POLLIN, 0};
            ::poll(&fd, 1, 50);
            if ((fd.revents & POLLIN) && mosquitto_loop_read(m_mosq, 1) != MOSQ_ERR_SUCCESS)
                break;
            if ((fd.revents & POLLOUT) && mosquitto_loop_write(m_mosq, 1) != MOSQ_ERR_SUCCESS)
                break;
        }
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_write(m_mosq, 1);
        WriteAcks();
    }
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    m_sessionUp = false;
    m_connected.store(false);
}

} // namespace evtrak
