// Sound outputs: where the output thread sends what is to be heard.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <soxr.h>

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
    // The source's samples: their bits for integer (lossless) sources, 0 for decoders that
    // give float (MP3, Vorbis, Opus, AAC).
    int sourceBits = 16;
    // The sound devices follow the track: its own rate and samples as wide as it gives
    // them, whatever deviceSampleFormat and deviceRate say (vbmp3_setNativeOutputFormat).
    bool native = false;
};

// What the sound server's stream holds ahead of what is heard, whatever the buffer options
// say: the server wakes about once a quarter of it, and pause, stop, seek and volume reach
// what it holds at once (it rewinds), an equalizer change through Output::rewrite.
constexpr int kServerBufferMs = 2000;

// The samples a sound device is given.
enum class DeviceSamples {
    S16, // 16-bit signed
    S32, // 32-bit signed words, the 24 bits of the source placed high
    Float, // 32-bit float
};

// The one rule of the sound outputs: what the caller's options ask (16-bit or float, at the
// forced rate), or, following the track, 16-bit for sources of at most 16 bits, 32-bit words
// for wider lossless ones (bit-exact up to 24 bits) and float for decoders that give float.
inline DeviceSamples deviceSamplesFor(const OutputFormat &format)
{
    if (!format.native)
        return format.deviceSampleFormat == 1 ? DeviceSamples::Float : DeviceSamples::S16;
    if (format.sourceBits <= 0)
        return DeviceSamples::Float;
    return format.sourceBits > 16 ? DeviceSamples::S32 : DeviceSamples::S16;
}

// Whether a device given `held` samples carries what a source wanting `wanted` gives
// without losing bits it has (32-bit words and float hold 16 and 24 bits exactly).
inline bool carries(DeviceSamples held, DeviceSamples wanted)
{
    return held != DeviceSamples::S16 || wanted == DeviceSamples::S16;
}

inline int deviceRateFor(const OutputFormat &format)
{
    return !format.native && format.deviceRate > 0 ? format.deviceRate : format.rate;
}

inline int deviceChannelsFor(const OutputFormat &format)
{
    return format.deviceChannels == 1 || format.deviceChannels == 2 ? format.deviceChannels : format.channels;
}

// Whether frames of a and b can follow each other in one stream: the same rate, channels
// and, for the file output, sample width.
inline bool sameStream(const OutputFormat &a, const OutputFormat &b)
{
    return a.rate == b.rate && a.channels == b.channels && a.channelMask == b.channelMask && a.fileBits == b.fileBits
        && a.validBits == b.validBits;
}

// One opened device.  Threads: open, room, waitForRoom, write, flush, startDrain, drained,
// waitDrained, failed, continueWith, reopen, setMediaName, takeMixerVolume and close are
// called by the output thread only; delayFrames, setPaused, setVolume and interrupt may
// also be called from the controlling thread at the same time (each output guards them).
// Frame counts are in frames of the track's rate, whatever the device runs at (after
// continueWith: of the new format's rate, the frames still held of the old one included).
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

    // Goes on with frames of another format right after those written, without a gap (a
    // resampler set up again, the next file).  False when the device has to play out what
    // it holds first and then be opened again for the format (reopen).
    virtual bool continueWith(const OutputFormat &) { return false; }
    // Opens the device again for format once what it held has been heard or flushed,
    // keeping what it can (the connection to the sound server).  False when it cannot.
    virtual bool reopen(const OutputFormat &format)
    {
        close();
        return open(format);
    }
    // Outputs that stay open between plays (the sound server's stream, which the desktop's
    // mixer shows): a stop flushes and pauses them, the next play goes on through them.
    // The others are closed when a play ends.
    virtual bool persistent() const { return false; }
    // Outputs that apply the volume word themselves (the stream's volume on the sound
    // server): the engine then leaves the samples alone.
    virtual bool handlesVolume() const { return false; }
    // The output volume word (vbmp3_setOutputVolume), for outputs that handle it.
    virtual void setVolume(uint32_t) { }
    // A volume the user gave the device from outside since the last call (the desktop's
    // mixer), as a volume word; nothing when there is no news.
    virtual bool takeMixerVolume(uint32_t *) { return false; }
    // Called on any thread, the device's own included, when takeMixerVolume has news; it
    // must return at once and take no lock of the caller's.  Set before open.
    void setNewsHandler(void (*handler)(void *), void *context)
    {
        m_news = handler;
        m_newsContext = context;
    }
    // What plays, for the desktop's mixer (UTF-8).
    virtual void setMediaName(const std::string &) { }
    // Whether rewrite may replace frames already written (the engine then keeps what it
    // needs to make them again).
    virtual bool rewrites() const { return false; }
    // Frames at the end of what was written that may still be written again before they
    // are heard; 0 when none may.
    virtual size_t rewritable() { return 0; }
    // Writes the last `frames` frames written (frames <= rewritable()) again as data, in
    // their place.  False when it could not: what was written then stays.
    virtual bool rewrite(const float *, size_t) { return false; }

protected:
    void tellNews() const
    {
        if (m_news)
            m_news(m_newsContext);
    }

private:
    void (*m_news)(void *) = nullptr;
    void *m_newsContext = nullptr;
};

// What a sound output plays through once its device is gone (a server that went away, a
// USB card pulled): a null output, so that play goes on in real time instead of waiting
// for room that never comes.  The owner's pause state is kept here so that the stand-in
// starts paused when the owner was.  The owner's open (and reopen) clears it: the device
// is tried again for the new format.  Any thread.
class NullFallback
{
public:
    // The stand-in, or null while the device is there.  It stays alive while the caller
    // holds it, should clear() come meanwhile.
    std::shared_ptr<Output> get()
    {
        std::lock_guard lock(m_mutex);
        return m_output;
    }
    bool active() const { return m_active.load(); }
    // Opens the stand-in for format (once until clear(); later calls keep the first),
    // holding `held` frames: what the device had not played yet plays on in silence, so
    // that the clock and the end of the track keep their time.
    void take(const OutputFormat &format, int64_t held = 0);
    // Drops the stand-in (the pause state stays).
    void clear();
    // Records the owner's pause; true when the stand-in took it (the device is gone).
    bool setPaused(bool paused);
    void interrupt();

private:
    std::mutex m_mutex; // protects m_output and m_paused
    std::shared_ptr<Output> m_output;
    std::atomic<bool> m_active { false };
    bool m_paused = false;
};

// The name the file output gives the n-th file of one play (n from 1): the path itself,
// then "-2", "-3", ... before the name's extension ("out.wav", "out-2.wav").
std::string numberedPath(const std::string &path, int n);

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
// is not there).  connecting, when given, is called on the thread that opens each stream
// once the stream has been asked for and before it is ready (tests hold that moment).
std::unique_ptr<Output> makePulseOutput(const std::string &sink = {}, std::function<void()> connecting = {});

// float -> 16-bit with rounding and clipping, the conversion every 16-bit sink uses.
inline int16_t floatToS16(float v)
{
    const float scaled = std::clamp(v * 32768.0f, -32768.0f, 32767.0f);
    return static_cast<int16_t>(__builtin_lrintf(scaled));
}

// The same for a run of samples (vectorised where the processor allows).
void floatToS16(const float *in, int16_t *out, size_t count);
// float -> 32-bit words holding 24 bits (the low byte zero), rounded and clipped; exact
// for floats that hold 24-bit samples.
void floatToS32(const float *in, int32_t *out, size_t count);
// float -> 24-bit little-endian (three bytes a sample) with rounding and clipping; exact
// for floats that hold 24-bit samples (s / 2^23).
void floatToS24(const float *in, unsigned char *out, size_t count);

// Converts frames of samples (channels wide) through resampler, whose output rate is ratio
// times its input's, into buffer (grown as needed); points samples at the result and
// returns its frames.
size_t resampleInto(
    soxr_t resampler, double ratio, int channels, const float *&samples, size_t frames, std::vector<float> &buffer);

} // namespace vbmp3
