#include "instancechannel.h"

#include "singleinstance.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace kes
{

namespace
{

// A request is one QDataStream-framed QStringList; the answer is this one byte.
constexpr char kTaken = 'k';

} // namespace

InstanceChannel::InstanceChannel(const QString &lockDir, QObject *parent)
    : QObject(parent)
{
    const QString dir = lockDir.isEmpty() ? SingleInstance::defaultLockDir() : lockDir;
    // path-rule: a socket of ours in the runtime folder.
    m_path = QDir(dir).filePath(QStringLiteral("kestrine-%1.socket").arg(getuid()));
}

InstanceChannel::~InstanceChannel() = default; // the server removes its socket file

bool InstanceChannel::listen()
{
    if (m_server)
        return true;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(m_path);
    if (!m_server->listen(m_path)) {
        qWarning("kestrine: cannot listen on %s: %s", qUtf8Printable(m_path), qUtf8Printable(m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    return true;
}

void InstanceChannel::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            QStringList paths;
            in >> paths;
            if (!in.commitTransaction())
                return; // not all of it yet
            socket->write(&kTaken, 1);
            socket->flush();
            socket->disconnectFromServer();
            emit filesReceived(paths);
        });
    }
}

bool InstanceChannel::send(const QStringList &paths, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The running instance may still be starting: its socket appears after its window.
    for (;;) {
        socket.connectToServer(m_path);
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    QByteArray request;
    QDataStream out(&request, QIODevice::WriteOnly);
    out << paths;
    socket.write(request);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) { }
    while (socket.bytesAvailable() < 1) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == kTaken;
}

} // namespace kes
