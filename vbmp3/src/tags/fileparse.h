// The parsers behind fileinfo.h, working on a ByteReader so that tests and fuzz targets
// can feed them bytes from memory.  Same contracts as the path functions of fileinfo.h.
#pragma once

#include "common/bytereader.h"
#include "fileinfo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vbmp3
{

FileLayout probe(ByteReader &reader);
bool readTagInfo(ByteReader &reader, TagInfo *tag);
bool readListInfo(ByteReader &reader, ListInfo *list);
bool readMpegInfo(ByteReader &reader, MpegInfo *mpeg);
std::optional<std::string> readLyrics3(ByteReader &reader);
bool readSortTags(ByteReader &reader, SortTags *tags);
std::optional<Picture> readPicture(ByteReader &reader);

// What the Xing/Info/VBRI header of the MPEG stream in [begin, end) (after an ID3v2 tag
// at begin, if any) says about it; -1 for what it does not say or when there is none.
struct VbrCounts {
    int64_t frames = -1; // audio frames after the header frame
    int64_t bytes = -1; // stream bytes from the header frame on
    uint64_t streamBytes = 0; // bytes actually there from the header frame to end
    bool constantRate = false; // an "Info" header: the encoder wrote a constant bit rate
};
VbrCounts readVbrCounts(ByteReader &reader, uint64_t begin, uint64_t end);

// Whether the MPEG stream in [begin, end) (after an ID3v2 tag at begin, if any) starts
// with a mono frame and has a frame of two channels among its first `frames` frames.
bool turnsStereo(ByteReader &reader, uint64_t begin, uint64_t end, int64_t frames);

// The bytes of the ID3v2 tag at offset that the tag reading hands to TagLib: the whole
// tag, or for a large one only its text and comment frames, within the budgets of
// tags.cpp; empty when there is no tag (or it is too large to be read).
// which: the frames of the tag record's fields (of at most 64 KiB each), the lyrics
// frames USLT and SYLT (up to the 1 MiB of the whole), or the loudness frames TXXX and
// RVA2 (of at most 64 KiB each), or the sort frames TSOT, TSOP, TSOA and TSO2 (likewise).
enum class Id3v2Frames { Fields, Lyrics, Gain, Sort };
std::string id3v2TagBytes(ByteReader &reader, uint64_t offset, Id3v2Frames which = Id3v2Frames::Fields);

// The lyrics embedded in the file, as UTF-8 lines separated by '\n': an ID3v2 tag's
// synchronised lyrics (SYLT, as LRC lines "[mm:ss.xx]text"), else its unsynchronised
// lyrics (USLT); a Vorbis comment's LYRICS, else UNSYNCEDLYRICS; an MP4 file's ©lyr; an
// APEv2 tag's Lyrics.  Nothing when the file has none.
std::optional<std::string> readEmbeddedLyrics(ByteReader &reader);

// The cue sheet embedded in the file, as readCueSheet(path) gives it; fileName is what the
// FILE line of a sheet made from a CUESHEET block names.
std::optional<std::string> readCueSheet(ByteReader &reader, const std::string &fileName);

// Where the leading ID3v2 tags (none, one or several in a row) end.
uint64_t leadingTagsEnd(ByteReader &reader);

// The kind a container's own signature names after the leading ID3v2 tags (Flac, OggFlac,
// OggVorbis, OggOpus, Mp4, WavPack, Ape; Unknown for Ogg of another codec); nothing when
// there is no such signature (MPEG, RIFF and the rest).
std::optional<FileKind> containerKind(ByteReader &reader);

// Size in bytes of the ID3v2 tag whose 10 header bytes are given (header, body and
// footer), or 0 when they are not a valid ID3v2 header.
uint64_t id3v2TagSize(const std::string &header);

// The tags at the end of an MPEG stream, outermost first: ID3v1, then in any order
// Lyrics3 (v1 or v2), APEv2 and an ID3v2 with footer.
struct TrailingTags {
    uint64_t audioEnd = 0; // where the tags begin
    bool id3v1 = false;
    int lyricsVersion = 0; // 0 none, 1 or 2
    uint64_t lyricsOffset = 0; // of "LYRICSBEGIN"
    uint64_t lyricsSize = 0; // from "LYRICSBEGIN" up to the size field (v2) or "LYRICSEND" (v1)
};

// Looks for trailing tags that end at the end of the data and do not reach below floor.
TrailingTags findTrailingTags(ByteReader &reader, uint64_t floor);

struct RiffChunk {
    char id[4];
    uint64_t offset; // of the chunk's data
    uint64_t size; // the declared size clipped to the file
};

// The form type of a RIFF (or RF64) file ("WAVE", "RMP3", "AVI "), empty when the data
// is not RIFF.
std::string riffFormType(ByteReader &reader);

// Calls visit for each top-level chunk of the RIFF form, in file order, until it returns
// false.  Odd sizes are padded; sizes are clipped to the file; the walk ends
// after a bounded number of chunks.
void walkRiffChunks(ByteReader &reader, const std::function<bool(const RiffChunk &)> &visit);

// The first top-level chunk of the RIFF form with the given id (four characters, such as
// "data"), as walkRiffChunks sees it.
std::optional<RiffChunk> findRiffChunk(ByteReader &reader, const char (&id)[5]);

inline uint32_t readLe32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t readBe32(const unsigned char *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

} // namespace vbmp3
