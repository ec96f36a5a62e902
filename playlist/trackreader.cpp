#include "trackreader.h"

#include "filename.h"
#include "pathbytes.h"
#include "trimnull.h"

#include <cstring>

namespace kes
{

namespace
{

// Replacement texts keep the length of the record field they stand in.
constexpr int kFieldLength = 128;

QString fixedField(const QString &text)
{
    return text.left(kFieldLength).leftJustified(kFieldLength, QLatin1Char(' '));
}

} // namespace

QString FileKindOf(const DecoderApi &api, const QString &path)
{
    if (!api.getFileType)
        return QStringLiteral("err");
    switch (api.getFileType(pathToBytes(path).constData())) {
    // As the player has always mapped them: 4 (a kind this library never reports) counts
    // as MP3, and a WAV file that ends in an ID3v1 tag as RMP.
    case VBMP3_TYPE_MPEG:
    case 4:
    case VBMP3_TYPE_MPEG + VBMP3_TYPE_ID3V1:
    case VBMP3_TYPE_MPEG + VBMP3_TYPE_ID3V1 + VBMP3_TYPE_LYRICS3:
        return QStringLiteral("mp3");
    case VBMP3_TYPE_WAV:
        return QStringLiteral("wav");
    case VBMP3_TYPE_RMP:
    case VBMP3_TYPE_WAV + VBMP3_TYPE_ID3V1:
    case VBMP3_TYPE_RMP + VBMP3_TYPE_ID3V1:
    case VBMP3_TYPE_RMP + VBMP3_TYPE_ID3V1 + VBMP3_TYPE_LYRICS3:
        return QStringLiteral("rmp");
    case VBMP3_TYPE_MEDIA:
        return QStringLiteral("mpg");
    default:
        return QStringLiteral("err");
    }
}

QString acceptedKind(const QString &path)
{
    static const char *const spellings[][2] = {
        { "avi", "AVI" },
        { "wma", "WMA" },
        { "mp3", "MP3" },
        { "rmp", "RMP" },
        { "wav", "WAV" },
        { "mpg", "MPG" },
    };
    if (path.size() < 3)
        return {};
    const QStringView end = QStringView(path).right(3);
    for (const auto &s : spellings)
        if (end == QLatin1StringView(s[0]) || end == QLatin1StringView(s[1]))
            return QString::fromLatin1(s[0]);
    return {};
}

std::optional<TrackRow> provisionalTrackRow(const QString &path)
{
    const QString kind = acceptedKind(path);
    if (kind.isEmpty())
        return std::nullopt;
    TrackRow row;
    row.fullPath = path;
    const QString name = displayPath(FileNameOf(path));
    if (kind == QLatin1String("mp3")) {
        row.title = fixedField(name);
        row.artist = fixedField(QStringLiteral("No Data"));
        row.tagsPending = true;
    } else if (kind == QLatin1String("rmp")) {
        row.title = name;
        row.tagsPending = true;
    } else {
        row.title = name;
        row.album = name;
        if (kind == QLatin1String("wav"))
            row.artist = QStringLiteral("WAV File");
        else if (kind == QLatin1String("avi"))
            row.artist = QStringLiteral("AVI File");
        else if (kind == QLatin1String("wma"))
            row.artist = QStringLiteral("WMA File");
        else
            row.artist = QStringLiteral("MPEG File");
    }
    return row;
}

std::optional<TrackRow> readTrackRow(const DecoderApi &api, const QString &path)
{
    std::optional<TrackRow> row = provisionalTrackRow(path);
    if (!row || !row->tagsPending)
        return row;
    row->tagsPending = false;
    const QByteArray encoded = pathToBytes(path);
    if (acceptedKind(path) == QLatin1String("mp3")) {
        TagInfo tag;
        std::memset(&tag, 0, sizeof tag);
        if (api.getFileTagInfo)
            api.getFileTagInfo(encoded.constData(), &tag);
        const QString title = TrimNull(tag.title);
        const QString artist = TrimNull(tag.artist);
        if (!title.isEmpty())
            row->title = title;
        if (!artist.isEmpty())
            row->artist = artist;
        row->album = TrimNull(tag.album);
    } else {
        TagInfo tag;
        MpegInfo mpeg;
        ListInfo list;
        std::memset(&tag, 0, sizeof tag);
        std::memset(&mpeg, 0, sizeof mpeg);
        std::memset(&list, 0, sizeof list);
        if (api.getFileInfo2)
            api.getFileInfo2(encoded.constData(), &tag, &mpeg, &list);
        auto pick = [](const QString &listed, const QString &tagged) { return listed.isEmpty() ? tagged : listed; };
        row->title = pick(TrimNull(list.text[0]), TrimNull(tag.title));
        row->artist = pick(TrimNull(list.text[1]), TrimNull(tag.artist));
        row->album = pick(TrimNull(list.text[2]), TrimNull(tag.album));
    }
    return row;
}

void AddTrack(PlaylistModel &model, const DecoderApi &api, const QString &path)
{
    if (auto row = readTrackRow(api, path))
        model.addRow(*row);
}

} // namespace kes
