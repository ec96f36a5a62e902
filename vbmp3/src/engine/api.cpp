// The C interface of libvbmp3.so (see include/vbmp3.h): a thin layer that serialises the
// calls and hands them to the one engine.  File-information calls keep no state and do
// not take the lock.  Every function catches whatever the C++ below it throws and turns
// it into the function's failure result: nothing may unwind into a C caller.
#include "engine.h"
#include "outputs/outputdevices.h"
#include "sources/rangesource.h"
#include "sources/source.h"
#include "tags/fileinfo.h"
#include "vbmp3.h"

#include <algorithm>
#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

static_assert(sizeof(OpenInfo) == 272);
static_assert(offsetof(OpenInfo, text2) == 128 && offsetof(OpenInfo, reserved) == 256
    && offsetof(OpenInfo, bitrate) == 260 && offsetof(OpenInfo, frequency) == 264
    && offsetof(OpenInfo, totalSeconds) == 268);
static_assert(sizeof(TagInfo) == 652);
static_assert(offsetof(TagInfo, title) == 0 && offsetof(TagInfo, artist) == 128 && offsetof(TagInfo, album) == 256
    && offsetof(TagInfo, year) == 384 && offsetof(TagInfo, comment) == 389 && offsetof(TagInfo, pad) == 517
    && offsetof(TagInfo, genre) == 520 && offsetof(TagInfo, genreName) == 524);
static_assert(sizeof(ListInfo) == 1792);
static_assert(sizeof(MpegInfo) == 56);
static_assert(sizeof(LyricsLines) == 644);
static_assert(offsetof(LyricsLines, current) == 0 && offsetof(LyricsLines, line4) == 4
    && offsetof(LyricsLines, line3) == 132 && offsetof(LyricsLines, line2) == 260 && offsetof(LyricsLines, line1) == 388
    && offsetof(LyricsLines, line0) == 516);
static_assert(sizeof(Vbmp3Option) == 16 && sizeof(DecodeOption) == 12);
static_assert(sizeof(StreamInfo) == 72);
static_assert(sizeof(ReplayGainOption) == 16 && offsetof(ReplayGainOption, preamp) == 4
    && offsetof(ReplayGainOption, defaultGain) == 8 && offsetof(ReplayGainOption, preventClipping) == 12);
static_assert(sizeof(TrackRange) == 56 && offsetof(TrackRange, end) == 8 && offsetof(TrackRange, gains) == 16
    && offsetof(TrackRange, trackGain) == 24 && offsetof(TrackRange, albumPeak) == 48);
static_assert(offsetof(StreamInfo, channels) == 4 && offsetof(StreamInfo, bitsPerSample) == 8
    && offsetof(StreamInfo, lossless) == 12 && offsetof(StreamInfo, channelMask) == 16
    && offsetof(StreamInfo, sampleRate) == 20 && offsetof(StreamInfo, totalFrames) == 24
    && offsetof(StreamInfo, bitrate) == 32 && offsetof(StreamInfo, reserved) == 36
    && offsetof(StreamInfo, codecName) == 40);

namespace
{

std::mutex g_apiMutex; // serialises every stateful call
std::unique_ptr<vbmp3::Engine> g_engine; // protected by g_apiMutex; nullptr before init and after free

// Runs f() and gives its result, or failure when it throws.
template <typename R, typename F> R guarded(R failure, F f) noexcept
{
    try {
        return f();
    } catch (...) {
        return failure;
    }
}

// Copies at most size - 1 bytes of text and a NUL into out; returns the text's length.
int32_t copyOut(const std::string &text, char *out, int32_t size)
{
    if (out && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
}

// Runs f(engine) under the lock, or returns fallback when the library is not started or
// f throws; a throw also stops playback, since the engine may be left half-way through
// starting it (an allocation of a play that failed).
template <typename F, typename R> R withEngine(R fallback, F f) noexcept
{
    std::lock_guard lock(g_apiMutex);
    if (!g_engine)
        return fallback;
    try {
        return f(*g_engine);
    } catch (...) {
        guarded(false, [] { return g_engine->stop(); });
        return fallback;
    }
}

// Whether path names something other than a regular file that exists: such paths are
// refused before anything opens them (opening a named pipe waits for a writer).
bool notRegularFile(const char *path)
{
    struct stat st {
    };
    return ::stat(path, &st) == 0 && !S_ISREG(st.st_mode);
}

std::string pathOf(const char *path)
{
    return path ? std::string(path) : std::string();
}

// vbmp3_open and vbmp3_openRange: the file is read without the lock, so that the other
// calls answer meanwhile (about the file open until now); what was read is installed
// under it.  A file refused, or a preparation that throws, closes what was open as a
// missing file does.
int32_t openFile(const char *path, const TrackRange *range, OpenInfo *info)
{
    const std::optional<bool> withName
        = withEngine(std::optional<bool>(), [](vbmp3::Engine &e) { return std::optional(e.wantsMixerName()); });
    if (!withName)
        return 0;
    std::unique_ptr<vbmp3::Engine::PreparedOpen> prepared = guarded(std::unique_ptr<vbmp3::Engine::PreparedOpen>(),
        [&] { return notRegularFile(path) ? nullptr : vbmp3::Engine::prepareOpen(path, *withName, range); });
    return withEngine(0, [&](vbmp3::Engine &e) { return e.installOpen(std::move(prepared), info) ? 1 : 0; });
}

// vbmp3_queueNext and vbmp3_queueNextRange: as openFile, the file is read without the lock
// and what was read is queued under it (read again should a track be opened or closed
// meanwhile).  A path that names no regular file, or that is refused, clears the queue
// and is refused as a missing file is.
int32_t queueFile(const char *path, const TrackRange *range, bool refused = false)
{
    const std::string file = pathOf(path);
    refused = refused || (!file.empty() && notRegularFile(path));
    for (;;) {
        const std::optional<vbmp3::Engine::QueuePlan> plan
            = withEngine(std::optional<vbmp3::Engine::QueuePlan>(), [&](vbmp3::Engine &e) {
                  if (!refused)
                      return std::optional(e.planQueue(file, range));
                  vbmp3::Engine::QueuePlan answered;
                  answered.answer = e.queueNext(std::string()) == 2 ? 2 : 0;
                  return std::optional(answered);
              });
        if (!plan)
            return 0;
        if (plan->answer)
            return *plan->answer;
        std::unique_ptr<vbmp3::Engine::PreparedOpen> prepared;
        if (!plan->clear)
            prepared = guarded(std::unique_ptr<vbmp3::Engine::PreparedOpen>(),
                [&] { return vbmp3::Engine::prepareQueue(file, range, *plan); });
        const std::optional<int32_t> answer = withEngine(
            std::optional<int32_t>(0), [&](vbmp3::Engine &e) { return e.installQueue(std::move(prepared), *plan); });
        if (answer)
            return *answer;
    }
}

} // namespace

// A reader owns its source alone: nothing of it is shared with the engine or another reader.
struct Vbmp3Reader {
    std::unique_ptr<vbmp3::Source> source;
};

extern "C" {

int32_t vbmp3_init(void)
{
    std::lock_guard lock(g_apiMutex);
    return guarded(0, [] {
        if (g_engine)
            g_engine->stop();
        else
            g_engine = std::make_unique<vbmp3::Engine>();
        return 1;
    });
}

int32_t vbmp3_free(void)
{
    std::unique_ptr<vbmp3::Engine> engine;
    {
        std::lock_guard lock(g_apiMutex);
        engine = std::move(g_engine);
    }
    if (!engine)
        return 0;
    return guarded(0, [&] {
        engine->stopCallback();
        engine.reset(); // joins the library's threads
        return 1;
    });
}

int32_t vbmp3_callback(void (*proc)(int32_t message, int32_t param))
{
    return withEngine(0, [&](vbmp3::Engine &e) {
        e.setCallback(proc);
        return 1;
    });
}

int32_t vbmp3_stopCallback(void)
{
    return withEngine(0, [](vbmp3::Engine &e) {
        e.stopCallback();
        return 1;
    });
}

int32_t vbmp3_setVbmp3Option(const Vbmp3Option *option)
{
    if (!option)
        return 0;
    return withEngine(0, [&](vbmp3::Engine &e) { return e.setBufferOptions(*option) ? 1 : 0; });
}

int32_t vbmp3_setDecodeOption(const DecodeOption *option)
{
    if (!option)
        return 0;
    return withEngine(0, [&](vbmp3::Engine &e) { return e.setDecodeOptions(*option) ? 1 : 0; });
}

int32_t vbmp3_setNativeOutputFormat(int32_t native)
{
    if (native != 0 && native != 1)
        return 0;
    return withEngine(0, [&](vbmp3::Engine &e) {
        e.setNativeOutputFormat(native == 1);
        return 1;
    });
}

int32_t vbmp3_setLyrics3Use(int32_t use)
{
    return withEngine(0, [&](vbmp3::Engine &e) {
        e.setLyrics3Use(use != 0);
        return 1;
    });
}

int32_t vbmp3_open(const char *path, OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    if (!path || !*path)
        return 0;
    return openFile(path, nullptr, info);
}

int32_t vbmp3_queueNext(const char *path)
{
    return queueFile(path, nullptr);
}

int32_t vbmp3_openRange(const char *path, const TrackRange *range, OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    if (!path || !*path || !range)
        return 0;
    return openFile(path, range, info);
}

int32_t vbmp3_queueNextRange(const char *path, const TrackRange *range)
{
    if (!path || !*path)
        return queueFile(nullptr, nullptr);
    if (!range)
        return queueFile(path, nullptr, true);
    return queueFile(path, range);
}

int32_t vbmp3_getOpenInfo(OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    return withEngine(0, [&](vbmp3::Engine &e) { return e.openInfo(info); });
}

int32_t vbmp3_getStreamInfo(StreamInfo *info)
{
    if (!info)
        return 0;
    std::memset(info, 0, sizeof *info);
    return withEngine(0, [&](vbmp3::Engine &e) { return e.streamInfo(info); });
}

int32_t vbmp3_close(void)
{
    return withEngine(0, [](vbmp3::Engine &e) { return e.close() ? 1 : 0; });
}

int32_t vbmp3_play(void)
{
    return withEngine(0, [](vbmp3::Engine &e) { return e.play() ? 1 : 0; });
}

int32_t vbmp3_stop(void)
{
    return withEngine(0, [](vbmp3::Engine &e) { return e.stop() ? 1 : 0; });
}

int32_t vbmp3_pause(void)
{
    return withEngine(0, [](vbmp3::Engine &e) { return e.pause() ? 1 : 0; });
}

int32_t vbmp3_restart(void)
{
    return withEngine(0, [](vbmp3::Engine &e) { return e.restart() ? 1 : 0; });
}

int32_t vbmp3_seek(int32_t seconds)
{
    return withEngine(0, [&](vbmp3::Engine &e) { return e.seek(seconds) ? 1 : 0; });
}

int32_t vbmp3_getState(int32_t *elapsedSeconds)
{
    if (elapsedSeconds)
        *elapsedSeconds = 0;
    return withEngine(int32_t { VBMP3_STOPPED }, [&](vbmp3::Engine &e) { return e.state(elapsedSeconds); });
}

int32_t vbmp3_getFileType(const char *path)
{
    if (!path || !*path)
        return VBMP3_TYPE_UNKNOWN;
    return guarded(int32_t { VBMP3_TYPE_UNKNOWN }, [&] { return vbmp3::fileTypeCode(vbmp3::probeFile(path)); });
}

int32_t vbmp3_readLyrics3Data(void)
{
    return withEngine(0, [](vbmp3::Engine &e) { return e.readLyrics3Data() ? -1 : 0; });
}

int32_t vbmp3_readEmbeddedLyrics(void)
{
    return withEngine(0, [](vbmp3::Engine &e) { return e.readEmbeddedLyrics() ? 1 : 0; });
}

int32_t vbmp3_setLyricsFile(const char *path)
{
    return withEngine(0, [&](vbmp3::Engine &e) {
        if (!path || !*path) {
            e.setLyrics({});
            return 1;
        }
        if (!e.isOpen())
            return 0;
        std::optional<vbmp3::LyricsTimeline> timeline = vbmp3::LyricsTimeline::fromFile(path);
        return timeline && e.setLyrics(std::move(*timeline)) ? 1 : 0;
    });
}

int32_t vbmp3_getFileInfo2(const char *path, TagInfo *tag, MpegInfo *mpeg, ListInfo *list)
{
    if (tag)
        std::memset(tag, 0, sizeof *tag);
    if (mpeg)
        std::memset(mpeg, 0, sizeof *mpeg);
    if (list)
        std::memset(list, 0, sizeof *list);
    if (!path || !*path)
        return 0;
    return guarded(0, [&] {
        const std::string file = pathOf(path);
        TagInfo tagScratch;
        ListInfo listScratch;
        bool ok = vbmp3::readTagInfo(file, tag ? tag : &tagScratch);
        if (ok) {
            if (mpeg) // the MPEG facts cost a frame count: only when asked for
                vbmp3::readMpegInfo(file, mpeg);
            vbmp3::readListInfo(file, list ? list : &listScratch);
        }
        return ok ? 1 : 0;
    });
}

int32_t vbmp3_getFileTagInfo(const char *path, TagInfo *tag)
{
    if (tag)
        std::memset(tag, 0, sizeof *tag);
    if (!path || !*path || !tag)
        return 0;
    return guarded(0, [&] { return vbmp3::readTagInfo(path, tag) ? 1 : 0; });
}

int32_t vbmp3_getMpegInfo(MpegInfo *mpeg)
{
    if (!mpeg)
        return 0;
    std::memset(mpeg, 0, sizeof *mpeg);
    return withEngine(0, [&](vbmp3::Engine &e) { return e.mpegInfo(mpeg) ? 1 : 0; });
}

int32_t vbmp3_getSpectrum(int32_t *first, int32_t *second)
{
    int32_t scratch[vbmp3::BandAnalyzer::kBands];
    int32_t *a = first ? first : scratch;
    int32_t *b = second ? second : scratch;
    std::memset(a, 0, sizeof scratch);
    std::memset(b, 0, sizeof scratch);
    if (!first && !second)
        return 0;
    return withEngine(0, [&](vbmp3::Engine &e) {
        if (first && second) {
            e.spectrum(first, second);
        } else {
            int32_t other[vbmp3::BandAnalyzer::kBands];
            e.spectrum(first ? first : other, second ? second : other);
        }
        return 1;
    });
}

int32_t vbmp3_getLyrics(LyricsLines *lines)
{
    if (!lines)
        return 0;
    std::memset(lines, 0, sizeof *lines);
    lines->current = -1;
    return withEngine(0, [&](vbmp3::Engine &e) { return e.lyrics(lines) ? 1 : 0; });
}

int32_t vbmp3_getLyricsWait(void)
{
    return withEngine(-1, [](vbmp3::Engine &e) { return e.lyricsWait(); });
}

int32_t vbmp3_getVersion(void)
{
    return 100;
}

int32_t vbmp3_setEqualizer(const int32_t *bands)
{
    return withEngine(0, [&](vbmp3::Engine &e) {
        e.setEqualizer(bands);
        return 1;
    });
}

int32_t vbmp3_setOutput(const char *target)
{
    if (!target)
        return 0;
    return withEngine(0, [&](vbmp3::Engine &e) { return e.setOutput(std::string(target)) ? 1 : 0; });
}

uint32_t vbmp3_getOutputVolume(void)
{
    return withEngine(0xFFFFFFFFu, [](vbmp3::Engine &e) { return e.volume(); });
}

int32_t vbmp3_setOutputVolume(uint32_t word)
{
    return withEngine(0, [&](vbmp3::Engine &e) {
        e.setVolume(word);
        return 1;
    });
}

int32_t vbmp3_getOutputName(char *name, int32_t size)
{
    return copyOut(withEngine(std::string(), [](vbmp3::Engine &e) { return e.outputName(); }), name, size);
}

int32_t vbmp3_getOutputDevices(char *list, int32_t size)
{
    // Not under the library's lock: asking the sound server may take a second.
    const std::string text = guarded(std::string(), [] {
        std::string lines;
        for (const vbmp3::OutputDevice &device : vbmp3::outputDevices()) {
            std::string description = device.description;
            std::replace_if(
                description.begin(), description.end(), [](char c) { return c == '\t' || c == '\n'; }, ' ');
            lines += device.id + '\t' + description + '\n';
        }
        return lines;
    });
    return copyOut(text, list, size);
}

int32_t vbmp3_setOutputDevice(const char *device)
{
    return withEngine(0, [&](vbmp3::Engine &e) { return e.setOutputDevice(device ? device : "") ? 1 : 0; });
}

int32_t vbmp3_setReplayGain(const ReplayGainOption *option)
{
    if (!option)
        return 0;
    return withEngine(0, [&](vbmp3::Engine &e) { return e.setReplayGain(*option) ? 1 : 0; });
}

int32_t vbmp3_getOutputDevice(char *device, int32_t size)
{
    return copyOut(withEngine(std::string(), [](vbmp3::Engine &e) { return e.outputDevice(); }), device, size);
}

int32_t vbmp3_getPositionMs(void)
{
    return withEngine(
        0, [](vbmp3::Engine &e) { return static_cast<int32_t>(std::clamp<int64_t>(e.heardMs(), 0, INT32_MAX)); });
}

int32_t vbmp3_getFilePicture(const char *path, void *buffer, int32_t size, char *mimeType)
{
    if (mimeType)
        mimeType[0] = '\0';
    if (!path || !*path)
        return 0;
    return guarded(0, [&] {
        const std::optional<vbmp3::Picture> picture = vbmp3::readPicture(std::string(path));
        if (!picture)
            return 0;
        if (mimeType) {
            const size_t n = std::min<size_t>(picture->mimeType.size(), VBMP3_MIME_TYPE_SIZE - 1);
            std::memcpy(mimeType, picture->mimeType.data(), n);
            mimeType[n] = '\0';
        }
        const auto needed = static_cast<int32_t>(picture->data.size());
        if (buffer && size >= needed)
            std::memcpy(buffer, picture->data.data(), picture->data.size());
        return needed;
    });
}

int32_t vbmp3_getFileCueSheet(const char *path, char *buffer, int32_t size)
{
    if (!path || !*path)
        return 0;
    return guarded(0, [&] {
        const std::optional<std::string> sheet = vbmp3::readCueSheet(std::string(path));
        if (!sheet)
            return 0;
        const auto needed = static_cast<int32_t>(sheet->size()); // at most kMaxCueSheet
        if (buffer && size >= needed)
            std::memcpy(buffer, sheet->data(), sheet->size());
        return needed;
    });
}

// Streams are not built yet: every URL is refused, and no open file is a stream.
int32_t vbmp3_openUrl(const char *, OpenInfo *info)
{
    if (info)
        *info = OpenInfo {};
    return 0;
}

int32_t vbmp3_getStreamState(StreamState *state)
{
    if (state)
        *state = StreamState {};
    return 0;
}

Vbmp3Reader *vbmp3_readerOpen(const char *path, const TrackRange *range, int32_t *sampleRate, int32_t *channels)
{
    if (sampleRate)
        *sampleRate = 0;
    if (channels)
        *channels = 0;
    if (!path || !*path || notRegularFile(path))
        return nullptr;
    return guarded(static_cast<Vbmp3Reader *>(nullptr), [&]() -> Vbmp3Reader * {
        const vbmp3::FileLayout layout = vbmp3::probeFile(path);
        vbmp3::SourceOptions options;
        options.estimateLongLength = true; // read to the end anyway: no count through first
        std::unique_ptr<vbmp3::Source> source = vbmp3::openSource(path, layout, options);
        if (range)
            source = vbmp3::openRangeSource(std::move(source), *range);
        if (!source)
            return nullptr;
        if (sampleRate)
            *sampleRate = source->info().rate;
        if (channels)
            *channels = source->info().channels;
        return new Vbmp3Reader { std::move(source) };
    });
}

int32_t vbmp3_readerRead(Vbmp3Reader *reader, float *buffer, int32_t frames)
{
    if (!reader || !buffer || frames < 0)
        return -1;
    return guarded(int32_t { -1 },
        [&] { return static_cast<int32_t>(reader->source->read(buffer, static_cast<size_t>(frames))); });
}

void vbmp3_readerClose(Vbmp3Reader *reader)
{
    delete reader;
}

int32_t vbmp3_getFileSortTags(const char *path, SortTags *tags)
{
    if (tags)
        *tags = SortTags {};
    if (!path || !*path)
        return 0;
    return guarded(0, [&] { return vbmp3::readSortTags(std::string(path), tags) ? 1 : 0; });
}

} // extern "C"
