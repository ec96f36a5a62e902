// The spectrum analyser behind vbmp3_getSpectrum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct kiss_fftr_state;

namespace vbmp3
{

class BandAnalyzer
{
public:
    static constexpr int kBands = 256;
    static constexpr int32_t kMaxLevel = 120;
    static constexpr double kLowHz = 40.0;
    static constexpr double kHighHz = 16000.0;

    BandAnalyzer();
    ~BandAnalyzer();
    BandAnalyzer(const BandAnalyzer &) = delete;
    BandAnalyzer &operator=(const BandAnalyzer &) = delete;

    // FFT length used at a sample rate: 2048 from 32 kHz up, else 1024.
    static size_t windowFor(int rate) { return rate >= 32000 ? 2048 : 1024; }

    // Levels of one channel of `frames` interleaved frames (frames == windowFor(rate)):
    // 256 log-spaced bands from 40 Hz to 16 kHz, each 2 x (dBFS + 60) of its peak bin,
    // rounded and clamped to 0..120, where a full-scale sine reads 120.  Allocates only
    // when the rate changes.
    void analyze(const float *frames, int channels, int channel, int rate, int32_t *levels);

private:
    static constexpr uint32_t kBucketShift = 19; // float bits below the bucket number
    static constexpr uint32_t kBuckets = 0xFF0; // to infinity's bucket, exclusive

    void prepare(int rate);
    // The level of a band whose peak bin has this power (> 0): 2 x (dBFS + 60), rounded,
    // within 0..120.
    int32_t levelOf(float power) const;

    int m_rate = 0;
    size_t m_size = 0;
    kiss_fftr_state *m_plan = nullptr;
    std::vector<float> m_window;
    std::vector<float> m_input;
    std::vector<float> m_power; // per FFT bin, scratch
    std::vector<float> m_fftOut; // kiss_fft_cpx[m_size / 2 + 1] as float pairs, scratch
    // Band b covers FFT bins [m_first[b], m_last[b]].
    std::vector<int> m_first;
    std::vector<int> m_last;
    double m_fullScale = 0; // dB of a full-scale sine's bin
    // The levels by table rather than by a logarithm.  Powers are split in buckets by their
    // exponent and top four mantissa bits (a step of 2^(1/16), finer than the 0.5 dB from
    // one level to the next): a power in bucket i reads m_base[i], plus one from
    // m_threshold[i] on; m_base[i] < 0 marks a bucket left to levelOf.
    std::vector<int8_t> m_base;
    std::vector<float> m_threshold;
};

} // namespace vbmp3
