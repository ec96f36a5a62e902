#include "playlistfiles.h"

#include "atomicwrite.h"
#include "cuesheet.h"
#include "cuetrack.h"
#include "filename.h"
#include "pathbytes.h"
#include "textcodec.h"

#include <QStringDecoder>

#include <algorithm>
#include <climits>
#include <optional>
#include <utility>

namespace kes
{

namespace
{

// The longest path and file name the file system takes, in bytes.
constexpr qsizetype kMaxPathBytes = PATH_MAX - 1;
constexpr qsizetype kMaxNameBytes = NAME_MAX;

// Our line before a cue track's image: the track's fields (cuetrack.h).
const QByteArray kTrackLine = QByteArrayLiteral("#KESTRINE-TRACK:");

// A name an M3U line can carry: no NUL, no line break, within the system's lengths.
bool canBeFileName(const QByteArray &bytes)
{
    if (bytes.contains('\0') || bytes.contains('\r') || bytes.contains('\n') || bytes.size() > kMaxPathBytes)
        return false;
    for (const QByteArray &part : bytes.split('/'))
        if (part.size() > kMaxNameBytes)
            return false;
    return true;
}

QByteArray csvField(const QByteArray &bytes)
{
    QByteArray f = bytes;
    f.replace('"', "\"\"");
    return '"' + f + '"';
}

QByteArray csvField(const QString &text)
{
    return csvField(text.toUtf8());
}

bool isValidUtf8Line(const QByteArray &line)
{
    return isValidUtf8(std::string_view(line.constData(), static_cast<size_t>(line.size())));
}

// Turns the bytes of a playlist, fed in pieces, into entries: lines first (with the
// UTF-16 decoding and the BOM), then each line by the rules of its format.
class PlaylistParser
{
public:
    PlaylistParser(const QString &baseDir, PlaylistFormat format)
        : m_baseDir(baseDir)
        , m_format(format)
    {
    }

    // false once the reading has ended (a line that cannot be read).
    bool feed(QByteArrayView bytes)
    {
        if (m_out.aborted)
            return false;
        if (!m_started) {
            m_head.append(bytes);
            if (m_head.size() < 3)
                return true;
            start();
            return !m_out.aborted;
        }
        return takeBytes(bytes);
    }

    M3uEntries finish()
    {
        if (!m_started && !m_out.aborted)
            start();
        if (m_decoder) {
            const QString rest = (*m_decoder)(QByteArrayView());
            takeLineBytes(rest.toUtf8());
        }
        if (!m_out.aborted && (!m_line.isEmpty() || m_pendingLine))
            endLine();
        if (m_format == PlaylistFormat::Pls && !m_out.aborted) {
            std::stable_sort(
                m_pls.begin(), m_pls.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
            for (const auto &[n, line] : m_pls)
                if (!addEntry(line))
                    break;
        }
        // The lists grew by doubling: give back the room no entry took.
        m_out.paths.squeeze();
        return std::move(m_out);
    }

private:
    void start()
    {
        m_started = true;
        QByteArray head = std::exchange(m_head, {});
        if (head.size() >= 2) {
            const auto b0 = static_cast<unsigned char>(head[0]);
            const auto b1 = static_cast<unsigned char>(head[1]);
            if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) {
                m_decoder.emplace(b0 == 0xFF ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
                head.remove(0, 2);
            }
        }
        if (!m_decoder && head.startsWith("\xEF\xBB\xBF"))
            head.remove(0, 3);
        takeBytes(head);
    }

    bool takeBytes(QByteArrayView bytes)
    {
        if (m_decoder)
            return takeLineBytes(QString((*m_decoder)(bytes)).toUtf8());
        return takeLineBytes(bytes);
    }

    bool takeLineBytes(QByteArrayView bytes)
    {
        for (qsizetype i = 0; i < bytes.size() && !m_out.aborted;) {
            const char c = bytes[i];
            if (m_afterCr && c == '\n') {
                m_afterCr = false;
                ++i;
                continue;
            }
            m_afterCr = false;
            if (c == '\r' || c == '\n') {
                m_afterCr = c == '\r';
                m_pendingLine = true;
                endLine();
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
                ++end;
            if (m_line.size() + (end - i) > kMaxPlaylistLineBytes) {
                m_out.aborted = true;
                break;
            }
            m_line.append(bytes.sliced(i, end - i));
            m_pendingLine = true;
            i = end;
        }
        return !m_out.aborted;
    }

    void endLine()
    {
        const QByteArray line = std::exchange(m_line, {});
        m_pendingLine = false;
        if (line.startsWith(kTrackLine) && m_format != PlaylistFormat::Pls) {
            m_trackFields = pathFromBytes(QByteArrayView(line).sliced(kTrackLine.size()));
            return;
        }
        if (line.isEmpty() || line.startsWith('#'))
            return;
        if (m_format != PlaylistFormat::Pls) {
            addEntry(line);
            return;
        }
        // PLS: "FileN=value"; every other line is no entry.
        const qsizetype eq = line.indexOf('=');
        if (eq < 5 || line.left(4).toLower() != "file")
            return;
        bool ok = false;
        const qlonglong n = line.mid(4, eq - 4).trimmed().toLongLong(&ok);
        if (ok)
            m_pls.append({ n, line.mid(eq + 1).trimmed() });
    }

    // false when the line ends the reading.
    bool addEntry(const QByteArray &line)
    {
        if (line.isEmpty())
            return true;
        if (line.contains('\0') || m_out.paths.size() >= kMaxPlaylistEntries) {
            m_out.aborted = true;
            return false;
        }
        QString path;
        QString alternative;
        if (line.startsWith("file:")) {
            path = pathFromFileUrl(QByteArrayView(line));
            if (path.isEmpty())
                return true; // a file on another host
        } else if (isValidUtf8Line(line)) {
            path = QString::fromUtf8(line);
        } else {
            path = pathFromBytes(line);
            if (m_format == PlaylistFormat::M3u) {
                const std::string utf8 = systemOrCp932ToUtf8(std::string_view(line.constData(), line.size()));
                alternative = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
            }
        }
        path = resolve(path);
        if (!alternative.isEmpty())
            alternative = resolve(alternative);
        if (!canBeFileName(line) || !canBeFileName(pathToBytes(path))) {
            m_out.aborted = true;
            return false;
        }
        // The track of the line before: the entry is the image's track, not the image.
        if (const QString fields = std::exchange(m_trackFields, {}); !fields.isEmpty()) {
            if (const std::optional<CueTrackRef> track = parseCueTrackFields(fields, path)) {
                path = cueTrackKey(*track);
                if (!alternative.isEmpty()) {
                    CueTrackRef other = *track;
                    other.image = alternative;
                    alternative = cueTrackKey(other);
                }
            }
        }
        if (!alternative.isEmpty())
            m_out.alternatives.insert(m_out.paths.size(), std::move(alternative));
        m_out.paths.append(std::move(path));
        return true;
    }

    QString resolve(const QString &path) const
    {
        return path.startsWith(QLatin1Char('/')) ? path : absolutePathIn(m_baseDir, path);
    }

    const QString m_baseDir;
    const PlaylistFormat m_format;
    M3uEntries m_out;
    bool m_started = false;
    QByteArray m_head; // the first bytes, until the BOM can be told
    std::optional<QStringDecoder> m_decoder; // a UTF-16 file
    QByteArray m_line; // the line read so far
    bool m_pendingLine = false;
    bool m_afterCr = false; // an LF now ends nothing (the CR ended the line)
    QList<std::pair<qlonglong, QByteArray>> m_pls;
    QString m_trackFields; // a #KESTRINE-TRACK line's, for the entry that follows it
};

} // namespace

PlaylistFormat playlistFormatOf(const QString &path)
{
    if (path.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive))
        return PlaylistFormat::M3u8;
    if (path.endsWith(QLatin1String(".pls"), Qt::CaseInsensitive))
        return PlaylistFormat::Pls;
    return PlaylistFormat::M3u;
}

bool isPlaylistName(const QString &path)
{
    for (const char *ext : { ".m3u", ".m3u8", ".pls" })
        if (path.endsWith(QLatin1String(ext), Qt::CaseInsensitive))
            return true;
    return false;
}

M3uEntries parsePlaylist(const QByteArray &bytes, const QString &baseDir, PlaylistFormat format)
{
    PlaylistParser parser(baseDir, format);
    parser.feed(bytes);
    return parser.finish();
}

M3uEntries parseM3u(const QByteArray &bytes, const QString &baseDir)
{
    return parsePlaylist(bytes, baseDir, PlaylistFormat::M3u);
}

bool readPlaylist(const QString &path, M3uEntries &entries)
{
    entries = {};
    BoundedFile file;
    if (file.open(path, kMaxPlaylistBytes, kPlaylistTimeLimit) != BoundedFile::Status::Ok)
        return false;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString base
        = slash < 0 ? workingFolder() : absolutePathIn(workingFolder(), path.left(std::max<qsizetype>(slash, 1)));
    PlaylistParser parser(base, playlistFormatOf(path));
    QByteArray chunk;
    for (;;) {
        chunk.clear();
        const qint64 n = file.readChunk(chunk);
        if (n == 0)
            break;
        if (n < 0) {
            // Past the limits: what came before stays, and the reading ends as at a bad line.
            if (file.status() == BoundedFile::Status::Unreadable && chunk.isEmpty())
                return false;
            parser.feed(chunk);
            entries = parser.finish();
            entries.aborted = true;
            return true;
        }
        if (!parser.feed(chunk))
            break;
    }
    entries = parser.finish();
    return true;
}

bool isListableFile(const QString &path)
{
    return isRegularFile(path);
}

QByteArray m3uBytes(const QStringList &paths)
{
    QList<TrackRow> rows;
    rows.reserve(paths.size());
    for (const QString &p : paths) {
        TrackRow r;
        r.fullPath = p;
        rows.append(std::move(r));
    }
    return m3uBytes(rows);
}

QByteArray m3uBytes(const QList<TrackRow> &rows)
{
    QByteArray out;
    for (const TrackRow &r : rows) {
        if (const std::optional<CueTrackRef> track = cueTrackOf(r.fullPath)) {
            const int seconds = r.cue ? r.cue->seconds : -1;
            const QString name = r.artist.isEmpty() ? r.title : r.artist + QStringLiteral(" - ") + r.title;
            out += "#EXTINF:" + QByteArray::number(seconds) + ',' + name.toUtf8() + "\r\n";
            out += "#EXTVLCOPT:start-time=" + QByteArray::number(track->start / double(kCdFramesPerSecond), 'f', 3)
                + "\r\n";
            if (track->end >= 0)
                out += "#EXTVLCOPT:stop-time=" + QByteArray::number(track->end / double(kCdFramesPerSecond), 'f', 3)
                    + "\r\n";
            out += kTrackLine + pathToBytes(cueTrackFields(*track)) + "\r\n";
            out += pathToBytes(track->image);
        } else {
            out += pathToBytes(r.fullPath);
        }
        out += "\r\n";
    }
    return out;
}

QByteArray csvBytes(const QList<TrackRow> &rows)
{
    QByteArray out;
    for (const TrackRow &r : rows) {
        out += csvField(pathToBytes(fileOfPath(r.fullPath)));
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

bool writeWholeFile(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty() || isFolder(path))
        return false;
    return writeFileAtomically(path, bytes);
}

QString readFailedMessage(const QString &path)
{
    return QStringLiteral("ファイル「%1」を読み込めませんでした。").arg(displayPath(path));
}

QString writeFailedMessage(const QString &path)
{
    return QStringLiteral("ファイル「%1」に書き込めませんでした。").arg(displayPath(path));
}

} // namespace kes
