// The ALSA output: plays through a PCM of libasound ("default" unless a device is named),
// for systems without a sound server.  The PCM is opened non-blocking and every call into
// it is made under one mutex, so that the controlling thread's delay and pause calls meet
// the output thread's writes and (re)opens safely; waits poll the PCM's descriptors
// together with an eventfd that interrupt, pause and flush signal.  A device suspended
// with the system is resumed by the output thread while it waits, outside that mutex
// (libasound sleeps until the device is back): the other threads meanwhile see the delay
// it had.
//
// The device gets the rate and samples deviceRateFor and deviceSamplesFor choose, as the
// sound-server output does; a device that refuses those samples gets the nearest it takes
// that keeps them (32-bit, 24-bit in four or three bytes, float, and 16-bit last), and one
// that refuses the rate or the channel count gets the nearest rate through soxr and a
// stereo mix.  libasound is loaded only when this
// output is first opened.
#include "alsaapi.h"
#include "outputdevices.h"

#include <poll.h>
#include <soxr.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace vbmp3
{
namespace
{

using namespace std::chrono_literals;

struct SampleKind {
    snd_pcm_format_t format;
    int bytes;
};
constexpr SampleKind kFloat { SND_PCM_FORMAT_FLOAT, 4 };
constexpr SampleKind kS32 { SND_PCM_FORMAT_S32, 4 };
constexpr SampleKind kS24 { SND_PCM_FORMAT_S24, 4 };
constexpr SampleKind kS24Packed { SND_PCM_FORMAT_S24_3LE, 3 };
constexpr SampleKind kS16 { SND_PCM_FORMAT_S16, 2 };

// The sample formats tried for what a track wants, in order: the wanted one first, then
// those that keep its samples, 16-bit last.
std::array<SampleKind, 5> kindsFor(DeviceSamples wanted)
{
    switch (wanted) {
    case DeviceSamples::S16:
        return { kS16, kS32, kS24, kS24Packed, kFloat };
    case DeviceSamples::S32:
        return { kS32, kS24, kS24Packed, kFloat, kS16 };
    case DeviceSamples::Float:
        break;
    }
    return { kFloat, kS32, kS24, kS24Packed, kS16 };
}

class AlsaOutput final : public Output
{
public:
    AlsaOutput(std::string device, const AlsaApi *calls)
        : m_device(device.empty() ? "default" : std::move(device))
        , m_calls(calls)
    {
        m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    ~AlsaOutput() override
    {
        close();
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
    }

    // Under the mutex throughout: the controlling thread's delay and pause calls wait for
    // a PCM being opened (at a join to another format) instead of meeting it half made.
    bool open(const OutputFormat &format) override
    {
        m_fallback.clear(); // a device back after it was lost plays again
        std::lock_guard lock(m_mutex);
        m_api = m_calls ? m_calls : alsaApi();
        if (!m_api || m_wakeFd < 0)
            return false;
        m_format = format;
        m_suspended = false;
        {
            std::lock_guard config(alsaConfigMutex());
            if (m_api->snd_pcm_open(&m_pcm, m_device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
                m_pcm = nullptr;
        }
        if (!m_pcm || !configure()) {
            closeLocked();
            return false;
        }
        const int count = m_api->snd_pcm_poll_descriptors_count(m_pcm);
        m_pollFds.resize(static_cast<size_t>(std::max(count, 0)) + 1);
        if (count > 0
            && m_api->snd_pcm_poll_descriptors(m_pcm, m_pollFds.data() + 1, static_cast<unsigned>(count)) != count) {
            closeLocked();
            return false;
        }
        m_pollFds[0] = { m_wakeFd, POLLIN, 0 };
        return true;
    }

    size_t room() override
    {
        if (const auto f = fallback())
            return f->room();
        std::lock_guard lock(m_mutex);
        if (!m_pcm || m_paused)
            return 0;
        if (!pushPendingLocked())
            return m_fallback.take(m_format), 0;
        if (!m_pending.empty())
            return 0;
        const snd_pcm_sframes_t avail = availLocked();
        if (avail < 0)
            return m_fallback.take(m_format), 0;
        return static_cast<size_t>(std::floor(static_cast<double>(avail) / m_ratio));
    }

    void waitForRoom(std::chrono::milliseconds timeout) override
    {
        if (const auto f = fallback())
            return f->waitForRoom(timeout);
        if (resumeSuspended())
            return;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            bool paused;
            {
                std::lock_guard lock(m_mutex);
                if (!m_pcm)
                    return;
                paused = m_paused;
            }
            // While paused only a resume, flush or interrupt can make room.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (m_pollFds.size() == 1) // a PCM without descriptors is looked at every few ms
                left = std::min<std::chrono::milliseconds>(left, 5ms);
            if (left.count() <= 0)
                return;
            const nfds_t count = paused ? 1 : m_pollFds.size();
            for (auto &fd : m_pollFds)
                fd.revents = 0;
            const int ready = ::poll(m_pollFds.data(), count, static_cast<int>(left.count()));
            if (ready <= 0 || takeWake())
                return;
            unsigned short events = 0;
            {
                std::lock_guard lock(m_mutex);
                if (!m_pcm)
                    return;
                m_api->snd_pcm_poll_descriptors_revents(
                    m_pcm, m_pollFds.data() + 1, static_cast<unsigned>(m_pollFds.size() - 1), &events);
            }
            if (events & (POLLOUT | POLLERR))
                return;
            // Woken for nothing the PCM counts: do not spin on descriptors that stay ready.
            std::this_thread::sleep_for(1ms);
        }
    }

    void write(const float *data, size_t frames) override
    {
        if (const auto f = fallback())
            return f->write(data, frames);
        if (frames == 0)
            return;
        const float *samples = data;
        if (m_deviceChannels != m_format.channels) {
            m_channelBuffer.resize(frames * static_cast<size_t>(m_deviceChannels));
            m_mixer.mix(data, frames, m_channelBuffer.data());
            samples = m_channelBuffer.data();
        }
        std::lock_guard lock(m_mutex);
        if (!m_pcm)
            return;
        size_t deviceFrames = frames;
        if (m_resampler) {
            deviceFrames = resampleInto(m_resampler, m_ratio, m_deviceChannels, samples, frames, m_resampled);
        }
        queueLocked(samples, deviceFrames);
        if (!pushPendingLocked())
            m_fallback.take(m_format);
    }

    int64_t delayFrames() override
    {
        if (const auto f = fallback())
            return f->delayFrames();
        std::lock_guard lock(m_mutex);
        if (!m_pcm)
            return 0;
        if (m_suspended)
            return m_lastDelay; // nothing plays until the device is back
        snd_pcm_sframes_t delay = 0;
        if (m_api->snd_pcm_delay(m_pcm, &delay) < 0 || delay < 0)
            delay = 0;
        double frames = static_cast<double>(delay) + static_cast<double>(pendingFramesLocked());
        if (m_resampler)
            frames += soxr_delay(m_resampler); // in device frames
        m_lastDelay = static_cast<int64_t>(std::llround(frames / m_ratio));
        return m_lastDelay;
    }

    void setPaused(bool paused) override
    {
        {
            if (m_fallback.setPaused(paused))
                return;
        }
        {
            std::lock_guard lock(m_mutex);
            if (paused == m_paused)
                return;
            m_paused = paused;
            // Without a PCM, or while it is suspended, the state is taken when it is back.
            if (!m_pcm || m_suspended)
                return signalWake();
            const snd_pcm_state_t state = m_api->snd_pcm_state(m_pcm);
            if (m_canPause) {
                if (paused && state == SND_PCM_STATE_RUNNING)
                    m_api->snd_pcm_pause(m_pcm, 1);
                else if (!paused && state == SND_PCM_STATE_PAUSED)
                    m_api->snd_pcm_pause(m_pcm, 0);
            } else if (paused && state == SND_PCM_STATE_RUNNING) {
                // A device that cannot pause stops; what it held is lost, and play goes on
                // after it.
                m_api->snd_pcm_drop(m_pcm);
                m_api->snd_pcm_prepare(m_pcm);
            }
        }
        signalWake();
    }

    void flush() override
    {
        if (const auto f = fallback())
            return f->flush();
        {
            std::lock_guard lock(m_mutex);
            if (!m_pcm)
                return;
            m_pending.clear();
            m_pendingOffset = 0;
            m_draining = false;
            if (m_resampler)
                soxr_clear(m_resampler);
            m_api->snd_pcm_drop(m_pcm);
            m_api->snd_pcm_prepare(m_pcm);
        }
        signalWake();
    }

    void startDrain() override
    {
        if (const auto f = fallback())
            return f->startDrain();
        std::lock_guard lock(m_mutex);
        if (!m_pcm)
            return;
        if (m_resampler) {
            // The resampler's tail.
            std::vector<float> tail(4096 * static_cast<size_t>(m_deviceChannels));
            size_t made = 0;
            do {
                soxr_process(m_resampler, nullptr, 0, nullptr, tail.data(), 4096, &made);
                queueLocked(tail.data(), made);
            } while (made > 0);
        }
        m_draining = true;
        pushPendingLocked();
        startIfHeldLocked();
    }

    bool drained() override
    {
        if (const auto f = fallback())
            return f->drained();
        std::lock_guard lock(m_mutex);
        if (!m_pcm)
            return true;
        if (!pushPendingLocked())
            return true; // the device is gone with what it held
        if (m_suspended)
            return false; // what it holds plays once it is back
        startIfHeldLocked();
        if (!m_pending.empty())
            return false;
        const snd_pcm_state_t state = m_api->snd_pcm_state(m_pcm);
        if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PAUSED && state != SND_PCM_STATE_DRAINING)
            return true;
        snd_pcm_sframes_t delay = 0;
        return m_api->snd_pcm_delay(m_pcm, &delay) < 0 || delay <= 0;
    }

    void waitDrained(std::chrono::milliseconds timeout) override
    {
        if (const auto f = fallback())
            return f->waitDrained(timeout);
        if (resumeSuspended())
            return;
        pollfd wake { m_wakeFd, POLLIN, 0 };
        if (::poll(&wake, 1, static_cast<int>(std::min<std::chrono::milliseconds>(timeout, 5ms).count())) > 0)
            takeWake();
    }

    void interrupt() override
    {
        m_fallback.interrupt();
        signalWake();
    }

    void close() override
    {
        std::lock_guard lock(m_mutex);
        closeLocked();
    }

    const char *name() const override { return m_fallback.active() ? "null" : "alsa"; }

private:
    void closeLocked()
    {
        if (m_pcm) {
            m_api->snd_pcm_drop(m_pcm);
            m_api->snd_pcm_close(m_pcm);
            m_pcm = nullptr;
            std::lock_guard config(alsaConfigMutex());
            m_api->snd_config_update_free_global();
        }
        if (m_resampler) {
            soxr_delete(m_resampler);
            m_resampler = nullptr;
        }
        m_pending.clear();
        m_pendingOffset = 0;
        m_suspended = false;
    }

    // Negotiates the hardware and software parameters; false when the device takes none
    // of the formats or channel counts this output can give.
    bool configure()
    {
        snd_pcm_hw_params_t *hw = nullptr;
        if (m_api->snd_pcm_hw_params_malloc(&hw) < 0)
            return false;
        const bool done = configureHardware(hw);
        m_api->snd_pcm_hw_params_free(hw);
        if (!done)
            return false;
        snd_pcm_sw_params_t *sw = nullptr;
        if (m_api->snd_pcm_sw_params_malloc(&sw) < 0)
            return false;
        // Starts once nearly full (startDrain starts a shorter stream); wakes a writer for
        // a period of room.
        const bool swDone = m_api->snd_pcm_sw_params_current(m_pcm, sw) >= 0
            && m_api->snd_pcm_sw_params_set_start_threshold(
                   m_pcm, sw, std::max<snd_pcm_uframes_t>(1, m_bufferFrames - m_periodFrames))
                >= 0
            && m_api->snd_pcm_sw_params_set_avail_min(m_pcm, sw, m_periodFrames) >= 0
            && m_api->snd_pcm_sw_params(m_pcm, sw) >= 0;
        m_api->snd_pcm_sw_params_free(sw);
        return swDone && m_api->snd_pcm_prepare(m_pcm) >= 0;
    }

    bool configureHardware(snd_pcm_hw_params_t *hw)
    {
        if (m_api->snd_pcm_hw_params_any(m_pcm, hw) < 0
            || m_api->snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0)
            return false;
        // The device may convert the rate itself (a "plug" PCM does), else soxr below does.
        m_api->snd_pcm_hw_params_set_rate_resample(m_pcm, hw, 1);

        const auto kinds = kindsFor(deviceSamplesFor(m_format));
        const auto kind = std::find_if(kinds.begin(), kinds.end(),
            [&](const SampleKind &k) { return m_api->snd_pcm_hw_params_test_format(m_pcm, hw, k.format) == 0; });
        if (kind == kinds.end() || m_api->snd_pcm_hw_params_set_format(m_pcm, hw, kind->format) < 0)
            return false;
        m_kind = *kind;

        int channels = deviceChannelsFor(m_format);
        if (m_api->snd_pcm_hw_params_test_channels(m_pcm, hw, static_cast<unsigned>(channels)) != 0)
            channels = channels > 2 && m_api->snd_pcm_hw_params_test_channels(m_pcm, hw, 2) == 0 ? 2 : 0;
        if (channels == 0 || m_api->snd_pcm_hw_params_set_channels(m_pcm, hw, static_cast<unsigned>(channels)) < 0)
            return false;
        m_deviceChannels = channels;
        m_mixer.configure(m_format.channels, m_format.channelMask, m_deviceChannels);

        unsigned rate = static_cast<unsigned>(deviceRateFor(m_format));
        if (m_api->snd_pcm_hw_params_test_rate(m_pcm, hw, rate, 0) == 0) {
            if (m_api->snd_pcm_hw_params_set_rate(m_pcm, hw, rate, 0) < 0)
                return false;
        } else {
            int dir = 0;
            if (m_api->snd_pcm_hw_params_set_rate_near(m_pcm, hw, &rate, &dir) < 0)
                return false;
        }
        unsigned bufferUs = static_cast<unsigned>(std::max(m_format.bufferMs, 20)) * 1000;
        unsigned periodUs
            = static_cast<unsigned>(std::clamp(m_format.periodMs, 1, std::max(m_format.bufferMs, 20) / 2)) * 1000;
        int dir = 0;
        m_api->snd_pcm_hw_params_set_buffer_time_near(m_pcm, hw, &bufferUs, &dir);
        dir = 0;
        m_api->snd_pcm_hw_params_set_period_time_near(m_pcm, hw, &periodUs, &dir);
        if (m_api->snd_pcm_hw_params(m_pcm, hw) < 0)
            return false;
        m_api->snd_pcm_hw_params_get_buffer_size(hw, &m_bufferFrames);
        dir = 0;
        m_api->snd_pcm_hw_params_get_period_size(hw, &m_periodFrames, &dir);
        m_periodFrames = std::clamp<snd_pcm_uframes_t>(m_periodFrames, 1, m_bufferFrames);
        m_canPause = m_api->snd_pcm_hw_params_can_pause(hw) == 1;

        m_ratio = static_cast<double>(rate) / m_format.rate;
        if (static_cast<int>(rate) != m_format.rate) {
            soxr_error_t error = nullptr;
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            m_resampler = soxr_create(
                m_format.rate, rate, static_cast<unsigned>(m_deviceChannels), &error, &io, &quality, nullptr);
            if (error || !m_resampler)
                return false;
        }
        return true;
    }

    // Appends frames, converted to the device's samples, to what waits for the device.
    void queueLocked(const float *samples, size_t frames)
    {
        const size_t count = frames * static_cast<size_t>(m_deviceChannels);
        const size_t at = m_pending.size();
        m_pending.resize(at + count * static_cast<size_t>(m_kind.bytes));
        unsigned char *out = m_pending.data() + at;
        switch (m_kind.format) {
        case SND_PCM_FORMAT_FLOAT:
            for (size_t i = 0; i < count; ++i) {
                const float v = std::clamp(samples[i], -1.0f, 1.0f);
                std::memcpy(out + 4 * i, &v, 4);
            }
            break;
        case SND_PCM_FORMAT_S32:
        case SND_PCM_FORMAT_S24: {
            m_words.resize(count);
            floatToS32(samples, m_words.data(), count);
            // S24 holds the same 24 bits low in the word.
            if (m_kind.format == SND_PCM_FORMAT_S24)
                for (int32_t &w : m_words)
                    w >>= 8;
            std::memcpy(out, m_words.data(), count * 4);
            break;
        }
        case SND_PCM_FORMAT_S24_3LE:
            floatToS24(samples, out, count);
            break;
        default:
            for (size_t i = 0; i < count; ++i) {
                const int16_t v = floatToS16(samples[i]);
                std::memcpy(out + 2 * i, &v, 2);
            }
            break;
        }
    }

    size_t frameBytes() const { return static_cast<size_t>(m_kind.bytes) * static_cast<size_t>(m_deviceChannels); }

    size_t pendingFramesLocked() const { return (m_pending.size() - m_pendingOffset) / frameBytes(); }

    // Frames the device takes now, recovering from an underrun; negative when the device
    // is gone, 0 while it is suspended.
    snd_pcm_sframes_t availLocked()
    {
        if (m_suspended)
            return 0;
        snd_pcm_sframes_t avail = m_api->snd_pcm_avail_update(m_pcm);
        if (avail < 0) {
            if (!recoverLocked(avail))
                return -1;
            avail = m_suspended ? 0 : m_api->snd_pcm_avail_update(m_pcm);
        }
        return avail;
    }

    // Recovers from the error a call into the PCM gave; false when the device is gone.  A
    // suspend is only noted: resumeSuspended resumes it without the lock.
    bool recoverLocked(snd_pcm_sframes_t error)
    {
        if (error == -ESTRPIPE) {
            m_suspended = true;
            return true;
        }
        return m_api->snd_pcm_recover(m_pcm, static_cast<int>(error), 1) >= 0;
    }

    // Output thread, no lock held: resumes a suspended device (which may take seconds)
    // while the other threads leave the PCM alone; the null output stands in when it does
    // not come back.  False when there was nothing to resume.
    bool resumeSuspended()
    {
        snd_pcm_t *pcm;
        {
            std::lock_guard lock(m_mutex);
            if (!m_suspended || !m_pcm)
                return false;
            pcm = m_pcm;
        }
        const bool resumed = m_api->snd_pcm_recover(pcm, -ESTRPIPE, 1) >= 0;
        {
            std::lock_guard lock(m_mutex);
            m_suspended = false;
            // A pause asked meanwhile.
            if (resumed && m_paused && m_canPause && m_api->snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING)
                m_api->snd_pcm_pause(m_pcm, 1);
        }
        if (!resumed)
            m_fallback.take(m_format);
        return true;
    }

    // Hands the device as much of what waits as it takes; false when the device is gone.
    bool pushPendingLocked()
    {
        while (m_pendingOffset < m_pending.size()) {
            const snd_pcm_sframes_t avail = availLocked();
            if (avail < 0)
                return false;
            const auto frames
                = std::min<snd_pcm_uframes_t>(static_cast<snd_pcm_uframes_t>(avail), pendingFramesLocked());
            if (frames == 0)
                break;
            const snd_pcm_sframes_t done = m_api->snd_pcm_writei(m_pcm, m_pending.data() + m_pendingOffset, frames);
            if (done == -EAGAIN)
                break;
            if (done < 0) {
                if (!recoverLocked(done))
                    return false;
                if (m_suspended)
                    break;
                continue;
            }
            m_pendingOffset += static_cast<size_t>(done) * frameBytes();
        }
        if (m_pendingOffset >= m_pending.size()) {
            m_pending.clear();
            m_pendingOffset = 0;
        }
        return true;
    }

    // A stream that ends before it filled the device up to the start threshold starts
    // here, once the end is known.
    void startIfHeldLocked()
    {
        if (!m_draining || m_paused || m_api->snd_pcm_state(m_pcm) != SND_PCM_STATE_PREPARED)
            return;
        snd_pcm_sframes_t delay = 0;
        if (m_api->snd_pcm_delay(m_pcm, &delay) >= 0 && delay > 0)
            m_api->snd_pcm_start(m_pcm);
    }

    void signalWake()
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }

    // True when a wake was signalled (and takes it).
    bool takeWake()
    {
        uint64_t count = 0;
        return ::read(m_wakeFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
    }

    // The null output once the device went away while playing (a USB card pulled).
    std::shared_ptr<Output> fallback() { return m_fallback.get(); }

    const std::string m_device;
    const AlsaApi *const m_calls; // null: libasound's own
    const AlsaApi *m_api = nullptr; // set by open; libasound is never unloaded
    int m_wakeFd = -1;

    // Set by open, under m_mutex (other threads read them only there, with a PCM open).
    OutputFormat m_format;
    SampleKind m_kind = kS16;
    int m_deviceChannels = 2;
    double m_ratio = 1.0; // device rate / track rate
    snd_pcm_uframes_t m_bufferFrames = 0;
    snd_pcm_uframes_t m_periodFrames = 0;
    bool m_canPause = false;
    std::vector<pollfd> m_pollFds; // the wake eventfd, then the PCM's; output thread only
    ChannelMixer m_mixer;
    std::vector<float> m_channelBuffer; // output thread only

    std::mutex m_mutex; // protects the PCM and everything below
    snd_pcm_t *m_pcm = nullptr;
    bool m_paused = false;
    // The device reported a suspend: only resumeSuspended (output thread, without the
    // mutex while it resumes) calls into the PCM until it is cleared.
    bool m_suspended = false;
    int64_t m_lastDelay = 0; // what delayFrames said last (told while suspended)
    bool m_draining = false;
    soxr_t m_resampler = nullptr;
    std::vector<float> m_resampled;
    std::vector<unsigned char> m_pending; // device samples not taken yet
    std::vector<int32_t> m_words; // 32-bit samples on their way into m_pending
    size_t m_pendingOffset = 0; // bytes of m_pending already taken

    NullFallback m_fallback;
};

} // namespace

std::unique_ptr<Output> makeAlsaOutput(const std::string &device)
{
    return std::make_unique<AlsaOutput>(device, nullptr);
}

std::unique_ptr<Output> makeAlsaOutput(const std::string &device, const AlsaApi *calls)
{
    return std::make_unique<AlsaOutput>(device, calls);
}

} // namespace vbmp3
