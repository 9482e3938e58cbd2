#pragma once
// SIGINT, SIGTERM and SIGHUP (Ctrl+C, systemd or a shutdown, a closed terminal or the
// end of the session) turned into a Qt signal on the event loop: the handler only
// writes one byte into a pipe, which a socket notifier watches. SIGPIPE is ignored
// meanwhile, so that a closed standard output cannot kill the program before it saved.
// One instance at a time; the previous handlers come back when it is destroyed.

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

namespace evtrak {

class TStopSignals : public QObject
{
    Q_OBJECT
public:
    explicit TStopSignals(QObject* parent = nullptr);
    ~TStopSignals() override;
    // false when the pipe could not be made (nothing installed).
    bool installed() const { return m_installed; }

Q_SIGNALS:
    // Emitted once per batch of signals received, on the event loop.
    void stopRequested();

private:
    bool m_installed = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_old[4]{};
};

} // namespace evtrak
