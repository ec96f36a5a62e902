// The C interface facing hostile or odd input: named pipes, absurd WAV headers, running
// out of memory, streams that change their channel mode.
#include "enginetestsupport.h"
#include "lyrics.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

using namespace enginetest;
using namespace std::chrono_literals;

namespace
{

// A 16-bit PCM WAV header claiming `rate`, with a second of silence at 44.1 kHz after it.
std::string wavClaiming(uint32_t rate, uint16_t channels = 2)
{
    const std::string data(44100 * 2 * channels, '\0');
    const auto le16 = [](uint16_t v) { return std::string { char(v & 0xFF), char(v >> 8) }; };
    const std::string fmt = le16(1) + le16(channels) + le32(rate) + le32(size_t(rate) * 2 * channels)
        + le16(uint16_t(2 * channels)) + le16(16);
    return riff("WAVE", chunk("fmt ", fmt) + chunk("data", data));
}

class HostileApi : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(vbmp3_init(), 1);
        ASSERT_EQ(vbmp3_setOutput("null"), 1);
    }
    void TearDown() override { vbmp3_free(); }
};

// Every call that names a file returns at once on a named pipe, as on a missing file.
TEST_F(HostileApi, NamedPipesAreRefusedAtOnce)
{
    const std::string pipe = (workDir() / "pipe.mp3").string();
    const std::string real = writeFile(workDir() / "one.wav", wavClaiming(44100));
    ::unlink(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    static TagInfo tag;
    static MpegInfo mpeg;
    static ListInfo list;
    static OpenInfo info;
    const char *p = pipe.c_str();
    const std::pair<const char *, std::function<int()>> calls[] = {
        { "getFileType", [p] { return vbmp3_getFileType(p) + 1; } }, // -1 when refused
        { "getFileTagInfo", [p] { return vbmp3_getFileTagInfo(p, &tag); } },
        { "getFileInfo2", [p] { return vbmp3_getFileInfo2(p, &tag, &mpeg, &list); } },
        { "open", [p] { return vbmp3_open(p, &info); } },
        { "setLyricsFile", [&] { return vbmp3_open(real.c_str(), &info) - 1 + vbmp3_setLyricsFile(p); } },
        { "lyrics read (a pipe swapped in after the check)",
            [p] { return vbmp3::LyricsTimeline::fromFile(p) ? 1 : 0; } },
    };
    for (const auto &[name, call] : calls) {
        SCOPED_TRACE(name);
        auto result = std::async(std::launch::async, call);
        if (result.wait_for(2s) != std::future_status::ready) {
            ADD_FAILURE() << "blocked on the pipe";
            // Let the call go: a writer that opens and closes ends its wait.
            ::close(::open(pipe.c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_EQ(result.get(), 0) << "refused";
    }
}

TEST_F(HostileApi, WavHeadersWithAbsurdRatesAreRefused)
{
    const struct {
        uint32_t rate;
        int opened;
    } rows[] = { { 0x7FFFFFFF, 0 }, { 0x10000000, 0 }, { 400000, 0 }, { 500, 0 }, { 8000, 1 }, { 384000, 1 } };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.rate);
        const std::string path = writeFile(workDir() / "rate.wav", wavClaiming(r.rate));
        OpenInfo info;
        EXPECT_EQ(vbmp3_open(path.c_str(), &info), r.opened);
        EXPECT_EQ(vbmp3_play(), r.opened);
        EXPECT_EQ(vbmp3_stop(), r.opened);
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// (Not under the sanitizers: their allocators end the process on exhaustion by design.)
// Out of memory inside vbmp3_play (large buffers for a 384 kHz file under a tight address
// space limit): the call fails with 0 instead of ending the process.  The test program
// runs itself again for this test alone, so that no memory freed by earlier tests lets
// the allocations succeed.
TEST(HostileApiMemory, PlayThatRunsOutOfMemoryFailsInsteadOfAborting)
{
    if (const char *path = std::getenv("VBMP3_TEST_OOM_FILE")) {
        vbmp3_init();
        vbmp3_setOutput("null");
        const Vbmp3Option big { { 4096, 64, 100, 0 } };
        OpenInfo info;
        if (vbmp3_setVbmp3Option(&big) != 1 || vbmp3_open(path, &info) != 1)
            ::_exit(3);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (4u << 20);
        const rlimit rl { limit, limit };
        ::setrlimit(RLIMIT_AS, &rl);
        ::_exit(10 + vbmp3_play());
    }
    const std::string path = writeFile(workDir() / "fast.wav", wavClaiming(384000));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("VBMP3_TEST_OOM_FILE", path.c_str(), 1);
        ::execl("/proc/self/exe", "test_vbmp3_engine", "--gtest_filter=HostileApiMemory.*", nullptr);
        ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 10) << "vbmp3_play reports the failure";
}
#endif

// A stream whose frames switch between mono and stereo plays to its end.
TEST_F(HostileApi, ChannelModeChangesPlayThrough)
{
    if (!haveTools())
        GTEST_SKIP() << "sox and lame are needed";
    const std::string path = fixture("modes.mp3",
        "sox -n -r 44100 -c 1 -b 16 m.wav synth 1 sine 440 && sox -n -r 44100 -c 2 -b 16 s.wav synth 1 sine 660 && "
        "lame --quiet -t -b 128 -m m m.wav m.mp3 && lame --quiet -t -b 128 -m s s.wav s.mp3 && "
        "cat m.mp3 s.mp3 m.mp3 s.mp3 > %o");
    const std::string out = (workDir() / "modes.wav").string();
    ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(path.c_str(), &info), 1);
    EXPECT_GE(info.totalSeconds, 4);
    ASSERT_EQ(vbmp3_play(), 1);
    for (int i = 0; i < 1000 && vbmp3_getState(nullptr) == VBMP3_PLAYING; ++i)
        std::this_thread::sleep_for(10ms);
    const Pcm pcm = readWav(out);
    EXPECT_GE(pcm.frames(), 4u * 44100) << "played to the end";
}

} // namespace
