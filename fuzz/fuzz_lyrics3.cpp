// Lyrics3 v1/v2 at the end of arbitrary bytes, then the timeline made from them.
#include "tags/fileparse.h"
#include "tags/lyrics.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vbmp3::MemoryReader reader(std::string_view(reinterpret_cast<const char *>(data), size));
    if (const auto text = vbmp3::readLyrics3(reader)) {
        vbmp3::LyricsTimeline timeline = vbmp3::LyricsTimeline::fromLyrics3(*text);
        timeline.spreadOver(180000);
        LyricsLines lines;
        timeline.fill(60000, &lines);
    }
    return 0;
}
