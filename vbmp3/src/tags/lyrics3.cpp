// Lyrics3 v1 and v2.00 data at the end of MPEG files.
#include "fileparse.h"

#include <textcodec.h>

#include <cstring>
#include <exception>

namespace vbmp3
{

namespace
{

std::string lyrics3Bytes(ByteReader &reader, const TrailingTags &tags)
{
    const std::string block = reader.read(tags.lyricsOffset, static_cast<size_t>(tags.lyricsSize));
    if (block.size() < 11)
        return {};
    if (tags.lyricsVersion == 1)
        return block.substr(11);
    // v2.00: fields of a three-letter id, a five-digit size and the data.
    size_t pos = 11;
    while (pos + 8 <= block.size()) {
        size_t size = 0;
        for (size_t i = pos + 3; i < pos + 8; ++i) {
            if (block[i] < '0' || block[i] > '9')
                return {};
            size = size * 10 + size_t(block[i] - '0');
        }
        const size_t data = pos + 8;
        if (block.compare(pos, 3, "LYR") == 0)
            return block.substr(data, size); // clipped to the block when the size lies
        pos = data + size;
    }
    return {};
}

} // namespace

std::optional<std::string> readLyrics3(ByteReader &reader)
{
    const TrailingTags tags = findTrailingTags(reader, 0);
    if (tags.lyricsVersion == 0)
        return std::nullopt;
    const std::string raw = lyrics3Bytes(reader, tags);
    const std::string utf8 = kes::latin1TagToUtf8(raw.substr(0, raw.find('\0')));
    std::string text;
    text.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r') {
            text += '\n';
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n')
                ++i;
        } else {
            text += utf8[i];
        }
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<std::string> readLyrics3(const std::string &path)
{
    FileReader reader(path);
    if (!reader.isOpen())
        return std::nullopt;
    try {
        return readLyrics3(reader);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

} // namespace vbmp3
