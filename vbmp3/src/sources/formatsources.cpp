#include "formatsources.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace vbmp3
{

uint32_t defaultChannelMask(int channels)
{
    static constexpr uint32_t kMasks[] = {
        kFrontCenter,
        kFrontLeft | kFrontRight,
        kFrontLeft | kFrontRight | kFrontCenter,
        kFrontLeft | kFrontRight | kBackLeft | kBackRight,
        kFrontLeft | kFrontRight | kFrontCenter | kBackLeft | kBackRight,
        kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight,
        kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackCenter | kSideLeft | kSideRight,
        kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight | kSideLeft | kSideRight,
    };
    return channels >= 1 && channels <= 8 ? kMasks[channels - 1] : 0;
}

const uint8_t *vorbisToWave(int channels)
{
    // Vorbis: 3 L C R; 5 FL C FR RL RR; 6 FL C FR RL RR LFE; 7 FL C FR SL SR RC LFE;
    // 8 FL C FR SL SR RL RR LFE (the order Vorbis I gives them, its section 4.3.9).
    static constexpr uint8_t kOrders[8][8] = {
        { 0 },
        { 0, 1 },
        { 0, 2, 1 },
        { 0, 1, 2, 3 },
        { 0, 2, 1, 3, 4 },
        { 0, 2, 1, 5, 3, 4 },
        { 0, 2, 1, 6, 5, 3, 4 },
        { 0, 2, 1, 7, 5, 6, 3, 4 },
    };
    return kOrders[std::clamp(channels, 1, 8) - 1];
}

std::string channelsText(int channels)
{
    if (channels == 1)
        return "Mono";
    if (channels == 2)
        return "Stereo";
    return std::to_string(channels) + " channels";
}

int averageKbps(uint64_t bytes, int64_t frames, int rate)
{
    if (frames <= 0 || rate <= 0 || bytes == 0)
        return 0;
    const double kbps = static_cast<double>(bytes) * 8.0 * rate / static_cast<double>(frames) / 1000.0;
    return static_cast<int>(std::clamp(std::lround(kbps), 1L, long { INT32_MAX }));
}

bool acceptableFormat(int rate, int channels)
{
    return rate >= kMinSourceRate && rate <= kMaxSourceRate && channels >= 1 && channels <= kMaxSourceChannels;
}

void interleaveInts(
    const int32_t *const *planes, int channels, size_t frames, float scale, const uint8_t *order, float *out)
{
    const auto ch = static_cast<size_t>(channels);
    if (channels == 2 && !order) {
        const int32_t *left = planes[0];
        const int32_t *right = planes[1];
        for (size_t i = 0; i < frames; ++i) {
            out[2 * i] = static_cast<float>(left[i]) * scale;
            out[2 * i + 1] = static_cast<float>(right[i]) * scale;
        }
        return;
    }
    for (size_t c = 0; c < ch; ++c) {
        const int32_t *in = planes[order ? order[c] : c];
        for (size_t i = 0; i < frames; ++i)
            out[i * ch + c] = static_cast<float>(in[i]) * scale;
    }
}

void interleaveFloats(const float *const *planes, int channels, size_t frames, const uint8_t *order, float *out)
{
    const auto ch = static_cast<size_t>(channels);
    if (channels == 2 && !order) {
        const float *left = planes[0];
        const float *right = planes[1];
        for (size_t i = 0; i < frames; ++i) {
            out[2 * i] = left[i];
            out[2 * i + 1] = right[i];
        }
        return;
    }
    for (size_t c = 0; c < ch; ++c) {
        const float *in = planes[order ? order[c] : c];
        for (size_t i = 0; i < frames; ++i)
            out[i * ch + c] = in[i];
    }
}

} // namespace vbmp3
