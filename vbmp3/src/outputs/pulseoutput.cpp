// The sound-server output: PulseAudio (or PipeWire's PulseAudio service) through the
// asynchronous API on its own threaded main loop.  Pausing corks the stream, so the server
// keeps what it holds and resumes at the same sample; the clock is the server's latency
// report, interpolated between updates.  The server is fed when it asks, on the main loop's
// own thread, from a request's worth of data the output thread made ahead: a write from
// any other thread would wake the loop's thread and contend for its lock at each request.
//
// The stream's samples and rate follow deviceSamplesFor and deviceRateFor: 16-bit, 24 bits
// in 32-bit words or float, at the track's own rate unless the caller forces one (then
// soxr converts).  One connection and one stream serve the whole session: a stop flushes
// and corks the stream, the next play goes on through it, a track of another rate at a
// forced device rate only sets up the resampler again, and only a change of the device's
// channel count or rate, or a source wider than the stream's samples, makes a new stream
// (on the same connection).  The stream carries the volume word as its own volume,
// so that the desktop's mixer and the player's slider show one value; a change made in the
// mixer comes back through takeMixerVolume.  The stream is named after what plays.
//
// libpulse (and the dozen libraries it pulls in) is loaded only when this output is first
// opened, so that a process that never plays through the sound server does not pay for
// loading it.
#include "output.h"
#include "pulseapi.h"
#include "pulsefeed.h"

#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
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
// The longest waitForRoom sleeps without news from the server (its requests and the
// stream's state changes wake it before that).
constexpr auto kRoomCheck = 1000ms;
// How far ahead of what is heard a rewrite starts: the time its bytes take to reach the
// server, and the least a sink can rewind.
constexpr auto kRewriteLead = 40ms;

class PulseOutput final : public Output
{
public:
    PulseOutput(std::string sink, std::function<void()> connecting)
        : m_sink(std::move(sink))
        , m_connecting(std::move(connecting))
    {
    }
    ~PulseOutput() override { close(); }

    bool open(const OutputFormat &format) override
    {
        m_fallback.clear(); // a server back after it went away plays again
        if (!configure(format))
            return false;
        // Without libpulse there is no server to reach.
        m_pa = pulseApi();
        if (!m_pa)
            return false;
        const PulseClient client = newPulseClient(m_pa);
        m_loop = client.loop;
        if (!m_loop)
            return false;
        m_context = client.context;
        if (!m_context || m_pa->context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (m_pa->threaded_mainloop_start(m_loop) < 0)
            return false;
        m_loopRunning = true;
        if (!pulseWaitUntil(m_pa, m_loop, kConnectTimeout, [this] {
                const auto state = m_pa->context_get_state(m_context);
                return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
            }))
            return false;
        {
            // Volume changes of our stream made by others (the desktop's mixer).
            PulseLock lock(m_pa, m_loop);
            m_pa->context_set_subscribe_callback(m_context, onEvent, this);
            if (pa_operation *op
                = m_pa->context_subscribe(m_context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
                m_pa->operation_unref(op);
        }
        return connectStream();
    }

    // A new stream on the same connection once the old one has played out.
    bool reopen(const OutputFormat &format) override
    {
        if (fallback() || !m_context)
            return Output::reopen(format);
        dropStream();
        {
            std::lock_guard lock(m_resamplerMutex);
            if (m_resampler) {
                soxr_delete(m_resampler);
                m_resampler = nullptr;
            }
        }
        return configure(format) && connectStream();
    }

    // The same stream when the device's channels and rate stay and its samples carry the
    // new source's: only the resampler (and the mixer) change, after the old one's tail has
    // gone to the stream.  The stream keeps its samples.
    bool continueWith(const OutputFormat &format) override
    {
        if (fallback() || !m_stream || deviceChannelsFor(format) != m_deviceChannels
            || deviceRateFor(format) != static_cast<int>(m_spec.rate) || !carries(m_samples, deviceSamplesFor(format)))
            return false;
        writeResamplerTail();
        std::lock_guard lock(m_resamplerMutex);
        if (m_resampler) {
            soxr_delete(m_resampler);
            m_resampler = nullptr;
        }
        const DeviceSamples samples = m_samples;
        const pa_sample_format_t sampleFormat = m_spec.format;
        const bool done = configureLocked(format);
        m_samples = samples;
        m_spec.format = sampleFormat;
        return done;
    }

    size_t room() override
    {
        if (const auto f = fallback())
            return f->room();
        if (!m_stream)
            return 0;
        if (m_roomStale.exchange(false)) {
            PulseLock lock(m_pa, m_loop);
            if (!lookAtRoom()) {
                m_fallback.take(m_format, lostFrames());
                return fallback()->room();
            }
        }
        const size_t deviceFrames = m_feed.roomBytes() / m_pa->frame_size(&m_spec);
        std::lock_guard lock(m_resamplerMutex);
        return static_cast<size_t>(std::floor(static_cast<double>(deviceFrames) / m_ratio));
    }

    // Sleeps until the server has asked for data (it does once a quarter of the buffer is
    // free, see connectStream) and taken what was made ahead, the stream's state changes,
    // an interrupt, or the timeout.
    void waitForRoom(std::chrono::milliseconds timeout) override
    {
        if (const auto f = fallback())
            return f->waitForRoom(timeout);
        const auto deadline
            = std::chrono::steady_clock::now() + std::min<std::chrono::milliseconds>(timeout, kRoomCheck);
        std::unique_lock lock(m_wakeMutex);
        while (m_wake.wait_until(lock, deadline, [this] { return m_woken || m_asked; })) {
            const bool interrupted = m_woken;
            m_woken = false;
            m_asked = false;
            if (interrupted)
                return;
            // A request already served (written before this wait) leaves no room: wait on.
            lock.unlock();
            const bool room = writableOrGone();
            lock.lock();
            if (room)
                return;
        }
    }

    void write(const float *data, size_t frames) override
    {
        if (const auto f = fallback())
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
            deviceFrames = resampleInto(m_resampler, m_ratio, m_deviceChannels, samples, frames, m_resampled);
        }
        writeDevice(samples, deviceFrames);
    }

    int64_t delayFrames() override
    {
        if (const auto f = fallback())
            return f->delayFrames();
        pa_usec_t usec = 0;
        int negative = 0;
        int rc = -1;
        size_t ahead = 0;
        {
            PulseLock lock(m_pa, m_loop);
            if (m_stream)
                rc = m_pa->stream_get_latency(m_stream, &usec, &negative);
            ahead = m_feed.size();
        }
        std::lock_guard lock(m_resamplerMutex);
        double frames = 0;
        if (rc == 0 && !negative)
            frames = static_cast<double>(usec) * m_rate / 1e6;
        frames += static_cast<double>(ahead / m_pa->frame_size(&m_spec)) / m_ratio;
        if (m_resampler)
            frames += soxr_delay(m_resampler) / m_ratio;
        const auto delay = static_cast<int64_t>(std::llround(frames));
        if (rc == 0) {
            m_lastDelay = delay;
            m_lastDelayAt = std::chrono::steady_clock::now().time_since_epoch().count();
        }
        return delay;
    }

    void setPaused(bool paused) override
    {
        {
            if (m_fallback.setPaused(paused))
                return;
        }
        if (!m_loop)
            return;
        PulseLock lock(m_pa, m_loop);
        m_corked = paused;
        if (!m_stream)
            return;
        if (pa_operation *op = m_pa->stream_cork(m_stream, paused ? 1 : 0, nullptr, nullptr))
            m_pa->operation_unref(op);
        m_roomStale = true;
    }

    void flush() override
    {
        if (const auto f = fallback())
            return f->flush();
        if (!m_stream)
            return;
        {
            std::lock_guard lock(m_resamplerMutex);
            if (m_resampler)
                soxr_clear(m_resampler);
        }
        PulseLock lock(m_pa, m_loop);
        dropDrain();
        if (pa_operation *op = m_pa->stream_flush(m_stream, nullptr, nullptr))
            m_pa->operation_unref(op);
        m_feed.drop();
        m_roomStale = true;
    }

    void startDrain() override
    {
        if (const auto f = fallback())
            return f->startDrain();
        if (!m_stream)
            return;
        writeResamplerTail();
        PulseLock lock(m_pa, m_loop);
        dropDrain();
        m_feed.sendAll(m_pa, m_stream);
        m_drain = m_pa->stream_drain(m_stream, onDrained, this);
    }

    bool drained() override
    {
        if (const auto f = fallback())
            return f->drained();
        if (!m_stream)
            return true;
        PulseLock lock(m_pa, m_loop);
        // A stream that died (the server went away after the last write) plays nothing
        // more and no drain will ever complete: what it held plays on in silence.
        if (m_pa->stream_get_state(m_stream) != PA_STREAM_READY) {
            m_fallback.take(m_format, lostFrames());
            return fallback()->drained();
        }
        if (!m_drain) {
            m_feed.sendAll(m_pa, m_stream);
            m_drain = m_pa->stream_drain(m_stream, onDrained, this);
        }
        if (m_drain && m_pa->operation_get_state(m_drain) == PA_OPERATION_RUNNING)
            return false;
        // The server has mixed the last frame; the sink still plays what it mixed ahead
        // (the delay when the drain completed: the clock stands still afterwards).
        const auto now = std::chrono::steady_clock::now();
        if (!m_drainEnd) {
            pa_usec_t usec = 0;
            int negative = 0;
            if (m_pa->stream_get_latency(m_stream, &usec, &negative) != 0 || negative)
                usec = 0;
            m_drainEnd = now + std::chrono::microseconds(usec);
        }
        return now >= *m_drainEnd;
    }

    // Sleeps until the drain under way completes (the server tells at once) and the sink has
    // played what it mixed ahead, an interrupt, or the timeout.
    void waitDrained(std::chrono::milliseconds timeout) override
    {
        if (const auto f = fallback())
            return f->waitDrained(timeout);
        auto until = std::chrono::steady_clock::now() + timeout;
        if (m_drainEnd)
            until = std::min(until, *m_drainEnd);
        std::unique_lock lock(m_wakeMutex);
        m_wake.wait_until(lock, until, [this] { return m_woken; });
        m_woken = false;
    }

    void interrupt() override
    {
        m_fallback.interrupt();
        wake();
    }

    void close() override
    {
        if (m_loop) {
            if (m_loopRunning) {
                PulseLock lock(m_pa, m_loop);
                dropDrain();
                if (m_stream) {
                    forgetCallbacks();
                    m_pa->stream_disconnect(m_stream);
                    m_pa->stream_unref(m_stream);
                    m_stream = nullptr;
                }
                m_feed.drop();
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
        std::lock_guard lock(m_resamplerMutex);
        if (m_resampler) {
            soxr_delete(m_resampler);
            m_resampler = nullptr;
        }
    }

    bool rewrites() const override { return true; }

    // What is queued beyond the lead, while the client knows where the server's queue
    // ends (not after a flush until the next timing update) and no resampler holds state.
    size_t rewritable() override
    {
        if (fallback() || !m_stream)
            return 0;
        {
            std::lock_guard lock(m_resamplerMutex);
            if (m_resampler)
                return 0;
        }
        pa_usec_t usec = 0;
        int negative = 0;
        size_t ahead = 0;
        {
            PulseLock lock(m_pa, m_loop);
            const pa_timing_info *timing = m_pa->stream_get_timing_info(m_stream);
            if (!timing || timing->write_index_corrupt || m_pa->stream_get_latency(m_stream, &usec, &negative) != 0
                || negative)
                return 0;
            ahead = m_feed.size();
        }
        const auto lead = static_cast<pa_usec_t>(std::chrono::microseconds(kRewriteLead).count());
        const double queued = usec > lead ? static_cast<double>(usec - lead) * m_spec.rate / 1e6 : 0.0;
        return static_cast<size_t>(queued) + ahead / m_pa->frame_size(&m_spec);
    }

    // The new bytes replace the tail of what is made ahead and, before it, what the server
    // queues, written at their place in its queue (an absolute write keeps the client's
    // count of the queue's end true; the server rewinds the sink where it had mixed them).
    bool rewrite(const float *data, size_t frames) override
    {
        if (fallback() || !m_stream || frames == 0)
            return false;
        const float *samples = data;
        if (m_deviceChannels != m_format.channels) {
            m_channelBuffer.resize(frames * static_cast<size_t>(m_deviceChannels));
            m_mixer.mix(data, frames, m_channelBuffer.data());
            samples = m_channelBuffer.data();
        }
        {
            std::lock_guard lock(m_resamplerMutex);
            if (m_resampler)
                return false;
        }
        const uint8_t *bytes = nullptr;
        const size_t size = deviceBytes(samples, frames, bytes);
        PulseLock lock(m_pa, m_loop);
        const pa_timing_info *timing = m_pa->stream_get_timing_info(m_stream);
        if (!timing || timing->write_index_corrupt)
            return false;
        const size_t ahead = std::min(m_feed.size(), size);
        const size_t queued = size - ahead;
        if (queued > 0) {
            const int64_t at = timing->write_index - static_cast<int64_t>(queued);
            if (at < 0 || m_pa->stream_write(m_stream, bytes, queued, nullptr, at, PA_SEEK_ABSOLUTE) != 0)
                return false;
        }
        m_feed.replaceTail(bytes + queued, ahead);
        return true;
    }

    const char *name() const override { return m_fallback.active() ? "null" : "pulse"; }
    bool persistent() const override { return !m_fallback.active(); }
    bool handlesVolume() const override { return !m_fallback.active(); }

    void setVolume(uint32_t word) override
    {
        m_word.store(word);
        if (!m_loop || m_fallback.active())
            return;
        PulseLock lock(m_pa, m_loop);
        if (!m_stream || m_index == PA_INVALID_INDEX)
            return;
        const pa_cvolume volume = pulseVolumeOf(word, m_map);
        if (pa_operation *op = m_pa->context_set_sink_input_volume(m_context, m_index, &volume, nullptr, nullptr))
            m_pa->operation_unref(op);
    }

    bool takeMixerVolume(uint32_t *word) override
    {
        if (!m_mixerNews.exchange(false))
            return false;
        *word = m_mixerWord.load();
        return true;
    }

    void setMediaName(const std::string &name) override
    {
        m_mediaName = name.empty() ? std::string("kestrine") : name;
        if (!m_loop)
            return;
        PulseLock lock(m_pa, m_loop);
        if (!m_stream)
            return;
        if (pa_operation *op = m_pa->stream_set_name(m_stream, m_mediaName.c_str(), nullptr, nullptr))
            m_pa->operation_unref(op);
    }

private:
    bool configure(const OutputFormat &format)
    {
        std::lock_guard lock(m_resamplerMutex);
        return configureLocked(format);
    }

    // The track's format, the mixer to the device's channels and the resampler to its
    // rate.  m_resamplerMutex held, no resampler yet.
    bool configureLocked(const OutputFormat &format)
    {
        m_format = format;
        m_rate = format.rate;
        m_deviceChannels = deviceChannelsFor(format);
        m_mixer.configure(format.channels, format.channelMask, m_deviceChannels);
        const int deviceRate = deviceRateFor(format);
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
        m_samples = deviceSamplesFor(format);
        m_spec.format = m_samples == DeviceSamples::S16 ? PA_SAMPLE_S16NE
            : m_samples == DeviceSamples::S32           ? PA_SAMPLE_S32NE
                                                        : PA_SAMPLE_FLOAT32NE;
        m_spec.rate = static_cast<uint32_t>(deviceRate);
        m_spec.channels = static_cast<uint8_t>(m_deviceChannels);
        return true;
    }

    // A stream for m_spec on the connection, started at the volume word.
    bool connectStream()
    {
        uint32_t connectedWord = 0; // the word the stream starts with
        {
            PulseLock lock(m_pa, m_loop);
            pulseChannelMap(
                m_pa, m_map, m_spec.channels, m_deviceChannels == m_format.channels ? m_format.channelMask : 0);
            pa_proplist *stream = m_pa->proplist_new();
            m_pa->proplist_sets(stream, PA_PROP_MEDIA_ROLE, "music");
            m_pa->proplist_sets(stream, PA_PROP_APPLICATION_ICON_NAME, "kestrine");
            m_stream = m_pa->stream_new_with_proplist(m_context, m_mediaName.c_str(), &m_spec, &m_map, stream);
            m_roomStale = true;
            m_pa->proplist_free(stream);
            if (!m_stream)
                return false;
            m_pa->stream_set_write_callback(m_stream, onWritable, this);
            m_pa->stream_set_state_callback(m_stream, onState, this);
            // The server's work follows how often it has to mix: the stream asks for a
            // long buffer (kServerBufferMs, or more when the options ask) and for data only
            // once a quarter of it is free, so that the sink runs with a long latency and
            // the server, the main loop's thread and the output thread wake a few times a
            // second.  What the user does still reaches what is queued at once: the
            // server rewinds on cork, flush and volume, and an equalizer change rewrites
            // the queue (rewrite).  Playback starts (and resumes after a flush) once the
            // options' buffer is there, not the whole of it.
            const auto bytesOf = [this](int ms) {
                return static_cast<uint32_t>(m_pa->usec_to_bytes(static_cast<pa_usec_t>(ms) * 1000, &m_spec));
            };
            const int bufferMs = std::max(m_format.bufferMs, kServerBufferMs);
            pa_buffer_attr attr;
            attr.maxlength = static_cast<uint32_t>(-1);
            attr.tlength = bytesOf(bufferMs);
            attr.prebuf = bytesOf(std::clamp(m_format.bufferMs, 1, bufferMs));
            attr.minreq = bytesOf(bufferMs / 4);
            m_feed.setLimit(attr.minreq);
            attr.fragsize = static_cast<uint32_t>(-1);
            const auto flags = static_cast<pa_stream_flags_t>(
                PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
            connectedWord = m_word.load();
            const pa_cvolume volume = pulseVolumeOf(connectedWord, m_map);
            if (m_pa->stream_connect_playback(
                    m_stream, m_sink.empty() ? nullptr : m_sink.c_str(), &attr, flags, &volume, nullptr)
                < 0)
                return false;
        }
        if (m_connecting)
            m_connecting();
        const bool ready = pulseWaitUntil(m_pa, m_loop, kConnectTimeout, [this] {
            const auto state = m_pa->stream_get_state(m_stream);
            return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
        });
        if (ready) {
            PulseLock lock(m_pa, m_loop);
            m_index = m_pa->stream_get_index(m_stream);
            // A volume set while the stream was being made (setVolume found no index yet):
            // the stream takes it now, under the same lock that setVolume takes.
            if (const uint32_t word = m_word.load(); word != connectedWord) {
                const pa_cvolume volume = pulseVolumeOf(word, m_map);
                if (pa_operation *op
                    = m_pa->context_set_sink_input_volume(m_context, m_index, &volume, nullptr, nullptr))
                    m_pa->operation_unref(op);
            }
        }
        return ready;
    }

    void dropStream()
    {
        PulseLock lock(m_pa, m_loop);
        dropDrain();
        if (m_stream) {
            forgetCallbacks();
            m_pa->stream_disconnect(m_stream);
            m_pa->stream_unref(m_stream);
            m_stream = nullptr;
        }
        m_feed.drop();
        m_index = PA_INVALID_INDEX;
        m_roomStale = true;
    }

    // A stream being let go keeps living until the server has answered its disconnection;
    // its callbacks must not reach this output meanwhile.  The main loop's lock held.
    void forgetCallbacks()
    {
        m_pa->stream_set_write_callback(m_stream, nullptr, nullptr);
        m_pa->stream_set_state_callback(m_stream, nullptr, nullptr);
    }

    // What the resampler still holds goes to the stream.
    void writeResamplerTail()
    {
        std::lock_guard lock(m_resamplerMutex);
        if (!m_resampler)
            return;
        m_resampled.resize(4096 * static_cast<size_t>(m_deviceChannels));
        size_t made = 0;
        do {
            soxr_process(m_resampler, nullptr, 0, nullptr, m_resampled.data(), 4096, &made);
            writeDevice(m_resampled.data(), made);
        } while (made > 0);
    }

    // Ends the waits under way: waitDrained's (drain news), waitForRoom's (room news).
    void wake(bool drain = true, bool room = true)
    {
        {
            std::lock_guard lock(m_wakeMutex);
            m_woken = m_woken || drain;
            m_asked = m_asked || room;
        }
        m_wake.notify_all();
    }

    // The main loop's thread, its lock held.
    static void onDrained(pa_stream *, int, void *self) { static_cast<PulseOutput *>(self)->wake(true, false); }
    // The server asks for data: it gets what was made ahead, here on the loop's own thread
    // (a write from another thread wakes this one).
    static void onWritable(pa_stream *stream, size_t, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        out->m_feed.serve(out->m_pa, stream);
        out->wake(false, true);
    }
    // The stream became ready, failed or ended: room() and drained() look again.
    static void onState(pa_stream *, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        out->m_roomStale = true;
        out->wake();
    }

    // The main loop's thread, its lock held.
    static void onEvent(pa_context *context, pa_subscription_event_type_t type, uint32_t index, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT
            || (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE || index != out->m_index
            || index == PA_INVALID_INDEX)
            return;
        // The volume as it stands when the server answers: a change of our own that
        // passed this event reads as ours.
        if (pa_operation *op = out->m_pa->context_get_sink_input_info(context, index, onInfo, self))
            out->m_pa->operation_unref(op);
    }

    static void onInfo(pa_context *, const pa_sink_input_info *info, int eol, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        if (eol != 0 || !info || info->index != out->m_index)
            return;
        const uint32_t word = pulseWordOf(info->volume, info->channel_map, out->m_word.load());
        if (word == out->m_word.load())
            return;
        out->m_word.store(word);
        out->m_mixerWord.store(word);
        out->m_mixerNews.store(true);
        out->tellNews();
    }

    // Whether the stream takes data now, or is no longer ready (room() then turns to the
    // null output).
    bool writableOrGone()
    {
        if (m_roomStale.exchange(false)) {
            PulseLock lock(m_pa, m_loop);
            if (!m_stream || !lookAtRoom())
                return true;
        }
        return m_feed.roomBytes() > 0;
    }

    // Takes what the server waits for now into the feed; false (and stale) when the stream
    // is no longer ready.  The loop's lock held, on the output thread.
    bool lookAtRoom()
    {
        const size_t bytes = m_pa->stream_writable_size(m_stream);
        if (m_pa->stream_get_state(m_stream) != PA_STREAM_READY || bytes == static_cast<size_t>(-1)) {
            m_roomStale = true;
            return false;
        }
        m_feed.setOwed(bytes);
        return true;
    }

    // The null output once the server went away (or the stream failed) while playing.
    std::shared_ptr<Output> fallback() { return m_fallback.get(); }

    // What the stream held when it was lost, by the last delay known and the time since.
    int64_t lostFrames() const
    {
        const auto since = std::chrono::steady_clock::now().time_since_epoch()
            - std::chrono::steady_clock::duration(m_lastDelayAt.load());
        const double played
            = m_corked ? 0.0 : std::chrono::duration<double>(since).count() * static_cast<double>(m_rate);
        return std::max<int64_t>(0, m_lastDelay.load() - static_cast<int64_t>(played));
    }

    // Frames of the device's channels and rate as the stream's bytes (valid until the
    // next call); their size in bytes.
    size_t deviceBytes(const float *samples, size_t deviceFrames, const uint8_t *&bytes)
    {
        const size_t count = deviceFrames * static_cast<size_t>(m_deviceChannels);
        bytes = reinterpret_cast<const uint8_t *>(samples);
        if (m_samples == DeviceSamples::S16) {
            m_s16.resize(count);
            floatToS16(samples, m_s16.data(), count);
            bytes = reinterpret_cast<const uint8_t *>(m_s16.data());
            return count * sizeof(int16_t);
        }
        if (m_samples == DeviceSamples::S32) {
            m_s32.resize(count);
            floatToS32(samples, m_s32.data(), count);
            bytes = reinterpret_cast<const uint8_t *>(m_s32.data());
            return count * sizeof(int32_t);
        }
        return count * sizeof(float);
    }

    void writeDevice(const float *samples, size_t deviceFrames)
    {
        if (deviceFrames == 0)
            return;
        const uint8_t *from = nullptr;
        const size_t size = deviceBytes(samples, deviceFrames, from);
        // The server is fed on its request from what is made ahead.
        if (m_feed.keep(from, size))
            return;
        PulseLock lock(m_pa, m_loop);
        m_feed.writeNow(m_pa, m_stream, from, size);
    }

    // Called with the loop locked.
    void dropDrain()
    {
        m_drainEnd.reset();
        if (m_drain) {
            m_pa->operation_cancel(m_drain);
            m_pa->operation_unref(m_drain);
            m_drain = nullptr;
        }
    }

    const std::string m_sink; // the server's default when empty
    const std::function<void()> m_connecting; // see makePulseOutput
    // Set by open (and reopen, continueWith) on the output thread.
    const PulseApi *m_pa = nullptr; // set by open once libpulse is loaded; never unloaded
    OutputFormat m_format;
    pa_sample_spec m_spec {};
    DeviceSamples m_samples = DeviceSamples::S16; // what m_spec.format holds
    pa_channel_map m_map {}; // of the stream; under the loop's lock
    int m_deviceChannels = 2;
    bool m_loopRunning = false;
    std::string m_mediaName = "kestrine";

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr; // used under the loop's lock
    pa_stream *m_stream = nullptr; // used under the loop's lock
    uint32_t m_index = PA_INVALID_INDEX; // the stream's sink input; under the loop's lock
    pa_operation *m_drain = nullptr; // under the loop's lock

    std::atomic<uint32_t> m_word { 0xFFFFFFFFu }; // the volume the stream has, as a word
    std::atomic<uint32_t> m_mixerWord { 0 }; // the last volume set from outside
    std::atomic<bool> m_mixerNews { false }; // m_mixerWord not taken yet

    NullFallback m_fallback;
    // The last delay the server's clock gave, and when (steady_clock ticks): what a lost
    // stream's stand-in starts with.  The output thread and the caller's.
    std::atomic<int64_t> m_lastDelay { 0 };
    std::atomic<std::chrono::steady_clock::rep> m_lastDelayAt { 0 };
    std::atomic<bool> m_corked { false };
    // When the sink has played what it mixed ahead of a completed drain; the output
    // thread's, cleared with the drain.
    std::optional<std::chrono::steady_clock::time_point> m_drainEnd;

    std::mutex m_wakeMutex; // protects m_woken and m_asked
    std::condition_variable m_wake;
    bool m_woken = false; // a drain completed or an interrupt came since the last wait
    bool m_asked = false; // the server asked for data (or an interrupt came) since the last wait

    PulseFeed m_feed; // what was made ahead of the server's next request
    // The stream's state changed (or it is new): room() looks at it under the loop's lock.
    std::atomic<bool> m_roomStale { true };

    std::mutex m_resamplerMutex; // protects the resampler, m_resampled, m_rate and m_ratio
    soxr_t m_resampler = nullptr;
    std::vector<float> m_resampled;
    int m_rate = 44100; // the track's rate
    double m_ratio = 1.0; // device rate / track rate
    ChannelMixer m_mixer; // output thread
    std::vector<float> m_channelBuffer; // output thread only
    std::vector<int16_t> m_s16; // output thread only
    std::vector<int32_t> m_s32; // output thread only
};

} // namespace

std::unique_ptr<Output> makePulseOutput(const std::string &sink, std::function<void()> connecting)
{
    return std::make_unique<PulseOutput>(sink, std::move(connecting));
}

} // namespace vbmp3
