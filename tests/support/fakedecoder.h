// A scripted stand-in for libvbmp3.so behind DecoderApi (one per process): answers set, calls read.
#pragma once

#include "decoderapi.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace kes;

// The scripted answers and what the player handed over; reset() restores these defaults.
struct FakeScript {
    int32_t openResult = 1, playResult = 1, setVbmp3OptionResult = 1, setDecodeOptionResult = 1;
    OpenInfo openInfo {};
    int32_t state = 0; // 0 stopped, 1 playing, 2 paused; play/pause/restart/stop move it
    int32_t elapsed = 0, lyrics3Result = 0, embeddedLyricsResult = 0;
    int32_t elapsedMs = -1; // what getPositionMs answers; -1: elapsed * 1000
    // Embedded pictures by path: type and bytes.
    std::map<std::string, std::pair<std::string, std::string>> pictures;
    int pictureReads = 0;
    uint32_t volume = 0xFFFFFFFFu;
    // By path; else by ending (any case): mp3 0 wav 1 rmp 2 flac 3 ogg/oga 6 opus 7 avi/mpg/wma 8 m4a 9 wv 10 ape 11.
    std::map<std::string, int32_t> fileTypes;
    // What getStreamInfo gives while a file is open (codec name and all).
    StreamInfo streamInfo {};
    std::map<std::string, TagInfo> tags;
    std::map<std::string, ListInfo> lists;
    std::map<std::string, MpegInfo> mpegs; // what getFileInfo2 gives as the stream facts (else zeros)
    std::map<std::string, SortTags> sortTags; // what getFileSortTags gives (else none)
    // vbmp3_queueNext: its answer, what is queued ("" for none), every path given ("" for a clear); not in `calls`.
    // Under `mutex` while the player runs: its queue calls come from a worker of its own.
    int32_t queueResult = 1;
    std::string queued;
    std::vector<std::string> queueCalls;
    std::vector<std::thread::id> queueThreads; // the calling thread of each file queued (not of a clear)
    std::function<void(const std::string &path)> queueHook; // called first for each file queued, without the lock
    // A join whose report is pending: queueNext answers 2; play, stop, open and close drop the report.
    bool joinUnreported = false;
    LyricsLines lyrics {};
    int32_t lyricsWait = -1; // what getLyricsWait answers
    int lyricsQueries = 0; // getLyrics calls so far
    std::string deviceList; // what getOutputDevices answers (read on a pool thread)
    int deviceListMs = 0; // how long getOutputDevices takes
    std::string chosenDevice; // handed over by setOutputDevice
    std::string openDevice; // what getOutputDevice answers
    std::optional<ReplayGainOption> replayGain; // the last one handed to setReplayGain
    int mpegReads = 0; // MPEG records asked for (each counts a file's frames)
    // Cue sheets stored in files, by path (getFileCueSheet).
    std::map<std::string, std::string> cueSheets;
    // The range of the open file and of the queued one (openRange, queueNextRange); none after a plain open or queue.
    std::optional<TrackRange> openedRange, queuedRange;
    // What the player handed over.
    std::string openedPath, lyricsFile;
    std::vector<int32_t> seeks;
    std::vector<int32_t> equalizer; // empty = last call was NULL
    int equalizerCalls = 0;
    void (*callback)(int32_t, int32_t) = nullptr;
    // CallbackActive as it stood when the callback was unregistered.
    bool callbackActiveAtStopCallback = false;
    // The commands made so far by name, oldest first.  No lock: the player's open (and the
    // close of an open given up) runs on a thread of its own, but the GUI thread makes no
    // command meanwhile.
    std::vector<std::string> calls;
};

class FakeDecoder : public FakeScript
{
public:
    static FakeDecoder &instance();
    // A table whose functions all land in this fake.
    static DecoderApi api();

    void reset();
    // Reports the end of the track through the callback, as the library's thread would.
    void endTrack() { return callback ? callback(VBMP3_MSG_END_OF_TRACK, 0) : void(); }
    // The queued file begins to be heard and becomes the open one (report false: still on its way); false if none.
    bool joinQueued(bool report = true);

    // While hold is set every open waits at its start (opens run on the player's worker);
    // one held longer than longestMs goes on by itself, so that a quit waiting for it ends.
    void holdOpens(bool hold, int longestMs = 2000);
    // Waits up to 2 s until an open is held; true when one is.
    bool waitForHeldOpen();

    // Guards the script for the thread-safe file functions (the adder's worker).
    std::mutex mutex;

private:
    void passGate();
    std::mutex m_gateMutex;
    std::condition_variable m_gateChanged;
    bool m_holding = false;
    int m_longestMs = 0;
    int m_held = 0;
};

// Waits (5 s at most) until the player's open and queue in flight, if any, are done and
// their reports taken: the playback controller opens and queues tracks off the GUI
// thread.  True when they are.
template <typename Controller> bool waitForOpen(const Controller &controller)
{
    const QDeadlineTimer deadline(5000);
    while ((controller.opening() || controller.queueing()) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !controller.opening() && !controller.queueing();
}
