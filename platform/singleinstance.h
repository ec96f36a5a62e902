// One running player per user.  GUI thread only.
#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace kes
{

class SingleInstance
{
public:
    // lockDir empty: defaultLockDir().
    explicit SingleInstance(const QString &lockDir = QString());
    ~SingleInstance(); // releases the lock when held

    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this object holds the lock (now or already before).  False when another
    // living process, or another SingleInstance of this process, holds it.  A lock left
    // behind by a process that no longer runs is taken over.  Never waits.
    bool tryAcquire();
    bool isHeld() const;
    QString lockPath() const;

    // $KESTRINE_CONFIG_DIR when set (keeps test runs apart from a real player), else
    // $XDG_RUNTIME_DIR when it is a folder, else the temporary folder.
    static QString defaultLockDir();

private:
    QString m_path;
    // path-rule: a lock file of ours.
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace kes
