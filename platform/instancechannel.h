// The running player's mailbox for the files of a second start.  The instance that holds
// the single-instance lock listens on a local socket in the lock's folder (private to the
// user); a later start that has files sends them there and ends.  GUI thread only.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace kes
{

class InstanceChannel : public QObject
{
    Q_OBJECT
public:
    // lockDir empty: SingleInstance::defaultLockDir().
    explicit InstanceChannel(const QString &lockDir = QString(), QObject *parent = nullptr);
    ~InstanceChannel() override;

    // The running instance (the lock's holder only: a socket left by a dead instance is
    // removed).  Returns false when the socket cannot be made; the player runs without it.
    bool listen();
    // A second start: hands paths to the running instance and waits, at most timeoutMs,
    // until it has taken them.  False when nobody listens or took them in time.
    bool send(const QStringList &paths, int timeoutMs = 5000) const;

    QString socketPath() const { return m_path; }

signals:
    // Files handed over by another start, in its order.
    void filesReceived(const QStringList &paths);

private:
    void accept();

    QString m_path;
    QLocalServer *m_server = nullptr;
};

} // namespace kes
