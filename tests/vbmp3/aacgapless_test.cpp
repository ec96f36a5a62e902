// AAC in MP4 without an edit list: the iTunes gapless note (iTunSMPB, written here with
// TagLib) trims the encoder delay and the padding, so that the decode is the one the edit
// list gives; a file with both is trimmed once.
#include "enginetestsupport.h"
#include "sources/source.h"
#include "tags/fileinfo.h"

#include <gtest/gtest.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>

#include <cstdio>

namespace
{

bool haveFfmpeg()
{
    static const bool have = run("command -v ffmpeg && command -v sox");
    return have;
}

// A copy of `from` carrying the note: delay, padding and original length in frames.
std::string withNote(
    const std::string &from, const std::string &name, unsigned delay, unsigned padding, unsigned length)
{
    const std::string path = (workDir() / name).string();
    std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
    char note[128];
    std::snprintf(
        note, sizeof note, " 00000000 %08X %08X %016X 00000000 00000000 00000000 00000000", delay, padding, length);
    TagLib::MP4::File file(path.c_str());
    EXPECT_TRUE(file.isValid());
    file.tag()->setItem("----:com.apple.iTunes:iTunSMPB", TagLib::StringList(TagLib::String(note)));
    EXPECT_TRUE(file.save());
    return path;
}

TEST(AacGaplessNote, TrimsDelayAndPaddingOnceWithOrWithoutAnEditList)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg and sox are needed to make the fixtures";
    const std::string tone
        = fixture("smpb-tone.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 44100s sine 300-5000 gain -6");
    const std::string edited
        = fixture("smpb-edited.m4a", "ffmpeg -v error -y -i " + tone + " -c:a aac -b:a 160k -use_editlist 1 %o");
    const std::string plain
        = fixture("smpb-plain.m4a", "ffmpeg -v error -y -i " + tone + " -c:a aac -b:a 160k -use_editlist 0 %o");
    const std::vector<float> reference = decodeFloats(edited);
    const std::vector<float> untrimmed = decodeFloats(plain);
    // FFmpeg's encoder primes 1024 frames; its edit list cuts them and the padding.
    const unsigned delay = 1024;
    const auto length = static_cast<unsigned>(reference.size() / 2);
    ASSERT_GT(length, 30000u);
    ASSERT_GE(untrimmed.size() / 2, length + delay) << "without an edit list the delay is heard";
    const auto padding = static_cast<unsigned>(untrimmed.size() / 2 - length - delay);
    const std::vector<float> noted = decodeFloats(withNote(plain, "smpb-noted.m4a", delay, padding, length));
    ASSERT_EQ(noted.size(), reference.size());
    EXPECT_EQ(noted, reference) << "the note's trim starts at the edit list's first frame";
    // A seek lands on the same frame as in the file with the edit list.
    const auto afterSeek = [](const std::string &path, int64_t frame) {
        auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
        std::vector<float> block(2 * 2048);
        if (!source || !source->seek(frame))
            return std::vector<float>();
        block.resize(2 * source->read(block.data(), 2048));
        return block;
    };
    const auto middle = static_cast<int64_t>(length / 2) + 77;
    EXPECT_EQ(afterSeek(workDir() / "smpb-noted.m4a", middle), afterSeek(edited, middle));

    EXPECT_EQ(decodeFloats(withNote(edited, "smpb-both.m4a", delay, padding, length)), reference)
        << "an edit list and a note trim once";

    // A note that does not fit the stream (longer than it) cuts nothing at the end.
    EXPECT_GE(decodeFloats(withNote(plain, "smpb-wrong.m4a", delay, padding, 10 * length)).size(),
        untrimmed.size() - 2 * delay);
}

} // namespace
