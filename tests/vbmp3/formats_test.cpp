// The formats decoded through the C interface: the FLAC testbench, Vorbis streams, encoded signals, surround, damage.
#include "enginetestsupport.h"
#include "outputs/output.h"
#include "vbmp3.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <numbers>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace
{

const fs::path kTestdata = KESTRINE_SHARED_TESTDATA;

// A PCM WAV file as the file output writes it: samples at their container's width.
struct Wav {
    int format = 0; // 1 PCM, 0xFFFE WAVE_FORMAT_EXTENSIBLE
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int validBits = 0;
    uint32_t mask = 0;
    std::vector<int32_t> samples; // interleaved
    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
    int32_t at(size_t frame, int channel) const { return samples[frame * size_t(channels) + size_t(channel)]; }
};

std::optional<Wav> parseWav(const std::string &b)
{
    const auto u = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = v << 8 | uint8_t(b[at + size_t(i)]);
        return v;
    };
    if (b.size() < 12 || b.compare(0, 4, "RIFF") || b.compare(8, 4, "WAVE"))
        return std::nullopt;
    Wav w;
    for (size_t at = 12; at + 8 <= b.size();) {
        const std::string id = b.substr(at, 4);
        const size_t size = std::min<size_t>(u(at + 4, 4), b.size() - at - 8);
        if (id == "fmt " && size >= 16) {
            w = { int(u(at + 8, 2)), int(u(at + 10, 2)), int(u(at + 12, 4)), int(u(at + 22, 2)), int(u(at + 22, 2)), 0,
                {} };
            if (w.format == 0xFFFE && size >= 40) {
                w.validBits = int(u(at + 26, 2));
                w.mask = u(at + 28, 4);
            }
        } else if (id == "data" && w.bits > 0) {
            const size_t width = size_t(w.bits) / 8;
            for (size_t i = 0; i + width <= size; i += width) {
                const uint32_t raw = u(at + 8 + i, int(width));
                const int shift = 32 - w.bits;
                w.samples.push_back(int32_t(raw << shift) >> shift);
            }
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

// As 16-bit samples, the way readWav gives them.
std::vector<int16_t> to16(const Wav &w)
{
    std::vector<int16_t> out(w.samples.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int16_t(w.samples[i] >> (w.bits - 16));
    return out;
}

std::string md5Hex(const std::string &bytes)
{
    return outputOf("md5sum '" + writeFile(workDir() / "md5.raw", bytes) + "'").substr(0, 32);
}

// A FLAC file's STREAMINFO (the first one among its metadata blocks).
struct StreamInfoBlock {
    int rate = 0, channels = 0, bits = 0;
    int64_t total = 0; // 0: not stated
    std::string md5;
};

std::optional<StreamInfoBlock> streamInfoOf(const std::string &bytes)
{
    if (bytes.compare(0, 4, "fLaC") != 0)
        return std::nullopt;
    size_t at = 4; // block header: last flag and type, 24-bit length
    while (at + 4 + 34 <= bytes.size() && (bytes[at] & 0x7F) != 0 && !(bytes[at] & 0x80))
        at += 4 + (size_t(uint8_t(bytes[at + 1])) << 16 | size_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]));
    if (at + 4 + 34 > bytes.size() || (bytes[at] & 0x7F) != 0)
        return std::nullopt;
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data()) + at + 4;
    uint64_t v = 0;
    for (int i = 10; i < 18; ++i)
        v = v << 8 | b[i];
    StreamInfoBlock s { int(v >> 44), int((v >> 41) & 7) + 1, int((v >> 36) & 31) + 1,
        int64_t(v & ((uint64_t { 1 } << 36) - 1)), {} };
    char hex[3];
    for (int i = 18; i < 34; ++i)
        s.md5 += (std::snprintf(hex, sizeof hex, "%02x", b[i]), hex);
    return s;
}

// The samples as FLAC computes its MD5: each at its own width, little-endian in (bits + 7) / 8 bytes.
std::string flacMd5(const Wav &w, int bits)
{
    std::string bytes;
    const int bytesPer = (bits + 7) / 8;
    bytes.reserve(w.samples.size() * size_t(bytesPer));
    for (int32_t s : w.samples) {
        const int32_t v = s >> (w.bits - bits);
        for (int i = 0; i < bytesPer; ++i)
            bytes += char((uint32_t(v) >> (8 * i)) & 0xFF);
    }
    return md5Hex(bytes);
}

// Power of channel c of frames [from, from + n) at frequency hz.
double powerAt(const Wav &w, int c, double hz, size_t from, size_t n)
{
    double re = 0, im = 0;
    for (size_t i = 0; i < n && from + i < w.frames(); ++i) {
        const double phase = 2 * std::numbers::pi * hz * double(i) / w.rate;
        re += w.at(from + i, c) * std::cos(phase);
        im += w.at(from + i, c) * std::sin(phase);
    }
    return re * re + im * im;
}

// Signal-to-error ratio in dB of got against want (16-bit), frames [from, to), got shifted by lag frames.
double snrDb(const std::vector<int16_t> &want, const std::vector<int16_t> &got, int channels, size_t from, size_t to,
    long lag = 0)
{
    double signal = 0, error = 0;
    for (size_t f = from; f < to; ++f) {
        const long g = long(f) + lag;
        if (g < 0 || size_t(g) * size_t(channels) >= got.size() || f * size_t(channels) >= want.size())
            continue;
        for (int c = 0; c < channels; ++c) {
            const double x = want[f * size_t(channels) + size_t(c)];
            signal += x * x;
            error += std::pow(x - got[size_t(g) * size_t(channels) + size_t(c)], 2);
        }
    }
    return 10 * std::log10(signal / std::max(error, 1e-9));
}

// libvorbisfile's own decode, rounded as the file output rounds, in the WAVE channel order; nullopt when refused.
std::optional<Pcm> vorbisReference(const std::string &path)
{
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0)
        return std::nullopt;
    Pcm pcm;
    const vorbis_info *info = ov_info(&vf, -1);
    pcm.rate = int(info->rate);
    pcm.channels = info->channels;
    static const int kSix[6] = { 0, 2, 1, 5, 3, 4 };
    float **planes = nullptr;
    int link = 0, holes = 0;
    for (long n; (n = ov_read_float(&vf, &planes, 4096, &link)) != 0;) {
        if (n < 0) {
            if (n == OV_HOLE && ++holes < 64)
                continue;
            break;
        }
        for (long i = 0; i < n; ++i)
            for (int c = 0; c < pcm.channels; ++c)
                pcm.samples.push_back(vbmp3::floatToS16(planes[pcm.channels == 6 ? kSix[c] : c][i]));
    }
    ov_clear(&vf);
    return pcm;
}

// The size of the Ogg page at `at`, as its segment table tells it.
size_t oggPageSize(const std::string &bytes, size_t at)
{
    const size_t segments = uint8_t(bytes[at + 26]);
    size_t size = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        size += uint8_t(bytes[at + 27 + i]);
    return size;
}

// Writes the CRC of the Ogg page at `at` into its header.
void setOggCrc(std::string &bytes, size_t at)
{
    const size_t size = oggPageSize(bytes, at);
    std::memset(bytes.data() + at + 22, 0, 4);
    uint32_t crc = 0;
    for (size_t i = at; i < at + size; ++i) {
        crc ^= uint32_t(uint8_t(bytes[i])) << 24;
        for (int b = 0; b < 8; ++b)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    for (int k = 0; k < 4; ++k)
        bytes[at + 22 + size_t(k)] = char(crc >> (8 * k));
}

class Formats : public LibrarySession
{
protected:
    void SetUp() override
    {
        if (!run("command -v sox && command -v flac && command -v oggenc && command -v opusenc && command -v ffmpeg"
                 " && command -v wavpack"))
            GTEST_SKIP() << "sox, flac, oggenc, opusenc, ffmpeg and wavpack are needed to make the fixtures";
        LibrarySession::SetUp();
    }
    // Plays path through the file output with a seek paused for (so that it cannot end first); tries again if it did.
    static std::optional<Wav> playWithSeek(const std::string &path, int32_t seconds)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            bool sought = false;
            std::optional<Wav> out = playToFile(
                path, [&] { sought = vbmp3_pause() == 1 && vbmp3_seek(seconds) == 1 && vbmp3_restart() == 1; });
            if (sought)
                return out;
        }
        ADD_FAILURE() << "the track always ended before the seek";
        return std::nullopt;
    }

    // Plays path through the file output to its end or failure; nullopt when it does not open.
    static std::optional<Wav> playToFile(
        const std::string &path, const std::function<void()> &whilePlaying = {}, OpenInfo *info = nullptr)
    {
        const std::string out = (workDir() / "out.wav").string();
        EXPECT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
        if (!playToEnd(path, { .whilePlaying = whilePlaying, .orFailure = true, .info = info }))
            return std::nullopt;
        return parseWav(readFile(out));
    }
};

// The other projects' suites, a row a folder: the FLAC testbench's subset plays to its STREAMINFO MD5s, its
// faulty files are refused or end no later than their STREAMINFO says, and every libnogg Vorbis stream comes
// out as libvorbisfile decodes it (a rate of 2^32 - 1 refused).
TEST_F(Formats, SuitesDecodeAsTheirReferencesSay)
{
    // FLAC's channel layouts (the testbench's README names them) in WAVE speaker bits; mono is the centre.
    const std::map<int, uint32_t> masks
        = { { 1, 0x4 }, { 2, 0x3 }, { 3, 0x7 }, { 4, 0x33 }, { 5, 0x37 }, { 6, 0x3F }, { 7, 0x70F }, { 8, 0x63F } };
    int refused = 0; // of the faulty files
    const auto subset = [&](const fs::path &file) {
        const std::string path = file.string();
        const std::optional<StreamInfoBlock> si = streamInfoOf(readFile(path));
        ASSERT_TRUE(si);
        EXPECT_EQ(vbmp3_getFileType(path.c_str()), VBMP3_TYPE_FLAC);
        OpenInfo info;
        const std::optional<Wav> out = playToFile(path, {}, &info);
        ASSERT_TRUE(out) << "refused";
        EXPECT_TRUE(std::string(info.text1)
                        .starts_with("FLAC " + std::to_string(si->bits) + "-bit, " + std::to_string(si->rate) + " Hz"))
            << info.text1;
        EXPECT_STREQ(info.text2, "vbmp3/libFLAC");
        EXPECT_GT(info.bitrate, 0);
        const int64_t total = si->total > 0 ? si->total : int64_t(out->frames());
        EXPECT_EQ(std::tuple(info.frequency, info.totalSeconds), std::tuple(si->rate, int(total / si->rate)));
        StreamInfo stream;
        EXPECT_EQ(vbmp3_getStreamInfo(&stream), 2);
        EXPECT_EQ(std::tuple(stream.codec, stream.channels, stream.bitsPerSample, stream.lossless, stream.totalFrames),
            std::tuple(VBMP3_CODEC_FLAC, si->channels, si->bits, 1, total));
        EXPECT_EQ(std::tuple(out->channels, out->rate, out->bits, int64_t(out->frames())),
            std::tuple(si->channels, si->rate, si->bits > 16 ? 24 : 16, total));
        if (si->channels > 2 || si->bits > 16) {
            EXPECT_EQ(std::tuple(out->format, out->validBits, out->mask, stream.channelMask),
                std::tuple(0xFFFE, si->bits, masks.at(si->channels), masks.at(si->channels)));
        }
        EXPECT_EQ(flacMd5(*out, si->bits), si->md5);
    };
    const auto faulty = [&](const fs::path &file) {
        const std::optional<StreamInfoBlock> si = streamInfoOf(readFile(file.string()));
        const std::optional<Wav> out = playToFile(file.string());
        if (!out) {
            ++refused;
            EXPECT_EQ(vbmp3_play(), 0);
            return;
        }
        ASSERT_TRUE(si) << "played without a STREAMINFO first";
        EXPECT_EQ(std::tuple(out->channels, out->rate), std::tuple(si->channels, si->rate));
        EXPECT_LE(int64_t(out->frames()), si->total);
    };
    const auto vorbis = [&](const fs::path &file) {
        const std::optional<Pcm> reference = vorbisReference(file.string());
        const std::optional<Wav> out = playToFile(file.string());
        if (file.filename() == "sample-rate-max.ogg" || !reference || reference->samples.empty()) {
            EXPECT_TRUE(!out || (out->frames() == 0 && file.filename() != "sample-rate-max.ogg"));
            return;
        }
        ASSERT_TRUE(out) << "refused";
        EXPECT_EQ(
            std::tuple(out->rate, out->channels, out->bits), std::tuple(reference->rate, reference->channels, 16));
        EXPECT_EQ(out->frames(), reference->frames()) << "the exact length";
        EXPECT_TRUE(to16(*out) == reference->samples) << "to the sample, within 0 LSB";
    };
    const struct {
        const char *folder, *extension;
        std::function<void(const fs::path &)> check;
        int files;
    } suites[]
        = { { "flac-conformance/subset", ".flac", subset, 39 }, { "flac-conformance/faulty", ".flac", faulty, 11 },
              { "vorbis-libnogg", ".ogg", vorbis, -20 } }; // negative: at least that many
    for (const auto &suite : suites) {
        const fs::path dir = kTestdata / suite.folder;
        if (!fs::is_directory(dir)) {
            std::cout << dir << " is absent: skipped\n";
            continue;
        }
        int files = 0;
        for (const auto &entry : fs::directory_iterator(dir))
            if (entry.path().extension() == suite.extension) {
                SCOPED_TRACE(entry.path());
                ++files;
                suite.check(entry.path());
            }
        EXPECT_TRUE(suite.files < 0 ? files >= -suite.files : files == suite.files) << suite.folder << ": " << files;
    }
    EXPECT_TRUE(refused >= 3 || !fs::is_directory(kTestdata / suites[1].folder))
        << "03 and 04 contradict their STREAMINFO, 11 has none readable";
}

// A known signal through each encoder comes back exactly as long, in place, within its tolerance, and seeks exactly.
TEST_F(Formats, GeneratedSignalsComeBackWhole)
{
    constexpr size_t kFrames = 96777;
    const std::string source = fixture("signal.wav",
        "sox -n -r 48000 -c 2 -b 16 %o synth " + std::to_string(kFrames) + "s sine 200-6000 sine 1000 gain -4");
    const std::vector<int16_t> want = readWav(source).samples;
    ASSERT_EQ(want.size(), 2 * kFrames);
    const auto made
        = [&](const std::string &name, const std::string &command) { return fixture(name, command + " 2>/dev/null"); };
    const struct {
        std::string path;
        int type, codec;
        std::string text1, text2;
        bool lossless;
    } rows[] = {
        { made("signal.flac", "flac -s -f -o %o signal.wav"), VBMP3_TYPE_FLAC, VBMP3_CODEC_FLAC,
            "FLAC 16-bit, 48000 Hz, Stereo", "vbmp3/libFLAC", true },
        { made("signal.oga", "flac -s -f --ogg -o %o signal.wav"), VBMP3_TYPE_OGG_FLAC, VBMP3_CODEC_FLAC,
            "Ogg FLAC 16-bit, 48000 Hz, Stereo", "vbmp3/libFLAC", true },
        { made("signal.wv", "wavpack -q -y signal.wav -o %o"), VBMP3_TYPE_WAVPACK, VBMP3_CODEC_WAVPACK,
            "WavPack 16-bit, 48000 Hz, Stereo", "vbmp3/libwavpack", true },
        { made("signal-alac.m4a", "ffmpeg -v error -y -i signal.wav -c:a alac %o"), VBMP3_TYPE_MP4, VBMP3_CODEC_ALAC,
            "MP4 ALAC 16-bit, 48000 Hz, Stereo", "vbmp3/FFmpeg", true },
        { made("signal.ogg", "oggenc -Q -q 6 -o %o signal.wav"), VBMP3_TYPE_OGG_VORBIS, VBMP3_CODEC_VORBIS,
            "Ogg Vorbis, 48000 Hz, Stereo", "vbmp3/libvorbisfile", false },
        { made("signal.opus", "opusenc --quiet --bitrate 160 signal.wav %o"), VBMP3_TYPE_OGG_OPUS, VBMP3_CODEC_OPUS,
            "Ogg Opus, 48000 Hz, Stereo", "vbmp3/libopusfile", false },
        // The movie time scale at the track's rate, so that the edit list can state the length to the sample.
        { made("signal.m4a", "ffmpeg -v error -y -i signal.wav -c:a aac -b:a 192k -movie_timescale 48000 %o"),
            VBMP3_TYPE_MP4, VBMP3_CODEC_AAC, "MP4 AAC LC, 48000 Hz, Stereo", "vbmp3/FFmpeg", false },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        ASSERT_FALSE(row.path.empty());
        EXPECT_EQ(vbmp3_getFileType(row.path.c_str()), row.type);
        OpenInfo info;
        const std::optional<Wav> straight = playToFile(row.path, {}, &info);
        ASSERT_TRUE(straight) << "refused";
        EXPECT_EQ(std::tuple(std::string(info.text1), std::string(info.text2), info.frequency, info.totalSeconds),
            std::tuple(row.text1, row.text2, 48000, 2));
        EXPECT_GT(info.bitrate, 0);
        // The file's facts without opening it: rate, bit rate and length from its headers (AAC's counting its priming).
        MpegInfo facts;
        ASSERT_EQ(vbmp3_getFileInfo2(row.path.c_str(), nullptr, &facts, nullptr), 1);
        EXPECT_EQ(facts.value[3], 48000);
        EXPECT_NEAR(facts.value[2], info.bitrate, info.bitrate / 5 + 8);
        EXPECT_NEAR(facts.value[11], kFrames * 1000 / 48000, 50);
        StreamInfo stream;
        ASSERT_EQ(vbmp3_getStreamInfo(&stream), 2);
        EXPECT_EQ(std::tuple(stream.codec, stream.lossless, stream.bitsPerSample, stream.totalFrames),
            std::tuple(row.codec, int(row.lossless), row.lossless ? 16 : 0, int64_t(kFrames)));
        ASSERT_EQ(std::tuple(straight->rate, straight->channels, straight->frames()), std::tuple(48000, 2, kFrames));
        const std::vector<int16_t> got = to16(*straight);
        if (row.lossless) {
            EXPECT_TRUE(got == want);
        } else {
            const double snr = snrDb(want, got, 2, 0, kFrames);
            std::cout << fs::path(row.path).filename().string() << ": " << snr << " dB";
            EXPECT_GE(snr, 20.0);
            for (long lag = -32; lag <= 32; ++lag)
                EXPECT_TRUE(lag == 0 || snrDb(want, got, 2, 2000, kFrames - 2000, lag) < snr) << "lag " << lag;
        }

        const std::optional<Wav> sought = playWithSeek(row.path, 1);
        ASSERT_TRUE(sought);
        ASSERT_GE(sought->frames(), kFrames - 48000);
        const size_t joined = sought->frames() - (kFrames - 48000); // frames before the seek took effect
        ASSERT_LE(joined, kFrames);
        const std::vector<int16_t> after = to16(*sought);
        EXPECT_TRUE(std::equal(after.begin(), after.begin() + ptrdiff_t(2 * joined), got.begin()));
        const std::vector<int16_t> tail(after.begin() + ptrdiff_t(2 * joined), after.end());
        const std::vector<int16_t> expected(got.begin() + 2 * 48000, got.end());
        if (row.lossless) {
            EXPECT_TRUE(tail == expected);
        } else {
            const double snr = snrDb(expected, tail, 2, 0, kFrames - 48000);
            std::cout << ", after a seek " << snr << " dB against a straight decode\n";
            EXPECT_GE(snr, 30.0);
        }
    }
}

// A FLAC without a stated length opens at once with an estimate, is counted to its exact length, and seeks.
TEST_F(Formats, FlacWithoutLengthIsCountedAfterOpen)
{
    std::string bytes = readFile(fixture("unstated.flac",
        "sox -n -r 48000 -c 2 -b 16 unstated.wav synth 70 whitenoise gain -3 && flac -s -f -0 -o %o unstated.wav"));
    ASSERT_TRUE(streamInfoOf(bytes) && bytes.size() > (8u << 20));
    bytes[8 + 13] = char(bytes[8 + 13] & 0xF0);
    std::memset(bytes.data() + 8 + 14, 0, 4);
    const std::string path = writeFile(workDir() / "unstated-zero.flac", bytes);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(path.c_str(), &info), 1);
    EXPECT_NEAR(info.totalSeconds, 70, 7) << "the estimate";
    int32_t state = 1;
    for (int i = 0; i < 500 && (state = vbmp3_getOpenInfo(&info)) == 1; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(state, 2);
    StreamInfo stream;
    EXPECT_EQ(vbmp3_getStreamInfo(&stream), 2);
    EXPECT_EQ(std::tuple(info.totalSeconds, stream.totalFrames), std::tuple(70, int64_t { 70 * 48000 }));
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    ASSERT_EQ(vbmp3_seek(60), 1);
    std::this_thread::sleep_for(300ms);
    int32_t elapsed = -1;
    EXPECT_EQ(std::pair(vbmp3_getState(&elapsed), elapsed), std::pair(int(VBMP3_PLAYING), 60));
    vbmp3_stop();
}

// Monkey's Audio has no encoder here: a file of TagLib's tests plays as FFmpeg's own command decodes it.
TEST_F(Formats, MonkeysAudioPlaysAsFfmpegDecodesIt)
{
    const fs::path file = kTestdata / "taglib-formats" / "mac-399-id3v2.ape"; // with an ID3v2 tag in front
    if (!fs::exists(file))
        GTEST_SKIP() << file << " is absent";
    const std::string reference = fixture("ape.wav", "ffmpeg -v error -y -i '" + file.string() + "' %o");
    OpenInfo info;
    const std::optional<Wav> out = playToFile(file.string(), {}, &info);
    ASSERT_TRUE(out);
    EXPECT_EQ(vbmp3_getFileType(file.c_str()), VBMP3_TYPE_APE);
    EXPECT_STREQ(info.text1, "Monkey's Audio 16-bit, 44100 Hz, Stereo");
    EXPECT_TRUE(to16(*out) == readWav(reference).samples);
}

// Three to eight channels keep every channel in its WAVE place through each decoder, with the channel mask.
TEST_F(Formats, SurroundChannelsStayInPlace)
{
    const double tones[8] = { 500, 700, 900, 60, 1300, 1700, 1900, 2300 }; // the LFE low: codecs band-limit it
    for (const auto &[channels, mask] : { std::pair(6, 0x3Fu), std::pair(8, 0x63Fu) }) {
        std::string synth;
        for (int c = 0; c < channels; ++c)
            synth += " sine " + std::to_string(int(tones[c]));
        const std::string name = "surround" + std::to_string(channels);
        fixture(
            name + ".wav", "sox -n -r 48000 -b 16 -c " + std::to_string(channels) + " %o synth 1" + synth + " gain -9");
        const std::pair<const char *, std::string> encodes[] = { { ".flac", "flac -s -f -o %o " + name + ".wav" },
            { ".ogg", "oggenc -Q -o %o " + name + ".wav" }, { ".opus", "opusenc --quiet " + name + ".wav %o" },
            { ".m4a", "ffmpeg -v error -y -i " + name + ".wav -c:a aac %o" },
            { ".wv", "wavpack -q -y " + name + ".wav -o %o" } };
        for (const auto &[ext, encode] : encodes) {
            const std::string path = fixture(name + ext, encode + " 2>/dev/null");
            SCOPED_TRACE(path);
            const std::optional<Wav> out = playToFile(path);
            ASSERT_TRUE(out);
            ASSERT_EQ(std::tuple(out->channels, out->mask), std::tuple(channels, mask));
            for (int c = 0; c < channels; ++c) {
                int loudest = 0;
                for (int t = 1; t < channels; ++t)
                    if (powerAt(*out, c, tones[t], 4800, 19200) > powerAt(*out, c, tones[loudest], 4800, 19200))
                        loudest = t;
                EXPECT_EQ(loudest, c) << "channel " << c;
            }
        }
    }
}

// On 5.1: the equalizer filters every channel, the volume word scales each side, the spectrum reads the front pair.
TEST_F(Formats, EqualizerVolumeAndSpectrumOnSixChannels)
{
    const std::string tone = fixture(
        "tone6.flac", "sox -n -r 48000 -b 16 -c 6 tone6.wav synth 1 sine 1000 gain -20 && flac -s -f -o %o tone6.wav");
    const std::optional<Wav> flat = playToFile(tone);
    ASSERT_TRUE(flat);
    const int32_t boost[10] = { 0, 0, 0, 0, 60, 0, 0, 0, 0, 0 };
    ASSERT_EQ(vbmp3_setEqualizer(boost), 1);
    const std::optional<Wav> boosted = playToFile(tone);
    ASSERT_TRUE(boosted);
    for (int c = 0; c < 6; ++c)
        EXPECT_NEAR(
            10 * std::log10(powerAt(*boosted, c, 1000, 9600, 24000) / powerAt(*flat, c, 1000, 9600, 24000)), 12.0, 0.5)
            << "channel " << c;
    ASSERT_EQ(vbmp3_setEqualizer(nullptr), 1);
    ASSERT_EQ(vbmp3_setOutputVolume(0x8000FFFFu), 1); // left full, right at half
    const std::optional<Wav> scaled = playToFile(tone);
    ASSERT_TRUE(scaled);
    const double right = 32768.0 / 65535.0, gains[6] = { 1.0, right, (1 + right) / 2, (1 + right) / 2, 1.0, right };
    for (size_t i = 4800; i < scaled->frames(); ++i)
        for (int c = 0; c < 6; ++c)
            ASSERT_NEAR(scaled->at(i, c), flat->at(i, c) * gains[c], 1.0) << "frame " << i << " channel " << c;
    ASSERT_EQ(vbmp3_setOutputVolume(0xFFFFFFFFu), 1);

    const std::string front = fixture("front6.flac",
        "sox -n -r 48000 -b 16 -c 6 front6.wav synth 3 sine 1000 sine 5000 sine 300 sine 300 sine 300 sine 300"
        " && flac -s -f -o %o front6.wav");
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info;
    ASSERT_EQ(vbmp3_open(front.c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    std::this_thread::sleep_for(600ms);
    int32_t first[256], second[256];
    ASSERT_EQ(vbmp3_getSpectrum(first, second), 1);
    const auto peakHz = [](const int32_t *bands) {
        return 40.0 * std::pow(16000.0 / 40.0, double(std::max_element(bands, bands + 256) - bands) / 255.0);
    };
    EXPECT_NEAR(peakHz(first) / 1000, 1.0, 0.03);
    EXPECT_NEAR(peakHz(second) / 5000, 1.0, 0.03);
    vbmp3_stop();
}

// Through the sound server 5.1 keeps its channel map; the stereo device option mixes it down.
TEST_F(Formats, SurroundReachesTheSoundServerWithItsChannelMap)
{
    if (!run("command -v pactl"))
        GTEST_SKIP() << "pactl is needed";
    PulseServer server;
    if (!server.ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    const std::string path = fixture(
        "map6.flac", "sox -n -r 48000 -b 16 -c 6 map6.wav synth 5 sine 440 gain -20 && flac -s -f -o %o map6.wav");
    ASSERT_EQ(vbmp3_setOutput("auto"), 1);
    for (const auto &[channels, map] : { std::pair(0, "front-left,front-right,front-center,lfe,rear-left,rear-right"),
             std::pair(2, "front-left,front-right\n") }) {
        SCOPED_TRACE(channels);
        const DecodeOption option { { channels, 0, 0 } };
        ASSERT_EQ(vbmp3_setDecodeOption(&option), 1);
        OpenInfo info;
        ASSERT_EQ(vbmp3_open(path.c_str(), &info), 1);
        ASSERT_EQ(vbmp3_play(), 1);
        std::string seen;
        for (const auto until = std::chrono::steady_clock::now() + 3s;
             seen.find("Channel Map") == std::string::npos && std::chrono::steady_clock::now() < until;)
            seen = (std::this_thread::sleep_for(50ms), outputOf("pactl list sink-inputs"));
        char name[16] = {};
        vbmp3_getOutputName(name, sizeof name);
        EXPECT_STREQ(name, "pulse");
        EXPECT_NE(seen.find(std::string("Channel Map: ") + map), std::string::npos) << seen;
        vbmp3_stop();
    }
}

// Mixing down: sides kept, centre into both, LFE into neither, full scale within full scale.
TEST(ChannelMixer, MixesSurroundDownWithoutClipping)
{
    vbmp3::ChannelMixer stereo;
    stereo.configure(6, 0x3F, 2);
    const auto mixed = [&](std::vector<float> frame, const vbmp3::ChannelMixer &mixer, size_t outs) {
        std::vector<float> out(outs);
        mixer.mix(frame.data(), 1, out.data());
        return out;
    };
    const std::vector<float> frontLeft = mixed({ 1, 0, 0, 0, 0, 0 }, stereo, 2);
    EXPECT_TRUE(frontLeft[0] > 0.3f && frontLeft[1] == 0.0f);
    const std::vector<float> centre = mixed({ 0, 0, 1, 0, 0, 0 }, stereo, 2);
    EXPECT_TRUE(centre[0] > 0.2f && centre[0] == centre[1]);
    EXPECT_EQ(mixed({ 0, 0, 0, 1, 0, 0 }, stereo, 2), std::vector<float>({ 0, 0 }));
    const std::vector<float> backRight = mixed({ 0, 0, 0, 0, 0, 1 }, stereo, 2);
    EXPECT_TRUE(backRight[0] == 0.0f && backRight[1] > 0.2f && backRight[1] < frontLeft[0]);
    for (float v : mixed({ 1, 1, 1, 1, 1, 1 }, stereo, 2))
        EXPECT_LE(v, 1.0f);
    vbmp3::ChannelMixer mono;
    mono.configure(2, 0x3, 1);
    EXPECT_EQ(mixed({ 0.5f, -0.25f }, mono, 1), std::vector<float>({ 0.125f }));
    vbmp3::ChannelMixer up;
    up.configure(1, 0x4, 2);
    EXPECT_EQ(mixed({ 0.5f }, up, 2), std::vector<float>({ 0.5f, 0.5f }));
}

// Damaged files are refused or end early; a FLAC claiming two years plays its seconds, and a seek there ends it.
TEST_F(Formats, DamagedFilesAreRefusedOrEndEarly)
{
    const std::string wav = fixture("damage.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 2 sine 300-3000 gain -6");
    const std::string encodes[]
        = { "flac -s -f -o %o damage.wav", "flac -s -f --ogg -o %o damage.wav", "oggenc -Q -o %o damage.wav",
              "opusenc --quiet damage.wav %o", "ffmpeg -v error -y -i damage.wav -c:a aac -movflags +faststart %o",
              "ffmpeg -v error -y -i damage.wav -c:a alac %o", "wavpack -q -y damage.wav -o %o" };
    const std::string exts[] = { ".flac", ".oga", ".ogg", ".opus", ".m4a", "-alac.m4a", ".wv" };
    for (size_t i = 0; i < std::size(encodes); ++i) {
        const std::string whole = readFile(fixture("damage" + exts[i], encodes[i] + " 2>/dev/null"));
        ASSERT_GT(whole.size(), 4000u);
        std::string junk = whole;
        for (size_t k = whole.size() * 2 / 5, n = 0; n < 4096 && k < junk.size(); ++k, ++n)
            junk[k] = char((k * 7919) >> 3);
        for (const auto &[what, bytes] : { std::pair("cut short", whole.substr(0, whole.size() * 3 / 5)),
                 std::pair("headers only", whole.substr(0, 300)), std::pair("junk inside", junk) }) {
            SCOPED_TRACE(exts[i] + " " + what);
            const std::string path = writeFile(workDir() / ("damaged" + exts[i]), bytes);
            const std::optional<Wav> out = playToFile(path);
            EXPECT_TRUE(!out || out->frames() <= 2 * 48000u);
        }
    }

    // 2^36 - 1 samples at 1 kHz: about 2.2 years.
    std::string years = readFile(fixture("years.flac",
        "sox -n -r 1000 -c 1 -b 16 years.wav synth 3 sine 100 && flac -s -f -o %o years.wav 2>/dev/null"));
    ASSERT_TRUE(streamInfoOf(years));
    years[8 + 13] = char(years[8 + 13] | 0x0F);
    std::memset(years.data() + 8 + 14, 0xFF, 4);
    const std::string claimed = writeFile(workDir() / "years-claimed.flac", years);
    OpenInfo info;
    const std::optional<Wav> out = playToFile(claimed, {}, &info);
    ASSERT_TRUE(out);
    EXPECT_EQ(info.totalSeconds, int32_t(((int64_t { 1 } << 36) - 1) / 1000));
    EXPECT_EQ(out->frames(), 3000u);
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    ASSERT_EQ(vbmp3_open(claimed.c_str(), &info), 1);
    const int before = reports().ends + reports().failed;
    ASSERT_EQ(vbmp3_play(), 1);
    ASSERT_EQ(vbmp3_seek(60'000'000), 1);
    std::this_thread::sleep_for(1500ms); // half the track in real time
    EXPECT_EQ(std::pair(reports().ends + reports().failed, vbmp3_getState(nullptr)),
        std::pair(before + 1, int(VBMP3_STOPPED)));

    // An Opus length of 2^62 samples saturates in milliseconds rather than wrapping, so plain lyrics spread far.
    std::string opus = readFile(fixture("damage.opus", encodes[3]));
    const size_t last = opus.rfind("OggS");
    for (int k = 0; k < 8; ++k)
        opus[last + 6 + size_t(k)] = char(k == 7 ? 0x40 : 0);
    setOggCrc(opus, last);
    const std::string lyrics = writeFile(workDir() / "claimed.txt", "one\ntwo\n");
    ASSERT_EQ(vbmp3_open(writeFile(workDir() / "claimed.opus", opus).c_str(), &info), 1);
    ASSERT_EQ(vbmp3_setLyricsFile(lyrics.c_str()), 1);
    EXPECT_GT(vbmp3_getLyricsWait(), 1'000'000);
    vbmp3_close();
}

// A chained Vorbis stream opens its first 256 links only (libvorbisfile would read all the headers).
TEST_F(Formats, ChainedVorbisOpensItsFirstLinksOnly)
{
    const std::string link = readFile(fixture(
        "link.ogg", "sox -n -r 8000 -c 1 -b 16 link.wav synth 0.05 sine 440 && oggenc -Q -o %o link.wav 2>/dev/null"));
    const auto chain = [&](int links) {
        std::string bytes;
        for (int k = 0; k < links; ++k) { // each link a serial number of its own
            std::string one = link;
            for (size_t at = 0; at < one.size(); at += oggPageSize(one, at)) {
                for (int b = 0; b < 4; ++b)
                    one[at + 14 + size_t(b)] = char((k + 1) >> (8 * b));
                setOggCrc(one, at);
            }
            bytes += one;
        }
        return writeFile(workDir() / ("chain" + std::to_string(links) + ".ogg"), bytes);
    };
    const auto totalFrames = [](const std::string &path) {
        OpenInfo info;
        StreamInfo stream {};
        EXPECT_EQ(vbmp3_open(path.c_str(), &info), 1) << path;
        vbmp3_getStreamInfo(&stream);
        vbmp3_close();
        return stream.totalFrames;
    };
    const int64_t one = totalFrames(chain(1));
    ASSERT_GT(one, 0);
    EXPECT_EQ(totalFrames(chain(3)), 3 * one);
    EXPECT_EQ(totalFrames(chain(300)), 256 * one);
}

} // namespace
