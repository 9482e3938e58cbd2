#include "ui/widgets/uSingleWindow.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSingleWindow, "evtrak.ui.single")

namespace evtrak {

namespace {

const QByteArray kRequest = QByteArrayLiteral("evtrak:front\n");
constexpr qint64 kMaxRequest = 64;

} // namespace

QString SingleWindowSocketPath(const QString& logDir)
{
    QString canonical = QFileInfo(logDir).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(QDir(logDir).absolutePath());
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(canonical), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    return QDir(dir).filePath(
        QStringLiteral("evtrak-%1-%2").arg(qulonglong(::getuid())).arg(QString::fromLatin1(hash)));
}

TSingleWindowServer::TSingleWindowServer(std::function<QString()> bringToFront, QObject* parent)
    : QObject(parent), m_bringToFront(std::move(bringToFront))
{}

TSingleWindowServer::~TSingleWindowServer() = default;

bool TSingleWindowServer::Listen(const QString& logDir)
{
    const QString path = SingleWindowSocketPath(logDir);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path);
    if (!m_server->listen(path)) {
        qCWarning(lcSingleWindow) << "cannot listen on" << path << m_server->errorString();
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &TSingleWindowServer::OnConnection);
    return true;
}

void TSingleWindowServer::OnConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequest)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(kMaxRequest);
            if (line != kRequest) {
                socket->abort();
                return;
            }
            const QString answer = m_bringToFront ? m_bringToFront() : QString();
            socket->write(answer.toUtf8() + '\n');
            socket->disconnectFromServer(); // once the answer is written
        });
    }
}

bool AskWindowToFront(const QString& logDir, int timeoutMs, QString* answer)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(SingleWindowSocketPath(logDir));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    if (answer)
        *answer = QString::fromUtf8(socket.readLine(256)).trimmed();
    return true;
}

} // namespace evtrak
