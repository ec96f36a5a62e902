#include "foundlyrics.h"

#include "atomicwrite.h"
#include "pathbytes.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes
{

namespace
{

// mkdir -p of the cache folder's parts below root (which is the program's own).
bool makeFolders(const QString &folder)
{
    QByteArray path = pathToBytes(folder);
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const QByteArray part = path.left(i);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return isFolder(folder);
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

QString defaultLyricsCacheRoot()
{
    // path-rule: the desktop cache folder, named by the environment.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("kestrine/lyrics"));
}

QString cachedLyricsFile(const QString &cacheRoot, const QString &stem)
{
    QString inner = stem;
    while (inner.startsWith(u'/'))
        inner.remove(0, 1);
    return cacheRoot + u'/' + inner + QStringLiteral(".lrc");
}

bool isFoundLyricsFile(const QString &path)
{
    const QByteArray mark(kFoundMark);
    const int fd = ::open(pathToBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {
    };
    QByteArray head(mark.size(), '\0');
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t n = regular ? ::read(fd, head.data(), head.size()) : -1;
    ::close(fd);
    return n == mark.size() && head == mark;
}

KeptLyrics keepFoundLyrics(const QString &cacheRoot, const QString &stem, const QString &text)
{
    QByteArray bytes = QByteArray(kFoundMark) + '\n' + text.toUtf8();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    KeptLyrics kept;
    const QString beside = stem + QStringLiteral(".lrc");
    const FileType there = fileTypeOf(beside);
    if (there == FileType::Missing || (there == FileType::Regular && isFoundLyricsFile(beside))) {
        if (writeFileAtomically(beside, bytes, &kept.error)) {
            kept.path = beside;
            return kept;
        }
    }
    const QString cached = cachedLyricsFile(cacheRoot, stem);
    if (!makeFolders(folderOf(cached))) {
        kept.error = QString::fromLocal8Bit(std::strerror(errno));
        return kept;
    }
    if (writeFileAtomically(cached, bytes, &kept.error)) {
        kept.path = cached;
        kept.inCache = true;
    }
    return kept;
}

int dropFoundLyrics(const QString &cacheRoot, const QString &stem)
{
    int removed = 0;
    for (const QString &path : { stem + QStringLiteral(".lrc"), cachedLyricsFile(cacheRoot, stem) })
        if (isFoundLyricsFile(path) && ::unlink(pathToBytes(path).constData()) == 0)
            ++removed;
    return removed;
}

} // namespace kes
