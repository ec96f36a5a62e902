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

// Budgets of the RIFF walk, per file: top-level chunks visited, and sub-chunks of
// LIST/INFO lists looked at in total; each INFO list is read whole up to kMaxInfoList
// bytes (the rest of a longer one is ignored).  A real file has a dozen chunks and an
// INFO list of a few hundred bytes; a file made of thousands of tiny chunks costs no
// more than a few thousand small reads.
constexpr int kMaxChunks = 4096;
constexpr int kMaxInfoTexts = 4096;
constexpr uint64_t kMaxInfoList = 64 * 1024;

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

std::optional<RiffChunk> findRiffChunk(ByteReader &reader, const char (&id)[5])
{
    std::optional<RiffChunk> found;
    walkRiffChunks(reader, [&](const RiffChunk &chunk) {
        if (std::memcmp(chunk.id, id, 4) == 0)
            found = chunk;
        return !found;
    });
    return found;
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
    int texts = 0;
    walkRiffChunks(reader, [&](const RiffChunk &chunk) {
        if (std::memcmp(chunk.id, "LIST", 4) != 0 || chunk.size < 4)
            return true;
        const std::string body = reader.read(chunk.offset, static_cast<size_t>(std::min(chunk.size, kMaxInfoList)));
        if (body.compare(0, 4, "INFO") != 0)
            return true;
        const auto *b = reinterpret_cast<const unsigned char *>(body.data());
        size_t pos = 4;
        for (; texts < kMaxInfoTexts && pos + 8 <= body.size(); ++texts) {
            const uint64_t declared = readLe32(b + pos + 4);
            const size_t size = static_cast<size_t>(std::min<uint64_t>(declared, body.size() - (pos + 8)));
            for (int i = 0; i < 14; ++i) {
                if (body.compare(pos, 4, kIds[i]) != 0 || list->text[i][0] != '\0')
                    continue;
                constexpr size_t kMaxText = 4096;
                std::string_view text(body.data() + pos + 8, std::min(size, kMaxText));
                text = text.substr(0, text.find('\0'));
                fillField(list->text[i], sizeof list->text[i], kes::systemOrCp932ToUtf8(text));
            }
            if (declared > body.size() - (pos + 8))
                break;
            pos += 8 + static_cast<size_t>(declared + (declared & 1));
        }
        return texts < kMaxInfoTexts;
    });
    return true;
}

bool readListInfo(const std::string &path, ListInfo *list)
{
    return parseFileInto(path, list, [](ByteReader &reader, ListInfo *r) { return readListInfo(reader, r); });
}

} // namespace vbmp3
