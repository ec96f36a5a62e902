// Tags of arbitrary bytes: ID3v2 and ID3v1, the tags of the formats that carry their own
// (Vorbis comments, MP4 atoms, APEv2), the lyrics embedded in any of them, their
// ReplayGain values (with the LAME header's) and the cue sheets embedded in them.
#include "dsp/replaygain.h"
#include "tags/fileparse.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vbmp3::MemoryReader reader(std::string_view(reinterpret_cast<const char *>(data), size));
    TagInfo tag;
    vbmp3::readTagInfo(reader, &tag);
    vbmp3::readEmbeddedLyrics(reader);
    vbmp3::readGainTags(reader, vbmp3::probe(reader));
    vbmp3::readCueSheet(reader, "image.flac");
    return 0;
}
