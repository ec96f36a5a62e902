// The ten-band equalizer: peaking filters (RBJ biquads) whose gains glide to new values.
#pragma once

#include "equalizerkernel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vbmp3
{

class Equalizer
{
public:
    static constexpr int kBands = 10;
    static constexpr std::array<double, kBands> kFrequencies { 60, 170, 310, 600, 1000, 3000, 6000, 12000, 14000,
        16000 };
    static constexpr double kQ = 1.41; // about one octave; neighbours overlap gently
    static constexpr double kDbPerUnit = 0.2;
    static constexpr int kMaxUnits = 60;
    static constexpr double kRampSeconds = 0.02;
    static constexpr size_t kBlock = 32; // frames per coefficient update while gliding

    // Band gains in units of 0.2 dB (clamped to +-60); all zero means off.
    using Units = std::array<int32_t, kBands>;

    // Sets up for a stream with the given gains, at once (no glide); filters cleared.
    void configure(int rate, int channels, const Units &units);
    // New target gains; the gains glide there over about 20 ms.
    void setTargets(const Units &units);
    // Clears the filters' memory (after a seek) and ends any glide.
    void reset();
    // Filters `frames` interleaved frames in place.  While every gain is 0 and no glide is
    // running the samples are not touched at all.
    void process(float *data, size_t frames);
    bool bypassed() const;

private:
    struct Band {
        BiquadState filter; // coefficients and memory as the cascade runs them
        double currentDb = 0;
        double targetDb = 0;
        double stepDb = 0; // per block while gliding
        size_t tail = 0; // frames still to filter at 0 dB while the memory dies out
        bool usable = false; // below ~0.45 x rate
        bool active() const { return usable && (currentDb != 0 || stepDb != 0 || tail > 0); }
    };

    void design(Band &band, double frequency) const;
    void processBlock(float *data, size_t frames);

    std::array<Band, kBands> m_bands;
    CascadeKernel m_cascade = nullptr; // the fastest the processor runs
    int m_rate = 44100;
    int m_channels = 2;
    bool m_gliding = false;
};

// The equalizer for any number of channels: one or two go through one Equalizer; more
// are taken in pairs (the last one alone when odd), each through an Equalizer of its own
// with the same gains, so that every channel is filtered alike.
class EqualizerBank
{
public:
    void configure(int rate, int channels, const Equalizer::Units &units);
    void setTargets(const Equalizer::Units &units);
    void reset();
    void process(float *data, size_t frames);

private:
    std::vector<Equalizer> m_pairs { 1 };
    int m_channels = 2;
    std::vector<float> m_scratch; // one pair of a block, interleaved
};

} // namespace vbmp3
