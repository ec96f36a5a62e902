// Fixtures for the vbmp3 tests: file bytes built in memory, sox/lame files, samples read back, a library session.
#pragma once

#include "../support/pulseserver.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

using Pairs = std::vector<std::pair<std::string, std::string>>;

inline std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

inline std::string writeFile(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

inline std::string repeat(const std::string &s, size_t times)
{
    std::string out;
    while (times-- > 0)
        out += s;
    return out;
}

// Little-endian numbers, RIFF chunks and forms.
inline const auto le16 = [](unsigned v) { return std::string { char(v & 0xFF), char((v >> 8) & 0xFF) }; };
inline const auto le32 = [](size_t v) { return le16(unsigned(v & 0xFFFF)) + le16(unsigned((v >> 16) & 0xFFFF)); };
inline const auto chunk = [](const std::string &id, const std::string &data) {
    return id + le32(data.size()) + data + std::string(data.size() % 2, '\0');
};
inline const auto riff = [](const std::string &form, const std::string &chunks) {
    return "RIFF" + le32(4 + chunks.size()) + form + chunks;
};

// A 16-bit PCM WAV whose header claims `rate` and `channels`, holding `data`.
inline std::string pcmWav(uint32_t rate, unsigned channels, const std::string &data)
{
    const std::string format = le16(1) + le16(channels) + le32(size_t(rate)) + le32(size_t(rate) * 2 * channels)
        + le16(2 * channels) + le16(16);
    return riff("WAVE", chunk("fmt ", format) + chunk("data", data));
}

// A LIST/INFO chunk of (id, text) pairs.
inline std::string infoList(const Pairs &texts)
{
    std::string body = "INFO";
    for (const auto &[id, text] : texts)
        body += chunk(id, text + '\0');
    return chunk("LIST", body);
}

inline std::string id3v1(
    const std::string &title, const std::string &artist, const std::string &album = {}, int genre = 255)
{
    const auto padded = [](const std::string &s) { return (s + std::string(30, '\0')).substr(0, 30); };
    return "TAG" + padded(title) + padded(artist) + padded(album) + "2001" + padded("note") + char(genre);
}

// Lyrics3 v2.00 of (id, data) fields.
inline std::string lyrics3v2(const Pairs &fields)
{
    const auto digits = [](size_t value, size_t width) {
        const std::string s = std::to_string(value);
        return std::string(width - s.size(), '0') + s;
    };
    std::string body = "LYRICSBEGIN";
    for (const auto &[id, data] : fields)
        body += id + digits(data.size(), 5) + data;
    return body + digits(body.size(), 6) + "LYRICS200";
}

// A temporary folder shared by the tests of one program, removed at exit.
const std::filesystem::path &workDir();
// Runs a shell command quietly in workDir(); true when it exits with 0.
bool run(const std::string &command);
bool haveTools(); // sox and lame can be run
// A file made once per program in workDir() by `command` ("%o" its path); "" and a failure when it failed.
std::string fixture(const std::string &name, const std::string &command);
// An MP3 made by lame from what sox makes with `format` and `effects`.
std::string mp3(
    const std::string &name, const std::string &format, const std::string &effects, const std::string &lame = "-b 128");

struct Pcm {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples; // interleaved
    size_t frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// What a command prints on its standard output (its errors dropped).
std::string outputOf(const std::string &command);

// Raw sample words of a file's bytes.
template <typename T> std::vector<T> samplesOf(const std::string &bytes)
{
    std::vector<T> out(bytes.size() / sizeof(T));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
    return out;
}

// The library's reports to the callback LibrarySession registers, counted from the test's start.
struct Reports {
    std::atomic<int> ends { 0 }, failed { 0 }, joins { 0 }, other { 0 };
    std::atomic<uint32_t> volumeWord { 0 }; // what the last VBMP3_MSG_VOLUME_CHANGED brought
};
Reports &reports();
void countReport(int32_t message, int32_t param);

// playToEnd's options: `next` queued, `whilePlaying` after play, failure taken for the end, the open's facts.
struct Play {
    std::string next;
    std::function<void()> whilePlaying;
    bool orFailure = false;
    OpenInfo *info = nullptr;
};

// A C-interface test: the counting callback, no sound server unless its own, freed at the end.
class LibrarySession : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // Waits until `count` end reports have come in all; false after the timeout.
    static bool waitForEnds(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Opens path, plays it as `how` says and waits for the end report; false when it does not open.
    static bool playToEnd(const std::string &path, const Play &how = {});
    // What the file output holds once path played to its end.
    static Pcm playToFile(const std::string &path, const std::function<void()> &whilePlaying = {});
};

// A WAV file (any format libsndfile reads) as 16-bit samples.
Pcm readWav(const std::string &path);

// The file decoded straight through the library's own source, interleaved; as 16-bit samples.
std::vector<float> decodeFloats(const std::string &path, int *rate = nullptr, int *channels = nullptr);
Pcm decodeDirect(const std::string &path);
// The same as integers of `bits` (24: exact for a 24-bit lossless file), interleaved.
std::vector<int32_t> decodeInts(const std::string &path, int bits);
