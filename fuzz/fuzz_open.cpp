// What vbmp3_open and vbmp3_getFileType learn about arbitrary bytes.
#include "tags/fileparse.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vbmp3::MemoryReader reader(std::string_view(reinterpret_cast<const char *>(data), size));
    const vbmp3::FileLayout layout = vbmp3::probe(reader);
    if (layout.audioOffset + layout.audioSize > size)
        __builtin_trap();
    vbmp3::fileTypeCode(layout);
    MpegInfo info;
    vbmp3::readMpegInfo(reader, &info);
    return 0;
}
