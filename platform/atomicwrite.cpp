#include "atomicwrite.h"

#include "exitwatchdog.h"
#include "pathbytes.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
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

} // namespace

bool writeAllBytes(int fd, const QByteArray &bytes)
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

namespace
{

// The mask as the kernel reports it; the field exists since Linux 4.7.
std::optional<mode_t> umaskOfStatus()
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[4096];
    ssize_t got = 0;
    while (got < static_cast<ssize_t>(sizeof text) - 1) {
        const ssize_t n = ::read(fd, text + got, sizeof text - 1 - static_cast<size_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    text[got] = '\0';
    const char *field = std::strstr(text, "\nUmask:");
    if (!field)
        return std::nullopt;
    char *end = nullptr;
    const unsigned long mask = std::strtoul(field + 8, &end, 8);
    if (end == field + 8)
        return std::nullopt;
    return static_cast<mode_t>(mask & 0777);
}

} // namespace

mode_t processUmask()
{
    // Read once and never set: setting it, even back, leaves a moment in which another
    // thread creates files with the wrong permissions.  Without the field (an old kernel,
    // no /proc) the mask is read the only way there is, once, at the first call.
    static const mode_t mask = [] {
        if (const std::optional<mode_t> m = umaskOfStatus())
            return *m;
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    return mask;
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    return writeFileAtomically(
        path, [&bytes](int fd) { return writeAllBytes(fd, bytes); }, error);
}

bool writeFileAtomically(const QString &path, const std::function<bool(int fd)> &write, QString *error)
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
    // Removed by the exit watchdog should it end the process meanwhile.
    const std::string tempName = temp.toStdString();
    noteTemporaryFile(tempName);
    const struct Forget {
        const std::string &name;
        ~Forget() { forgetTemporaryFile(name); }
    } forget { tempName };
    // The new file keeps the old one's permissions; a new one gets those the umask allows.
    ::fchmod(fd, existed ? old.st_mode & 07777 : 0666 & ~processUmask());
    if (!write(fd) || ::fsync(fd) != 0) {
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
