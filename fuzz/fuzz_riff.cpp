// RIFF structure: INFO texts and the layout of RMP, WAV and AVI files.
#include "tags/fileparse.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vbmp3::MemoryReader reader(std::string_view(reinterpret_cast<const char *>(data), size));
    ListInfo list;
    vbmp3::readListInfo(reader, &list);
    const vbmp3::FileLayout layout = vbmp3::probe(reader);
    if (layout.audioOffset + layout.audioSize > size)
        __builtin_trap();
    return 0;
}
