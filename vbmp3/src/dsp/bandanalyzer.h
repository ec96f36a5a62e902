// The spectrum analyser behind vbmp3_getSpectrum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

struct kiss_fftr_state;
struct AVTXContext;

namespace vbmp3
{

class BandAnalyzer
{
public:
    static constexpr int kBands = 256;
    static constexpr int32_t kMaxLevel = 120;
    static constexpr double kLowHz = 40.0;
    static constexpr double kHighHz = 16000.0;

    // Which transform analyses a pair of channels: FFmpeg's (libavutil, loaded at run time,
    // vectorised; both channels in one complex transform) once it has loaded, or
    // kissfft's real transform per channel, which every machine has.  The levels agree
    // but for a rare band that sits within rounding of the step to the next level.
    enum class Transform { Fastest, Portable };

    explicit BandAnalyzer(Transform transform = Transform::Fastest);
    ~BandAnalyzer();
    BandAnalyzer(const BandAnalyzer &) = delete;
    BandAnalyzer &operator=(const BandAnalyzer &) = delete;

    // FFT length used at a sample rate: 2048 from 32 kHz up, else 1024.
    static size_t windowFor(int rate) { return rate >= 32000 ? 2048 : 1024; }

    // Levels of channels 0 and 1 (of channel 0 in both when there is one) of `frames`
    // interleaved frames (frames == windowFor(rate)): 256 log-spaced bands from 40 Hz to
    // 16 kHz, each 2 x (dBFS + 60) of its peak bin, rounded and clamped to 0..120, where a
    // full-scale sine reads 120.  Allocates only when the rate changes (and when FFmpeg's
    // transform has just become usable).
    void analyze(const float *frames, int channels, int rate, int32_t *first, int32_t *second);

    // The same in steps, so that frames which may change meanwhile are read once, windowed
    // on the way in: begin() with the number of silent frames the window starts with, take()
    // the frames after them (interleaved, in pieces, windowFor(rate) frames in all; any
    // short of that are silent), then finish() without them.
    void begin(int rate, int channels, size_t silent);
    void take(const float *frames, size_t count);
    void finish(int32_t *first, int32_t *second);

    // Loads FFmpeg's transform now, on the calling thread, rather than on a thread of its
    // own at the first analysis: true when it is usable.  Once per process.
    static bool loadFastTransform();
    // Whether the last analysis went through FFmpeg's transform.
    bool usedFastTransform() const { return m_fastUsed; }

private:
    static constexpr uint32_t kBucketShift = 19; // float bits below the bucket number
    static constexpr uint32_t kBuckets = 0xFF0; // to infinity's bucket, exclusive

    struct FreeFloats {
        void operator()(float *p) const { std::free(p); }
    };
    using AlignedFloats = std::unique_ptr<float[], FreeFloats>;

    void prepare(int rate);
    bool prepareFast();
    // Silence from the frames taken so far up to frame `to` of the window.
    void silence(size_t to);
    void analyzePortable(float *input, int32_t *levels);
    void analyzeFast(int32_t *first, int32_t *second);
    // Levels of the bands from m_power[channel] (of the bins the bands cover).
    void levelsOf(const float *power, int32_t *levels) const;
    // The level of a band whose peak bin has this power (> 0): 2 x (dBFS + 60), rounded,
    // within 0..120.
    int32_t levelOf(float power) const;

    Transform m_transform;
    int m_rate = 0;
    size_t m_size = 0;
    size_t m_lowBin = 0; // the bins the bands cover: [m_lowBin, m_highBin]
    size_t m_highBin = 0;
    kiss_fftr_state *m_plan = nullptr;
    int m_channels = 2; // of the frames taken
    size_t m_filled = 0; // frames of the window taken so far
    std::vector<float> m_window;
    std::vector<float> m_input; // kissfft's: channel 0's windowed frames, then channel 1's
    std::vector<float> m_power[2]; // per FFT bin and channel, scratch
    std::vector<float> m_fftOut; // kiss_fft_cpx[m_size / 2 + 1] as float pairs, scratch
    // FFmpeg's complex transform of m_size points: channel 0 windowed in the real parts,
    // channel 1 in the imaginary ones (aligned as its vector code wants).
    AVTXContext *m_fast = nullptr;
    void (*m_fastRun)(AVTXContext *, void *, void *, ptrdiff_t) = nullptr;
    size_t m_fastSize = 0;
    AlignedFloats m_pairIn;
    AlignedFloats m_pairOut;
    bool m_fastUsed = false;
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
