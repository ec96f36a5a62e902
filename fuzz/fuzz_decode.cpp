// The decoding path behind vbmp3_open and vbmp3_play: arbitrary bytes are probed, opened
// with libmpg123 or libsndfile through the engine's source (whose byte-range reader feeds
// libmpg123), decoded for a while and sought.
#include "fileinfo.h"
#include "source.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int fd = memfd_create("vbmp3-fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const vbmp3::FileLayout layout = vbmp3::probeFile(path);
    auto source = vbmp3::openSource(path, layout);
    if (!source)
        return 0;
    const vbmp3::SourceInfo &info = source->info();
    if (info.channels < 1 || info.channels > 2 || info.rate <= 0 || info.totalFrames <= 0)
        __builtin_trap();
    static float buffer[4096 * 2];
    size_t total = 0;
    while (total < 100000) {
        const size_t n = source->read(buffer, 4096);
        if (n == 0)
            break;
        total += n;
    }
    source->seek(info.totalFrames / 2);
    source->read(buffer, 1024);
    source->seek(info.totalFrames + 1000);
    source->read(buffer, 1024);
    return 0;
}
