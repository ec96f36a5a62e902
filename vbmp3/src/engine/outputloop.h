// The engine's output thread: it opens the device a play asks for (keeping a persistent
// one between plays, reopening or falling back to the null output where a format change
// or a lost sound server asks), claims blocks off the decoded ring, runs them through the
// equalizer and the volume, sends them to the device, plays out the end of a track and
// crosses the boundaries of gapless joins.  It keeps the history of what it sent, from
// which the spectrum reads the window that has just been heard.
//
// It works on the engine's state under the engine's one mutex (see engine.h for the lock
// order and for which fields it writes); the device and the history are its own.
#pragma once

#include "dsp/equalizer.h"
#include "framering.h"
#include "outputs/output.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vbmp3
{

class BandAnalyzer;
class Engine;

class OutputLoop
{
public:
    using Maker = std::function<std::unique_ptr<Output>(const std::string &target)>;

    // Frames the file output takes in one block.
    static constexpr size_t kFileBlock = 32768;

    explicit OutputLoop(Engine &engine)
        : m_engine(engine)
    {
    }
    OutputLoop(const OutputLoop &) = delete;
    OutputLoop &operator=(const OutputLoop &) = delete;

    // The output thread's body: returns once the engine quits, the device closed.
    void run();

    // Where the outputs come from instead of the targets' own (tests); set before the
    // thread opens anything.
    void setMaker(Maker maker) { m_maker = std::move(maker); }

    // Frames of history a play of format keeps: the device's delay and one analysis
    // window behind it (one window for the file output, which has no delay).
    static size_t historyFrames(const OutputFormat &format, bool toFile);

    // --- Any thread, the engine's mutex held.
    // Wakes the output thread where it sleeps on the device.
    void interrupt();
    // Frames written to the device and not heard yet; 0 with no device open.
    int64_t delayFrames() const;
    void setPaused(bool paused);
    void setVolume(uint32_t word);
    // The open device's name, "" when none is open.
    std::string name() const;
    // The chosen device the open output plays through: "" for a default, the null
    // output, or none open.
    std::string device() const;
    // The history for a play that starts: frames of rate and channels.
    void resetHistory(FrameRing history, int rate, int channels);
    void clearHistory();
    // Starts analyzer on the analysis window that ends at the frame heard now and feeds
    // it what the history holds of it (the rest is silence).
    void analyseHeard(BandAnalyzer &analyzer) const;

private:
    // What the output thread keeps between its steps; no other thread sees it.
    struct OutputStage {
        EqualizerBank equalizer;
        uint64_t eqVersion = ~uint64_t { 0 };
        // The block being sent: claimed in the ring (the second part where the ring wraps,
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
        OutputFormat format; // what the device is set for
        std::string target; // the target it was made for ("auto", "null", "file:...")
        int channels = 2;
        size_t blockFrames = 1024;
        size_t leastFrames = 1; // a real-time device is woken for no less (a period)
        bool realTime = true;
        bool usesSamples = true; // the device plays what it is given (not the null output)
        // For a device that rewrites what it queues (an equalizer change then reaches it):
        // the frames filtered, as they were before the equalizer, ending at the last one
        // filtered (made), and the equalizer's state before every kMarkFrames-th of them.
        struct Mark {
            uint64_t at = 0;
            EqualizerBank equalizer;
        };
        bool keepsDry = false;
        FrameRing dry;
        std::deque<Mark> marks; // oldest first, none older than dry's first frame
        uint64_t made = 0;
        std::vector<float> redone; // a rewrite's frames
    };

    // Every step takes lk holding the engine's mutex and returns with it held.
    void switchSession(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // An output for target and format, the null output standing in for "auto" when the
    // sound server does not answer; nullptr when none opens.  lk is released meanwhile.
    std::unique_ptr<Output> openOutput(
        std::unique_lock<std::mutex> &lk, const std::string &target, const OutputFormat &format);
    // The state and equalizer, volume and channel settings for a device set for format.
    void configureStage(OutputStage &st, const Output &out, const OutputFormat &format);
    // Sets the open device for format: continueWith, else (after playing out what it
    // holds when playOut) reopen, else for "auto" the null output.  False when the session
    // changed meanwhile, the join was undone (joinGeneration) or it failed (the session
    // then ended with a report).
    bool reformat(std::unique_lock<std::mutex> &lk, OutputStage &st, const OutputFormat &format, bool playOut,
        uint64_t joinGeneration);
    // At a boundary: the queued track's frames come next.
    void crossBoundary(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // Makes a join whose old track has been played out the heard one and reports it.
    void checkJoinHeard(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // How long the thread may sleep before a written join may be heard.
    std::chrono::milliseconds joinWait(std::chrono::milliseconds longest);
    // A volume set in the desktop's mixer: taken as the volume, and reported.
    void takeMixerVolume(std::unique_lock<std::mutex> &lk);
    static void outputNews(void *loop);
    bool takeBlock(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // Runs the equalizer over frames of the block, keeping what a rewrite needs.
    static void filter(OutputStage &st, float *data, size_t frames);
    // New equalizer gains: what the device queues and has not played yet is filtered again
    // from its dry copy and rewritten, so that the change is heard at once; else the
    // gains apply from the next block on.
    void changeEqualizer(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // Gives the claimed block's slots back to the decoder (and wakes it when that makes
    // room for a refill); nothing pending afterwards.
    void releaseBlock(OutputStage &st);
    void sendPending(std::unique_lock<std::mutex> &lk, OutputStage &st);
    void drainStep(std::unique_lock<std::mutex> &lk, OutputStage &st);
    // Ends a session whose last frame has been heard (or whose output failed: then the
    // report says so); a device that stays open between plays is kept, paused.
    void finishTrack(std::unique_lock<std::mutex> &lk, uint64_t session, bool failed = false);

    Engine &m_engine;
    Maker m_maker; // set before the thread opens anything

    // --- Protected by the engine's mutex.
    // The open device.  Created, written and destroyed by the output thread; other
    // threads call delayFrames(), setPaused(), setVolume() and interrupt() on it.  A
    // persistent output stays here, paused, between plays.
    std::unique_ptr<Output> m_output;
    std::string m_openDevice; // the chosen device m_output plays through ("": a default)
    std::string m_wanted; // the device asked for when m_output was opened
    // The last frames sent, ending at the engine's written frame (after the equalizer,
    // before the volume).  Written by the output thread, cleared by seek, stop and play.
    FrameRing m_history;
    int m_historyRate = 44100;
    int m_historyChannels = 2;
};

} // namespace vbmp3
