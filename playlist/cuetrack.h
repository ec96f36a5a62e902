// A cue-sheet track as the playlist holds it: a part of a file (a CD image) named by its
// sheet.  Such a row's full path is the track's key: the image's path, a NUL (no file name
// holds one, so no key is ever a file's path) and the track's fields
//
//   NN,start,end,trackGain,trackPeak,albumGain,albumPeak,sheet
//
// NN the sheet's track number (two digits at least, so that keys of one image sort in
// track order), start and end in CD frames (end -1: the image's end), the sheet's REM
// REPLAYGAIN_* values (empty when the sheet has none) and the sheet's path (empty: the
// sheet stored in the image).  The fields after the NUL are also what a playlist file
// keeps of the track (#KESTRINE-TRACK).  Everything that plays, saves or compares rows
// keeps the key whole; what opens or shows the file takes its path with fileOfPath().
// Pure functions; thread-safe.
#pragma once

#include "vbmp3.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace kes
{

struct CueTrackRef {
    QString image; // the file the track is a part of
    int number = 0;
    qint64 start = 0; // CD frames (1/75 s) from the image's start
    qint64 end = -1; // the first frame past the track; -1: the image's end
    std::optional<double> trackGain, trackPeak, albumGain, albumPeak;
    QString sheet; // the sheet's path; empty: the sheet stored in the image
    bool operator==(const CueTrackRef &) const = default;
};

// What a cue track's row knows beyond its title, artist and album.
struct CueTrackInfo {
    CueTrackRef ref;
    QString year; // REM DATE
    QString genre; // REM GENRE
    int seconds = 0; // the track's own length
    int kbps = 0; // the image's bit rate (0: unknown)
    int hertz = 0; // the image's sample rate
    QString codec; // the image's kind ("FLAC", "WV", "APE", "WAV")
};

// The key of a track (its row's full path).
QString cueTrackKey(const CueTrackRef &track);
// The track a full path is the key of; nullopt for a file's own path.
std::optional<CueTrackRef> cueTrackOf(const QString &fullPath);
// Whether a full path is a cue track's key.  O(n) in the path's length, no allocation.
bool isCueTrackKey(QStringView fullPath);
// The file a row plays: the image of a cue track's key, else the path itself.
QString fileOfPath(const QString &fullPath);

// The fields of the key after the NUL, and the track they name with image as its file
// (nullopt when they are not such fields: a bad number, a negative start, an end not past it).
QString cueTrackFields(const CueTrackRef &track);
std::optional<CueTrackRef> parseCueTrackFields(QStringView fields, const QString &image);

// The range the decoder library plays for the track, its gains marked as they hold.
TrackRange trackRangeOf(const CueTrackRef &track);

// Whether a name ends in ".cue" in any letter case.
bool isCueSheetName(QStringView path);

} // namespace kes
