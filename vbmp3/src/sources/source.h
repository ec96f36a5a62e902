// Decoding sources: one opened track that hands out interleaved float frames.
#pragma once

#include "dsp/replaygain.h"
#include "tags/fileinfo.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace vbmp3
{

// What vbmp3_open reports about a track, fixed when the source is opened.
struct SourceInfo {
    int rate = 0; // Hz
    // The channel count of the frames read() gives, 1..8 (1 or 2 for MPEG and WAV), in the
    // WAVE order (FL FR FC LFE BL BR, BC or SL SR).
    int channels = 0;
    int64_t totalFrames = 0; // exact length in frames (after gapless trimming)
    // totalFrames and bitrate are estimated from the stream's size (see
    // SourceOptions::estimateLongLength): the frames were not counted.
    bool lengthEstimated = false;
    // kb/s: for MPEG its constant rate or 0 when it varies; the PCM rate for WAV; the
    // average over the track for the other formats.
    int bitrate = 0;
    std::string description; // OpenInfo text1
    std::string decoderName; // OpenInfo text2
    int codec = VBMP3_CODEC_NONE; // VBMP3_CODEC_*
    std::string codecName; // StreamInfo::codecName
    uint32_t channelMask = 0; // WAVE speaker bits of the channels; 0 when unknown
    // Lossless sources: the width of the samples the frames carry exactly (float holds
    // up to 24 bits exactly); 0 for lossy and floating-point sources.
    int bitsPerSample = 0;
    bool lossless = false;
};

// One track being decoded.  Not thread-safe: after open, exactly one thread at a time
// uses a source (the engine hands it to its decode thread while a track plays).
class Source
{
public:
    virtual ~Source() = default;
    const SourceInfo &info() const { return m_info; }
    // Fills out with up to `frames` interleaved frames of info().channels floats
    // (full scale +-1.0).  Returns the number of frames; 0 at the end of the track or on
    // an error that ends it.
    virtual size_t read(float *out, size_t frames) = 0;
    // Positions the next read() at frame (clamped to the track; only below when the
    // length is an estimate).  False on failure.
    virtual bool seek(int64_t frame) = 0;

    // Where the track's loudness values are to be read from (set by whoever opened it,
    // before it is handed on).
    void setGainOrigin(std::string path, const FileLayout &layout)
    {
        m_gainPath = std::move(path);
        m_gainLayout = layout;
    }
    // The values, read from there on the first call (none without an origin).
    const GainTags &gainTags()
    {
        if (!m_gainTags)
            m_gainTags = m_gainPath.empty() ? GainTags {} : readGainTags(m_gainPath, m_gainLayout);
        return *m_gainTags;
    }

protected:
    // Values that stand for the ones the origin's tags state (nothing is read then).
    void setOwnGainTags(const GainTags &tags) { m_gainTags = tags; }

    SourceInfo m_info;

private:
    std::string m_gainPath;
    FileLayout m_gainLayout;
    std::optional<GainTags> m_gainTags;
};

struct SourceOptions {
    // 0: the channel count of the track's first frame; 1: mix down to mono; 2: stereo.
    // MPEG and WAV only: the other sources always give the file's channels.
    int channels = 0;
    // An MPEG stream of more frames than a quick count covers, whose length no
    // Xing/Info/VBRI header gives, is not counted through: its length and bit rate are
    // estimated from its size (SourceInfo::lengthEstimated).  Off: counted, however long.
    bool estimateLongLength = false;
    // When set and true, reading the file fails: a count under way gives up at once.
    const std::atomic<bool> *cancel = nullptr;
};

// Opens path as the kind probeFile found, through the source its format's row names
// (formats.h, formatsources.h).  nullptr when the kind is not played, or the file is
// unreadable, has no audio frame, or a channel count other than 1 or 2 (MPEG, WAV) or 1
// to 8.
std::unique_ptr<Source> openSource(
    const std::string &path, const FileLayout &layout, const SourceOptions &options = {});

} // namespace vbmp3
