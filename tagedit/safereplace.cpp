#include "safereplace.h"

#include "exitwatchdog.h"
#include "pathbytes.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace kes
{

namespace
{

std::mutex g_hookMutex;
std::function<void(const QByteArray &)> g_beforeReplace;

WriteResult result(WriteOutcome outcome, const QString &why)
{
    return WriteResult { outcome, why };
}

const QString kKept = QStringLiteral("元のファイルはそのままです。");

WriteResult changedResult()
{
    return result(WriteOutcome::Changed,
        QStringLiteral("読み込んだ後にファイルかフォルダが変更、移動または削除されたため、書き込みを中止しました。")
            + kKept);
}

bool sameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim);
}

bool isFull(int err)
{
    return err == ENOSPC || err == EFBIG || err == EDQUOT;
}

} // namespace

WriteResult systemFailure(int err, const QString &what)
{
    if (isFull(err))
        return result(WriteOutcome::DiskFull,
            QStringLiteral("ディスクの空きが足りないため、タグを書き込めませんでした。") + kKept);
    if (err == EACCES || err == EPERM || err == EROFS)
        return result(
            WriteOutcome::ReadOnly, QStringLiteral("書き込む権限がないため、タグを書き込めませんでした。") + kKept);
    return result(WriteOutcome::Failed,
        QStringLiteral("%1に失敗しました（%2）。").arg(what, QString::fromLocal8Bit(std::strerror(err))) + kKept);
}

void SafeReplace::setBeforeReplaceHook(std::function<void(const QByteArray &)> hook)
{
    const std::lock_guard lock(g_hookMutex);
    g_beforeReplace = std::move(hook);
}

SafeReplace::~SafeReplace()
{
    removeCopy();
    if (m_folder >= 0)
        ::close(m_folder);
}

void SafeReplace::removeCopy()
{
    if (!m_copyExists)
        return;
    ::unlinkat(m_folder, m_copyName.constData(), 0);
    forgetTemporaryFile(m_copyPath.toStdString());
    m_copyExists = false;
}

std::optional<WriteResult> SafeReplace::check(const QString &path)
{
    m_target = pathToBytes(path);
    struct stat link {
    };
    if (::lstat(m_target.constData(), &link) != 0)
        return errno == ENOENT ? changedResult() : systemFailure(errno, QStringLiteral("ファイルの確認"));
    if (S_ISLNK(link.st_mode)) {
        char *real = ::realpath(m_target.constData(), nullptr);
        if (!real)
            return changedResult();
        m_target = real;
        std::free(real);
    }
    const qsizetype slash = m_target.lastIndexOf('/');
    m_folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : m_target.left(slash);
    m_name = m_target.mid(slash + 1);
    m_folder = ::open(m_folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        return errno == ENOENT ? changedResult() : systemFailure(errno, QStringLiteral("フォルダを開くこと"));
    if (::fstat(m_folder, &m_folderStat) != 0 || ::fstatat(m_folder, m_name.constData(), &m_original, 0) != 0)
        return changedResult();
    if (!S_ISREG(m_original.st_mode))
        return result(WriteOutcome::NotSupported, QStringLiteral("通常のファイルではないため、タグを書き込めません。"));
    // The mode bits count even for a user whom the system would let write anyway.
    if ((m_original.st_mode & 0222) == 0 || ::faccessat(m_folder, m_name.constData(), W_OK, AT_EACCESS) != 0)
        return result(WriteOutcome::ReadOnly, QStringLiteral("ファイルが読み取り専用のため、タグを書き込めません。"));
    if (::faccessat(AT_FDCWD, m_folderPath.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return result(
            WriteOutcome::ReadOnly, QStringLiteral("フォルダに書き込む権限がないため、タグを書き込めません。"));
    return std::nullopt;
}

std::optional<WriteResult> SafeReplace::copy()
{
    const int in = ::openat(m_folder, m_name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return errno == ENOENT ? changedResult() : systemFailure(errno, QStringLiteral("ファイルを開くこと"));
    struct stat now {
    };
    if (::fstat(in, &now) != 0 || !sameFile(now, m_original)) {
        ::close(in);
        return changedResult();
    }
    int out = -1;
    for (int attempt = 0; attempt < 16 && out < 0; ++attempt) {
        m_copyName = ".kestrine-tag-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        out = ::openat(m_folder, m_copyName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0 && errno != EEXIST)
            break;
    }
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return systemFailure(err, QStringLiteral("一時ファイルの作成"));
    }
    m_copyPath = m_folderPath + '/' + m_copyName;
    m_copyExists = true;
    noteTemporaryFile(m_copyPath.toStdString());

    int err = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), static_cast<size_t>(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            err = errno;
        if (got <= 0)
            break;
        const char *at = buffer.constData();
        for (ssize_t left = got; left > 0 && err == 0;) {
            const ssize_t put = ::write(out, at, static_cast<size_t>(left));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                err = put == 0 ? ENOSPC : errno;
            else {
                at += put;
                left -= put;
            }
        }
        if (err != 0)
            break;
    }
    ::close(in);
    if (err == 0 && ::fsync(out) != 0)
        err = errno;
    if (::close(out) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        removeCopy();
        return systemFailure(err, QStringLiteral("ファイルの複製"));
    }
    return std::nullopt;
}

WriteResult SafeReplace::replace()
{
    const int fd = ::openat(m_folder, m_copyName.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        removeCopy();
        return systemFailure(err, QStringLiteral("一時ファイルを開くこと"));
    }
    ::fchmod(fd, m_original.st_mode & 07777);
    // Only root may give a file away; a user keeps the file as their own.
    if (::fchown(fd, m_original.st_uid, m_original.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), m_original.st_gid);
    const timespec times[2] = { m_original.st_atim, m_original.st_mtim };
    int err = ::futimens(fd, times) == 0 && ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        removeCopy();
        return systemFailure(err, QStringLiteral("一時ファイルの仕上げ"));
    }

    {
        const std::lock_guard lock(g_hookMutex);
        if (g_beforeReplace)
            g_beforeReplace(m_target);
    }
    // The original must still be the file that was copied, in the folder that was opened,
    // which must still be at its name.
    struct stat now {
    };
    struct stat folderNow {
    };
    if (::fstatat(m_folder, m_name.constData(), &now, 0) != 0 || !sameFile(now, m_original)
        || ::stat(m_folderPath.constData(), &folderNow) != 0 || folderNow.st_dev != m_folderStat.st_dev
        || folderNow.st_ino != m_folderStat.st_ino) {
        removeCopy();
        return changedResult();
    }
    if (::renameat(m_folder, m_copyName.constData(), m_folder, m_name.constData()) != 0) {
        err = errno;
        removeCopy();
        return systemFailure(err, QStringLiteral("ファイルの置き換え"));
    }
    forgetTemporaryFile(m_copyPath.toStdString());
    m_copyExists = false;
    ::fsync(m_folder);
    return WriteResult { WriteOutcome::Written, QString() };
}

} // namespace kes
