#include "fakedecoder.h"

#include "playbackstate.h"

#include <algorithm>
#include <cctype>
#include <cstring>

using namespace kes;

namespace
{

FakeDecoder &fake()
{
    return FakeDecoder::instance();
}

// Runs f with the fake's lock held.
template <typename F> auto locked(F f)
{
    std::lock_guard lock(fake().mutex);
    return f(fake());
}

template <typename Map, typename Record> bool lookup(const Map &map, const char *path, Record *out)
{
    auto it = map.find(path ? path : "");
    if (it == map.end())
        return false;
    if (out)
        *out = it->second;
    return true;
}

// Records the call; always 1 (the library's success).
int32_t ok(const char *name)
{
    fake().record(name);
    return 1;
}

void moveState(int32_t from, int32_t to)
{
    if (fake().state == from)
        fake().state = to;
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
    a.close = [] { return ok("close"); };
    a.setLyrics3Use = [](int32_t) { return ok("setLyrics3Use"); };
    a.callback = [](void (*proc)(int32_t, int32_t)) {
        fake().record("callback");
        return locked([&](FakeDecoder &f) { return f.callback = proc, 1; });
    };
    a.stopCallback = [] {
        fake().record("stopCallback");
        return locked([](FakeDecoder &f) {
            f.callbackActiveAtStopCallback = playback().CallbackActive.load();
            return f.callback = nullptr, 1;
        });
    };
    a.setVbmp3Option = [](const Vbmp3Option *o) {
        if (ok("setVbmp3Option") && o)
            fake().vbmp3Option = *o;
        return fake().setVbmp3OptionResult;
    };
    a.setDecodeOption = [](const DecodeOption *o) {
        if (ok("setDecodeOption") && o)
            fake().decodeOption = *o;
        return fake().setDecodeOptionResult;
    };
    a.open = [](const char *path, OpenInfo *info) {
        fake().openedPath = ok("open") && path ? path : "";
        if (fake().openResult && info)
            *info = fake().openInfo;
        return fake().openResult;
    };
    a.play = [] {
        if (ok("play") && fake().playResult)
            fake().state = VBMP3_PLAYING, fake().elapsed = 0;
        return fake().playResult;
    };
    a.stop = [] { return fake().state = VBMP3_STOPPED, ok("stop"); };
    a.pause = [] { return moveState(VBMP3_PLAYING, VBMP3_PAUSED), ok("pause"); };
    a.restart = [] { return moveState(VBMP3_PAUSED, VBMP3_PLAYING), ok("restart"); };
    a.seek = [](int32_t s) {
        fake().seeks.push_back(s);
        return fake().elapsed = s, ok("seek");
    };
    a.getState = [](int32_t *elapsed) { // a query, polled by every tick: not recorded
        if (elapsed)
            *elapsed = fake().elapsed;
        return fake().state;
    };
    a.getFileType = [](const char *path) {
        return locked([&](FakeDecoder &f) {
            int32_t type = 0;
            return lookup(f.fileTypes, path, &type) ? type : fakeTypeFromName(path ? path : "");
        });
    };
    a.readLyrics3Data = [] { return ok("readLyrics3Data") ? fake().lyrics3Result : 0; };
    a.setLyricsFile = [](const char *path) {
        fake().lyricsFile = path ? path : "";
        return ok("setLyricsFile");
    };
    a.getFileInfo2 = [](const char *path, TagInfo *tag, MpegInfo *mpeg, ListInfo *list) {
        return locked([&](FakeDecoder &f) {
            lookup(f.tags, path, tag);
            lookup(f.lists, path, list);
            if (mpeg)
                *mpeg = {}, ++f.mpegReads;
            return 1;
        });
    };
    a.getFileTagInfo = [](const char *path, TagInfo *tag) {
        return locked([&](FakeDecoder &f) { return lookup(f.tags, path, tag) ? 1 : 0; });
    };
    a.getMpegInfo = [](MpegInfo *mpeg) {
        locked([](FakeDecoder &f) { return ++f.mpegReads; });
        if (mpeg)
            *mpeg = {};
        return 1;
    };
    a.getSpectrum = [](int32_t *first, int32_t *second) {
        std::copy(fake().spectrum1.begin(), fake().spectrum1.end(), first);
        std::copy(fake().spectrum2.begin(), fake().spectrum2.end(), second);
        return 1;
    };
    a.getLyrics = [](LyricsLines *l) {
        ++fake().lyricsQueries;
        if (l)
            *l = fake().lyrics;
        return 1;
    };
    a.getLyricsWait = [] { return fake().lyricsWait; };
    a.getVersion = [] { return fake().version; };
    a.setEqualizer = [](const int32_t *bands) {
        ++fake().equalizerCalls;
        fake().equalizer = bands ? std::vector<int32_t>(bands, bands + 10) : std::vector<int32_t> {};
        return ok("setEqualizer");
    };
    a.setOutput = [](const char *) { return 1; };
    a.getOutputVolume = [] { return fake().volume; };
    a.setOutputVolume = [](uint32_t w) { return fake().volume = w, ok("setOutputVolume"); };
    return a;
}

void FakeDecoder::reset()
{
    std::lock_guard lock(mutex);
    static_cast<FakeScript &>(*this) = FakeScript {};
}

void FakeDecoder::record(const char *name)
{
    std::lock_guard lock(mutex);
    m_calls.emplace_back(name);
}

std::vector<std::string> FakeDecoder::calls()
{
    std::lock_guard lock(mutex);
    return m_calls;
}

void FakeDecoder::clearCalls()
{
    std::lock_guard lock(mutex);
    m_calls.clear();
}

void FakeDecoder::endTrack()
{
    void (*cb)(int32_t, int32_t);
    {
        std::lock_guard lock(mutex);
        cb = callback;
    }
    if (cb)
        cb(VBMP3_MSG_END_OF_TRACK, 0);
}

int32_t fakeTypeFromName(const std::string &path)
{
    const auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    static const std::map<std::string, int32_t> types { { "mp3", 0 }, { "wav", 1 }, { "rmp", 2 }, { "avi", 8 },
        { "mpg", 8 }, { "wma", 8 } };
    const auto it = types.find(ext);
    return it == types.end() ? -1 : it->second;
}
