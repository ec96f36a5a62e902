#include "singleinstance.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace kes
{

SingleInstance::SingleInstance(const QString &lockDir)
{
    const QString dir = lockDir.isEmpty() ? defaultLockDir() : lockDir;
    // The user id keeps users apart in a shared temporary folder.
    // path-rule: a lock file of ours in the runtime folder.
    m_path = QDir(dir).filePath(QStringLiteral("kestrine-%1.lock").arg(getuid()));
    m_lock = std::make_unique<QLockFile>(m_path);
    // A lock is stale only when its process is gone: the default age limit would let a
    // second instance take the lock of one that has simply been running for a while.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default; // QLockFile unlocks in its destructor

bool SingleInstance::tryAcquire()
{
    if (m_lock->isLocked())
        return true;
    return m_lock->tryLock(0);
}

bool SingleInstance::isHeld() const
{
    return m_lock->isLocked();
}

QString SingleInstance::lockPath() const
{
    return m_path;
}

QString SingleInstance::defaultLockDir()
{
    const QString over = qEnvironmentVariable("KESTRINE_CONFIG_DIR");
    if (!over.isEmpty()) {
        // path-rule: the folder tests name for the lock.
        QDir().mkpath(over);
        return over;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // path-rule: the runtime folder or the temporary one.
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    return QDir::tempPath();
}

} // namespace kes
