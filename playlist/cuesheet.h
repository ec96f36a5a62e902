// Cue sheets: a CD ripped as one image (or a few files) with a text that names its tracks.
// The reader takes the sheet's bytes and its path and gives the album's fields, the audio
// tracks with their files and their ranges in CD frames, and the faults it met.  Pure
// functions (the file system is only asked which file a FILE line names); thread-safe.
//
// The text's encoding is found, never chosen: a UTF-16 BOM (either order) or a UTF-8 BOM,
// else valid UTF-8, else CP932 where its Japanese reading scores higher than its Western
// one (textcodec.h), else Windows-1252.  The whole text is decoded before it is parsed, so
// a CP932 trail byte that is '\' or '|' or '"' in ASCII never ends a value.
//
// Damaged sheets are read as far as they are sound: a bad line is left out and named in
// the faults, a track without a sound INDEX 01 is left out, a sheet past kMaxCueSheetBytes
// or holding NUL characters is refused whole.  Time and memory are linear in the sheet's
// size, which is bounded.
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace kes
{

// A longer sheet is refused (real sheets of 99 tracks are under 20 KiB).
constexpr qint64 kMaxCueSheetBytes = 1024 * 1024;
// A longer line is left out as a fault.
constexpr qsizetype kMaxCueLineLength = 4096;
// TRACK lines, or different files, past this many (a CD has at most 99) end the reading.
constexpr int kMaxCueTracks = 999;
constexpr int kCdFramesPerSecond = 75;

struct CueFault {
    enum class Kind {
        Unreadable, // the file could not be read (missing, not a regular file, too slow)
        TooBig, // past kMaxCueSheetBytes: refused
        NotText, // NUL characters: a binary file, refused
        NoTracks, // nothing to play was found
        LineTooLong, // past kMaxCueLineLength: the line is left out
        BadTime, // an INDEX time that is no mm:ss:ff (ss < 60, ff < 75): left out
        TimeOutOfOrder, // an INDEX before the one before it in the same file: left out
        BadTrack, // a TRACK line without a number 1..kMaxCueTracks or a type: left out
        NoFile, // a TRACK before any FILE, an INDEX before any TRACK: left out
        NoIndex, // a track without a sound INDEX 01: left out
        MissingFile, // a FILE that names no media file: its tracks are left out
        TooManyTracks, // the reading ended at the TRACK or FILE line past kMaxCueTracks of them
    };
    Kind kind;
    int line; // 1-based; 0 for the whole sheet
    bool operator==(const CueFault &) const = default;
};

struct CueTrack {
    int number = 0; // as the sheet says
    QString title;
    QString performer; // the track's, else the album's
    QString songwriter;
    QString isrc;
    QString file; // the media file, resolved (a path in the pathbytes.h rule)
    QString fileType; // the FILE line's type word as written ("WAVE", "MP3", ...)
    // CD frames (1/75 s) from the start of the file.  start is INDEX 01; end is the next
    // track's INDEX 01 when that is in the same file, else -1: the end of the file.  The
    // pregap between a track's INDEX 00 and INDEX 01 so belongs to the track before, and
    // consecutive tracks of one file join without a sample lost or played twice.
    qint64 start = 0;
    qint64 end = -1;
    // The track's INDEX 00, when it has one in the same file as its INDEX 01; else -1.
    qint64 pregap = -1;
    std::optional<double> gain; // REM REPLAYGAIN_TRACK_GAIN, dB
    std::optional<double> peak; // REM REPLAYGAIN_TRACK_PEAK, linear
    bool operator==(const CueTrack &) const = default;
};

struct CueSheet {
    enum class Encoding { Utf8, Utf16, Cp932, Latin1 };
    Encoding encoding = Encoding::Utf8;
    QString title, performer, songwriter; // the album's
    QString date, genre, comment, discNumber, catalog;
    std::optional<double> albumGain, albumPeak; // REM REPLAYGAIN_ALBUM_GAIN / _PEAK
    QList<CueTrack> tracks; // the audio tracks in sheet order
    QList<CueFault> faults; // in line order; whole-sheet faults first
};

// Finds the media file a FILE line names: sheetFolder is the sheet's absolute folder,
// names the ways the name may be spelt as a path (its text, then its bytes in the sheet's
// own encoding when that is not UTF-8).  Returns the path, or the empty text when none.
using CueFileResolver = std::function<QString(const QString &sheetFolder, const QStringList &names)>;

// The file-system rule: relative names against the sheet's folder, and a name with '\'
// that names nothing also by its last '\'-separated part (a Windows path).  In order of
// preference: a file of exactly the name, a file of the name in another letter case, a
// file of the same stem (letter case aside) with another audio ending the player knows
// (mediatypes.h; FLAC, WavPack, Monkey's Audio and WAV before lossy endings) — so a sheet
// naming "CDImage.wav" beside "CDImage.flac" plays the FLAC.  Only regular files with an
// audio ending count: a sheet never names another sheet, a .bin or a video.
QString resolveCueFile(const QString &sheetFolder, const QStringList &names);

// Reads the sheet whose bytes are bytes and whose absolute path is sheetPath.
CueSheet parseCueSheet(QByteArrayView bytes, const QString &sheetPath);
CueSheet parseCueSheet(QByteArrayView bytes, const QString &sheetPath, const CueFileResolver &resolve);

// Reads the sheet at the absolute path sheetPath: a regular file only, opened without
// waiting (a named pipe is refused), at most kMaxCueSheetBytes.
CueSheet readCueSheet(const QString &sheetPath);

} // namespace kes
