// lyricsstep_bench FILE LRC: plays FILE through the null output in real time with the
// timed lyrics LRC and polls the lines every 5 ms, as the player's timer does.  Prints
// each line's lag behind its stamp (the span between the last poll still showing the
// line before and the first showing it), then
//   wall_seconds audio_seconds worst_lag_ms spread_ms
// where wall_seconds against audio_seconds shows nothing was lost or repeated, worst_lag_ms
// is the latest any line came, and spread_ms (the latest less the earliest) how unevenly.
#include "vbmp3.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::atomic<bool> g_ended { false };

void onMessage(int32_t message, int32_t)
{
    if (message == VBMP3_MSG_END_OF_TRACK)
        g_ended = true;
}

// The stamps of the LRC's timed lines, in seconds, in order.
std::vector<double> stamps(const char *path)
{
    std::vector<double> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        int minutes = 0;
        double seconds = 0;
        if (std::sscanf(line.c_str(), "[%d:%lf]", &minutes, &seconds) == 2)
            out.push_back(minutes * 60 + seconds);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: lyricsstep_bench FILE LRC\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const std::vector<double> stamp = stamps(argv[2]);
    vbmp3_init();
    vbmp3_callback(onMessage);
    vbmp3_setOutput("null");
    OpenInfo info;
    LyricsLines lines;
    if (!vbmp3_open(argv[1], &info) || vbmp3_setLyricsFile(argv[2]) != 1 || !vbmp3_play()) {
        std::fprintf(stderr, "lyricsstep_bench: cannot play %s with %s\n", argv[1], argv[2]);
        return 1;
    }
    const auto start = Clock::now();
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    double lastPoll = 0, earliest = 1e9, latest = -1e9; // of the lags, in seconds
    for (int seen = -1; !g_ended; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        const double now = since();
        if (vbmp3_getLyrics(&lines) == 1 && lines.current > seen && size_t(lines.current) < stamp.size()) {
            seen = lines.current;
            const double from = lastPoll - stamp[size_t(seen)], to = now - stamp[size_t(seen)];
            std::printf("line %d at %.2f s: %.0f to %.0f ms behind\n", seen, stamp[size_t(seen)], 1e3 * from, 1e3 * to);
            earliest = std::min(earliest, from);
            latest = std::max(latest, to);
        }
        lastPoll = now;
    }
    const double wall = since();
    vbmp3_stopCallback();
    vbmp3_free();
    std::printf("%.3f %d %.0f %.0f\n", wall, info.totalSeconds, 1e3 * latest, 1e3 * (latest - earliest));
    return 0;
}
