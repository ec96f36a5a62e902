// Call sequences over the library's C interface, on the null output, as a GUI can make
// them: the first bytes choose up to 24 calls (open, play, pause, restart, seek, stop,
// close, state, position and read-out polls, lyrics, file information and cover), the
// rest is the file.
#include "vbmp3.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool started = vbmp3_init() == 1 && vbmp3_setOutput("null") == 1;
    static const int fd = memfd_create("vbmp3-fuzz-api", 0);
    if (!started || fd < 0 || size < 1)
        return 0;
    const size_t calls = std::min<size_t>(data[0] % 25, size - 1);
    const uint8_t *ops = data + 1;
    const uint8_t *file = ops + calls;
    const size_t fileSize = size - 1 - calls;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, file, fileSize, 0) != static_cast<ssize_t>(fileSize))
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    OpenInfo open;
    TagInfo tag;
    MpegInfo mpeg;
    ListInfo list;
    LyricsLines lines;
    int32_t first[256], second[256]; // the bands of vbmp3_getSpectrum
    int32_t elapsed = 0;
    char picture[4096], mime[VBMP3_MIME_TYPE_SIZE];
    for (size_t i = 0; i < calls; ++i) {
        const uint8_t op = ops[i];
        switch (op % 16) {
        case 0:
        case 1:
            vbmp3_open(path.c_str(), &open);
            break;
        case 2:
            vbmp3_play();
            break;
        case 3:
            vbmp3_pause();
            break;
        case 4:
            vbmp3_restart();
            break;
        case 5:
            vbmp3_seek(op / 16 - 2);
            break;
        case 6:
            vbmp3_stop();
            break;
        case 7:
            vbmp3_close();
            break;
        case 8:
            vbmp3_getState(&elapsed);
            vbmp3_getPositionMs();
            break;
        case 9:
            vbmp3_getSpectrum(first, second);
            break;
        case 10:
            vbmp3_getLyrics(&lines);
            break;
        case 11:
            vbmp3_setLyricsFile(op & 16 ? path.c_str() : "");
            break;
        case 12:
            vbmp3_setLyrics3Use(op & 16);
            vbmp3_readLyrics3Data();
            vbmp3_readEmbeddedLyrics();
            break;
        case 13:
            vbmp3_getMpegInfo(&mpeg);
            break;
        case 14:
            vbmp3_getFileInfo2(path.c_str(), &tag, &mpeg, &list);
            vbmp3_getFilePicture(path.c_str(), picture, sizeof picture, mime);
            break;
        default:
            vbmp3_getFileType(path.c_str());
            break;
        }
    }
    vbmp3_close();
    return 0;
}
