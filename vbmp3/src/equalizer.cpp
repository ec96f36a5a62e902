#include "equalizer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vbmp3 {
namespace {

// Below this a filter's memory is treated as gone.
constexpr double kSilentState = 1e-10;

bool stateSilent(const double (&s1)[2], const double (&s2)[2])
{
    return std::fabs(s1[0]) + std::fabs(s1[1]) + std::fabs(s2[0]) + std::fabs(s2[1]) < kSilentState;
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
        band.s1[0] = band.s1[1] = band.s2[0] = band.s2[1] = 0;
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
    return std::all_of(m_bands.begin(), m_bands.end(),
                       [](const Band &b) { return b.currentDb == 0 && stateSilent(b.s1, b.s2); });
}

// RBJ audio-EQ-cookbook peaking filter, normalised so that a0 = 1.
void Equalizer::design(Band &band, double frequency) const
{
    const double a = std::pow(10.0, band.currentDb / 40.0);
    const double w0 = 2.0 * std::numbers::pi * frequency / m_rate;
    const double alpha = std::sin(w0) / (2.0 * kQ);
    const double cosw = std::cos(w0);
    const double a0 = 1.0 + alpha / a;
    band.b0 = (1.0 + alpha * a) / a0;
    band.b1 = -2.0 * cosw / a0;
    band.b2 = (1.0 - alpha * a) / a0;
    band.a1 = -2.0 * cosw / a0;
    band.a2 = (1.0 - alpha / a) / a0;
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

// Transposed direct form II, band after band over the block.  A band at 0 dB whose memory
// has died out is an identity and is skipped (its memory set to exactly zero).
void Equalizer::processBlock(float *data, size_t frames)
{
    for (Band &band : m_bands) {
        if (!band.usable)
            continue;
        if (band.currentDb == 0 && band.stepDb == 0 && stateSilent(band.s1, band.s2)) {
            band.s1[0] = band.s1[1] = band.s2[0] = band.s2[1] = 0;
            continue;
        }
        const double b0 = band.b0, b1 = band.b1, b2 = band.b2, a1 = band.a1, a2 = band.a2;
        if (m_channels == 2) {
            double l1 = band.s1[0], l2 = band.s2[0], r1 = band.s1[1], r2 = band.s2[1];
            for (size_t i = 0; i < frames; ++i) {
                const double xl = data[2 * i];
                const double xr = data[2 * i + 1];
                const double yl = b0 * xl + l1;
                const double yr = b0 * xr + r1;
                l1 = b1 * xl - a1 * yl + l2;
                r1 = b1 * xr - a1 * yr + r2;
                l2 = b2 * xl - a2 * yl;
                r2 = b2 * xr - a2 * yr;
                data[2 * i] = static_cast<float>(yl);
                data[2 * i + 1] = static_cast<float>(yr);
            }
            band.s1[0] = l1;
            band.s2[0] = l2;
            band.s1[1] = r1;
            band.s2[1] = r2;
        } else {
            double s1 = band.s1[0], s2 = band.s2[0];
            for (size_t i = 0; i < frames; ++i) {
                const double x = data[i];
                const double y = b0 * x + s1;
                s1 = b1 * x - a1 * y + s2;
                s2 = b2 * x - a2 * y;
                data[i] = static_cast<float>(y);
            }
            band.s1[0] = s1;
            band.s2[0] = s2;
        }
    }
}

} // namespace vbmp3
