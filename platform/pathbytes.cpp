#include "pathbytes.h"

#include "textcodec.h"

#include <QUrl>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kes
{

namespace
{

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscape(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

// The length of the valid UTF-8 sequence starting at bytes[i], 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
qsizetype validSequenceAt(QByteArrayView bytes, qsizetype i, char32_t &cp)
{
    const auto b = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char c = b(i);
    qsizetype len;
    char32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > bytes.size())
        return 0;
    for (qsizetype k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

QString decodePart(QStringView part)
{
    if (!hasEscapedBytes(part))
        return part.toString();
    const QByteArray bytes = pathToBytes(part);
    const std::string utf8 = systemOrCp932ToUtf8(std::string_view(bytes.constData(), bytes.size()));
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

bool isUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
        || c == '_' || c == '~' || c == '/';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

QString pathFromBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const qsizetype len = validSequenceAt(bytes, i, cp);
        if (len == 0) {
            out.append(QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i]))));
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            out.append(QChar(static_cast<char16_t>(cp)));
        } else {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        }
        i += len;
    }
    return out;
}

QByteArray pathToBytes(QStringView path)
{
    QByteArray out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        char32_t cp = c;
        if (isEscape(c)) {
            out.append(static_cast<char>(c - kEscapeBase));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < path.size() && QChar::isLowSurrogate(path[i + 1].unicode())) {
            cp = QChar::surrogateToUcs4(c, path[i + 1].unicode());
            ++i;
        }
        // Any other lone surrogate keeps its three-byte form, so distinct texts stay
        // distinct names.
        if (cp < 0x80) {
            out.append(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.append(static_cast<char>(0xC0 | (cp >> 6)));
            out.append(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(static_cast<char>(0xE0 | (cp >> 12)));
            out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.append(static_cast<char>(0xF0 | (cp >> 18)));
            out.append(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool hasEscapedBytes(QStringView path)
{
    for (QChar c : path)
        if (isEscape(c.unicode()))
            return true;
    return false;
}

QString displayPath(QStringView path)
{
    if (!hasEscapedBytes(path))
        return path.toString();
    QString out;
    out.reserve(path.size());
    qsizetype start = 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf(u'/', start);
        if (end < 0)
            end = path.size();
        out += decodePart(path.sliced(start, end - start));
        if (end < path.size())
            out += u'/';
        start = end + 1;
    }
    return out;
}

QString pathFromFileUrl(QByteArrayView url)
{
    QByteArrayView rest;
    if (url.startsWith("file:///"))
        rest = url.sliced(7);
    else if (url.startsWith("file://localhost/"))
        rest = url.sliced(16);
    else if (url.startsWith("file:/") && !url.startsWith("file://"))
        rest = url.sliced(5);
    else
        return {};
    // A query or fragment is no part of a file's name.
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == '?' || rest[i] == '#') {
            rest = rest.first(i);
            break;
        }
    }
    QByteArray bytes;
    bytes.reserve(rest.size());
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && hexValue(rest[i + 1]) >= 0 && hexValue(rest[i + 2]) >= 0) {
            bytes.append(static_cast<char>(hexValue(rest[i + 1]) * 16 + hexValue(rest[i + 2])));
            i += 2;
        } else {
            bytes.append(rest[i]);
        }
    }
    return pathFromBytes(bytes);
}

QString pathFromFileUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    // The encoded form keeps bytes that are not UTF-8 as their percent escapes.
    return pathFromFileUrl(QByteArrayView(url.toEncoded(QUrl::RemoveQuery | QUrl::RemoveFragment)));
}

QByteArray fileUrlOfPath(QStringView path)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out("file://");
    for (char ch : pathToBytes(path)) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out.append(ch);
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 15]);
        }
    }
    return out;
}

FileType fileTypeOf(QStringView path)
{
    if (path.isEmpty())
        return FileType::Missing;
    struct stat st {
    };
    if (::stat(pathToBytes(path).constData(), &st) != 0)
        return FileType::Missing;
    if (S_ISREG(st.st_mode))
        return FileType::Regular;
    if (S_ISDIR(st.st_mode))
        return FileType::Folder;
    return FileType::Other;
}

QStringList namesInFolder(QStringView folder)
{
    QStringList names;
    DIR *dir = ::opendir(pathToBytes(folder).constData());
    if (!dir)
        return names;
    while (const dirent *e = ::readdir(dir)) {
        const QByteArrayView name(e->d_name);
        if (name != "." && name != "..")
            names.append(pathFromBytes(name));
    }
    ::closedir(dir);
    return names;
}

QString workingFolder()
{
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf))
        return QStringLiteral("/");
    return pathFromBytes(QByteArrayView(buf));
}

BoundedFile::BoundedFile(BoundedFile &&other) noexcept
{
    *this = std::move(other);
}

BoundedFile &BoundedFile::operator=(BoundedFile &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
        m_read = other.m_read;
        m_maxBytes = other.m_maxBytes;
        m_deadline = other.m_deadline;
        m_status = other.m_status;
    }
    return *this;
}

BoundedFile::~BoundedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

BoundedFile::Status BoundedFile::open(QStringView path, qint64 maxBytes, std::chrono::milliseconds timeLimit)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
    m_read = 0;
    m_maxBytes = maxBytes;
    m_deadline = std::chrono::steady_clock::now() + timeLimit;
    if (path.isEmpty())
        return m_status = Status::Missing;
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer.
    const int fd = ::open(pathToBytes(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return m_status = (errno == ENOENT || errno == ENOTDIR) ? Status::Missing : Status::Unreadable;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return m_status = Status::NotRegular;
    }
    // Reads of a regular file never wait for a writer; blocking mode again, so that a
    // read is never cut short for no reason.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    m_size = static_cast<qint64>(st.st_size);
    return m_status = Status::Ok;
}

qint64 BoundedFile::readChunk(QByteArray &out, qint64 chunk)
{
    if (m_fd < 0 || m_status != Status::Ok)
        return -1;
    if (std::chrono::steady_clock::now() > m_deadline) {
        m_status = Status::TooSlow;
        return -1;
    }
    // One byte past the limit tells a file that ends at it from one that goes on.
    const qint64 want = std::min(chunk, m_maxBytes + 1 - m_read);
    const qsizetype at = out.size();
    out.resize(at + want);
    ssize_t n;
    do {
        n = ::read(m_fd, out.data() + at, static_cast<size_t>(want));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        out.resize(at);
        m_status = Status::Unreadable;
        return -1;
    }
    out.resize(at + n);
    m_read += n;
    if (m_read > m_maxBytes) {
        m_status = Status::TooBig;
        return -1;
    }
    return n;
}

bool BoundedFile::readAll(QByteArray &out)
{
    for (;;) {
        const qint64 n = readChunk(out);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
    }
}

} // namespace kes
