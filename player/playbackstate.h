// The process-wide playback variables shared by the main window, sequencing and the
// video window, and the decoder callback.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>

namespace kes
{

struct PlaybackState {
    QString CurrentFile; // full path of the track being played or about to be played
    int CurrentTrackNo = 1; // 1-based playlist row of the current track
    // Set by DecoderCallback on the decoder library's thread; read and cleared by the
    // position timer on the GUI thread.
    std::atomic<bool> TrackEnded { false };
    // Set by DecoderCallback when the output could not take the sound (playback stopped
    // there, no end of track follows); read and cleared by the position timer.
    std::atomic<bool> OutputFailed { false };
    // While true, DecoderCallback may set TrackEnded.  Cleared before the callback is
    // unregistered at shutdown.
    std::atomic<bool> CallbackActive { false };
    QString VideoFile; // hand-over between PlayTrack and the video window
    bool VideoHandBack = false;
    int VideoSizeMode = 1; // video window display size, 0..3
};

// The one instance of the process.
PlaybackState &playback();

// Registered with vbmp3_callback.  Runs on the decoder library's thread: only sets
// TrackEnded on message 4 and OutputFailed on message 5 while CallbackActive is true.
void DecoderCallback(int32_t message, int32_t param);

} // namespace kes
