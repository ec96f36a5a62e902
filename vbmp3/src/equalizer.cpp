#include "equalizer.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace vbmp3
{
namespace
{

// After a band has reached 0 dB it is filtered this long before it is left out, so that
// its memory has died away (its poles decay well within it).
constexpr double kTailSeconds = 0.2;

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

namespace
{

// Two bands side by side, each with both channels: {left k, right k, left k+1, right k+1}.
typedef float Quad __attribute__((vector_size(16)));
typedef int32_t QuadMask __attribute__((vector_size(16)));

struct Pair {
    Quad b0, b1, b2, a1, a2; // coefficients of the two bands
    Quad s1, s2; // transposed direct form II memory
};

// What bounds the speed is the recursion through y (every band waits for its own last
// output), so the sum is ordered to leave one multiplication and one subtraction after
// y instead of a subtraction and an addition as well: b1 x + s2 is ready before y is.
inline Quad filter(Pair &f, Quad x)
{
    const Quad y = f.b0 * x + f.s1;
    f.s1 = (f.b1 * x + f.s2) - f.a1 * y;
    f.s2 = f.b2 * x - f.a2 * y;
    return y;
}

// The input of pair p at a step: what band 2p-1 (upper half of pair p-1) and band 2p
// (lower half of pair p) made at the step before; for pair 0 the new frame instead.
inline Quad shifted(Quad previousPair, Quad thisPair)
{
    return __builtin_shuffle(previousPair, thisPair, QuadMask { 2, 3, 4, 5 });
}

inline Quad frameInput(const float *data, size_t frame, int channels, Quad y0)
{
    const float left = channels == 2 ? data[2 * frame] : data[frame];
    const float right = channels == 2 ? data[2 * frame + 1] : 0.0f;
    return Quad { left, right, y0[0], y0[1] };
}

inline void storeFrame(float *data, size_t frame, int channels, Quad y)
{
    if (channels == 2) {
        data[2 * frame] = y[2];
        data[2 * frame + 1] = y[3];
    } else {
        data[frame] = y[2];
    }
}

// The cascade runs as a systolic array: at step n band j filters sample n - j, taking
// what band j - 1 made of that sample at step n - 1.  Within a step the bands do not
// depend on each other, so their recursions overlap instead of waiting one for another,
// four lanes at a time; every band still sees every sample once and in order, so the
// result is that of the plain cascade and nothing is delayed.
//
// One step for any n: bands whose sample lies outside [0, frames) keep their memory (the
// block's first and last steps).
void partialStep(Pair *f, Quad *y, int pairs, size_t n, size_t frames, float *data, int channels)
{
    Quad input[Equalizer::kBands / 2];
    for (int p = 0; p < pairs; ++p)
        input[p] = p == 0 ? frameInput(data, n < frames ? n : 0, channels, y[0]) : shifted(y[p - 1], y[p]);
    for (int p = 0; p < pairs; ++p) {
        const auto lane = [&](int band) {
            const auto b = static_cast<size_t>(band);
            return n >= b && n - b < frames ? -1 : 0;
        };
        const int lo = lane(2 * p);
        const int hi = lane(2 * p + 1);
        const QuadMask busy { lo, lo, hi, hi };
        Pair next = f[p];
        const Quad out = filter(next, input[p]);
        f[p].s1 = busy ? next.s1 : f[p].s1;
        f[p].s2 = busy ? next.s2 : f[p].s2;
        y[p] = busy ? out : y[p];
    }
    const size_t lastBand = static_cast<size_t>(2 * pairs - 1);
    if (n >= lastBand && n - lastBand < frames)
        storeFrame(data, n - lastBand, channels, y[pairs - 1]);
}

// The steps where every band is busy, with the filters held in registers.
template <int P> void fullSteps(Pair *f, Quad *y, size_t from, size_t to, float *data, int channels)
{
    Pair local[P];
    Quad out[P];
    for (int p = 0; p < P; ++p) {
        local[p] = f[p];
        out[p] = y[p];
    }
    for (size_t n = from; n < to; ++n) {
        Quad input[P];
        input[0] = frameInput(data, n, channels, out[0]);
#pragma GCC unroll 8
        for (int p = 1; p < P; ++p)
            input[p] = shifted(out[p - 1], out[p]);
#pragma GCC unroll 8
        for (int p = 0; p < P; ++p)
            out[p] = filter(local[p], input[p]);
        storeFrame(data, n - (2 * P - 1), channels, out[P - 1]);
    }
    for (int p = 0; p < P; ++p) {
        f[p] = local[p];
        y[p] = out[p];
    }
}

using FullSteps = void (*)(Pair *, Quad *, size_t, size_t, float *, int);
template <int... P> constexpr std::array<FullSteps, sizeof...(P)> makeTable(std::integer_sequence<int, P...>)
{
    return { &fullSteps<P + 1>... };
}
constexpr auto kFullSteps = makeTable(std::make_integer_sequence<int, Equalizer::kBands / 2>());

} // namespace

// Bands at 0 dB whose memory has died out are identities and are left out.  An odd count
// is padded with an identity band (y = x exactly).
void Equalizer::processBlock(float *data, size_t frames)
{
    Band *bands[kBands];
    int count = 0;
    for (Band &band : m_bands) {
        if (band.active()) {
            bands[count++] = &band;
            band.tail -= std::min(band.tail, frames);
        } else {
            band.s1[0] = band.s1[1] = band.s2[0] = band.s2[1] = 0;
        }
    }
    if (count == 0 || frames == 0)
        return;
    const int pairs = (count + 1) / 2;
    Pair filters[kBands / 2];
    for (int p = 0; p < pairs; ++p) {
        Band *lo = bands[2 * p];
        Band *hi = 2 * p + 1 < count ? bands[2 * p + 1] : nullptr;
        const auto quad = [&](double Band::*c, double identity) {
            const auto a = static_cast<float>(lo->*c);
            const auto b = static_cast<float>(hi ? hi->*c : identity);
            return Quad { a, a, b, b };
        };
        Pair &f = filters[p];
        f.b0 = quad(&Band::b0, 1.0);
        f.b1 = quad(&Band::b1, 0.0);
        f.b2 = quad(&Band::b2, 0.0);
        f.a1 = quad(&Band::a1, 0.0);
        f.a2 = quad(&Band::a2, 0.0);
        f.s1 = Quad { lo->s1[0], lo->s1[1], hi ? hi->s1[0] : 0.0f, hi ? hi->s1[1] : 0.0f };
        f.s2 = Quad { lo->s2[0], lo->s2[1], hi ? hi->s2[0] : 0.0f, hi ? hi->s2[1] : 0.0f };
    }
    Quad y[kBands / 2] = {};
    const size_t last = static_cast<size_t>(2 * pairs - 1);
    const size_t steps = frames + last;
    // Steps [last, frames) keep every band busy.
    const size_t fullFrom = std::min(last, frames);
    const size_t fullTo = std::max(fullFrom, frames);
    for (size_t n = 0; n < fullFrom; ++n)
        partialStep(filters, y, pairs, n, frames, data, m_channels);
    if (fullTo > fullFrom)
        kFullSteps[static_cast<size_t>(pairs - 1)](filters, y, fullFrom, fullTo, data, m_channels);
    for (size_t n = fullTo; n < steps; ++n)
        partialStep(filters, y, pairs, n, frames, data, m_channels);
    const bool stereo = m_channels == 2;
    for (int p = 0; p < pairs; ++p) {
        Band *lo = bands[2 * p];
        lo->s1[0] = filters[p].s1[0];
        lo->s1[1] = stereo ? filters[p].s1[1] : 0.0f;
        lo->s2[0] = filters[p].s2[0];
        lo->s2[1] = stereo ? filters[p].s2[1] : 0.0f;
        if (2 * p + 1 < count) {
            Band *hi = bands[2 * p + 1];
            hi->s1[0] = filters[p].s1[2];
            hi->s1[1] = stereo ? filters[p].s1[3] : 0.0f;
            hi->s2[0] = filters[p].s2[2];
            hi->s2[1] = stereo ? filters[p].s2[3] : 0.0f;
        }
    }
}

} // namespace vbmp3
