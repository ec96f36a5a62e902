// The sound-server output: PulseAudio (or PipeWire's PulseAudio service) through the
// asynchronous API on its own threaded main loop.  Pausing corks the stream, so the server
// keeps what it holds and resumes at the same sample; the clock is the server's latency
// report, interpolated between updates.
//
// libpulse (and the dozen libraries it pulls in) is loaded only when this output is first
// opened, so that a process that never plays through the sound server does not pay for
// loading it.
#include "output.h"

#include <dlfcn.h>
#include <pulse/pulseaudio.h>
#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vbmp3
{
namespace
{

using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 1000ms;

// The libpulse functions this output calls, with the types the headers give them.
#define VBMP3_PULSE_FUNCTIONS(X)                                                                                       \
    X(channel_map_init_auto)                                                                                           \
    X(channel_map_init_extend)                                                                                         \
    X(context_connect)                                                                                                 \
    X(context_disconnect)                                                                                              \
    X(context_get_state)                                                                                               \
    X(context_new_with_proplist)                                                                                       \
    X(context_unref)                                                                                                   \
    X(frame_size)                                                                                                      \
    X(operation_cancel)                                                                                                \
    X(operation_get_state)                                                                                             \
    X(operation_unref)                                                                                                 \
    X(proplist_free)                                                                                                   \
    X(proplist_new)                                                                                                    \
    X(proplist_sets)                                                                                                   \
    X(stream_connect_playback)                                                                                         \
    X(stream_cork)                                                                                                     \
    X(stream_disconnect)                                                                                               \
    X(stream_drain)                                                                                                    \
    X(stream_flush)                                                                                                    \
    X(stream_get_latency)                                                                                              \
    X(stream_get_state)                                                                                                \
    X(stream_new_with_proplist)                                                                                        \
    X(stream_unref)                                                                                                    \
    X(stream_writable_size)                                                                                            \
    X(stream_write)                                                                                                    \
    X(threaded_mainloop_free)                                                                                          \
    X(threaded_mainloop_get_api)                                                                                       \
    X(threaded_mainloop_lock)                                                                                          \
    X(threaded_mainloop_new)                                                                                           \
    X(threaded_mainloop_start)                                                                                         \
    X(threaded_mainloop_stop)                                                                                          \
    X(threaded_mainloop_unlock)                                                                                        \
    X(usec_to_bytes)

struct PulseApi {
#define VBMP3_PULSE_MEMBER(name) decltype(&::pa_##name) name = nullptr;
    VBMP3_PULSE_FUNCTIONS(VBMP3_PULSE_MEMBER)
#undef VBMP3_PULSE_MEMBER
};

// libpulse's functions, or null when libpulse.so.0 is missing or lacks one of them.  Any
// thread; the library is loaded on the first call, once per process, and stays loaded (its
// threads and atexit handlers may outlive any one output).
const PulseApi *pulseApi()
{
    static std::once_flag once;
    static std::optional<PulseApi> api;
    std::call_once(once, [] {
        void *library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        PulseApi loaded;
        bool complete = true;
#define VBMP3_PULSE_RESOLVE(name)                                                                                      \
    loaded.name = reinterpret_cast<decltype(loaded.name)>(dlsym(library, "pa_" #name));                                \
    complete = complete && loaded.name;
        VBMP3_PULSE_FUNCTIONS(VBMP3_PULSE_RESOLVE)
#undef VBMP3_PULSE_RESOLVE
        if (complete)
            api = loaded;
        else
            dlclose(library);
    });
    return api ? &*api : nullptr;
}

class PulseOutput final : public Output
{
public:
    explicit PulseOutput(std::string sink)
        : m_sink(std::move(sink))
    {
    }
    ~PulseOutput() override { close(); }

    bool open(const OutputFormat &format) override
    {
        m_format = format;
        m_deviceChannels
            = format.deviceChannels == 1 || format.deviceChannels == 2 ? format.deviceChannels : format.channels;
        m_mixer.configure(format.channels, format.channelMask, m_deviceChannels);
        const int deviceRate = format.deviceRate > 0 ? format.deviceRate : format.rate;
        m_ratio = static_cast<double>(deviceRate) / format.rate;
        if (deviceRate != format.rate) {
            soxr_error_t error = nullptr;
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            m_resampler = soxr_create(
                format.rate, deviceRate, static_cast<unsigned>(m_deviceChannels), &error, &io, &quality, nullptr);
            if (error || !m_resampler)
                return false;
        }

        // Without libpulse there is no server to reach.
        m_pa = pulseApi();
        if (!m_pa)
            return false;
        m_loop = m_pa->threaded_mainloop_new();
        if (!m_loop)
            return false;
        // The library is the player's own: the sound server shows the player, with its
        // icon (PULSE_PROP_* in the environment still override these).
        pa_proplist *client = m_pa->proplist_new();
        m_pa->proplist_sets(client, PA_PROP_APPLICATION_NAME, "kestrine");
        m_pa->proplist_sets(client, PA_PROP_APPLICATION_ICON_NAME, "kestrine");
        m_pa->proplist_sets(client, PA_PROP_APPLICATION_ID, "io.github.kestrine.kestrine");
        m_context = m_pa->context_new_with_proplist(m_pa->threaded_mainloop_get_api(m_loop), nullptr, client);
        m_pa->proplist_free(client);
        if (!m_context || m_pa->context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (m_pa->threaded_mainloop_start(m_loop) < 0)
            return false;
        m_loopRunning = true;
        if (!waitUntil([this] {
                const auto state = m_pa->context_get_state(m_context);
                return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
            }))
            return false;

        m_spec.format = format.deviceSampleFormat == 1 ? PA_SAMPLE_FLOAT32NE : PA_SAMPLE_S16NE;
        m_spec.rate = static_cast<uint32_t>(deviceRate);
        m_spec.channels = static_cast<uint8_t>(m_deviceChannels);
        pa_channel_map map;
        channelMap(map, m_deviceChannels == format.channels ? format.channelMask : 0);
        {
            Lock lock(m_pa, m_loop);
            pa_proplist *stream = m_pa->proplist_new();
            m_pa->proplist_sets(stream, PA_PROP_MEDIA_ROLE, "music");
            m_pa->proplist_sets(stream, PA_PROP_APPLICATION_ICON_NAME, "kestrine");
            m_stream = m_pa->stream_new_with_proplist(m_context, "kestrine", &m_spec, &map, stream);
            m_pa->proplist_free(stream);
            if (!m_stream)
                return false;
            pa_buffer_attr attr;
            attr.maxlength = static_cast<uint32_t>(-1);
            attr.tlength
                = static_cast<uint32_t>(m_pa->usec_to_bytes(static_cast<pa_usec_t>(format.bufferMs) * 1000, &m_spec));
            attr.prebuf = static_cast<uint32_t>(-1);
            attr.minreq
                = static_cast<uint32_t>(m_pa->usec_to_bytes(static_cast<pa_usec_t>(format.periodMs) * 1000, &m_spec));
            attr.fragsize = static_cast<uint32_t>(-1);
            const auto flags = static_cast<pa_stream_flags_t>(
                PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
            if (m_pa->stream_connect_playback(
                    m_stream, m_sink.empty() ? nullptr : m_sink.c_str(), &attr, flags, nullptr, nullptr)
                < 0)
                return false;
        }
        return waitUntil([this] {
            const auto state = m_pa->stream_get_state(m_stream);
            return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
        });
    }

    size_t room() override
    {
        if (Output *f = fallback())
            return f->room();
        if (!m_stream)
            return 0;
        size_t bytes;
        bool ready;
        {
            Lock lock(m_pa, m_loop);
            ready = m_pa->stream_get_state(m_stream) == PA_STREAM_READY;
            bytes = m_pa->stream_writable_size(m_stream);
        }
        if (!ready || bytes == static_cast<size_t>(-1)) {
            fallBack();
            return fallback()->room();
        }
        const size_t deviceFrames = bytes / m_pa->frame_size(&m_spec);
        return static_cast<size_t>(std::floor(static_cast<double>(deviceFrames) / m_ratio));
    }

    void waitForRoom(std::chrono::milliseconds timeout) override
    {
        if (Output *f = fallback())
            return f->waitForRoom(timeout);
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(timeout, 5ms));
    }

    void write(const float *data, size_t frames) override
    {
        if (Output *f = fallback())
            return f->write(data, frames);
        if (!m_stream || frames == 0)
            return;
        // Channels as the device wants them.
        const float *samples = data;
        if (m_deviceChannels != m_format.channels) {
            m_channelBuffer.resize(frames * static_cast<size_t>(m_deviceChannels));
            m_mixer.mix(data, frames, m_channelBuffer.data());
            samples = m_channelBuffer.data();
        }
        size_t deviceFrames = frames;
        std::lock_guard lock(m_resamplerMutex);
        if (m_resampler) {
            const size_t capacity = static_cast<size_t>(std::ceil(static_cast<double>(frames) * m_ratio)) + 256;
            m_resampled.resize(capacity * static_cast<size_t>(m_deviceChannels));
            size_t used = 0;
            size_t made = 0;
            soxr_process(m_resampler, samples, frames, &used, m_resampled.data(), capacity, &made);
            samples = m_resampled.data();
            deviceFrames = made;
        }
        writeDevice(samples, deviceFrames);
    }

    int64_t delayFrames() override
    {
        if (Output *f = fallback())
            return f->delayFrames();
        if (!m_stream)
            return 0;
        pa_usec_t usec = 0;
        int negative = 0;
        int rc;
        {
            Lock lock(m_pa, m_loop);
            rc = m_pa->stream_get_latency(m_stream, &usec, &negative);
        }
        double frames = 0;
        if (rc == 0 && !negative)
            frames = static_cast<double>(usec) * m_format.rate / 1e6;
        std::lock_guard lock(m_resamplerMutex);
        if (m_resampler)
            frames += soxr_delay(m_resampler) / m_ratio;
        return static_cast<int64_t>(std::llround(frames));
    }

    void setPaused(bool paused) override
    {
        {
            std::lock_guard lock(m_fallbackMutex);
            m_paused = paused;
            if (m_fallback)
                return m_fallback->setPaused(paused);
        }
        if (!m_stream)
            return;
        Lock lock(m_pa, m_loop);
        if (pa_operation *op = m_pa->stream_cork(m_stream, paused ? 1 : 0, nullptr, nullptr))
            m_pa->operation_unref(op);
    }

    void flush() override
    {
        if (Output *f = fallback())
            return f->flush();
        if (!m_stream)
            return;
        {
            std::lock_guard lock(m_resamplerMutex);
            if (m_resampler)
                soxr_clear(m_resampler);
        }
        Lock lock(m_pa, m_loop);
        dropDrain();
        if (pa_operation *op = m_pa->stream_flush(m_stream, nullptr, nullptr))
            m_pa->operation_unref(op);
    }

    void startDrain() override
    {
        if (Output *f = fallback())
            return f->startDrain();
        if (!m_stream)
            return;
        {
            std::lock_guard lock(m_resamplerMutex);
            if (m_resampler) {
                // The resampler's tail.
                m_resampled.resize(4096 * static_cast<size_t>(m_deviceChannels));
                size_t made = 0;
                do {
                    soxr_process(m_resampler, nullptr, 0, nullptr, m_resampled.data(), 4096, &made);
                    writeDevice(m_resampled.data(), made);
                } while (made > 0);
            }
        }
        Lock lock(m_pa, m_loop);
        dropDrain();
        m_drain = m_pa->stream_drain(m_stream, nullptr, nullptr);
    }

    bool drained() override
    {
        if (Output *f = fallback())
            return f->drained();
        if (!m_stream)
            return true;
        Lock lock(m_pa, m_loop);
        // A stream that died (the server went away after the last write) plays nothing
        // more: what it held is gone, and no drain will ever complete.
        if (m_pa->stream_get_state(m_stream) != PA_STREAM_READY)
            return true;
        if (!m_drain)
            m_drain = m_pa->stream_drain(m_stream, nullptr, nullptr);
        return !m_drain || m_pa->operation_get_state(m_drain) != PA_OPERATION_RUNNING;
    }

    void close() override
    {
        if (m_loop) {
            if (m_loopRunning) {
                Lock lock(m_pa, m_loop);
                dropDrain();
                if (m_stream) {
                    m_pa->stream_disconnect(m_stream);
                    m_pa->stream_unref(m_stream);
                    m_stream = nullptr;
                }
                if (m_context)
                    m_pa->context_disconnect(m_context);
            }
            m_pa->threaded_mainloop_stop(m_loop);
            m_loopRunning = false;
            if (m_stream)
                m_pa->stream_unref(m_stream);
            if (m_context)
                m_pa->context_unref(m_context);
            m_pa->threaded_mainloop_free(m_loop);
            m_stream = nullptr;
            m_context = nullptr;
            m_loop = nullptr;
        }
        if (m_resampler) {
            soxr_delete(m_resampler);
            m_resampler = nullptr;
        }
    }

    const char *name() const override { return m_hasFallback.load() ? "null" : "pulse"; }

private:
    struct Lock {
        Lock(const PulseApi *pa, pa_threaded_mainloop *loop)
            : m_pa(pa)
            , m_loop(loop)
        {
            m_pa->threaded_mainloop_lock(m_loop);
        }
        ~Lock() { m_pa->threaded_mainloop_unlock(m_loop); }
        const PulseApi *m_pa;
        pa_threaded_mainloop *m_loop;
    };

    // The server's positions of the channels in the WAVE order of mask (one or two
    // channels as usual; without a mask that names them all, WAVE's default layout).
    void channelMap(pa_channel_map &map, uint32_t mask) const
    {
        static constexpr pa_channel_position_t kWavePositions[] = { PA_CHANNEL_POSITION_FRONT_LEFT,
            PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_LFE,
            PA_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_RIGHT, PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
            PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER, PA_CHANNEL_POSITION_REAR_CENTER, PA_CHANNEL_POSITION_SIDE_LEFT,
            PA_CHANNEL_POSITION_SIDE_RIGHT, PA_CHANNEL_POSITION_TOP_CENTER, PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
            PA_CHANNEL_POSITION_TOP_FRONT_CENTER, PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
            PA_CHANNEL_POSITION_TOP_REAR_LEFT, PA_CHANNEL_POSITION_TOP_REAR_CENTER,
            PA_CHANNEL_POSITION_TOP_REAR_RIGHT };
        const unsigned channels = m_spec.channels;
        if (channels <= 2) {
            m_pa->channel_map_init_auto(&map, channels, PA_CHANNEL_MAP_DEFAULT);
            return;
        }
        if (std::popcount(mask) == static_cast<int>(channels) && mask < (1u << std::size(kWavePositions))) {
            map.channels = static_cast<uint8_t>(channels);
            unsigned c = 0;
            for (unsigned bit = 0; bit < std::size(kWavePositions); ++bit)
                if (mask & (1u << bit))
                    map.map[c++] = kWavePositions[bit];
            return;
        }
        m_pa->channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_WAVEEX);
    }

    Output *fallback()
    {
        std::lock_guard lock(m_fallbackMutex);
        return m_fallback.get();
    }

    // The server went away (or the stream failed) while playing: go on in real time through
    // a null output instead of waiting for room that never comes.  Output thread.
    void fallBack()
    {
        auto null = makeNullOutput();
        null->open(m_format);
        std::lock_guard lock(m_fallbackMutex);
        if (m_paused)
            null->setPaused(true);
        m_fallback = std::move(null);
        m_hasFallback.store(true);
    }

    // Polls check (1 done, 0 not yet, -1 failed) under the loop's lock until it is
    // decided or the connect timeout passes.
    template <typename Check> bool waitUntil(Check check)
    {
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        for (;;) {
            int result;
            {
                Lock lock(m_pa, m_loop);
                result = check();
            }
            if (result != 0)
                return result > 0;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(2ms);
        }
    }

    void writeDevice(const float *samples, size_t deviceFrames)
    {
        if (deviceFrames == 0)
            return;
        const size_t count = deviceFrames * static_cast<size_t>(m_deviceChannels);
        const void *bytes = samples;
        size_t size = count * sizeof(float);
        if (m_spec.format == PA_SAMPLE_S16NE) {
            m_s16.resize(count);
            for (size_t i = 0; i < count; ++i)
                m_s16[i] = floatToS16(samples[i]);
            bytes = m_s16.data();
            size = count * sizeof(int16_t);
        }
        Lock lock(m_pa, m_loop);
        m_pa->stream_write(m_stream, bytes, size, nullptr, 0, PA_SEEK_RELATIVE);
    }

    // Called with the loop locked.
    void dropDrain()
    {
        if (m_drain) {
            m_pa->operation_cancel(m_drain);
            m_pa->operation_unref(m_drain);
            m_drain = nullptr;
        }
    }

    const std::string m_sink; // the server's default when empty
    // Fixed after open.
    const PulseApi *m_pa = nullptr; // set by open once libpulse is loaded; never unloaded
    OutputFormat m_format;
    pa_sample_spec m_spec {};
    int m_deviceChannels = 2;
    double m_ratio = 1.0; // device rate / track rate
    bool m_loopRunning = false;

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr; // used under the loop's lock
    pa_stream *m_stream = nullptr; // used under the loop's lock
    pa_operation *m_drain = nullptr; // under the loop's lock

    std::mutex m_fallbackMutex; // protects m_fallback (set once) and m_paused
    std::unique_ptr<Output> m_fallback;
    std::atomic<bool> m_hasFallback { false }; // m_fallback is set (read by name())
    bool m_paused = false;

    std::mutex m_resamplerMutex; // protects m_resampler's state and m_resampled
    soxr_t m_resampler = nullptr;
    std::vector<float> m_resampled;
    ChannelMixer m_mixer; // fixed after open
    std::vector<float> m_channelBuffer; // output thread only
    std::vector<int16_t> m_s16; // output thread only
};

} // namespace

std::unique_ptr<Output> makePulseOutput(const std::string &sink)
{
    return std::make_unique<PulseOutput>(sink);
}

} // namespace vbmp3
