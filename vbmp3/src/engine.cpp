#include "engine.h"
#include "vbmp3volume.h"

#include "formatsources.h"
#include "outputdevices.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sched.h>

namespace vbmp3
{
namespace
{

using namespace std::chrono_literals;

constexpr size_t kDecodeChunk = 1152; // frames per source read
constexpr size_t kOutputBlock = 1024; // frames per equalizer/volume/device step
// The file output is not real time: nothing is gained by small steps, and every hand-off
// between the two threads costs a wake-up, so both sides move larger pieces and the
// ring holds several output blocks whatever the buffer options say.
constexpr size_t kFileDecodeChunk = 8 * 1152;
constexpr size_t kFileBlock = 32768;
constexpr size_t kFileRingFrames = 8 * kFileBlock;
// Blocks the file output's thread lets gather in the ring before it wakes (at most half the
// ring, so that the decoder still has room to reach it).
constexpr size_t kFileBatchBlocks = 4;
// Longest sleep on the device: outputs wake at their own deadlines or on interrupt().
constexpr auto kDeviceWait = 500ms;

// The volume word's gains: left half, right half, and their mean for the centre.
std::array<float, 3> volumeGains(uint32_t word)
{
    const Vbmp3VolumeGains sides = vbmp3VolumeGains(word, 2);
    const Vbmp3VolumeGains centre = vbmp3VolumeGains(word, 1);
    return { sides.left, sides.right, centre.left };
}

// Scales the interleaved frames of parts (one block) into out by the volume word's gains,
// each channel by the gain of its side (sides: 0 left, 1 right, 2 centre), gliding from
// the previous gains over the block so that slider moves do not click.
void applyVolume(const FrameRing::Span (&parts)[2], float *out, const std::vector<uint8_t> &sides,
    std::array<float, 3> &previous, uint32_t word)
{
    const size_t frames = parts[0].frames + parts[1].frames;
    const size_t ch = sides.size();
    const std::array<float, 3> gain = volumeGains(word);
    std::array<float, 3> step;
    for (size_t k = 0; k < 3; ++k)
        step[k] = (gain[k] - previous[k]) / static_cast<float>(frames);
    size_t i = 0;
    for (const FrameRing::Span &part : parts) {
        for (size_t j = 0; j < part.frames; ++j, ++i) {
            for (size_t c = 0; c < ch; ++c) {
                const float g = previous[sides[c]] + step[sides[c]] * static_cast<float>(i + 1);
                out[i * ch + c] = part.data[j * ch + c] * g;
            }
        }
    }
    previous = gain;
}

// Which gain of the volume word each channel takes: 0 left, 1 right, 2 centre (mean).
// Channels without a known place: the first two are left and right, the rest centre.
std::vector<uint8_t> volumeSides(int channels, uint32_t mask)
{
    constexpr uint32_t kLeft = kFrontLeft | kBackLeft | kFrontLeftOfCenter | kSideLeft | kTopFrontLeft | kTopBackLeft;
    constexpr uint32_t kRight
        = kFrontRight | kBackRight | kFrontRightOfCenter | kSideRight | kTopFrontRight | kTopBackRight;
    std::vector<uint8_t> sides(static_cast<size_t>(std::max(channels, 1)), 2);
    if (channels == 1)
        return sides;
    if (std::popcount(mask) != channels) {
        sides[0] = 0;
        sides[1] = 1;
        return sides;
    }
    size_t c = 0;
    for (uint32_t bit = 1; bit != 0 && c < sides.size(); bit <<= 1) {
        if (mask & bit)
            sides[c++] = (bit & kLeft) ? 0 : (bit & kRight) ? 1 : 2;
    }
    return sides;
}

} // namespace

Engine::Engine()
{
    m_decodeThread = std::thread([this] { decodeLoop(); });
    m_outputThread = std::thread([this] { outputLoop(); });
}

Engine::~Engine()
{
    {
        std::lock_guard lock(m_mutex);
        stopLocked();
        m_quit = true;
        wakeAll();
    }
    m_decodeThread.join();
    m_outputThread.join();
}

// ---------------------------------------------------------------------------------
// Controlling thread

bool Engine::open(const std::string &path, OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    close();
    const FileLayout layout = probeFile(path);
    if (layout.kind == FileKind::Unknown || layout.kind == FileKind::Media)
        return false;
    SourceOptions options;
    options.estimateLongLength = true;
    std::shared_ptr<Source> source = openSource(path, layout, options);
    if (!source)
        return false;
    m_path = path;
    m_mpegInfo.reset();
    m_layout = layout;
    m_info = source->info();
    if (m_info.lengthEstimated)
        m_count = std::make_unique<LengthCount>(path, layout, SourceOptions {});
    {
        std::lock_guard lock(m_mutex);
        m_source = std::move(source);
        m_stoppedFrame = 0;
    }
    openInfo(info);
    if (m_lyrics3Use)
        readLyrics3Data();
    return true;
}

bool Engine::close()
{
    m_lyrics = {};
    m_count.reset();
    const bool wasOpen = !m_path.empty();
    m_path.clear();
    m_mpegInfo.reset();
    m_layout = {};
    m_info = {};
    std::lock_guard lock(m_mutex);
    stopLocked();
    m_source.reset();
    m_stoppedFrame = 0;
    return wasOpen;
}

Engine::LengthCount::LengthCount(const std::string &path, const FileLayout &layout, const SourceOptions &options)
    : m_thread([this, path, layout, options] {
        SourceOptions cancellable = options;
        cancellable.cancel = &m_cancel;
        std::optional<SourceInfo> counted;
        try {
            if (std::unique_ptr<Source> source = openSource(path, layout, cancellable))
                counted = source->info();
        } catch (...) { // out of memory: the estimate stays
        }
        std::lock_guard lock(m_mutex);
        m_result = std::move(counted);
        m_finished = true;
    })
{
}

Engine::LengthCount::~LengthCount()
{
    m_cancel = true;
    m_thread.join();
}

std::optional<std::optional<SourceInfo>> Engine::LengthCount::result()
{
    std::lock_guard lock(m_mutex);
    if (!m_finished)
        return std::nullopt;
    return m_result;
}

void Engine::takeCount()
{
    if (!m_count)
        return;
    const std::optional<std::optional<SourceInfo>> result = m_count->result();
    if (!result)
        return;
    m_count.reset();
    m_info.lengthEstimated = false;
    // A count that failed (the stream broke off after its first frames) leaves the estimate.
    if (!*result)
        return;
    m_info.totalFrames = (*result)->totalFrames;
    m_info.bitrate = (*result)->bitrate;
    std::lock_guard lock(m_mutex);
    if (m_sessionSource)
        m_totalFrames = m_info.totalFrames;
}

int32_t Engine::openInfo(OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    if (m_path.empty())
        return 0;
    takeCount();
    if (info) {
        fillField(info->text1, sizeof info->text1, m_info.description);
        fillField(info->text2, sizeof info->text2, m_info.decoderName);
        info->bitrate = m_info.bitrate;
        info->frequency = m_info.rate;
        info->totalSeconds = static_cast<int32_t>(std::min<int64_t>(m_info.totalFrames / m_info.rate, INT32_MAX));
    }
    return m_info.lengthEstimated ? 1 : 2;
}

int32_t Engine::streamInfo(StreamInfo *info)
{
    std::memset(info, 0, sizeof *info);
    if (m_path.empty())
        return 0;
    takeCount();
    info->codec = m_info.codec;
    info->channels = m_info.channels;
    info->bitsPerSample = m_info.lossless ? m_info.bitsPerSample : 0;
    info->lossless = m_info.lossless ? 1 : 0;
    // Mono and stereo sources (MPEG, WAV) say nothing of their speakers: there is one way.
    info->channelMask = m_info.channelMask != 0 ? m_info.channelMask
        : m_info.channels <= 2                  ? defaultChannelMask(m_info.channels)
                                                : 0;
    info->sampleRate = m_info.rate;
    info->totalFrames = m_info.totalFrames;
    info->bitrate = m_info.bitrate;
    fillField(info->codecName, sizeof info->codecName, m_info.codecName);
    return m_info.lengthEstimated ? 1 : 2;
}

bool Engine::play()
{
    takeCount();
    // A report of the ending session that is under way finishes first; later ones find
    // the new session and are dropped (finishTrack decides and calls under this lock).
    std::lock_guard callbackLock(m_callbackMutex);
    std::unique_lock lock(m_mutex);
    if (!m_source)
        return false;
    std::unique_ptr<Output> output;
    bool autoFallback = false;
    std::string device;
    if (m_target.starts_with("file:")) {
        // Fail now, not later on the output thread, when the file cannot be written;
        // "a" leaves a file that an earlier play may still be finishing untouched.
        std::FILE *probe = std::fopen(m_target.c_str() + 5, "ab");
        if (!probe)
            return false;
        std::fclose(probe);
        output = makeFileOutput(m_target.substr(5));
    } else if (m_target == "null") {
        output = makeNullOutput();
    } else {
        device = m_device;
        output = device.starts_with("alsa:") ? makeAlsaOutput(device.substr(5))
                                             : makePulseOutput(device.starts_with("pulse:") ? device.substr(6) : "");
        autoFallback = true;
    }

    // The buffers are made before anything changes, so that running out of memory here
    // leaves the engine as it was (the threads keep using the old ones) and play fails.
    const SourceInfo &info = m_source->info();
    const bool toFile = m_target.starts_with("file:");
    const size_t decodeChunk = toFile ? kFileDecodeChunk : kDecodeChunk;
    const size_t ringFrames
        = static_cast<size_t>(m_bufferOptions.value[0]) * 1024 / (2 * static_cast<size_t>(info.channels));
    FrameRing ring;
    ring.reset(std::max({ ringFrames, 2 * decodeChunk, toFile ? kFileRingFrames : 0 }), info.channels);
    // Enough history for the device's delay (plus slack for the server's own latency)
    // and one analysis window behind it.  The file output has no delay: one window.
    const int bufferMs = m_bufferOptions.value[1] * m_bufferOptions.value[2];
    const size_t window = BandAnalyzer::windowFor(info.rate);
    const size_t historyFrames = toFile
        ? window
        : static_cast<size_t>(bufferMs + 500) * static_cast<size_t>(info.rate) / 1000 + window + kOutputBlock;
    FrameRing history;
    history.reset(historyFrames, info.channels);

    ++m_session;
    ++m_serial;
    m_state = State::Playing;
    m_sessionSource = m_source;
    m_totalFrames = m_info.totalFrames; // the source's own may be an estimate
    m_rate = info.rate;
    m_channels = info.channels;
    m_seekPending = true;
    m_seekFrame = 0;
    m_decodeEof = false;
    m_decodeChunk = decodeChunk;
    m_ring = std::move(ring);
    m_segmentStart = m_writtenFrame = 0;
    m_stoppedFrame = 0;

    OutputFormat format;
    format.rate = m_rate;
    format.channels = m_channels;
    format.periodMs = m_bufferOptions.value[2];
    format.bufferMs = bufferMs;
    format.deviceChannels = m_decodeOptions.value[0];
    format.deviceSampleFormat = m_decodeOptions.value[1];
    format.deviceRate = m_decodeOptions.value[2];
    format.channelMask = info.channelMask != 0 ? info.channelMask : defaultChannelMask(info.channels);
    // The file output keeps a lossless source's samples: 24-bit words for more than 16 bits.
    const int bits = info.lossless ? info.bitsPerSample : 0;
    format.fileBits = bits > 16 ? 24 : 16;
    format.validBits = bits > 0 ? std::min(bits, format.fileBits) : format.fileBits;
    m_sessionFormat = format;
    m_pendingOutput = std::move(output);
    m_pendingAuto = autoFallback;
    m_pendingDevice = std::move(device);
    m_realtime = m_bufferOptions.value[3] == 1;
    m_history = std::move(history);
    wakeAll();
    return true;
}

void Engine::wakeAll()
{
    m_decodeWake.notify_all();
    m_outputWake.notify_all();
    if (m_output)
        m_output->interrupt(); // the output thread may sleep on the device
}

void Engine::stopLocked()
{
    if (m_state != State::Stopped || m_pendingOutput || m_output)
        ++m_session;
    ++m_serial;
    m_state = State::Stopped;
    m_sessionSource.reset();
    m_pendingOutput.reset();
    m_ring.clear();
    m_history.clear();
    m_decodeEof = false;
    m_seekPending = false;
    m_stoppedFrame = 0;
    wakeAll();
}

bool Engine::stop()
{
    std::lock_guard lock(m_mutex);
    if (!m_source)
        return false;
    stopLocked();
    return true;
}

bool Engine::pause()
{
    return switchPause(State::Playing, State::Paused);
}

bool Engine::restart()
{
    return switchPause(State::Paused, State::Playing);
}

bool Engine::switchPause(State from, State to)
{
    std::lock_guard lock(m_mutex);
    if (m_state != from)
        return false;
    m_state = to;
    if (m_output)
        m_output->setPaused(to == State::Paused);
    wakeAll();
    return true;
}

bool Engine::seek(int32_t seconds)
{
    takeCount();
    std::lock_guard lock(m_mutex);
    if (!m_source || m_state == State::Stopped)
        return false;
    const int64_t target = std::clamp<int64_t>(static_cast<int64_t>(seconds) * m_rate, 0, m_totalFrames);
    ++m_serial;
    m_ring.clear();
    m_seekPending = true;
    m_seekFrame = target;
    m_decodeEof = false;
    m_segmentStart = m_writtenFrame = target;
    m_history.clear();
    wakeAll();
    return true;
}

int64_t Engine::heardFrameLocked()
{
    if (m_state == State::Stopped)
        return m_stoppedFrame;
    int64_t heard = m_writtenFrame;
    if (m_output)
        heard -= m_output->delayFrames();
    return std::clamp(heard, m_segmentStart, m_writtenFrame);
}

int64_t Engine::heardMs()
{
    std::lock_guard lock(m_mutex);
    const int rate = m_source ? m_source->info().rate : 0;
    return rate > 0 ? heardFrameLocked() * 1000 / rate : 0;
}

int32_t Engine::state(int32_t *elapsedSeconds)
{
    std::lock_guard lock(m_mutex);
    if (elapsedSeconds) {
        const int rate = m_source ? m_source->info().rate : 0;
        *elapsedSeconds = rate > 0 ? static_cast<int32_t>(heardFrameLocked() / rate) : 0;
    }
    switch (m_state) {
    case State::Playing:
        return VBMP3_PLAYING;
    case State::Paused:
        return VBMP3_PAUSED;
    default:
        return VBMP3_STOPPED;
    }
}

void Engine::setCallback(Callback callback)
{
    std::lock_guard lock(m_callbackMutex);
    m_callback = callback;
}

void Engine::stopCallback()
{
    std::lock_guard lock(m_callbackMutex);
    m_callback = nullptr;
}

bool Engine::setBufferOptions(const Vbmp3Option &option)
{
    const auto &v = option.value;
    if (v[0] < 16 || v[0] > 4096 || v[1] < 2 || v[1] > 64 || v[2] < 2 || v[2] > 100 || v[3] < 0 || v[3] > 1)
        return false;
    std::lock_guard lock(m_mutex);
    m_bufferOptions = option;
    return true;
}

bool Engine::setDecodeOptions(const DecodeOption &option)
{
    const auto &v = option.value;
    if (v[0] < 0 || v[0] > 2 || v[1] < 0 || v[1] > 1 || (v[2] != 0 && (v[2] < 8000 || v[2] > 192000)))
        return false;
    std::lock_guard lock(m_mutex);
    m_decodeOptions = option;
    return true;
}

std::string Engine::outputName()
{
    std::lock_guard lock(m_mutex);
    return m_output ? m_output->name() : "";
}

bool Engine::setOutputDevice(const std::string &device)
{
    const bool known
        = (device.starts_with("pulse:") && device.size() > 6) || (device.starts_with("alsa:") && device.size() > 5);
    if (!device.empty() && !known)
        return false;
    std::lock_guard lock(m_mutex);
    m_device = device;
    return true;
}

std::string Engine::outputDevice()
{
    std::lock_guard lock(m_mutex);
    return m_output && std::strcmp(m_output->name(), "null") != 0 ? m_openDevice : std::string();
}

bool Engine::setOutput(const std::string &target)
{
    if (target != "auto" && target != "null" && !(target.starts_with("file:") && target.size() > 5))
        return false;
    std::lock_guard lock(m_mutex);
    m_target = target;
    return true;
}

void Engine::setEqualizer(const int32_t *bands)
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < Equalizer::kBands; ++i)
        m_eqUnits[static_cast<size_t>(i)]
            = bands ? std::clamp(bands[i], -Equalizer::kMaxUnits, Equalizer::kMaxUnits) : 0;
    ++m_eqVersion;
}

int64_t Engine::durationMs() const
{
    return m_info.rate > 0 ? m_info.totalFrames * 1000 / m_info.rate : 0;
}

bool Engine::readLyrics3Data()
{
    if (m_path.empty())
        return false;
    const std::optional<std::string> text = readLyrics3(m_path);
    if (!text)
        return false;
    LyricsTimeline timeline = LyricsTimeline::fromLyrics3(*text);
    if (timeline.empty())
        return false;
    timeline.spreadOver(durationMs());
    m_lyrics = std::move(timeline);
    return true;
}

bool Engine::setLyrics(LyricsTimeline timeline)
{
    if (m_path.empty())
        return false;
    timeline.spreadOver(durationMs());
    m_lyrics = std::move(timeline);
    return !m_lyrics.empty();
}

bool Engine::lyrics(LyricsLines *lines)
{
    const int64_t ms = heardMs();
    if (m_lyrics.empty()) {
        std::memset(lines, 0, sizeof *lines);
        lines->current = -1;
        return false;
    }
    m_lyrics.fill(ms, lines);
    return true;
}

int32_t Engine::lyricsWait()
{
    const int64_t ms = heardMs();
    const int64_t wait = m_lyrics.msUntilNext(ms);
    return static_cast<int32_t>(std::min<int64_t>(wait, INT32_MAX));
}

void Engine::spectrum(int32_t *first, int32_t *second)
{
    std::fill_n(first, BandAnalyzer::kBands, 0);
    std::fill_n(second, BandAnalyzer::kBands, 0);
    int rate;
    int channels;
    size_t window;
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Playing || !m_source)
            return;
        rate = m_rate;
        channels = m_channels;
        window = BandAnalyzer::windowFor(rate);
        m_spectrumFrames.assign(window * static_cast<size_t>(channels), 0.0f);
        // The window ends at the heard frame; frames the history does not hold stay silent.
        const int64_t heard = heardFrameLocked();
        const int64_t historyStart = m_writtenFrame - static_cast<int64_t>(m_history.size());
        const int64_t from = std::max(heard - static_cast<int64_t>(window), historyStart);
        if (heard > from) {
            const auto count = static_cast<size_t>(heard - from);
            const size_t into = window - count;
            m_history.copyFrom(static_cast<size_t>(from - historyStart),
                m_spectrumFrames.data() + into * static_cast<size_t>(channels), count);
        }
    }
    m_analyzer.analyze(m_spectrumFrames.data(), channels, 0, rate, first);
    if (channels >= 2) // the front pair
        m_analyzer.analyze(m_spectrumFrames.data(), channels, 1, rate, second);
    else
        std::copy_n(first, BandAnalyzer::kBands, second);
}

bool Engine::mpegInfo(MpegInfo *info)
{
    std::memset(info, 0, sizeof *info);
    if (m_path.empty())
        return false;
    if (m_layout.kind != FileKind::Mpeg && m_layout.kind != FileKind::Rmp)
        return true; // no MPEG facts: zeros
    // Counting frames of a file without a VBR header reads it whole: once per open file.
    if (!m_mpegInfo) {
        MpegInfo read {};
        if (!readMpegInfo(m_path, &read))
            return false;
        m_mpegInfo = read;
    }
    *info = *m_mpegInfo;
    return true;
}

// ---------------------------------------------------------------------------------
// Decode thread: keeps the ring filled for the current serial.

void Engine::decodeLoop()
{
    std::unique_lock lk(m_mutex);
    while (!m_quit) {
        if (!m_sessionSource || m_state == State::Stopped) {
            m_decodeWake.wait(lk);
            continue;
        }
        std::shared_ptr<Source> source = m_sessionSource;
        const uint64_t serial = m_serial;
        if (m_seekPending) {
            m_seekPending = false;
            const int64_t target = m_seekFrame;
            lk.unlock();
            source->seek(target);
            lk.lock();
            continue;
        }
        const size_t chunkFrames = m_decodeChunk;
        if (m_decodeEof || m_ring.space() < chunkFrames) {
            m_decodeWake.wait(lk); // the output thread calls when the ring is half empty
            continue;
        }
        // The source decodes straight into the ring's free slots (at most a chunk; less
        // where the slots wrap around).  Only this thread writes there, and the slots stay
        // free until commit(); the storage reference keeps them alive should play() give
        // the ring new storage meanwhile.
        const FrameRing::Span free = m_ring.freeSpan(chunkFrames);
        std::shared_ptr<float[]> storage = m_ring.storage();
        lk.unlock();
        const size_t frames = source->read(free.data, free.frames);
        source.reset(); // the controlling thread may have let go of it meanwhile
        storage.reset();
        lk.lock();
        if (serial != m_serial)
            continue; // a seek, play or stop came in meanwhile: the frames are not committed
        const size_t before = m_ring.size();
        if (frames == 0)
            m_decodeEof = true;
        else
            m_ring.commit(frames);
        // The output thread waits only while the ring holds less than m_outputWant.
        if (frames == 0 || (before < m_outputWant && m_ring.size() >= m_outputWant))
            m_outputWake.notify_one();
    }
}

// ---------------------------------------------------------------------------------
// Output thread: opens the session's device, sends the ring through equalizer and
// volume to it, reports the end of the track.  Every step below takes lk holding m_mutex
// and returns with it held; a step that waited or found nothing to do returns, and the
// loop looks at the state again.

void Engine::outputLoop()
{
    OutputStage st;
    std::unique_lock lk(m_mutex);
    while (!m_quit) {
        if (st.session != m_session) {
            switchSession(lk, st);
            continue;
        }
        if (!m_output || m_state == State::Stopped) {
            m_outputWake.wait(lk);
            continue;
        }
        if (st.serial != m_serial) {
            // Seek or restart from the top: what the device holds is stale.
            st.serial = m_serial;
            releaseBlock(st);
            st.draining = false;
            m_output->flush();
            st.equalizer.reset();
            continue;
        }
        if (st.eqVersion != m_eqVersion) {
            st.equalizer.setTargets(m_eqUnits);
            st.eqVersion = m_eqVersion;
        }
        if (m_state == State::Paused) {
            m_outputWake.wait(lk);
            continue;
        }
        if (st.pendingFrames == 0 && !takeBlock(lk, st))
            continue;
        sendPending(lk, st);
    }
    std::unique_ptr<Output> last = std::move(m_output);
    lk.unlock();
    if (last)
        last->close();
}

// A session ended or began: closes the old device and opens the new one, falling back to
// the other devices in turn when "auto" cannot open the one it tried first.
void Engine::switchSession(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    st.session = m_session;
    std::unique_ptr<Output> old = std::move(m_output);
    std::unique_ptr<Output> next = std::move(m_pendingOutput);
    const OutputFormat format = m_sessionFormat;
    const bool fallback = m_pendingAuto;
    std::string device = m_pendingDevice;
    const bool realtime = m_realtime;
    releaseBlock(st);
    st.draining = false;
    lk.unlock();
    if (old)
        old->close();
    old.reset();
    bool opened = false;
    if (next) {
        opened = next->open(format);
        if (!opened && fallback) {
            next = openDefaultOutput(format, device);
            device.clear();
            opened = true;
        }
        // Real-time priority as the options ask (refused without the rights: fine).
        sched_param param {};
        param.sched_priority = realtime ? 10 : 0;
        pthread_setschedparam(pthread_self(), realtime ? SCHED_FIFO : SCHED_OTHER, &param);
    }
    lk.lock();
    if (!next)
        return;
    if (st.session != m_session) {
        lk.unlock();
        next->close();
        next.reset();
        lk.lock();
        return;
    }
    if (!opened) {
        // The file output could not be created after all: the session ends without sound.
        endSessionLocked();
        report(lk, st.session, VBMP3_MSG_OUTPUT_FAILED);
        return;
    }
    st.channels = format.channels;
    st.realTime = next->realTime();
    st.usesSamples = next->usesSamples();
    st.blockFrames = st.realTime ? kOutputBlock : kFileBlock;
    st.equalizer.configure(format.rate, format.channels, m_eqUnits);
    st.eqVersion = m_eqVersion;
    st.volumeGains.fill(-1.0f); // first block starts at its own gain
    st.volumeSides = volumeSides(format.channels, format.channelMask);
    if (m_state == State::Paused)
        next->setPaused(true);
    m_output = std::move(next);
    m_openDevice = std::move(device);
    st.serial = m_serial;
}

// The output stage: claims the next block in the ring and runs the equalizer over it in
// place (what the history and the spectrum see), and the volume into st.scaled unless it
// is full (what the device gets).  The block's slots stay claimed until it has gone to the
// device (releaseBlock), so the decoder does not refill them meanwhile.  False when there
// is no block now: the ring is short (waited), the track is draining, or the block went
// stale while it was processed without the lock.
bool Engine::takeBlock(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    releaseBlock(st);
    // A real-time device takes what there is.  Otherwise a whole block; and once short of
    // one, the thread sleeps until the ring holds several, which it then sends in a row:
    // the decoder is the slower side, and each wake-up costs about as much as a copy of
    // the block.
    const size_t block = st.realTime ? 1 : std::min(st.blockFrames, m_ring.capacity() / 2);
    if (m_ring.size() < block && !m_decodeEof) {
        m_outputWant = st.realTime ? 1 : std::min(kFileBatchBlocks * st.blockFrames, m_ring.capacity() / 2);
        m_outputWake.wait(lk); // underrun: the decoder is behind
        return false;
    }
    if (m_ring.empty()) {
        drainStep(lk, st);
        return false;
    }
    const size_t frames = std::min(m_ring.size(), st.blockFrames);
    st.parts[0] = m_ring.claim(frames);
    st.parts[1] = m_ring.claim(frames - st.parts[0].frames); // the rest, where the ring wraps
    st.storage = m_ring.storage();
    const uint32_t volume = m_volume.load();
    lk.unlock();
    for (const FrameRing::Span &part : st.parts)
        st.equalizer.process(part.data, part.frames);
    st.scaledUsed = st.usesSamples
        && (volume != 0xFFFFFFFFu
            || std::any_of(st.volumeGains.begin(), st.volumeGains.end(), [](float g) { return g != 1.0f; }));
    if (st.scaledUsed) {
        if (st.volumeGains[0] < 0)
            st.volumeGains = volumeGains(volume);
        st.scaled.resize(frames * static_cast<size_t>(st.channels));
        applyVolume(st.parts, st.scaled.data(), st.volumeSides, st.volumeGains, volume);
    }
    lk.lock();
    if (st.serial != m_serial || st.session != m_session) {
        releaseBlock(st); // stale: dropped
        return false;
    }
    st.pendingFrames = frames;
    st.pendingOffset = 0;
    return true;
}

void Engine::releaseBlock(OutputStage &st)
{
    st.pendingFrames = 0;
    if (!st.storage)
        return;
    st.storage.reset();
    st.parts[0] = st.parts[1] = {};
    // A play() since the claim gave the ring new storage with nothing claimed: releasing
    // changes nothing there either.
    const size_t refill = std::max(m_decodeChunk, m_ring.capacity() / 2);
    const bool wasFull = m_ring.space() < refill;
    m_ring.release();
    if (wasFull && m_ring.space() >= refill)
        m_decodeWake.notify_one(); // the decoder refills in one go
}

// Sends as much of the pending block as the device takes now (or waits for room), and
// keeps it in the history.  A file output that fails to write ends the track.
void Engine::sendPending(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    Output *out = m_output.get();
    const size_t room = out->room();
    if (room == 0) {
        lk.unlock();
        out->waitForRoom(kDeviceWait);
        lk.lock();
        return;
    }
    // One piece contiguous in the ring: the block's first part or its second.
    const auto ch = static_cast<size_t>(st.channels);
    const size_t offset = st.pendingOffset;
    const bool second = offset >= st.parts[0].frames;
    const FrameRing::Span &part = st.parts[second ? 1 : 0];
    const size_t within = second ? offset - st.parts[0].frames : offset;
    const size_t n = std::min({ room, st.pendingFrames, part.frames - within });
    const float *filtered = part.data + within * ch;
    const float *device = st.scaledUsed ? st.scaled.data() + offset * ch : filtered;
    // The history keeps the newest frames: of a piece longer than it holds (a file
    // output block at a low rate) only the tail goes in, so that it still ends at
    // m_writtenFrame.
    const size_t kept = std::min(n, m_history.capacity());
    if (m_history.space() < kept)
        m_history.drop(kept - m_history.space());
    m_history.push(filtered + (n - kept) * ch, kept);
    m_writtenFrame += static_cast<int64_t>(n);
    st.pendingOffset += n;
    st.pendingFrames -= n;
    if (st.realTime) {
        // Under the lock, so that m_writtenFrame and the device's delay agree.
        out->write(device, n);
    } else {
        // No delay to agree with: let the decoder go on meanwhile (the claim keeps the
        // block's slots, and st.storage their memory).
        lk.unlock();
        out->write(device, n);
        lk.lock();
        if (out->failed() && st.session == m_session) {
            releaseBlock(st);
            finishTrack(lk, st.session);
            return;
        }
    }
    if (st.pendingFrames == 0)
        releaseBlock(st);
}

// The ring is empty and the decoder is done: lets the device play out what it holds,
// then reports the end.
void Engine::drainStep(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    Output *out = m_output.get();
    if (!st.draining) {
        st.draining = true;
        lk.unlock();
        out->startDrain();
        lk.lock();
        return;
    }
    if (out->drained()) {
        finishTrack(lk, st.session);
        return;
    }
    lk.unlock();
    out->waitDrained(kDeviceWait);
    lk.lock();
}

void Engine::endSessionLocked()
{
    m_state = State::Stopped;
    m_stoppedFrame = m_writtenFrame;
    m_sessionSource.reset();
    m_ring.clear();
    m_history.clear();
}

void Engine::finishTrack(std::unique_lock<std::mutex> &lk, uint64_t session)
{
    std::unique_ptr<Output> out = std::move(m_output);
    endSessionLocked();
    lk.unlock();
    out->close(); // a file output is complete before the report
    const int32_t message = out->failed() ? VBMP3_MSG_OUTPUT_FAILED : VBMP3_MSG_END_OF_TRACK;
    out.reset();
    lk.lock();
    report(lk, session, message);
}

void Engine::report(std::unique_lock<std::mutex> &lk, uint64_t session, int32_t message)
{
    lk.unlock();
    {
        std::lock_guard callbackLock(m_callbackMutex);
        bool current;
        {
            std::lock_guard lock(m_mutex);
            current = session == m_session && m_state == State::Stopped;
        }
        if (current && m_callback)
            m_callback(message, 0);
    }
    lk.lock();
}

} // namespace vbmp3
