// The samples and rate the sound server's stream gets, and the reopen at a join, on a private server.
#include "enginetestsupport.h"
#include "outputs/output.h"
#include "sources/source.h"
#include "tags/fileinfo.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The format, channels and rate the server takes from our stream: the last column of its short line.
std::string streamFormat()
{
    const std::string list = outputOf("pactl list short sink-inputs");
    const std::string line = list.substr(0, list.find('\n'));
    const size_t tab = line.rfind('\t');
    if (line.empty() || tab == std::string::npos)
        return "(no stream)";
    return line.substr(tab + 1);
}

// The null sink's monitor recorded into a raw file by parec while the object lives.
class MonitorRecording
{
public:
    MonitorRecording(const std::string &name, const std::string &format, int rate)
        : m_path((workDir() / (name + ".raw")).string())
    {
        const std::string pidFile = m_path + ".pid";
        std::filesystem::remove(m_path);
        run("parec --device=null.monitor --format=" + format + " --rate=" + std::to_string(rate)
            + " --channels=2 --latency-msec=10 >'" + m_path + "' & echo $! >'" + pidFile + "'");
        std::ifstream(pidFile) >> m_pid;
        std::this_thread::sleep_for(400ms); // connected and recording
    }
    ~MonitorRecording() { stop(); }
    // Ends the recording; what it holds.
    std::string stop()
    {
        if (m_pid > 0) {
            // What the server still held is heard; the monitor hands it on a sink's block (up
            // to half a second) later.
            std::this_thread::sleep_for(1000ms);
            ::kill(m_pid, SIGTERM);
            std::this_thread::sleep_for(100ms);
            m_pid = -1;
        }
        return readFile(m_path);
    }

private:
    std::string m_path;
    int m_pid = -1;
};

class SoundServerStream : public LibrarySession
{
protected:
    void SetUp() override
    {
        if (!haveTools() || !run("command -v pactl && command -v parec"))
            GTEST_SKIP() << "sox, lame, pactl and parec are needed";
        LibrarySession::SetUp();
        ASSERT_EQ(vbmp3_setOutput("auto"), 1);
        ASSERT_EQ(vbmp3_setNativeOutputFormat(1), 1);
    }

    // Plays path (then `next`, joined) to its end; the output's name.
    static std::string play(const std::string &path, const std::string &next = {})
    {
        EXPECT_TRUE(playToEnd(path, { .next = next })) << path;
        char name[16] = {};
        vbmp3_getOutputName(name, sizeof name);
        return name;
    }
};

// The stream follows each track's rate and width (24-bit bit for bit, float lossy, 16-bit); else the options decide.
TEST_F(SoundServerStream, TakesEachTracksOwnRateAndSamples)
{
    PulseServer server("format=s32le rate=96000");
    if (!server.ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    const std::string wide = fixture("pattern24.flac", "sox -n -r 96000 -c 2 -b 24 %o synth 0.5 sine 997 gain -3");
    const std::string lossy = mp3("lossy.mp3", "-r 44100 -c 2", "synth 0.3 sine 440 gain -6");
    const std::string plain = fixture("plain16.wav", "sox -n -r 48000 -c 2 -b 16 %o synth 0.3 sine 660 gain -6");
    const std::vector<int32_t> source = decodeInts(wide, 24);
    ASSERT_EQ(source.size(), 2u * 48000);
    const auto lowBits = std::count_if(source.begin(), source.end(), [](int32_t s) { return (s & 0xFF) != 0; });
    ASSERT_GT(lowBits, 1000) << "the pattern must use the bits below 16";

    std::string heard;
    {
        MonitorRecording recording("wide", "s32le", 96000);
        if (play(wide) != "pulse")
            GTEST_SKIP() << "the private PulseAudio server did not answer";
        EXPECT_EQ(streamFormat(), "s32le 2ch 96000Hz");
        heard = recording.stop();
    }
    // parec starts late: find where the file's frames 100 ms in lie, then compare every recorded sample.
    const auto words = samplesOf<int32_t>(heard);
    const auto word = [&](size_t i) { return static_cast<int32_t>(static_cast<uint32_t>(source[i]) << 8); };
    const size_t mark = 2 * 9600;
    size_t at = 0;
    const auto marked = [&](size_t from) {
        for (size_t i = 0; i < 32; ++i)
            if (from + i >= words.size() || words[from + i] != word(mark + i))
                return false;
        return true;
    };
    while (at < words.size() && !marked(at))
        at += 2;
    ASSERT_LT(at, words.size()) << "the file's frames are not in the recording (" << words.size() / 2
                                << " frames recorded)";
    const size_t from = at >= mark ? 0 : mark - at;
    const size_t compared = std::min(source.size(), words.size() + mark - at) - from;
    // The sink renders the first block of a stream with a long buffer at once, so parec,
    // which connects late, may miss up to 150 ms of the start.
    EXPECT_GE(compared, source.size() - 2 * 14400) << "at most 150 ms of the file may be missed by the recording";
    size_t differ = 0;
    for (size_t i = from; i < from + compared; ++i)
        differ += words[i + at - mark] != word(i);
    EXPECT_EQ(differ, 0u) << "of " << compared << " samples";

    play(lossy);
    EXPECT_EQ(streamFormat(), "float32le 2ch 44100Hz");
    const int joins = reports().joins;
    play(lossy, plain); // a join to another rate and width reopens the stream
    EXPECT_EQ(
        std::pair(reports().joins.load(), streamFormat()), std::pair(joins + 1, std::string("s16le 2ch 48000Hz")));

    ASSERT_EQ(vbmp3_setNativeOutputFormat(0), 1);
    const DecodeOption forced { { 0, 0, 48000 } };
    ASSERT_EQ(vbmp3_setDecodeOption(&forced), 1);
    play(lossy);
    EXPECT_EQ(streamFormat(), "s16le 2ch 48000Hz");
    EXPECT_EQ(vbmp3_setNativeOutputFormat(2), 0);
}

} // namespace
