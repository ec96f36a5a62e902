#include "atomicwrite.h"

#include "pathbytes.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes
{

namespace
{

QString systemText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    // Through the name's bytes, so that a name that is not UTF-8 is written as it is.
    QByteArray target = pathToBytes(path);
    // A link is followed: the file it points to is replaced, the link stays.
    struct stat link {
    };
    if (::lstat(target.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char *real = ::realpath(target.constData(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const auto fail = [&](int err) {
        if (error)
            *error = systemText(err);
        return false;
    };
    struct stat old {
    };
    const bool existed = ::stat(target.constData(), &old) == 0;
    if (existed && S_ISDIR(old.st_mode))
        return fail(EISDIR);
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    // The new file keeps the old one's permissions; a new one gets those the umask allows.
    mode_t mode;
    if (existed) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.constData());
        return fail(err);
    }
    if (::close(fd) != 0 || ::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(err);
    }
    return true;
}

} // namespace kes
