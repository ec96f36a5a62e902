// The decoder library through its C interface (libvbmp3.so): opening, playing through the
// null and file outputs, position, pause, seek, end of track, equalizer, volume, spectrum,
// lyrics, and calls in the wrong order.
#include "enginetestsupport.h"
#include "output.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <iostream>
#include <numbers>
#include <thread>
#include <tuple>

#include <sys/mount.h>
#include <sys/resource.h>

using namespace enginetest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

std::atomic<int> g_endCount { 0 };
std::atomic<int> g_failedCount { 0 };
std::atomic<int> g_otherCount { 0 };
std::atomic<Clock::rep> g_endAt { 0 }; // steady clock ticks of the last end report

void onMessage(int32_t message, int32_t)
{
    if (message == VBMP3_MSG_END_OF_TRACK) {
        g_endAt = Clock::now().time_since_epoch().count();
        ++g_endCount;
    } else if (message == VBMP3_MSG_OUTPUT_FAILED) {
        ++g_failedCount;
    } else {
        ++g_otherCount;
    }
}

// Seconds from `start` to the last end report.
double endAfter(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::time_point(Clock::duration(g_endAt.load())) - start).count();
}

// An MP3 made by lame from what sox makes with `format` and `effects`.
std::string mp3(
    const std::string &name, const std::string &format, const std::string &effects, const std::string &lame = "-b 128")
{
    return fixture(name, "sox -n " + format + " -b 16 -t wav - " + effects + " | lame --quiet " + lame + " - %o");
}
const auto cbrMp3 = [] { return mp3("cbr.mp3", "-r 44100 -c 2", "synth 3 sine 440 gain -6"); };
const auto longMp3 = [] { return mp3("long.mp3", "-r 44100 -c 2", "synth 20 pinknoise gain -6"); };
const auto quietTone
    = [] { return fixture("tone-20.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 2 sine 1000 gain -20"); };
const auto shortWav = [] { return fixture("short.wav", "sox -n -r 44100 -c 1 -b 16 %o synth 0.3 sine 440"); };
// Two seconds: 1 kHz for 0.7 s, 5 kHz for 0.7 s, then silence.
const auto twoSeconds = [] {
    return fixture("steps.wav",
        "sox -n -r 44100 -c 2 -b 16 a.wav synth 0.7 sine 1000 gain -0.5 && "
        "sox -n -r 44100 -c 2 -b 16 b.wav synth 0.7 sine 5000 gain -0.5 && "
        "sox -n -r 44100 -c 2 -b 16 c.wav trim 0 0.6 && sox a.wav b.wav c.wav %o");
};

// The three-second MP3 in an RMP, and followed by Lyrics3 and ID3v1: only the audio plays.
std::string rmpFile()
{
    const std::string rmp = riff("RMP3", chunk("data", readFile(cbrMp3())) + infoList({ { "INAM", "Title" } }));
    return writeFile(workDir() / "song.rmp", rmp);
}
std::string taggedFile()
{
    return writeFile(workDir() / "tagged.mp3",
        readFile(cbrMp3()) + lyrics3v2({ { "LYR", "[00:01]first line\r\n[00:02]second line" } })
            + id3v1("Tagged title", ""));
}

// Ten seconds of stereo 16-bit WAV whose left channel counts frames (so every sample tells
// where it came from) and whose right channel is noise.
std::string counterWav()
{
    const std::filesystem::path path = workDir() / "counter.wav";
    if (std::filesystem::exists(path))
        return path.string();
    std::string data;
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < 10 * 44100; ++i) {
        noise = noise * 1664525u + 1013904223u;
        data += le32(((i % 65536) ^ 0x8000) | (noise >> 16) << 16); // left: i - 32768, right: noise
    }
    const std::string format = std::string("\1\0\2\0", 4) + le32(44100) + le32(4 * 44100) + std::string("\4\0\20\0", 4);
    return writeFile(path, riff("WAVE", chunk("fmt ", format) + chunk("data", data)));
}

// RMS level of one channel from frame `from` on, in dB of full scale.
double rmsDb(const Pcm &pcm, size_t channel, size_t from)
{
    double sum = 0;
    for (size_t i = from; i < pcm.frames(); ++i)
        sum += std::pow(pcm.samples[i * size_t(pcm.channels) + channel] / 32768.0, 2);
    return 10.0 * std::log10(sum / double(pcm.frames() - from));
}

using State = std::pair<int, int>; // state, elapsed seconds
State state()
{
    int32_t elapsed = -1;
    return { vbmp3_getState(&elapsed), elapsed };
}

class Vbmp3Api : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTools())
            GTEST_SKIP() << "sox and lame are needed to make the fixtures";
        g_endCount = 0;
        g_failedCount = 0;
        g_otherCount = 0;
        ASSERT_EQ(vbmp3_init(), 1);
        ASSERT_EQ(vbmp3_callback(onMessage), 1);
    }
    void TearDown() override
    {
        vbmp3_stopCallback();
        vbmp3_free();
    }

    // Waits until `count` end reports have come; false after the timeout.
    static bool waitForEnd(std::chrono::milliseconds timeout = 10s, int count = 1)
    {
        const auto until = Clock::now() + timeout;
        while (g_endCount < count && Clock::now() < until)
            std::this_thread::sleep_for(2ms);
        return g_endCount >= count;
    }

    // Opens and plays path through the file output; `whilePlaying` runs right after play().
    // Returns what was written once the end is reported.
    template <typename F = void (*)()>
    static Pcm playToFile(
        const std::string &path, F whilePlaying = [] {})
    {
        const std::string out = (workDir() / "out.wav").string();
        EXPECT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
        OpenInfo info;
        EXPECT_EQ(vbmp3_open(path.c_str(), &info), 1) << path;
        const int before = g_endCount;
        EXPECT_EQ(vbmp3_play(), 1);
        whilePlaying();
        EXPECT_TRUE(waitForEnd(10s, before + 1));
        return readWav(out);
    }
};

// No Layer I encoder is at hand: 200 silent MPEG-1 Layer I frames made by hand (32 kb/s,
// 48 kHz, mono, no CRC; every allocation zero), 200 x 384 samples = 1.6 s.
std::string layer1Silence()
{
    std::string bytes;
    for (int i = 0; i < 200; ++i) // 12 x 32000 / 48000 = 8 slots of 4 bytes
        bytes += std::string("\xFF\xFF\x14\xC0", 4) + std::string(28, '\0');
    return writeFile(workDir() / "layer1.mp1", bytes);
}

TEST_F(Vbmp3Api, OpenDescribesWhatItPlaysAndRefusesTheRest)
{
    const std::string mpg = "vbmp3/libmpg123", snd = "vbmp3/libsndfile";
    std::string random(20000, '\0');
    uint32_t x = 99;
    for (char &c : random) // no 0xFF: no frame sync anywhere
        c = static_cast<char>(((x = x * 1103515245u + 12345u) >> 16) & 0x7F);
    const auto silence = [](char rateBits, size_t bytes, int count) { // MPEG-1 Layer III frames
        std::string frame(bytes, '\0');
        frame.replace(0, 3, { char(0xFF), char(0xFB), rateBits });
        std::string out;
        for (int i = 0; i < count; ++i)
            out += frame;
        return out;
    };
    const struct {
        std::string path;
        int bitrate, frequency, seconds;
        std::string text1, text2;
    } rows[] = {
        { cbrMp3(), 128, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg },
        { mp3("vbr.mp3", "-r 44100 -c 2", "synth 4 pinknoise gain -6", "-V 2"), 0, 44100, 4,
            "MPEG-1 Layer III, 44100 Hz, ", mpg },
        { mp3("mpeg2.mp3", "-r 22050 -c 1", "synth 3 sine 440", "-b 64"), 64, 22050, 3,
            "MPEG-2 Layer III, 22050 Hz, Mono", mpg },
        { fixture(
              "layer2.mp2", "ffmpeg -v quiet -f lavfi -i sine=frequency=440:duration=2 -ac 2 -c:a mp2 -b:a 192k %o"),
            192, 44100, 2, "MPEG-1 Layer II, 44100 Hz, ", mpg },
        { layer1Silence(), 32, 48000, 1, "MPEG-1 Layer I, 48000 Hz, Mono", mpg },
        { rmpFile(), 128, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg },
        { taggedFile(), 128, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg },
        { quietTone(), 1411, 44100, 2, "WAV PCM 16-bit, 44100 Hz, Stereo", snd },
        { fixture("u8.wav", "sox -n -r 8000 -c 1 -b 8 %o synth 1.5 sine 440"), 64, 8000, 1,
            "WAV PCM 8-bit, 8000 Hz, Mono", snd },
        { fixture("f32.wav", "sox -n -r 44100 -c 2 -b 32 -e floating-point %o synth 1 sine 440"), 2822, 44100, 1,
            "WAV float 32-bit, 44100 Hz, Stereo", snd },
        // Long enough that the length is counted after the open; its size suggests 1174 s.
        { writeFile(workDir() / "headerless.mp3", silence(char(0x90), 417, 30000) + silence(char(0x50), 208, 30000)), 0,
            44100, 1567, "MPEG-1 Layer III, 44100 Hz, Stereo", mpg },
        // Refused: missing, empty, random bytes without a frame sync, three channels.
        { (workDir() / "missing.mp3").string(), 0, 0, 0, "", "" },
        { writeFile(workDir() / "empty.mp3", ""), 0, 0, 0, "", "" },
        { writeFile(workDir() / "random.mp3", random), 0, 0, 0, "", "" },
        { fixture("ch3.wav", "sox -n -r 44100 -c 3 -b 16 %o synth 1 sine 440"), 0, 0, 0, "", "" },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        OpenInfo info;
        std::memset(&info, 0x55, sizeof info);
        const bool opens = !row.text2.empty();
        ASSERT_EQ(vbmp3_open(row.path.c_str(), &info), opens);
        for (int i = 0; i < 500 && vbmp3_getOpenInfo(&info) == 1; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(std::tuple(info.bitrate, info.frequency, info.totalSeconds),
            std::tuple(row.bitrate, row.frequency, row.seconds));
        if (!opens) {
            EXPECT_EQ(vbmp3_play(), 0);
            continue;
        }
        EXPECT_EQ(info.reserved, 0);
        EXPECT_TRUE(std::string(info.text1).starts_with(row.text1)) << info.text1;
        EXPECT_EQ(info.text2, row.text2);
        MpegInfo mpeg;
        EXPECT_EQ(vbmp3_getMpegInfo(&mpeg), 1);
        EXPECT_EQ(mpeg.value[3], row.text2 == mpg ? row.frequency : 0);
    }
    EXPECT_EQ(vbmp3_open(nullptr, nullptr), 0);
    EXPECT_EQ(vbmp3_open("", nullptr), 0);
}

// One play of a two-second file through the null output: it takes its length, reports the
// end once, and the position, the lyrics and the spectrum follow what is heard.
TEST_F(Vbmp3Api, NullOutputPlaysInRealTimeWithLyricsAndSpectrumInStep)
{
    const std::string lrc = writeFile(
        workDir() / "song.txt", "[ti:Song]\n[00:00.40]one\n[00:00.80]two\n[00:01.20]three\n[00:01.60]four\n");
    // Lyrics3 text becomes the lyrics on request, or at open with Lyrics3 use on; a file
    // without any drops them.
    OpenInfo info;
    LyricsLines lines;
    ASSERT_EQ(vbmp3_open(taggedFile().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);
    EXPECT_EQ(vbmp3_readLyrics3Data(), -1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_STREQ(lines.line3, "first line");
    ASSERT_EQ(vbmp3_setLyrics3Use(1), 1);
    ASSERT_EQ(vbmp3_open(taggedFile().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_STREQ(lines.line4, "second line");
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);

    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    ASSERT_EQ(vbmp3_setLyricsFile(lrc.c_str()), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_EQ(lines.current, -1);
    EXPECT_STREQ(lines.line3, "one");

    int32_t left[256];
    int32_t right[256];
    const std::pair<double, double> probes[] = { { 0.4, 1000 }, { 1.1, 5000 }, { 1.8, 0 } }; // when, tone heard
    size_t probe = 0;
    double changedAt[4] = { -1, -1, -1, -1 };
    const auto start = Clock::now();
    ASSERT_EQ(vbmp3_play(), 1);
    while (g_endCount == 0 && Clock::now() - start < 3s) {
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        vbmp3_getLyrics(&lines);
        if (lines.current >= 0 && lines.current < 4 && changedAt[lines.current] < 0) {
            changedAt[lines.current] = now;
            if (lines.current == 1) {
                EXPECT_EQ(std::vector<std::string>({ lines.line0, lines.line1, lines.line2, lines.line3, lines.line4 }),
                    std::vector<std::string>({ "", "one", "two", "three", "four" }));
            }
            if (lines.current == 2) { // 1.2 s heard
                EXPECT_EQ(state(), State(VBMP3_PLAYING, 1));
            }
        }
        if (probe < std::size(probes) && now >= probes[probe].first) {
            const double tone = probes[probe++].second;
            SCOPED_TRACE(tone);
            ASSERT_EQ(vbmp3_getSpectrum(left, right), 1);
            const int peak = static_cast<int>(std::max_element(left, left + 256) - left);
            EXPECT_EQ(right[peak], left[peak]);
            EXPECT_EQ(left[peak] == 0, tone == 0);
            if (tone > 0) {
                EXPECT_NEAR(40.0 * std::pow(16000.0 / 40.0, peak / 255.0) / tone, 1.0, 0.03) << "band " << peak;
                EXPECT_GE(left[peak], 110);
                EXPECT_LE(left[peak], 120);
                EXPECT_LT(left[0], 40) << "40 Hz is far from the tone";
            }
        }
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(waitForEnd(1s));
    EXPECT_NEAR(endAfter(start), 2.0, 0.2);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 2));
    // The device starts a little after play(); from then on the lines keep in step.
    const double offset = changedAt[0] - 0.4;
    EXPECT_GE(offset, -0.02);
    EXPECT_LT(offset, 0.15);
    for (int i = 1; i < 4; ++i)
        EXPECT_NEAR(changedAt[i] - 0.4 * (i + 1), offset, 0.05) << "line " << i;

    EXPECT_EQ(vbmp3_setLyricsFile(""), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);
    ASSERT_EQ(vbmp3_getSpectrum(left, right), 1);
    EXPECT_EQ(*std::max_element(left, left + 256), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_endCount, 1);
    EXPECT_EQ(g_otherCount, 0);
}

TEST_F(Vbmp3Api, PauseSeekAndRestartKeepThePosition)
{
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_restart(), 0); // not paused
    const auto start = Clock::now();
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(1100ms);
    ASSERT_EQ(vbmp3_pause(), 1);
    EXPECT_EQ(vbmp3_pause(), 0);
    EXPECT_EQ(state(), State(VBMP3_PAUSED, 1));
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(state(), State(VBMP3_PAUSED, 1));
    EXPECT_EQ(g_endCount, 0);
    ASSERT_EQ(vbmp3_restart(), 1);
    ASSERT_TRUE(waitForEnd(3s));
    EXPECT_NEAR(endAfter(start), 2.7, 0.2) << "nothing lost or repeated: the length plus the pause";

    // Play after the end starts from the beginning; a seek while paused stays paused; a seek
    // past the end ends the track; stop goes back to the beginning.
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(state(), State(VBMP3_PLAYING, 0));
    ASSERT_EQ(vbmp3_pause(), 1);
    ASSERT_EQ(vbmp3_seek(1), 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(state(), State(VBMP3_PAUSED, 1));
    ASSERT_EQ(vbmp3_seek(3600), 1);
    EXPECT_EQ(vbmp3_restart(), 1);
    ASSERT_TRUE(waitForEnd(2s, 2));
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 2));
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_stop(), 1);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 0));
}

// A disk that fills up mid-track (a small tmpfs, or the process's file size limit): the
// play ends with VBMP3_MSG_OUTPUT_FAILED and no end of track, and the WAV holds whole
// frames of the start of the track with a header that says how many.
TEST_F(Vbmp3Api, FileOutputOnAFullDiskFailsAndTheHeaderTellsTheTruth)
{
    const std::string input = counterWav(); // 1.7 MB of sound
    for (const bool tmpfs : { true, false }) {
        SCOPED_TRACE(tmpfs ? "tmpfs of 256 KiB" : "RLIMIT_FSIZE of 200,003 bytes");
        const std::filesystem::path dir = workDir() / (tmpfs ? "full" : "limited");
        std::filesystem::create_directories(dir);
        if (tmpfs && mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") != 0) {
            std::cout << "no tmpfs here (" << std::strerror(errno) << "): only the file size limit is tried\n";
            continue;
        }
        const std::string out = (dir / "out.wav").string();
        ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
        OpenInfo info;
        ASSERT_EQ(vbmp3_open(input.c_str(), &info), 1);
        rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
        if (!tmpfs) {
            rlimit limit = saved;
            limit.rlim_cur = 200003;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        g_failedCount = 0;
        EXPECT_EQ(vbmp3_play(), 1);
        for (int i = 0; i < 5000 && g_failedCount == 0 && g_endCount == 0; ++i)
            std::this_thread::sleep_for(2ms);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedSignal);
        EXPECT_EQ(g_failedCount, 1);
        EXPECT_EQ(g_endCount, 0);
        EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);

        const std::string bytes = readFile(out);
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(bytes.substr(40, 4), le32(bytes.size() - 44));
        EXPECT_EQ(bytes.substr(4, 4), le32(bytes.size() - 8));
        EXPECT_EQ((bytes.size() - 44) % 4, 0u);
        const Pcm pcm = readWav(out);
        EXPECT_GT(pcm.frames(), 40000u);
        EXPECT_TRUE(std::equal(pcm.samples.begin(), pcm.samples.end(), readWav(input).samples.begin()));
        vbmp3_close();
        if (tmpfs)
            umount2(dir.c_str(), MNT_DETACH);
    }
}

// The automatic output without a sound server falls back to the null output (tried on the
// library's thread, so play() returns at once); when the server dies mid-track, playback goes
// on in real time through the null output and the end of the track is reported on time.
TEST_F(Vbmp3Api, AutoOutputPlaysOnWithoutASoundServer)
{
    ASSERT_EQ(vbmp3_setOutput("auto"), 1);
    OpenInfo info;
    {
        const char *saved = std::getenv("PULSE_SERVER");
        const std::string savedServer = saved ? saved : "";
        setenv("PULSE_SERVER", "unix:/nonexistent/pulse.sock", 1);
        ASSERT_EQ(vbmp3_open(shortWav().c_str(), &info), 1);
        const auto start = Clock::now();
        ASSERT_EQ(vbmp3_play(), 1);
        EXPECT_LT(Clock::now() - start, 50ms);
        EXPECT_TRUE(waitForEnd(3s));
        EXPECT_GT(endAfter(start), 0.28); // real time, not as fast as possible
        EXPECT_LT(endAfter(start), 1.5);
        saved ? setenv("PULSE_SERVER", savedServer.c_str(), 1) : unsetenv("PULSE_SERVER");
    }
    PulseServer server;
    if (!server.ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    ASSERT_EQ(vbmp3_open(cbrMp3().c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    // The private null sink may take up to two seconds before it starts taking sound.
    const auto until = Clock::now() + 5s;
    while (state().second < 1 && Clock::now() < until)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(state(), State(VBMP3_PLAYING, 1));
    server.stop();
    const auto killed = Clock::now();
    EXPECT_TRUE(waitForEnd(5s, 2));
    EXPECT_GT(endAfter(killed), 0.7); // between one and two seconds were left
    EXPECT_LT(endAfter(killed), 2.5);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 3));
    EXPECT_EQ(g_endCount, 2);
}

// The file output holds exactly the decoded samples (a 16-bit WAV bit for bit, an MP3 as a
// straight decode makes it, an RMP or tagged file its audio only), also when paused on the
// way; a seek joins exactly at the asked second.  Each play writes the file afresh.
TEST_F(Vbmp3Api, FileOutputIsTheDecodedSamplesAcrossPauseAndSeek)
{
    const auto pauseAFewTimes = [] {
        for (int i = 0; i < 5 && g_endCount == 0; ++i) {
            if (vbmp3_pause() == 1) {
                std::this_thread::sleep_for(10ms);
                EXPECT_EQ(vbmp3_restart(), 1);
            }
            std::this_thread::sleep_for(2ms);
        }
    };
    const Pcm wav = readWav(counterWav());
    const Pcm mp3 = decodeDirect(longMp3());
    const Pcm cbr = decodeDirect(cbrMp3());
    EXPECT_EQ(cbr.frames(), 3u * 44100u); // encoder delay and padding trimmed
    const struct {
        std::string path;
        const Pcm &expected;
        int seekTo; // -1: pause instead
    } rows[] = { { counterWav(), wav, -1 }, { longMp3(), mp3, -1 }, { rmpFile(), cbr, -1 }, { taggedFile(), cbr, -1 },
        { counterWav(), wav, 5 }, { longMp3(), mp3, 7 } };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path + " " + std::to_string(row.seekTo));
        const Pcm out = row.seekTo < 0 ? playToFile(row.path, pauseAFewTimes)
                                       : playToFile(row.path, [&] { ASSERT_EQ(vbmp3_seek(row.seekTo), 1); });
        EXPECT_EQ(std::pair(out.rate, out.channels), std::pair(44100, 2));
        if (row.seekTo < 0) {
            EXPECT_TRUE(out.samples == row.expected.samples);
            continue;
        }
        const auto join = std::mismatch(out.samples.begin(), out.samples.end(), row.expected.samples.begin());
        const size_t k = size_t(join.first - out.samples.begin()) / 2 * 2; // whole frames before the join
        const size_t skipped = size_t(row.seekTo) * 44100 * 2;
        ASSERT_EQ(out.samples.size() - k, row.expected.samples.size() - skipped);
        EXPECT_TRUE(std::equal(
            out.samples.begin() + ptrdiff_t(k), out.samples.end(), row.expected.samples.begin() + ptrdiff_t(skipped)));
    }
}

// +12 dB at 1 kHz; a flat equalizer (zeros or none) passes the sound bit for bit; the volume
// word scales each channel on its own (past the first block's glide).
TEST_F(Vbmp3Api, EqualizerGainExactBypassAndVolume)
{
    const Pcm in = readWav(quietTone());
    const int32_t boost[10] = { 0, 0, 0, 0, 60, 0, 0, 0, 0, 0 };
    ASSERT_EQ(vbmp3_setEqualizer(boost), 1);
    const Pcm out = playToFile(quietTone());
    for (size_t channel : { 0, 1 })
        EXPECT_NEAR(rmsDb(out, channel, 4410) - rmsDb(in, channel, 4410), 12.0, 0.5);
    const int32_t zero[10] = {};
    for (const int32_t *flat : { zero, static_cast<const int32_t *>(nullptr) }) {
        ASSERT_EQ(vbmp3_setEqualizer(boost), 1);
        ASSERT_EQ(vbmp3_setEqualizer(flat), 1);
        EXPECT_TRUE(playToFile(quietTone()).samples == in.samples);
    }

    EXPECT_EQ(vbmp3_getOutputVolume(), 0xFFFFFFFFu);
    ASSERT_EQ(vbmp3_setOutputVolume(0x8000FFFFu), 1); // right at half, left full
    EXPECT_EQ(vbmp3_getOutputVolume(), 0x8000FFFFu);
    const Pcm scaled = playToFile(quietTone());
    ASSERT_EQ(scaled.frames(), in.frames());
    for (size_t i = 4410; i < scaled.frames(); ++i) {
        ASSERT_EQ(scaled.samples[2 * i], in.samples[2 * i]);
        ASSERT_NEAR(scaled.samples[2 * i + 1], in.samples[2 * i + 1] * (32768.0 / 65535.0), 1.0);
    }
}

// The equalizer's sound as it was before it was vectorised: the RBJ peaking filters of the
// bands below 0.45 x rate that are not at 0 dB, in band order, each in transposed direct
// form II in float with coefficients designed in double.
std::vector<int16_t> referenceEqualizer(const Pcm &in, const std::array<int32_t, 10> &units)
{
    static constexpr double kHz[10] = { 60, 170, 310, 600, 1000, 3000, 6000, 12000, 14000, 16000 };
    const auto channels = static_cast<size_t>(in.channels);
    std::vector<float> data(in.samples.size());
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<float>(in.samples[i]) / 32768.0f;
    for (size_t band = 0; band < 10; ++band) {
        if (units[band] == 0 || kHz[band] >= 0.45 * in.rate)
            continue;
        const double a = std::pow(10.0, units[band] * 0.2 / 40.0);
        const double w0 = 2.0 * std::numbers::pi * kHz[band] / in.rate;
        const double alpha = std::sin(w0) / (2.0 * 1.41);
        const double a0 = 1.0 + alpha / a;
        const auto b0 = static_cast<float>((1.0 + alpha * a) / a0);
        const auto b1 = static_cast<float>(-2.0 * std::cos(w0) / a0);
        const auto b2 = static_cast<float>((1.0 - alpha * a) / a0);
        const auto a2 = static_cast<float>((1.0 - alpha / a) / a0);
        for (size_t c = 0; c < channels; ++c) {
            float s1 = 0;
            float s2 = 0;
            for (size_t i = c; i < data.size(); i += channels) {
                const float x = data[i];
                const float y = b0 * x + s1;
                s1 = (b1 * x + s2) - b1 * y; // a1 == b1 for a peaking filter
                s2 = b2 * x - a2 * y;
                data[i] = y;
            }
        }
    }
    std::vector<int16_t> out(data.size());
    vbmp3::floatToS16(data.data(), out.data(), data.size());
    return out;
}

// Whatever preset, the file output of the equalizer is within one step of 16-bit sound of
// that reference: a faster equalizer may round differently but must not sound different.
TEST_F(Vbmp3Api, EqualizerMatchesTheReferenceWithinOneLsb)
{
    const std::array<std::string, 2> inputs = {
        fixture("eq-stereo.wav",
            "sox -n -r 44100 -c 2 -b 16 %o synth 2 pinknoise synth 2 sine mix 220 synth 2 sine mix 3000 gain -20"),
        fixture("eq-mono.wav", "sox -n -r 22050 -c 1 -b 16 %o synth 1 pinknoise gain -12"),
    };
    const struct {
        const char *name;
        std::array<int32_t, 10> units;
    } curves[] = {
        { "vocal", { -20, -20, -20, 10, 30, 40, 20, 30, 10, 10 } },
        { "powerful", { 40, 40, 40, 20, -20, -20, -20, 0, 20, 40 } },
        { "powerful at load", { 50, 60, 40, 20, 0, 0, 0, 0, 0, 0 } },
        { "bass", { -30, -30, -30, -30, -30, -30, -30, -30, -30, -30 } },
        { "all up", { 60, 60, 60, 60, 60, 60, 60, 60, 60, 60 } },
        { "one band", { 0, 0, 0, 0, 0, 0, 0, 0, 0, -60 } },
    };
    for (const std::string &input : inputs) {
        const Pcm in = readWav(input);
        for (const auto &curve : curves) {
            SCOPED_TRACE(input + ", " + curve.name);
            ASSERT_EQ(vbmp3_setEqualizer(curve.units.data()), 1);
            const Pcm out = playToFile(input);
            const std::vector<int16_t> expected = referenceEqualizer(in, curve.units);
            ASSERT_EQ(out.samples.size(), expected.size());
            int worst = 0;
            for (size_t i = 0; i < expected.size(); ++i)
                worst = std::max(worst, std::abs(out.samples[i] - expected[i]));
            EXPECT_LE(worst, 1);
        }
    }
}

// Takes its time over the report, as a callback preempted on a loaded machine would.
std::atomic<bool> g_slowEntered { false };
void slowOnMessage(int32_t message, int32_t)
{
    if (message != VBMP3_MSG_END_OF_TRACK)
        return;
    g_slowEntered = true;
    std::this_thread::sleep_for(300ms);
    ++g_endCount;
}

TEST_F(Vbmp3Api, NoReportOfAnEarlierTrackArrivesAfterPlayReturns)
{
    g_slowEntered = false;
    ASSERT_EQ(vbmp3_callback(slowOnMessage), 1);
    ASSERT_EQ(vbmp3_setOutput(("file:" + (workDir() / "slow.wav").string()).c_str()), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(shortWav().c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    const auto until = Clock::now() + 10s;
    while (!g_slowEntered && Clock::now() < until)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(g_slowEntered);
    // The report is under way: the next play must not return before it is through.
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(g_endCount, 1);
    ASSERT_TRUE(waitForEnd(10s, 2)); // the new track reports its own end

    // After stopCallback no report comes at all.
    ASSERT_EQ(vbmp3_play(), 1);
    ASSERT_EQ(vbmp3_stopCallback(), 1);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(g_endCount, 2);
}

TEST_F(Vbmp3Api, WrongOrderCallsFailCleanly)
{
    // Nothing open.
    for (auto call : { vbmp3_play, vbmp3_pause, vbmp3_restart, vbmp3_stop, vbmp3_close, vbmp3_readLyrics3Data })
        EXPECT_EQ(call(), 0);
    EXPECT_EQ(vbmp3_seek(3), 0);
    EXPECT_EQ(vbmp3_setLyricsFile("/nonexistent/lyrics.txt"), 0);
    MpegInfo mpeg;
    std::memset(&mpeg, 0x55, sizeof mpeg);
    EXPECT_EQ(vbmp3_getMpegInfo(&mpeg), 0);
    EXPECT_EQ(mpeg.value[0], 0);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(vbmp3_getSpectrum(nullptr, nullptr), 0);
    EXPECT_EQ(vbmp3_getLyrics(nullptr), 0);

    // Options out of range are refused; the player's own are taken.
    for (const Vbmp3Option &o : std::initializer_list<Vbmp3Option> { { { 8, 10, 10, 0 } }, { { 128, 10, 101, 0 } } })
        EXPECT_EQ(vbmp3_setVbmp3Option(&o), 0);
    for (const DecodeOption &o : std::initializer_list<DecodeOption> { { { 3, 0, 48000 } }, { { 0, 0, 192001 } } })
        EXPECT_EQ(vbmp3_setDecodeOption(&o), 0);
    const Vbmp3Option option { { 128, 10, 10, 0 } };
    const DecodeOption decode { { 0, 0, 48000 } };
    EXPECT_EQ(vbmp3_setVbmp3Option(&option) + vbmp3_setDecodeOption(&decode), 2);
    for (const char *target : { "speaker", "file:", static_cast<const char *>(nullptr) })
        EXPECT_EQ(vbmp3_setOutput(target), 0);
    EXPECT_EQ(vbmp3_setOutput("null"), 1);

    // Seek when stopped; play twice; open and close while playing.
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_seek(1), 0);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_play(), 1); // again from the top
    ASSERT_EQ(vbmp3_open(cbrMp3().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_close(), 1);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 0));
    EXPECT_EQ(vbmp3_play(), 0);

    // A second init stops playback and keeps the open file; free twice; calls after free.
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_init(), 1);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_free(), 1);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 0));
    for (auto call : { vbmp3_free, vbmp3_play, vbmp3_pause })
        EXPECT_EQ(call(), 0);
    EXPECT_EQ(vbmp3_seek(1), 0);
    EXPECT_EQ(vbmp3_callback(onMessage), 0);
    EXPECT_EQ(vbmp3_open(twoSeconds().c_str(), &info), 0);
    int32_t bands[256];
    EXPECT_EQ(vbmp3_getSpectrum(bands, bands), 0);
    EXPECT_EQ(g_endCount, 0);
    ASSERT_EQ(vbmp3_init(), 1); // for TearDown
}

} // namespace
