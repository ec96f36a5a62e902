#include "bandanalyzer.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

namespace vbmp3
{

static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float), "kiss_fft_cpx is two floats");

BandAnalyzer::BandAnalyzer() = default;

BandAnalyzer::~BandAnalyzer()
{
    if (m_plan)
        kiss_fftr_free(m_plan);
}

void BandAnalyzer::prepare(int rate)
{
    if (rate == m_rate && m_plan)
        return;
    if (m_plan)
        kiss_fftr_free(m_plan);
    m_rate = rate;
    m_size = windowFor(rate);
    m_plan = kiss_fftr_alloc(static_cast<int>(m_size), 0, nullptr, nullptr);
    m_window.resize(m_size);
    for (size_t n = 0; n < m_size; ++n)
        m_window[n] = static_cast<float>(
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / static_cast<double>(m_size)));
    m_input.resize(m_size);
    const size_t bins = m_size / 2 + 1;
    m_power.resize(bins);
    m_fftOut.resize(2 * bins);

    // Band b is centred on 40 Hz x 400^(b/255) and reaches halfway (geometrically) to its
    // neighbours; a band narrower than a bin takes the bin nearest its centre.
    m_first.resize(kBands);
    m_last.resize(kBands);
    const double binHz = static_cast<double>(rate) / static_cast<double>(m_size);
    const double step = std::pow(kHighHz / kLowHz, 1.0 / (kBands - 1));
    const int lastBin = static_cast<int>(bins) - 1;
    for (int b = 0; b < kBands; ++b) {
        const double centre = kLowHz * std::pow(step, b);
        const double low = centre / std::sqrt(step);
        const double high = centre * std::sqrt(step);
        int first = static_cast<int>(std::ceil(low / binHz));
        int last = static_cast<int>(std::floor(high / binHz));
        if (last < first)
            first = last = static_cast<int>(std::lround(centre / binHz));
        m_first[b] = std::clamp(first, 1, lastBin);
        m_last[b] = std::clamp(last, m_first[b], lastBin);
    }

    // A full-scale sine on a bin gives |X| = N / 4 through the Hann window.
    m_fullScale = 10.0 * std::log10(static_cast<double>(m_size) * static_cast<double>(m_size) / 16.0);
    // Each level's least power, by bisection over the positive floats (ordered as their
    // bit patterns), so that the table reads exactly what levelOf gives.
    std::vector<uint32_t> least(kMaxLevel);
    for (int32_t level = 1; level <= kMaxLevel; ++level) {
        uint32_t low = 1;
        uint32_t high = std::bit_cast<uint32_t>(std::numeric_limits<float>::max());
        while (low < high) {
            const uint32_t mid = low + (high - low) / 2;
            if (levelOf(std::bit_cast<float>(mid)) >= level)
                high = mid;
            else
                low = mid + 1;
        }
        least[static_cast<size_t>(level - 1)] = low;
    }
    m_base.assign(kBuckets, 0);
    m_threshold.assign(kBuckets, std::numeric_limits<float>::infinity());
    for (uint32_t i = 0; i < kBuckets; ++i) {
        const uint32_t from = i << kBucketShift;
        const uint32_t to = from + (1u << kBucketShift); // exclusive
        const auto firstIn = std::lower_bound(least.begin(), least.end(), from);
        const auto pastIn = std::lower_bound(least.begin(), least.end(), to);
        const auto below = firstIn - least.begin(); // levels reached before the bucket
        m_base[i] = pastIn - firstIn > 1 ? int8_t(-1) : static_cast<int8_t>(below);
        if (pastIn - firstIn == 1)
            m_threshold[i] = std::bit_cast<float>(*firstIn);
    }
}

int32_t BandAnalyzer::levelOf(float power) const
{
    const double db = 10.0 * std::log10(static_cast<double>(power)) - m_fullScale;
    return static_cast<int32_t>(std::clamp(std::lround(2.0 * (db + 60.0)), 0L, long(kMaxLevel)));
}

void BandAnalyzer::analyze(const float *frames, int channels, int channel, int rate, int32_t *levels)
{
    prepare(rate);
    for (size_t n = 0; n < m_size; ++n)
        m_input[n] = frames[n * static_cast<size_t>(channels) + static_cast<size_t>(channel)] * m_window[n];
    auto *out = reinterpret_cast<kiss_fft_cpx *>(m_fftOut.data());
    kiss_fftr(m_plan, m_input.data(), out);
    // Only the bins the bands cover.
    const auto top = static_cast<size_t>(*std::max_element(m_last.begin(), m_last.end()));
    for (auto k = static_cast<size_t>(*std::min_element(m_first.begin(), m_first.end())); k <= top; ++k)
        m_power[k] = out[k].r * out[k].r + out[k].i * out[k].i;

    for (int b = 0; b < kBands; ++b) {
        float peak = 0;
        for (int k = m_first[b]; k <= m_last[b]; ++k)
            peak = std::max(peak, m_power[static_cast<size_t>(k)]);
        if (!(peak > 0)) {
            levels[b] = 0;
            continue;
        }
        const uint32_t bucket = std::bit_cast<uint32_t>(peak) >> kBucketShift;
        const int32_t base = bucket < kBuckets ? m_base[bucket] : -1;
        levels[b] = base >= 0 ? base + (peak >= m_threshold[bucket] ? 1 : 0) : levelOf(peak);
    }
}

} // namespace vbmp3
