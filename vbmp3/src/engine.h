// The playback engine behind the C interface: one open track, a decode thread that fills
// a bounded ring of float frames, and an output thread that drains it through equalizer
// and volume into the sound output, keeping a short history of what it sent for the
// position, spectrum and lyrics.
//
// Threads.  The public functions are called by one controlling thread at a time (the C
// facade serialises them); none of them waits for decoding or for the device.  The decode
// thread and the output thread live as long as the engine.  Every play, seek and stop
// bumps m_serial and every play and stop bumps m_session; a thread that finds the number
// changed after working without the lock throws its work away, so no stale frames,
// positions or end-of-track reports survive a newer request.
#pragma once

#include "bandanalyzer.h"
#include "equalizer.h"
#include "fileinfo.h"
#include "framering.h"
#include "lyrics.h"
#include "output.h"
#include "source.h"
#include "vbmp3.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vbmp3
{

class Engine
{
public:
    using Callback = void (*)(int32_t message, int32_t param);

    Engine(); // starts the two threads
    ~Engine(); // stops playback and joins the threads
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Controlling thread.  Results as the C functions of vbmp3.h document them.
    bool open(const std::string &path, OpenInfo *info);
    bool close();
    bool play();
    bool stop();
    bool pause();
    bool restart();
    bool seek(int32_t seconds);
    int32_t state(int32_t *elapsedSeconds);

    void setCallback(Callback callback);
    // When it returns the callback is not running and will not run again.
    void stopCallback();

    bool setBufferOptions(const Vbmp3Option &option);
    bool setDecodeOptions(const DecodeOption &option);
    bool setOutput(const std::string &target);
    void setEqualizer(const int32_t *bands);
    void setVolume(uint32_t word) { m_volume.store(word); }
    uint32_t volume() const { return m_volume.load(); }
    // The open device's name ("pulse", "alsa", "null", "file"), empty when none is open.
    std::string outputName();
    // The device "auto" tries first from the next play on: "" for the sound server's
    // default, else "pulse:SINK" or "alsa:PCM".  False for anything else.
    bool setOutputDevice(const std::string &device);
    // The chosen device when the open output plays through it, "" when it plays through a
    // default or none is open.
    std::string outputDevice();

    void setLyrics3Use(bool use) { m_lyrics3Use = use; }
    bool readLyrics3Data();
    // Makes timeline (read by the caller) the open file's lyrics, its untimed lines spread
    // over the track; an empty one drops them.  False when no file is open or it is empty.
    bool setLyrics(LyricsTimeline timeline);
    bool lyrics(LyricsLines *lines);
    // Milliseconds of playing until the lyrics lines change; -1 when they will not.
    int32_t lyricsWait();
    void spectrum(int32_t *first, int32_t *second);
    bool mpegInfo(MpegInfo *info);
    // vbmp3_getOpenInfo: 0 when no file is open, 1 while its frames are being counted,
    // 2 when info holds the final facts.
    int32_t openInfo(OpenInfo *info);
    // vbmp3_getStreamInfo: results as openInfo.
    int32_t streamInfo(StreamInfo *info);
    bool isOpen() const { return !m_path.empty(); }

private:
    enum class State { Stopped, Playing, Paused };

    // Pause or restart: from one state to the other; false when not in `from`.
    bool switchPause(State from, State to);

    // What the output thread keeps between its steps; no other thread sees it.
    struct OutputStage {
        EqualizerBank equalizer;
        uint64_t eqVersion = ~uint64_t { 0 };
        // The block being sent: claimed in m_ring (the second part where the ring wraps,
        // else empty), filtered in place, and what goes to the history.  Between
        // takeBlock and releaseBlock nobody else touches these slots; storage keeps their
        // memory alive when play() gives the ring new storage meanwhile.
        FrameRing::Span parts[2];
        std::shared_ptr<float[]> storage; // null when no block is claimed
        std::vector<float> scaled; // after the volume: goes to the device (scaledUsed)
        bool scaledUsed = false; // else the device gets parts as they are (full volume)
        std::array<float, 3> volumeGains { 1.0f, 1.0f, 1.0f }; // left, right, centre
        std::vector<uint8_t> volumeSides; // per channel: 0 left, 1 right, 2 centre
        size_t pendingFrames = 0; // processed frames not yet taken by the device
        size_t pendingOffset = 0; // frames of the block already taken
        uint64_t session = 0;
        uint64_t serial = 0;
        bool draining = false;
        int channels = 2;
        size_t blockFrames = 1024;
        bool realTime = true;
        bool usesSamples = true; // the device plays what it is given (not the null output)
    };

    void decodeLoop();
    void outputLoop();
    void switchSession(std::unique_lock<std::mutex> &lk, OutputStage &st);
    bool takeBlock(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // Gives the claimed block's slots back to the decoder (and wakes it when that makes
    // room for a refill); nothing pending afterwards.  m_mutex held.
    void releaseBlock(OutputStage &st);
    void sendPending(std::unique_lock<std::mutex> &lk, OutputStage &st);
    void drainStep(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // Ends a session whose last frame has been heard (or whose output failed: then the
    // report says so); lk holds m_mutex.
    void finishTrack(std::unique_lock<std::mutex> &lk, uint64_t session);
    // The state of a session that ended by itself; m_mutex held.
    void endSessionLocked();
    // Calls the callback with message unless a newer session began; lk holds m_mutex and
    // is released meanwhile (lock order: m_callbackMutex before m_mutex).
    void report(std::unique_lock<std::mutex> &lk, uint64_t session, int32_t message);
    int64_t heardFrameLocked();
    // Milliseconds into the track of what has been heard (0 with no track); takes m_mutex.
    int64_t heardMs();
    void stopLocked();
    // Wakes both threads and the device's wait; m_mutex held.
    void wakeAll();
    int64_t durationMs() const;
    // Takes the result of a finished frame count into m_info and the session.
    void takeCount();

    // Counts the frames of a stream whose open only estimated its length, on a thread of
    // its own: opens the file again without the estimate.  Destroying it (at the next
    // open or close) makes the count give up and joins the thread.
    class LengthCount
    {
    public:
        LengthCount(const std::string &path, const FileLayout &layout, const SourceOptions &options);
        ~LengthCount();
        // The counted facts once the count is over (nullopt inside when it failed);
        // nullopt while it runs.  Any thread.
        std::optional<std::optional<SourceInfo>> result();

    private:
        std::atomic<bool> m_cancel { false };
        std::mutex m_mutex;
        bool m_finished = false; // protected by m_mutex
        std::optional<SourceInfo> m_result; // protected by m_mutex
        std::thread m_thread; // last: starts after the fields above exist
    };

    // --- Immutable after construction.
    std::thread m_decodeThread;
    std::thread m_outputThread;

    // --- Controlling thread only.
    std::string m_path; // the open file ("" when none)
    std::optional<MpegInfo> m_mpegInfo; // of the open file, read on first request
    FileLayout m_layout;
    SourceInfo m_info; // of the open file
    std::unique_ptr<LengthCount> m_count; // while m_info.lengthEstimated
    bool m_lyrics3Use = false;
    LyricsTimeline m_lyrics;
    BandAnalyzer m_analyzer;
    std::vector<float> m_spectrumFrames; // scratch for spectrum()

    // --- Protected by m_mutex.  Every change of state, serial or session wakes both
    // threads (wakeAll); besides, the decoder wakes the output thread when it puts frames
    // into an empty ring, and the output thread wakes the decoder when the ring becomes
    // half empty, so that a fast output does not switch threads for every chunk.
    std::mutex m_mutex;
    std::condition_variable m_decodeWake;
    std::condition_variable m_outputWake;
    bool m_quit = false;
    State m_state = State::Stopped;
    uint64_t m_serial = 0;
    uint64_t m_session = 0;
    std::shared_ptr<Source> m_source; // the open track (nullptr when none)
    // Settings for the next play.
    Vbmp3Option m_bufferOptions { { 128, 10, 10, 0 } };
    DecodeOption m_decodeOptions { { 0, 0, 0 } };
    std::string m_target = "auto";
    std::string m_device; // what "auto" tries first ("" the sound server's default)
    // The running session, set by play().
    std::shared_ptr<Source> m_sessionSource; // what the decode thread decodes (nullptr: idle)
    int64_t m_totalFrames = 0;
    int m_rate = 44100;
    int m_channels = 2;
    bool m_seekPending = false; // the decode thread positions the source at m_seekFrame
    int64_t m_seekFrame = 0;
    bool m_decodeEof = false; // the decoder has pushed the last frame of this serial
    size_t m_decodeChunk = 1152; // frames per source read in this session (set by play())
    // Decoded frames waiting for the output thread.  The decode thread fills its free
    // slots unlocked (freeSpan, then commit under the lock if the serial still holds);
    // the output thread claims blocks off its front and works on them unlocked until
    // releaseBlock.  See framering.h.
    FrameRing m_ring;
    size_t m_outputWant = 1; // the output thread waits for this many frames (set by it)
    std::unique_ptr<Output> m_pendingOutput; // handed to the output thread by play()
    bool m_pendingAuto = false; // fall back to the default devices when it cannot open
    std::string m_pendingDevice; // the device m_pendingOutput plays through
    std::string m_openDevice; // the chosen device m_output plays through ("": a default)
    OutputFormat m_sessionFormat;
    bool m_realtime = false;
    // The open device.  Created, written and destroyed by the output thread; the
    // controlling thread calls delayFrames() and setPaused() on it under m_mutex.
    std::unique_ptr<Output> m_output;
    int64_t m_segmentStart = 0; // track frame where playing (re)started: play or seek
    int64_t m_writtenFrame = 0; // track frame just after the last one sent to m_output
    int64_t m_stoppedFrame = 0; // position reported while stopped
    FrameRing m_history; // the last frames sent, ending at m_writtenFrame (after EQ, before volume)
    Equalizer::Units m_eqUnits {};
    uint64_t m_eqVersion = 0;

    // --- Atomic.
    std::atomic<uint32_t> m_volume { 0xFFFFFFFFu };

    // --- Protected by m_callbackMutex, which is held while the callback runs.
    // Lock order: m_callbackMutex before m_mutex.
    std::mutex m_callbackMutex;
    Callback m_callback = nullptr;
};

} // namespace vbmp3
