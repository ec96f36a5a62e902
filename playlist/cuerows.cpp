#include "cuerows.h"

#include "filename.h"
#include "mediatypes.h"
#include "pathbytes.h"

#include <QHash>

#include <algorithm>

namespace kes
{

namespace
{

QString standInTitle(int number)
{
    return QStringLiteral("Track %1").arg(number, 2, 10, QLatin1Char('0'));
}

} // namespace

ImageFacts imageFactsOf(const DecoderApi &api, const QString &image)
{
    ImageFacts f;
    TagInfo tag {};
    MpegInfo mpeg {};
    api.getFileInfo2(pathToBytes(image).constData(), &tag, &mpeg, nullptr);
    f.lengthMs = std::max(0, mpeg.value[11]);
    f.kbps = std::max(0, mpeg.value[2]);
    f.hertz = std::max(0, mpeg.value[3]);
    if (const MediaType *type = mediaTypeOfName(image))
        f.codec = QString::fromLatin1(type->ending).toUpper();
    return f;
}

QList<TrackRow> cueTrackRows(
    const CueSheet &sheet, const QString &sheetPath, const std::function<ImageFacts(const QString &)> &facts)
{
    QHash<QString, ImageFacts> known;
    QList<TrackRow> rows;
    rows.reserve(sheet.tracks.size());
    for (const CueTrack &t : sheet.tracks) {
        auto it = known.find(t.file);
        if (it == known.end())
            it = known.insert(t.file, facts(t.file));
        const ImageFacts &image = it.value();
        auto info = QSharedPointer<CueTrackInfo>::create();
        CueTrackRef &ref = info->ref;
        ref.image = t.file;
        ref.number = t.number;
        ref.start = t.start;
        ref.end = t.end;
        ref.trackGain = t.gain;
        ref.trackPeak = t.peak;
        ref.albumGain = sheet.albumGain;
        ref.albumPeak = sheet.albumPeak;
        ref.sheet = sheetPath;
        info->year = sheet.date;
        info->genre = sheet.genre;
        const qint64 frames = t.end >= 0 ? t.end - t.start : image.lengthMs * kCdFramesPerSecond / 1000 - t.start;
        info->seconds = static_cast<int>(std::max<qint64>(0, frames / kCdFramesPerSecond));
        info->kbps = image.kbps;
        info->hertz = image.hertz;
        info->codec = image.codec;
        TrackRow row;
        row.fullPath = cueTrackKey(ref);
        row.title = t.title.isEmpty() ? standInTitle(t.number) : t.title;
        row.artist = t.performer;
        row.album = sheet.title;
        row.cue = std::move(info);
        rows.append(std::move(row));
    }
    return rows;
}

bool mayHoldCueSheet(const QString &path)
{
    const MediaType *type = mediaTypeOfName(path);
    if (!type)
        return false;
    const QLatin1String ending(type->ending);
    return ending == QLatin1String("flac") || ending == QLatin1String("wv") || ending == QLatin1String("ape");
}

std::optional<CueSheet> embeddedCueSheet(const DecoderApi &api, const QString &image)
{
    const QByteArray path = pathToBytes(image);
    const int32_t size = api.getFileCueSheet(path.constData(), nullptr, 0);
    if (size <= 0 || size > kMaxCueSheetBytes)
        return std::nullopt;
    QByteArray bytes(size, '\0');
    if (api.getFileCueSheet(path.constData(), bytes.data(), size) != size)
        return std::nullopt;
    // The stored sheet's FILE line names the image as it was called when ripped.
    CueSheet sheet = parseCueSheet(bytes, image, [&image](const QString &, const QStringList &) { return image; });
    if (sheet.tracks.isEmpty())
        return std::nullopt;
    return sheet;
}

QList<TrackRow> readCueTrackRows(const DecoderApi &api, const QString &path)
{
    const auto facts = [&api](const QString &image) { return imageFactsOf(api, image); };
    if (isCueSheetName(path))
        return cueTrackRows(readCueSheet(path), path, facts);
    if (!mayHoldCueSheet(path))
        return {};
    const std::optional<CueSheet> sheet = embeddedCueSheet(api, path);
    return sheet ? cueTrackRows(*sheet, {}, facts) : QList<TrackRow>();
}

std::optional<TrackRow> provisionalCueRow(const QString &key)
{
    const std::optional<CueTrackRef> ref = cueTrackOf(key);
    if (!ref)
        return std::nullopt;
    TrackRow row;
    row.fullPath = key;
    row.title = standInTitle(ref->number);
    row.album = displayPath(FileNameOf(ref->image));
    row.tagsPending = true;
    return row;
}

std::optional<TrackRow> readCueRow(const DecoderApi &api, const QString &key)
{
    std::optional<TrackRow> row = provisionalCueRow(key);
    if (!row)
        return row;
    row->tagsPending = false;
    const CueTrackRef ref = *cueTrackOf(key);
    const QList<TrackRow> tracks = ref.sheet.isEmpty()
        ? readCueTrackRows(api, ref.image)
        : cueTrackRows(readCueSheet(ref.sheet), ref.sheet, [&api](const QString &f) { return imageFactsOf(api, f); });
    for (const TrackRow &t : tracks) {
        if (t.cue->ref.number != ref.number || t.cue->ref.image != ref.image)
            continue;
        auto info = QSharedPointer<CueTrackInfo>::create(*t.cue);
        info->ref = ref;
        row->title = t.title;
        row->artist = t.artist;
        row->album = t.album;
        row->cue = std::move(info);
        break;
    }
    return row;
}

} // namespace kes
