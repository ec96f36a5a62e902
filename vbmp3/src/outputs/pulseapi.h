// libpulse as the sound-server output uses it: its functions, loaded at run time, the
// threaded main loop's lock, the client's connection, and the mapping between the
// player's volume word and a stream's channel volumes.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace vbmp3
{

// The libpulse functions this output calls, with the types the headers give them.
#define VBMP3_PULSE_FUNCTIONS(X)                                                                                       \
    X(channel_map_init_auto)                                                                                           \
    X(channel_map_init_extend)                                                                                         \
    X(context_connect)                                                                                                 \
    X(context_disconnect)                                                                                              \
    X(context_get_sink_input_info)                                                                                     \
    X(context_get_state)                                                                                               \
    X(context_new_with_proplist)                                                                                       \
    X(context_set_sink_input_volume)                                                                                   \
    X(context_set_subscribe_callback)                                                                                  \
    X(context_subscribe)                                                                                               \
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
    X(stream_get_index)                                                                                                \
    X(stream_get_latency)                                                                                              \
    X(stream_get_state)                                                                                                \
    X(stream_get_timing_info)                                                                                          \
    X(stream_new_with_proplist)                                                                                        \
    X(stream_set_name)                                                                                                 \
    X(stream_set_state_callback)                                                                                       \
    X(stream_set_write_callback)                                                                                       \
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
const PulseApi *pulseApi();

// Holds the threaded main loop's lock for its lifetime.
class PulseLock
{
public:
    PulseLock(const PulseApi *pa, pa_threaded_mainloop *loop)
        : m_pa(pa)
        , m_loop(loop)
    {
        m_pa->threaded_mainloop_lock(m_loop);
    }
    ~PulseLock() { m_pa->threaded_mainloop_unlock(m_loop); }
    PulseLock(const PulseLock &) = delete;
    PulseLock &operator=(const PulseLock &) = delete;

private:
    const PulseApi *m_pa;
    pa_threaded_mainloop *m_loop;
};

// Polls check (1 done, 0 not yet, -1 failed) under the loop's lock until it is decided or
// timeout passes; true when it was done.
template <typename Check>
bool pulseWaitUntil(const PulseApi *pa, pa_threaded_mainloop *loop, std::chrono::milliseconds timeout, Check check)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int result;
        {
            PulseLock lock(pa, loop);
            result = check();
        }
        if (result != 0)
            return result > 0;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A new main loop and a context on it, connecting to the server as the player (its name
// and icon); nullptr members where they could not be made.  The loop is not started.
struct PulseClient {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
};
PulseClient newPulseClient(const PulseApi *pa);

// The volume word (left level in the low half, right in the high) as the channel
// volumes of a stream laid out as map: channels on the left take the left half, those on
// the right the right half, the others the mean.
pa_cvolume pulseVolumeOf(uint32_t word, const pa_channel_map &map);
// A stream's channel volumes as a word: the first channel of each side (a side without
// one takes the first channel); fallback when volume has no channels.
uint32_t pulseWordOf(const pa_cvolume &volume, const pa_channel_map &map, uint32_t fallback);
// The server's positions of channels in the WAVE order of mask (one or two channels as
// usual; without a mask that names them all, WAVE's default layout).
void pulseChannelMap(const PulseApi *pa, pa_channel_map &map, unsigned channels, uint32_t mask);

} // namespace vbmp3
