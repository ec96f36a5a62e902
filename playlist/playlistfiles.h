// The M3U playlist and CSV tag file formats, and whole-file reading and writing.  Pure
// functions over bytes and paths, thread-safe; they show nothing (callers turn failures
// into messages).
#pragma once

#include "playlistmodel.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

namespace kes
{

// What the name of a playlist file says of its format: ".m3u8" is UTF-8 throughout,
// ".pls" is a PLS playlist, anything else reads as M3U.  Letter case does not count.
enum class PlaylistFormat { M3u, M3u8, Pls };
PlaylistFormat playlistFormatOf(const QString &path);
// Whether a name ends in ".m3u", ".m3u8" or ".pls" in any letter case.
bool isPlaylistName(const QString &path);

// The entries of a playlist file, in file order.
struct M3uEntries {
    QStringList paths; // relative entries resolved against the playlist's folder
    // By index into paths, for a line whose bytes are not UTF-8: its CP932 (or Latin-1)
    // reading, tried when no file has the line's own bytes as its name.  Kept apart, as
    // few lines have one: an entry costs its path alone.
    QHash<qsizetype, QString> alternatives;
    QString alternativeOf(qsizetype i) const { return alternatives.value(i); }
    // A line could not be a file name (or was past the limits); paths holds the lines before it.
    bool aborted = false;
};

// Limits of reading a playlist: a longer line, a longer file, or an entry past the most a
// playlist holds ends the reading as a line that cannot be a file name does (the entries
// before it stay).  Reading also gives up after kPlaylistTimeLimit.
constexpr qsizetype kMaxPlaylistLineBytes = 64 * 1024;
constexpr qint64 kMaxPlaylistBytes = 64 * 1024 * 1024;
constexpr qsizetype kMaxPlaylistEntries = 1'000'000;
constexpr std::chrono::milliseconds kPlaylistTimeLimit { 20000 };

// Splits bytes into entries.  A line ends at CR LF, a lone CR or a lone LF; a UTF-8 BOM
// is skipped and a UTF-16 file with its BOM is decoded.  Empty lines and lines starting
// with '#' are no entries; a "file:" URL names the file of its percent-decoded bytes.
// An entry after a "#KESTRINE-TRACK:" line of sound fields is that track's key (an
// alternative too).  A line of valid UTF-8 is that text; other bytes are the file name as they stand
// (pathbytes.h), and in M3U (not M3U8) files also have their CP932 reading as the
// alternative.  PLS files take the values of their FileN keys, in the order of N.  An
// entry not starting with '/' is resolved against baseDir (and cleaned); absolute
// entries are kept exactly.  A line holding a NUL, too long for a path or a file name,
// or longer than kMaxPlaylistLineBytes, ends the reading with aborted set.
M3uEntries parsePlaylist(const QByteArray &bytes, const QString &baseDir, PlaylistFormat format);
M3uEntries parseM3u(const QByteArray &bytes, const QString &baseDir);

// The playlist at path, read line by line with bounded memory: a regular file only
// (opened without waiting, so a named pipe or a device is refused at once), at most
// kMaxPlaylistBytes (past it, aborted set with the entries before).  false, with nothing
// read, when the file is missing or is no readable regular file.
bool readPlaylist(const QString &path, M3uEntries &entries);

// Whether an M3U entry names a file that can be listed: an existing regular file
// (symbolic links followed); folders, named pipes and missing files do not count.
bool isListableFile(const QString &path);

// One entry per line, CR LF after each: each path's own bytes (pathbytes.h).  A cue
// track's entry is its image's path, after "#EXTINF:<seconds>,<artist> - <title>", VLC's
// "#EXTVLCOPT:start-time=" and "stop-time=" (seconds) and "#KESTRINE-TRACK:<fields>"
// (cuetrack.h): other players play the image (VLC its range), and parsePlaylist gives
// the track's key again.
QByteArray m3uBytes(const QStringList &paths);
QByteArray m3uBytes(const QList<TrackRow> &rows);

// One record per row (a cue track's Full Path is its image's): Full Path, Music Title, Artist, Album, each in double
// quotes with inner double quotes doubled, separated by commas, CR LF after each; UTF-8 (the path as its own bytes), no
// header.
QByteArray csvBytes(const QList<TrackRow> &rows);

// Writes bytes as the new whole content of path: a new file replaces the old one only
// when everything was written, so a failed write leaves the old file as it was.  false
// when the file cannot be written (bad name, no rights, a folder, disk full).
bool writeWholeFile(const QString &path, const QByteArray &bytes);

// The message texts for those failures, naming the file.
QString readFailedMessage(const QString &path);
QString writeFailedMessage(const QString &path);

} // namespace kes
