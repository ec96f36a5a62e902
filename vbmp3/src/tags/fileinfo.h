// File inspection for the decoder library: what a file is, where its audio lies, its
// tags, RIFF INFO texts, MPEG facts and Lyrics3 data.  Stateless and thread-safe: every
// function opens, reads and closes the file within the call and keeps nothing.
#pragma once

#include "vbmp3.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vbmp3
{

// What a file is; formats.h has a row for each.
enum class FileKind { Unknown, Mpeg, Wav, Rmp, Media, Flac, OggFlac, OggVorbis, OggOpus, Mp4, WavPack, Ape };
constexpr FileKind kLastFileKind = FileKind::Ape; // a kind added to FileKind goes last and is named here

// Where the playable bytes of a file lie.
struct FileLayout {
    FileKind kind = FileKind::Unknown;
    // Mpeg: from the first audio frame (after leading ID3v2 tags, their padding and any
    // junk) to the start of the trailing tags (ID3v1, Lyrics3, APE).  Rmp: the RIFF
    // "data" chunk, clipped to the file.
    // Wav: the whole file (libsndfile reads the RIFF structure itself); the kinds after
    // Media likewise (their decoders read their containers and skip leading ID3v2 tags).
    uint64_t audioOffset = 0;
    uint64_t audioSize = 0;
    bool hasId3v1 = false; // the file ends in an ID3v1 tag
    bool hasLyrics3 = false; // Lyrics3 v1 or v2 data stands right before that tag
};

// Looks at the content, never at the name.  Reads at most a few hundred KiB.
FileLayout probeFile(const std::string &path);

// The type code of vbmp3_getFileType (-1, 0, 1, 2, 8, with 16 and 32 added as documented;
// 3, 5, 6, 7, 9, 10, 11 for the kinds after Media).
int32_t fileTypeCode(const FileLayout &layout);

// Records are cleared first; false when the file cannot be read at all.
bool readTagInfo(const std::string &path, TagInfo *tag);
bool readListInfo(const std::string &path, ListInfo *list);
bool readMpegInfo(const std::string &path, MpegInfo *mpeg);
// The sort tags vbmp3_getFileSortTags describes; true when the file has at least one.
// The record is cleared first.
bool readSortTags(const std::string &path, SortTags *tags);

// The Lyrics3 v1 or v2.00 lyrics text (the LYR field for v2) of the file, converted to
// UTF-8 with lines separated by '\n'; nothing when the file has none.
std::optional<std::string> readLyrics3(const std::string &path);
// The lyrics embedded in the file's tags (fileparse.h tells which), UTF-8 lines separated
// by '\n'; nothing when it has none.
std::optional<std::string> readEmbeddedLyrics(const std::string &path);

// A picture embedded in a file: its bytes and its type ("image/jpeg").
struct Picture {
    std::string mimeType;
    std::string data;
};

// The file's front cover (or, without one, its first picture) as vbmp3_getFilePicture
// describes it; nothing when it has none.  Reads at most some 24 MiB of the file.
std::optional<Picture> readPicture(const std::string &path);

// The cue sheet embedded in the file (vbmp3_getFileCueSheet tells where it is looked for);
// a CUESHEET block is written out as a sheet whose FILE names the file itself.  Nothing
// when it has none, or one of more than kMaxCueSheet bytes.
constexpr size_t kMaxCueSheet = 1024 * 1024;
std::optional<std::string> readCueSheet(const std::string &path);

// Copies text (UTF-8) into a fixed field of `size` bytes: NUL-padded, cut at a character
// boundary, no NUL when it fills the field.
void fillField(char *field, size_t size, std::string_view text);

} // namespace vbmp3
