#include "mqtt/uMqttCollector.h"

#include "base/ktMisc.h"
#include "base/ktSafeFile.h"
#include "eventlog/uDateTexts.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mosquitto.h>
#include <sys/stat.h>
#include <unistd.h>

namespace evtrak {

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kMaxQueue = 20000;               // messages between the two threads
constexpr std::size_t kFlushAt = 20000;                // events waiting: written at once
constexpr std::size_t kMaxAskRanges = 16;              // ranges per request round
constexpr std::uint64_t kMaxSeq = 9007199254740991ULL; // exact in a JSON number
constexpr auto kQuiet = 3s; // a station silent this long has sent what the broker held
constexpr auto kMaxBackoff = 5s;

QString StateFile(const QString& dir)
{
    return QDir(dir).filePath(QStringLiteral("collect.state"));
}

// "yyyy-mm-ddThh:nn:ss..." (the station's local time): seconds since 30/12/1899 and
// the date; false when the text is not such a time.
bool LocalTimeFields(const QString& text, qint64& seconds, QDate& date)
{
    if (text.size() < 19 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T' ||
        text[13] != u':' || text[16] != u':')
        return false;
    auto num = [&](int at, int len, bool& ok) {
        int v = 0;
        for (int i = at; i < at + len; ++i) {
            if (!text[i].isDigit())
                ok = false;
            v = v * 10 + text[i].digitValue();
        }
        return v;
    };
    bool ok = true;
    const int y = num(0, 4, ok), mo = num(5, 2, ok), d = num(8, 2, ok);
    const int h = num(11, 2, ok), mi = num(14, 2, ok), s = num(17, 2, ok);
    date = QDate(y, mo, d);
    if (!ok || !date.isValid() || h > 23 || mi > 59 || s > 59)
        return false;
    seconds =
        (date.toJulianDay() - QDate(1899, 12, 30).toJulianDay()) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

QString PathText(const QString& dir, const QString& file)
{
    return QDir(dir).filePath(file);
}

qint64 FileSize(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_size) : 0;
}

bool CutFile(const QString& path, qint64 size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st
    {
    };
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && st.st_size > size)
        ok = ::ftruncate(fd, size) == 0 && ::fdatasync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

QStringList CollectStationList(const QString& setting)
{
    static const QRegularExpression sep(QStringLiteral("[,;\\s]+"));
    return setting.split(sep, Qt::SkipEmptyParts);
}

bool SafeStationName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64 || name.startsWith(u'.'))
        return false;
    for (const QChar c : name)
        if (!c.isLetterOrNumber() && c != u'-' && c != u'_' && c != u'.' && c != u'@')
            return false;
    return true;
}

TMqttCollector::TMqttCollector(TCollectConfig config, std::function<void(const QString&)> say)
    : m_config(std::move(config)), m_say(std::move(say)), m_prefix(m_config.Mqtt.TopicPrefix)
{
    static std::once_flag libInit;
    std::call_once(libInit, [] { mosquitto_lib_init(); });
    m_literalStations = !m_config.Stations.isEmpty();
    for (const QString& p : m_config.Stations) {
        if (p.contains(u'*') || p.contains(u'?') || p.contains(u'['))
            m_literalStations = false;
        m_patterns.emplace_back(QRegularExpression::wildcardToRegularExpression(
            p, QRegularExpression::UnanchoredWildcardConversion));
        m_patterns.back().setPattern(
            QStringLiteral("\\A(?:%1)\\z").arg(m_patterns.back().pattern()));
    }
}

TMqttCollector::~TMqttCollector()
{
    Stop();
}

bool TMqttCollector::Wanted(const QString& name) const
{
    if (m_patterns.empty())
        return true;
    return std::any_of(m_patterns.begin(), m_patterns.end(),
                       [&](const QRegularExpression& re) { return re.match(name).hasMatch(); });
}

bool TMqttCollector::Start()
{
    if (!QDir().mkpath(m_config.Folder)) {
        m_error = QStringLiteral("le dossier %1 ne peut pas être créé.").arg(m_config.Folder);
        return false;
    }
    if (!Recover())
        return false;
    LoadStates();

    m_mosq = mosquitto_new(m_config.ClientId.toUtf8().constData(), false, this);
    if (!m_mosq) {
        m_error = QStringLiteral("client MQTT impossible à créer.");
        return false;
    }
    mosquitto_threaded_set(m_mosq, true);
    mosquitto_connect_callback_set(m_mosq, &TMqttCollector::OnConnect);
    mosquitto_disconnect_callback_set(m_mosq, &TMqttCollector::OnDisconnect);
    mosquitto_message_callback_set(m_mosq, &TMqttCollector::OnMessage);
    const TMqttConfig& c = m_config.Mqtt;
    if (!c.Username.isEmpty())
        mosquitto_username_pw_set(m_mosq, c.Username.toUtf8().constData(),
                                  c.Password.isEmpty() ? nullptr : c.Password.toUtf8().constData());
    if (!c.CaFile.isEmpty()) {
        const QByteArray ca = QFile::encodeName(c.CaFile);
        const QByteArray cert = QFile::encodeName(c.CertFile);
        const QByteArray key = QFile::encodeName(c.KeyFile);
        if (mosquitto_tls_set(
                m_mosq, ca.constData(), nullptr, cert.isEmpty() ? nullptr : cert.constData(),
                key.isEmpty() ? nullptr : key.constData(), nullptr) != MOSQ_ERR_SUCCESS) {
            m_error = QStringLiteral("TLS : les fichiers de certificats ne sont pas utilisables.");
            return false;
        }
    }
    m_stop = m_netStop = false;
    m_thread = std::thread([this] { Body(); });
    m_netThread = std::thread([this] { Network(); });
    return true;
}

void TMqttCollector::Stop()
{
    if (m_netThread.joinable()) {
        m_netStop = true;
        m_netThread.join();
    }
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
}

std::vector<std::int64_t> TMqttCollector::TakeLatencies()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_latencies, {});
}

// ---------------------------------------------------------------- network thread

void TMqttCollector::Network()
{
    const QByteArray host = m_config.Mqtt.Host.toUtf8();
    auto backoff = 250ms;
    bool linked = false;
    bool reported = false;
    auto pause = [this](std::chrono::milliseconds d) {
        for (auto left = d; left > 0ms && !m_netStop; left -= 50ms)
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, 50ms));
    };
    while (!m_netStop) {
        if (!linked) {
            const int rc = mosquitto_connect(m_mosq, host.constData(), m_config.Mqtt.Port,
                                             m_config.Mqtt.KeepAlive);
            if (rc != MOSQ_ERR_SUCCESS) {
                if (!reported)
                    m_say(QStringLiteral("Collecteur : serveur MQTT %1 injoignable (%2) ; "
                                         "nouvel essai en continu.")
                              .arg(m_config.Mqtt.Describe(),
                                   rc == MOSQ_ERR_ERRNO
                                       ? ErrnoReason(errno)
                                       : QString::fromUtf8(mosquitto_strerror(rc))));
                reported = true;
                pause(backoff);
                backoff = std::min<std::chrono::milliseconds>(backoff * 2, kMaxBackoff);
                continue;
            }
            linked = true;
        }
        const int rc = mosquitto_loop(m_mosq, 100, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            linked = false;
            m_connected = false;
            if (!reported)
                m_say(QStringLiteral("Collecteur : connexion perdue avec %1 ; nouvel essai en "
                                     "continu.")
                          .arg(m_config.Mqtt.Describe()));
            reported = true;
            pause(backoff);
            backoff = std::min<std::chrono::milliseconds>(backoff * 2, kMaxBackoff);
        } else if (m_connected) {
            reported = false;
            backoff = 250ms;
        }
    }
    if (linked) {
        mosquitto_disconnect(m_mosq);
        for (int i = 0; i < 5 && mosquitto_want_write(m_mosq); ++i)
            mosquitto_loop(m_mosq, 20, 1);
    }
    m_connected = false;
}

void TMqttCollector::OnConnect(mosquitto* mosq, void* self, int rc)
{
    auto* c = static_cast<TMqttCollector*>(self);
    if (rc != 0) {
        c->m_say(
            QStringLiteral("Collecteur : connexion refusée par %1 (%2).")
                .arg(c->m_config.Mqtt.Describe(), QString::fromUtf8(mosquitto_connack_string(rc))));
        return;
    }
    QStringList topics;
    const QStringList kinds = {QStringLiteral("events"), QStringLiteral("status"),
                               QStringLiteral("replay/missing")};
    const QStringList names =
        c->m_literalStations ? c->m_config.Stations : QStringList{QStringLiteral("+")};
    for (const QString& name : names)
        for (const QString& kind : kinds)
            topics << c->m_prefix + u'/' + name + u'/' + kind;
    for (const QString& t : topics)
        mosquitto_subscribe(mosq, nullptr, t.toUtf8().constData(), 1);
    c->m_connected = true;
    c->m_connects.fetch_add(1);
    c->m_say(QStringLiteral("Collecteur : connecté à %1, sujets %2/%3/events.")
                 .arg(c->m_config.Mqtt.Describe(), c->m_prefix,
                      c->m_literalStations
                          ? QStringLiteral("{%1}").arg(c->m_config.Stations.join(u','))
                          : QStringLiteral("+")));
}

void TMqttCollector::OnDisconnect(mosquitto*, void* self, int)
{
    static_cast<TMqttCollector*>(self)->m_connected = false;
}

void TMqttCollector::OnMessage(mosquitto*, void* self, const mosquitto_message* msg)
{
    auto* c = static_cast<TMqttCollector*>(self);
    if (!msg || !msg->topic || msg->payloadlen < 0 || msg->payloadlen > 64 * 1024)
        return;
    Incoming in{QByteArray(msg->topic),
                QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen)};
    std::unique_lock lock(c->m_mutex);
    // The writer is behind: the broker waits (TCP) rather than the memory growing.
    c->m_room.wait(lock, [c] { return c->m_queue.size() < kMaxQueue || c->m_stop; });
    const bool wake = c->m_queue.empty();
    c->m_queue.push_back(std::move(in));
    lock.unlock();
    if (wake)
        c->m_wake.notify_one();
}

// ---------------------------------------------------------------- collector thread

void TMqttCollector::Body()
{
    auto nextFlush = SteadyClock::now() + m_config.FlushInterval;
    std::deque<Incoming> batch;
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_until(lock, nextFlush, [this] { return !m_queue.empty() || m_stop; });
            batch.swap(m_queue);
            stopping = m_stop;
        }
        m_room.notify_all();
        for (const Incoming& in : batch)
            Handle(in);
        batch.clear();
        const auto now = SteadyClock::now();
        if (stopping || now >= nextFlush || m_waiting >= kFlushAt) {
            Flush();
            if (stopping) {
                // Everything was recorded: a clean stop leaves no journal to undo.
                if (m_waiting == 0)
                    ::unlink(QFile::encodeName(
                                 QDir(m_config.Folder).filePath(QStringLiteral("collect.journal")))
                                 .constData());
                return;
            }
            if (now >= nextFlush) {
                AskGaps(now);
                nextFlush = now + m_config.FlushInterval;
            }
        }
    }
}

TMqttCollector::Station* TMqttCollector::StationFor(const QString& name)
{
    if (const auto it = m_stations.find(name); it != m_stations.end())
        return &it->second;
    if (m_blocked.contains(name))
        return nullptr; // said at the start
    if (!SafeStationName(name)) {
        if (!m_refused.contains(name)) {
            m_refused << name;
            QString shown = name;
            for (QChar& ch : shown)
                if (ch.unicode() < 0x20)
                    ch = u'?';
            m_say(QStringLiteral("Collecteur : le poste « %1 » est refusé, son nom ne peut pas "
                                 "servir de nom de dossier (lettres, chiffres, - _ . @, 64 au "
                                 "plus) ; ses messages sont ignorés.")
                      .arg(shown.left(80)));
        }
        return nullptr;
    }
    Station& st = m_stations[name];
    st.Name = name;
    st.Dir = QDir(m_config.Folder).filePath(name);
    return &st;
}

bool TMqttCollector::Has(const Station& st, std::uint64_t seq)
{
    if (seq <= st.D.Contiguous || st.Waiting.count(seq))
        return true;
    auto it = st.D.Done.upper_bound(seq);
    if (it == st.D.Done.begin())
        return false;
    --it;
    return seq <= it->second;
}

void TMqttCollector::MarkDone(Durable& d, std::uint64_t from, std::uint64_t to)
{
    from = std::max(from, d.Contiguous + 1);
    if (from > to)
        return;
    // Merged with the neighbours that touch or overlap [from, to].
    auto it = d.Done.upper_bound(from);
    if (it != d.Done.begin() && std::prev(it)->second + 1 >= from)
        --it;
    while (it != d.Done.end() && it->first <= to + 1) {
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        it = d.Done.erase(it);
    }
    d.Done.emplace(from, to);
    while (!d.Done.empty() && d.Done.begin()->first == d.Contiguous + 1) {
        d.Contiguous = d.Done.begin()->second;
        d.Done.erase(d.Done.begin());
    }
}

std::vector<TMqttCollector::Range>
TMqttCollector::Gaps(const Durable& d, std::uint64_t lastSeq,
                     const std::map<std::uint64_t, Pending>* waiting)
{
    std::vector<Range> out;
    std::uint64_t next = d.Contiguous + 1;
    auto done = d.Done.begin();
    std::map<std::uint64_t, Pending>::const_iterator w;
    if (waiting)
        w = waiting->begin();
    while (next <= lastSeq) {
        // The first number held at or after next, and where that held run ends.
        std::uint64_t held = lastSeq + 1;
        std::uint64_t heldEnd = lastSeq;
        while (done != d.Done.end() && done->second < next)
            ++done;
        if (waiting)
            while (w != waiting->end() && w->first < next)
                ++w;
        if (done != d.Done.end() && done->first <= lastSeq) {
            held = std::max(done->first, next);
            heldEnd = done->second;
        }
        if (waiting && w != waiting->end() && w->first < held)
            held = heldEnd = w->first;
        if (held > next)
            out.push_back({next, std::min(held - 1, lastSeq)});
        next = heldEnd + 1;
    }
    return out;
}

void TMqttCollector::Handle(const Incoming& in)
{
    // <prefix>/<station>/events | status | replay/missing
    const QString topic = QString::fromUtf8(in.Topic);
    if (!topic.startsWith(m_prefix + u'/'))
        return;
    const QString rest = topic.mid(m_prefix.size() + 1);
    const qsizetype slash = rest.indexOf(u'/');
    if (slash <= 0)
        return;
    const QString name = rest.left(slash);
    const QString kind = rest.mid(slash + 1);
    if (!Wanted(name))
        return;
    Station* st = StationFor(name);
    if (!st)
        return;
    const auto now = SteadyClock::now();
    if (kind == QLatin1String("status")) {
        const QString status =
            QJsonDocument::fromJson(in.Payload).object().value(QLatin1String("status")).toString();
        if (status.isEmpty() || status == st->D.Status)
            return;
        st->D.Status = status;
        st->Dirty = true;
        if (status == QLatin1String("online")) // back: what it sent meanwhile may be missing
            st->ProbeDue = true;
        return;
    }
    if (kind == QLatin1String("replay/missing")) {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        if (!ParseRangeJson(in.Payload, from, to))
            return;
        // Only numbers known to exist and not held are recorded lost. Numbers above the
        // last one seen become a gap, asked for once more before they are recorded: a
        // live message may still be on its way.
        constexpr std::uint64_t kMaxAhead = 10000000;
        if (to > st->LastSeq && to - st->LastSeq <= kMaxAhead) {
            const std::uint64_t known = st->LastSeq;
            st->LastSeq = to;
            to = known;
        }
        std::vector<Range> lost;
        for (const Range& gap : Gaps(st->D, st->LastSeq, &st->Waiting)) {
            const std::uint64_t a = std::max(gap.From, from);
            const std::uint64_t b = std::min(gap.To, to);
            if (a <= b)
                lost.push_back({a, b});
        }
        for (const Range& r : lost) {
            if (!st->D.Lost.empty() && st->D.Lost.back().To + 1 == r.From)
                st->D.Lost.back().To = r.To;
            else
                st->D.Lost.push_back(r);
            st->D.LostCount += r.To - r.From + 1;
            st->D.LastSeq = std::max(st->D.LastSeq, r.To);
            MarkDone(st->D, r.From, r.To);
            m_say(r.From == r.To
                      ? QStringLiteral("Collecteur : poste %1, évènement %2 perdu : le poste ne "
                                       "l'a plus.")
                            .arg(name)
                            .arg(r.From)
                      : QStringLiteral("Collecteur : poste %1, évènements %2 à %3 perdus : le "
                                       "poste ne les a plus.")
                            .arg(name)
                            .arg(r.From)
                            .arg(r.To));
        }
        if (!lost.empty())
            st->Dirty = true;
        return;
    }
    if (kind != QLatin1String("events"))
        return;
    const QJsonObject o = QJsonDocument::fromJson(in.Payload).object();
    const double seqValue = o.value(QLatin1String("seq")).toDouble(0);
    if (seqValue < 1 || seqValue > double(kMaxSeq) || seqValue != std::floor(seqValue))
        return;
    const auto seq = std::uint64_t(seqValue);
    st->HeardAt = now;
    st->ProbeDue = true; // once it is quiet, ask whether anything followed
    if (Has(*st, seq)) {
        m_duplicates.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const int input = o.value(QLatin1String("input")).toInt(-1);
    // A number whose event cannot be read would be asked for again forever: it is
    // recorded lost at once.
    const auto unreadable = [&] {
        m_say(QStringLiteral("Collecteur : poste %1, évènement %2 illisible : il est compté "
                             "perdu.")
                  .arg(name)
                  .arg(seq));
        if (!st->D.Lost.empty() && st->D.Lost.back().To + 1 == seq)
            st->D.Lost.back().To = seq;
        else
            st->D.Lost.push_back({seq, seq});
        ++st->D.LostCount;
        MarkDone(st->D, seq, seq);
        st->LastSeq = std::max(st->LastSeq, seq);
        st->D.LastSeq = std::max(st->D.LastSeq, seq);
        st->Dirty = true;
    };
    if (input < 0 || input > 999)
        return unreadable();
    const auto epochMs = std::int64_t(o.value(QLatin1String("epoch_ms")).toDouble(0));
    qint64 seconds = 0;
    QDate date;
    if (!LocalTimeFields(o.value(QLatin1String("time")).toString(), seconds, date)) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(epochMs);
        date = local.date();
        seconds = SecondsFromDateTime(DateTimeFromQt(local));
        if (!date.isValid() || seconds == kNoDateSeconds)
            return unreadable();
    }
    // The label may not hold what separates fields or lines.
    QString label = o.value(QLatin1String("label")).toString();
    for (QChar& ch : label)
        if (ch == u';' || ch.unicode() < 0x20)
            ch = u' ';
    const QString state = o.value(QLatin1String("state")).toString();
    if (state == QLatin1String("on"))
        label += QStringLiteral(" [ON]");
    else if (state == QLatin1String("off"))
        label += QStringLiteral(" [OFF]");
    char dt[kDateTimeTextLength + 8];
    char dur[kDurationTextMaxLength];
    const int format =
        m_config.DurationFormat >= 0 && m_config.DurationFormat <= 2 ? m_config.DurationFormat : 0;
    const auto durationMs = std::int32_t(
        std::clamp(o.value(QLatin1String("duration_ms")).toDouble(0), 0.0, 2147483647.0));
    const QString line = label + u';' + QString::number(input) + u';' +
                         QString::fromLatin1(dt, WriteDateTimeText(seconds, dt)) + u';' +
                         QString::fromLatin1(dur, WriteDurationText(durationMs, format, dur));
    Pending p;
    p.DayFile = date.toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".txt");
    p.Line = EncodeLineText(line) + "\r\n";
    p.EpochMs = epochMs;
    p.Filled = seq <= st->LastSeq;
    if (p.Filled)
        st->FilledAt = now;
    st->LastSeq = std::max(st->LastSeq, seq);
    st->Waiting.emplace(seq, std::move(p));
    ++m_waiting;
}

QByteArray TMqttCollector::StateText(const Durable& d)
{
    std::vector<Range> received;
    std::vector<Range> lostAbove;
    for (const auto& [a, b] : d.Done)
        received.push_back({a, b});
    // Done mixes written and lost numbers: the received ones are Done without the lost.
    std::vector<Range> onDisk;
    for (const Range& r : received) {
        std::uint64_t next = r.From;
        for (const Range& l : d.Lost) {
            if (l.To < next || l.From > r.To)
                continue;
            if (l.From > next)
                onDisk.push_back({next, l.From - 1});
            next = l.To + 1;
        }
        if (next <= r.To)
            onDisk.push_back({next, r.To});
    }
    QString text;
    text += QStringLiteral("contiguous=%1\n").arg(d.Contiguous);
    text += QStringLiteral("received=%1\n").arg(SeqRangesText(onDisk));
    text += QStringLiteral("gaps=%1\n").arg(SeqRangesText(Gaps(d, d.LastSeq, nullptr)));
    text += QStringLiteral("lost=%1\n").arg(SeqRangesText(d.Lost));
    text += QStringLiteral("filled=%1\n").arg(d.Filled);
    text += QStringLiteral("lost_count=%1\n").arg(d.LostCount);
    text += QStringLiteral("last_seq=%1\n").arg(d.LastSeq);
    text += QStringLiteral("last_epoch_ms=%1\n").arg(d.LastEpochMs);
    text += QStringLiteral("status=%1\n").arg(d.Status);
    text += QStringLiteral("batch=%1\n").arg(d.Batch);
    return text.toUtf8();
}

bool TMqttCollector::WriteState(const Station& st, const Durable& d)
{
    const QByteArray text = StateText(d);
    QString error;
    QDir().mkpath(st.Dir);
    if (WriteFileSafely(
            StateFile(st.Dir), [&text](QIODevice& out) { return out.write(text) == text.size(); },
            QString(), &error))
        return true;
    m_say(QStringLiteral("Collecteur : l'état du poste %1 ne peut pas être écrit (%2).")
              .arg(st.Name, error));
    return false;
}

namespace {

// Appends bytes at the end of a regular file and puts them on the disk itself; what a
// failed write added is cut off again.
bool AppendSynced(const QString& path, const QByteArray& bytes, bool& created, QString& error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    created = ::lstat(name.constData(), &st) != 0;
    const int fd =
        ::open(name.constData(),
               O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = ErrnoReason(errno);
        return false;
    }
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const qint64 before = st.st_size;
    if (!ok)
        error = QStringLiteral("ce n'est pas un fichier ordinaire");
    const char* p = bytes.constData();
    for (qint64 left = bytes.size(); ok && left > 0;) {
        const ssize_t n = ::write(fd, p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = ErrnoReason(n < 0 ? errno : ENOSPC);
            ok = false;
            [[maybe_unused]] const int r = ::ftruncate(fd, before);
            break;
        }
        p += n;
        left -= n;
    }
    if (ok && ::fdatasync(fd) != 0) {
        error = ErrnoReason(errno);
        ok = false;
    }
    ::close(fd);
    return ok;
}

void SyncFolder(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

void TMqttCollector::Flush()
{
    std::vector<Station*> writing;
    for (auto& [name, st] : m_stations)
        if (!st.Waiting.empty())
            writing.push_back(&st);
    const std::uint64_t batch = m_batch + 1;
    struct FileAt
    {
        QString Path;
        qint64 Before = 0;
    };
    std::map<Station*, std::vector<FileAt>> files;
    if (!writing.empty()) {
        // The journal first, on the disk itself: a crash from here on is undone from it.
        QByteArray journal = "batch=" + QByteArray::number(qulonglong(batch)) + '\n';
        for (Station* st : writing) {
            QDir().mkpath(st->Dir);
            QString last;
            for (const auto& [seq, p] : st->Waiting) {
                if (p.DayFile == last)
                    continue;
                last = p.DayFile;
                const QString path = PathText(st->Dir, p.DayFile);
                auto& list = files[st];
                if (std::any_of(list.begin(), list.end(),
                                [&](const FileAt& f) { return f.Path == path; }))
                    continue;
                list.push_back({path, FileSize(path)});
                journal += st->Name.toUtf8() + '\t' + p.DayFile.toUtf8() + '\t' +
                           QByteArray::number(list.back().Before) + '\n';
            }
        }
        QString error;
        if (!WriteFileSafely(
                QDir(m_config.Folder).filePath(QStringLiteral("collect.journal")),
                [&journal](QIODevice& out) { return out.write(journal) == journal.size(); },
                QString(), &error)) {
            if (!m_journalFailing)
                m_say(QStringLiteral("Collecteur : le journal d'écriture ne peut pas être écrit "
                                     "(%1) ; les évènements attendent en mémoire.")
                          .arg(error));
            m_journalFailing = true;
            writing.clear();
        } else {
            m_journalFailing = false;
            m_batch = batch;
        }
    }
    const std::int64_t nowMs = QDateTime::currentMSecsSinceEpoch();
    std::vector<std::int64_t> latencies;
    for (Station* st : writing) {
        std::map<QString, QByteArray> out;
        for (const auto& [seq, p] : st->Waiting)
            out[p.DayFile] += p.Line;
        bool ok = true;
        bool created = false;
        QString error;
        QString failed;
        for (const auto& [file, bytes] : out) {
            bool made = false;
            if (!AppendSynced(PathText(st->Dir, file), bytes, made, error)) {
                ok = false;
                failed = file;
                break;
            }
            created = created || made;
        }
        if (ok && created)
            SyncFolder(st->Dir);
        Durable next = st->D;
        if (ok) {
            std::uint64_t runFrom = 0;
            std::uint64_t runTo = 0;
            for (const auto& [seq, p] : st->Waiting) {
                if (runFrom && seq == runTo + 1) {
                    runTo = seq;
                } else {
                    if (runFrom)
                        MarkDone(next, runFrom, runTo);
                    runFrom = runTo = seq;
                }
                next.Filled += p.Filled ? 1 : 0;
                next.LastEpochMs = std::max(next.LastEpochMs, p.EpochMs);
            }
            MarkDone(next, runFrom, runTo);
            next.LastSeq = std::max(next.LastSeq, st->Waiting.rbegin()->first);
            next.Batch = batch;
            ok = WriteState(*st, next);
        } else if (!st->Failing) {
            m_say(QStringLiteral("Collecteur : %1 ne peut pas être écrit (%2) ; les évènements "
                                 "du poste %3 attendent en mémoire.")
                      .arg(PathText(st->Dir, failed), error, st->Name));
        }
        if (!ok) {
            // Nothing of this batch may stay in the files: the state does not have it.
            for (const FileAt& f : files[st])
                CutFile(f.Path, f.Before);
            st->Failing = true;
            continue;
        }
        if (st->Failing)
            m_say(QStringLiteral("Collecteur : les évènements du poste %1 s'écrivent de nouveau.")
                      .arg(st->Name));
        st->Failing = false;
        if (m_config.RecordLatency)
            for (const auto& [seq, p] : st->Waiting)
                latencies.push_back(nowMs - p.EpochMs);
        m_written.fetch_add(st->Waiting.size(), std::memory_order_relaxed);
        m_waiting -= st->Waiting.size();
        st->Waiting.clear();
        st->D = std::move(next);
        st->Dirty = false;
    }
    for (auto& [name, st] : m_stations)
        if (st.Dirty && st.Waiting.empty() && WriteState(st, st.D))
            st.Dirty = false;
    if (!latencies.empty()) {
        const std::int64_t after = QDateTime::currentMSecsSinceEpoch() - nowMs;
        std::lock_guard lock(m_mutex);
        for (const std::int64_t l : latencies)
            m_latencies.push_back(l + after);
    }
}

void TMqttCollector::Ask(const Station& st, std::uint64_t from, std::uint64_t to)
{
    const QByteArray topic = (m_prefix + u'/' + st.Name + QStringLiteral("/replay")).toUtf8();
    const QByteArray text = RangeJson(from, to);
    mosquitto_publish(m_mosq, nullptr, topic.constData(), int(text.size()), text.constData(), 1,
                      false);
}

void TMqttCollector::AskGaps(SteadyClock::time_point now)
{
    if (!m_connected)
        return;
    if (const int connects = m_connects.load(); connects != m_seenConnects) {
        // A new connection: whatever the broker could not keep may be missing at the end.
        m_seenConnects = connects;
        m_connectedAt = now;
        for (auto& [name, st] : m_stations)
            st.ProbeDue = true;
    }
    for (auto& [name, st] : m_stations) {
        const std::vector<Range> gaps = Gaps(st.D, st.LastSeq, &st.Waiting);
        if (!gaps.empty() && now - st.AskedAt >= m_config.AskAgain && now - st.FilledAt >= kQuiet) {
            st.AskedAt = now;
            for (std::size_t i = 0; i < gaps.size() && i < kMaxAskRanges; ++i)
                Ask(st, gaps[i].From, gaps[i].To);
        }
        // What follows the last number seen is asked for once the station was quiet
        // (after a connection, and after each run of events): a kill after the broker's
        // acknowledgement, or a queue the broker dropped, can leave the newest events
        // missing with nothing newer to show it.
        if (st.ProbeDue && now - m_connectedAt >= kQuiet && now - st.HeardAt >= kQuiet) {
            st.ProbeDue = false;
            Ask(st, st.LastSeq + 1, kMaxSeq);
        }
    }
}

bool TMqttCollector::Recover()
{
    const QString journalPath = QDir(m_config.Folder).filePath(QStringLiteral("collect.journal"));
    const FileReadResult r = ReadRegularFile(journalPath, kMaxSettingsFileBytes);
    if (r.State == FileReadResult::Missing)
        return true;
    if (r.State != FileReadResult::Ok) {
        m_error =
            QStringLiteral("le journal %1 ne peut pas être lu : %2.").arg(journalPath, r.Reason);
        return false;
    }
    const QList<QByteArray> lines = r.Bytes.split('\n');
    bool ok = false;
    const std::uint64_t batch =
        lines.value(0).startsWith("batch=") ? lines.value(0).mid(6).toULongLong(&ok) : 0;
    if (!ok) {
        m_say(QStringLiteral("Collecteur : le journal %1 est illisible ; il est ignoré.")
                  .arg(journalPath));
        ::unlink(QFile::encodeName(journalPath).constData());
        return true;
    }
    m_batch = batch;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split('\t');
        if (f.size() != 3)
            continue;
        const QString name = QString::fromUtf8(f[0]);
        const QString file = QString::fromUtf8(f[1]);
        bool sizeOk = false;
        const qint64 before = f[2].toLongLong(&sizeOk);
        static const QRegularExpression dayFile(QStringLiteral("\\A\\d{4}_\\d{2}_\\d{2}\\.txt\\z"));
        if (!SafeStationName(name) || !dayFile.match(file).hasMatch() || !sizeOk || before < 0)
            continue;
        const QString dir = QDir(m_config.Folder).filePath(name);
        const FileReadResult state = ReadRegularFile(StateFile(dir), kMaxSettingsFileBytes);
        std::uint64_t stateBatch = 0;
        bool stateOk = false;
        for (const QByteArray& line : state.Bytes.split('\n'))
            if (line.startsWith("batch="))
                stateBatch = line.mid(6).toULongLong(&stateOk);
        // A state that says nothing leaves the files as they are (the station is then
        // left alone); one that reached the batch has it recorded.
        if ((state.State == FileReadResult::Ok && !stateOk) ||
            state.State == FileReadResult::Refused || stateBatch >= batch)
            continue;
        const QString path = PathText(dir, file);
        const qint64 size = FileSize(path);
        if (size > before) {
            if (!CutFile(path, before)) {
                m_error = QStringLiteral("%1 ne peut pas être remis dans son état d'avant l'arrêt "
                                         "brutal.")
                              .arg(path);
                return false;
            }
            m_say(QStringLiteral("Collecteur : %1 remis à son état d'avant l'arrêt brutal ; les "
                                 "évènements non confirmés seront redemandés au poste %2.")
                      .arg(path, name));
        }
    }
    ::unlink(QFile::encodeName(journalPath).constData());
    SyncFolder(m_config.Folder);
    return true;
}

void TMqttCollector::LoadStates()
{
    const QStringList dirs = QDir(m_config.Folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : dirs) {
        if (!SafeStationName(name) || !Wanted(name))
            continue;
        bool ok = false;
        const QString dir = QDir(m_config.Folder).filePath(name);
        const FileReadResult r = ReadRegularFile(StateFile(dir), kMaxSettingsFileBytes);
        // Without its state, what the files hold is unknown: writing on would double
        // events, so the station is left alone until someone looks.
        const auto block = [&](const QString& why) {
            m_blocked << name;
            m_say(QStringLiteral("Collecteur : l'état du poste %1 (%2) %3 alors que ses "
                                 "fichiers existent ; ses messages sont ignorés pour ne rien "
                                 "écrire deux fois (remettez ce fichier, ou déplacez le dossier "
                                 "du poste pour tout reprendre).")
                      .arg(name, StateFile(dir), why));
        };
        if (r.State == FileReadResult::Missing) {
            QDirIterator files(dir, {QStringLiteral("*.txt")}, QDir::Files);
            while (files.hasNext())
                if (QFileInfo(files.next()).size() > 0) {
                    block(QStringLiteral("manque"));
                    break;
                }
            continue;
        }
        if (r.State != FileReadResult::Ok) {
            block(QStringLiteral("ne peut pas être lu : %1").arg(r.Reason));
            continue;
        }
        const qsizetype eol = r.Bytes.indexOf('\n');
        r.Bytes.mid(11, eol < 0 ? -1 : eol - 11).toULongLong(&ok);
        if (!r.Bytes.startsWith("contiguous=") || !ok) {
            block(QStringLiteral("est illisible"));
            continue;
        }
        Station& st = m_stations[name];
        st.Name = name;
        st.Dir = dir;
        Durable& d = st.D;
        const TCollectState saved = ParseCollectState(r.Bytes);
        d.Contiguous = saved.Contiguous;
        d.Lost = ParseSeqRanges(saved.Lost);
        d.Filled = saved.Filled;
        d.LostCount = saved.LostCount;
        d.LastSeq = saved.LastSeq;
        d.LastEpochMs = saved.LastEpochMs;
        d.Batch = saved.Batch;
        d.Status = saved.Status;
        const std::vector<Range> received = ParseSeqRanges(saved.Received);
        for (const Range& rg : received)
            MarkDone(d, rg.From, rg.To);
        for (const Range& rg : d.Lost)
            MarkDone(d, rg.From, rg.To);
        d.LastSeq = std::max(d.LastSeq, d.Contiguous);
        st.LastSeq = d.LastSeq;
        m_batch = std::max(m_batch, d.Batch);
    }
}

} // namespace evtrak
