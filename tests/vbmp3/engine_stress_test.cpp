// Several threads at the library at once, as a player with a position timer, a spectrum
// box, a lyrics timer, an equalizer window and a background tag reader calls it: run under
// ThreadSanitizer by `make test-tsan`.  Whatever the interleaving, every answer stays in
// range, and afterwards the library plays a track to its end exactly as before.
#include "enginetestsupport.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace enginetest;
using namespace std::chrono_literals;

namespace
{

std::atomic<int> g_ends { 0 };

void onEnd(int32_t message, int32_t)
{
    if (message == VBMP3_MSG_END_OF_TRACK || message == VBMP3_MSG_OUTPUT_FAILED)
        ++g_ends;
}

} // namespace

TEST(Vbmp3Stress, ControlAndPollingThreadsWhileTracksOpenPlaySeekAndEnd)
{
    if (!haveTools())
        GTEST_SKIP() << "sox and lame are needed to make the fixtures";
    const std::vector<std::string> files = {
        fixture("stress-a.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.4 sine 440 gain -6"),
        fixture("stress-b.wav", "sox -n -r 22050 -c 1 -b 16 %o synth 0.3 sine 1000 gain -6"),
        fixture("stress-c.mp3",
            "sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.5 pinknoise gain -6 | lame --quiet -b 128 - %o"),
    };
    const std::string lyrics = writeFile(workDir() / "stress.txt", "[00:00.10]one\n[00:00.20]two\n");
    const std::string wavOut = "file:" + (workDir() / "stress-out.wav").string();
    ASSERT_EQ(vbmp3_init(), 1);
    ASSERT_EQ(vbmp3_callback(onEnd), 1);

    std::atomic<bool> done { false };
    std::atomic<int> outOfRange { 0 };
    std::vector<std::thread> threads;
    // The player: opens, plays, seeks and stops tracks, through the null and file outputs.
    threads.emplace_back([&] {
        for (int round = 0; round < 24; ++round) {
            vbmp3_setOutput(round % 3 == 2 ? wavOut.c_str() : "null");
            OpenInfo info;
            if (vbmp3_open(files[size_t(round) % files.size()].c_str(), &info) != 1) {
                ++outOfRange;
                continue;
            }
            vbmp3_setLyricsFile(lyrics.c_str());
            vbmp3_play();
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + 15 * (round % 4)));
            if (round % 4 == 1)
                vbmp3_seek(0);
            if (round % 4 == 2)
                vbmp3_stop();
            if (round % 5 == 0)
                std::this_thread::sleep_for(400ms); // lets the track end
        }
        done = true;
    });
    // Position timer, spectrum box and lyrics timer.
    threads.emplace_back([&] {
        int32_t first[256];
        int32_t second[256];
        LyricsLines lines;
        while (!done) {
            int32_t elapsed = -1;
            const int32_t state = vbmp3_getState(&elapsed);
            if (state < VBMP3_STOPPED || state > VBMP3_PAUSED || elapsed < 0 || elapsed > 1)
                ++outOfRange;
            vbmp3_getSpectrum(first, second);
            for (int i = 0; i < 256; ++i)
                if (first[i] < 0 || first[i] > 120 || second[i] < 0 || second[i] > 120)
                    ++outOfRange;
            vbmp3_getLyrics(&lines);
            if (lines.current < -1 || lines.current > 1)
                ++outOfRange;
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
            if (i % 6 == 0) {
                vbmp3_pause();
                std::this_thread::sleep_for(2ms);
                vbmp3_restart();
            }
            std::this_thread::sleep_for(3ms);
        }
    });
    // A tag reader on its own thread (the stateless calls).
    threads.emplace_back([&] {
        for (size_t i = 0; !done; ++i) {
            TagInfo tag;
            MpegInfo mpeg;
            ListInfo list;
            const std::string &path = files[i % files.size()];
            if (vbmp3_getFileType(path.c_str()) == VBMP3_TYPE_UNKNOWN)
                ++outOfRange;
            vbmp3_getFileInfo2(path.c_str(), &tag, &mpeg, &list);
        }
    });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(outOfRange, 0);
    EXPECT_GT(g_ends, 0); // some tracks reached their end on the way

    // Afterwards: one clean play to the end, one report, the position at the length.
    vbmp3_setEqualizer(nullptr);
    vbmp3_setOutput("null");
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(files[0].c_str(), &info), 1);
    const int before = g_ends;
    ASSERT_EQ(vbmp3_play(), 1);
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (g_ends == before && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(2ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(g_ends, before + 1);
    int32_t elapsed = -1;
    EXPECT_EQ(vbmp3_getState(&elapsed), VBMP3_STOPPED);
    EXPECT_EQ(elapsed, 0); // 0.4 s rounds down
    vbmp3_stopCallback();
    vbmp3_free();
}
