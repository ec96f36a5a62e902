// The decoder callback and the flags it shares with the GUI thread.  The library
// calls DecoderCallback with no context, so the flags are the process's own, one set for
// the one decoder session (the playback controller's).
#pragma once

#include <atomic>
#include <cstdint>

namespace kes
{

struct CallbackFlags {
    // Set by DecoderCallback on the decoder library's thread; read and cleared by the
    // position timer on the GUI thread.
    std::atomic<bool> TrackEnded { false };
    // Set by DecoderCallback when the output could not take the sound (playback stopped
    // there, no end of track follows); read and cleared by the position timer.
    std::atomic<bool> OutputFailed { false };
    // Set when the file queued to follow the track has begun to be heard (message 6);
    // read and cleared by the position timer, which then shows the new track.
    std::atomic<bool> TrackJoined { false };
    // Set with MixerVolume when the desktop's mixer changed the volume (message 7); read
    // and cleared by the position timer, which moves the volume slider.
    std::atomic<bool> VolumeChanged { false };
    std::atomic<uint32_t> MixerVolume { 0xFFFFFFFFu };
    // While true, DecoderCallback may set the flags above.  Set when the session starts;
    // cleared before the callback is unregistered at shutdown.
    std::atomic<bool> CallbackActive { false };
};

// The flags of the process.
CallbackFlags &callbackFlags();

// Registered with vbmp3_callback.  Runs on the decoder library's thread: only sets
// TrackEnded on message 4, OutputFailed on message 5, TrackJoined on message 6 and
// MixerVolume with VolumeChanged on message 7, while CallbackActive is true.
void DecoderCallback(int32_t message, int32_t param);

} // namespace kes
