// The decoder library through its C interface (libvbmp3.so): opening, playing through the
// null and file outputs, position, pause, seek, end of track, equalizer, volume, spectrum,
// lyrics, and calls in the wrong order.
#include "enginetestsupport.h"
#include "output.h"
#include "source.h"
#include "vbmp3.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

using namespace enginetest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

std::atomic<int> g_endCount { 0 };
std::atomic<int> g_otherCount { 0 };
std::atomic<int64_t> g_endAt { 0 }; // steady clock ticks of the last report

void onMessage(int32_t message, int32_t)
{
    if (message == VBMP3_MSG_END_OF_TRACK) {
        g_endAt = Clock::now().time_since_epoch().count();
        ++g_endCount;
    } else {
        ++g_otherCount;
    }
}

// Stereo 16-bit WAV whose left channel counts frames (so every sample tells where it came
// from) and whose right channel is deterministic noise.
std::string counterWav(int seconds)
{
    const std::string path = (workDir() / ("counter" + std::to_string(seconds) + ".wav")).string();
    if (std::filesystem::exists(path))
        return path;
    SF_INFO info {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<int16_t> data(static_cast<size_t>(seconds) * 44100 * 2);
    uint32_t noise = 12345;
    for (size_t i = 0; i < data.size() / 2; ++i) {
        data[2 * i] = static_cast<int16_t>(static_cast<int>(i % 65536) - 32768);
        noise = noise * 1664525u + 1013904223u;
        data[2 * i + 1] = static_cast<int16_t>(noise >> 16);
    }
    sf_writef_short(file, data.data(), static_cast<sf_count_t>(data.size() / 2));
    sf_close(file);
    return path;
}

int16_t counterAt(size_t frame)
{
    return static_cast<int16_t>(static_cast<int>(frame % 65536) - 32768);
}

// The track decoded straight through the library's own source, as 16-bit samples.
Pcm decodeDirect(const std::string &path)
{
    Pcm pcm;
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
    if (!source)
        return pcm;
    pcm.rate = source->info().rate;
    pcm.channels = source->info().channels;
    std::vector<float> buffer(4096 * static_cast<size_t>(pcm.channels));
    while (size_t n = source->read(buffer.data(), 4096)) {
        for (size_t i = 0; i < n * static_cast<size_t>(pcm.channels); ++i)
            pcm.samples.push_back(vbmp3::floatToS16(buffer[i]));
    }
    return pcm;
}

class Vbmp3Api : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTools())
            GTEST_SKIP() << "sox and lame are needed to make the fixtures";
        g_endCount = 0;
        g_otherCount = 0;
        ASSERT_EQ(vbmp3_init(), 1);
        ASSERT_EQ(vbmp3_callback(onMessage), 1);
    }
    void TearDown() override
    {
        vbmp3_stopCallback();
        vbmp3_free();
    }

    // Waits for the end-of-track report; false after timeout.
    static bool waitForEnd(std::chrono::milliseconds timeout = 10s, int count = 1)
    {
        const auto until = Clock::now() + timeout;
        while (g_endCount < count) {
            if (Clock::now() > until)
                return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    // Plays path to its end through the file output and reads what was written.
    Pcm playToFile(const std::string &path, const std::string &name = "out.wav")
    {
        const std::string out = (workDir() / name).string();
        EXPECT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
        OpenInfo info;
        EXPECT_EQ(vbmp3_open(path.c_str(), &info), 1) << path;
        const int before = g_endCount;
        EXPECT_EQ(vbmp3_play(), 1);
        EXPECT_TRUE(waitForEnd(10s, before + 1));
        return readWav(out);
    }
};

std::string fx(const std::string &name, const std::string &command)
{
    const std::string path = fixture(name, command);
    EXPECT_FALSE(path.empty()) << "could not make " << name;
    return path;
}

std::string tone2s()
{
    return fx("tone2s.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 2 sine 1000 gain -6");
}
std::string quietTone()
{
    return fx("tone-20.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 2 sine 1000 gain -20");
}
std::string cbrMp3()
{
    return fx("cbr.mp3", "sox -n -r 44100 -c 2 -b 16 -t wav - synth 3 sine 440 gain -6 | lame --quiet -b 128 - %o");
}
std::string longMp3()
{
    return fx("long.mp3", "sox -n -r 44100 -c 2 -b 16 -t wav - synth 20 pinknoise gain -6 | lame --quiet -b 128 - %o");
}

TEST_F(Vbmp3Api, OpenInfoDescribesTheStream)
{
    struct Row {
        const char *name;
        std::string path;
        int bitrate;
        int frequency;
        int seconds;
        const char *text1;
        const char *text2;
    };
    const Row rows[] = {
        { "CBR", cbrMp3(), 128, 44100, 3, "MPEG-1 Layer III, 44100 Hz, ", "vbmp3/libmpg123" },
        { "VBR",
            fx("vbr.mp3", "sox -n -r 44100 -c 2 -b 16 -t wav - synth 4 pinknoise gain -6 | lame --quiet -V 2 - %o"), 0,
            44100, 4, "MPEG-1 Layer III, 44100 Hz, ", "vbmp3/libmpg123" },
        { "MPEG-2", fx("mpeg2.mp3", "sox -n -r 22050 -c 1 -b 16 -t wav - synth 3 sine 440 | lame --quiet -b 64 - %o"),
            64, 22050, 3, "MPEG-2 Layer III, 22050 Hz, Mono", "vbmp3/libmpg123" },
        { "Layer II",
            fx("layer2.mp2", "ffmpeg -v quiet -f lavfi -i sine=frequency=440:duration=2 -ac 2 -c:a mp2 -b:a 192k %o"),
            192, 44100, 2, "MPEG-1 Layer II, 44100 Hz, ", "vbmp3/libmpg123" },
        { "WAV 16", tone2s(), 1411, 44100, 2, "WAV PCM 16-bit, 44100 Hz, Stereo", "vbmp3/libsndfile" },
        { "WAV 8 mono", fx("u8.wav", "sox -n -r 8000 -c 1 -b 8 %o synth 1.5 sine 440"), 64, 8000, 1,
            "WAV PCM 8-bit, 8000 Hz, Mono", "vbmp3/libsndfile" },
        { "WAV 24", fx("s24.wav", "sox -n -r 48000 -c 2 -b 24 %o synth 1 sine 440"), 2304, 48000, 1,
            "WAV PCM 24-bit, 48000 Hz, Stereo", "vbmp3/libsndfile" },
        { "WAV 32", fx("s32.wav", "sox -n -r 48000 -c 1 -b 32 -e signed-integer %o synth 1 sine 440"), 1536, 48000, 1,
            "WAV PCM 32-bit, 48000 Hz, Mono", "vbmp3/libsndfile" },
        { "WAV float", fx("f32.wav", "sox -n -r 44100 -c 2 -b 32 -e floating-point %o synth 1 sine 440"), 2822, 44100,
            1, "WAV float 32-bit, 44100 Hz, Stereo", "vbmp3/libsndfile" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        OpenInfo info;
        std::memset(&info, 0x55, sizeof info);
        ASSERT_EQ(vbmp3_open(row.path.c_str(), &info), 1);
        EXPECT_EQ(info.bitrate, row.bitrate);
        EXPECT_EQ(info.frequency, row.frequency);
        EXPECT_EQ(info.totalSeconds, row.seconds);
        EXPECT_EQ(info.reserved, 0);
        EXPECT_EQ(std::string(info.text1).rfind(row.text1, 0), 0u) << info.text1;
        EXPECT_STREQ(info.text2, row.text2);
        MpegInfo mpeg;
        EXPECT_EQ(vbmp3_getMpegInfo(&mpeg), 1);
        if (row.text2 == std::string("vbmp3/libmpg123"))
            EXPECT_EQ(mpeg.value[3], row.frequency);
        else
            EXPECT_EQ(mpeg.value[3], 0);
    }
}

TEST_F(Vbmp3Api, OpenRefusesWhatItCannotPlay)
{
    const std::string empty = (workDir() / "empty.mp3").string();
    std::ofstream(empty).close();
    const std::string text = (workDir() / "text.mp3").string();
    std::ofstream(text) << "This is not a sound file at all, only some words.\n";
    const std::string random = (workDir() / "random.mp3").string();
    {
        std::ofstream out(random, std::ios::binary);
        uint32_t x = 99;
        for (int i = 0; i < 20000; ++i) {
            x = x * 1103515245u + 12345u;
            out.put(static_cast<char>((x >> 16) & 0x7F)); // no 0xFF: no frame sync anywhere
        }
    }
    const std::string paths[] = {
        (workDir() / "missing.mp3").string(),
        empty,
        text,
        random,
        fx("ch3.wav", "sox -n -r 44100 -c 3 -b 16 %o synth 1 sine 440"),
    };
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        OpenInfo info;
        std::memset(&info, 0x55, sizeof info);
        EXPECT_EQ(vbmp3_open(path.c_str(), &info), 0);
        EXPECT_EQ(info.totalSeconds, 0);
        EXPECT_EQ(vbmp3_play(), 0);
    }
    EXPECT_EQ(vbmp3_open(nullptr, nullptr), 0);
    EXPECT_EQ(vbmp3_open("", nullptr), 0);
}

std::string readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

TEST_F(Vbmp3Api, RmpAndTaggedFilesPlayTheirAudioOnly)
{
    const std::string mp3 = readBytes(cbrMp3());
    const Pcm decoded = decodeDirect(cbrMp3());
    ASSERT_EQ(decoded.frames(), 3u * 44100u);

    // RMP: the MPEG stream in the "data" chunk, texts in LIST/INFO after it.
    std::string info = "INFO" + std::string("INAM") + le32(6) + std::string("Title\0", 6);
    std::string data = mp3 + (mp3.size() % 2 ? std::string(1, '\0') : std::string());
    std::string body = "RMP3" + std::string("data") + le32(static_cast<uint32_t>(mp3.size())) + data + "LIST"
        + le32(static_cast<uint32_t>(info.size())) + info;
    const std::string rmp = (workDir() / "song.rmp").string();
    std::ofstream(rmp, std::ios::binary) << "RIFF" << le32(static_cast<uint32_t>(body.size())) << body;

    // MP3 with Lyrics3 v2.00 and an ID3v1 tag behind the audio.
    const std::string lyrics = "[00:01]first line\r\n[00:02]second line";
    char size5[6];
    std::snprintf(size5, sizeof size5, "%05zu", lyrics.size());
    const std::string fields = std::string("LYRICSBEGIN") + "LYR" + size5 + lyrics;
    char size6[7];
    std::snprintf(size6, sizeof size6, "%06zu", fields.size());
    std::string id3v1 = "TAG" + std::string("Tagged title");
    id3v1.resize(128, '\0');
    const std::string tagged = (workDir() / "tagged.mp3").string();
    std::ofstream(tagged, std::ios::binary) << mp3 << fields << size6 << "LYRICS200" << id3v1;

    EXPECT_EQ(vbmp3_getFileType(rmp.c_str()), VBMP3_TYPE_RMP);
    EXPECT_EQ(vbmp3_getFileType(tagged.c_str()), VBMP3_TYPE_MPEG + VBMP3_TYPE_ID3V1 + VBMP3_TYPE_LYRICS3);
    for (const std::string &path : { rmp, tagged }) {
        SCOPED_TRACE(path);
        OpenInfo openInfo;
        ASSERT_EQ(vbmp3_open(path.c_str(), &openInfo), 1);
        EXPECT_EQ(openInfo.bitrate, 128);
        EXPECT_EQ(openInfo.totalSeconds, 3);
        EXPECT_TRUE(playToFile(path).samples == decoded.samples);
    }

    // The Lyrics3 text becomes the lyrics: on request, or at open with Lyrics3 use on.
    OpenInfo openInfo;
    ASSERT_EQ(vbmp3_open(tagged.c_str(), &openInfo), 1);
    LyricsLines lines;
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);
    EXPECT_EQ(vbmp3_readLyrics3Data(), -1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_EQ(lines.current, -1);
    EXPECT_STREQ(lines.line3, "first line");
    ASSERT_EQ(vbmp3_setLyrics3Use(1), 1);
    ASSERT_EQ(vbmp3_open(tagged.c_str(), &openInfo), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_STREQ(lines.line4, "second line");
    ASSERT_EQ(vbmp3_open(rmp.c_str(), &openInfo), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0); // none in this file; the old ones are gone
}

TEST_F(Vbmp3Api, AutoOutputFallsBackToNullWithoutASoundServer)
{
    const char *saved = std::getenv("PULSE_SERVER");
    const std::string savedServer = saved ? saved : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse.sock", 1);
    ASSERT_EQ(vbmp3_setOutput("auto"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(fx("short.wav", "sox -n -r 44100 -c 1 -b 16 %o synth 0.3 sine 440").c_str(), &info), 1);
    const auto start = Clock::now();
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_LT(Clock::now() - start, 50ms); // the connection is tried on the library's thread
    ASSERT_TRUE(waitForEnd(3s));
    const double took
        = std::chrono::duration<double>(Clock::time_point(Clock::duration(g_endAt.load())) - start).count();
    EXPECT_GT(took, 0.28); // real time, not as fast as possible
    EXPECT_LT(took, 1.5);
    saved ? setenv("PULSE_SERVER", savedServer.c_str(), 1) : unsetenv("PULSE_SERVER");
}

TEST_F(Vbmp3Api, NullOutputPlaysInRealTimeAndReportsTheEndOnce)
{
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(tone2s().c_str(), &info), 1);
    const auto start = Clock::now();
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(1200ms);
    int32_t elapsed = -1;
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_PLAYING);
    EXPECT_EQ(elapsed, 1);
    ASSERT_TRUE(waitForEnd(3s));
    const double took
        = std::chrono::duration<double>(Clock::time_point(Clock::duration(g_endAt.load())) - start).count();
    EXPECT_NEAR(took, 2.0, 0.2);
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(elapsed, 2);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_endCount, 1);
    EXPECT_EQ(g_otherCount, 0);
}

TEST_F(Vbmp3Api, PauseAndRestartKeepThePosition)
{
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(tone2s().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_restart(), 0); // not paused
    const auto start = Clock::now();
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(1100ms);
    ASSERT_EQ(vbmp3_pause(), 1);
    EXPECT_EQ(vbmp3_pause(), 0);
    int32_t elapsed = -1;
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_PAUSED);
    EXPECT_EQ(elapsed, 1);
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_PAUSED);
    EXPECT_EQ(elapsed, 1);
    EXPECT_EQ(g_endCount, 0);
    ASSERT_EQ(vbmp3_restart(), 1);
    ASSERT_TRUE(waitForEnd(3s));
    // Nothing lost or repeated: the track took its length plus the pause.
    const double took
        = std::chrono::duration<double>(Clock::time_point(Clock::duration(g_endAt.load())) - start).count();
    EXPECT_NEAR(took, 2.7, 0.2);
}

TEST_F(Vbmp3Api, FileOutputIsTheDecodedSamples)
{
    // A 16-bit WAV comes out bit-identical; an MP3 as the decoder makes it.
    const std::string wav = counterWav(3);
    const Pcm in = readWav(wav);
    const Pcm out = playToFile(wav);
    EXPECT_EQ(out.rate, 44100);
    EXPECT_EQ(out.channels, 2);
    EXPECT_TRUE(out.samples == in.samples);

    const Pcm decoded = decodeDirect(cbrMp3());
    const Pcm mp3 = playToFile(cbrMp3());
    EXPECT_EQ(mp3.frames(), 3u * 44100u); // encoder delay and padding trimmed
    EXPECT_TRUE(mp3.samples == decoded.samples);

    // Play again after the end: the file is written afresh, from the beginning.
    const Pcm again = playToFile(cbrMp3());
    EXPECT_TRUE(again.samples == decoded.samples);
}

TEST_F(Vbmp3Api, PausingFileOutputLosesNothing)
{
    const std::string path = longMp3();
    const Pcm decoded = decodeDirect(path);
    const std::string out = (workDir() / "paused.wav").string();
    ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(path.c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    for (int i = 0; i < 5 && g_endCount == 0; ++i) {
        if (vbmp3_pause() == 1) {
            std::this_thread::sleep_for(10ms);
            EXPECT_EQ(vbmp3_restart(), 1);
        }
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(readWav(out).samples == decoded.samples);
}

TEST_F(Vbmp3Api, SeekLandsOnTheAskedSample)
{
    // WAV: every left sample names its frame, so the join must be exactly at 5 s.
    const std::string wav = counterWav(10);
    const std::string out = (workDir() / "seek.wav").string();
    ASSERT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(wav.c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    ASSERT_EQ(vbmp3_seek(5), 1);
    ASSERT_TRUE(waitForEnd());
    Pcm pcm = readWav(out);
    size_t k = 0;
    while (k < pcm.frames() && pcm.samples[2 * k] == counterAt(k))
        ++k;
    ASSERT_LT(k, 5u * 44100u) << "the seek came after the first five seconds were written";
    ASSERT_EQ(pcm.frames() - k, 5u * 44100u);
    for (size_t i = k; i < pcm.frames(); ++i)
        ASSERT_EQ(pcm.samples[2 * i], counterAt(5 * 44100 + i - k)) << "at frame " << i;

    // MP3: after the join, the samples are those of a straight decode from 7 s on.
    const std::string mp3 = longMp3();
    const Pcm decoded = decodeDirect(mp3);
    ASSERT_EQ(vbmp3_open(mp3.c_str(), &info), 1);
    const int before = g_endCount;
    ASSERT_EQ(vbmp3_play(), 1);
    ASSERT_EQ(vbmp3_seek(7), 1);
    ASSERT_TRUE(waitForEnd(10s, before + 1));
    pcm = readWav(out);
    k = 0;
    while (k < pcm.frames() && pcm.samples[2 * k] == decoded.samples[2 * k]
        && pcm.samples[2 * k + 1] == decoded.samples[2 * k + 1])
        ++k;
    ASSERT_EQ(pcm.frames() - k, decoded.frames() - 7u * 44100u);
    EXPECT_TRUE(std::equal(pcm.samples.begin() + static_cast<ptrdiff_t>(2 * k), pcm.samples.end(),
        decoded.samples.begin() + 2 * 7 * 44100));
}

TEST_F(Vbmp3Api, SeekWhilePausedStaysPausedAndPastTheEndEnds)
{
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(cbrMp3().c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    ASSERT_EQ(vbmp3_pause(), 1);
    ASSERT_EQ(vbmp3_seek(2), 1);
    std::this_thread::sleep_for(200ms);
    int32_t elapsed = -1;
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_PAUSED);
    EXPECT_EQ(elapsed, 2);
    ASSERT_EQ(vbmp3_seek(3600), 1); // clamped to the end
    EXPECT_EQ(vbmp3_restart(), 1);
    ASSERT_TRUE(waitForEnd(2s));
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(elapsed, 3);
    // Play after the end starts again from the beginning.
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_PLAYING);
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(vbmp3_stop(), 1);
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(elapsed, 0);
}

TEST_F(Vbmp3Api, EqualizerGainAndExactBypass)
{
    const std::string path = quietTone();
    const Pcm in = readWav(path);
    const double inDb = rmsDb(in, 0, 4410, in.frames());

    const int32_t boost[10] = { 0, 0, 0, 0, 60, 0, 0, 0, 0, 0 };
    ASSERT_EQ(vbmp3_setEqualizer(boost), 1);
    Pcm out = playToFile(path);
    EXPECT_NEAR(rmsDb(out, 0, 4410, out.frames()) - inDb, 12.0, 0.5);
    EXPECT_NEAR(rmsDb(out, 1, 4410, out.frames()) - inDb, 12.0, 0.5);

    const int32_t cut[10] = { 0, 0, 0, 0, -60, 0, 0, 0, 0, 0 };
    ASSERT_EQ(vbmp3_setEqualizer(cut), 1);
    out = playToFile(path);
    EXPECT_NEAR(rmsDb(out, 0, 4410, out.frames()) - inDb, -12.0, 0.5);

    const int32_t zero[10] = {};
    ASSERT_EQ(vbmp3_setEqualizer(zero), 1);
    EXPECT_TRUE(playToFile(path).samples == in.samples);
    ASSERT_EQ(vbmp3_setEqualizer(boost), 1);
    ASSERT_EQ(vbmp3_setEqualizer(nullptr), 1);
    EXPECT_TRUE(playToFile(path).samples == in.samples);

    // Bands at or above the file's Nyquist frequency do nothing.
    const std::string low = fx("low8k.wav", "sox -n -r 8000 -c 1 -b 16 %o synth 1 sine 300 gain -6");
    const int32_t high[10] = { 0, 0, 0, 0, 0, 0, 0, 60, 60, 60 };
    ASSERT_EQ(vbmp3_setEqualizer(high), 1);
    EXPECT_TRUE(playToFile(low).samples == readWav(low).samples);
}

TEST_F(Vbmp3Api, VolumeWordScalesEachChannel)
{
    EXPECT_EQ(vbmp3_getOutputVolume(), 0xFFFFFFFFu);
    const std::string path = quietTone();
    const Pcm in = readWav(path);
    ASSERT_EQ(vbmp3_setOutputVolume(0x8000FFFFu), 1); // right at half, left full
    EXPECT_EQ(vbmp3_getOutputVolume(), 0x8000FFFFu);
    const Pcm out = playToFile(path);
    ASSERT_EQ(out.frames(), in.frames());
    const size_t from = 4410; // past the first block's glide
    for (size_t i = from; i < out.frames(); ++i) {
        ASSERT_EQ(out.samples[2 * i], in.samples[2 * i]);
        ASSERT_NEAR(out.samples[2 * i + 1], in.samples[2 * i + 1] * (32768.0 / 65535.0), 1.0);
    }
}

TEST_F(Vbmp3Api, SpectrumShowsTheToneHeardNow)
{
    const std::string path = fx("tones.wav",
        "sox -n -r 44100 -c 2 -b 16 a.wav synth 0.8 sine 1000 gain -0.5 && "
        "sox -n -r 44100 -c 2 -b 16 b.wav synth 0.8 sine 5000 gain -0.5 && "
        "sox -n -r 44100 -c 2 -b 16 c.wav trim 0 0.8 && sox a.wav b.wav c.wav %o");
    int32_t left[256];
    int32_t right[256];
    EXPECT_EQ(vbmp3_getSpectrum(left, right), 1);
    EXPECT_EQ(*std::max_element(left, left + 256), 0); // nothing plays
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(path.c_str(), &info), 1);
    const auto start = Clock::now();
    ASSERT_EQ(vbmp3_play(), 1);
    const double bandStep = std::pow(16000.0 / 40.0, 1.0 / 255.0);
    for (double tone : { 1000.0, 5000.0, 0.0 }) {
        std::this_thread::sleep_until(start
            + std::chrono::milliseconds(tone == 1000.0 ? 450
                    : tone == 5000.0                   ? 1250
                                                       : 2050));
        ASSERT_EQ(vbmp3_getSpectrum(left, right), 1);
        const int peak = static_cast<int>(std::max_element(left, left + 256) - left);
        if (tone == 0.0) {
            EXPECT_EQ(left[peak], 0);
            EXPECT_EQ(*std::max_element(right, right + 256), 0);
            continue;
        }
        const double centre = 40.0 * std::pow(bandStep, peak);
        EXPECT_NEAR(centre / tone, 1.0, 0.03) << "peak band " << peak;
        EXPECT_GE(left[peak], 110);
        EXPECT_LE(left[peak], 120);
        EXPECT_EQ(right[peak], left[peak]);
        EXPECT_LT(left[0], 40) << "40 Hz is far from the tone";
    }
    vbmp3_stop();
    ASSERT_EQ(vbmp3_getSpectrum(left, right), 1);
    EXPECT_EQ(*std::max_element(left, left + 256), 0);
}

TEST_F(Vbmp3Api, LyricsFollowTheHeardPosition)
{
    const std::string lrc = (workDir() / "song.txt").string();
    std::ofstream(lrc) << "[ti:Song]\n[00:00.40]one\n[00:00.80]two\n[00:01.20]three\n[00:01.60]four\n";
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(tone2s().c_str(), &info), 1);
    ASSERT_EQ(vbmp3_setLyricsFile(lrc.c_str()), 1);
    LyricsLines lines;
    EXPECT_EQ(vbmp3_getLyrics(&lines), 1);
    EXPECT_EQ(lines.current, -1);
    EXPECT_STREQ(lines.line3, "one");

    const auto start = Clock::now();
    ASSERT_EQ(vbmp3_play(), 1);
    double changedAt[4] = { -1, -1, -1, -1 };
    int last = -1;
    while (g_endCount == 0 && Clock::now() - start < 3s) {
        vbmp3_getLyrics(&lines);
        if (lines.current != last && lines.current >= 0 && lines.current < 4) {
            last = lines.current;
            changedAt[last] = std::chrono::duration<double>(Clock::now() - start).count();
            if (last == 1) {
                EXPECT_STREQ(lines.line2, "two");
                EXPECT_STREQ(lines.line1, "one");
                EXPECT_STREQ(lines.line3, "three");
                EXPECT_STREQ(lines.line4, "four");
                EXPECT_STREQ(lines.line0, "");
            }
        }
        std::this_thread::sleep_for(5ms);
    }
    // The device starts a little after play(); from then on the lines keep in step.
    const double offset = changedAt[0] - 0.4;
    EXPECT_GE(offset, -0.02);
    EXPECT_LT(offset, 0.15);
    for (int i = 1; i < 4; ++i)
        EXPECT_NEAR(changedAt[i] - 0.4 * (i + 1), offset, 0.05) << "line " << i;

    EXPECT_EQ(vbmp3_setLyricsFile(""), 1);
    EXPECT_EQ(vbmp3_getLyrics(&lines), 0);
    EXPECT_EQ(lines.current, -1);
    EXPECT_EQ(vbmp3_readLyrics3Data(), 0); // a WAV carries none
}

TEST_F(Vbmp3Api, StopCallbackSilencesTheEndReport)
{
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(fx("short.wav", "sox -n -r 44100 -c 1 -b 16 %o synth 0.3 sine 440").c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    ASSERT_EQ(vbmp3_stopCallback(), 1);
    std::this_thread::sleep_for(700ms);
    int32_t elapsed = -1;
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(g_endCount, 0);
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
    ASSERT_EQ(vbmp3_open(fx("short.wav", "sox -n -r 44100 -c 1 -b 16 %o synth 0.3 sine 440").c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    const auto until = Clock::now() + 10s;
    while (!g_slowEntered && Clock::now() < until)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(g_slowEntered);
    // The report is under way: the next play must not return before it is through.
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(g_endCount, 1);
    ASSERT_TRUE(waitForEnd(10s, 2)); // the new track reports its own end
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(g_endCount, 2);
}

TEST_F(Vbmp3Api, WrongOrderCallsFailCleanly)
{
    // Nothing open.
    EXPECT_EQ(vbmp3_play(), 0);
    EXPECT_EQ(vbmp3_pause(), 0);
    EXPECT_EQ(vbmp3_restart(), 0);
    EXPECT_EQ(vbmp3_seek(3), 0);
    EXPECT_EQ(vbmp3_stop(), 0);
    EXPECT_EQ(vbmp3_close(), 0);
    EXPECT_EQ(vbmp3_readLyrics3Data(), 0);
    EXPECT_EQ(vbmp3_setLyricsFile("/nonexistent/lyrics.txt"), 0);
    MpegInfo mpeg;
    std::memset(&mpeg, 0x55, sizeof mpeg);
    EXPECT_EQ(vbmp3_getMpegInfo(&mpeg), 0);
    EXPECT_EQ(mpeg.value[0], 0);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(vbmp3_getSpectrum(nullptr, nullptr), 0);
    EXPECT_EQ(vbmp3_getLyrics(nullptr), 0);
    EXPECT_EQ(vbmp3_getVersion(), 100);

    // Options out of range are refused.
    const Vbmp3Option badBuffers[]
        = { { { 8, 10, 10, 0 } }, { { 128, 1, 10, 0 } }, { { 128, 10, 101, 0 } }, { { 128, 10, 10, 2 } } };
    for (const Vbmp3Option &o : badBuffers)
        EXPECT_EQ(vbmp3_setVbmp3Option(&o), 0);
    const Vbmp3Option good { { 128, 10, 10, 0 } };
    EXPECT_EQ(vbmp3_setVbmp3Option(&good), 1);
    const DecodeOption badDecode[]
        = { { { 3, 0, 48000 } }, { { 0, 2, 48000 } }, { { 0, 0, 7999 } }, { { 0, 0, 192001 } } };
    for (const DecodeOption &o : badDecode)
        EXPECT_EQ(vbmp3_setDecodeOption(&o), 0);
    const DecodeOption player { { 0, 0, 48000 } };
    EXPECT_EQ(vbmp3_setDecodeOption(&player), 1);
    EXPECT_EQ(vbmp3_setOutput("speaker"), 0);
    EXPECT_EQ(vbmp3_setOutput("file:"), 0);
    EXPECT_EQ(vbmp3_setOutput(nullptr), 0);
    EXPECT_EQ(vbmp3_setOutput("null"), 1);

    // Close and open while playing; stop when stopped.
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(tone2s().c_str(), &info), 1);
    EXPECT_EQ(vbmp3_seek(1), 0); // stopped
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_play(), 1); // again from the top
    ASSERT_EQ(vbmp3_open(cbrMp3().c_str(), &info), 1);
    int32_t elapsed = -1;
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_close(), 1);
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(vbmp3_play(), 0);

    // A second init stops playback and keeps the open file; free twice; calls after free.
    ASSERT_EQ(vbmp3_open(tone2s().c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_init(), 1);
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(vbmp3_play(), 1);
    EXPECT_EQ(vbmp3_free(), 1);
    EXPECT_EQ(vbmp3_free(), 0);
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(elapsed, 0);
    EXPECT_EQ(vbmp3_play(), 0);
    EXPECT_EQ(vbmp3_pause(), 0);
    EXPECT_EQ(vbmp3_seek(1), 0);
    EXPECT_EQ(vbmp3_callback(onMessage), 0);
    EXPECT_EQ(vbmp3_open(tone2s().c_str(), &info), 0);
    int32_t bands[256];
    EXPECT_EQ(vbmp3_getSpectrum(bands, bands), 0);
    EXPECT_EQ(g_endCount, 0);
    ASSERT_EQ(vbmp3_init(), 1); // for TearDown
}

} // namespace
