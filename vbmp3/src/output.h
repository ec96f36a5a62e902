// Sound outputs: where the output thread sends what is to be heard.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vbmp3
{

// The stream handed to an output: the track's frames after equalizer and volume.
struct OutputFormat {
    int rate = 44100; // the track's rate
    int channels = 2; // the track's channel count (1 to 8, in the WAVE order)
    uint32_t channelMask = 0x3; // their WAVE speaker bits (0: not known)
    // For the file output: the width of its samples (16 or 24) and how many of their top
    // bits the source fills (8 to 24).
    int fileBits = 16;
    int validBits = 16;
    int bufferMs = 100; // how much the device should hold ahead (periods x period length)
    int periodMs = 10;
    // For the sound server only (DecodeOption): 0 = the track's channels, 1 = mono, 2 = stereo;
    // sample format 0 = 16-bit, 1 = float; device rate, 0 = the track's.
    int deviceChannels = 0;
    int deviceSampleFormat = 0;
    int deviceRate = 0;
};

// One opened device.  Threads: open, room, waitForRoom, write, flush, startDrain, drained,
// waitDrained, failed and close are called by the output thread only; delayFrames,
// setPaused and interrupt may also be called from the controlling thread at the same time
// (each output guards them).  Frame counts are in frames of the track's rate, whatever the
// device runs at.
class Output
{
public:
    virtual ~Output() = default;
    // Opens the device for format.  False when it cannot be opened.
    virtual bool open(const OutputFormat &format) = 0;
    // Frames that write() takes now without blocking.
    virtual size_t room() = 0;
    // Sleeps until room() > 0, a flush, pause change or interrupt, or the timeout.  An
    // output may wait for more than one frame of room (the null output waits for half its
    // buffer), so that a steady stream wakes the output thread rarely.
    virtual void waitForRoom(std::chrono::milliseconds timeout) = 0;
    // Takes `frames` interleaved frames (frames <= room()); never blocks on the device.
    virtual void write(const float *data, size_t frames) = 0;
    // Frames written but not heard yet.
    virtual int64_t delayFrames() = 0;
    // Pausing freezes the device with what it holds; resuming plays on from there.
    virtual void setPaused(bool paused) = 0;
    // Drops everything not heard yet.
    virtual void flush() = 0;
    // No more data will come: play out what is held.  drained() is true once heard.
    virtual void startDrain() { }
    virtual bool drained() { return delayFrames() <= 0; }
    // Sleeps until drained() may have become true, an interrupt, or the timeout.
    virtual void waitDrained(std::chrono::milliseconds timeout);
    // Ends a waitForRoom or waitDrained under way (and the next one, if none is).
    virtual void interrupt() { }
    // True once the output lost sound it was given (a file output that could not write);
    // playback of the session ends with an error instead of an end of track.
    virtual bool failed() const { return false; }
    // Ends the stream (a file output completes its file here, and may fail doing so).
    virtual void close() = 0;
    // False for outputs that take data as fast as it comes (the file output).
    virtual bool realTime() const { return true; }
    // False for outputs that only count the frames written (the null output): write() may
    // then be given anything, and the engine skips the volume for them.
    virtual bool usesSamples() const { return true; }
    // A short name for the player and tests: "null", "file", "pulse", "alsa".
    virtual const char *name() const = 0;
};

// Mixes frames of one channel layout into one or two channels (DecodeOption value[0]):
// stereo takes the front pair as it is, the centre and the other channels of each side at
// -3 dB (the centre into both, the LFE into neither), scaled so that no sum can exceed
// full scale; mono is the mean of that stereo.  One channel into two is copied into both.
// Channels whose place the mask does not give count as left, right, then centre.
class ChannelMixer
{
public:
    void configure(int inChannels, uint32_t mask, int outChannels);
    // frames interleaved frames of inChannels into out (frames x outChannels).
    void mix(const float *in, size_t frames, float *out) const;

private:
    int m_in = 2;
    int m_out = 2;
    std::array<float, 8> m_left {}; // weight of each input channel in the left (or only) output
    std::array<float, 8> m_right {};
};

std::unique_ptr<Output> makeNullOutput();
// Creates (truncates) path at open(); open() fails when it cannot be written.
std::unique_ptr<Output> makeFileOutput(const std::string &path);
// Connects to the sound server at open() (fails within about a second when none answers),
// playing to the named sink (the server's default when empty; open() fails when the sink
// is not there).
std::unique_ptr<Output> makePulseOutput(const std::string &sink = {});

// float -> 16-bit with rounding and clipping, the conversion every 16-bit sink uses.
inline int16_t floatToS16(float v)
{
    const float scaled = std::clamp(v * 32768.0f, -32768.0f, 32767.0f);
    return static_cast<int16_t>(__builtin_lrintf(scaled));
}

// The same for a run of samples (vectorised where the processor allows).
void floatToS16(const float *in, int16_t *out, size_t count);
// float -> 24-bit little-endian (three bytes a sample) with rounding and clipping; exact
// for floats that hold 24-bit samples (s / 2^23).
void floatToS24(const float *in, unsigned char *out, size_t count);

} // namespace vbmp3
