// One container's decoding path, chosen when the target is built (VBMP3_FUZZ_KINDS, a list
// of FileKind names): arbitrary bytes are opened as the kind the probe names when it is
// one of the list, else as the list's member the input's size picks, so that the decoder
// also sees bytes without its signature; then decoded for a while, sought into the
// middle, past the end and back, and decoded again.
#include "sourceplay.h"
#include "tags/fileinfo.h"

#include <string>

namespace
{

using enum vbmp3::FileKind;
constexpr vbmp3::FileKind kKinds[] = { VBMP3_FUZZ_KINDS };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzzplay::inputFile("vbmp3-fuzz-container", data, size);
    if (path.empty())
        return 0;
    vbmp3::FileLayout layout = vbmp3::probeFile(path);
    bool listed = false;
    for (vbmp3::FileKind kind : kKinds)
        listed = listed || kind == layout.kind;
    if (!listed) {
        layout = {};
        layout.kind = kKinds[size % std::size(kKinds)];
        layout.audioSize = size;
    }
    vbmp3::SourceOptions options;
    options.estimateLongLength = (size & 1) != 0;
    auto source = vbmp3::openSource(path, layout, options);
    if (!source)
        return 0;
    const vbmp3::SourceInfo &info = source->info();
    if (info.channels < 1 || info.channels > 8 || info.rate < 1000 || info.rate > 768000 || info.totalFrames <= 0)
        __builtin_trap();
    fuzzplay::play(*source, 200000, true);
    return 0;
}
