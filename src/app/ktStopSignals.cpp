#include "app/ktStopSignals.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace evtrak {

namespace {

int g_signalPipe[2] = {-1, -1};
constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnSignal(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

void SetHandler(int signal, void (*handler)(int), struct sigaction* old = nullptr)
{
    struct sigaction sa
    {
    };
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(signal, &sa, old);
}

} // namespace

void IgnoreFiguresSignal()
{
    SetHandler(SIGUSR1, SIG_IGN);
}

TStopSignals::TStopSignals(QObject* parent) : QObject(parent)
{
    if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    for (int i = 0; i < 3; ++i)
        SetHandler(kStopSignals[i], OnSignal, &m_old[i]);
    SetHandler(SIGPIPE, SIG_IGN, &m_old[3]);
    SetHandler(SIGUSR1, OnSignal);
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        bool stop = false;
        bool figures = false;
        char buf[64];
        ssize_t n = 0;
        while ((n = ::read(g_signalPipe[0], buf, sizeof buf)) > 0)
            for (ssize_t i = 0; i < n; ++i)
                (buf[i] == char(SIGUSR1) ? figures : stop) = true;
        if (figures)
            Q_EMIT figuresRequested();
        if (stop)
            Q_EMIT stopRequested();
    });
    m_installed = true;
}

TStopSignals::~TStopSignals()
{
    if (!m_installed)
        return;
    IgnoreFiguresSignal();
    for (int i = 0; i < 3; ++i)
        sigaction(kStopSignals[i], &m_old[i], nullptr);
    sigaction(SIGPIPE, &m_old[3], nullptr);
    m_notifier.reset();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

} // namespace evtrak
