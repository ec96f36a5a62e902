#include "inifile.h"

#include "atomicwrite.h"
#include "pathbytes.h"
#include "textcodec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kes
{

namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(QByteArray bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(bytes.at(begin)))
        ++begin;
    while (end > begin && isBlank(bytes.at(end - 1)))
        --end;
    return bytes.mid(begin, end - begin);
}

// The longest prefix of a CP932 text that fits maxBytes without splitting a character.
qsizetype cp932CutLength(const QByteArray &bytes, qsizetype maxBytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes.at(at));
        const qsizetype width = isCp932LeadByte(c) ? 2 : 1;
        if (at + width > maxBytes)
            break;
        at += width;
    }
    return std::min(at, bytes.size());
}

// Reading the settings file gives up after this long (a file on a stalled network share).
constexpr std::chrono::milliseconds kReadTimeLimit { 2000 };

// The identity of the file at path as it stands now (fd when open), or nullopt.
std::optional<std::array<qint64, 4>> fileIdentity(const QByteArray &path, int fd = -1)
{
    struct stat st {
    };
    if ((fd >= 0 ? ::fstat(fd, &st) : ::stat(path.constData(), &st)) != 0)
        return std::nullopt;
    return std::array<qint64, 4> { static_cast<qint64>(st.st_dev), static_cast<qint64>(st.st_ino),
        static_cast<qint64>(st.st_size), static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec };
}

// mkdir -p over a path's bytes.
bool makeFolders(const QByteArray &folder)
{
    struct stat st {
    };
    if (folder.isEmpty() || ::stat(folder.constData(), &st) == 0)
        return folder.isEmpty() || S_ISDIR(st.st_mode);
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0 && !makeFolders(folder.left(slash)))
        return false;
    return ::mkdir(folder.constData(), 0777) == 0 || errno == EEXIST;
}

bool fitsOneLine(const QString &text)
{
    return !text.contains(u'\n') && !text.contains(u'\r') && !text.contains(QChar(u'\0'));
}

} // namespace

bool IniFile::load(const QString &path)
{
    *this = IniFile();
    BoundedFile file;
    QByteArray bytes;
    switch (file.open(path, MaxFileBytes, kReadTimeLimit)) {
    case BoundedFile::Status::Ok:
        break;
    case BoundedFile::Status::Missing: {
        // A dangling link is a file that cannot be read, not a missing one.
        struct stat st {
        };
        if (::lstat(pathToBytes(path).constData(), &st) != 0)
            return true;
        m_error = QStringLiteral("%1 cannot be read").arg(displayPath(path));
        return false;
    }
    case BoundedFile::Status::NotRegular:
        m_error = QStringLiteral("%1 is not a regular file").arg(displayPath(path));
        return false;
    default:
        m_error = QStringLiteral("%1 cannot be read").arg(displayPath(path));
        return false;
    }
    if (!file.readAll(bytes)) {
        if (file.status() != BoundedFile::Status::TooBig) {
            m_error = QStringLiteral("%1 cannot be read").arg(displayPath(path));
            return false;
        }
        // Past the limit: the lines that fit whole; the rest stays in the file, to be
        // copied from it by a save.
        const std::optional<std::array<qint64, 4>> identity = fileIdentity(pathToBytes(path));
        if (!identity) {
            m_error = QStringLiteral("%1 cannot be read").arg(displayPath(path));
            return false;
        }
        bytes.truncate(std::min<qsizetype>(bytes.size(), MaxFileBytes - SaveRoomBytes));
        bytes.truncate(bytes.lastIndexOf('\n') + 1);
        setContent(bytes);
        m_cut = true;
        m_source = { path, bytes.size(), *identity };
        return true;
    }
    setContent(bytes);
    return true;
}

void IniFile::setContent(const QByteArray &bytes)
{
    m_lines.clear();
    m_error.clear();
    QByteArray text = bytes;
    m_bom = text.startsWith("\xEF\xBB\xBF");
    if (m_bom)
        text.remove(0, 3);
    m_encoding = isValidUtf8(std::string_view(text.constData(), text.size())) ? Encoding::Utf8 : Encoding::Cp932;
    const qsizetype firstBreak = text.indexOf('\n');
    m_eol = (firstBreak > 0 && text.at(firstBreak - 1) == '\r') ? QByteArray("\r\n") : QByteArray("\n");

    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype brk = text.indexOf('\n', at);
        Line line;
        if (brk < 0) {
            line.raw = text.mid(at);
            // A CR that ends the file ends its last line, as the CR of a CR LF would.
            if (line.raw.endsWith('\r')) {
                line.raw.chop(1);
                line.eol = "\r";
            }
            at = text.size();
        } else {
            qsizetype end = brk;
            if (end > at && text.at(end - 1) == '\r')
                --end;
            line.raw = text.mid(at, end - at);
            line.eol = text.mid(end, brk + 1 - end);
            at = brk + 1;
        }
        parse(line);
        m_lines.push_back(std::move(line));
    }
}

QByteArray IniFile::content() const
{
    QByteArray out;
    if (m_bom)
        out += "\xEF\xBB\xBF";
    for (const Line &line : m_lines) {
        out += line.raw;
        out += line.eol;
    }
    return out;
}

bool IniFile::save(const QString &path)
{
    m_error.clear();
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    if (slash >= 0 && !makeFolders(pathToBytes(folder))) {
        m_error = QStringLiteral("cannot create the folder %1").arg(displayPath(folder));
        return false;
    }
    const QByteArray name = pathToBytes(path);
    if (::access(name.constData(), F_OK) == 0 && ::access(name.constData(), W_OK) != 0) {
        // Replacing a read-only file would succeed in a writable folder; the file's
        // protection is honoured as the Windows writer honours it.
        m_error = QStringLiteral("%1 is read-only").arg(path);
        return false;
    }
    if (m_cut)
        return saveWithRest(path);
    return writeFileAtomically(path, content(), &m_error);
}

bool IniFile::saveWithRest(const QString &path)
{
    const int from = ::open(pathToBytes(m_source.path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (from < 0 || fileIdentity({}, from) != m_source.identity) {
        // The rest to copy is no longer the rest of what was loaded.
        m_error = QStringLiteral("%1 changed while it was being saved").arg(displayPath(m_source.path));
        if (from >= 0)
            ::close(from);
        return false;
    }
    const qint64 size = m_source.identity[2];
    const auto write = [&](int to) {
        if (!writeAllBytes(to, content()))
            return false;
        std::vector<char> chunk(256 * 1024);
        for (qint64 at = m_source.restAt; at < size;) {
            const ssize_t n = ::pread(
                from, chunk.data(), static_cast<size_t>(std::min<qint64>(qint64(chunk.size()), size - at)), at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = EIO; // shorter than it was: not the file that was loaded
                return false;
            }
            if (!writeAllBytes(to, QByteArray::fromRawData(chunk.data(), n)))
                return false;
            at += n;
        }
        return true;
    };
    const bool ok = writeFileAtomically(path, write, &m_error);
    ::close(from);
    return ok;
}

std::optional<IniFile::RawValue> IniFile::rawValue(const QString &section, const QString &key, bool asText) const
{
    const qsizetype keyLine = findKey(findSection(section), key);
    if (keyLine < 0)
        return std::nullopt;
    const Line &line = m_lines[keyLine];
    QByteArray bytes = trimBlanks(line.raw.mid(line.valueAt));
    if (bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') && bytes.back() == bytes.front())
        bytes = bytes.mid(1, bytes.size() - 2);
    if (bytes.size() > MaxValueBytes) {
        // UTF-8 is cut at a character's boundary; a line of other bytes at one of a CP932
        // character when it is read as text, else at the byte.
        const qsizetype cut = line.utf8
            ? static_cast<qsizetype>(utf8CutLength(std::string_view(bytes.constData(), bytes.size()), MaxValueBytes))
            : asText ? cp932CutLength(bytes, MaxValueBytes)
                     : MaxValueBytes;
        bytes.truncate(cut);
    }
    return RawValue { bytes, line.utf8 };
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const std::optional<RawValue> raw = rawValue(section, key, true);
    if (!raw)
        return std::nullopt;
    return decode(raw->bytes, raw->utf8);
}

QString IniFile::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    return value(section, key).value_or(defaultValue);
}

std::optional<QString> IniFile::pathValue(const QString &section, const QString &key) const
{
    const std::optional<RawValue> raw = rawValue(section, key, false);
    if (!raw)
        return std::nullopt;
    return pathFromBytes(raw->bytes);
}

bool IniFile::setPathValue(const QString &section, const QString &key, const QString &path)
{
    // A name that is text goes as any text; one that is not takes its bytes as they are.
    if (!hasEscapedBytes(path))
        return setValue(section, key, path);
    if (!fitsOneLine(path) || !setValue(section, key, QString()))
        return false;
    Line &line = m_lines[findKey(findSection(section.trimmed()), key.trimmed())];
    line.raw = line.raw.left(line.valueAt) + pathToBytes(path);
    parse(line);
    return true;
}

bool IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    if (sectionName.isEmpty() || keyName.isEmpty() || !fitsOneLine(section) || !fitsOneLine(key) || !fitsOneLine(value)
        || section.contains(u']') || key.contains(u'=') || keyName.startsWith(u';') || keyName.startsWith(u'['))
        return false;

    const qsizetype sectionLine = findSection(sectionName);
    const qsizetype keyLine = findKey(sectionLine, keyName);
    if (keyLine >= 0) {
        Line &line = m_lines[keyLine];
        const std::optional<QByteArray> raw = composeLine(line.raw.left(line.valueAt), line.utf8, value);
        if (!raw)
            return false;
        line.raw = *raw;
        parse(line);
        return true;
    }
    const std::optional<QByteArray> keyText = composeLine({}, true, keyName + u'=' + value);
    if (!keyText)
        return false;
    if (sectionLine < 0) {
        const std::optional<QByteArray> sectionText = composeLine({}, true, QStringLiteral("[%1]").arg(sectionName));
        if (!sectionText)
            return false;
        // After the last line; in a file cut at load, before its last loaded section,
        // whose keys may go on in the rest.
        qsizetype at = static_cast<qsizetype>(m_lines.size());
        for (qsizetype i = at - 1; m_cut && i >= 0; --i) {
            if (m_lines[i].kind == Kind::Section) {
                at = i;
                break;
            }
        }
        insertLine(at, *sectionText);
        insertLine(at + 1, *keyText);
        return true;
    }
    qsizetype after = sectionLine;
    for (qsizetype i = sectionLine + 1; i < static_cast<qsizetype>(m_lines.size()); ++i) {
        if (m_lines[i].kind == Kind::Section)
            break;
        if (m_lines[i].kind == Kind::Key)
            after = i;
    }
    insertLine(after + 1, *keyText);
    return true;
}

void IniFile::parse(Line &line)
{
    line.kind = Kind::Other;
    line.name.clear();
    line.valueAt = -1;
    line.utf8 = isValidUtf8(std::string_view(line.raw.constData(), static_cast<size_t>(line.raw.size())));
    const QByteArray trimmed = trimBlanks(line.raw);
    if (trimmed.isEmpty() || trimmed.front() == ';')
        return;
    if (trimmed.front() == '[') {
        // Decoded before looking for ']', which can be the second byte of a CP932 character.
        const QString text = decode(trimmed.mid(1), line.utf8);
        const qsizetype close = text.indexOf(u']');
        line.kind = Kind::Section;
        line.name = (close < 0 ? text : text.left(close)).trimmed();
        return;
    }
    // '=' is never a byte of a multi-byte character in UTF-8 or CP932.
    const qsizetype eq = line.raw.indexOf('=');
    if (eq < 0)
        return;
    const QString name = decode(trimBlanks(line.raw.left(eq)), line.utf8);
    if (name.isEmpty())
        return;
    line.kind = Kind::Key;
    line.name = name;
    line.valueAt = eq + 1;
}

QString IniFile::decode(const QByteArray &bytes, bool utf8)
{
    if (utf8)
        return QString::fromUtf8(bytes);
    return QString::fromStdString(cp932ToUtf8(std::string_view(bytes.constData(), bytes.size())));
}

std::optional<QByteArray> IniFile::encode(const QString &text, Encoding encoding)
{
    // The converter marks a character with no CP932 form (written '?'); without a
    // converter it gives nothing.  Decoding the bytes again catches both, and a lone
    // surrogate in UTF-8.
    bool ok = true;
    const QByteArray bytes
        = encoding == Encoding::Utf8 ? text.toUtf8() : QByteArray::fromStdString(utf8ToCp932(text.toStdString(), &ok));
    if (!ok || decode(bytes, encoding == Encoding::Utf8) != text)
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> IniFile::composeLine(const QByteArray &head, bool headUtf8, const QString &text) const
{
    // What the file's encoding cannot hold fails, as it always has; UTF-8 stands in only
    // for bytes that would read as something else on a line of their own (CP932 bytes
    // that happen to be valid UTF-8, or a CP932 head beside a UTF-8 body).
    if (!encode(text, m_encoding))
        return std::nullopt;
    const QString headText = decode(head, headUtf8);
    const std::optional<QByteArray> tries[][2] = { { head, encode(text, m_encoding) },
        { head, encode(text, Encoding::Utf8) }, { encode(headText, Encoding::Utf8), encode(text, Encoding::Utf8) } };
    for (const auto &t : tries) {
        if (!t[0] || !t[1])
            continue;
        const QByteArray raw = *t[0] + *t[1];
        const bool utf8 = isValidUtf8(std::string_view(raw.constData(), static_cast<size_t>(raw.size())));
        if (decode(raw.left(t[0]->size()), utf8) == headText && decode(raw.mid(t[0]->size()), utf8) == text)
            return raw;
    }
    return std::nullopt;
}

qsizetype IniFile::findSection(const QString &section) const
{
    for (qsizetype i = 0; i < static_cast<qsizetype>(m_lines.size()); ++i) {
        if (m_lines[i].kind == Kind::Section && m_lines[i].name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

qsizetype IniFile::findKey(qsizetype sectionLine, const QString &key) const
{
    if (sectionLine < 0)
        return -1;
    for (qsizetype i = sectionLine + 1; i < static_cast<qsizetype>(m_lines.size()); ++i) {
        const Line &line = m_lines[i];
        if (line.kind == Kind::Section)
            break;
        if (line.kind == Kind::Key && line.name.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void IniFile::insertLine(qsizetype at, const QByteArray &raw)
{
    // The line before the new one must end, even when it was the last line of a file
    // without a final line break.
    if (at > 0 && m_lines[at - 1].eol.isEmpty())
        m_lines[at - 1].eol = m_eol;
    else if (at > 0 && m_lines[at - 1].eol == "\r")
        m_lines[at - 1].eol = "\r\n";
    Line line;
    line.raw = raw;
    line.eol = m_eol;
    parse(line);
    m_lines.insert(m_lines.begin() + at, std::move(line));
}

} // namespace kes
