#include "trackreader.h"

#include "filename.h"

#include <cstring>

namespace kes
{

namespace
{

// Replacement texts keep the length of the record field they stand in.
constexpr int kFieldLength = 128;

// A record text: the field up to its first NUL (a full field has none), UTF-8.
template <std::size_t N> QString fieldText(const char (&field)[N])
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, N)));
}

QString fixedField(const QString &text)
{
    return text.left(kFieldLength).leftJustified(kFieldLength, QLatin1Char(' '));
}

} // namespace

QString FileKindOf(const DecoderApi &api, const QString &path)
{
    if (!api.getFileType)
        return QStringLiteral("err");
    switch (api.getFileType(path.toUtf8().constData())) {
    case VBMP3_TYPE_MPEG:
    case 4: // no library of this player returns it; kept as an MPEG stream
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

std::optional<TrackRow> readTrackRow(const DecoderApi &api, const QString &path)
{
    const QString kind = acceptedKind(path);
    if (kind.isEmpty())
        return std::nullopt;
    TrackRow row;
    row.fullPath = path;
    const QByteArray encoded = path.toUtf8();
    if (kind == QLatin1String("mp3")) {
        TagInfo tag;
        std::memset(&tag, 0, sizeof tag);
        if (api.getFileTagInfo)
            api.getFileTagInfo(encoded.constData(), &tag);
        row.title = fieldText(tag.title);
        row.artist = fieldText(tag.artist);
        row.album = fieldText(tag.album);
        if (row.title.isEmpty())
            row.title = fixedField(FileNameOf(path));
        if (row.artist.isEmpty())
            row.artist = fixedField(QStringLiteral("No Data"));
    } else if (kind == QLatin1String("rmp")) {
        TagInfo tag;
        MpegInfo mpeg;
        ListInfo list;
        std::memset(&tag, 0, sizeof tag);
        std::memset(&mpeg, 0, sizeof mpeg);
        std::memset(&list, 0, sizeof list);
        if (api.getFileInfo2)
            api.getFileInfo2(encoded.constData(), &tag, &mpeg, &list);
        auto pick = [](const QString &listed, const QString &tagged) { return listed.isEmpty() ? tagged : listed; };
        row.title = pick(fieldText(list.text[0]), fieldText(tag.title));
        row.artist = pick(fieldText(list.text[1]), fieldText(tag.artist));
        row.album = pick(fieldText(list.text[2]), fieldText(tag.album));
    } else {
        const QString name = FileNameOf(path);
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

void AddTrack(PlaylistModel &model, const DecoderApi &api, const QString &path)
{
    if (auto row = readTrackRow(api, path))
        model.addRow(*row);
}

} // namespace kes
