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

} // namespace

FakeDecoder &FakeDecoder::instance()
{
    static FakeDecoder f;
    return f;
}

DecoderApi FakeDecoder::api()
{
    DecoderApi a;
    a.init = [] {
        fake().record("init");
        return 1;
    };
    a.free = [] {
        fake().record("free");
        return 1;
    };
    a.callback = [](void (*proc)(int32_t, int32_t)) {
        fake().record("callback");
        return locked([&](FakeDecoder &f) {
            f.callback = proc;
            return 1;
        });
    };
    a.stopCallback = [] {
        fake().record("stopCallback");
        return locked([](FakeDecoder &f) {
            f.callbackActiveAtStopCallback = playback().CallbackActive.load();
            f.callback = nullptr;
            return 1;
        });
    };
    a.setVbmp3Option = [](const Vbmp3Option *o) {
        fake().record("setVbmp3Option");
        if (o)
            fake().vbmp3Option = *o;
        return fake().setVbmp3OptionResult;
    };
    a.setDecodeOption = [](const DecodeOption *o) {
        fake().record("setDecodeOption");
        if (o)
            fake().decodeOption = *o;
        return fake().setDecodeOptionResult;
    };
    a.setLyrics3Use = [](int32_t) {
        fake().record("setLyrics3Use");
        return 1;
    };
    a.open = [](const char *path, OpenInfo *info) {
        fake().record("open");
        fake().openedPath = path ? path : "";
        if (fake().openResult && info)
            *info = fake().openInfo;
        return fake().openResult;
    };
    a.close = [] {
        fake().record("close");
        return 1;
    };
    a.play = [] {
        fake().record("play");
        if (fake().playResult) {
            fake().state = VBMP3_PLAYING;
            fake().elapsed = 0;
        }
        return fake().playResult;
    };
    a.stop = [] {
        fake().record("stop");
        fake().state = VBMP3_STOPPED;
        return 1;
    };
    a.pause = [] {
        fake().record("pause");
        if (fake().state == VBMP3_PLAYING)
            fake().state = VBMP3_PAUSED;
        return 1;
    };
    a.restart = [] {
        fake().record("restart");
        if (fake().state == VBMP3_PAUSED)
            fake().state = VBMP3_PLAYING;
        return 1;
    };
    a.seek = [](int32_t s) {
        fake().record("seek");
        fake().seeks.push_back(s);
        fake().elapsed = s;
        return 1;
    };
    a.getState = [](int32_t *elapsed) {
        fake().record("getState");
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
    a.readLyrics3Data = [] {
        fake().record("readLyrics3Data");
        return fake().lyrics3Result;
    };
    a.setLyricsFile = [](const char *path) {
        fake().record("setLyricsFile");
        fake().lyricsFile = path ? path : "";
        return 1;
    };
    a.getFileInfo2 = [](const char *path, TagInfo *tag, MpegInfo *mpeg, ListInfo *list) {
        return locked([&](FakeDecoder &f) {
            lookup(f.tags, path, tag);
            lookup(f.lists, path, list);
            if (mpeg) {
                *mpeg = {};
                ++f.mpegReads;
            }
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
        fake().record("setEqualizer");
        ++fake().equalizerCalls;
        fake().equalizer = bands ? std::vector<int32_t>(bands, bands + 10) : std::vector<int32_t> {};
        return 1;
    };
    a.setOutput = [](const char *) { return 1; };
    a.getOutputVolume = [] { return fake().volume; };
    a.setOutputVolume = [](uint32_t w) {
        fake().record("setOutputVolume");
        fake().volume = w;
        return 1;
    };
    return a;
}

void FakeDecoder::reset()
{
    std::lock_guard lock(mutex);
    openResult = 1;
    openInfo = {};
    playResult = 1;
    state = 0;
    elapsed = 0;
    lyrics3Result = 0;
    version = 100;
    setVbmp3OptionResult = setDecodeOptionResult = 1;
    volume = 0xFFFFFFFFu;
    fileTypes.clear();
    tags.clear();
    lists.clear();
    lyrics = {};
    lyricsWait = -1;
    lyricsQueries = 0;
    mpegReads = 0;
    spectrum1.fill(0);
    spectrum2.fill(0);
    openedPath.clear();
    lyricsFile.clear();
    seeks.clear();
    equalizer.clear();
    equalizerCalls = 0;
    vbmp3Option = {};
    decodeOption = {};
    callback = nullptr;
    callbackActiveAtStopCallback = false;
    m_calls.clear();
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
    auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return -1;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == "mp3")
        return 0;
    if (ext == "wav")
        return 1;
    if (ext == "rmp")
        return 2;
    if (ext == "avi" || ext == "mpg" || ext == "wma")
        return 8;
    return -1;
}
