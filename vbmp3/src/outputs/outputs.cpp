// The null output (a device paced by the monotonic clock) and the WAV file output.
#include "output.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vbmp3
{
namespace
{

using Clock = std::chrono::steady_clock;

// The null output's least buffer (engine.cpp's history keeps more than this behind the
// written position, so the spectrum of what is "heard" is still there).
constexpr int kLeastBufferMs = 500;

// Consumes sound in real time: what was written is "heard" at the track's rate from the
// moment it was written, as a sound card would play it.  The clock stops while paused and
// when the buffer runs dry, so underruns do not make it run ahead.  Its buffer is what the
// options ask for but half a second at least, and it takes data in periods of half that
// buffer at least: nothing is heard, the heard position comes from the clock, not from
// the periods, and the output thread sleeps a quarter of a second at a time without
// anything running late (a pause, stop or seek drops what it holds at once).  Only the
// spectrum shows a change of the equalizer that much later.
class NullOutput final : public Output
{
public:
    bool open(const OutputFormat &format) override
    {
        std::lock_guard lock(m_mutex);
        setFormatLocked(format);
        return true;
    }

    size_t room() override
    {
        std::lock_guard lock(m_mutex);
        return static_cast<size_t>(std::max<int64_t>(0, m_capacity - (m_written - playedLocked(Clock::now()))));
    }

    void waitForRoom(std::chrono::milliseconds timeout) override
    {
        std::unique_lock lock(m_mutex);
        const uint64_t generation = m_generation;
        auto deadline = Clock::now() + timeout;
        if (m_running) {
            // Room for one period opens when the played count reaches this frame.
            deadline = std::min(deadline, timeOf(m_written - m_capacity + m_period));
        }
        m_wake.wait_until(lock, deadline, [&] { return m_generation != generation; });
    }

    void waitDrained(std::chrono::milliseconds timeout) override
    {
        std::unique_lock lock(m_mutex);
        const uint64_t generation = m_generation;
        auto deadline = Clock::now() + timeout;
        if (m_running)
            deadline = std::min(deadline, timeOf(m_written));
        m_wake.wait_until(lock, deadline, [&] { return m_generation != generation; });
    }

    void interrupt() override
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_wake.notify_all();
    }

    void write(const float *, size_t frames) override
    {
        std::lock_guard lock(m_mutex);
        const auto now = Clock::now();
        if (!m_paused && playedLocked(now) >= m_written) {
            // Empty (start, after a flush or an underrun): the clock starts now.
            m_playedBase = m_written;
            m_start = now;
            m_running = true;
        }
        m_written += static_cast<int64_t>(frames);
    }

    int64_t delayFrames() override
    {
        std::lock_guard lock(m_mutex);
        return m_written - playedLocked(Clock::now());
    }

    void setPaused(bool paused) override
    {
        std::lock_guard lock(m_mutex);
        if (paused == m_paused)
            return;
        const auto now = Clock::now();
        if (paused) {
            m_playedBase = playedLocked(now);
            m_running = false;
        } else if (m_written > m_playedBase) {
            m_start = now;
            m_running = true;
        }
        m_paused = paused;
        ++m_generation;
        m_wake.notify_all();
    }

    // What it holds goes on playing for the same time; the clock counts at the new rate.
    bool continueWith(const OutputFormat &format) override
    {
        std::lock_guard lock(m_mutex);
        const auto now = Clock::now();
        const int64_t held = m_written - playedLocked(now);
        const int oldRate = m_rate;
        setFormatLocked(format);
        m_written = (held * m_rate + oldRate / 2) / oldRate;
        m_playedBase = 0;
        if (m_running)
            m_start = now;
        ++m_generation;
        m_wake.notify_all();
        return true;
    }

    void flush() override
    {
        std::lock_guard lock(m_mutex);
        m_written = m_playedBase = 0;
        m_running = false;
        ++m_generation;
        m_wake.notify_all();
    }

    void close() override { }
    const char *name() const override { return "null"; }
    bool usesSamples() const override { return false; }

private:
    void setFormatLocked(const OutputFormat &format)
    {
        m_rate = format.rate;
        m_capacity = std::max<int64_t>(1, int64_t { std::max(format.bufferMs, kLeastBufferMs) } * format.rate / 1000);
        m_period = std::clamp<int64_t>(
            static_cast<int64_t>(format.periodMs) * format.rate / 1000, m_capacity / 2, m_capacity);
        m_period = std::max<int64_t>(m_period, 1);
    }

    // When the clock reaches the given played count (m_running).
    Clock::time_point timeOf(int64_t played) const
    {
        const double seconds = static_cast<double>(played - m_playedBase) / m_rate;
        return m_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    int64_t playedLocked(Clock::time_point now) const
    {
        if (!m_running)
            return m_playedBase;
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        const auto played = m_playedBase + static_cast<int64_t>(seconds * m_rate);
        return std::min(played, m_written);
    }

    std::mutex m_mutex; // protects everything below
    std::condition_variable m_wake;
    int m_rate = 44100;
    int64_t m_capacity = 4410;
    int64_t m_period = 441;
    int64_t m_written = 0; // frames written since open or the last flush
    int64_t m_playedBase = 0; // frames played when the clock last (re)started or stopped
    Clock::time_point m_start; // when the clock last started
    bool m_running = false; // the clock runs (data held and not paused)
    bool m_paused = false;
    uint64_t m_generation = 0; // bumped by flush, pause changes and interrupt; ends waits
};

// Writes a 16- or 24-bit PCM WAV file as fast as it is fed (WAVE_FORMAT_EXTENSIBLE with
// the channel mask for more than two channels or 24 bits); the header's sizes are fixed
// when the output closes.  The file is created (truncated) at open, on the output thread, so
// that a previous output writing the same path has finished first.  Writes go straight to
// the file (no stdio buffer), so that the bytes counted are the bytes the file holds: when
// a write fails (disk full, file size limit) the output stops writing, cuts the data at a
// whole frame, and the header tells what the file holds.
//
// A play whose tracks change format on the way (a joined track of another rate or channel
// count) goes on in a further file (numberedPath), so that each file holds one format.
class FileOutput final : public Output
{
public:
    explicit FileOutput(std::string path)
        : m_basePath(std::move(path))
        , m_path(m_basePath)
    {
    }
    ~FileOutput() override { close(); }

    bool open(const OutputFormat &format) override
    {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0)
            return false;
        m_channels = format.channels;
        m_rate = format.rate;
        m_sampleBytes = format.fileBits == 24 ? 3 : 2;
        m_validBits = std::clamp(format.validBits, 1, 8 * m_sampleBytes);
        m_channelMask = format.channelMask;
        m_extensible = m_channels > 2 || m_sampleBytes > 2;
        m_dataBytes = 0;
        m_failed = false;
        const std::vector<unsigned char> h = header();
        return writeAll(reinterpret_cast<const char *>(h.data()), h.size()) == h.size();
    }

    size_t room() override { return 1 << 20; }
    void waitForRoom(std::chrono::milliseconds) override { }
    void waitDrained(std::chrono::milliseconds) override { }

    void write(const float *data, size_t frames) override
    {
        if (m_fd < 0 || m_failed)
            return;
        const size_t samples = frames * static_cast<size_t>(m_channels);
        const char *bytes;
        size_t size;
        if (m_sampleBytes == 2) {
            m_buffer.resize(samples);
            floatToS16(data, m_buffer.data(), samples);
            if constexpr (std::endian::native == std::endian::big) {
                for (int16_t &v : m_buffer)
                    v = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(v)));
            }
            bytes = reinterpret_cast<const char *>(m_buffer.data());
            size = samples * sizeof(int16_t);
        } else {
            m_wide.resize(samples * 3);
            floatToS24(data, m_wide.data(), samples);
            bytes = reinterpret_cast<const char *>(m_wide.data());
            size = m_wide.size();
        }
        const size_t done = writeAll(bytes, size);
        m_dataBytes += done;
        if (done < size)
            m_failed = true;
    }

    // The file so far is complete; the sound goes on in the next one.  A next file that
    // cannot be created fails the output (failed()).
    bool continueWith(const OutputFormat &format) override
    {
        close();
        m_path = numberedPath(m_basePath, ++m_files);
        if (!open(format))
            m_failed = true;
        return true;
    }

    int64_t delayFrames() override { return 0; }
    void setPaused(bool) override { }
    const char *name() const override { return "file"; }
    void flush() override { }
    bool failed() const override { return m_failed; }

    void close() override
    {
        if (m_fd < 0)
            return;
        if (m_failed) {
            // A partly written frame is no frame: the data ends at the last whole one.
            const uint64_t frameBytes = static_cast<uint64_t>(m_channels) * static_cast<uint64_t>(m_sampleBytes);
            m_dataBytes -= m_dataBytes % frameBytes;
            if (::ftruncate(m_fd, static_cast<off_t>(headerBytes() + m_dataBytes)) != 0)
                m_dataBytes = 0; // cannot say where the data ends: claim none
        }
        if (!writeHeader())
            m_failed = true;
        if (::close(m_fd) != 0)
            m_failed = true;
        m_fd = -1;
    }

    bool realTime() const override { return false; }

private:
    // RIFF header, "fmt " chunk (16 or 40 bytes), "data" chunk header.
    size_t headerBytes() const { return m_extensible ? 68 : 44; }

    static void put32(unsigned char *p, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
    static void put16(unsigned char *p, uint32_t v)
    {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
    }

    // Writes size bytes at the file's end; returns how many were written.
    size_t writeAll(const char *bytes, size_t size)
    {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, bytes + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

    std::vector<unsigned char> header() const
    {
        const size_t size = headerBytes();
        const auto dataSize = static_cast<uint32_t>(std::min<uint64_t>(m_dataBytes, 0xFFFFFFFFu - (size - 8)));
        std::vector<unsigned char> h(size);
        const auto blockAlign = static_cast<uint32_t>(m_channels * m_sampleBytes);
        std::memcpy(&h[0], "RIFFxxxxWAVEfmt ", 16);
        put32(&h[4], static_cast<uint32_t>(size - 8) + dataSize);
        put32(&h[16], m_extensible ? 40 : 16);
        put16(&h[20], m_extensible ? 0xFFFE : 1); // WAVE_FORMAT_EXTENSIBLE or PCM
        put16(&h[22], static_cast<uint32_t>(m_channels));
        put32(&h[24], static_cast<uint32_t>(m_rate));
        put32(&h[28], static_cast<uint32_t>(m_rate) * blockAlign);
        put16(&h[32], blockAlign);
        put16(&h[34], static_cast<uint32_t>(8 * m_sampleBytes));
        if (m_extensible) {
            put16(&h[36], 22);
            put16(&h[38], static_cast<uint32_t>(m_validBits));
            put32(&h[40], m_channelMask);
            // KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00aa00389b71
            static const unsigned char kPcm[16] = { 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71 };
            std::memcpy(&h[44], kPcm, 16);
        }
        std::memcpy(&h[size - 8], "data", 4);
        put32(&h[size - 4], dataSize);
        return h;
    }

    // Puts the final sizes into the header.  A target that cannot seek (a pipe) keeps the
    // header of open, as every streamed WAV does: not a failure.
    bool writeHeader()
    {
        const std::vector<unsigned char> h = header();
        const ssize_t n = ::pwrite(m_fd, h.data(), h.size(), 0);
        return n == static_cast<ssize_t>(h.size()) || (n < 0 && errno == ESPIPE);
    }

    // Output thread only.
    std::string m_basePath; // the target of the play
    std::string m_path; // the file being written
    int m_files = 1; // files of this play so far
    int m_fd = -1;
    int m_channels = 2;
    int m_rate = 44100;
    int m_sampleBytes = 2; // 2 or 3
    int m_validBits = 16;
    uint32_t m_channelMask = 0x3;
    bool m_extensible = false;
    uint64_t m_dataBytes = 0; // bytes of sound the file holds after the header
    bool m_failed = false;
    std::vector<int16_t> m_buffer; // little-endian samples
    std::vector<unsigned char> m_wide; // 24-bit little-endian samples
};

} // namespace

void floatToS16(const float *in, int16_t *out, size_t count)
{
    size_t i = 0;
#if defined(__SSE2__)
    // Rounds to nearest even like lrintf; the pack saturates to the 16-bit range.
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(in + i), scale), high), low);
        const __m128 b = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_loadu_ps(in + i + 4), scale), high), low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
#endif
    for (; i < count; ++i)
        out[i] = floatToS16(in[i]);
}

void ChannelMixer::configure(int inChannels, uint32_t mask, int outChannels)
{
    m_in = std::clamp(inChannels, 1, 8);
    m_out = std::clamp(outChannels, 1, 2);
    m_left.fill(0.0f);
    m_right.fill(0.0f);
    if (m_in == 1) {
        m_left[0] = m_right[0] = 1.0f;
        return;
    }
    constexpr float kMinus3Db = 0.70710678f;
    constexpr uint32_t kLeftSide = 0x10 | 0x40 | 0x200 | 0x1000 | 0x8000; // BL FLC SL TFL TBL
    constexpr uint32_t kRightSide = 0x20 | 0x80 | 0x400 | 0x4000 | 0x20000; // BR FRC SR TFR TBR
    const bool placed = std::popcount(mask) == m_in;
    uint32_t rest = mask;
    for (int c = 0; c < m_in; ++c) {
        uint32_t bit = 0;
        if (placed) {
            bit = rest & (~rest + 1); // the lowest speaker left: channel c's
            rest &= rest - 1;
        } else {
            bit = c == 0 ? 0x1 : c == 1 ? 0x2 : 0x4;
        }
        const auto i = static_cast<size_t>(c);
        if (bit == 0x1) {
            m_left[i] = 1.0f;
        } else if (bit == 0x2) {
            m_right[i] = 1.0f;
        } else if (bit & kLeftSide) {
            m_left[i] = kMinus3Db;
        } else if (bit & kRightSide) {
            m_right[i] = kMinus3Db;
        } else if (bit != 0x8) { // centre speakers into both; the LFE into neither
            m_left[i] = m_right[i] = kMinus3Db;
        }
    }
    float leftSum = 0.0f;
    float rightSum = 0.0f;
    for (size_t i = 0; i < 8; ++i) {
        leftSum += m_left[i];
        rightSum += m_right[i];
    }
    const float scale = 1.0f / std::max({ leftSum, rightSum, 1.0f });
    for (size_t i = 0; i < 8; ++i) {
        m_left[i] *= scale;
        m_right[i] *= scale;
    }
}

void ChannelMixer::mix(const float *in, size_t frames, float *out) const
{
    const auto ch = static_cast<size_t>(m_in);
    for (size_t f = 0; f < frames; ++f) {
        const float *frame = in + f * ch;
        float left = 0.0f;
        float right = 0.0f;
        for (size_t c = 0; c < ch; ++c) {
            left += frame[c] * m_left[c];
            right += frame[c] * m_right[c];
        }
        if (m_out == 2) {
            out[2 * f] = left;
            out[2 * f + 1] = right;
        } else {
            out[f] = m_in == 1 ? left : 0.5f * (left + right);
        }
    }
}

void floatToS24(const float *in, unsigned char *out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const float scaled = std::clamp(in[i] * 8388608.0f, -8388608.0f, 8388607.0f);
        const auto v = static_cast<uint32_t>(static_cast<int32_t>(__builtin_lrintf(scaled)));
        out[3 * i] = static_cast<unsigned char>(v);
        out[3 * i + 1] = static_cast<unsigned char>(v >> 8);
        out[3 * i + 2] = static_cast<unsigned char>(v >> 16);
    }
}

void floatToS32(const float *in, int32_t *out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const float scaled = std::clamp(in[i] * 8388608.0f, -8388608.0f, 8388607.0f);
        out[i] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(__builtin_lrintf(scaled))) << 8);
    }
}

void NullFallback::take(const OutputFormat &format, int64_t held)
{
    std::lock_guard lock(m_mutex);
    if (m_output)
        return;
    m_output = makeNullOutput();
    m_output->open(format);
    if (held > 0)
        m_output->write(nullptr, static_cast<size_t>(held));
    if (m_paused)
        m_output->setPaused(true);
    m_active.store(true);
}

void NullFallback::clear()
{
    std::shared_ptr<Output> old;
    std::lock_guard lock(m_mutex);
    old = std::move(m_output);
    m_active.store(false);
}

bool NullFallback::setPaused(bool paused)
{
    std::lock_guard lock(m_mutex);
    m_paused = paused;
    if (!m_output)
        return false;
    m_output->setPaused(paused);
    return true;
}

void NullFallback::interrupt()
{
    std::lock_guard lock(m_mutex);
    if (m_output)
        m_output->interrupt();
}

void Output::waitDrained(std::chrono::milliseconds timeout)
{
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(timeout, std::chrono::milliseconds(5)));
}

std::string numberedPath(const std::string &path, int n)
{
    if (n <= 1)
        return path;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > (slash == std::string::npos ? 0 : slash + 1);
    const std::string suffix = "-" + std::to_string(n);
    return hasExtension ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

std::unique_ptr<Output> makeNullOutput()
{
    return std::make_unique<NullOutput>();
}

std::unique_ptr<Output> makeFileOutput(const std::string &path)
{
    return std::make_unique<FileOutput>(path);
}

size_t resampleInto(
    soxr_t resampler, double ratio, int channels, const float *&samples, size_t frames, std::vector<float> &buffer)
{
    const size_t capacity = static_cast<size_t>(std::ceil(static_cast<double>(frames) * ratio)) + 256;
    buffer.resize(capacity * static_cast<size_t>(channels));
    size_t used = 0;
    size_t made = 0;
    soxr_process(resampler, samples, frames, &used, buffer.data(), capacity, &made);
    samples = buffer.data();
    return made;
}

} // namespace vbmp3
