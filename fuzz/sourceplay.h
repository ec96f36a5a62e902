// What the decoding targets share: the input as a file, and a play of a source over it.
#pragma once

#include "sources/source.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzzplay
{

// The path of a memory file (one per target, named name) that holds the input; empty when
// it cannot be written.
inline std::string inputFile(const char *name, const uint8_t *data, size_t size)
{
    static const int fd = memfd_create(name, 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return {};
    return "/proc/self/fd/" + std::to_string(fd);
}

// Decodes up to about frames, then seeks into the middle and past the end, reading after
// each; rewind: back to the start and reads again.  A read of more than it was asked
// for is a fault.
inline void play(vbmp3::Source &source, size_t frames, bool rewind)
{
    constexpr size_t kChunk = 4096;
    static float buffer[kChunk * 8];
    const int64_t total = source.info().totalFrames;
    size_t done = 0;
    while (done < frames) {
        const size_t n = source.read(buffer, kChunk);
        if (n > kChunk)
            __builtin_trap();
        if (n == 0)
            break;
        done += n;
    }
    source.seek(total / 2);
    source.read(buffer, 1024);
    source.seek(total + 1000);
    source.read(buffer, 1024);
    if (rewind) {
        source.seek(0);
        source.read(buffer, kChunk);
    }
}

} // namespace fuzzplay
