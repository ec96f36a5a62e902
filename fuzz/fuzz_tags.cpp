// ID3v2 and ID3v1 tags of arbitrary bytes.
#include "fileparse.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vbmp3::MemoryReader reader(std::string_view(reinterpret_cast<const char *>(data), size));
    TagInfo tag;
    vbmp3::readTagInfo(reader, &tag);
    return 0;
}
