#include "fakedecoder.h"

#include "playbackstate.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

FakeDecoder &fake() { return FakeDecoder::instance(); }

int32_t f_init() { fake().record("init"); return 1; }
int32_t f_free() { fake().record("free"); return 1; }
int32_t f_callback(void (*proc)(int32_t, int32_t))
{
    fake().record("callback");
    std::lock_guard lock(fake().mutex);
    fake().callback = proc;
    return 1;
}
int32_t f_stopCallback()
{
    fake().record("stopCallback");
    std::lock_guard lock(fake().mutex);
    fake().callbackActiveAtStopCallback = playback().CallbackActive.load();
    fake().callback = nullptr;
    return 1;
}
int32_t f_setVbmp3Option(const Vbmp3Option *o)
{
    fake().record("setVbmp3Option");
    if (o)
        fake().vbmp3Option = *o;
    return fake().setVbmp3OptionResult;
}
int32_t f_setDecodeOption(const DecodeOption *o)
{
    fake().record("setDecodeOption");
    if (o)
        fake().decodeOption = *o;
    return fake().setDecodeOptionResult;
}
int32_t f_setLyrics3Use(int32_t) { fake().record("setLyrics3Use"); return 1; }
int32_t f_open(const char *path, OpenInfo *info)
{
    fake().record("open");
    fake().openedPath = path ? path : "";
    if (fake().openResult && info)
        *info = fake().openInfo;
    return fake().openResult;
}
int32_t f_close() { fake().record("close"); return 1; }
int32_t f_play()
{
    fake().record("play");
    if (fake().playResult) {
        fake().state = 1;
        fake().elapsed = 0;
    }
    return fake().playResult;
}
int32_t f_stop() { fake().record("stop"); fake().state = 0; return 1; }
int32_t f_pause() { fake().record("pause"); if (fake().state == 1) fake().state = 2; return 1; }
int32_t f_restart() { fake().record("restart"); if (fake().state == 2) fake().state = 1; return 1; }
int32_t f_seek(int32_t s) { fake().record("seek"); fake().seeks.push_back(s); fake().elapsed = s; return 1; }
int32_t f_getState(int32_t *elapsed)
{
    fake().record("getState");
    if (elapsed)
        *elapsed = fake().elapsed;
    return fake().state;
}
int32_t f_getFileType(const char *path)
{
    std::lock_guard lock(fake().mutex);
    std::string p = path ? path : "";
    auto it = fake().fileTypes.find(p);
    return it != fake().fileTypes.end() ? it->second : fakeTypeFromName(p);
}
int32_t f_readLyrics3Data() { fake().record("readLyrics3Data"); return fake().lyrics3Result; }
int32_t f_setLyricsFile(const char *path)
{
    fake().record("setLyricsFile");
    fake().lyricsFile = path ? path : "";
    return 1;
}
int32_t f_getFileInfo2(const char *path, TagInfo *tag, MpegInfo *mpeg, ListInfo *list)
{
    std::lock_guard lock(fake().mutex);
    std::string p = path ? path : "";
    if (tag) {
        auto it = fake().tags.find(p);
        if (it != fake().tags.end())
            *tag = it->second;
    }
    if (list) {
        auto it = fake().lists.find(p);
        if (it != fake().lists.end())
            *list = it->second;
    }
    if (mpeg)
        std::memset(mpeg, 0, sizeof *mpeg);
    return 1;
}
int32_t f_getFileTagInfo(const char *path, TagInfo *tag)
{
    std::lock_guard lock(fake().mutex);
    auto it = fake().tags.find(path ? path : "");
    if (it == fake().tags.end())
        return 0;
    if (tag)
        *tag = it->second;
    return 1;
}
int32_t f_getMpegInfo(MpegInfo *mpeg)
{
    if (mpeg)
        std::memset(mpeg, 0, sizeof *mpeg);
    return 1;
}
int32_t f_getSpectrum(int32_t *a, int32_t *b)
{
    std::copy(fake().spectrum1.begin(), fake().spectrum1.end(), a);
    std::copy(fake().spectrum2.begin(), fake().spectrum2.end(), b);
    return 1;
}
int32_t f_getLyrics(LyricsLines *l)
{
    if (l)
        *l = fake().lyrics;
    return 1;
}
int32_t f_getVersion() { return fake().version; }
int32_t f_setEqualizer(const int32_t *bands)
{
    fake().record("setEqualizer");
    ++fake().equalizerCalls;
    fake().equalizer = bands ? std::vector<int32_t>(bands, bands + 10) : std::vector<int32_t>{};
    return 1;
}
int32_t f_setOutput(const char *) { return 1; }
uint32_t f_getOutputVolume() { return fake().volume; }
int32_t f_setOutputVolume(uint32_t w) { fake().record("setOutputVolume"); fake().volume = w; return 1; }

} // namespace

FakeDecoder &FakeDecoder::instance()
{
    static FakeDecoder f;
    return f;
}

DecoderApi FakeDecoder::api()
{
    DecoderApi a;
    a.init = f_init;
    a.free = f_free;
    a.callback = f_callback;
    a.stopCallback = f_stopCallback;
    a.setVbmp3Option = f_setVbmp3Option;
    a.setDecodeOption = f_setDecodeOption;
    a.setLyrics3Use = f_setLyrics3Use;
    a.open = f_open;
    a.close = f_close;
    a.play = f_play;
    a.stop = f_stop;
    a.pause = f_pause;
    a.restart = f_restart;
    a.seek = f_seek;
    a.getState = f_getState;
    a.getFileType = f_getFileType;
    a.readLyrics3Data = f_readLyrics3Data;
    a.setLyricsFile = f_setLyricsFile;
    a.getFileInfo2 = f_getFileInfo2;
    a.getFileTagInfo = f_getFileTagInfo;
    a.getMpegInfo = f_getMpegInfo;
    a.getSpectrum = f_getSpectrum;
    a.getLyrics = f_getLyrics;
    a.getVersion = f_getVersion;
    a.setEqualizer = f_setEqualizer;
    a.setOutput = f_setOutput;
    a.getOutputVolume = f_getOutputVolume;
    a.setOutputVolume = f_setOutputVolume;
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
