// Lyrics text files: LRC stamps, plain lines, any bytes.
#include "tags/lyrics.h"

#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int64_t duration = 0;
    if (size >= 4) {
        int32_t d;
        std::memcpy(&d, data, 4);
        duration = d;
    }
    vbmp3::LyricsTimeline timeline
        = vbmp3::LyricsTimeline::fromText(std::string_view(reinterpret_cast<const char *>(data), size));
    timeline.spreadOver(duration);
    LyricsLines lines;
    for (int64_t ms : { int64_t(-1), int64_t(0), duration / 2, duration, int64_t(INT64_MAX) }) {
        timeline.fill(ms, &lines);
        if (lines.current < -1 || lines.current >= static_cast<int64_t>(timeline.lines().size()))
            __builtin_trap();
    }
    return 0;
}
