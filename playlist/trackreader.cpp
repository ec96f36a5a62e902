#include "trackreader.h"

#include "cuerows.h"
#include "filename.h"
#include "mediatypes.h"
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

// One copy shared by every untagged row.
const QString &noDataField()
{
    static const QString field = fixedField(QStringLiteral("No Data"));
    return field;
}

// A sort tag as it is compared: katakana folded to hiragana, so that names tagged in
// either script sort together in the order of the syllabary.
QString sortKey(const QString &text)
{
    QString key = text;
    for (QChar &c : key)
        if (c.unicode() >= 0x30A1 && c.unicode() <= 0x30F6)
            c = QChar(c.unicode() - 0x60);
    return key;
}

// The file's sort tags as the row keeps them; null when it has none.
QSharedPointer<const SortNames> readSortNames(const DecoderApi &api, const QByteArray &path)
{
    SortTags tags;
    std::memset(&tags, 0, sizeof tags);
    if (api.getFileSortTags(path.constData(), &tags) != 1)
        return {};
    return QSharedPointer<const SortNames>::create(
        SortNames { sortKey(TrimNull(tags.title)), sortKey(TrimNull(tags.artist)), sortKey(TrimNull(tags.album)) });
}

} // namespace

QString FileKindOf(const DecoderApi &api, const QString &path)
{
    const MediaType *type = mediaTypeOfCode(api.getFileType(pathToBytes(path).constData()));
    return type ? QString::fromLatin1(type->ending) : QStringLiteral("err");
}

QString acceptedKind(const QString &path)
{
    const MediaType *type = mediaTypeOfName(path);
    return type ? QString::fromLatin1(type->ending) : QString();
}

std::optional<TrackRow> provisionalTrackRow(const QString &path)
{
    if (isCueTrackKey(path))
        return provisionalCueRow(path);
    const MediaType *type = mediaTypeOfName(path);
    if (!type)
        return std::nullopt;
    TrackRow row;
    row.fullPath = path;
    const QString name = displayPath(FileNameOf(path));
    switch (type->row) {
    case MediaType::Row::Tagged:
        row.title = fixedField(name);
        row.artist = noDataField();
        row.tagsPending = true;
        break;
    case MediaType::Row::Listed:
        row.title = name;
        row.tagsPending = true;
        break;
    case MediaType::Row::Named:
        row.title = name;
        row.album = name;
        row.artist = QString::fromLatin1(type->label);
        break;
    }
    return row;
}

std::optional<TrackRow> readTrackRow(const DecoderApi &api, const QString &path)
{
    if (isCueTrackKey(path))
        return readCueRow(api, path);
    std::optional<TrackRow> row = provisionalTrackRow(path);
    if (!row || !row->tagsPending)
        return row;
    row->tagsPending = false;
    const QByteArray encoded = pathToBytes(path);
    if (mediaTypeOfName(path)->row == MediaType::Row::Tagged) {
        TagInfo tag;
        std::memset(&tag, 0, sizeof tag);
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
        api.getFileInfo2(encoded.constData(), &tag, &mpeg, &list);
        auto pick = [](const QString &listed, const QString &tagged) { return listed.isEmpty() ? tagged : listed; };
        row->title = pick(TrimNull(list.text[0]), TrimNull(tag.title));
        row->artist = pick(TrimNull(list.text[1]), TrimNull(tag.artist));
        row->album = pick(TrimNull(list.text[2]), TrimNull(tag.album));
    }
    row->sortNames = readSortNames(api, encoded);
    return row;
}

TagTexts tagTextsOf(const TrackRow &row)
{
    if (isCueTrackKey(row.fullPath))
        return row.tagsPending ? TagTexts {} : TagTexts { row.title, row.artist, row.album };
    const MediaType *type = mediaTypeOfName(row.fullPath);
    if (!type)
        return { row.title, row.artist, row.album };
    const QString name = displayPath(FileNameOf(row.fullPath));
    switch (type->row) {
    case MediaType::Row::Tagged:
        return { row.title == fixedField(name) ? QString() : row.title,
            row.artist == noDataField() ? QString() : row.artist, row.album };
    case MediaType::Row::Listed:
        if (row.tagsPending)
            return {};
        return { row.title, row.artist, row.album };
    case MediaType::Row::Named:
        break;
    }
    return {};
}

void AddTrack(PlaylistModel &model, const DecoderApi &api, const QString &path)
{
    if (auto row = readTrackRow(api, path))
        model.addRow(*row);
}

} // namespace kes
