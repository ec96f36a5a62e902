#include "equalizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string_view>

namespace vbmp3
{
namespace
{

// After a band has reached 0 dB it is filtered this long before it is left out, so that
// its memory has died away (its poles decay well within it).
constexpr double kTailSeconds = 0.2;

void clearMemory(BiquadState &f)
{
    f.s1[0] = f.s1[1] = f.s2[0] = f.s2[1] = 0;
}

// The widest cascade the processor runs, chosen once per process.  VBMP3_EQ_KERNEL=avx2
// or =baseline caps the choice, so that the narrower kernels can be measured and checked
// on a processor that has wider ones; they all give the same samples.
CascadeKernel chosenCascade()
{
    static const CascadeKernel chosen = [] {
        const char *env = std::getenv("VBMP3_EQ_KERNEL");
        const std::string_view cap = env ? env : "";
        CascadeKernel kernel = cap == "avx2" || cap == "baseline" ? nullptr : avx512Cascade();
        if (!kernel && cap != "baseline")
            kernel = avx2Cascade();
        return kernel ? kernel : baselineCascade();
    }();
    return chosen;
}

} // namespace

void Equalizer::configure(int rate, int channels, const Units &units)
{
    m_rate = rate > 0 ? rate : 44100;
    m_channels = std::clamp(channels, 1, 2);
    for (int i = 0; i < kBands; ++i) {
        Band &band = m_bands[i];
        band.usable = kFrequencies[i] < 0.45 * m_rate;
        band.targetDb = std::clamp(units[i], -kMaxUnits, kMaxUnits) * kDbPerUnit;
        band.currentDb = band.usable ? band.targetDb : 0.0;
        band.stepDb = 0;
        design(band, kFrequencies[i]);
    }
    m_gliding = false;
    reset();
}

void Equalizer::setTargets(const Units &units)
{
    const double blocks = std::max(1.0, std::round(kRampSeconds * m_rate / kBlock));
    for (int i = 0; i < kBands; ++i) {
        Band &band = m_bands[i];
        band.targetDb = std::clamp(units[i], -kMaxUnits, kMaxUnits) * kDbPerUnit;
        if (!band.usable)
            continue;
        band.stepDb = (band.targetDb - band.currentDb) / blocks;
        if (band.stepDb != 0)
            m_gliding = true;
    }
}

void Equalizer::reset()
{
    for (Band &band : m_bands) {
        clearMemory(band.filter);
        band.tail = 0;
        if (band.usable && band.currentDb != band.targetDb) {
            band.currentDb = band.targetDb;
            design(band, kFrequencies[&band - m_bands.data()]);
        }
        band.stepDb = 0;
    }
    m_gliding = false;
}

bool Equalizer::bypassed() const
{
    if (m_gliding)
        return false;
    return std::none_of(m_bands.begin(), m_bands.end(), [](const Band &b) { return b.active(); });
}

// RBJ audio-EQ-cookbook peaking filter, normalised so that a0 = 1.
void Equalizer::design(Band &band, double frequency) const
{
    const double a = std::pow(10.0, band.currentDb / 40.0);
    const double w0 = 2.0 * std::numbers::pi * frequency / m_rate;
    const double alpha = std::sin(w0) / (2.0 * kQ);
    const double cosw = std::cos(w0);
    const double a0 = 1.0 + alpha / a;
    band.filter.b0 = static_cast<float>((1.0 + alpha * a) / a0);
    band.filter.b1 = static_cast<float>(-2.0 * cosw / a0);
    band.filter.b2 = static_cast<float>((1.0 - alpha * a) / a0);
    band.filter.a1 = band.filter.b1;
    band.filter.a2 = static_cast<float>((1.0 - alpha / a) / a0);
}

void Equalizer::process(float *data, size_t frames)
{
    if (bypassed())
        return;
    if (!m_gliding) {
        processBlock(data, frames);
        return;
    }
    const size_t stride = static_cast<size_t>(m_channels);
    size_t done = 0;
    while (done < frames) {
        if (m_gliding) {
            bool still = false;
            for (int i = 0; i < kBands; ++i) {
                Band &band = m_bands[i];
                if (band.stepDb == 0)
                    continue;
                band.currentDb += band.stepDb;
                if ((band.stepDb > 0 && band.currentDb >= band.targetDb)
                    || (band.stepDb < 0 && band.currentDb <= band.targetDb)) {
                    band.currentDb = band.targetDb;
                    band.stepDb = 0;
                    if (band.currentDb == 0)
                        band.tail = static_cast<size_t>(kTailSeconds * m_rate);
                } else {
                    still = true;
                }
                design(band, kFrequencies[i]);
            }
            m_gliding = still;
        }
        const size_t n = m_gliding ? std::min(kBlock, frames - done) : frames - done;
        processBlock(data + done * stride, n);
        done += n;
    }
}

// Bands at 0 dB whose memory has died out are identities and are left out.
void Equalizer::processBlock(float *data, size_t frames)
{
    BiquadState *bands[kBands];
    int count = 0;
    for (Band &band : m_bands) {
        if (band.active()) {
            bands[count++] = &band.filter;
            band.tail -= std::min(band.tail, frames);
        } else {
            clearMemory(band.filter);
        }
    }
    if (count == 0 || frames == 0)
        return;
    if (!m_cascade)
        m_cascade = chosenCascade();
    m_cascade(bands, count, data, frames, m_channels);
}

void EqualizerBank::configure(int rate, int channels, const Equalizer::Units &units)
{
    m_channels = std::max(channels, 1);
    m_pairs.resize(static_cast<size_t>((m_channels + 1) / 2));
    for (size_t p = 0; p < m_pairs.size(); ++p)
        m_pairs[p].configure(rate, std::min(2, m_channels - 2 * static_cast<int>(p)), units);
}

void EqualizerBank::setTargets(const Equalizer::Units &units)
{
    for (Equalizer &pair : m_pairs)
        pair.setTargets(units);
}

void EqualizerBank::reset()
{
    for (Equalizer &pair : m_pairs)
        pair.reset();
}

void EqualizerBank::process(float *data, size_t frames)
{
    if (m_channels <= 2) {
        m_pairs[0].process(data, frames);
        return;
    }
    // The pairs glide alike: when the first is bypassed, all are.
    if (m_pairs[0].bypassed())
        return;
    const auto ch = static_cast<size_t>(m_channels);
    for (size_t p = 0; p < m_pairs.size(); ++p) {
        const size_t first = 2 * p;
        const size_t width = std::min<size_t>(2, ch - first);
        m_scratch.resize(frames * width);
        for (size_t i = 0; i < frames; ++i)
            for (size_t k = 0; k < width; ++k)
                m_scratch[i * width + k] = data[i * ch + first + k];
        m_pairs[p].process(m_scratch.data(), frames);
        for (size_t i = 0; i < frames; ++i)
            for (size_t k = 0; k < width; ++k)
                data[i * ch + first + k] = m_scratch[i * width + k];
    }
}

CascadeKernel baselineCascade()
{
    return &cascadeAny<4, 2>;
}

} // namespace vbmp3
