// Readers: a file, or a part of it, decoded to float frames on the caller's thread, the
// same frames the playing source gives, with many readers at once on many threads.
#include "enginetestsupport.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{

struct Decoded {
    int32_t rate = 0, channels = 0;
    std::vector<float> samples;
    bool opened = false, failed = false;
};

// Everything a reader gives, read `block` frames at a time.
Decoded readAll(const std::string &path, const TrackRange *range = nullptr, int32_t block = 1000)
{
    Decoded out;
    Vbmp3Reader *reader = vbmp3_readerOpen(path.c_str(), range, &out.rate, &out.channels);
    out.opened = reader != nullptr;
    if (!reader)
        return out;
    std::vector<float> buffer(static_cast<size_t>(block * out.channels));
    for (int32_t n; (n = vbmp3_readerRead(reader, buffer.data(), block)) != 0;) {
        if (n < 0) {
            out.failed = true;
            break;
        }
        out.samples.insert(out.samples.end(), buffer.begin(), buffer.begin() + n * out.channels);
    }
    vbmp3_readerClose(reader);
    return out;
}

class Readers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTools() || !run("command -v flac"))
            GTEST_SKIP() << "sox, lame and flac are needed to make the files";
    }
    static std::vector<std::string> files()
    {
        return {
            fixture("reader.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 3 sine 300-3000 sine 500 gain -6"),
            mp3("reader.mp3", "-r 44100 -c 2", "synth 3 pinknoise gain -10"),
            fixture("reader.flac", "sox -n -r 48000 -c 1 -b 24 -t wav - synth 3 sine 1000 | flac -s -f -o %o -"),
        };
    }
};

// Without the engine (vbmp3_init is never called here) a reader gives exactly the frames
// the playing source gives, whole or in part, whatever the size of its reads.
TEST_F(Readers, GiveTheSourcesFramesWholeAndInPart)
{
    for (const std::string &path : files()) {
        SCOPED_TRACE(path);
        int rate = 0, channels = 0;
        const std::vector<float> expected = decodeFloats(path, &rate, &channels);
        ASSERT_FALSE(expected.empty());
        for (int32_t block : { 1, 4096, 100000 }) {
            const Decoded whole = readAll(path, nullptr, block);
            EXPECT_EQ(whole.rate, rate);
            EXPECT_EQ(whole.channels, channels);
            EXPECT_FALSE(whole.failed);
            EXPECT_EQ(whole.samples, expected) << "reads of " << block;
        }
        // CD frames 20 to 150 (1/75 s each), and 200 to the end.
        for (const TrackRange range : { TrackRange { 20, 150 }, TrackRange { 200, -1 } }) {
            const auto at = [&](int64_t cd) { return static_cast<size_t>(cd * rate / 75 * channels); };
            const size_t end = range.end < 0 ? expected.size() : at(range.end);
            const std::vector<float> part(
                expected.begin() + ptrdiff_t(at(range.start)), expected.begin() + ptrdiff_t(end));
            EXPECT_EQ(readAll(path, &range).samples, part) << range.start << " to " << range.end;
        }
    }
}

TEST_F(Readers, RefuseWhatCannotBeRead)
{
    const std::string text = writeFile(workDir() / "reader.txt", "no sound here");
    const TrackRange backwards { 100, 50 }, pastTheEnd { 75 * 60, -1 };
    struct Case {
        const char *name;
        std::string path;
        const TrackRange *range;
    } cases[] = {
        { "missing", (workDir() / "absent.wav").string(), nullptr },
        { "not audio", text, nullptr },
        { "a folder", workDir().string(), nullptr },
        { "an end before the start", files()[0], &backwards },
        { "a start past the end", files()[0], &pastTheEnd },
    };
    for (const Case &c : cases) {
        int32_t rate = -1, channels = -1;
        EXPECT_EQ(vbmp3_readerOpen(c.path.c_str(), c.range, &rate, &channels), nullptr) << c.name;
        EXPECT_EQ(rate, 0) << c.name;
        EXPECT_EQ(channels, 0) << c.name;
    }
    float sample = 0;
    EXPECT_EQ(vbmp3_readerRead(nullptr, &sample, 1), -1);
    vbmp3_readerClose(nullptr);
}

// Eight readers on eight threads, two to a file, while the library plays one of the files:
// each gives what one reader alone gives.
TEST_F(Readers, ManyAtOnceOnManyThreadsAlsoWhileTheLibraryPlays)
{
    const std::vector<std::string> paths = files();
    std::vector<Decoded> alone;
    for (const std::string &path : paths)
        alone.push_back(readAll(path));
    ASSERT_EQ(vbmp3_init(), 1);
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    ASSERT_EQ(vbmp3_open(paths[1].c_str(), nullptr), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    std::vector<Decoded> together(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < together.size(); ++i)
        threads.emplace_back([&, i] { together[i] = readAll(paths[i % paths.size()], nullptr, 777); });
    for (std::thread &t : threads)
        t.join();
    vbmp3_free();
    for (size_t i = 0; i < together.size(); ++i)
        EXPECT_EQ(together[i].samples, alone[i % paths.size()].samples) << "reader " << i;
}

} // namespace
