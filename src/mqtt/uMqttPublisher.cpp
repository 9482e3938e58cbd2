#include "mqtt/uMqttPublisher.h"

#include "mqtt/uMqttErrors.h"

#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>
#include <algorithm>
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
constexpr auto kSyncInterval = 1s;     // while no broker waits for the numbers
constexpr auto kCheckInterval = 1s;    // the outbox file still ours?
// Messages waiting in memory while the disk refuses them; beyond, they are given up.
constexpr std::size_t kMaxUnwritten = 10000;

std::atomic<TMqttPublisher::ConnectCall> g_connectCall{nullptr};

std::int64_t NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

// One connection attempt: the name resolution and the start of the connection run in
// a thread of their own, which may outlive the publisher when the resolver never
// answers; whichever lets go last destroys the client.
struct TConnectAttempt
{
    explicit TConnectAttempt(mosquitto* mosq)
        : Mosq(mosq), Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {}
    ~TConnectAttempt()
    {
        if (Mosq)
            mosquitto_destroy(Mosq);
        if (Fd >= 0)
            ::close(Fd);
    }
    TConnectAttempt(const TConnectAttempt&) = delete;
    TConnectAttempt& operator=(const TConnectAttempt&) = delete;

    std::mutex Mutex;
    mosquitto* Mosq; // the connecting thread's until Done
    const int Fd;    // readable once Done
    bool Done = false;
    int Rc = MOSQ_ERR_SUCCESS;
    int Err = 0;
};

void TMqttPublisher::SetConnectCall(ConnectCall call)
{
    g_connectCall.store(call);
}

TMqttPublisher::TMqttPublisher(TMqttConfig config)
    : m_config(std::move(config)), m_head(EventJsonHead(m_config.Station)),
      m_topicEvents(m_config.EventsTopic().toUtf8()),
      m_topicStatus(m_config.StatusTopic().toUtf8()), m_topicLines(m_config.LinesTopic().toUtf8()),
      m_topicReplay(m_config.ReplayTopic().toUtf8()),
      m_topicMissing(m_config.MissingTopic().toUtf8()),
      m_replay(m_config.ReplayFolder, m_config.ReplayFolder.isEmpty() ? 0 : m_config.ReplayDays)
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
        // Taken here, read by the publisher thread: a long outbox never delays the
        // start of the capture.
        if (!m_outbox.Lock(m_config.OutboxFile)) {
            m_error = m_outbox.ErrorText();
            return false;
        }
        m_ready = m_closed = false;
    }
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_stop.store(false);
    m_thread = std::thread([this] { Body(); });
    return true;
}

bool TMqttPublisher::ReadOutbox()
{
    // The UI side leaves the outbox alone until it is ready.
    const bool read = m_outbox.Read(&m_stop);
    std::lock_guard lock(m_mutex);
    if (!read) {
        m_closed = true;
        if (!m_stop.load()) {
            m_error = m_outbox.ErrorText();
            m_notices << QStringLiteral("MQTT désactivé : %1").arg(m_error);
        }
        return false;
    }
    if (const QString notice = m_outbox.TakeNotice(); !notice.isEmpty())
        m_notices << QStringLiteral("MQTT : %1").arg(notice);
    if (!m_replay.Open())
        m_notices << QStringLiteral("MQTT : %1 ; les évènements ne sont pas gardés pour être "
                                    "envoyés de nouveau.")
                         .arg(m_replay.ErrorText());
    m_synced = m_outbox.NextSeq() - 1; // Read leaves what it read on the disk
    m_ackedLocal = m_ackWritten = m_outbox.AckedUpTo();
    m_publishedUpTo = m_ackedLocal;
    m_acked.store(m_ackedLocal, std::memory_order_release);
    m_lastSeq.store(m_synced + m_unwritten.size(), std::memory_order_release);
    m_ready = true;
    FlushUnwrittenLocked(); // what was handed over meanwhile
    return true;
}

void TMqttPublisher::Stop(std::chrono::milliseconds grace)
{
    if (m_thread.joinable()) {
        m_deadlineMs.store(NowMs() + grace.count());
        m_stop.store(true);
        Wake();
        m_thread.join();
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_wakeFd = -1;
    std::lock_guard lock(m_mutex);
    if (m_ready)
        FlushUnwrittenLocked();
    if (const std::uint64_t lost = m_unwritten.size() + m_dropped)
        m_notices << QStringLiteral("MQTT : %1 évenement(s) n'ont pas pu être écrits dans %2 et ne "
                                    "seront pas publiés.")
                         .arg(lost)
                         .arg(m_config.OutboxFile);
    m_unwritten.clear();
    m_dropped = 0;
    if (m_ready)
        m_outbox.Sync();
    m_outbox.Close();
    m_ready = false;
    m_closed = true;
}

void TMqttPublisher::Publish(std::span<const QByteArray> tails)
{
    if (tails.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        for (const QByteArray& tail : tails) {
            if (m_unwritten.size() >= kMaxUnwritten)
                ++m_dropped;
            else
                m_unwritten.push_back(tail);
        }
        if (m_ready)
            FlushUnwrittenLocked();
        else
            m_lastSeq.store(m_unwritten.size(), std::memory_order_release);
    }
    Wake();
}

bool TMqttPublisher::FlushUnwrittenLocked()
{
    if (m_unwritten.empty())
        return true;
    // The waiting messages take the outbox's next numbers, in order, once written.
    std::vector<QByteArray> payloads;
    payloads.reserve(m_unwritten.size());
    const std::uint64_t first = m_outbox.NextSeq();
    for (std::size_t i = 0; i < m_unwritten.size(); ++i)
        payloads.push_back(m_head + QByteArray::number(qulonglong(first + i)) + m_unwritten[i]);
    const bool ok = m_outbox.Append(payloads.data(), payloads.size());
    if (ok && m_replay.IsOpen()) {
        std::vector<OutboxEntry> kept;
        kept.reserve(payloads.size());
        for (std::size_t i = 0; i < payloads.size(); ++i)
            kept.push_back({first + i, payloads[i]});
        const bool stored = m_replay.Append(kept.data(), kept.size());
        if (stored == m_replayFailing)
            m_notices << (stored ? QStringLiteral("MQTT : les évènements sont de nouveau gardés "
                                                  "pour être envoyés de nouveau.")
                                 : QStringLiteral("MQTT : %1 ; ces évènements ne pourront pas "
                                                  "être envoyés de nouveau.")
                                       .arg(m_replay.ErrorText()));
        m_replayFailing = !stored;
        m_replayUnsynced = true;
    }
    if (ok) {
        m_unwritten.clear();
        if (m_writeFailing)
            m_notices << QStringLiteral("MQTT : %1 s'écrit de nouveau.").arg(m_config.OutboxFile);
        m_writeFailing = false;
    } else if (!m_writeFailing) {
        // One line when it starts; the events wait in memory and are tried again.
        m_writeFailing = true;
        m_notices << QStringLiteral("MQTT : %1 ; les évenements attendent en mémoire sans être "
                                    "publiés.")
                         .arg(m_outbox.ErrorText());
    }
    m_lastSeq.store(m_outbox.NextSeq() - 1 + m_unwritten.size(), std::memory_order_release);
    return ok;
}

QString TMqttPublisher::ErrorText() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

QStringList TMqttPublisher::TakeNotices()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_notices, QStringList());
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
    if (!ReadOutbox())
        return;
    m_syncedAt = m_checkedAt = SteadyClock::now();
    for (;;) {
        const bool stopping = m_stop.load();
        auto now = SteadyClock::now();
        MakeDurable(now);
        if (stopping) {
            // The end leaves a little of the grace for the "offline" status.
            const std::int64_t deadline = m_deadlineMs.load();
            const std::int64_t graceLeft = deadline - NowMs();
            if (Pending() == 0 || !m_sessionUp || graceLeft <= 200)
                break;
        }
        if (!m_mosq && !m_connecting && !stopping && now >= m_nextAttempt)
            Connect();
        if (m_sessionUp) {
            PublishQueued();
            PublishReplays();
            PublishLines();
        }

        pollfd fds[3] = {{m_wakeFd, POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
        const int sock = m_mosq ? mosquitto_socket(m_mosq) : -1;
        if (sock >= 0)
            fds[1] = {sock, short(POLLIN | (mosquitto_want_write(m_mosq) ? POLLOUT : 0)), 0};
        if (m_connecting)
            fds[2] = {m_connecting->Fd, POLLIN, 0};
        ::poll(fds, 3, stopping ? 20 : 100);
        if (fds[0].revents & POLLIN) {
            std::uint64_t n = 0;
            [[maybe_unused]] const ssize_t r = ::read(m_wakeFd, &n, sizeof n);
        }
        if (fds[2].revents & POLLIN)
            FinishConnect();
        now = SteadyClock::now();
        const auto noAnswer = std::chrono::seconds(std::max(10, m_config.KeepAlive));
        if (m_mosq) {
            int rc = MOSQ_ERR_SUCCESS;
            if (sock >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
                rc = mosquitto_loop_read(m_mosq, 1);
            if (rc == MOSQ_ERR_SUCCESS && sock >= 0 && (fds[1].revents & POLLOUT))
                rc = mosquitto_loop_write(m_mosq, 1);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop_misc(m_mosq);
            if (m_refused) // the broker's reason, not the library's summary of it
                Drop(m_refusal);
            else if (rc != MOSQ_ERR_SUCCESS)
                Drop(MosqError(rc, errno));
            else if (!m_sessionUp && now - m_attemptStart > noAnswer)
                Drop(QStringLiteral("pas de réponse du serveur"));
        } else if (m_connecting && !m_slowReported && now - m_attemptStart > noAnswer) {
            // Still resolving the name: say so, and keep waiting for that one answer.
            m_slowReported = true;
            SetError(QStringLiteral("pas de réponse du serveur de noms"));
        }
        WriteAcks();
    }
    FinishClean();
}

void TMqttPublisher::MakeDurable(SteadyClock::time_point now)
{
    std::unique_lock lock(m_mutex);
    if (!m_unwritten.empty() && now - m_retriedAt >= kSyncInterval) {
        m_retriedAt = now;
        FlushUnwrittenLocked();
    }
    const std::uint64_t written = m_outbox.NextSeq() - 1;
    const bool fresh = written > m_synced;
    // Numbers go out only once on the disk itself, so a crash or a power cut can never
    // hand them to other events; with a broker waiting, they are synced at once (one
    // sync for all that came meanwhile). A file that could not be rewritten is tried
    // again once a second only.
    if ((fresh && !m_outboxBroken && (m_sessionUp || now - m_syncedAt >= kSyncInterval)) ||
        now - m_checkedAt >= kCheckInterval) {
        m_checkedAt = now;
        CheckOutboxLocked();
        if (fresh && !m_outboxBroken) {
            // The disk is waited for on a second descriptor of the same file, with the
            // lock let go: the UI thread's hand-over never waits for it.
            const int fd = m_outbox.DuplicateHandle();
            lock.unlock();
            const bool synced = fd >= 0 && ::fdatasync(fd) == 0;
            if (fd >= 0)
                ::close(fd);
            lock.lock();
            if (synced) {
                // A rewrite meanwhile put a synced file in place: still on the disk.
                m_synced = std::max(m_synced, written);
                m_syncedAt = now;
            }
        }
    }
    // The replay store needs no sync before a number goes out: it is synced once a
    // second, the outbox holds the events until the broker has them.
    if (m_replayUnsynced && now - m_replaySyncedAt >= kSyncInterval) {
        m_replaySyncedAt = now;
        m_replayUnsynced = false;
        const int fd = m_replay.DuplicateHandle();
        lock.unlock();
        if (fd >= 0) {
            ::fdatasync(fd);
            ::close(fd);
        }
        lock.lock();
    }
    const std::size_t held = m_unsent.size() + m_inflight.size();
    if (held < kWindow)
        m_outbox.Take(m_unsent, kWindow - held, m_synced);
}

void TMqttPublisher::CheckOutboxLocked()
{
    if (!m_outbox.IsOpen())
        return;
    const TMqttOutbox::FileState state = m_outbox.CheckFile();
    if (state == TMqttOutbox::FileState::Ours && !m_outboxBroken)
        return;
    const std::uint64_t before = m_outbox.NextSeq() - 1 - m_outbox.AckedUpTo();
    WriteAcksLocked(); // what was acknowledged is not rewritten
    std::vector<OutboxEntry> held(m_unsent.begin(), m_unsent.end());
    for (const Inflight& f : m_inflight)
        if (!f.acked)
            held.push_back(f.entry);
    std::uint64_t kept = 0;
    const bool wasBroken = m_outboxBroken;
    if (!m_outbox.Rewrite(held, &kept)) {
        if (!wasBroken)
            m_notices << QStringLiteral("MQTT : %1 a été supprimé ou modifié pendant la "
                                        "publication et ne peut pas être réécrit (%2) ; nouvel "
                                        "essai chaque seconde.")
                             .arg(m_config.OutboxFile, m_outbox.ErrorText());
        m_outboxBroken = true;
        return;
    }
    m_outboxBroken = false;
    m_synced = m_outbox.NextSeq() - 1; // the fresh file is on the disk itself
    m_acked.store(m_outbox.AckedUpTo(), std::memory_order_release);
    if (state == TMqttOutbox::FileState::Cut)
        m_notices << QStringLiteral("MQTT : %1 a été tronqué pendant la publication ; il est "
                                    "réécrit avec les %2 message(s) en attente encore connus%3.")
                         .arg(m_config.OutboxFile)
                         .arg(kept)
                         .arg(kept < before ? QStringLiteral(", %1 perdu(s)").arg(before - kept)
                                            : QString());
    else
        m_notices << QStringLiteral("MQTT : %1 a été supprimé ou remplacé pendant la "
                                    "publication ; il est réécrit avec les %2 message(s) en "
                                    "attente.")
                         .arg(m_config.OutboxFile)
                         .arg(kept);
}

void TMqttPublisher::Connect()
{
    m_attemptStart = SteadyClock::now();
    m_refused = false;
    m_slowReported = false;
    // A new client object for every connection: the library then holds no message of
    // an earlier one, and everything unacknowledged is resent from here, in order.
    const QByteArray id =
        QStringLiteral("evtrak-%1-%2").arg(m_config.Station).arg(::getpid()).toUtf8();
    mosquitto* mosq = mosquitto_new(id.constData(), true, this);
    if (!mosq) {
        Drop(QStringLiteral("client MQTT impossible à créer"));
        return;
    }
    mosquitto_connect_callback_set(mosq, &TMqttPublisher::OnConnect);
    mosquitto_publish_callback_set(mosq, &TMqttPublisher::OnPublish);
    mosquitto_message_callback_set(mosq, &TMqttPublisher::OnMessage);
    mosquitto_max_inflight_messages_set(mosq, 0); // the window above is the limit
    const QByteArray offline = StatusJson(m_config, false);
    mosquitto_will_set(mosq, m_topicStatus.constData(), int(offline.size()), offline.constData(), 1,
                       true);
    if (!m_config.Username.isEmpty()) {
        const QByteArray user = m_config.Username.toUtf8();
        const QByteArray password = m_config.Password.toUtf8();
        mosquitto_username_pw_set(mosq, user.constData(),
                                  m_config.Password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_config.CaFile.isEmpty()) {
        const QByteArray ca = QFile::encodeName(m_config.CaFile);
        const QByteArray cert = QFile::encodeName(m_config.CertFile);
        const QByteArray key = QFile::encodeName(m_config.KeyFile);
        const int rc = mosquitto_tls_set(mosq, ca.constData(), nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(mosq);
            Drop(QStringLiteral("TLS : %1").arg(MosqError(rc)));
            return;
        }
    }
    auto attempt = std::make_shared<TConnectAttempt>(mosq);
    const ConnectCall call = g_connectCall.load();
    try {
        std::thread([attempt, call, host = m_config.Host.toUtf8(), port = m_config.Port,
                     keepAlive = m_config.KeepAlive] {
            const int rc = (call ? call : &mosquitto_connect_async)(attempt->Mosq, host.constData(),
                                                                    port, keepAlive);
            const int err = errno;
            std::lock_guard lock(attempt->Mutex);
            attempt->Rc = rc;
            attempt->Err = err;
            attempt->Done = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(attempt->Fd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        Drop(QStringLiteral("client MQTT impossible à créer"));
        return;
    }
    m_connecting = std::move(attempt);
}

void TMqttPublisher::FinishConnect()
{
    int rc = MOSQ_ERR_SUCCESS;
    int err = 0;
    {
        std::lock_guard lock(m_connecting->Mutex);
        if (!m_connecting->Done)
            return;
        m_mosq = std::exchange(m_connecting->Mosq, nullptr);
        rc = m_connecting->Rc;
        err = m_connecting->Err;
    }
    m_connecting.reset();
    if (rc != MOSQ_ERR_SUCCESS)
        Drop(MosqError(rc, err));
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
    m_replayMids.clear();
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
    mosquitto_subscribe(mosq, nullptr, p->m_topicReplay.constData(), 1);
    p->m_connected.store(true);
    p->SetError({});
    qCInfo(lcMqtt).noquote() << "connected to" << p->m_config.Describe();
}

void TMqttPublisher::OnPublish(mosquitto*, void* self, int mid)
{
    auto* p = static_cast<TMqttPublisher*>(self);
    const auto found = p->m_midToSeq.find(mid);
    if (found == p->m_midToSeq.end()) {
        p->m_replayMids.erase(mid);
        return; // a replayed event, a status or lines message
    }
    const std::uint64_t seq = found->second;
    p->m_midToSeq.erase(found);
    // Numbers in flight rise but need not follow each other (a damaged record was
    // skipped, a cut outbox lost some): found by number, never by position.
    const auto it =
        std::lower_bound(p->m_inflight.begin(), p->m_inflight.end(), seq,
                         [](const Inflight& f, std::uint64_t s) { return f.entry.Seq < s; });
    if (it != p->m_inflight.end() && it->entry.Seq == seq)
        it->acked = true;
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
        m_publishedUpTo = std::max(m_publishedUpTo, e.Seq);
        m_inflight.push_back({std::move(e), false});
        m_unsent.pop_front();
    }
}

void TMqttPublisher::OnMessage(mosquitto*, void* self, const mosquitto_message* msg)
{
    auto* p = static_cast<TMqttPublisher*>(self);
    constexpr std::size_t kMaxJobs = 256; // a collector asks again what was not answered
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    if (!msg || !msg->payload || msg->payloadlen <= 0 || msg->payloadlen > 1024 ||
        p->m_replayJobs.size() >= kMaxJobs ||
        !ParseRangeJson(QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen), from,
                        to))
        return;
    p->m_replayJobs.emplace_back(from, to);
}

void TMqttPublisher::PublishReplays()
{
    std::vector<OutboxEntry> records;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> missing;
    while (m_mosq && !m_replayJobs.empty() && m_replayMids.size() < kWindow) {
        std::vector<ReplaySegment> segments;
        std::uint64_t last = 0;
        {
            std::lock_guard lock(m_mutex);
            if (!m_replay.IsOpen()) { // nothing can be said about what is kept
                m_replayJobs.clear();
                return;
            }
            segments = m_replay.Segments();
            last = std::min(m_synced, m_publishedUpTo);
        }
        records.clear();
        missing.clear();
        const bool done = m_replayJobs.front().Step(segments, last, kWindow - m_replayMids.size(),
                                                    records, missing);
        for (const OutboxEntry& e : records) {
            int mid = 0;
            const int rc =
                mosquitto_publish(m_mosq, &mid, m_topicEvents.constData(), int(e.Payload.size()),
                                  e.Payload.constData(), 1, false);
            if (rc != MOSQ_ERR_SUCCESS) {
                Drop(MosqError(rc));
                return;
            }
            m_replayMids.insert(mid);
        }
        for (const auto& [a, b] : missing) {
            const QByteArray text = RangeJson(a, b);
            mosquitto_publish(m_mosq, nullptr, m_topicMissing.constData(), int(text.size()),
                              text.constData(), 1, false);
        }
        if (done)
            m_replayJobs.pop_front();
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
    std::lock_guard lock(m_mutex);
    WriteAcksLocked();
}

void TMqttPublisher::WriteAcksLocked()
{
    if (m_ackedLocal <= m_ackWritten)
        return;
    m_outbox.Ack(m_ackedLocal);
    m_ackWritten = m_ackedLocal;
    m_acked.store(m_outbox.AckedUpTo(), std::memory_order_release);
}

void TMqttPublisher::FinishClean()
{
    // A resolution still running is left behind: it ends on its own and destroys its
    // client then.
    m_connecting.reset();
    if (m_mosq && m_sessionUp) {
        const QByteArray offline = StatusJson(m_config, false);
        mosquitto_publish(m_mosq, nullptr, m_topicStatus.constData(), int(offline.size()),
                          offline.constData(), 1, true);
        // Let what is queued leave until the stop's deadline; the PUBACKs that come
        // back still count.
        const std::int64_t deadline = m_deadlineMs.load();
        while (m_mosq && mosquitto_want_write(m_mosq)) {
            const std::int64_t left = deadline - NowMs();
            if (left <= 0)
                break;
            pollfd fd{mosquitto_socket(m_mosq), POLLOUT | POLLIN, 0};
            ::poll(&fd, 1, int(std::min<std::int64_t>(left, 50)));
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
