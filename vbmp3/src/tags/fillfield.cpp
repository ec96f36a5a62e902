#include "fileinfo.h"

#include <textcodec.h>

#include <cstddef>
#include <cstring>

// The record layouts are part of the library's binary interface.
static_assert(sizeof(OpenInfo) == 272);
static_assert(offsetof(OpenInfo, reserved) == 256 && offsetof(OpenInfo, totalSeconds) == 268);
static_assert(sizeof(TagInfo) == 652);
static_assert(offsetof(TagInfo, year) == 384 && offsetof(TagInfo, comment) == 389);
static_assert(offsetof(TagInfo, genre) == 520 && offsetof(TagInfo, genreName) == 524);
static_assert(sizeof(ListInfo) == 1792);
static_assert(sizeof(MpegInfo) == 56);
static_assert(sizeof(LyricsLines) == 644);
static_assert(offsetof(LyricsLines, line4) == 4 && offsetof(LyricsLines, line2) == 260);
static_assert(offsetof(LyricsLines, line0) == 516);
static_assert(sizeof(Vbmp3Option) == 16 && sizeof(DecodeOption) == 12);

namespace vbmp3
{

void fillField(char *field, size_t size, std::string_view text)
{
    if (!field || size == 0)
        return;
    // A NUL inside the text would end it for every reader of the field.
    text = text.substr(0, text.find('\0'));
    const size_t n = kes::utf8CutLength(text, size);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, size - n);
}

} // namespace vbmp3
