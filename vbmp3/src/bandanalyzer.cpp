#include "bandanalyzer.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
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
}

void BandAnalyzer::analyze(const float *frames, int channels, int channel, int rate, int32_t *levels)
{
    prepare(rate);
    for (size_t n = 0; n < m_size; ++n)
        m_input[n] = frames[n * static_cast<size_t>(channels) + static_cast<size_t>(channel)] * m_window[n];
    auto *out = reinterpret_cast<kiss_fft_cpx *>(m_fftOut.data());
    kiss_fftr(m_plan, m_input.data(), out);
    for (size_t k = 0; k < m_power.size(); ++k)
        m_power[k] = out[k].r * out[k].r + out[k].i * out[k].i;

    // A full-scale sine on a bin gives |X| = N / 4 through the Hann window.
    const double fullScale = 10.0 * std::log10(static_cast<double>(m_size) * static_cast<double>(m_size) / 16.0);
    for (int b = 0; b < kBands; ++b) {
        float peak = 0;
        for (int k = m_first[b]; k <= m_last[b]; ++k)
            peak = std::max(peak, m_power[static_cast<size_t>(k)]);
        if (peak <= 0) {
            levels[b] = 0;
            continue;
        }
        const double db = 10.0 * std::log10(static_cast<double>(peak)) - fullScale;
        levels[b] = static_cast<int32_t>(std::clamp(std::lround(2.0 * (db + 60.0)), 0L, 120L));
    }
}

} // namespace vbmp3
