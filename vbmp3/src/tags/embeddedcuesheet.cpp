// The cue sheet a file carries inside: FLAC's CUESHEET metadata block (written out as a
// sheet's text), a CUESHEET Vorbis comment, an APEv2 "Cuesheet" item.  Every read is
// bounded: blocks, comments and items are stepped over by their lengths, and only the
// sheet itself (at most kMaxCueSheet bytes) is read whole.
#include "fileparse.h"
#include "sources/formats.h"
#include "taglibstream.h"

#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

#include <cstdio>
#include <exception>

namespace vbmp3
{
namespace
{

constexpr int kFlacStreamInfo = 0;
constexpr int kFlacVorbisComment = 4;
constexpr int kFlacCueSheet = 5;
// FLAC metadata blocks, comment entries and APEv2 items looked at before giving up.
constexpr int kMaxBlocks = 1024;
constexpr uint32_t kMaxEntries = 4096;
// The largest single read of the Ogg FLAC header TagLib may make.
constexpr unsigned long kMaxOggRead = 2ul * 1024 * 1024;

const unsigned char *bytesOf(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

uint64_t readBe64(const unsigned char *p)
{
    return uint64_t(readBe32(p)) << 32 | readBe32(p + 4);
}

bool isKey(const std::string &text, std::string_view key)
{
    if (text.size() != key.size())
        return false;
    for (size_t i = 0; i < key.size(); ++i)
        if ((text[i] >= 'a' && text[i] <= 'z' ? char(text[i] - 32) : text[i]) != key[i])
            return false;
    return true;
}

// "mm:ss:ff" of a sample at rate, in CD frames (75 a second) rounded down.
std::string cueTime(uint64_t sample, uint32_t rate)
{
    const uint64_t frames = rate > 0 ? sample / rate * 75 + sample % rate * 75 / rate : 0;
    char text[40];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(frames / 75 / 60),
        static_cast<unsigned long long>(frames / 75 % 60), static_cast<unsigned long long>(frames % 75));
    return text;
}

// Printable ASCII of a fixed, NUL-padded field.
std::string asciiField(const std::string &field)
{
    std::string out;
    for (char c : field) {
        if (c == '\0')
            break;
        if (c > ' ' && c < 0x7F)
            out += c;
    }
    return out;
}

// A CUESHEET block's body as a sheet's text; nothing when it is cut short.  Its track
// offsets count samples from the audio's start; the last track is the lead-out.
std::optional<std::string> cueSheetText(const std::string &block, uint32_t rate, const std::string &fileName)
{
    constexpr size_t kHead = 128 + 8 + 259 + 1;
    constexpr size_t kTrackHead = 8 + 1 + 12 + 14 + 1;
    constexpr size_t kIndex = 12;
    if (block.size() < kHead || rate == 0)
        return std::nullopt;
    const unsigned char *p = bytesOf(block);
    std::string text;
    if (const std::string catalog = asciiField(block.substr(0, 128)); !catalog.empty())
        text += "CATALOG " + catalog + "\n";
    text += "FILE \"" + fileName + "\" WAVE\n";
    const unsigned tracks = p[kHead - 1];
    size_t at = kHead;
    for (unsigned t = 0; t < tracks; ++t) {
        if (block.size() - at < kTrackHead)
            return std::nullopt;
        const uint64_t offset = readBe64(p + at);
        const unsigned number = p[at + 8];
        const std::string isrc = asciiField(block.substr(at + 9, 12));
        const bool audio = (p[at + 21] & 0x80) == 0;
        const bool preEmphasis = (p[at + 21] & 0x40) != 0;
        const unsigned indexes = p[at + 35];
        at += kTrackHead;
        if (block.size() - at < size_t { indexes } * kIndex)
            return std::nullopt;
        if (t + 1 == tracks)
            break; // the lead-out
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02u %s\n", number, audio ? "AUDIO" : "MODE1/2352");
        text += line;
        if (preEmphasis)
            text += "    FLAGS PRE\n";
        if (!isrc.empty())
            text += "    ISRC " + isrc + "\n";
        for (unsigned i = 0; i < indexes; ++i, at += kIndex) {
            std::snprintf(line, sizeof line, "    INDEX %02u ", p[at + 8]);
            text += line + cueTime(offset + readBe64(p + at), rate) + "\n";
        }
    }
    return text;
}

// The value of the first CUESHEET entry of a Vorbis comment block at [at, end).
std::optional<std::string> commentCueSheet(ByteReader &reader, uint64_t at, uint64_t end)
{
    const auto le32At = [&](uint64_t offset) -> std::optional<uint32_t> {
        const std::string b = reader.read(offset, 4);
        return b.size() == 4 ? std::optional(readLe32(bytesOf(b))) : std::nullopt;
    };
    if (end - at < 4)
        return std::nullopt;
    const std::optional<uint32_t> vendor = le32At(at);
    if (!vendor || *vendor > end - at - 4)
        return std::nullopt;
    at += 4 + *vendor;
    const std::optional<uint32_t> count = le32At(at);
    if (end - at < 4 || !count)
        return std::nullopt;
    at += 4;
    constexpr std::string_view kKey = "CUESHEET=";
    for (uint32_t i = 0; i < std::min(*count, kMaxEntries) && end - at >= 4; ++i) {
        const std::optional<uint32_t> length = le32At(at);
        if (!length || *length > end - at - 4)
            return std::nullopt;
        if (*length >= kKey.size() && *length - kKey.size() <= kMaxCueSheet
            && isKey(reader.read(at + 4, kKey.size()), kKey))
            return reader.read(at + 4 + kKey.size(), *length - kKey.size());
        at += 4 + *length;
    }
    return std::nullopt;
}

std::optional<std::string> flacCueSheet(ByteReader &reader, uint64_t at, const std::string &fileName)
{
    if (reader.read(at, 4) != "fLaC")
        return std::nullopt;
    at += 4;
    uint32_t rate = 0;
    std::optional<std::string> comment;
    for (int i = 0; i < kMaxBlocks; ++i) {
        const std::string header = reader.read(at, 4);
        if (header.size() < 4)
            break;
        const int type = header[0] & 0x7F;
        const uint64_t length = readBe32(bytesOf(header)) & 0xFFFFFF;
        const uint64_t body = at + 4;
        if (length > reader.size() - body)
            break;
        if (type == kFlacStreamInfo && length >= 18) {
            const std::string info = reader.read(body, 18);
            rate = uint32_t(bytesOf(info)[10]) << 12 | uint32_t(bytesOf(info)[11]) << 4 | bytesOf(info)[12] >> 4;
        } else if (type == kFlacCueSheet && length <= kMaxCueSheet) {
            if (std::optional<std::string> text = cueSheetText(reader.read(body, length), rate, fileName))
                return text;
        } else if (type == kFlacVorbisComment && !comment) {
            comment = commentCueSheet(reader, body, body + length);
        }
        if (header[0] & 0x80)
            break; // the last block
        at = body + length;
    }
    return comment;
}

// The Cuesheet item of the APEv2 tag at the end of the file (before an ID3v1 tag, if any).
std::optional<std::string> apeCueSheet(ByteReader &reader)
{
    uint64_t end = reader.size();
    if (end >= 128 && reader.read(end - 128, 3) == "TAG")
        end -= 128;
    if (end < 32)
        return std::nullopt;
    const std::string footer = reader.read(end - 32, 32);
    if (footer.size() < 32 || !footer.starts_with("APETAGEX"))
        return std::nullopt;
    const uint64_t size = readLe32(bytesOf(footer) + 12); // items and footer
    const uint32_t count = readLe32(bytesOf(footer) + 16);
    if (size < 32 || size > end)
        return std::nullopt;
    uint64_t at = end - size;
    const uint64_t itemsEnd = end - 32;
    for (uint32_t i = 0; i < std::min(count, kMaxEntries) && itemsEnd - at >= 9; ++i) {
        const std::string head = reader.read(at, 8 + 256);
        const size_t nul = head.find('\0', 8);
        if (head.size() < 9 || nul == std::string::npos)
            return std::nullopt;
        const uint32_t length = readLe32(bytesOf(head));
        const uint32_t flags = readLe32(bytesOf(head) + 4);
        const uint64_t value = at + nul + 1;
        if (value > itemsEnd || length > itemsEnd - value)
            return std::nullopt;
        // Items of text (flags bits 1 and 2 clear) only.
        if ((flags & 0x6) == 0 && length <= kMaxCueSheet && isKey(head.substr(8, nul - 8), "CUESHEET"))
            return reader.read(value, length);
        at = value + length;
    }
    return std::nullopt;
}

std::optional<std::string> oggFlacCueSheet(ByteReader &reader)
{
    TagLibStream stream(reader, kMaxOggRead, 4 * kMaxOggRead);
    const std::unique_ptr<TagLib::File> file = formatOf(FileKind::OggFlac).tagFile(&stream, false);
    if (!file || !file->isValid())
        return std::nullopt;
    const TagLib::PropertyMap map = file->properties();
    const auto it = map.find("CUESHEET");
    if (it == map.end() || it->second.isEmpty())
        return std::nullopt;
    return it->second.front().to8Bit(true);
}

} // namespace

std::optional<std::string> readCueSheet(ByteReader &reader, const std::string &fileName)
{
    std::optional<std::string> sheet;
    switch (containerKind(reader).value_or(FileKind::Unknown)) {
    case FileKind::Flac:
        sheet = flacCueSheet(reader, leadingTagsEnd(reader), fileName);
        break;
    case FileKind::OggFlac:
        sheet = oggFlacCueSheet(reader);
        break;
    case FileKind::WavPack:
    case FileKind::Ape:
        sheet = apeCueSheet(reader);
        break;
    case FileKind::Unknown:
    case FileKind::Mpeg:
    case FileKind::Wav:
    case FileKind::Rmp:
    case FileKind::Media:
    case FileKind::OggVorbis:
    case FileKind::OggOpus:
    case FileKind::Mp4:
        break;
    }
    if (!sheet || sheet->empty() || sheet->size() > kMaxCueSheet)
        return std::nullopt;
    return sheet;
}

std::optional<std::string> readCueSheet(const std::string &path)
{
    FileReader reader(path);
    if (!reader.isOpen())
        return std::nullopt;
    const size_t slash = path.rfind('/');
    try {
        return readCueSheet(reader, slash == std::string::npos ? path : path.substr(slash + 1));
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

} // namespace vbmp3
