// The decoder library through its C interface, its parts on their own, and the MPEG compliance vectors.
#include "dsp/bandanalyzer.h"
#include "dsp/equalizer.h"
#include "engine/engine.h"
#include "enginetestsupport.h"
#include "outputs/output.h"
#include "sources/source.h"
#include "tags/fileinfo.h"
#include "tags/lyrics.h"
#include "tags/mpegheader.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <iostream>
#include <mutex>
#include <numbers>
#include <sstream>
#include <thread>
#include <tuple>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

Reports &g_reports = reports();
std::atomic<int> &g_endCount = g_reports.ends, &g_failedCount = g_reports.failed, &g_joinCount = g_reports.joins,
                 &g_otherCount = g_reports.other;

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
// Frames that switch between mono and stereo every second, four seconds in all.
const auto modesMp3 = [] {
    return fixture("modes.mp3",
        "sox -n -r 44100 -c 1 -b 16 m.wav synth 1 sine 440 && sox -n -r 44100 -c 2 -b 16 s.wav synth 1 sine 660 && "
        "lame --quiet -t -b 128 -m m m.wav m.mp3 && lame --quiet -t -b 128 -m s s.wav s.mp3 && "
        "cat m.mp3 s.mp3 m.mp3 s.mp3 > %o");
};
// The three-second MP3 followed by Lyrics3 and ID3v1: only the audio plays.
const auto taggedFile = [] {
    return writeFile(workDir() / "tagged.mp3",
        readFile(cbrMp3()) + lyrics3v2({ { "LYR", "[00:01]first line\r\n[00:02]second line" } })
            + id3v1("Tagged title", ""));
};

// Ten seconds of 16-bit stereo: the left channel counts frames, the right one is noise.
std::string counterWav()
{
    std::string data;
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < 10 * 44100; ++i) {
        noise = noise * 1664525u + 1013904223u;
        data += le32(((i % 65536) ^ 0x8000) | (noise >> 16) << 16); // left: i - 32768, right: noise
    }
    return writeFile(workDir() / "counter.wav", pcmWav(44100, 2, data));
}

// Level in dB of one channel of interleaved samples over frames [from, to), up to a constant.
template <typename T>
double levelDb(const std::vector<T> &data, size_t channels, size_t channel, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += std::pow(double(data[i * channels + channel]), 2);
    return 10.0 * std::log10(sum / double(to - from));
}

using State = std::pair<int, int>; // state, elapsed seconds
// What the last open and tag reads said (one thread at a time).
OpenInfo g_info;
TagInfo g_tag;
MpegInfo g_mpeg;
ListInfo g_list;

State state()
{
    int32_t elapsed = -1;
    return { vbmp3_getState(&elapsed), elapsed };
}

class Vbmp3Api : public LibrarySession
{
protected:
    void SetUp() override
    {
        if (!haveTools())
            GTEST_SKIP() << "sox and lame are needed to make the fixtures";
        LibrarySession::SetUp();
    }
};

// Each file opens with its facts and plays, pauses included, as a straight decode gives it; the rest is refused.
TEST_F(Vbmp3Api, OpenDescribesWhatItPlaysAndRefusesTheRest)
{
    const std::string mpg = "vbmp3/libmpg123", snd = "vbmp3/libsndfile";
    // 200 silent Layer I frames by hand (32 kb/s, 48 kHz, mono, no CRC; 8 slots of 4 bytes): 1.6 s.
    const std::string layer1 = repeat(std::string("\xFF\xFF\x14\xC0", 4) + std::string(28, '\0'), 200);
    const auto rateWav = [](uint32_t rate) { // a second of silence at 44.1 kHz behind the header
        return writeFile(
            workDir() / ("rate" + std::to_string(rate) + ".wav"), pcmWav(rate, 2, std::string(44100 * 4, 0)));
    };
    const auto silence = [](char rateBits, size_t bytes, size_t count) { // MPEG-1 Layer III frames
        std::string frame(bytes, '\0');
        frame.replace(0, 3, { char(0xFF), char(0xFB), rateBits });
        return repeat(frame, count);
    };
    const auto pauseAFewTimes = [] {
        for (int i = 0; i < 5; ++i, std::this_thread::sleep_for(2ms))
            if (vbmp3_pause() == 1) {
                std::this_thread::sleep_for(10ms);
                EXPECT_EQ(vbmp3_restart(), 1);
            }
    };
    EXPECT_TRUE(decodeDirect(counterWav()).samples == readWav(counterWav()).samples);
    EXPECT_EQ(decodeDirect(cbrMp3()).frames(), 3u * 44100u); // encoder delay and padding trimmed
    const struct {
        std::string path;
        int bitrate, frequency, seconds;
        std::string text1, text2, decodedAs; // decodedAs empty: path
    } rows[] = {
        { cbrMp3(), 128, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg },
        { mp3("vbr.mp3", "-r 44100 -c 2", "synth 4 pinknoise gain -6", "-V 2"), 0, 44100, 4,
            "MPEG-1 Layer III, 44100 Hz, ", mpg },
        // ffmpeg's LAME leaves the Info header's method unset; its VBR has a Xing header.
        { fixture("ffmpeg-cbr.mp3",
              "ffmpeg -v quiet -f lavfi -i anoisesrc=d=3:c=pink:r=44100:a=0.3 -ac 2 -c:a libmp3lame -b:a 192k %o"),
            192, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg },
        { fixture("ffmpeg-vbr.mp3",
              "ffmpeg -v quiet -f lavfi -i anoisesrc=d=3:c=pink:r=44100:a=0.3 -ac 2 -c:a libmp3lame -q:a 2 %o"),
            0, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg },
        { mp3("mpeg2.mp3", "-r 22050 -c 1", "synth 3 sine 440", "-b 64"), 64, 22050, 3,
            "MPEG-2 Layer III, 22050 Hz, Mono", mpg },
        { fixture(
              "layer2.mp2", "ffmpeg -v quiet -f lavfi -i sine=frequency=440:duration=2 -ac 2 -c:a mp2 -b:a 192k %o"),
            192, 44100, 2, "MPEG-1 Layer II, 44100 Hz, ", mpg },
        { writeFile(workDir() / "layer1.mp1", layer1), 32, 48000, 1, "MPEG-1 Layer I, 48000 Hz, Mono", mpg },
        { writeFile(workDir() / "song.rmp",
              riff("RMP3", chunk("data", readFile(cbrMp3())) + infoList({ { "INAM", "Title" } }))),
            128, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg, cbrMp3() },
        { taggedFile(), 128, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", mpg, cbrMp3() },
        { modesMp3(), 128, 44100, 4, "MPEG-1 Layer III, 44100 Hz, Mono", mpg },
        { counterWav(), 1411, 44100, 10, "WAV PCM 16-bit, 44100 Hz, Stereo", snd },
        { fixture("u8.wav", "sox -n -r 8000 -c 1 -b 8 %o synth 1.5 sine 440"), 64, 8000, 1,
            "WAV PCM 8-bit, 8000 Hz, Mono", snd },
        { fixture("f32.wav", "sox -n -r 44100 -c 2 -b 32 -e floating-point %o synth 1 sine 440"), 2822, 44100, 1,
            "WAV float 32-bit, 44100 Hz, Stereo", snd },
        { rateWav(8000), 256, 8000, 5, "WAV PCM 16-bit, 8000 Hz, Stereo", snd },
        { rateWav(384000), 12288, 384000, 0, "WAV PCM 16-bit, 384000 Hz, Stereo", snd },
        // Long enough that the length is counted after the open; its size suggests 1174 s.
        { writeFile(workDir() / "headerless.mp3", silence(char(0x90), 417, 30000) + silence(char(0x50), 208, 30000)), 0,
            44100, 1567, "MPEG-1 Layer III, 44100 Hz, Stereo", mpg },
        // Refused: missing, empty, text with a lone frame sync, three channels, absurd WAV rates.
        { (workDir() / "missing.mp3").string(), 0, 0, 0, "", "" },
        { writeFile(workDir() / "empty.mp3", ""), 0, 0, 0, "", "" },
        { writeFile(workDir() / "text.mp3", repeat("text ", 4000) + "\xFF\xFB then more text"), 0, 0, 0, "", "" },
        { fixture("ch3.wav", "sox -n -r 44100 -c 3 -b 16 %o synth 1 sine 440"), 0, 0, 0, "", "" },
        { rateWav(0x7FFFFFFF), 0, 0, 0, "", "" },
        { rateWav(400000), 0, 0, 0, "", "" },
        { rateWav(500), 0, 0, 0, "", "" },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        std::memset(&g_info, 0x55, sizeof g_info);
        const bool opens = !row.text2.empty();
        ASSERT_EQ(vbmp3_open(row.path.c_str(), &g_info), opens);
        for (int i = 0; i < 500 && vbmp3_getOpenInfo(&g_info) == 1; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(std::tuple(g_info.bitrate, g_info.frequency, g_info.totalSeconds),
            std::tuple(row.bitrate, row.frequency, row.seconds));
        if (!opens) {
            EXPECT_EQ(vbmp3_play() + vbmp3_stop(), 0);
            continue;
        }
        EXPECT_EQ(g_info.reserved, 0);
        EXPECT_TRUE(std::string(g_info.text1).starts_with(row.text1)) << g_info.text1;
        EXPECT_EQ(g_info.text2, row.text2);
        EXPECT_EQ(vbmp3_getMpegInfo(&g_mpeg), 1);
        EXPECT_EQ(g_mpeg.value[3], row.text2 == mpg ? row.frequency : 0);
        if (row.seconds > 60)
            continue; // the half-hour of silence is not written out
        const Pcm out = playToFile(row.path, pauseAFewTimes);
        const Pcm expected = decodeDirect(row.decodedAs.empty() ? row.path : row.decodedAs);
        EXPECT_EQ(std::tuple(out.rate, out.channels, out.samples.size()),
            std::tuple(expected.rate, expected.channels, expected.samples.size()));
        int worst = 0; // the engine decodes a few samples of MPEG-2 streams (only) one step apart
        for (size_t i = 0; i < std::min(out.samples.size(), expected.samples.size()); ++i)
            worst = std::max(worst, std::abs(out.samples[i] - expected.samples[i]));
        EXPECT_LE(worst, row.text1.starts_with("MPEG-2") ? 1 : 0);
        EXPECT_GE(out.frames(), size_t(row.seconds * row.frequency)) << "played to the end";
    }
    EXPECT_EQ(vbmp3_open(nullptr, nullptr) + vbmp3_open("", nullptr), 0);
}

// The null output stands in for a missing server; position, lyrics and spectrum keep in step across a pause.
TEST_F(Vbmp3Api, NullOutputKeepsPositionLyricsAndSpectrumInStepAcrossPauseAndSeek)
{
    const std::string lrc = writeFile(
        workDir() / "song.txt", "[ti:Song]\n[00:00.40]one\n[00:00.80]two\n[00:01.20]three\n[00:01.60]four\n");
    // Lyrics3 text is the lyrics on request or, with Lyrics3 use on, at open; a file without any drops them.
    LyricsLines lines;
    ASSERT_EQ(vbmp3_open(taggedFile().c_str(), &g_info), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);
    EXPECT_EQ(vbmp3_readLyrics3Data(), -1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_STREQ(lines.line3, "first line");
    ASSERT_EQ(vbmp3_setLyrics3Use(1), 1);
    ASSERT_EQ(vbmp3_open(taggedFile().c_str(), &g_info), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_STREQ(lines.line4, "second line");
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &g_info), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);

    ASSERT_EQ(vbmp3_setOutput("auto"), 1);
    const Vbmp3Option realtime { { 128, 10, 10, 1 } };
    ASSERT_EQ(vbmp3_setVbmp3Option(&realtime), 1);
    ASSERT_EQ(vbmp3_setLyricsFile(lrc.c_str()), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_EQ(lines.current, -1);
    EXPECT_STREQ(lines.line3, "one");

    // As a line comes, the tone heard then (1 kHz to 0.7 s, 5 kHz to 1.4 s) peaks in its band.
    // How far the lines lag their stamps is bench/lyricsstep_bench's figure.
    int32_t left[256], right[256];
    const auto heard = [&](double tone) {
        SCOPED_TRACE(tone);
        ASSERT_EQ(vbmp3_getSpectrum(left, right), 1);
        const int peak = static_cast<int>(std::max_element(left, left + 256) - left);
        EXPECT_EQ(right[peak], left[peak]);
        EXPECT_EQ(left[peak] == 0, tone == 0);
        if (tone > 0) {
            EXPECT_NEAR(40.0 * std::pow(16000.0 / 40.0, peak / 255.0) / tone, 1.0, 0.03) << "band " << peak;
            EXPECT_TRUE(left[peak] >= 110 && left[peak] <= 120 && left[0] < 40) << left[peak] << " " << left[0];
        }
    };
    EXPECT_EQ(vbmp3_restart(), 0); // not paused
    ASSERT_EQ(vbmp3_play(), 1);
    for (int seen = -1; g_endCount == 0 && state().first != VBMP3_STOPPED; std::this_thread::sleep_for(5ms)) {
        ASSERT_EQ(vbmp3_getLyrics(&lines), 1);
        if (lines.current == seen)
            continue;
        seen = lines.current;
        if (seen == 0) {
            heard(1000);
        } else if (seen == 1) {
            EXPECT_EQ(std::vector<std::string>({ lines.line0, lines.line1, lines.line2, lines.line3, lines.line4 }),
                std::vector<std::string>({ "", "one", "two", "three", "four" }));
        } else if (seen == 2) { // 1.2 s heard
            heard(5000);
            EXPECT_EQ(state(), State(VBMP3_PLAYING, 1));
            ASSERT_EQ(vbmp3_pause(), 1);
            EXPECT_EQ(vbmp3_pause(), 0);
            std::this_thread::sleep_for(700ms);
            EXPECT_EQ(std::tuple(state(), g_endCount.load()), std::tuple(State(VBMP3_PAUSED, 1), 0));
            // The same position in milliseconds: past the line's stamp, within a poll of it.
            const int32_t ms = vbmp3_getPositionMs();
            EXPECT_TRUE(ms >= 1200 && ms < 1300) << ms;
            ASSERT_EQ(vbmp3_restart(), 1);
        }
    }
    ASSERT_TRUE(waitForEnds(1, 1s));
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 2));
    EXPECT_EQ(vbmp3_getPositionMs(), 2000) << "nothing lost or repeated";

    EXPECT_EQ(vbmp3_setLyricsFile(""), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);
    ASSERT_EQ(vbmp3_getSpectrum(left, right), 1);
    EXPECT_EQ(*std::max_element(left, left + 256), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(std::pair(g_endCount.load(), g_otherCount.load()), std::pair(1, 0));

    // Play after the end starts over; a seek while paused stays paused, one past the end ends it; stop rewinds.
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(state(), State(VBMP3_PLAYING, 0));
    ASSERT_EQ(vbmp3_pause(), 1);
    ASSERT_EQ(vbmp3_seek(1), 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(state(), State(VBMP3_PAUSED, 1));
    ASSERT_EQ(vbmp3_seek(3600), 1);
    EXPECT_EQ(vbmp3_restart(), 1);
    ASSERT_TRUE(waitForEnds(2, 2s));
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 2));
    EXPECT_EQ(vbmp3_getPositionMs(), 2000);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_stop(), 1);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 0));
    EXPECT_EQ(vbmp3_getPositionMs(), 0);
}

// Embedded lyrics on request, timed by their LRC stamps; a file without any keeps the lyrics there were.
TEST_F(Vbmp3Api, EmbeddedLyricsOnRequest)
{
    const std::string flac = fixture("lyrics.flac",
        "sox -n -r 44100 -c 2 -b 16 lyrics.wav synth 2 sine 440 && flac -s -o %o -T "
        "'LYRICS=[00:01.00]one\n[00:01.50]two' "
        "lyrics.wav");
    LyricsLines lines;
    EXPECT_EQ(vbmp3_readEmbeddedLyrics(), 0) << "no file open";
    ASSERT_EQ(vbmp3_open(flac.c_str(), &g_info), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);
    ASSERT_EQ(vbmp3_readEmbeddedLyrics(), 1);
    ASSERT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_EQ(lines.current, -1);
    EXPECT_STREQ(lines.line3, "one");
    EXPECT_STREQ(lines.line4, "two");
    EXPECT_EQ(vbmp3_getLyricsWait(), 1000);
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_setLyricsFile(writeFile(workDir() / "kept.txt", "[00:00.50]kept\n").c_str()), 1);
    EXPECT_EQ(vbmp3_readEmbeddedLyrics(), 0);
    ASSERT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_STREQ(lines.line3, "kept");
}

// A full disk: output failed, no end of track, and the WAV header counts the whole frames written.
TEST_F(Vbmp3Api, FileOutputOnAFullDiskFailsAndTheHeaderTellsTheTruth)
{
    const std::string input = counterWav(), out = (workDir() / "limited.wav").string(); // 1.7 MB of sound
    ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
    ASSERT_EQ(vbmp3_open(input.c_str(), &g_info), 1);
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit { 200003, saved.rlim_max };
    setrlimit(RLIMIT_FSIZE, &limit);
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(vbmp3_play(), 1);
    for (int i = 0; i < 5000 && g_failedCount == 0 && g_endCount == 0; ++i)
        std::this_thread::sleep_for(2ms);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);
    EXPECT_EQ(
        std::tuple(g_failedCount.load(), g_endCount.load(), vbmp3_getState(nullptr)), std::tuple(1, 0, VBMP3_STOPPED));
    const std::string bytes = readFile(out);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(40, 4), le32(bytes.size() - 44));
    EXPECT_EQ(bytes.substr(4, 4), le32(bytes.size() - 8));
    EXPECT_EQ((bytes.size() - 44) % 4, 0u);
    const Pcm pcm = readWav(out);
    EXPECT_GT(pcm.frames(), 40000u);
    EXPECT_TRUE(std::equal(pcm.samples.begin(), pcm.samples.end(), readWav(input).samples.begin()));
}

// A sound server dying mid-track: playback goes on through the null output to one end on time.
TEST_F(Vbmp3Api, AutoOutputPlaysOnWhenTheSoundServerDies)
{
    PulseServer server;
    if (!server.ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    ASSERT_EQ(vbmp3_setOutput("auto"), 1);
    ASSERT_EQ(vbmp3_open(cbrMp3().c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    // The private null sink may take up to two seconds before it starts taking sound.
    for (const auto until = Clock::now() + 5s; state().second < 1 && Clock::now() < until;)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(state(), State(VBMP3_PLAYING, 1));
    server.stop();
    EXPECT_TRUE(waitForEnds(1, 5s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(std::pair(state(), g_endCount.load()), std::pair(State(VBMP3_STOPPED, 3), 1));
}

// The file output, written afresh by each play, joins exactly at the second a seek asked for.
TEST_F(Vbmp3Api, FileOutputJoinsExactlyWhereASeekAsked)
{
    for (const auto &[path, seekTo] : { std::pair(counterWav(), 5), std::pair(longMp3(), 7) }) {
        SCOPED_TRACE(path);
        const std::vector<int16_t> expected = decodeDirect(path).samples;
        // When held up, the file output may reach the end before the seek: play again then.
        Pcm out;
        bool sought = false;
        for (int attempt = 0; attempt < 5 && !sought; ++attempt)
            out = playToFile(path, [&] { sought = vbmp3_seek(seekTo) == 1; });
        ASSERT_TRUE(sought);
        EXPECT_EQ(std::pair(out.rate, out.channels), std::pair(44100, 2));
        const auto join = std::mismatch(out.samples.begin(), out.samples.end(), expected.begin());
        const size_t k = size_t(join.first - out.samples.begin()) / 2 * 2; // whole frames before the join
        const size_t skipped = size_t(seekTo) * 44100 * 2;
        ASSERT_EQ(out.samples.size() - k, expected.size() - skipped);
        EXPECT_TRUE(
            std::equal(out.samples.begin() + ptrdiff_t(k), out.samples.end(), expected.begin() + ptrdiff_t(skipped)));
    }
}

// Queued tracks join sample for sample, each join reported once; another rate goes to a further file.
TEST_F(Vbmp3Api, QueuedFilesJoinSampleForSample)
{
    const std::string first = mp3("gap-a.mp3", "-r 44100 -c 2", "synth 1.3 sine 440 gain -6");
    const std::string second = fixture("gap-b.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.77 sine 660 gain -8");
    const std::string third = fixture("gap-c.wav", "sox -n -r 48000 -c 2 -b 16 %o synth 0.9 sine 880 gain -8");
    const Pcm a = decodeDirect(first), b = decodeDirect(second), c = decodeDirect(third);
    ASSERT_EQ(a.frames(), size_t(1.3 * 44100)); // the LAME header's delay and padding are cut

    const std::string out = (workDir() / "gap.wav").string();
    const std::string out2 = (workDir() / "gap-2.wav").string();
    std::filesystem::remove(out2);
    ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
    ASSERT_EQ(vbmp3_queueNext(second.c_str()), 0); // nothing open yet
    ASSERT_EQ(vbmp3_open(first.c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_queueNext((workDir() / "missing.wav").c_str()), 0);
    ASSERT_EQ(vbmp3_queueNext(second.c_str()), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    // Told of the first join, the caller queues the next file, as a player does.
    for (const auto until = Clock::now() + 10s; g_joinCount < 1 && Clock::now() < until;)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(g_joinCount, 1);
    StreamInfo info {};
    ASSERT_EQ(vbmp3_getStreamInfo(&info), 2);
    EXPECT_EQ(info.totalFrames, int64_t(b.frames()));
    ASSERT_EQ(vbmp3_queueNext(third.c_str()), 1);
    ASSERT_TRUE(waitForEnds(1, 10s));
    EXPECT_EQ(std::tuple(g_joinCount.load(), g_endCount.load(), g_failedCount.load()), std::tuple(2, 1, 0));
    ASSERT_EQ(vbmp3_getStreamInfo(&info), 2);
    EXPECT_EQ(std::pair(info.sampleRate, info.totalFrames), std::pair(48000, int64_t(c.frames())));

    const Pcm joined = readWav(out), after = readWav(out2);
    std::vector<int16_t> expected = a.samples;
    expected.insert(expected.end(), b.samples.begin(), b.samples.end());
    EXPECT_EQ(std::pair(joined.rate, joined.channels), std::pair(44100, 2));
    ASSERT_EQ(joined.samples.size(), expected.size());
    const auto differ = std::mismatch(joined.samples.begin(), joined.samples.end(), expected.begin());
    EXPECT_EQ(differ.first, joined.samples.end())
        << "first difference at frame " << (differ.first - joined.samples.begin()) / 2;
    EXPECT_EQ(after.rate, 48000);
    EXPECT_EQ(after.samples, c.samples);
}

// The queue can be replaced or cleared until the join, and a stop clears it.
TEST_F(Vbmp3Api, QueueReplacedClearedOrStoppedBeforeTheJoin)
{
    const std::string first = fixture("gap-s.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.5 sine 550 gain -8");
    const std::string second = fixture("gap-b.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.77 sine 660 gain -8");
    const std::string other = fixture("gap-d.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.4 sine 330 gain -8");
    const Pcm a = decodeDirect(first), d = decodeDirect(other);
    const std::string out = (workDir() / "queue.wav").string();
    ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
    const auto playWith = [&](const std::function<void()> &before) {
        const int ends = g_endCount;
        EXPECT_EQ(vbmp3_open(first.c_str(), &g_info), 1);
        before();
        EXPECT_EQ(vbmp3_play(), 1);
        EXPECT_TRUE(waitForEnds(ends + 1, 10s));
        return readWav(out).samples;
    };
    std::vector<int16_t> ad = a.samples;
    ad.insert(ad.end(), d.samples.begin(), d.samples.end());

    // Replaced, cleared, and stopped (in real time, so that the stop comes before the join).
    const std::pair<std::function<void()>, const std::vector<int16_t> &> cases[] = {
        { [&] { ASSERT_EQ(vbmp3_queueNext(other.c_str()), 1); }, ad },
        { [&] { ASSERT_EQ(vbmp3_queueNext(nullptr), 1); }, a.samples },
        { [&] {
             ASSERT_EQ(vbmp3_setOutput("null"), 1);
             ASSERT_EQ(vbmp3_play(), 1);
             ASSERT_EQ(vbmp3_stop(), 1);
             ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
         },
            a.samples },
    };
    for (const auto &[then, expected] : cases)
        EXPECT_EQ(playWith([&] {
            ASSERT_EQ(vbmp3_queueNext(second.c_str()), 1);
            then();
        }),
            expected);
    // Replaced after the queued track was decoded ahead: the replacement joins.
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    ASSERT_EQ(vbmp3_open(first.c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_queueNext(second.c_str()), 1);
    const int ends = g_endCount;
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(150ms);
    ASSERT_EQ(vbmp3_queueNext(other.c_str()), 1);
    ASSERT_TRUE(waitForEnds(ends + 1, 10s));
    StreamInfo info {};
    ASSERT_EQ(vbmp3_getStreamInfo(&info), 2);
    EXPECT_EQ(info.totalFrames, int64_t(d.frames()));
    EXPECT_EQ(g_failedCount, 0);
}

// The sound server's streams as pactl lists them: index, media.name, the first channel's volume.
struct SinkInput {
    int index = -1;
    std::string name;
    long volume = -1;
};
std::vector<SinkInput> sinkInputs()
{
    std::vector<SinkInput> inputs;
    std::istringstream lines(outputOf("LC_ALL=C pactl list sink-inputs"));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Sink Input #"))
            inputs.push_back({ std::stoi(line.substr(12)), {}, -1 });
        else if (inputs.empty())
            continue;
        else if (const size_t at = line.find("media.name = \""); at != std::string::npos)
            inputs.back().name = line.substr(at + 14, line.rfind('"') - at - 14);
        else if (const size_t v = line.find("Volume: ");
                 v != std::string::npos && inputs.back().volume < 0 && line.find(':', v + 8) != std::string::npos)
            inputs.back().volume = std::stol(line.substr(line.find(':', v + 8) + 1));
    }
    return inputs;
}

// A real sound server: one stream per session carrying the volume word; a mixer change comes back as message 7.
TEST_F(Vbmp3Api, SoundServerStreamForTheSessionCarriesTheVolume)
{
    PulseServer server;
    if (!server.ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    const std::string first = fixture("gap-s.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.5 sine 550 gain -8");
    const std::string second = fixture("gap-b.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.77 sine 660 gain -8");
    ASSERT_EQ(vbmp3_setOutput("auto"), 1);
    ASSERT_EQ(vbmp3_setOutputVolume(0x80008000u), 1);
    ASSERT_EQ(vbmp3_open(first.c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    char name[16] = {};
    for (const auto until = Clock::now() + 5s; vbmp3_getOutputName(name, sizeof name) == 0 && Clock::now() < until;)
        std::this_thread::sleep_for(5ms);
    if (std::string(name) != "pulse")
        GTEST_SKIP() << "the private PulseAudio server did not answer";
    std::vector<SinkInput> inputs = sinkInputs();
    ASSERT_EQ(inputs.size(), 1u);
    const int index = inputs[0].index;
    EXPECT_EQ(inputs[0].name, "gap-s.wav");
    EXPECT_NEAR(inputs[0].volume, 0x10000L * 0x8000 / 0xFFFF, 1); // the word as the stream's own volume

    // The mixer: a quarter comes back as the word, and the library's own changes do not.
    ASSERT_TRUE(run("pactl set-sink-input-volume " + std::to_string(index) + " 16384"));
    for (const auto until = Clock::now() + 3s; g_otherCount == 0 && Clock::now() < until;)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(g_otherCount, 1);
    EXPECT_NEAR(g_reports.volumeWord & 0xFFFF, 0x4000, 1);
    EXPECT_EQ(vbmp3_getOutputVolume(), g_reports.volumeWord.load());
    ASSERT_EQ(vbmp3_setOutputVolume(0xC000C000u), 1);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_otherCount, 1);
    EXPECT_NEAR(sinkInputs().at(0).volume, 0x10000L * 0xC000 / 0xFFFF, 1);

    // The next track goes on in the same stream, under its own name.
    ASSERT_TRUE(waitForEnds(1, 10s));
    ASSERT_EQ(vbmp3_open(second.c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(300ms);
    inputs = sinkInputs();
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(std::pair(inputs[0].index, inputs[0].name), std::pair(index, std::string("gap-b.wav")));
    ASSERT_TRUE(waitForEnds(2, 10s));
    vbmp3_free(); // before the server goes
}

// A flat equalizer passes the sound bit for bit.
TEST_F(Vbmp3Api, FlatEqualizerBitExactAndMonoVolumeTheMean)
{
    const Pcm in = readWav(quietTone());
    const int32_t boost[10] = { 0, 0, 0, 0, 60, 0, 0, 0, 0, 0 }, zero[10] = {};
    for (const int32_t *flat : { zero, static_cast<const int32_t *>(nullptr) }) {
        ASSERT_EQ(vbmp3_setEqualizer(boost), 1);
        ASSERT_EQ(vbmp3_setEqualizer(flat), 1);
        EXPECT_TRUE(playToFile(quietTone()).samples == in.samples);
    }
    EXPECT_EQ(vbmp3_getOutputVolume(), 0xFFFFFFFFu);
    // A mono track takes the mean of the word's two halves, from its first sample on.
    const Pcm mono = readWav(shortWav());
    ASSERT_EQ(vbmp3_setOutputVolume(0xC0004000u), 1); // left a quarter, right three quarters
    const Pcm monoScaled = playToFile(shortWav());
    ASSERT_EQ(std::tuple(mono.channels, monoScaled.channels, monoScaled.frames()), std::tuple(1, 1, mono.frames()));
    for (size_t i = 0; i < mono.frames(); ++i)
        ASSERT_NEAR(monoScaled.samples[i], mono.samples[i] * ((0x4000 + 0xC000) / 2.0 / 65535.0), 1.0) << i;
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
    ASSERT_EQ(vbmp3_open(shortWav().c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    for (const auto until = Clock::now() + 10s; !g_slowEntered && Clock::now() < until;)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(g_slowEntered);
    // The report is under way: the next play must not return before it is through.
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(g_endCount, 1);
    ASSERT_TRUE(waitForEnds(2, 10s)); // the new track reports its own end

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
    EXPECT_EQ(vbmp3_seek(3) + vbmp3_setLyricsFile("/nonexistent/lyrics.txt"), 0);
    std::memset(&g_mpeg, 0x55, sizeof g_mpeg);
    EXPECT_TRUE(vbmp3_getMpegInfo(&g_mpeg) == 0 && g_mpeg.value[0] == 0);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(vbmp3_getSpectrum(nullptr, nullptr) + vbmp3_getLyrics(nullptr), 0);

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
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &g_info), 1);
    EXPECT_EQ(vbmp3_seek(1), 0);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_play(), 1); // again from the top
    ASSERT_EQ(vbmp3_open(cbrMp3().c_str(), &g_info), 1);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_close(), 1);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 0));
    EXPECT_EQ(vbmp3_play(), 0);

    // A second init stops playback and keeps the open file; free twice; calls after free.
    ASSERT_EQ(vbmp3_open(twoSeconds().c_str(), &g_info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_init(), 1);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_free(), 1);
    EXPECT_EQ(state(), State(VBMP3_STOPPED, 0));
    for (auto call : { vbmp3_free, vbmp3_play, vbmp3_pause })
        EXPECT_EQ(call(), 0);
    int32_t bands[256];
    EXPECT_EQ(vbmp3_seek(1) + vbmp3_callback(countReport) + vbmp3_open(twoSeconds().c_str(), &g_info)
            + vbmp3_getSpectrum(bands, bands) + vbmp3_getPositionMs(),
        0);
    EXPECT_EQ(g_endCount, 0);
    ASSERT_EQ(vbmp3_init(), 1); // for TearDown
}

// Every call that names a file returns at once on a named pipe, as on a missing file.
TEST_F(Vbmp3Api, NamedPipesAreRefusedAtOnce)
{
    const std::string pipe = (workDir() / "pipe.mp3").string();
    const std::string real = writeFile(workDir() / "one.wav", pcmWav(44100, 2, std::string(4000, '\0')));
    ::unlink(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const char *p = pipe.c_str();
    const std::pair<const char *, std::function<int()>> calls[] = {
        { "getFileType", [p] { return vbmp3_getFileType(p) + 1; } }, // -1 when refused
        { "getFileTagInfo", [p] { return vbmp3_getFileTagInfo(p, &g_tag); } },
        { "getFileInfo2", [p] { return vbmp3_getFileInfo2(p, &g_tag, &g_mpeg, &g_list); } },
        { "open", [p] { return vbmp3_open(p, &g_info); } },
        { "setLyricsFile", [&] { return vbmp3_open(real.c_str(), &g_info) - 1 + vbmp3_setLyricsFile(p); } },
        { "lyrics read (a pipe swapped in after the check)",
            [p] { return vbmp3::LyricsTimeline::fromFile(p) ? 1 : 0; } },
    };
    for (const auto &[name, call] : calls) {
        SCOPED_TRACE(name);
        auto result = std::async(std::launch::async, call);
        if (result.wait_for(2s) != std::future_status::ready) {
            ADD_FAILURE() << "blocked on the pipe";
            ::close(::open(pipe.c_str(), O_WRONLY | O_NONBLOCK)); // a writer that comes and goes ends the wait
        }
        EXPECT_EQ(result.get(), 0) << "refused";
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Out of memory in vbmp3_play fails with 0 in a fresh process (not under the sanitizers, which abort by design).
TEST(HostileApiMemory, PlayThatRunsOutOfMemoryFailsInsteadOfAborting)
{
    if (const char *path = std::getenv("VBMP3_TEST_OOM_FILE")) {
        vbmp3_init();
        vbmp3_setOutput("null");
        const Vbmp3Option big { { 4096, 64, 100, 0 } };
        if (vbmp3_setVbmp3Option(&big) != 1 || vbmp3_open(path, &g_info) != 1)
            ::_exit(3);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (4u << 20);
        const rlimit rl { limit, limit };
        ::setrlimit(RLIMIT_AS, &rl);
        ::_exit(10 + vbmp3_play());
    }
    const std::string path = writeFile(workDir() / "fast.wav", pcmWav(384000, 2, std::string(44100 * 4, '\0')));
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

// Threads calling as a player's timers and tag reader do (run under TSan too): every answer stays in range.
TEST_F(Vbmp3Api, ControlAndPollingThreadsWhileTracksOpenPlaySeekAndEnd)
{
    std::vector<std::string> files = { fixture("stress-a.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.4 sine 440"),
        fixture("stress-b.wav", "sox -n -r 22050 -c 1 -b 16 %o synth 0.3 sine 1000"),
        mp3("stress-c.mp3", "-r 44100 -c 2", "synth 0.5 pinknoise gain -6") };
    // Decoders loaded at run time, six channels of 24 bits at 96 kHz among them.
    if (run("command -v flac && command -v opusenc")) {
        files.push_back(
            fixture("stress-d.flac", "sox -n -r 96000 -c 6 -b 24 d.wav synth 0.4 sine 440 && flac -s -o %o d.wav"));
        files.push_back(fixture("stress-e.opus", "opusenc --quiet stress-a.wav %o"));
    }
    const std::string lyrics = writeFile(workDir() / "stress.txt", "[00:00.10]one\n[00:00.20]two\n");
    const std::string wavOut = "file:" + (workDir() / "stress-out.wav").string();
    std::atomic<bool> done { false };
    std::atomic<int> outOfRange { 0 };
    const auto check = [&](bool inRange) { outOfRange += !inRange; };
    std::vector<std::thread> threads;
    // The player: opens, plays, seeks and stops tracks, through the null and file outputs.
    threads.emplace_back([&] {
        for (int round = 0; round < 24; ++round) {
            vbmp3_setOutput(round % 3 == 2 ? wavOut.c_str() : "null");
            check(vbmp3_open(files[size_t(round) % files.size()].c_str(), &g_info) == 1);
            vbmp3_setLyricsFile(lyrics.c_str());
            vbmp3_play();
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + 15 * (round % 4)));
            (void)(round % 4 == 1 ? vbmp3_seek(0) : round % 4 == 2 ? vbmp3_stop() : 0);
            if (round % 5 == 0)
                std::this_thread::sleep_for(400ms); // lets the track end
        }
        done = true;
    });
    // Position timer, spectrum box and lyrics timer.
    threads.emplace_back([&] {
        int32_t first[256], second[256], elapsed = -1;
        LyricsLines lines;
        while (!done) {
            const int32_t state = vbmp3_getState(&elapsed);
            check(state >= VBMP3_STOPPED && state <= VBMP3_PAUSED && elapsed >= 0 && elapsed <= 1);
            vbmp3_getSpectrum(first, second);
            check(std::all_of(first, first + 256, [](int v) { return v >= 0 && v <= 120; })
                && std::all_of(second, second + 256, [](int v) { return v >= 0 && v <= 120; }));
            vbmp3_getLyrics(&lines);
            check(lines.current >= -1 && lines.current <= 1);
            std::this_thread::sleep_for(1ms);
        }
    });
    // Equalizer and volume moves, pause and restart.
    threads.emplace_back([&] {
        int32_t bands[10] = {};
        for (int i = 0; !done; ++i) {
            bands[i % 10] = (i * 7) % 121 - 60;
            vbmp3_setEqualizer(i % 9 == 0 ? nullptr : bands);
            vbmp3_setOutputVolume(0x80008000u + static_cast<uint32_t>(i % 100));
            if (i % 6 == 0 && vbmp3_pause() == 1) {
                std::this_thread::sleep_for(2ms);
                vbmp3_restart();
            }
            std::this_thread::sleep_for(3ms);
        }
    });
    // A tag reader on its own thread (the stateless calls).
    threads.emplace_back([&] {
        for (size_t i = 0; !done; ++i) {
            check(vbmp3_getFileType(files[i % files.size()].c_str()) != VBMP3_TYPE_UNKNOWN);
            vbmp3_getFileInfo2(files[i % files.size()].c_str(), &g_tag, &g_mpeg, &g_list);
        }
    });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(outOfRange, 0);
    EXPECT_GT(g_endCount + g_failedCount, 0); // some tracks reached their end on the way
}

std::vector<float> sine(double frequency, double amplitude, int rate, size_t frames, size_t channels)
{
    std::vector<float> out(frames * channels);
    for (size_t i = 0; i < out.size(); ++i)
        out[i]
            = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * double(i / channels) / rate));
    return out;
}

// A peaking filter of `db` at band b's frequency, as the equalizer designs it.
vbmp3::BiquadState peaking(double db, int band, int rate)
{
    const double a = std::pow(10.0, db / 40.0);
    const double w0 = 2 * std::numbers::pi * vbmp3::Equalizer::kFrequencies[size_t(band)] / rate;
    const double alpha = std::sin(w0) / (2.0 * vbmp3::Equalizer::kQ), a0 = 1.0 + alpha / a;
    vbmp3::BiquadState f;
    f.b0 = float((1.0 + alpha * a) / a0), f.b1 = f.a1 = float(-2.0 * std::cos(w0) / a0);
    f.b2 = float((1.0 - alpha * a) / a0), f.a2 = float((1.0 - alpha / a) / a0);
    return f;
}

TEST(Equalizer, GlidesToNewGainsWithin50msWithoutClicks)
{
    const int rate = 48000;
    vbmp3::Equalizer eq;
    eq.configure(rate, 2, {});
    const auto process = [&](std::vector<float> &data) { // in small pieces, as the output thread does
        for (size_t at = 0; at < data.size() / 2; at += 480)
            eq.process(data.data() + 2 * at, 480);
    };
    std::vector<float> data = sine(1000, 0.25, rate, rate / 2, 2);
    const std::vector<float> original = data;
    vbmp3::Equalizer::Units bands {};
    bands[4] = 60;
    eq.setTargets(bands);
    process(data);
    // 50 ms after the change the level is there (allowing for the filter's own settling).
    const size_t after = rate / 20;
    EXPECT_NEAR(levelDb(data, 2, 0, after, after + 4800) - levelDb(original, 2, 0, after, after + 4800), 12.0, 0.3);
    // No step larger than the boosted sine's own steepest slope (plus a little).
    double maxStep = 0;
    for (size_t i = 0; i < after; ++i)
        maxStep = std::max(maxStep, std::fabs(double(data[2 * i + 2]) - data[2 * i]));
    EXPECT_LT(maxStep, 1.0 * 2 * std::numbers::pi * 1000 / rate * 1.15);

    // Back to flat: after the glide and the filters' decay the samples pass untouched.
    eq.setTargets({});
    data = sine(1000, 0.25, rate, rate, 2);
    process(data);
    EXPECT_TRUE(std::equal(data.end() - 9600, data.end(), sine(1000, 0.25, rate, rate, 2).end() - 9600));
}

// Every cascade the processor runs gives the baseline's samples and memory bit for bit, and those are plain float
// biquads' within one LSB, for 1 to 10 bands, mono and stereo, in pieces of odd sizes.
TEST(Equalizer, EveryKernelGivesTheSamplesOfPlainBiquads)
{
    std::vector<std::pair<const char *, vbmp3::CascadeKernel>> kernels { { "avx2", vbmp3::avx2Cascade() },
        { "avx512", vbmp3::avx512Cascade() } };
    std::erase_if(kernels, [](const auto &k) { return k.second == nullptr; });
    const int rate = 44100;
    const vbmp3::Equalizer::Units gains { 60, -50, 40, -30, 20, -10, 15, -25, 35, -45 };
    for (int count = 1; count <= 10; ++count) {
        for (int channels = 1; channels <= 2; ++channels) {
            SCOPED_TRACE(testing::Message() << count << " bands, " << channels << " channels");
            std::vector<vbmp3::BiquadState> designed;
            for (int b = 0; b < count; ++b)
                designed.push_back(peaking(gains[size_t(b)] * 0.2, b, rate));
            std::vector<float> input(size_t(channels) * 20000);
            uint32_t seed = uint32_t(count * 7 + channels);
            for (float &x : input) {
                seed = seed * 1664525u + 1013904223u;
                x = 0.5f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
            }
            const auto run = [&](vbmp3::CascadeKernel kernel, std::vector<vbmp3::BiquadState> &bands) {
                std::vector<float> data = input;
                std::vector<vbmp3::BiquadState *> pointers;
                for (vbmp3::BiquadState &f : bands)
                    pointers.push_back(&f);
                const size_t pieces[] = { 1, 5, 23, 24, 25, 64, 4096, 333 };
                for (size_t at = 0, p = 0, n = 0; at < input.size() / size_t(channels); at += n, ++p) {
                    n = std::min(pieces[p % 8], input.size() / size_t(channels) - at);
                    kernel(pointers.data(), count, data.data() + size_t(channels) * at, n, channels);
                }
                return data;
            };
            std::vector<vbmp3::BiquadState> baseState = designed, plain = designed;
            const std::vector<float> expected = run(vbmp3::baselineCascade(), baseState);
            std::vector<float> biquads = input;
            for (size_t i = 0; i < biquads.size(); ++i) {
                for (vbmp3::BiquadState &f : plain) {
                    float &x = biquads[i], &s1 = f.s1[i % size_t(channels)], &s2 = f.s2[i % size_t(channels)];
                    const float y = f.b0 * x + s1;
                    s1 = (f.b1 * x + s2) - f.a1 * y;
                    s2 = f.b2 * x - f.a2 * y;
                    x = y;
                }
                ASSERT_LT(std::fabs(expected[i] - biquads[i]) * 32768, 1.0f) << "sample " << i;
            }
            EXPECT_NE(expected, input);
            for (const auto &[name, kernel] : kernels) {
                std::vector<vbmp3::BiquadState> state = designed;
                const std::vector<float> got = run(kernel, state);
                ASSERT_EQ(got.size(), expected.size());
                EXPECT_EQ(std::memcmp(got.data(), expected.data(), got.size() * sizeof(float)), 0) << name;
                EXPECT_EQ(std::memcmp(state.data(), baseState.data(), state.size() * sizeof(vbmp3::BiquadState)), 0)
                    << name << ": the filters' memory";
            }
        }
    }
}

// FFmpeg's paired transform reads kissfft's levels over one table of signals, channel by channel and in pieces.
TEST(BandAnalyzer, BothTransformsReadTheSameLevels)
{
    if (!vbmp3::BandAnalyzer::loadFastTransform())
        GTEST_SKIP() << "libavutil is missing: kissfft's transform alone";
    vbmp3::BandAnalyzer fast, portable(vbmp3::BandAnalyzer::Transform::Portable);
    uint32_t seed = 1;
    for (const auto &[rate, channels] : { std::pair(44100, 2), std::pair(22050, 1), std::pair(48000, 5) }) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
        const size_t frames = vbmp3::BandAnalyzer::windowFor(rate);
        std::vector<float> data(frames * size_t(channels));
        for (size_t n = 0; n < frames; ++n) {
            const double t = double(n) / rate;
            for (int c = 0; c < channels; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const double noise = (c == 1 ? 0.02 : 0.2) * (double(seed >> 8) / 8388608.0 - 1.0);
                const double tone = c == 0 ? 0.7 * std::sin(2 * std::numbers::pi * 1000 * t)
                                           : 0.05 * std::sin(2 * std::numbers::pi * (3000 + 700 * c) * t);
                data[n * size_t(channels) + size_t(c)] = float(tone + noise);
            }
        }
        int32_t got[2][256], expected[2][256];
        fast.analyze(data.data(), channels, rate, got[0], got[1]);
        ASSERT_TRUE(fast.usedFastTransform());
        portable.analyze(data.data(), channels, rate, expected[0], expected[1]);
        ASSERT_FALSE(portable.usedFastTransform());
        int differing = 0;
        for (int c = 0; c < 2; ++c) {
            for (int b = 0; b < 256; ++b) {
                EXPECT_LE(std::abs(got[c][b] - expected[c][b]), 1) << "channel " << c << " band " << b;
                differing += got[c][b] != expected[c][b];
            }
        }
        EXPECT_LE(differing, 6);
        const auto peak = [](const int32_t *levels) { return std::max_element(levels, levels + 256) - levels; };
        EXPECT_GE(got[0][peak(got[0])], 110);
        if (channels == 1)
            EXPECT_TRUE(std::equal(got[0], got[0] + 256, got[1])) << "mono: its levels twice";
        else
            EXPECT_NE(peak(got[1]), peak(got[0])) << "the right channel's own tone";

        // Taken in pieces after silence: the levels of the whole window with its start silent.
        std::fill_n(data.begin(), 300 * channels, 0.0f);
        for (vbmp3::BandAnalyzer *analyzer : { &fast, &portable }) {
            analyzer->analyze(data.data(), channels, rate, expected[0], expected[1]);
            analyzer->begin(rate, channels, 300);
            analyzer->take(data.data() + 300 * channels, 500);
            analyzer->take(data.data() + 800 * channels, frames);
            analyzer->finish(got[0], got[1]);
            EXPECT_TRUE(std::equal(&got[0][0], &got[0][0] + 512, &expected[0][0])) << analyzer->usedFastTransform();
        }
    }
}

// A mono sound-server output open on a private server of its own.
class PulseOutput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!server.ok())
            GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
        format.channels = 1;
        out = vbmp3::makePulseOutput();
        if (!out->open(format))
            GTEST_SKIP() << "the private PulseAudio server did not answer";
    }
    PulseServer server;
    vbmp3::OutputFormat format;
    decltype(vbmp3::makePulseOutput()) out;
};

// A stream whose server died still drains; the null output stands in until the server is back.
TEST_F(PulseOutput, DrainsAfterTheServerDiesAndReopensWhenItIsBack)
{
    ASSERT_GE(out->room(), 2000u);
    out->write(sine(440, 0.3, 44100, 2000, 1).data(), 2000);
    server.stop();
    std::this_thread::sleep_for(100ms);
    out->startDrain();
    for (const auto until = Clock::now() + 2s; !out->drained() && Clock::now() < until;)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(out->drained()) << "a stream that died before its drain never drains";
    for (const auto until = Clock::now() + 3s; std::string(out->name()) != "null" && Clock::now() < until;)
        out->waitForRoom(10ms), out->room();
    ASSERT_STREQ(out->name(), "null");
    PulseServer again;
    ASSERT_TRUE(again.ok());
    format.rate = 96000;
    ASSERT_TRUE(out->reopen(format));
    EXPECT_STREQ(out->name(), "pulse");
    EXPECT_EQ(sinkInputs().size(), 1u);
    out->close();
}

// A full stream's writer sleeps until the server asks, then finds a good share writable; interrupts end the wait.
TEST_F(PulseOutput, WaitForRoomEndsWithRoomOrAtAnInterrupt)
{
    const std::vector<float> tone = sine(440, 0.3, 44100, 10 * 44100, 1);
    size_t written = 0;
    const auto fill = [&] {
        for (size_t room; (room = out->room()) > 0 && written + room <= tone.size(); written += room)
            out->write(tone.data() + written, room);
        return out->room() == 0;
    };
    ASSERT_TRUE(fill());
    // The null sink may take a while before it starts taking sound.
    for (const auto until = Clock::now() + 5s; out->room() == 0 && Clock::now() < until;)
        out->waitForRoom(100ms);
    const size_t share = static_cast<size_t>(format.bufferMs) * 44100 / 1000 / 5;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(fill());
        out->waitForRoom(5s);
        const size_t room = out->room();
        EXPECT_GE(room, share) << "wait " << i;
        const int64_t before = out->delayFrames();
        out->write(tone.data() + written, room);
        written += room;
        // The server's clock runs on while the frames are converted (a long write takes a millisecond).
        EXPECT_NEAR(static_cast<double>(out->delayFrames() - before), static_cast<double>(room), 50 + room / 100.0)
            << "wait " << i;
    }
    ASSERT_TRUE(fill());
    out->interrupt();
    const auto start = Clock::now();
    out->waitForRoom(5s);
    EXPECT_LT(Clock::now() - start, 1s);
}

// A volume set while the stream is remade is the new stream's volume.
TEST_F(PulseOutput, VolumeSetWhileTheStreamReconnectsIsKept)
{
    out->close();
    bool armed = false;
    std::unique_ptr<vbmp3::Output> connecting;
    connecting = vbmp3::makePulseOutput({}, [&] {
        if (armed)
            connecting->setVolume(0x40004000u);
    });
    ASSERT_TRUE(connecting->open(format));
    armed = true;
    format.rate = 48000;
    format.channels = 2;
    ASSERT_TRUE(connecting->reopen(format));
    long volume = -1;
    for (const auto until = Clock::now() + 3s; volume != 0x10000L * 0x4000 / 0xFFFF && Clock::now() < until;
         std::this_thread::sleep_for(10ms)) {
        const std::vector<SinkInput> inputs = sinkInputs();
        volume = inputs.size() == 1 ? inputs[0].volume : -1;
    }
    EXPECT_NEAR(volume, 0x10000L * 0x4000 / 0xFFFF, 1);
    connecting->close();
}

// A seek during the join report drops the block pending from before it (device takes 1000 of 5000 frames).
TEST(EngineOutput, SeekDuringTheJoinReportDropsThePendingBlock)
{
    struct Device {
        std::mutex mutex;
        int64_t written = 0; // since the last flush
        bool closedAfterFlush = false; // the seek came: the device takes nothing after its flush
        bool flushed = false;
    };
    class Slow final : public vbmp3::Output
    {
    public:
        explicit Slow(std::shared_ptr<Device> device)
            : m_device(std::move(device))
        {
        }
        bool open(const vbmp3::OutputFormat &) override { return true; }
        size_t room() override
        {
            std::lock_guard lock(m_device->mutex);
            return m_device->flushed ? 0 : 1000;
        }
        void waitForRoom(std::chrono::milliseconds) override { std::this_thread::sleep_for(2ms); }
        void write(const float *, size_t frames) override
        {
            std::lock_guard lock(m_device->mutex);
            m_device->written += static_cast<int64_t>(frames);
        }
        int64_t delayFrames() override
        {
            std::lock_guard lock(m_device->mutex);
            return std::min<int64_t>(m_device->written, 5000);
        }
        void setPaused(bool) override { }
        void flush() override
        {
            std::lock_guard lock(m_device->mutex);
            m_device->written = 0;
            m_device->flushed = m_device->closedAfterFlush;
        }
        void close() override { }
        bool realTime() const override { return false; }
        bool usesSamples() const override { return false; }
        const char *name() const override { return "slow"; }

    private:
        std::shared_ptr<Device> m_device;
    };
    static std::shared_ptr<Device> device;
    static vbmp3::Engine *engine;
    static std::atomic<bool> joined;
    device = std::make_shared<Device>();
    joined = false;
    const std::string a = writeFile(workDir() / "pending-a.wav", pcmWav(44100, 2, std::string(20000 * 4, '\0')));
    const std::string b = writeFile(workDir() / "pending-b.wav", pcmWav(44100, 2, std::string(88200 * 4, '\0')));
    vbmp3::Engine player;
    engine = &player;
    player.setOutputMaker([](const std::string &) { return std::make_unique<Slow>(device); });
    player.setCallback([](int32_t message, int32_t) {
        if (message != VBMP3_MSG_TRACK_JOINED)
            return;
        {
            std::lock_guard lock(device->mutex);
            device->closedAfterFlush = true;
        }
        engine->seek(0);
        joined = true;
    });
    ASSERT_TRUE(player.setOutput("null"));
    OpenInfo info {};
    ASSERT_TRUE(player.open(a, &info));
    ASSERT_EQ(player.queueNext(b), 1);
    ASSERT_TRUE(player.play());
    for (const auto until = Clock::now() + 10s; !joined && Clock::now() < until;)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(joined);
    for (const auto until = Clock::now() + 5s; Clock::now() < until; std::this_thread::sleep_for(1ms)) {
        std::lock_guard lock(device->mutex);
        if (device->flushed)
            break;
    }
    // Whatever was sent after the seek went before that flush.
    EXPECT_EQ(player.heardMs(), 0) << "frames sent after the seek that the device never got";
    player.stopCallback();
}

// A rate change midway ends the stream; libmpg123 is not read again (it crashed after a format error).
TEST(MpegSource, RateChangeMidwayEndsTheTrackForGood)
{
    if (!haveTools())
        GTEST_SKIP() << "sox and lame are needed to make the fixtures";
    const std::string path = fixture("ratechange.mp3",
        "sox -n -r 44100 -c 2 -b 16 -t wav - synth 1 sine 440 | lame --quiet -b 128 - a.mp3 && "
        "sox -n -r 32000 -c 2 -b 16 -t wav - synth 1 sine 440 | lame --quiet -b 128 - b.mp3 && "
        "cat a.mp3 b.mp3 > %o");
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->info().rate, 44100);
    std::vector<float> buffer(4096 * 2);
    size_t total = 0;
    while (size_t n = source->read(buffer.data(), 4096))
        total += n;
    EXPECT_TRUE(total >= 44100u && total < 44100u + 4096u) << total;
    source->seek(0);
    EXPECT_EQ(source->read(buffer.data(), 4096), 0u);
}

// Differences in LSB from a reference decode.
struct Error {
    double sumSquares = 0;
    int maxAbs = 0;
    size_t count = 0;
    void add(int d) { maxAbs = std::max(maxAbs, std::abs(d)), sumSquares += double(d) * d, ++count; }
    double rms() const { return std::sqrt(sumSquares / double(count)); }
    // Full accuracy: RMS below 1/sqrt(12) LSB and no sample more than 2 LSB off.
    void expectFullAccuracy() const
    {
        EXPECT_LT(rms(), 1.0 / std::sqrt(12.0));
        EXPECT_LE(maxAbs, 2);
    }
};

// Every ISO and MPEG-2 Layer III vector: RMS error below 1/sqrt(12) LSB, no sample over 2 LSB off.
TEST(Compliance, LayerIIIVectorsDecodeToTheReference)
{
    const std::filesystem::path dir = std::filesystem::path(KESTRINE_SHARED_TESTDATA) / "minimp3-vectors";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << dir << " is absent";
    int checked = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        const std::filesystem::path &bit = entry.path();
        if (bit.extension() != ".bit")
            continue;
        const std::string name = bit.stem().string(), pcm = readFile(dir / (name + ".pcm"));
        SCOPED_TRACE(name);
        const Pcm ours = decodeDirect(bit.string());
        if (pcm.size() < 2) {
            EXPECT_TRUE(ours.samples.empty()) << "no audio expected";
            continue;
        }
        const std::vector<int16_t> reference = samplesOf<int16_t>(pcm); // signed 16-bit little-endian
        // Informative only (decoded without harm), or in frames of changing modes (the test below).
        if (name.starts_with("l3-nonstandard") || name == "l3-test45" || name == "l3-test46" || name == "l3-he_mode")
            continue;
        ASSERT_GT(ours.channels, 0) << "not decoded";
        const size_t frameSamples = ours.rate >= 32000 ? 1152 : 576, channels = size_t(ours.channels);
        // l3-sin1k0db's reference starts two frames late (their bit reservoir is missing).
        const size_t skip = name == "l3-sin1k0db" ? 2 * frameSamples * channels : 0;
        ASSERT_GE(ours.samples.size(), skip + reference.size()) << "shorter than the reference";
        EXPECT_LE(ours.samples.size(), skip + reference.size() + 2 * frameSamples * channels)
            << "more than two frames beyond the reference";
        Error error;
        for (size_t i = 0; i < reference.size(); ++i)
            error.add(ours.samples[skip + i] - reference[i]);
        std::cout << "  " << name << ": rms " << error.rms() << " LSB, max " << error.maxAbs << " LSB\n";
        error.expectFullAccuracy();
        ++checked;
    }
    EXPECT_GE(checked, 15);
}

// Mono/stereo switching frames play in stereo within the accuracy above, 448 samples after each switch aside.
TEST(Compliance, ModeChangingStreamPlaysThroughInStereo)
{
    const std::filesystem::path dir = std::filesystem::path(KESTRINE_SHARED_TESTDATA) / "minimp3-vectors";
    const std::string bits = readFile(dir / "l3-he_mode.bit"), pcm = readFile(dir / "l3-he_mode.pcm");
    if (bits.empty() || pcm.empty())
        GTEST_SKIP() << dir << " has no l3-he_mode";
    std::vector<size_t> modes; // channels of each frame
    for (size_t at = 0; at + 4 <= bits.size();) {
        const auto h = vbmp3::parseMpegHeader(reinterpret_cast<const uint8_t *>(bits.data() + at));
        ASSERT_TRUE(h && h->frameBytes() > 0) << "frame " << modes.size();
        modes.push_back(h->mode == 3 ? 1 : 2);
        at += size_t(h->frameBytes());
    }
    ASSERT_TRUE(modes.front() == 1 && std::count(modes.begin(), modes.end(), 2) > 0) << "starts in mono, turns stereo";
    const std::vector<int16_t> reference = samplesOf<int16_t>(pcm);
    const Pcm ours = decodeDirect((dir / "l3-he_mode.bit").string());
    ASSERT_EQ(ours.channels, 2);
    ASSERT_EQ(ours.frames(), 1152 * modes.size()) << "every frame played";
    Error error;
    size_t at = 0; // the frame's start in the reference
    for (size_t f = 0; f < modes.size(); at += 1152 * modes[f], ++f) {
        ASSERT_LE(at + 1152 * modes[f], reference.size());
        const bool switched = f > 0 && modes[f] != modes[f - 1];
        for (size_t i = 0; i < 1152; ++i) {
            const int16_t *frame = &ours.samples[2 * (1152 * f + i)];
            if (modes[f] == 1) {
                ASSERT_EQ(frame[0], frame[1]) << "frame " << f << " sample " << i;
            }
            for (size_t c = 0; c < 2 && !(switched && i < 448); ++c)
                error.add(frame[c] - reference[at + i * modes[f] + (modes[f] == 2 ? c : 0)]);
        }
    }
    EXPECT_EQ(at, reference.size());
    EXPECT_GT(error.count, 2 * 1152 * (modes.size() - 1));
    error.expectFullAccuracy();
}

} // namespace
