// The cost of opening a CD image's tracks one by one (vbmp3_openRange), and of queueing the
// next track of the same image (vbmp3_queueNextRange, which shares the open decoder).
// Usage: cueopen_bench IMAGE [TRACKS]  (the image cut into TRACKS equal tracks, 99 by default)
#include "vbmp3.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

// Milliseconds f takes.
template <typename F> double timed(F f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void print(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-28s median %8.3f ms   max %8.3f ms   (%zu)\n", what, ms[ms.size() / 2], ms.back(), ms.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || vbmp3_init() != 1) {
        std::fprintf(stderr, "usage: cueopen_bench IMAGE [TRACKS]\n");
        return 2;
    }
    const int tracks = argc > 2 ? std::atoi(argv[2]) : 99;
    OpenInfo info;
    const TrackRange whole { 0, -1, 0, 0, 0, 0, 0 };
    if (tracks < 1 || vbmp3_openRange(argv[1], &whole, &info) != 1) {
        std::fprintf(stderr, "cueopen_bench: cannot open %s\n", argv[1]);
        return 1;
    }
    const int64_t cdFrames = int64_t { info.totalSeconds } * 75, step = std::max<int64_t>(cdFrames / tracks, 1);
    const auto track = [&](int i) { return TrackRange { i * step, (i + 1) * step, 0, 0, 0, 0, 0 }; };
    std::vector<double> opens, queues;
    for (int i = 0; i < tracks; ++i) {
        const TrackRange range = track(i);
        opens.push_back(timed([&] { vbmp3_openRange(argv[1], &range, &info); }));
        if (i + 1 < tracks) {
            const TrackRange next = track(i + 1);
            queues.push_back(timed([&] { vbmp3_queueNextRange(argv[1], &next); }));
        }
    }
    print("vbmp3_openRange", opens);
    if (!queues.empty())
        print("vbmp3_queueNextRange (next)", queues);
    vbmp3_free();
    return 0;
}
