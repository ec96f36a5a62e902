// The formats the library tells apart, one row each: how the probe recognises it, the
// type code vbmp3_getFileType reports, its name, where an MPEG stream and its ID3 tags
// lie, the source that decodes it and the TagLib file that reads its own tags.  Whatever
// treats formats differently reads this table; a new format is a new FileKind, a row here
// and its source.
#pragma once

#include "tags/fileinfo.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace TagLib
{
class File;
class IOStream;
} // namespace TagLib

namespace vbmp3
{

class Source;
struct SourceOptions;

// What a container's signature is judged by: the first 12 bytes at its offset (after the
// leading ID3v2 tags; fewer at the end of the file) and, when they begin an Ogg page, the
// first 8 bytes of the page's first packet (empty otherwise).
struct SignatureBytes {
    std::string_view head;
    std::string_view oggPacket;
};

// Whether, and how, the audio of a format is an MPEG audio stream: then the file's MPEG
// facts are read, its type code counts a trailing ID3v1 tag and Lyrics3 data, and its
// ID3v2 tag gives its ReplayGain values.
enum class MpegStream {
    None,
    // The stream is the file; its ID3v2 tag opens the file, before FileLayout::audioOffset.
    Plain,
    // The stream is wrapped whole in a container's chunk and begins with its ID3v2 tag, at
    // FileLayout::audioOffset.
    Wrapped,
};

struct Format {
    FileKind kind;
    // The format's name, as the descriptions (OpenInfo text1) of the sources that play
    // several formats begin with it; empty for Unknown.
    const char *name;
    int32_t typeCode; // VBMP3_TYPE_*; the ID3v1 and Lyrics3 values are added for MPEG streams
    // True when a file whose leading ID3v2 tags are followed by these bytes is of this
    // format, whatever follows; null for the formats the probe finds by other rules (RIFF
    // forms, MPEG frame sync, the signatures of media files).
    bool (*signature)(const SignatureBytes &bytes);
    MpegStream mpeg;
    // Opens a file the probe found to be of this format; null for formats not played.
    std::unique_ptr<Source> (*open)(const std::string &path, const FileLayout &layout, const SourceOptions &options);
    // The file over stream with its own tags read, as readFormatTags reads them, and its
    // audio facts (length, rate, bit rate: from headers, never decoding) when asked; null
    // for formats whose tags are ID3 tags or none.
    std::unique_ptr<TagLib::File> (*tagFile)(TagLib::IOStream *stream, bool audioFacts);
};

// Every format, in the order of FileKind.
std::span<const Format> formats();

const Format &formatOf(FileKind kind);

} // namespace vbmp3
