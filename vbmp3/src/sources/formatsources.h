// The sources of the formats, one each, and what they share: sample conversion, channel
// layouts, texts.  The format table (formats.h) names the one that opens a file of each
// kind; each is handed the layout the probe found for that kind.  The decoders of the
// formats after Media are loaded at run time: each open loads its library the first time
// (runtimelib.h) and fails when it is missing.
//
// Every source after Media gives the file's own channels (1 to 8) in the WAVE order with
// its speaker mask, samples as floats at full scale +-1.0 that hold integer samples of up
// to 24 bits exactly (a b-bit sample s is s / 2^(b-1)), never more frames than the length
// it reports when that length is the container's, and refuses a file at open when its
// rate, channel count or first audio cannot be had.  A file damaged further on ends the
// track where its decoder gives up (read() returns 0 from then on).
#pragma once

#include "source.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vbmp3
{

// Mpeg and Rmp through libmpg123, restricted to the layout's audio byte range (1 or 2
// channels, or as SourceOptions::channels asks).
std::unique_ptr<Source> openMpegSource(const std::string &path, const FileLayout &layout, const SourceOptions &options);
// Wav through libsndfile (PCM and float, 1 or 2 channels, or as SourceOptions::channels asks).
std::unique_ptr<Source> openWavSource(const std::string &path, const FileLayout &layout, const SourceOptions &options);
// Flac and OggFlac through libFLAC.
std::unique_ptr<Source> openFlacSource(const std::string &path, const FileLayout &layout, const SourceOptions &options);
std::unique_ptr<Source> openOggFlacSource(
    const std::string &path, const FileLayout &layout, const SourceOptions &options);
// OggVorbis through libvorbisfile.
std::unique_ptr<Source> openVorbisSource(
    const std::string &path, const FileLayout &layout, const SourceOptions &options);
// OggOpus through libopusfile (always 48 kHz; the header's output gain applied).
std::unique_ptr<Source> openOpusSource(const std::string &path, const FileLayout &layout, const SourceOptions &options);
// Mp4 (AAC, ALAC; MP3, FLAC and Opus too) and Ape through FFmpeg.
std::unique_ptr<Source> openMp4Source(const std::string &path, const FileLayout &layout, const SourceOptions &options);
std::unique_ptr<Source> openApeSource(const std::string &path, const FileLayout &layout, const SourceOptions &options);
// WavPack through libwavpack (lossless, hybrid lossy, float, DSD as 24-bit PCM at 1/8 rate).
std::unique_ptr<Source> openWavPackSource(
    const std::string &path, const FileLayout &layout, const SourceOptions &options);

// Rates a source may report: the engine sizes buffers by the rate, and no recording lies
// outside these (1 kHz test tones to 768 kHz).
constexpr int kMinSourceRate = 1000;
constexpr int kMaxSourceRate = 768000;
constexpr int kMaxSourceChannels = 8;

// WAVE speaker bits (dwChannelMask of WAVE_FORMAT_EXTENSIBLE).
enum Speaker : uint32_t {
    kFrontLeft = 0x1,
    kFrontRight = 0x2,
    kFrontCenter = 0x4,
    kLowFrequency = 0x8,
    kBackLeft = 0x10,
    kBackRight = 0x20,
    kFrontLeftOfCenter = 0x40,
    kFrontRightOfCenter = 0x80,
    kBackCenter = 0x100,
    kSideLeft = 0x200,
    kSideRight = 0x400,
    kTopCenter = 0x800,
    kTopFrontLeft = 0x1000,
    kTopFrontCenter = 0x2000,
    kTopFrontRight = 0x4000,
    kTopBackLeft = 0x8000,
    kTopBackCenter = 0x10000,
    kTopBackRight = 0x20000,
};

// The layout FLAC and Vorbis give a channel count, as WAVE speaker bits: 1 FC, 2 FL FR,
// 3 FL FR FC, 4 FL FR BL BR, 5 FL FR FC BL BR, 6 FL FR FC LFE BL BR, 7 FL FR FC LFE BC SL SR,
// 8 FL FR FC LFE BL BR SL SR; 0 for other counts.
uint32_t defaultChannelMask(int channels);

// Where the channels of a stream in the Vorbis order (Vorbis, Opus mapping family 1) go in
// the WAVE order: WAVE channel c is Vorbis channel vorbisToWave(channels)[c].  1 to 8.
const uint8_t *vorbisToWave(int channels);

// "Mono", "Stereo", "6 channels".
std::string channelsText(int channels);

// kb/s of `bytes` over `frames` at `rate`, rounded, at least 1 when there are bytes; 0
// when the length is unknown.
int averageKbps(uint64_t bytes, int64_t frames, int rate);

// A source's checks of the facts its decoder gives: true when rate and channels are
// within the limits above.
bool acceptableFormat(int rate, int channels);

// Interleaves `frames` frames of planar 32-bit integer samples (one pointer per channel)
// into out as floats times scale, taking channel order[c] for channel c (order null:
// as they are).
void interleaveInts(
    const int32_t *const *planes, int channels, size_t frames, float scale, const uint8_t *order, float *out);
// The same for planar floats.
void interleaveFloats(const float *const *planes, int channels, size_t frames, const uint8_t *order, float *out);

} // namespace vbmp3
