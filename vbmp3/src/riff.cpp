// RIFF structure: form type, chunk walk, and the LIST/INFO texts of RMP and WAV files.
#include "fileparse.h"

#include <textcodec.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace vbmp3
{

namespace
{

// Enough for any real file; a file of tiny chunks cannot keep the walk going for long.
constexpr int kMaxChunks = 4096;

} // namespace

std::string riffFormType(ByteReader &reader)
{
    const std::string head = reader.read(0, 12);
    if (head.size() < 12 || (head.compare(0, 4, "RIFF") != 0 && head.compare(0, 4, "RF64") != 0))
        return {};
    return head.substr(8, 4);
}

void walkRiffChunks(ByteReader &reader, const std::function<bool(const RiffChunk &)> &visit)
{
    if (riffFormType(reader).empty())
        return;
    // Chunks are followed to the end of the file, not of the declared form: writers
    // append chunks without updating the form size, and streaming writers leave it 0.
    const uint64_t end = reader.size();
    uint64_t pos = 12;
    for (int n = 0; n < kMaxChunks && pos + 8 <= end; ++n) {
        unsigned char h[8];
        if (reader.readAt(pos, h, 8) != 8)
            return;
        RiffChunk chunk;
        std::memcpy(chunk.id, h, 4);
        const uint64_t declared = readLe32(h + 4);
        chunk.offset = pos + 8;
        chunk.size = std::min(declared, end - chunk.offset);
        if (!visit(chunk))
            return;
        pos = chunk.offset + declared + (declared & 1);
    }
}

bool readListInfo(ByteReader &reader, ListInfo *list)
{
    if (list)
        std::memset(list, 0, sizeof *list);
    if (!list)
        return true;
    static const char *const kIds[14] = { "INAM", "IART", "IPRD", "ICRD", "IGNR", "ICMT", "ICOP", "IENG", "ISFT",
        "ISRC", "ISBJ", "IKEY", "ITCH", "ISRF" };
    // INFO texts are short; a longer one is cut to what the fields can hold anyway.
    constexpr uint64_t kMaxText = 4096;
    walkRiffChunks(reader, [&](const RiffChunk &chunk) {
        if (std::memcmp(chunk.id, "LIST", 4) != 0 || chunk.size < 4 || reader.read(chunk.offset, 4) != "INFO")
            return true;
        const uint64_t end = chunk.offset + chunk.size;
        uint64_t pos = chunk.offset + 4;
        for (int n = 0; n < 1024 && pos + 8 <= end; ++n) {
            const std::string h = reader.read(pos, 8);
            if (h.size() != 8)
                break;
            const uint64_t declared = readLe32(reinterpret_cast<const unsigned char *>(h.data()) + 4);
            const uint64_t size = std::min({ declared, end - (pos + 8), kMaxText });
            for (int i = 0; i < 14; ++i) {
                if (h.compare(0, 4, kIds[i]) != 0 || list->text[i][0] != '\0')
                    continue;
                std::string text = reader.read(pos + 8, static_cast<size_t>(size));
                text.resize(std::strlen(text.c_str()));
                fillField(list->text[i], sizeof list->text[i], kes::systemOrCp932ToUtf8(text));
            }
            pos += 8 + declared + (declared & 1);
        }
        return true;
    });
    return true;
}

bool readListInfo(const std::string &path, ListInfo *list)
{
    return parseFileInto(path, list, [](ByteReader &reader, ListInfo *r) { return readListInfo(reader, r); });
}

} // namespace vbmp3
