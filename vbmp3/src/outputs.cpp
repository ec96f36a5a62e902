// The null output (a device paced by the monotonic clock) and the WAV file output.
#include "output.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
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

// Consumes sound in real time: what was written is "heard" at the track's rate from the
// moment it was written, as a sound card would play it.  The clock stops while paused and
// when the buffer runs dry, so underruns do not make it run ahead.  Its buffer is what the
// options ask for, but it takes data in periods of half that buffer at least: the heard
// position comes from the clock, not from the periods, so the output thread can sleep
// long without anything running late.
class NullOutput final : public Output
{
public:
    bool open(const OutputFormat &format) override
    {
        std::lock_guard lock(m_mutex);
        m_rate = format.rate;
        m_capacity = std::max<int64_t>(1, static_cast<int64_t>(format.bufferMs) * format.rate / 1000);
        m_period = std::clamp<int64_t>(
            static_cast<int64_t>(format.periodMs) * format.rate / 1000, m_capacity / 2, m_capacity);
        m_period = std::max<int64_t>(m_period, 1);
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

// Writes a 16-bit PCM WAV file as fast as it is fed; the header's sizes are fixed when
// the output closes.  The file is created (truncated) at open, on the output thread, so
// that a previous output writing the same path has finished first.  Writes go straight to
// the file (no stdio buffer), so that the bytes counted are the bytes the file holds: when
// a write fails (disk full, file size limit) the output stops writing, cuts the data at a
// whole frame, and the header tells what the file holds.
class FileOutput final : public Output
{
public:
    explicit FileOutput(std::string path)
        : m_path(std::move(path))
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
        m_dataBytes = 0;
        m_failed = false;
        const std::array<unsigned char, kHeaderBytes> h = header();
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
        m_buffer.resize(samples);
        floatToS16(data, m_buffer.data(), samples);
        if constexpr (std::endian::native == std::endian::big) {
            for (int16_t &v : m_buffer)
                v = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(v)));
        }
        const size_t size = samples * sizeof(int16_t);
        const size_t done = writeAll(reinterpret_cast<const char *>(m_buffer.data()), size);
        m_dataBytes += done;
        if (done < size)
            m_failed = true;
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
            const uint64_t frameBytes = static_cast<uint64_t>(m_channels) * 2;
            m_dataBytes -= m_dataBytes % frameBytes;
            if (::ftruncate(m_fd, static_cast<off_t>(kHeaderBytes + m_dataBytes)) != 0)
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
    static constexpr size_t kHeaderBytes = 44;

    static void put32(unsigned char *p, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<unsigned char>(v >> (8 * i));
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

    std::array<unsigned char, kHeaderBytes> header() const
    {
        const auto dataSize = static_cast<uint32_t>(std::min<uint64_t>(m_dataBytes, 0xFFFFFFFFu - 36));
        std::array<unsigned char, kHeaderBytes> h
            = { 'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0 };
        put32(&h[4], 36 + dataSize);
        h[22] = static_cast<unsigned char>(m_channels);
        put32(&h[24], static_cast<uint32_t>(m_rate));
        put32(&h[28], static_cast<uint32_t>(m_rate * m_channels * 2));
        h[32] = static_cast<unsigned char>(m_channels * 2);
        h[34] = 16;
        std::memcpy(&h[36], "data", 4);
        put32(&h[40], dataSize);
        return h;
    }

    // Puts the final sizes into the header.  A target that cannot seek (a pipe) keeps the
    // header of open, as every streamed WAV does: not a failure.
    bool writeHeader()
    {
        const std::array<unsigned char, kHeaderBytes> h = header();
        const ssize_t n = ::pwrite(m_fd, h.data(), h.size(), 0);
        return n == static_cast<ssize_t>(h.size()) || (n < 0 && errno == ESPIPE);
    }

    // Output thread only.
    std::string m_path;
    int m_fd = -1;
    int m_channels = 2;
    int m_rate = 44100;
    uint64_t m_dataBytes = 0; // bytes of sound the file holds after the header
    bool m_failed = false;
    std::vector<int16_t> m_buffer; // little-endian samples
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

void Output::waitDrained(std::chrono::milliseconds timeout)
{
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(timeout, std::chrono::milliseconds(5)));
}

std::unique_ptr<Output> makeNullOutput()
{
    return std::make_unique<NullOutput>();
}

std::unique_ptr<Output> makeFileOutput(const std::string &path)
{
    return std::make_unique<FileOutput>(path);
}

} // namespace vbmp3
