#pragma once
// The program's asynchronous signals turned into Qt signals on the event loop: SIGINT,
// SIGTERM and SIGHUP (Ctrl+C, systemd or a shutdown, a closed terminal or the end of the
// session) ask for a stop, SIGUSR1 for the capture's figures. The handler only writes
// the signal's number, one byte per signal, into a pipe that a socket notifier watches.
// SIGPIPE is ignored meanwhile, so that a closed standard output cannot kill the program
// before it saved.
// One instance at a time. When it is destroyed the stop signals get their previous
// handlers back and SIGUSR1 goes back to ignored: its default action would end the
// program, and a figures request must never do that.

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

namespace evtrak {

// First thing in main, before any other thread or object: SIGUSR1 is ignored until a
// TStopSignals handles it.
void IgnoreFiguresSignal();

class TStopSignals : public QObject
{
    Q_OBJECT
public:
    explicit TStopSignals(QObject* parent = nullptr);
    ~TStopSignals() override;
    // false when the pipe could not be made (nothing installed).
    bool installed() const { return m_installed; }

Q_SIGNALS:
    // Each emitted once per batch of signals received, on the event loop; a batch that
    // holds both gives the figures first.
    void stopRequested();
    void figuresRequested();

private:
    bool m_installed = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_old[4]{};
};

} // namespace evtrak
