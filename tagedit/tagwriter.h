// Writing tags into the user's files, through TagLib, without ever losing a file: each
// write edits a copy in the same folder, reads it back, checks it, and replaces the
// original atomically (permissions, owner where possible and modification time kept).
// Blocking: call on a worker, never on the GUI thread.  Thread-safe for distinct files.
#pragma once
#include <QString>
#include <optional>

namespace kes
{
// The fields to change; a field left empty (nullopt) is not touched, an empty text
// removes the field.  track and disc are "n" or "n/total".
struct TagChanges {
    std::optional<QString> title, artist, album, albumArtist, year, track, disc, genre, comment;
    std::optional<QString> lyrics; // unsynchronised lyrics
    std::optional<QString> syncedLyrics; // an LRC document; MP3 only (SYLT)
};

// ReplayGain values in dB (gains) and linear full scale = 1.0 (peaks).
struct ReplayGainValues {
    double trackGain = 0, trackPeak = 0;
    std::optional<double> albumGain, albumPeak;
};

enum class WriteOutcome {
    Written,
    Unchanged, // nothing to change: the file was not touched
    ReadOnly, // the file or its folder cannot be written
    DiskFull, // the copy could not be made whole
    Changed, // the file changed or vanished since it was read
    NotSupported, // a format or field this writer does not write
    Failed // anything else; why says what
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Failed;
    QString why; // Japanese, for the user; empty when Written or Unchanged
    bool ok() const { return outcome == WriteOutcome::Written || outcome == WriteOutcome::Unchanged; }
};

// Writes changes into path's own tag (ID3v2.4 UTF-8 for MP3, keeping an ID3v1 tag in
// step where there is one; Vorbis comments; MP4 atoms; APEv2), keeping every other frame,
// picture, ReplayGain value and the audio byte for byte.
WriteResult writeTags(const QString &path, const TagChanges &changes);

// Writes ReplayGain values where path's format keeps them (REPLAYGAIN_* texts; Opus:
// R128_TRACK_GAIN / R128_ALBUM_GAIN in Q7.8 against -23 LUFS), keeping everything else.
WriteResult writeReplayGain(const QString &path, const ReplayGainValues &values);
} // namespace kes
