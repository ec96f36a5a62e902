// The tags of the formats whose containers carry their own: Vorbis comments (FLAC, Ogg
// FLAC, Ogg Vorbis, Opus), MP4 atoms, APEv2 (WavPack, Monkey's Audio).
#pragma once

#include "common/bytereader.h"
#include "dsp/replaygain.h"
#include "fileinfo.h"

#include <optional>
#include <string>

namespace vbmp3
{

// The texts of one tag as UTF-8; several values of a field joined by " / ".
struct FormatTags {
    std::string title, artist, album, comment, genreName;
    std::string year; // four digits, or empty
    int genre = -1; // the ID3v1 number of the first genre, -1 when it has none
    std::string lyrics; // LYRICS, else UNSYNCEDLYRICS (MP4: ©lyr), values joined by lines
    // TITLESORT, ARTISTSORT, ALBUMSORT, ALBUMARTISTSORT (MP4: sonm, soar, soal, soaa).
    std::string titleSort, artistSort, albumSort, albumArtistSort;
};

// True for the kinds with tags of their own, which readFormatTags reads.
bool isTagLibKind(FileKind kind);

// The tag of the file of `kind` in reader (the tag its format prefers: the Vorbis comment,
// else an ID3v2 then ID3v1 tag in FLAC; the APEv2 tag, else ID3v1, in WavPack and Monkey's
// Audio); nothing when the file is not of that kind or too damaged to be read.  Reads no
// block larger than 32 MiB.
std::optional<FormatTags> readFormatTags(ByteReader &reader, FileKind kind);

// What the headers of a file of a kind with tags of its own say of its stream (FLAC's
// STREAMINFO, the Ogg stream's first and last pages, MP4's track header, WavPack's and
// Monkey's Audio's headers), without decoding; nothing when they say no rate.  kbps is
// the average over the file.
struct AudioFacts {
    int kbps = 0;
    int rate = 0;
    int channels = 0;
    int lengthMs = 0;
};
std::optional<AudioFacts> readAudioFacts(ByteReader &reader, FileKind kind);

// The loudness values of the file's own tag: REPLAYGAIN_TRACK_GAIN, _TRACK_PEAK,
// _ALBUM_GAIN, _ALBUM_PEAK (Vorbis comments, APEv2, MP4 freeform atoms
// "----:com.apple.iTunes:replaygain_*", names in any case); in Opus also R128_TRACK_GAIN
// and R128_ALBUM_GAIN (Q7.8 dB against -23 LUFS), taken 5 dB up to the ReplayGain
// reference where no REPLAYGAIN_ value is given.  Limits as readFormatTags.
GainTags readFormatGainTags(ByteReader &reader, FileKind kind);

} // namespace vbmp3
