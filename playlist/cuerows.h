// Cue-sheet tracks as playlist rows: a sheet handed to the player, or one stored in a
// FLAC, WavPack or Monkey's Audio image, gives one row per audio track, in sheet order:
// the track's title (else "Track NN"), its performer (else the album's), the sheet's
// TITLE as album, and the track's key as full path (cuetrack.h).  Thread-safe: the
// adder's workers call these; they read the sheet and the image through the decoder
// library's file functions, never the model.
#pragma once

#include "cuesheet.h"
#include "decoderapi.h"
#include "playlistmodel.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace kes
{

// What a track's row takes from its image: the length (of the last track: the image's
// length less its start), the bit rate, the sample rate, the kind.
struct ImageFacts {
    qint64 lengthMs = 0;
    int kbps = 0;
    int hertz = 0;
    QString codec;
};
ImageFacts imageFactsOf(const DecoderApi &api, const QString &image);

// The rows of sheet's tracks.  sheetPath: the sheet's file; empty for a sheet stored in
// its image.  facts is asked once for each image the sheet names.
QList<TrackRow> cueTrackRows(
    const CueSheet &sheet, const QString &sheetPath, const std::function<ImageFacts(const QString &)> &facts);

// Whether a file's kind may store a sheet (FLAC, WavPack, Monkey's Audio, by its ending).
bool mayHoldCueSheet(const QString &path);
// The sheet stored in image, its FILE lines all naming the image; nullopt when it has none.
std::optional<CueSheet> embeddedCueSheet(const DecoderApi &api, const QString &image);

// The rows a file handed to the player expands to: a sheet's tracks (isCueSheetName), or
// the tracks of the sheet an image stores; empty when there are none (and for other files).
QList<TrackRow> readCueTrackRows(const DecoderApi &api, const QString &path);

// The row of a track restored from a key (a playlist file, the last session) before its
// sheet is read: the image's name as album, "Track NN" as title, tags pending.  nullopt
// when the path is no key.
std::optional<TrackRow> provisionalCueRow(const QString &key);
// The same row with its sheet read again: the sheet's track of the key's number and
// image, keeping the key (and so the range it was saved with); the stand-in texts, no
// longer pending, when the sheet is gone or no longer names the track.
std::optional<TrackRow> readCueRow(const DecoderApi &api, const QString &key);

} // namespace kes
