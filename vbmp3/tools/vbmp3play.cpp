// vbmp3play FILE [OUTPUT]: plays FILE through libvbmp3.so ("auto" output unless OUTPUT
// names another: "null", "file:PATH"), prints the position once a second and returns at
// the end of the track.  Exit status 1 when the file cannot be opened or played.
#include "vbmp3.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace
{

std::atomic<bool> g_ended { false };

void onMessage(int32_t message, int32_t)
{
    if (message == VBMP3_MSG_END_OF_TRACK)
        g_ended = true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vbmp3play FILE [auto|null|file:PATH]\n");
        return 2;
    }
    vbmp3_init();
    vbmp3_callback(onMessage);
    if (argc == 3 && !vbmp3_setOutput(argv[2])) {
        std::fprintf(stderr, "vbmp3play: unknown output %s\n", argv[2]);
        vbmp3_free();
        return 2;
    }
    OpenInfo info;
    if (!vbmp3_open(argv[1], &info)) {
        std::fprintf(stderr, "vbmp3play: cannot open %s\n", argv[1]);
        vbmp3_free();
        return 1;
    }
    std::printf("%.128s\n", info.text1);
    if (info.bitrate)
        std::printf(
            "%d kb/s, %d Hz, %d:%02d\n", info.bitrate, info.frequency, info.totalSeconds / 60, info.totalSeconds % 60);
    else
        std::printf("VBR, %d Hz, %d:%02d\n", info.frequency, info.totalSeconds / 60, info.totalSeconds % 60);
    if (!vbmp3_play()) {
        std::fprintf(stderr, "vbmp3play: cannot play %s\n", argv[1]);
        vbmp3_free();
        return 1;
    }
    int shown = -1;
    while (!g_ended) {
        int32_t seconds = 0;
        vbmp3_getState(&seconds);
        if (seconds != shown) {
            shown = seconds;
            std::printf("%02d:%02d\n", seconds / 60, seconds % 60);
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    vbmp3_stopCallback();
    vbmp3_stop();
    vbmp3_free();
    return 0;
}
