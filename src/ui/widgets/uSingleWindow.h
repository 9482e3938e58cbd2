#pragma once
// One window per Log folder. The window that holds a folder's lock listens on a local
// socket named after the folder (per user, in $XDG_RUNTIME_DIR, else the temporary
// folder); a second window started on the same folder asks it to come to the front and
// ends before it shows anything.

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace evtrak {

// The socket's path for a Log folder: the same for every spelling of the folder.
QString SingleWindowSocketPath(const QString& logDir);

class TSingleWindowServer : public QObject
{
    Q_OBJECT
public:
    // bringToFront runs on each request; what it returns is the answer's text.
    explicit TSingleWindowServer(std::function<QString()> bringToFront, QObject* parent = nullptr);
    ~TSingleWindowServer() override;
    // Only the holder of the folder's lock may call it: a socket left by a window that
    // crashed is removed first. False when nothing listens (a second window then
    // refuses instead of reaching this one).
    bool Listen(const QString& logDir);

private:
    void OnConnection();

    std::function<QString()> m_bringToFront;
    QLocalServer* m_server = nullptr;
};

// The second window's side: asks the window holding logDir to come to the front. True,
// with its answer, when it answered within timeoutMs.
bool AskWindowToFront(const QString& logDir, int timeoutMs, QString* answer = nullptr);

} // namespace evtrak
