#include "fakedecoder.h"

#include "decodercallback.h"

#include <QFileInfo>

#include <chrono>
#include <thread>
#include <utility>

using namespace kes;

namespace
{

FakeDecoder &F = FakeDecoder::instance();

// Records a command; 1, the library's success.
const auto ok = [](const char *name) { return F.calls.emplace_back(name), int32_t(1); };

// Copies map[path] to out when there is one; takes the lock, as the adder's worker reads too.
template <typename Map, typename Record> bool lookup(const Map &map, const char *path, Record *out)
{
    std::lock_guard lock(F.mutex);
    const auto it = map.find(path ? path : "");
    if (it != map.end() && out)
        *out = it->second;
    return it != map.end();
}

} // namespace

FakeDecoder &FakeDecoder::instance()
{
    static FakeDecoder f;
    return f;
}

DecoderApi FakeDecoder::api()
{
    DecoderApi a;
    a.init = [] { return ok("init"); };
    a.free = [] { return ok("free"); };
    a.close = [] {
        std::lock_guard lock(F.mutex);
        return F.queued.clear(), F.joinUnreported = false, ok("close");
    };
    a.setLyrics3Use = [](int32_t) { return ok("setLyrics3Use"); };
    a.callback = [](void (*proc)(int32_t, int32_t)) { return F.callback = proc, ok("callback"); };
    a.stopCallback = [] {
        F.callbackActiveAtStopCallback = callbackFlags().CallbackActive.load();
        return F.callback = nullptr, ok("stopCallback");
    };
    a.setVbmp3Option = [](const Vbmp3Option *) { return ok("setVbmp3Option"), F.setVbmp3OptionResult; };
    a.setDecodeOption = [](const DecodeOption *) { return ok("setDecodeOption"), F.setDecodeOptionResult; };
    a.open = [](const char *path, OpenInfo *info) {
        F.passGate();
        F.openedPath = ok("open") && path ? path : "";
        F.openedRange.reset();
        F.joinUnreported = false;
        if (F.openResult && info)
            *info = F.openInfo;
        return F.openResult;
    };
    a.openRange = [](const char *path, const TrackRange *range, OpenInfo *info) {
        F.openedPath = ok("openRange") && path ? path : "";
        F.openedRange = range ? std::optional(*range) : std::nullopt;
        F.joinUnreported = false;
        if (F.openResult && range && info)
            *info = F.openInfo;
        return range ? F.openResult : 0;
    };
    a.queueNext = [](const char *path) {
        if (path && *path && F.queueHook)
            F.queueHook(path);
        std::lock_guard lock(F.mutex);
        F.queueCalls.emplace_back(path ? path : "");
        if (path && *path)
            F.queueThreads.push_back(std::this_thread::get_id());
        if (F.joinUnreported)
            return int32_t(2);
        F.queuedRange.reset();
        if (F.queueResult == 1)
            F.queued = path ? path : "";
        else if (F.queueResult == 0)
            F.queued.clear();
        return F.queueResult;
    };
    a.queueNextRange = [](const char *path, const TrackRange *range) {
        if (path && *path && F.queueHook)
            F.queueHook(path);
        std::lock_guard lock(F.mutex);
        F.queueCalls.emplace_back(path ? path : "");
        if (path && *path)
            F.queueThreads.push_back(std::this_thread::get_id());
        if (F.joinUnreported)
            return int32_t(2);
        F.queuedRange = range ? std::optional(*range) : std::nullopt;
        if (F.queueResult == 1 && range)
            F.queued = path ? path : "";
        else
            F.queued.clear();
        return range ? F.queueResult : 0;
    };
    a.getFileCueSheet = [](const char *path, char *buffer, int32_t size) {
        std::string sheet;
        lookup(F.cueSheets, path, &sheet);
        const auto needed = static_cast<int32_t>(sheet.size());
        if (buffer && size >= needed)
            std::copy(sheet.begin(), sheet.end(), buffer);
        return needed;
    };
    // Version 9's groups answer as a library without streams or readers.
    a.openUrl = [](const char *, OpenInfo *info) {
        *info = OpenInfo {};
        return 0;
    };
    a.getStreamState = [](StreamState *state) {
        *state = StreamState {};
        return 0;
    };
    a.readerOpen = [](const char *, const TrackRange *, int32_t *, int32_t *) -> Vbmp3Reader * { return nullptr; };
    a.readerRead = [](Vbmp3Reader *, float *, int32_t) { return -1; };
    a.readerClose = [](Vbmp3Reader *) {};
    a.getFileSortTags = [](const char *path, SortTags *tags) {
        *tags = SortTags {};
        return lookup(F.sortTags, path, tags) ? 1 : 0;
    };
    a.getOpenInfo = [](OpenInfo *info) {
        if (info)
            *info = F.openInfo;
        return F.openedPath.empty() ? 0 : 2;
    };
    a.play = [] {
        F.joinUnreported = false;
        if (ok("play") && F.playResult)
            F.state = VBMP3_PLAYING, F.elapsed = 0;
        return F.playResult;
    };
    a.stop = [] {
        std::lock_guard lock(F.mutex);
        return F.state = VBMP3_STOPPED, F.queued.clear(), F.joinUnreported = false, ok("stop");
    };
    a.pause = [] { return F.state = F.state == VBMP3_PLAYING ? VBMP3_PAUSED : F.state, ok("pause"); };
    a.restart = [] { return F.state = F.state == VBMP3_PAUSED ? VBMP3_PLAYING : F.state, ok("restart"); };
    a.seek = [](int32_t s) { return F.seeks.push_back(F.elapsed = s), ok("seek"); };
    a.getState = [](int32_t *elapsed) { // a query, polled by every tick: not recorded
        if (elapsed)
            *elapsed = F.elapsed;
        return F.state;
    };
    a.getFileType = [](const char *path) {
        static const std::map<QString, int32_t> byEnding { { "mp3", 0 }, { "wav", 1 }, { "rmp", 2 }, { "avi", 8 },
            { "mpg", 8 }, { "wma", 8 }, { "flac", 3 }, { "ogg", 6 }, { "oga", 6 }, { "opus", 7 }, { "m4a", 9 },
            { "wv", 10 }, { "ape", 11 } };
        int32_t type = -1;
        const QString ending = QFileInfo(QString::fromUtf8(path ? path : "")).suffix().toLower();
        return lookup(F.fileTypes, path, &type) || !byEnding.contains(ending) ? type : byEnding.at(ending);
    };
    a.getPositionMs = [] { return F.elapsedMs >= 0 ? F.elapsedMs : F.elapsed * 1000; };
    a.getFilePicture = [](const char *path, void *buffer, int32_t size, char *mimeType) {
        std::pair<std::string, std::string> picture;
        const bool found = lookup(F.pictures, path, &picture);
        {
            std::lock_guard lock(F.mutex);
            ++F.pictureReads;
        }
        if (mimeType)
            qstrncpy(mimeType, picture.first.c_str(), VBMP3_MIME_TYPE_SIZE);
        const auto needed = static_cast<int32_t>(picture.second.size());
        if (found && buffer && size >= needed)
            std::copy(picture.second.begin(), picture.second.end(), static_cast<char *>(buffer));
        return needed;
    };
    a.readLyrics3Data = [] { return ok("readLyrics3Data") ? F.lyrics3Result : 0; };
    a.readEmbeddedLyrics = [] { return ok("readEmbeddedLyrics") ? F.embeddedLyricsResult : 0; };
    a.setLyricsFile = [](const char *path) { return F.lyricsFile = path ? path : "", ok("setLyricsFile"); };
    a.getFileInfo2 = [](const char *path, TagInfo *tag, MpegInfo *mpeg, ListInfo *list) {
        lookup(F.tags, path, tag);
        lookup(F.lists, path, list);
        if (mpeg && !lookup(F.mpegs, path, mpeg))
            *mpeg = {};
        std::lock_guard lock(F.mutex);
        if (mpeg)
            ++F.mpegReads;
        return 1;
    };
    a.getFileTagInfo = [](const char *path, TagInfo *tag) { return lookup(F.tags, path, tag) ? 1 : 0; };
    a.getSpectrum
        = [](int32_t *first, int32_t *second) { return std::fill_n(first, 256, 0), std::fill_n(second, 256, 0), 1; };
    a.getLyrics = [](LyricsLines *l) {
        if (l)
            *l = F.lyrics;
        return ++F.lyricsQueries, 1;
    };
    a.getLyricsWait = [] { return F.lyricsWait; };
    a.getStreamInfo = [](StreamInfo *info) {
        if (info)
            *info = F.openedPath.empty() ? StreamInfo {} : F.streamInfo;
        return F.openedPath.empty() ? 0 : 2;
    };
    a.getVersion = [] { return F.calls.emplace_back("getVersion"), int32_t(100); };
    a.setEqualizer = [](const int32_t *bands) {
        F.equalizer = bands ? std::vector<int32_t>(bands, bands + 10) : std::vector<int32_t> {};
        return ++F.equalizerCalls, ok("setEqualizer");
    };
    a.setOutput = [](const char *) { return 1; };
    a.getOutputDevices = [](char *list, int32_t size) {
        std::string text;
        int ms;
        {
            std::lock_guard lock(F.mutex);
            text = F.deviceList;
            ms = F.deviceListMs;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        if (list && size > 0)
            qstrncpy(list, text.c_str(), size);
        return int32_t(text.size());
    };
    a.setOutputDevice = [](const char *id) { return F.chosenDevice = id ? id : "", ok("setOutputDevice"); };
    a.getOutputDevice = [](char *id, int32_t size) {
        if (id && size > 0)
            qstrncpy(id, F.openDevice.c_str(), size);
        return int32_t(F.openDevice.size());
    };
    a.setReplayGain = [](const ReplayGainOption *o) {
        if (o)
            F.replayGain = *o;
        return ok("setReplayGain");
    };
    a.setNativeOutputFormat = [](int32_t) { return ok("setNativeOutputFormat"); };
    // The sound server, as on a desktop (tests of the other outputs set their own).
    a.getOutputName = [](char *name, int32_t size) {
        if (name && size > 0)
            qstrncpy(name, "pulse", size);
        return int32_t(5);
    };
    a.getOutputVolume = [] { return F.volume; };
    a.setOutputVolume = [](uint32_t w) { return F.volume = w, ok("setOutputVolume"); };
    return a;
}

bool FakeDecoder::joinQueued(bool report)
{
    {
        std::lock_guard lock(mutex);
        if (queued.empty())
            return false;
        openedPath = queued;
        openedRange = std::exchange(queuedRange, std::nullopt);
        queued.clear();
        elapsed = 0;
        joinUnreported = !report;
    }
    if (report && callback)
        callback(VBMP3_MSG_TRACK_JOINED, 0);
    return true;
}

void FakeDecoder::holdOpens(bool hold, int longestMs)
{
    std::lock_guard lock(m_gateMutex);
    m_holding = hold;
    m_longestMs = longestMs;
    m_gateChanged.notify_all();
}

bool FakeDecoder::waitForHeldOpen()
{
    std::unique_lock lock(m_gateMutex);
    return m_gateChanged.wait_for(lock, std::chrono::seconds(2), [this] { return m_held > 0; });
}

void FakeDecoder::passGate()
{
    std::unique_lock lock(m_gateMutex);
    ++m_held;
    m_gateChanged.notify_all();
    m_gateChanged.wait_for(lock, std::chrono::milliseconds(m_longestMs), [this] { return !m_holding; });
    --m_held;
}

void FakeDecoder::reset()
{
    holdOpens(false);
    std::lock_guard lock(mutex);
    static_cast<FakeScript &>(*this) = FakeScript {};
}
