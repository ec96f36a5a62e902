// vbmp3bench FILE [eq|eq=G1,...,G10] [spectrum] [null] [out=WAV]: plays FILE through
// libvbmp3.so's file output into /dev/null (or into WAV, to compare what two builds or two
// equalizer kernels make of it) as fast as decoding allows, optionally with the equalizer on
// (the player's "Vocal" curve, or the ten gains given in units of 0.2 dB) and with the
// spectrum read five times per second of audio, then prints
//   audio_seconds cpu_seconds peak_rss_kib wakeups
// With "null" it plays the first 10 s through the null output in real time instead (the
// cost of a player playing on a machine without sound).  CPU is user + system time of this
// whole process (all the library's threads); wakeups counts its voluntary context switches.
#include "vbmp3.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: vbmp3bench FILE [eq|eq=G1,...,G10] [spectrum] [null] [out=WAV]\n");
        return 2;
    }
    bool eq = false;
    bool spectrum = false;
    bool realTime = false;
    std::string target = "file:/dev/null";
    int32_t curve[10] = { -20, -20, -20, 10, 30, 40, 20, 30, 10, 10 }; // the player's "Vocal" curve
    for (int i = 2; i < argc; ++i) {
        if (std::strncmp(argv[i], "eq=", 3) == 0) {
            eq = true;
            const char *p = argv[i] + 3;
            for (int32_t &gain : curve) {
                char *end = nullptr;
                gain = static_cast<int32_t>(std::strtol(p, &end, 10));
                p = *end == ',' ? end + 1 : end;
            }
        }
        if (std::strncmp(argv[i], "out=", 4) == 0)
            target = std::string("file:") + (argv[i] + 4);
        eq = eq || std::strcmp(argv[i], "eq") == 0;
        spectrum = spectrum || std::strcmp(argv[i], "spectrum") == 0;
        realTime = realTime || std::strcmp(argv[i], "null") == 0;
    }
    vbmp3_init();
    vbmp3_callback(onMessage);
    vbmp3_setOutput(realTime ? "null" : target.c_str());
    if (eq)
        vbmp3_setEqualizer(curve);
    OpenInfo info;
    if (!vbmp3_open(argv[1], &info) || !vbmp3_play()) {
        std::fprintf(stderr, "vbmp3bench: cannot play %s\n", argv[1]);
        return 1;
    }
    int32_t first[256];
    int32_t second[256];
    int32_t lastSecond = 0;
    constexpr int32_t kRealTimeSeconds = 10;
    int32_t audioSeconds = info.totalSeconds;
    while (!g_ended) {
        if (realTime) {
            int32_t seconds = 0;
            vbmp3_getState(&seconds);
            if (seconds >= kRealTimeSeconds) {
                audioSeconds = seconds;
                vbmp3_stop();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (spectrum) {
            int32_t seconds = 0;
            vbmp3_getState(&seconds);
            for (; lastSecond < seconds; ++lastSecond)
                for (int i = 0; i < 5; ++i)
                    vbmp3_getSpectrum(first, second);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    vbmp3_stopCallback();
    vbmp3_free();
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%d %.3f %ld %ld\n", audioSeconds, cpu, usage.ru_maxrss, usage.ru_nvcsw);
    return 0;
}
