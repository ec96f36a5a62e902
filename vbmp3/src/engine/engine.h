// The playback engine behind the C interface: one open track and at most one queued to
// follow it, a decode thread that fills a bounded ring of float frames, and an output
// thread that drains it through equalizer and volume into the sound output, keeping a
// short history of what it sent for the position, spectrum and lyrics.
//
// Threads.  The public functions are called by one controlling thread at a time (the C
// facade serialises them); none of them waits for decoding or for the device.  The decode
// thread and the output thread live as long as the engine.  Every play, seek and stop
// bumps m_serial and every play and stop bumps m_session; a thread that finds the number
// changed after working without the lock throws its work away, so no stale frames,
// positions or end-of-track reports survive a newer request.
//
// Joins.  When the decoder reaches the end of the track with a queued one waiting, it goes
// on decoding that one into the same ring, and the output thread hands the device over to
// it where it begins; GaplessJoin below tells the steps.  A seek, or a queue that changes
// before the join is heard, undoes the join's work: the queued track's frames go, and its
// source is wound back when it is entered again.
//
// Files.  This class holds the controlling thread's commands and the decode thread
// (engine.cpp), the engine's side of the join (enginejoin.cpp) and what the controlling
// thread knows of the open track (enginetrack.cpp); the output thread is OutputLoop
// (outputloop.h), which works on the fields below under the same m_mutex.
#pragma once

#include "dsp/bandanalyzer.h"
#include "dsp/equalizer.h"
#include "framering.h"
#include "outputloop.h"
#include "outputs/output.h"
#include "sources/rangesource.h"
#include "sources/source.h"
#include "tags/fileinfo.h"
#include "tags/lyrics.h"
#include "vbmp3.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
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
    // range, when given, names the part of the file that is the track (vbmp3_openRange).
    bool open(const std::string &path, OpenInfo *info, const TrackRange *range = nullptr);
    // vbmp3_open in its two steps.  prepareOpen reads the file (probe, source, the start of
    // a length count) and touches no engine: any thread runs it, holding no lock, while the
    // controlling thread goes on; nullptr when the file does not open.  withMixerName:
    // read the name the desktop's mixer shows (wantsMixerName(), asked before).
    // installOpen, on the controlling thread, closes the open track and makes the prepared
    // one the open track; given nullptr it closes all the same and fails.  Two opens
    // prepared at once: the one installed last is the open track.
    struct PreparedOpen;
    static std::unique_ptr<PreparedOpen> prepareOpen(
        const std::string &path, bool withMixerName, const TrackRange *range = nullptr);
    bool installOpen(std::unique_ptr<PreparedOpen> prepared, OpenInfo *info);
    bool wantsMixerName();
    // Tests hold an open inside its preparation with this: called first by prepareOpen,
    // on its thread.  Set only while no open runs.
    static inline std::function<void(const std::string &path)> preparingHook;
    // vbmp3_queueNext: 1 queued (or cleared, for an empty path), 0 when nothing is open or
    // the file cannot be opened (the queue is then empty), 2 when the file queued before
    // is already being heard (nothing changed).  With a range, vbmp3_queueNextRange: the
    // track that begins where the open one ends in the same file shares its decoder.
    int32_t queueNext(const std::string &path, const TrackRange *range = nullptr);
    // queueNext in three steps, as vbmp3_open in two.  planQueue, on the controlling thread,
    // answers at once when there is nothing to read (nothing open, the queued file heard
    // already, a clear) and else says how to read the file.  prepareQueue reads it as
    // prepareOpen does (preparingHook included), any thread, no lock, no engine touched;
    // a range that follows the open track takes a share of its decoder and reads no more
    // than the tags.  installQueue, on the controlling thread, makes what was read the
    // queue and answers as queueNext; nullopt when a track was opened or closed since the
    // plan: then plan again.
    struct QueuePlan {
        std::optional<int32_t> answer; // queueNext's result, when there is nothing to read
        bool clear = false; // no file: the queue is to be emptied
        bool withMixerName = false;
        std::shared_ptr<Source> follow; // the open track, when the range may go on from it
        FileLayout followLayout;
        uint64_t opens = 0; // m_opens at the plan
    };
    QueuePlan planQueue(const std::string &path, const TrackRange *range);
    static std::unique_ptr<PreparedOpen> prepareQueue(
        const std::string &path, const TrackRange *range, const QueuePlan &plan);
    std::optional<int32_t> installQueue(std::unique_ptr<PreparedOpen> prepared, const QueuePlan &plan);
    bool close();
    bool play();
    bool stop();
    bool pause();
    bool restart();
    bool seek(int32_t seconds);
    int32_t state(int32_t *elapsedSeconds);
    // Milliseconds into the track of what has been heard (0 with no track), as state()
    // counts seconds; takes m_mutex.
    int64_t heardMs();

    void setCallback(Callback callback);
    // When it returns the callback is not running and will not run again.
    void stopCallback();

    bool setBufferOptions(const Vbmp3Option &option);
    bool setDecodeOptions(const DecodeOption &option);
    // The sound devices follow each track's rate and samples (vbmp3_setNativeOutputFormat).
    void setNativeOutputFormat(bool native);
    bool setOutput(const std::string &target);
    void setEqualizer(const int32_t *bands);
    // vbmp3_setReplayGain: false (nothing changed) for values out of range.
    bool setReplayGain(const ReplayGainOption &option);
    void setVolume(uint32_t word);
    uint32_t volume() const { return m_volume.load(); }
    // The open device's name ("pulse", "alsa", "null", "file"), empty when none is open.
    std::string outputName();
    // The device "auto" tries first from the next play on: "" for the sound server's
    // default, else "pulse:SINK" or "alsa:PCM".  False for anything else.
    bool setOutputDevice(const std::string &device);
    // The chosen device when the open output plays through it, "" when it plays through a
    // default or none is open.
    std::string outputDevice();
    // Where the outputs come from instead of setOutput's targets (tests watch what reaches
    // a device through it).  Set before the first play.
    using OutputMaker = OutputLoop::Maker;
    void setOutputMaker(OutputMaker maker) { m_outputLoop.setMaker(std::move(maker)); }

    void setLyrics3Use(bool use) { m_lyrics3Use = use; }
    bool readLyrics3Data();
    // Makes the lyrics embedded in the open file's tags its lyrics (LRC stamps in them
    // timed, other lines spread over the track); false, keeping the lyrics there were, when
    // it has none.
    bool readEmbeddedLyrics();
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
    bool isOpen() const { return !m_open.path.empty(); }

private:
    friend class OutputLoop;

    enum class State { Stopped, Playing, Paused };

    // Where the position is: a frame of the heard track and that track's rate.
    struct Heard {
        int64_t frame = 0;
        int rate = 0;
    };
    // A join written to the device and not heard yet: where the old track's frames ended.
    struct JoinInFlight {
        int64_t oldEnd = 0; // the old track's frame after its last one written
        int64_t oldStart = 0; // where its playing (re)started (play or seek)
        int oldRate = 0;
    };

    // Pause or restart: from one state to the other; false when not in `from`.
    bool switchPause(State from, State to);

    void decodeLoop();
    // At the end of the decoded track: goes on into the queued one (true), else false.
    // m_mutex held.
    bool enterQueuedLocked();
    // The queued source becomes the session's and is decoded from its start (mutex held).
    void enterQueued();
    // Output thread, the ring empty before a queued track of another format: its ring.
    void startFormatJoinLocked();
    // Output thread, a join heard: the queued track becomes the open one (the old one is
    // returned, to be let go of without the lock); a file output waits for the caller's
    // answer when awaitCaller.  m_mutex held.
    std::shared_ptr<Source> takeJoinHeardLocked(bool awaitCaller);
    // The state of a session that ended by itself; m_mutex held.
    void endSessionLocked();
    static std::string mediaNameOf(const std::string &path);
    // Calls the callback with message and param; lk holds m_mutex and is released
    // meanwhile (lock order: m_callbackMutex before m_mutex).  A report of a session
    // (session not 0) is dropped when a newer session began, and an end report also when
    // the session has not stopped.
    enum class Report { Any, Join, End };
    void report(std::unique_lock<std::mutex> &lk, uint64_t session, int32_t message, Report kind, int32_t param = 0);
    Heard heardLocked();
    void stopLocked();
    // What the desktop's mixer is to call path: its tags' names when the output may be
    // the sound server, else nothing.  Takes m_mutex.
    std::string mixerNameOf(const std::string &path);
    // Positions the heard track at frame: frames decoded ahead and the device's are
    // dropped, a join under way is undone.  m_mutex held.
    void seekLocked(int64_t frame);
    // Undoes the decoding side of a join under way: the decoder goes back to the heard
    // track (m_source) in its own format.  m_mutex held; may throw (a new ring).
    void unwindJoinLocked();
    // The queued track's frames go before they are heard: dropped from the ring when
    // none was written, else by a seek of the heard track to the frame heard now.
    void dropEnteredLocked();
    // The device format for a track under the session's options.
    OutputFormat formatFor(const SourceInfo &info) const;
    size_t ringFramesFor(const OutputFormat &format) const;
    // Takes the facts of tracks joined since the last call (controlling thread).
    void syncJoins();
    // Wakes both threads and the device's wait; m_mutex held.
    void wakeAll();
    int64_t durationMs() const;
    // Takes the result of a finished frame count into the track's facts and the session.
    void takeCount();
    // prepareOpen's and prepareQueue's reading, after the hook: follow, when given and
    // range goes on from it, lends its decoder (and followLayout is the file's layout).
    static std::unique_ptr<PreparedOpen> readTrack(const std::string &path, bool withMixerName, const TrackRange *range,
        const Source *follow = nullptr, const FileLayout &followLayout = {});

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

public:
    // What prepareOpen read, for installOpen.
    struct PreparedOpen {
        std::string path;
        FileLayout layout;
        std::shared_ptr<Source> source;
        std::string mixerName;
        std::unique_ptr<LengthCount> count; // while the source's length is an estimate
        std::optional<SampleRange> range; // the part of the file that is the track
    };

private:
    // The gapless join: the queued track, and how far it has come on its way from the
    // queue through the decoder and the ring to the device and the listener.  All of it
    // is protected by m_mutex.
    //
    // The controlling thread queues a track (queued and its facts; queueNext) and drops
    // it (close, stop, or a new queueNext, which also undoes what the join had done).  The
    // decoder, at the end of the open track, enters it: the ring position where its frames
    // begin becomes the boundary and entered is set (enterQueuedLocked); a track of
    // another format instead sets formatWait and the output thread, once the ring is
    // empty, gives the ring the new format, the boundary 0, and enters it
    // (startFormatJoinLocked).  The output thread, claiming up to the boundary, sets the
    // device for the new format and counts the frames it writes from there in the new
    // track, remembering in `written` where the old one ended: the join is written.  It
    // is heard once the device has played out the old track's last frame (its delay no
    // longer reaches back before the boundary): then the output thread makes the queued
    // track the open one (m_source), bumps `heard` and reports message 6 to the callback.
    // The report is dropped when a newer session began; the controlling thread learns of
    // the join from `heard` alone (syncJoins, against m_joinsTaken) whether the report
    // reached the caller or not.  Every undoing of a join under way (seek, play, stop,
    // drop, the session's end) bumps `generation`, so that the output thread, which works
    // on a join without the lock, notices that its work is stale.
    struct GaplessJoin {
        std::shared_ptr<Source> queued; // the queued track (nullptr when none)
        std::string queuedName; // its name for the desktop's mixer
        int64_t queuedTotal = 0; // its length in frames (counted once known)
        OutputFormat queuedFormat; // the device format it plays in
        bool fresh = true; // not read yet: entered without a seek to its start
        bool entered = false; // the decoder reads queued (its frames follow the boundary)
        bool formatWait = false; // the decoder waits for the ring to empty before a format join
        std::optional<uint64_t> boundary; // ring frame (m_ringIn count) where queued begins
        std::optional<JoinInFlight> written; // set by the output thread at the boundary
        uint64_t heard = 0; // joins heard (written by the output thread only)
        uint64_t generation = 0; // bumped whenever a join under way is undone
        // The file output takes sound as fast as it is decoded: at the end of a track that
        // came from the queue, the decoder waits for that join to be heard and the caller
        // to answer it with vbmp3_queueNext (at most kAwaitCaller), so that a caller told
        // of the join can queue the track after it in time.  awaitCaller and awaitSince
        // are set by the output thread when the join is heard, and cleared by queueNext,
        // play, stop or the decoder's timeout; decodeHeld is written by the decoder alone.
        bool fromQueue = false; // the decoder reads a track that was queued
        bool awaitCaller = false; // a join was heard and the caller has not queued since
        bool decodeHeld = false; // the decoder waits at the end of a joined track
        std::chrono::steady_clock::time_point awaitSince;
    };

    // --- Immutable after construction.
    std::thread m_decodeThread;
    std::thread m_outputThread;

    // What the controlling thread knows of an opened track.
    struct Track {
        std::string path; // "" when none
        std::optional<MpegInfo> mpegInfo; // read on first request
        FileLayout layout;
        SourceInfo info;
        std::optional<SampleRange> range; // the part of the file that is the track
        std::unique_ptr<LengthCount> count; // while info.lengthEstimated
    };

    // --- Controlling thread only.
    Track m_open; // the open file (the heard one, once syncJoins has run)
    Track m_next; // the queued file
    uint64_t m_opens = 0; // bumped by every close, and so by every open
    uint64_t m_joinsTaken = 0; // m_join.heard as last taken over
    bool m_lyrics3Use = false;
    LyricsTimeline m_lyrics;
    BandAnalyzer m_analyzer;

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
    std::shared_ptr<Source> m_source; // the open track, the heard one (nullptr when none)
    std::string m_sourceName; // its name for the desktop's mixer
    int64_t m_sourceTotal = 0; // its length in frames (counted once known)
    OutputFormat m_sourceFormat; // the device format it plays in (set by play and at joins)
    GaplessJoin m_join; // the queued track and the join under way
    uint64_t m_ringIn = 0; // frames committed to the ring since it was last emptied by a seek
    uint64_t m_ringOut = 0; // frames claimed off it since then
    uint64_t m_decodeGeneration = 0; // bumped when frames the decoder is writing lose their place
    bool m_draining = false; // the device plays out the last track: too late for a join
    // Settings for the next play.
    Vbmp3Option m_bufferOptions { { 128, 10, 10, 0 } };
    DecodeOption m_decodeOptions { { 0, 0, 0 } };
    // The decoder scales each chunk it decodes by the gain this makes of its track's tags.
    ReplayGainOption m_replayGain { VBMP3_REPLAYGAIN_OFF, 0, 0, 1 };
    bool m_nativeOutput = false;
    std::string m_target = "auto";
    std::string m_device; // what "auto" tries first ("" the sound server's default)
    // The running session, set by play().
    std::shared_ptr<Source> m_sessionSource; // what the decode thread decodes (nullptr: idle)
    OutputFormat m_ringFormat; // of the frames in the ring
    OutputFormat m_sessionBase; // the session's buffer and device options (formatFor)
    std::string m_sessionTarget; // its target
    bool m_sessionToFile = false;
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
    bool m_playPending = false; // play() asks the output thread for the session's device
    bool m_realtime = false;
    // The output thread's body, with the device and the history the spectrum reads (both
    // protected by m_mutex as well).
    OutputLoop m_outputLoop { *this };
    int64_t m_segmentStart = 0; // track frame where playing (re)started: play, seek or join
    int64_t m_writtenFrame = 0; // track frame just after the last one sent to the device
    int m_writtenRate = 44100; // the rate of the track being written
    int64_t m_stoppedFrame = 0; // position reported while stopped
    Equalizer::Units m_eqUnits {};
    uint64_t m_eqVersion = 0;

    // --- Atomic.
    std::atomic<uint32_t> m_volume { 0xFFFFFFFFu };

    // --- Protected by m_callbackMutex, which is held while the callback runs.
    // Lock order: m_callbackMutex before m_mutex; m_mutex before the device's own locks
    // (its delay, pause and volume are asked for under m_mutex).
    std::mutex m_callbackMutex;
    Callback m_callback = nullptr;
};

} // namespace vbmp3
