#pragma once
// A private Mosquitto broker on a free loopback port (never the machine's own service),
// and a subscriber that collects what arrives. Shared by the MQTT tests and benchmark.

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace evtrak::test {

inline QString MosquittoProgram()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    return !found.isEmpty() ? found
                            : QStandardPaths::findExecutable(
                                  QStringLiteral("mosquitto"),
                                  {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
}

// A port nobody listens on now: bound once by the kernel's choice, then released.
inline int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

inline bool LoopbackPortOpen(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return open;
}

// The broker keeps its sessions in dir across a stop and a start (persistence), so a
// subscriber's queued messages survive the broker's restart.
class TestBroker
{
public:
    // extraConfig: more lines for the broker's configuration.
    explicit TestBroker(const QString& dir, const QByteArray& extraConfig = {})
        : m_dir(dir), m_extra(extraConfig), m_port(FreeLoopbackPort())
    {}
    ~TestBroker() { Stop(); }
    int Port() const { return m_port; }
    qint64 Pid() const { return m_process.processId(); }

    bool Start()
    {
        const QString conf = QDir(m_dir).filePath(QStringLiteral("mosquitto.conf"));
        QFile f(conf);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        // Started by root, the broker would become the user "mosquitto", who cannot
        // write its sessions into this folder: it stays who we are.
        const passwd* me = ::getpwuid(::geteuid());
        f.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence true\n"
                               "persistence_location %2/\nlog_dest none\nuser %3\n")
                    .arg(m_port)
                    .arg(m_dir, QString::fromLocal8Bit(me ? me->pw_name : "root"))
                    .toUtf8());
        f.write(m_extra);
        f.close();
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(MosquittoProgram(), {QStringLiteral("-c"), conf});
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!LoopbackPortOpen(m_port)) {
            if (t.elapsed() > 10000 || m_process.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(20);
        }
        return true;
    }
    // SIGTERM: the broker saves its sessions and ends.
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QString m_dir;
    QByteArray m_extra;
    int m_port;
    QProcess m_process;
};

struct Message
{
    QByteArray topic;
    QByteArray payload;
    bool retain = false;
    std::chrono::steady_clock::time_point at;
};

// A QoS 1 subscriber with a lasting session: what the broker holds for it while it is
// away comes when it is back. Runs libmosquitto's own thread; reconnects by itself.
class Subscriber
{
public:
    Subscriber(int port, const QByteArray& filter, const QByteArray& id = "evtrak-test-sub")
        : m_filter(filter)
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(id.constData(), false, this);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto* m, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr,
                                    static_cast<Subscriber*>(self)->m_filter.constData(), 1);
        });
        mosquitto_subscribe_callback_set(m_mosq, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->m_subscribed = true;
        });
        mosquitto_message_callback_set(
            m_mosq, [](mosquitto*, void* self, const mosquitto_message* msg) {
                auto* s = static_cast<Subscriber*>(self);
                std::lock_guard lock(s->m_mutex);
                s->m_messages.push_back(
                    {QByteArray(msg->topic),
                     QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen),
                     msg->retain, std::chrono::steady_clock::now()});
            });
        mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
        mosquitto_connect_async(m_mosq, "127.0.0.1", port, 60);
        mosquitto_loop_start(m_mosq);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    bool Subscribed() const { return m_subscribed.load(); }
    std::vector<Message> Messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    // The messages whose topic ends with suffix.
    std::vector<Message> On(const QByteArray& suffix) const
    {
        std::vector<Message> out;
        for (Message& m : Messages())
            if (m.topic.endsWith(suffix))
                out.push_back(std::move(m));
        return out;
    }

private:
    QByteArray m_filter;
    mosquitto* m_mosq = nullptr;
    std::atomic<bool> m_subscribed{false};
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
};

} // namespace evtrak::test
