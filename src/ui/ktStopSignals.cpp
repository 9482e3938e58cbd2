#include "ui/ktStopSignals.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace evtrak {

namespace {

int g_signalPipe[2] = {-1, -1};
constexpr int kSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TStopSignals::TStopSignals(QObject* parent) : QObject(parent)
{
    if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    for (int i = 0; i < 4; ++i) {
        struct sigaction sa
        {
        };
        sa.sa_handler = kSignals[i] == SIGPIPE ? SIG_IGN : OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(kSignals[i], &sa, &m_old[i]);
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buf[16];
        while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        Q_EMIT stopRequested();
    });
    m_installed = true;
}

TStopSignals::~TStopSignals()
{
    if (!m_installed)
        return;
    for (int i = 0; i < 4; ++i)
        sigaction(kSignals[i], &m_old[i], nullptr);
    m_notifier.reset();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

} // namespace evtrak
