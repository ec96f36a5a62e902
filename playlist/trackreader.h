// Building playlist rows from files: the file-name helpers, the kind of a file and the
// texts each kind shows.  Everything here but AddTrack is thread-safe: it touches no
// model and calls only the decoder library's file-information functions, so workers may
// run it in parallel.
#pragma once

#include "decoderapi.h"
#include "playlistmodel.h"

#include <QString>

#include <optional>

namespace kes
{

// The decoder library's verdict on a file: the ending of the type its code stands for in
// kMediaTypes ("mp3", "wav", "rmp", "mpg"; "flac", "ogg" for Ogg Vorbis, "opus", "m4a",
// "wv", "ape"), or "err" for any code the table does not map.  Reads the file (through
// vbmp3_getFileType).
QString FileKindOf(const DecoderApi &api, const QString &path);

// The kind a path's ending names, case-sensitively: the ending of its type in
// kMediaTypes ("avi", "wma", "mp3", "rmp", "wav", "mpg" for the twelve classic
// spellings "mp3" and "MP3", ...; "flac" for "flac" and "FLAC", ...), else the empty
// text.  No I/O.
QString acceptedKind(const QString &path);

// The row a file shows before its tags are read, from the path alone (no I/O), or nothing
// when the path's ending is not accepted.  A cue track's key gives provisionalCueRow's.  For files with tags (MP3, RMP
// and the added formats) tagsPending is set and the texts are those of a file without tags, except that an RMP file
// shows its name as the title meanwhile; other kinds are complete.
std::optional<TrackRow> provisionalTrackRow(const QString &path);

// The row a file would get (number, checked and tag left for the model to set), or
// nothing when the path's ending is not accepted.  Files with tags are read through the
// decoder library, their sort tags too; a file it cannot read still gives a row.  A cue track's key gives
// readCueRow's (its sheet read again).
std::optional<TrackRow> readTrackRow(const DecoderApi &api, const QString &path);

// The texts of row that came from its file (tags, the RIFF list), for showing the track
// outside the list (the desktop's media controls): the stand-ins a row shows without them
// (its file name padded to the field, "No Data", a kind label, the name as album) are
// left empty.  No I/O.
struct TagTexts {
    QString title;
    QString artist;
    QString album;
};
TagTexts tagTextsOf(const TrackRow &row);

// Adds one file to the playlist at once: readTrackRow, then the model's duplicate rule
// and numbering.  Blocks on the file: the GUI adds through TrackAdder instead; this is for
// callers that already run off the event loop and for tests.
void AddTrack(PlaylistModel &model, const DecoderApi &api, const QString &path);

} // namespace kes
