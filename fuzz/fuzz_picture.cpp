// Embedded cover pictures of arbitrary bytes, whatever container they claim to be.
#include "tags/fileparse.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vbmp3::MemoryReader reader(std::string_view(reinterpret_cast<const char *>(data), size));
    vbmp3::readPicture(reader);
    return 0;
}
