#include "bandanalyzer.h"

#include "common/runtimelib.h"

#include <kiss_fftr.h>
extern "C" {
#include <libavutil/tx.h>
}

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <numbers>
#include <system_error>
#include <thread>

namespace vbmp3
{

static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float), "kiss_fft_cpx is two floats");
static_assert(sizeof(AVComplexFloat) == 2 * sizeof(float), "AVComplexFloat is two floats");

namespace
{

#define VBMP3_AVTX_FUNCTIONS(X) X(av_tx_init) X(av_tx_uninit)

struct AvTxApi {
    VBMP3_AVTX_FUNCTIONS(VBMP3_API_MEMBER)
};

const AvTxApi *loadAvTx()
{
    return loadApi<AvTxApi>(
        VBMP3_SONAME_AVUTIL, [](void *lib, AvTxApi &api) { return VBMP3_AVTX_FUNCTIONS(VBMP3_API_RESOLVE) true; });
}

std::atomic<const AvTxApi *> g_avTx { nullptr };
std::once_flag g_avTxLoad;

// FFmpeg's transform when it has loaded; else null, and the first call starts loading it
// on a thread of its own: the first reader may be a GUI thread, which must not wait for
// libavutil and its libraries to be read.
const AvTxApi *avTxIfLoaded()
{
    if (const AvTxApi *api = g_avTx.load(std::memory_order_acquire))
        return api;
    std::call_once(g_avTxLoad, [] {
        try {
            std::thread([] { g_avTx.store(loadAvTx(), std::memory_order_release); }).detach();
        } catch (const std::system_error &) {
            // No thread to load it on: the portable transform stays.
        }
    });
    return nullptr;
}

// The vector code of the transform wants its arrays aligned to 64 bytes (AVX-512).
constexpr size_t kAlign = 64;

} // namespace

BandAnalyzer::BandAnalyzer(Transform transform)
    : m_transform(transform)
{
}

BandAnalyzer::~BandAnalyzer()
{
    if (m_plan)
        kiss_fftr_free(m_plan);
    if (m_fast)
        loadAvTx()->av_tx_uninit(&m_fast);
}

bool BandAnalyzer::loadFastTransform()
{
    const AvTxApi *api = loadAvTx();
    if (api)
        g_avTx.store(api, std::memory_order_release);
    return api != nullptr;
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
    m_input.resize(2 * m_size);
    const size_t bins = m_size / 2 + 1;
    for (std::vector<float> &power : m_power)
        power.resize(bins);
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
    m_lowBin = static_cast<size_t>(*std::min_element(m_first.begin(), m_first.end()));
    m_highBin = static_cast<size_t>(*std::max_element(m_last.begin(), m_last.end()));

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

bool BandAnalyzer::prepareFast()
{
    if (m_transform != Transform::Fastest)
        return false;
    if (m_fast && m_fastSize == m_size)
        return true;
    const AvTxApi *api = avTxIfLoaded();
    if (!api)
        return false;
    api->av_tx_uninit(&m_fast);
    m_fastRun = nullptr;
    m_fastSize = 0;
    const float scale = 1.0f;
    if (api->av_tx_init(&m_fast, &m_fastRun, AV_TX_FLOAT_FFT, 0, static_cast<int>(m_size), &scale, 0) < 0 || !m_fast
        || !m_fastRun) {
        api->av_tx_uninit(&m_fast);
        m_transform = Transform::Portable; // not for this length: no use asking again
        return false;
    }
    const size_t bytes = 2 * m_size * sizeof(float); // a multiple of kAlign
    m_pairIn.reset(static_cast<float *>(std::aligned_alloc(kAlign, bytes)));
    m_pairOut.reset(static_cast<float *>(std::aligned_alloc(kAlign, bytes)));
    if (!m_pairIn || !m_pairOut)
        throw std::bad_alloc();
    m_fastSize = m_size;
    return true;
}

void BandAnalyzer::analyze(const float *frames, int channels, int rate, int32_t *first, int32_t *second)
{
    begin(rate, channels, 0);
    take(frames, windowFor(rate));
    finish(first, second);
}

void BandAnalyzer::begin(int rate, int channels, size_t silent)
{
    prepare(rate);
    m_fastUsed = prepareFast();
    m_channels = std::max(channels, 1);
    m_filled = 0;
    silence(std::min(silent, m_size));
}

void BandAnalyzer::silence(size_t to)
{
    if (to <= m_filled)
        return;
    if (m_fastUsed) {
        std::fill(m_pairIn.get() + 2 * m_filled, m_pairIn.get() + 2 * to, 0.0f);
    } else {
        std::fill(m_input.data() + m_filled, m_input.data() + to, 0.0f);
        std::fill(m_input.data() + m_size + m_filled, m_input.data() + m_size + to, 0.0f);
    }
    m_filled = to;
}

// Channels 0 and 1 windowed: for FFmpeg's transform as the real and imaginary parts of one
// signal, for kissfft's as two.
void BandAnalyzer::take(const float *frames, size_t count)
{
    count = std::min(count, m_size - m_filled);
    const float *window = m_window.data() + m_filled;
    const auto ch = static_cast<size_t>(m_channels);
    if (m_fastUsed) {
        float *in = m_pairIn.get() + 2 * m_filled;
        if (ch == 2) {
            for (size_t n = 0; n < count; ++n) {
                in[2 * n] = frames[2 * n] * window[n];
                in[2 * n + 1] = frames[2 * n + 1] * window[n];
            }
        } else if (ch == 1) {
            for (size_t n = 0; n < count; ++n) {
                in[2 * n] = frames[n] * window[n];
                in[2 * n + 1] = 0.0f;
            }
        } else {
            for (size_t n = 0; n < count; ++n) {
                in[2 * n] = frames[n * ch] * window[n];
                in[2 * n + 1] = frames[n * ch + 1] * window[n];
            }
        }
    } else {
        float *left = m_input.data() + m_filled;
        float *right = m_input.data() + m_size + m_filled;
        for (size_t n = 0; n < count; ++n)
            left[n] = frames[n * ch] * window[n];
        if (ch >= 2)
            for (size_t n = 0; n < count; ++n)
                right[n] = frames[n * ch + 1] * window[n];
    }
    m_filled += count;
}

void BandAnalyzer::finish(int32_t *first, int32_t *second)
{
    if (m_filled < m_size)
        silence(m_size); // frames never taken
    if (m_fastUsed) {
        analyzeFast(first, second);
        return;
    }
    analyzePortable(m_input.data(), first);
    if (m_channels >= 2)
        analyzePortable(m_input.data() + m_size, second);
    else
        std::copy_n(first, kBands, second);
}

void BandAnalyzer::analyzePortable(float *input, int32_t *levels)
{
    auto *out = reinterpret_cast<kiss_fft_cpx *>(m_fftOut.data());
    kiss_fftr(m_plan, input, out);
    float *power = m_power[0].data();
    for (size_t k = m_lowBin; k <= m_highBin; ++k)
        power[k] = out[k].r * out[k].r + out[k].i * out[k].i;
    levelsOf(power, levels);
}

// Two real signals x and y through one complex transform Z of x + iy: X[k] = (Z[k] +
// conj Z[N-k]) / 2 and Y[k] = (Z[k] - conj Z[N-k]) / 2i.
void BandAnalyzer::analyzeFast(int32_t *first, int32_t *second)
{
    m_fastRun(m_fast, m_pairOut.get(), m_pairIn.get(), sizeof(AVComplexFloat));
    const float *z = m_pairOut.get();
    float *left = m_power[0].data();
    float *right = m_power[1].data();
    for (size_t k = m_lowBin; k <= m_highBin; ++k) {
        const float a = z[2 * k], b = z[2 * k + 1];
        const float c = z[2 * (m_size - k)], d = z[2 * (m_size - k) + 1];
        left[k] = 0.25f * ((a + c) * (a + c) + (b - d) * (b - d));
        right[k] = 0.25f * ((a - c) * (a - c) + (b + d) * (b + d));
    }
    levelsOf(left, first);
    if (m_channels >= 2)
        levelsOf(right, second);
    else
        std::copy_n(first, kBands, second);
}

void BandAnalyzer::levelsOf(const float *power, int32_t *levels) const
{
    for (int b = 0; b < kBands; ++b) {
        float peak = 0;
        for (int k = m_first[b]; k <= m_last[b]; ++k)
            peak = std::max(peak, power[k]);
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
