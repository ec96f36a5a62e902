// The decoding path behind vbmp3_open and vbmp3_play: arbitrary bytes are probed, opened
// with libmpg123 or libsndfile through the engine's source (whose byte-range reader feeds
// libmpg123), decoded for a while and sought.
#include "sourceplay.h"
#include "tags/fileinfo.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzzplay::inputFile("vbmp3-fuzz", data, size);
    if (path.empty())
        return 0;
    const vbmp3::FileLayout layout = vbmp3::probeFile(path);
    auto source = vbmp3::openSource(path, layout);
    if (!source)
        return 0;
    const vbmp3::SourceInfo &info = source->info();
    if (info.channels < 1 || info.channels > 2 || info.rate <= 0 || info.totalFrames <= 0)
        __builtin_trap();
    fuzzplay::play(*source, 100000, false);
    return 0;
}
