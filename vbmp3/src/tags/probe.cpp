// What a file is and where its audio lies.
#include "fileparse.h"
#include "mpegheader.h"
#include "sources/formats.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

namespace vbmp3
{

namespace
{

// How far past the leading tags the first MPEG frame is looked for.
constexpr uint64_t kMpegScanLimit = 256 * 1024;
// Leading ID3v2 tags skipped one after the other (some taggers add a second one).
constexpr int kMaxLeadingTags = 4;

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

uint64_t digitsValue(std::string_view s)
{
    uint64_t v = 0;
    for (char c : s)
        v = v * 10 + uint64_t(c - '0');
    return v;
}

const unsigned char kAsfGuid[16]
    = { 0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C };

// The kind whose signature (formats.h) the bytes at offset match; nullopt when there is
// none.  An Ogg stream is named by the codec header its first page begins with, and is
// Unknown (not MPEG, whatever its pages hold) with a codec no format names.
std::optional<FileKind> signatureKind(ByteReader &reader, uint64_t offset)
{
    const std::string head = reader.read(offset, 12);
    if (head.size() < 4)
        return std::nullopt;
    const bool ogg = head.starts_with("OggS");
    std::string packet;
    if (ogg) {
        // Page header (27 bytes), its segment table, then the first packet.
        const std::string page = reader.read(offset, 27 + 255 + 8);
        if (page.size() < 27)
            return FileKind::Unknown;
        const size_t at = 27 + static_cast<unsigned char>(page[26]);
        packet = page.size() > at ? page.substr(at, 8) : std::string();
    }
    const SignatureBytes bytes { head, packet };
    for (const Format &format : formats())
        if (format.signature && format.signature(bytes))
            return format.kind;
    return ogg ? std::optional(FileKind::Unknown) : std::nullopt;
}

} // namespace

uint64_t leadingTagsEnd(ByteReader &reader)
{
    uint64_t offset = 0;
    for (int i = 0; i < kMaxLeadingTags; ++i) {
        const uint64_t tagSize = id3v2TagSize(reader.read(offset, 10));
        if (tagSize == 0 || tagSize > reader.size() - offset)
            break;
        offset += tagSize;
    }
    return offset;
}

std::optional<FileKind> containerKind(ByteReader &reader)
{
    const uint64_t offset = leadingTagsEnd(reader);
    return offset < reader.size() ? signatureKind(reader, offset) : std::nullopt;
}

uint64_t id3v2TagSize(const std::string &h)
{
    if (h.size() < 10 || h.compare(0, 3, "ID3") != 0)
        return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(h.data());
    if (p[3] < 2 || p[3] > 4 || p[4] == 0xFF)
        return 0;
    if ((p[6] | p[7] | p[8] | p[9]) & 0x80)
        return 0;
    const uint64_t body = readSynchsafe32(p + 6);
    const bool footer = p[3] == 4 && (p[5] & 0x10);
    return 10 + body + (footer ? 10 : 0);
}

TrailingTags findTrailingTags(ByteReader &reader, uint64_t floor)
{
    TrailingTags t;
    const uint64_t size = reader.size();
    uint64_t end = size;
    if (end >= floor + 128 && reader.read(end - 128, 3) == "TAG") {
        t.id3v1 = true;
        end -= 128;
    }
    bool apeSeen = false;
    bool id3v2Seen = false;
    for (bool changed = true; changed;) {
        changed = false;
        if (!apeSeen && end >= floor + 32) {
            const std::string f = reader.read(end - 32, 32);
            if (f.size() == 32 && f.compare(0, 8, "APETAGEX") == 0) {
                const auto *p = reinterpret_cast<const unsigned char *>(f.data());
                const uint64_t total = uint64_t(readLe32(p + 12)) + ((readLe32(p + 20) & 0x80000000u) ? 32 : 0);
                if (total >= 32 && total <= end - floor) {
                    end -= total;
                    apeSeen = changed = true;
                }
            }
        }
        if (t.lyricsVersion == 0 && end >= floor + 15 + 11) {
            const std::string f = reader.read(end - 15, 15);
            if (f.size() == 15 && f.compare(6, 9, "LYRICS200") == 0 && allDigits(f.substr(0, 6))) {
                const uint64_t n = digitsValue(f.substr(0, 6));
                if (n >= 11 && n <= end - 15 - floor && reader.read(end - 15 - n, 11) == "LYRICSBEGIN") {
                    t.lyricsVersion = 2;
                    t.lyricsOffset = end - 15 - n;
                    t.lyricsSize = n;
                    end = t.lyricsOffset;
                    changed = true;
                }
            }
        }
        if (t.lyricsVersion == 0 && end >= floor + 20 && reader.read(end - 9, 9) == "LYRICSEND") {
            // Lyrics3 v1 holds at most 5100 bytes of text.
            const uint64_t window = std::min<uint64_t>(end - 9 - floor, 5100 + 11);
            const std::string block = reader.read(end - 9 - window, static_cast<size_t>(window));
            const size_t at = block.rfind("LYRICSBEGIN");
            if (block.size() == window && at != std::string::npos) {
                t.lyricsVersion = 1;
                t.lyricsOffset = end - 9 - window + at;
                t.lyricsSize = end - 9 - t.lyricsOffset;
                end = t.lyricsOffset;
                changed = true;
            }
        }
        if (!id3v2Seen && end >= floor + 20) {
            const std::string f = reader.read(end - 10, 10);
            const auto *q = reinterpret_cast<const unsigned char *>(f.data());
            if (f.size() == 10 && f.compare(0, 3, "3DI") == 0 && !((q[6] | q[7] | q[8] | q[9]) & 0x80)) {
                const uint64_t body = readSynchsafe32(q + 6);
                const uint64_t total = body + 20; // header, body, footer
                if (total <= end - floor && reader.read(end - total, 3) == "ID3") {
                    end -= total;
                    id3v2Seen = changed = true;
                }
            }
        }
    }
    t.audioEnd = end;
    return t;
}

FileLayout probe(ByteReader &reader)
{
    FileLayout layout;
    const std::string head = reader.read(0, 16);
    const auto *p = reinterpret_cast<const unsigned char *>(head.data());
    if (head.size() >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] == 0xBA || p[3] == 0xB3)) {
        layout.kind = FileKind::Media; // MPEG program stream or video sequence
        return layout;
    }
    if (head.size() >= 16 && std::memcmp(p, kAsfGuid, 16) == 0) {
        layout.kind = FileKind::Media;
        return layout;
    }
    const std::string form = riffFormType(reader);
    if (form == "AVI " || form == "AVIX") {
        layout.kind = FileKind::Media;
        return layout;
    }
    if (form == "WAVE") {
        layout.kind = FileKind::Wav;
        layout.audioSize = reader.size();
        return layout;
    }
    if (form == "RMP3") {
        const std::optional<RiffChunk> chunk = findRiffChunk(reader, "data");
        if (!chunk)
            return layout;
        layout.audioOffset = chunk->offset;
        layout.audioSize = chunk->size;
        // The tags of the file, or of the MP3 file that the data chunk wraps whole.
        RangeReader data(reader, layout.audioOffset, layout.audioSize);
        TrailingTags tags = findTrailingTags(data, 0);
        if (tags.audioEnd == data.size()) {
            tags = findTrailingTags(reader, layout.audioOffset);
            tags.audioEnd -= layout.audioOffset;
        }
        layout.kind = FileKind::Rmp;
        layout.audioSize = std::min(layout.audioSize, tags.audioEnd);
        layout.hasId3v1 = tags.id3v1;
        layout.hasLyrics3 = tags.id3v1 && tags.lyricsVersion != 0;
        return layout;
    }
    if (!form.empty())
        return layout;

    const uint64_t offset = leadingTagsEnd(reader);
    if (offset >= reader.size())
        return layout;
    // A container's own signature decides before any MPEG frame sync found in its data.
    if (const std::optional<FileKind> kind = signatureKind(reader, offset)) {
        layout.kind = *kind;
        layout.audioSize = *kind == FileKind::Unknown ? 0 : reader.size();
        return layout;
    }
    const TrailingTags tags = findTrailingTags(reader, offset);
    const auto first = findFirstFrame(reader, offset, tags.audioEnd, kMpegScanLimit);
    if (!first)
        return layout;
    // Starting at the first frame spares the decoder a search through tag padding or
    // junk (libmpg123 gives up after 1 KiB of it by default).
    layout.kind = FileKind::Mpeg;
    layout.audioOffset = first->offset;
    layout.audioSize = tags.audioEnd - first->offset;
    layout.hasId3v1 = tags.id3v1;
    layout.hasLyrics3 = tags.id3v1 && tags.lyricsVersion != 0;
    return layout;
}

} // namespace vbmp3

namespace vbmp3
{

FileLayout probeFile(const std::string &path)
{
    FileReader reader(path);
    if (!reader.isOpen())
        return {};
    try {
        return probe(reader);
    } catch (const std::exception &) {
        return {};
    }
}

int32_t fileTypeCode(const FileLayout &layout)
{
    const Format &format = formatOf(layout.kind);
    int32_t code = format.typeCode;
    if (format.mpeg != MpegStream::None && layout.hasId3v1) {
        code += VBMP3_TYPE_ID3V1;
        if (layout.hasLyrics3)
            code += VBMP3_TYPE_LYRICS3;
    }
    return code;
}

} // namespace vbmp3
