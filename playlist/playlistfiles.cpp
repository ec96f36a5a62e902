#include "playlistfiles.h"

#include "atomicwrite.h"
#include "filename.h"
#include "textcodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <climits>

namespace kes
{

namespace
{

// The longest path and file name the file system takes, in bytes.
constexpr qsizetype kMaxPathBytes = PATH_MAX - 1;
constexpr qsizetype kMaxNameBytes = NAME_MAX;

bool canBeFileName(const QByteArray &utf8)
{
    if (utf8.contains('\0') || utf8.size() > kMaxPathBytes)
        return false;
    for (const QByteArray &part : utf8.split('/'))
        if (part.size() > kMaxNameBytes)
            return false;
    return true;
}

// A UTF-16 file with its BOM as UTF-8 bytes; anything else unchanged.
QByteArray unicodeToUtf8(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return bytes;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    QStringDecoder::Encoding encoding;
    if (b0 == 0xFF && b1 == 0xFE)
        encoding = QStringDecoder::Utf16LE;
    else if (b0 == 0xFE && b1 == 0xFF)
        encoding = QStringDecoder::Utf16BE;
    else
        return bytes;
    QStringDecoder decode(encoding, QStringDecoder::Flag::Stateless);
    const QString text = decode(QByteArrayView(bytes).sliced(2));
    return text.toUtf8();
}

QByteArray csvField(const QString &text)
{
    QByteArray f = text.toUtf8();
    f.replace('"', "\"\"");
    return '"' + f + '"';
}

} // namespace

M3uEntries parseM3u(const QByteArray &raw, const QString &baseDir)
{
    M3uEntries out;
    QByteArray bytes = unicodeToUtf8(raw);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        const QByteArray line = bytes.mid(start, end - start);
        start = end;
        if (start < n && bytes[start] == '\r')
            ++start;
        if (start < n && bytes[start] == '\n' && (start == end || bytes[start - 1] == '\r'))
            ++start;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const std::string utf8 = systemOrCp932ToUtf8(std::string_view(line.constData(), line.size()));
        const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
        QString path = text.startsWith(QLatin1Char('/')) ? text : absolutePathIn(baseDir, text);
        if (!canBeFileName(line) || !canBeFileName(path.toUtf8())) {
            out.aborted = true;
            break;
        }
        out.paths.append(std::move(path));
    }
    return out;
}

bool isListableFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

QByteArray m3uBytes(const QStringList &paths)
{
    QByteArray out;
    for (const QString &p : paths) {
        out += p.toUtf8();
        out += "\r\n";
    }
    return out;
}

QByteArray csvBytes(const QList<TrackRow> &rows)
{
    QByteArray out;
    for (const TrackRow &r : rows) {
        out += csvField(r.fullPath);
        out += ',';
        out += csvField(r.title);
        out += ',';
        out += csvField(r.artist);
        out += ',';
        out += csvField(r.album);
        out += "\r\n";
    }
    return out;
}

bool readWholeFile(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    if (path.isEmpty() || QFileInfo(path).isDir())
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    bytes = f.readAll();
    return f.error() == QFileDevice::NoError;
}

bool writeWholeFile(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty() || QFileInfo(path).isDir())
        return false;
    return writeFileAtomically(path, bytes);
}

QString readFailedMessage(const QString &path)
{
    return QStringLiteral("ファイル「%1」を読み込めませんでした。").arg(path);
}

QString writeFailedMessage(const QString &path)
{
    return QStringLiteral("ファイル「%1」に書き込めませんでした。").arg(path);
}

} // namespace kes
