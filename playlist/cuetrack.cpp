#include "cuetrack.h"

#include <QStringList>

#include <cmath>

namespace kes
{

namespace
{

constexpr QChar kKeyMark = QChar(u'\0');
// The fields before the sheet's path (which may hold commas itself).
constexpr int kLeadingFields = 7;

QString numberText(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'g', 10) : QString();
}

// An empty field is no value; anything else must be a finite number.
bool parseNumber(QStringView text, std::optional<double> &out)
{
    if (text.isEmpty())
        return true;
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

} // namespace

QString cueTrackFields(const CueTrackRef &track)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8")
        .arg(track.number, 2, 10, QLatin1Char('0'))
        .arg(track.start)
        .arg(track.end)
        .arg(numberText(track.trackGain), numberText(track.trackPeak), numberText(track.albumGain),
            numberText(track.albumPeak), track.sheet);
}

std::optional<CueTrackRef> parseCueTrackFields(QStringView fields, const QString &image)
{
    QList<QStringView> parts;
    qsizetype from = 0;
    while (parts.size() < kLeadingFields) {
        const qsizetype comma = fields.indexOf(u',', from);
        if (comma < 0)
            break;
        parts.append(fields.mid(from, comma - from));
        from = comma + 1;
    }
    // Playlists written by hand may stop after the range.
    parts.append(fields.mid(from));
    if (parts.size() < 3)
        return std::nullopt;
    CueTrackRef t;
    t.image = image;
    bool okNumber = false, okStart = false, okEnd = false;
    t.number = parts.at(0).toInt(&okNumber);
    t.start = parts.at(1).toLongLong(&okStart);
    t.end = parts.at(2).toLongLong(&okEnd);
    if (!okNumber || !okStart || !okEnd || t.number < 0 || t.start < 0 || (t.end >= 0 && t.end <= t.start)
        || t.end < -1)
        return std::nullopt;
    if (parts.size() > kLeadingFields) {
        if (!parseNumber(parts.at(3), t.trackGain) || !parseNumber(parts.at(4), t.trackPeak)
            || !parseNumber(parts.at(5), t.albumGain) || !parseNumber(parts.at(6), t.albumPeak))
            return std::nullopt;
        t.sheet = parts.at(7).toString();
    }
    return t;
}

QString cueTrackKey(const CueTrackRef &track)
{
    return track.image + kKeyMark + cueTrackFields(track);
}

bool isCueTrackKey(QStringView fullPath)
{
    return fullPath.contains(kKeyMark);
}

std::optional<CueTrackRef> cueTrackOf(const QString &fullPath)
{
    const qsizetype mark = fullPath.indexOf(kKeyMark);
    if (mark < 0)
        return std::nullopt;
    return parseCueTrackFields(QStringView(fullPath).mid(mark + 1), fullPath.left(mark));
}

QString fileOfPath(const QString &fullPath)
{
    const qsizetype mark = fullPath.indexOf(kKeyMark);
    return mark < 0 ? fullPath : fullPath.left(mark);
}

TrackRange trackRangeOf(const CueTrackRef &track)
{
    TrackRange r {};
    r.start = track.start;
    r.end = track.end;
    if (track.trackGain) {
        r.gains |= VBMP3_RANGE_TRACK_GAIN;
        r.trackGain = *track.trackGain;
        r.trackPeak = track.trackPeak.value_or(0.0);
    }
    if (track.albumGain) {
        r.gains |= VBMP3_RANGE_ALBUM_GAIN;
        r.albumGain = *track.albumGain;
        r.albumPeak = track.albumPeak.value_or(0.0);
    }
    return r;
}

bool isCueSheetName(QStringView path)
{
    return path.endsWith(QLatin1String(".cue"), Qt::CaseInsensitive);
}

} // namespace kes
