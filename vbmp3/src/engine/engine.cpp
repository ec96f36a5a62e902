#include "engine.h"
#include "vbmp3volume.h"

#include "outputs/outputdevices.h"
#include "sources/formats.h"
#include "sources/formatsources.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <pthread.h>
#include <sched.h>

namespace vbmp3
{
namespace
{

using namespace std::chrono_literals;

constexpr size_t kDecodeChunk = 1152; // frames per source read
constexpr size_t kOutputBlock = 1024; // the history's slack for a block on its way to the device
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
// How long the file output's decoder waits, at the end of a joined track, for the caller
// to queue the next one.
constexpr auto kAwaitCaller = 2s;

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

// Frames the ring holds for a track of format: the buffer option (KiB of 16-bit PCM), at
// least two decode chunks, and for the file output several of its blocks.
size_t ringFrames(const OutputFormat &format, const Vbmp3Option &options, bool toFile)
{
    const size_t chunk = toFile ? kFileDecodeChunk : kDecodeChunk;
    const size_t fromOptions
        = static_cast<size_t>(options.value[0]) * 1024 / (2 * static_cast<size_t>(std::max(format.channels, 1)));
    return std::max({ fromOptions, 2 * chunk, toFile ? kFileRingFrames : 0 });
}

// Frames of history: the device's delay (plus slack for the server's own latency, and
// more than the null output's least buffer of half a second) and one analysis window
// behind it.  The file output has no delay: one window.
size_t historyFrames(const OutputFormat &format, bool toFile)
{
    const size_t window = BandAnalyzer::windowFor(format.rate);
    if (toFile)
        return window;
    return static_cast<size_t>(format.bufferMs + 500) * static_cast<size_t>(format.rate) / 1000 + window + kOutputBlock;
}

// What the desktop's mixer calls a track: "artist - title" from its tags, the title
// alone, or the file's name.
std::string mediaNameOf(const std::string &path)
{
    TagInfo tag {};
    std::string title;
    std::string artist;
    if (readTagInfo(path, &tag)) {
        title.assign(tag.title, strnlen(tag.title, sizeof tag.title));
        artist.assign(tag.artist, strnlen(tag.artist, sizeof tag.artist));
    }
    if (!title.empty())
        return artist.empty() ? title : artist + " - " + title;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// frames at rate as milliseconds, without overflow for any length a file may claim (the
// largest saturates).
int64_t framesToMs(int64_t frames, int64_t rate)
{
    if (rate <= 0 || frames <= 0)
        return 0;
    const int64_t seconds = frames / rate;
    if (seconds >= std::numeric_limits<int64_t>::max() / 1000)
        return std::numeric_limits<int64_t>::max();
    return seconds * 1000 + frames % rate * 1000 / rate;
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

std::string Engine::mixerNameOf(const std::string &path)
{
    // Only the sound server shows a name; the others are spared reading the tags (which
    // may hold pictures of megabytes).
    {
        std::lock_guard lock(m_mutex);
        if (m_target != "auto")
            return {};
    }
    return mediaNameOf(path);
}

bool Engine::open(const std::string &path, OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    close();
    const FileLayout layout = probeFile(path);
    if (!formatOf(layout.kind).open)
        return false;
    SourceOptions options;
    options.estimateLongLength = true;
    std::shared_ptr<Source> source = openSource(path, layout, options);
    if (!source)
        return false;
    source->setGainOrigin(path, layout);
    std::string name = mixerNameOf(path);
    m_open.path = path;
    m_open.mpegInfo.reset();
    m_open.layout = layout;
    m_open.info = source->info();
    if (m_open.info.lengthEstimated)
        m_open.count = std::make_unique<LengthCount>(path, layout, SourceOptions {});
    {
        std::lock_guard lock(m_mutex);
        m_source = std::move(source);
        m_sourceName = std::move(name);
        m_sourceTotal = m_open.info.totalFrames;
        m_stoppedFrame = 0;
        m_writtenRate = m_open.info.rate;
    }
    openInfo(info);
    if (m_lyrics3Use)
        readLyrics3Data();
    return true;
}

int32_t Engine::queueNext(const std::string &path)
{
    const bool hadQueue = !m_next.path.empty();
    syncJoins();
    if (hadQueue && m_next.path.empty())
        return 2; // heard already: it is the open file now
    if (m_open.path.empty())
        return 0;
    Track next;
    std::shared_ptr<Source> source;
    std::string name;
    if (!path.empty()) {
        next.layout = probeFile(path);
        if (formatOf(next.layout.kind).open) {
            SourceOptions options;
            options.estimateLongLength = true;
            source = openSource(path, next.layout, options);
        }
        if (source) {
            source->setGainOrigin(path, next.layout);
            name = mixerNameOf(path);
            next.path = path;
            next.info = source->info();
            if (next.info.lengthEstimated)
                next.count = std::make_unique<LengthCount>(path, next.layout, SourceOptions {});
        }
    }
    {
        std::unique_lock lk(m_mutex);
        if (m_joins != m_joinsTaken) {
            lk.unlock();
            syncJoins();
            return 2;
        }
        dropEnteredLocked();
        if (m_awaitCaller) {
            m_awaitCaller = false;
            m_decodeWake.notify_one();
        }
        m_queued = source;
        m_queuedName = std::move(name);
        m_queuedTotal = next.info.totalFrames;
        m_queuedFresh = true;
        m_queuedEntered = false;
        if (source)
            m_queuedFormat = formatFor(next.info);
        // A decoder that reached the end with nothing queued goes on, unless the device
        // is already playing out the end (too late to join).
        if (source && m_decodeEof && !m_draining && m_state != State::Stopped) {
            m_decodeEof = false;
            m_decodeWake.notify_one();
        }
    }
    m_next = std::move(next);
    return path.empty() || source ? 1 : 0;
}

bool Engine::close()
{
    m_lyrics = {};
    const bool wasOpen = !m_open.path.empty();
    m_open = {};
    m_next = {};
    std::lock_guard callbackLock(m_callbackMutex);
    std::lock_guard lock(m_mutex);
    stopLocked();
    m_source.reset();
    m_sourceName.clear();
    m_sourceTotal = 0;
    m_queued.reset();
    m_queuedName.clear();
    m_stoppedFrame = 0;
    m_joinsTaken = m_joins;
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

void Engine::syncJoins()
{
    uint64_t joins;
    {
        std::lock_guard lock(m_mutex);
        joins = m_joins;
    }
    if (joins == m_joinsTaken)
        return;
    // One file is queued at a time, and it becomes the open one once heard.
    m_joinsTaken = joins;
    m_open = std::move(m_next);
    m_next = {};
    m_lyrics = {};
    if (m_lyrics3Use)
        readLyrics3Data();
}

void Engine::takeCount()
{
    for (Track *track : { &m_open, &m_next }) {
        if (!track->count)
            continue;
        const std::optional<std::optional<SourceInfo>> result = track->count->result();
        if (!result)
            continue;
        track->count.reset();
        track->info.lengthEstimated = false;
        // A count that failed (the stream broke off after its first frames) leaves the estimate.
        if (!*result)
            continue;
        track->info.totalFrames = (*result)->totalFrames;
        track->info.bitrate = (*result)->bitrate;
        std::lock_guard lock(m_mutex);
        (track == &m_open ? m_sourceTotal : m_queuedTotal) = track->info.totalFrames;
    }
}

int32_t Engine::openInfo(OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    syncJoins();
    if (m_open.path.empty())
        return 0;
    takeCount();
    const SourceInfo &facts = m_open.info;
    if (info) {
        fillField(info->text1, sizeof info->text1, facts.description);
        fillField(info->text2, sizeof info->text2, facts.decoderName);
        info->bitrate = facts.bitrate;
        info->frequency = facts.rate;
        info->totalSeconds = static_cast<int32_t>(std::min<int64_t>(facts.totalFrames / facts.rate, INT32_MAX));
    }
    return facts.lengthEstimated ? 1 : 2;
}

int32_t Engine::streamInfo(StreamInfo *info)
{
    std::memset(info, 0, sizeof *info);
    syncJoins();
    if (m_open.path.empty())
        return 0;
    takeCount();
    const SourceInfo &facts = m_open.info;
    info->codec = facts.codec;
    info->channels = facts.channels;
    info->bitsPerSample = facts.lossless ? facts.bitsPerSample : 0;
    info->lossless = facts.lossless ? 1 : 0;
    // Mono and stereo sources (MPEG, WAV) say nothing of their speakers: there is one way.
    info->channelMask = facts.channelMask != 0 ? facts.channelMask
        : facts.channels <= 2                  ? defaultChannelMask(facts.channels)
                                               : 0;
    info->sampleRate = facts.rate;
    info->totalFrames = facts.totalFrames;
    info->bitrate = facts.bitrate;
    fillField(info->codecName, sizeof info->codecName, facts.codecName);
    return facts.lengthEstimated ? 1 : 2;
}

OutputFormat Engine::formatFor(const SourceInfo &info) const
{
    OutputFormat format = m_sessionBase;
    format.rate = info.rate;
    format.channels = info.channels;
    format.channelMask = info.channelMask != 0 ? info.channelMask : defaultChannelMask(info.channels);
    // The file output keeps a lossless source's samples: 24-bit words for more than 16 bits.
    const int bits = info.lossless ? info.bitsPerSample : 0;
    format.fileBits = bits > 16 ? 24 : 16;
    format.sourceBits = bits;
    format.validBits = bits > 0 ? std::min(bits, format.fileBits) : format.fileBits;
    return format;
}

size_t Engine::ringFramesFor(const OutputFormat &format) const
{
    return ringFrames(format, m_bufferOptions, m_sessionToFile);
}

bool Engine::play()
{
    syncJoins();
    takeCount();
    // A report of the ending session that is under way finishes first; later ones find
    // the new session and are dropped (finishTrack decides and calls under this lock).
    std::lock_guard callbackLock(m_callbackMutex);
    std::unique_lock lock(m_mutex);
    if (!m_source)
        return false;
    const bool toFile = m_target.starts_with("file:");
    if (toFile) {
        // Fail now, not later on the output thread, when the file cannot be written;
        // "a" leaves a file that an earlier play may still be finishing untouched.
        std::FILE *probe = std::fopen(m_target.c_str() + 5, "ab");
        if (!probe)
            return false;
        std::fclose(probe);
    }

    // The buffers are made before anything changes, so that running out of memory here
    // leaves the engine as it was (the threads keep using the old ones) and play fails.
    OutputFormat base;
    base.periodMs = m_bufferOptions.value[2];
    base.bufferMs = m_bufferOptions.value[1] * m_bufferOptions.value[2];
    base.deviceChannels = m_decodeOptions.value[0];
    base.deviceSampleFormat = m_decodeOptions.value[1];
    base.deviceRate = m_decodeOptions.value[2];
    base.native = m_nativeOutput;
    const OutputFormat previousBase = m_sessionBase;
    m_sessionBase = base;
    const OutputFormat format = formatFor(m_source->info());
    m_sessionBase = previousBase;
    FrameRing ring;
    ring.reset(ringFrames(format, m_bufferOptions, toFile), format.channels);
    FrameRing history;
    history.reset(historyFrames(format, toFile), format.channels);

    ++m_session;
    ++m_serial;
    ++m_joinGeneration;
    m_state = State::Playing;
    m_sessionBase = base;
    m_sessionTarget = m_target;
    m_sessionToFile = toFile;
    m_realtime = m_bufferOptions.value[3] == 1;
    m_sessionSource = m_source;
    m_sourceFormat = m_ringFormat = format;
    m_seekPending = true;
    m_seekFrame = 0;
    m_decodeEof = false;
    m_draining = false;
    m_decodeChunk = toFile ? kFileDecodeChunk : kDecodeChunk;
    m_ring = std::move(ring);
    m_ringIn = m_ringOut = 0;
    m_boundary.reset();
    m_joinWritten.reset();
    m_joinWait = false;
    m_decodeFromQueue = false;
    m_awaitCaller = false;
    if (m_queued) {
        if (m_queuedEntered)
            m_queuedFresh = false;
        m_queuedEntered = false;
        m_queuedFormat = formatFor(m_queued->info());
    }
    m_segmentStart = m_writtenFrame = 0;
    m_writtenRate = format.rate;
    m_stoppedFrame = 0;
    m_history = std::move(history);
    m_historyRate = format.rate;
    m_historyChannels = format.channels;
    m_playPending = true;
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
    if (m_state != State::Stopped || m_playPending)
        ++m_session;
    ++m_serial;
    ++m_joinGeneration;
    m_state = State::Stopped;
    m_playPending = false;
    m_sessionSource.reset();
    m_ring.clear();
    m_ringIn = m_ringOut = 0;
    m_history.clear();
    m_decodeEof = false;
    m_draining = false;
    m_seekPending = false;
    m_boundary.reset();
    m_joinWritten.reset();
    m_joinWait = false;
    m_decodeFromQueue = false;
    m_awaitCaller = false;
    if (m_queuedEntered)
        m_queuedFresh = false;
    m_queuedEntered = false;
    m_stoppedFrame = 0;
    wakeAll();
}

bool Engine::stop()
{
    Track dropped;
    {
        std::lock_guard callbackLock(m_callbackMutex);
        std::unique_lock lock(m_mutex);
        // A join heard meanwhile is taken over first: the queued file is the open one then.
        while (m_joins != m_joinsTaken) {
            lock.unlock();
            syncJoins();
            lock.lock();
        }
        if (!m_source)
            return false;
        stopLocked();
        m_queued.reset();
        m_queuedName.clear();
    }
    dropped = std::move(m_next); // its count, if any, ends here, outside the locks
    m_next = {};
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
    syncJoins();
    takeCount();
    std::lock_guard lock(m_mutex);
    if (!m_source || m_state == State::Stopped)
        return false;
    // The heard track's (a join heard since syncJoins included).
    const int rate = m_source->info().rate;
    seekLocked(std::clamp<int64_t>(static_cast<int64_t>(seconds) * rate, 0, m_sourceTotal));
    return true;
}

void Engine::seekLocked(int64_t frame)
{
    ++m_serial;
    unwindJoinLocked();
    m_ring.clear();
    m_ringIn = m_ringOut = 0;
    m_seekPending = true;
    m_seekFrame = frame;
    m_decodeEof = false;
    m_draining = false;
    m_segmentStart = m_writtenFrame = frame;
    m_writtenRate = m_sourceFormat.rate;
    m_history.clear();
    wakeAll();
}

void Engine::unwindJoinLocked()
{
    if (m_queuedEntered || m_joinWritten || m_joinWait || m_boundary)
        ++m_joinGeneration;
    m_boundary.reset();
    m_joinWritten.reset();
    m_joinWait = false;
    if (m_queuedEntered)
        m_queuedFresh = false;
    m_queuedEntered = false;
    m_sessionSource = m_source;
    m_decodeFromQueue = m_awaitCaller; // the heard track came from the queue, its join answered or not
    if (!sameStream(m_ringFormat, m_sourceFormat)) {
        FrameRing ring;
        ring.reset(ringFramesFor(m_sourceFormat), m_sourceFormat.channels);
        m_ring = std::move(ring);
        m_ringFormat = m_sourceFormat;
    }
}

void Engine::dropEnteredLocked()
{
    if (m_joinWait) {
        // The decoder waits at the end of the heard track: let it look again at what follows.
        m_joinWait = false;
        m_decodeEof = false;
        m_decodeWake.notify_one();
        return;
    }
    if (!m_queuedEntered)
        return;
    if (m_joinWritten) {
        // The device holds frames of the queued track: the heard track plays on from the
        // frame heard now (its end, should the join be heard by now).
        const JoinInFlight join = *m_joinWritten;
        const int64_t heard = m_writtenFrame - (m_output ? m_output->delayFrames() : 0);
        const int64_t back = heard >= 0 ? 0 : (-heard * join.oldRate + m_writtenRate / 2) / m_writtenRate;
        seekLocked(std::clamp(join.oldEnd - back, join.oldStart, join.oldEnd));
        return;
    }
    // Only the ring holds the queued track: it ends at the boundary again, and the
    // decoder, back at the end of the heard track, looks again at what follows.
    const uint64_t boundary = m_boundary.value_or(m_ringOut);
    ++m_joinGeneration;
    ++m_decodeGeneration;
    m_boundary.reset();
    m_queuedEntered = false;
    m_queuedFresh = false;
    m_sessionSource = m_source;
    m_decodeFromQueue = m_awaitCaller;
    m_decodeEof = false;
    m_seekPending = false;
    if (sameStream(m_ringFormat, m_sourceFormat)) {
        m_ring.truncate(static_cast<size_t>(boundary - m_ringOut));
        m_ringIn = boundary;
    } else {
        // A ring of the queued track's own format (nothing of the heard track left in it).
        FrameRing ring;
        ring.reset(ringFramesFor(m_sourceFormat), m_sourceFormat.channels);
        m_ring = std::move(ring);
        m_ringFormat = m_sourceFormat;
        m_ringIn = m_ringOut = 0;
    }
    m_decodeWake.notify_one();
}

Engine::Heard Engine::heardLocked()
{
    if (m_state == State::Stopped)
        return { m_stoppedFrame, m_writtenRate };
    const int64_t heard = m_writtenFrame - (m_output ? m_output->delayFrames() : 0);
    if (m_joinWritten && heard < 0) {
        // The device still plays the old track.
        const JoinInFlight &join = *m_joinWritten;
        const int64_t back = (-heard * join.oldRate + m_writtenRate / 2) / m_writtenRate;
        return { std::clamp(join.oldEnd - back, join.oldStart, join.oldEnd), join.oldRate };
    }
    return { std::clamp(heard, m_segmentStart, m_writtenFrame), m_writtenRate };
}

int64_t Engine::heardMs()
{
    std::lock_guard lock(m_mutex);
    if (!m_source)
        return 0;
    const Heard heard = heardLocked();
    return framesToMs(heard.frame, heard.rate);
}

int32_t Engine::state(int32_t *elapsedSeconds)
{
    std::lock_guard lock(m_mutex);
    if (elapsedSeconds) {
        const Heard heard = m_source ? heardLocked() : Heard {};
        *elapsedSeconds
            = heard.rate > 0 ? static_cast<int32_t>(std::min<int64_t>(heard.frame / heard.rate, INT32_MAX)) : 0;
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

void Engine::setNativeOutputFormat(bool native)
{
    std::lock_guard lock(m_mutex);
    m_nativeOutput = native;
}

std::string Engine::outputName()
{
    std::lock_guard lock(m_mutex);
    // A device kept open from the last play is not yet this play's until the output
    // thread has taken the play on.
    return m_output && !m_playPending ? m_output->name() : "";
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
    return m_output && !m_playPending && std::strcmp(m_output->name(), "null") != 0 ? m_openDevice : std::string();
}

bool Engine::setOutput(const std::string &target)
{
    if (target != "auto" && target != "null" && !(target.starts_with("file:") && target.size() > 5))
        return false;
    std::lock_guard lock(m_mutex);
    m_target = target;
    return true;
}

void Engine::setVolume(uint32_t word)
{
    m_volume.store(word);
    std::lock_guard lock(m_mutex);
    if (m_output)
        m_output->setVolume(word);
}

void Engine::setEqualizer(const int32_t *bands)
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < Equalizer::kBands; ++i)
        m_eqUnits[static_cast<size_t>(i)]
            = bands ? std::clamp(bands[i], -Equalizer::kMaxUnits, Equalizer::kMaxUnits) : 0;
    ++m_eqVersion;
}

bool Engine::setReplayGain(const ReplayGainOption &option)
{
    if (!validReplayGain(option))
        return false;
    std::lock_guard lock(m_mutex);
    m_replayGain = option;
    return true;
}

int64_t Engine::durationMs() const
{
    return framesToMs(m_open.info.totalFrames, m_open.info.rate);
}

bool Engine::readLyrics3Data()
{
    syncJoins();
    if (m_open.path.empty())
        return false;
    const std::optional<std::string> text = readLyrics3(m_open.path);
    if (!text)
        return false;
    LyricsTimeline timeline = LyricsTimeline::fromLyrics3(*text);
    if (timeline.empty())
        return false;
    timeline.spreadOver(durationMs());
    m_lyrics = std::move(timeline);
    return true;
}

bool Engine::readEmbeddedLyrics()
{
    syncJoins();
    if (m_open.path.empty())
        return false;
    const std::optional<std::string> text = vbmp3::readEmbeddedLyrics(m_open.path);
    if (!text)
        return false;
    LyricsTimeline timeline = LyricsTimeline::fromText(*text);
    return !timeline.empty() && setLyrics(std::move(timeline));
}

bool Engine::setLyrics(LyricsTimeline timeline)
{
    syncJoins();
    if (m_open.path.empty())
        return false;
    timeline.spreadOver(durationMs());
    m_lyrics = std::move(timeline);
    return !m_lyrics.empty();
}

bool Engine::lyrics(LyricsLines *lines)
{
    syncJoins();
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
    syncJoins();
    const int64_t ms = heardMs();
    const int64_t wait = m_lyrics.msUntilNext(ms);
    return static_cast<int32_t>(std::min<int64_t>(wait, INT32_MAX));
}

void Engine::spectrum(int32_t *first, int32_t *second)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Playing || !m_source) {
            std::fill_n(first, BandAnalyzer::kBands, 0);
            std::fill_n(second, BandAnalyzer::kBands, 0);
            return;
        }
        // The window ends at the frame heard now, the device's delay before the history's
        // end; frames the history does not hold are silent.  They are read (windowed) while
        // the output thread cannot write the history.
        const size_t window = BandAnalyzer::windowFor(m_historyRate);
        const int64_t delay = m_output ? std::max<int64_t>(m_output->delayFrames(), 0) : 0;
        const size_t held = m_history.size();
        const size_t end = held - static_cast<size_t>(std::min<int64_t>(delay, static_cast<int64_t>(held)));
        const size_t from = end > window ? end - window : 0;
        m_analyzer.begin(m_historyRate, m_historyChannels, window - (end - from));
        for (size_t at = from; at < end;) {
            const FrameRing::Span piece = m_history.peek(at, end - at);
            m_analyzer.take(piece.data, piece.frames);
            at += piece.frames;
        }
    }
    m_analyzer.finish(first, second); // the front pair
}

bool Engine::mpegInfo(MpegInfo *info)
{
    std::memset(info, 0, sizeof *info);
    syncJoins();
    if (m_open.path.empty())
        return false;
    if (formatOf(m_open.layout.kind).mpeg == MpegStream::None)
        return true; // no MPEG facts: zeros
    // Counting frames of a file without a VBR header reads it whole: once per open file.
    if (!m_open.mpegInfo) {
        MpegInfo read {};
        if (!readMpegInfo(m_open.path, &read))
            return false;
        m_open.mpegInfo = read;
    }
    *info = *m_open.mpegInfo;
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
        const uint64_t generation = m_decodeGeneration;
        if (m_seekPending) {
            m_seekPending = false;
            const int64_t target = m_seekFrame;
            lk.unlock();
            source->seek(target);
            source.reset();
            lk.lock();
            continue;
        }
        const size_t chunkFrames = m_decodeChunk;
        if (m_decodeEof || m_joinWait || m_ring.space() < chunkFrames) {
            m_decodeWake.wait(lk); // the output thread calls when the ring is half empty
            continue;
        }
        // The source decodes straight into the ring's free slots (at most a chunk; less
        // where the slots wrap around).  Only this thread writes there, and the slots stay
        // free until commit(); the storage reference keeps them alive should play() give
        // the ring new storage meanwhile.
        const FrameRing::Span free = m_ring.freeSpan(chunkFrames);
        std::shared_ptr<float[]> storage = m_ring.storage();
        const ReplayGainOption replayGain = m_replayGain;
        lk.unlock();
        const size_t frames = source->read(free.data, free.frames);
        // The track's gain goes with its own frames, so a join changes it at its first one.
        if (replayGain.mode != VBMP3_REPLAYGAIN_OFF && frames > 0) {
            const float gain = gainFactor(source->gainTags(), replayGain);
            if (gain != 1.0f)
                for (float *p = free.data, *end = p + frames * size_t(source->info().channels); p < end; ++p)
                    *p *= gain;
        }
        source.reset(); // the controlling thread may have let go of it meanwhile
        storage.reset();
        lk.lock();
        if (serial != m_serial || generation != m_decodeGeneration)
            continue; // a seek, play, stop or dropped join came in meanwhile: the frames are not committed
        const size_t before = m_ring.size();
        bool wake;
        if (frames > 0) {
            m_ring.commit(frames);
            m_ringIn += frames;
            // The output thread waits only while the ring holds less than m_outputWant.
            wake = before < m_outputWant && m_ring.size() >= m_outputWant;
        } else {
            if (m_sessionToFile && m_decodeFromQueue && (m_queuedEntered || m_awaitCaller)
                && !(m_queued && !m_queuedEntered)) {
                // At the end of a joined track: for the join to be heard and answered.  The
                // output thread meanwhile sends what the ring holds, a last short block included.
                const auto until = m_awaitSince + kAwaitCaller;
                if (m_queuedEntered || std::chrono::steady_clock::now() < until) {
                    m_decodeHeld = true;
                    m_outputWake.notify_one();
                    if (m_queuedEntered)
                        m_decodeWake.wait(lk);
                    else
                        m_decodeWake.wait_until(lk, until);
                    m_decodeHeld = false;
                    continue;
                }
                m_awaitCaller = false;
            }
            if (!enterQueuedLocked())
                m_decodeEof = true;
            wake = true;
        }
        if (wake)
            m_outputWake.notify_one();
    }
}

void Engine::enterQueued()
{
    m_sessionSource = m_queued;
    m_queuedEntered = true;
    m_decodeFromQueue = true;
    if (!m_queuedFresh) {
        m_seekPending = true;
        m_seekFrame = 0;
    }
    m_queuedFresh = false;
}

bool Engine::enterQueuedLocked()
{
    if (!m_queued || m_queuedEntered || m_sessionSource == m_queued)
        return false;
    if (!sameStream(m_queuedFormat, m_ringFormat)) {
        m_joinWait = true; // the output thread gives the ring the new format once it is empty
        return true;
    }
    m_boundary = m_ringIn;
    enterQueued();
    return true;
}

// ---------------------------------------------------------------------------------
// Output thread: opens the session's device, sends the ring through equalizer and
// volume to it, reports joins and the end of the track.  Every step below takes lk
// holding m_mutex and returns with it held; a step that waited or found nothing to do
// returns, and the loop looks at the state again.

void Engine::outputLoop()
{
    OutputStage st;
    std::unique_lock lk(m_mutex);
    while (!m_quit) {
        if (st.session != m_session) {
            switchSession(lk, st);
            continue;
        }
        if (m_output)
            takeMixerVolume(lk);
        if (!m_output || m_state == State::Stopped) {
            // A device kept open between plays may hear of its mixer meanwhile (outputNews).
            if (m_output)
                m_outputWake.wait_for(lk, 1s);
            else
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
            m_outputWake.wait_for(lk, 1s);
            continue;
        }
        // Reporting a join releases the lock: a seek, stop or play may have come meanwhile,
        // and then the pending block is stale (the loop's top drops it).
        checkJoinHeard(lk, st);
        if (st.session != m_session || st.serial != m_serial || m_state != State::Playing)
            continue;
        if (st.pendingFrames == 0 && !takeBlock(lk, st))
            continue;
        sendPending(lk, st);
    }
    std::unique_ptr<Output> last = std::move(m_output);
    lk.unlock();
    if (last)
        last->close();
}

void Engine::outputNews(void *engine)
{
    static_cast<Engine *>(engine)->m_outputWake.notify_all();
}

void Engine::takeMixerVolume(std::unique_lock<std::mutex> &lk)
{
    uint32_t word = 0;
    if (!m_output->takeMixerVolume(&word))
        return;
    m_volume.store(word);
    report(lk, 0, VBMP3_MSG_VOLUME_CHANGED, Report::Any, static_cast<int32_t>(word));
}

std::unique_ptr<Output> Engine::openOutput(
    std::unique_lock<std::mutex> &lk, const std::string &target, const OutputFormat &format)
{
    // "auto" tries the chosen device first, then the defaults in turn.
    std::string device = target == "auto" ? m_device : std::string();
    std::unique_ptr<Output> out = m_outputMaker ? m_outputMaker(target)
        : target.starts_with("file:")           ? makeFileOutput(target.substr(5))
        : target == "null"                      ? makeNullOutput()
        : device.starts_with("alsa:")
        ? makeAlsaOutput(device.substr(5))
        : makePulseOutput(device.starts_with("pulse:") ? device.substr(6) : std::string());
    const uint32_t volume = m_volume.load();
    const auto prepare = [this, volume](Output &o) {
        o.setNewsHandler(&Engine::outputNews, this);
        o.setVolume(volume);
    };
    prepare(*out);
    m_outputWanted = device;
    lk.unlock();
    bool opened = out->open(format);
    if (!opened && target == "auto") {
        out->close();
        out = openDefaultOutput(format, device, prepare);
        device.clear();
        opened = true;
    }
    if (!opened) {
        out->close();
        out.reset();
    }
    lk.lock();
    m_openDevice = device;
    return out;
}

// A session ended or began: a stop flushes and pauses a device that stays open between
// plays and closes any other; a play goes on through the device kept open when it is
// for the same target, or opens one (the null output standing in for "auto" when no
// sound server answers).
void Engine::switchSession(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    st.session = m_session;
    releaseBlock(st);
    st.draining = false;
    const bool play = m_playPending && m_state != State::Stopped;
    m_playPending = false;
    const std::string target = m_sessionTarget;
    const OutputFormat format = m_ringFormat;
    const bool realtime = m_realtime;
    std::unique_ptr<Output> current = std::move(m_output);
    std::unique_ptr<Output> next;
    bool ready = false;
    // A device chosen since the kept one was opened is opened anew.
    const bool sameChoice = target != "auto" || m_outputWanted == m_device;
    if (current && current->persistent() && (!play || (st.target == target && sameChoice))) {
        lk.unlock();
        current->flush();
        current->setPaused(true);
        if (play) {
            const bool sameDevice = format.deviceChannels == st.format.deviceChannels
                && format.deviceSampleFormat == st.format.deviceSampleFormat
                && format.deviceRate == st.format.deviceRate && format.native == st.format.native
                && deviceSamplesFor(format) == deviceSamplesFor(st.format) && format.bufferMs == st.format.bufferMs
                && format.periodMs == st.format.periodMs;
            ready = sameDevice
                && (sameStream(format, st.format) || current->continueWith(format) || current->reopen(format));
            if (!ready && !sameDevice)
                ready = current->reopen(format);
        }
        lk.lock();
        if (!play || ready)
            next = std::move(current);
    }
    if (current) {
        lk.unlock();
        current->close();
        current.reset();
        lk.lock();
    }
    if (play && !next) {
        next = openOutput(lk, target, format);
        ready = next != nullptr;
    }
    if (play) {
        // Real-time priority as the options ask (refused without the rights: fine).
        sched_param param {};
        param.sched_priority = realtime ? 10 : 0;
        pthread_setschedparam(pthread_self(), realtime ? SCHED_FIFO : SCHED_OTHER, &param);
    }
    if (st.session != m_session || !play) {
        // Stopped, or a newer request came meanwhile: a device that stays open waits,
        // paused, for the next play; others close.
        if (next && next->persistent()) {
            if (play) {
                next->setPaused(true);
                st.target = target;
                st.format = format;
            }
            m_output = std::move(next);
        } else if (next) {
            lk.unlock();
            next->close();
            next.reset();
            lk.lock();
        }
        return;
    }
    if (!ready) {
        // The file output could not be created after all: the session ends without sound.
        endSessionLocked();
        report(lk, st.session, VBMP3_MSG_OUTPUT_FAILED, Report::End);
        return;
    }
    st.target = target;
    configureStage(st, *next, format);
    m_output = std::move(next);
    m_output->setVolume(m_volume.load());
    m_output->setPaused(m_state == State::Paused);
    st.serial = m_serial;
    const std::string name = m_sourceName;
    Output *out = m_output.get();
    lk.unlock();
    out->setMediaName(name);
    lk.lock();
}

void Engine::configureStage(OutputStage &st, const Output &out, const OutputFormat &format)
{
    st.format = format;
    st.channels = format.channels;
    st.realTime = out.realTime();
    st.usesSamples = out.usesSamples();
    // A real-time device takes all it has room for in one block (see takeBlock): its own
    // buffer is the limit, which may be more than the options ask (the null output's).
    st.blockFrames = st.realTime ? std::numeric_limits<size_t>::max() : kFileBlock;
    st.leastFrames = std::max<size_t>(1,
        static_cast<size_t>(std::min(format.periodMs, format.bufferMs / 2)) * static_cast<size_t>(format.rate) / 1000);
    st.equalizer.configure(format.rate, format.channels, m_eqUnits);
    st.eqVersion = m_eqVersion;
    st.volumeGains.fill(-1.0f); // first block starts at its own gain
    st.volumeSides = volumeSides(format.channels, format.channelMask);
}

bool Engine::reformat(std::unique_lock<std::mutex> &lk, OutputStage &st, const OutputFormat &format, bool playOut,
    uint64_t joinGeneration)
{
    const uint64_t session = st.session;
    const uint64_t serial = st.serial;
    const auto undone
        = [&] { return m_quit || session != m_session || serial != m_serial || joinGeneration != m_joinGeneration; };
    Output *out = m_output.get();
    lk.unlock();
    bool ready = out->continueWith(format);
    lk.lock();
    if (!ready) {
        if (playOut) {
            lk.unlock();
            out->startDrain();
            lk.lock();
            while (!undone()) {
                const auto wait = kDeviceWait;
                lk.unlock();
                const bool drained = out->drained();
                if (!drained)
                    out->waitDrained(wait);
                lk.lock();
                if (drained)
                    break;
            }
        }
        if (undone())
            return false;
        lk.unlock();
        ready = out->reopen(format);
        if (!ready && st.target == "auto") {
            // The sound server went away: on through the null output.
            std::unique_ptr<Output> null = makeNullOutput();
            if (null->open(format)) {
                lk.lock();
                std::unique_ptr<Output> old = std::move(m_output);
                m_output = std::move(null);
                out = m_output.get();
                lk.unlock();
                old->close();
                ready = true;
            }
        }
        lk.lock();
    }
    if (!ready || out->failed()) {
        if (session == m_session)
            finishTrack(lk, session, true);
        return false;
    }
    configureStage(st, *out, format);
    try {
        FrameRing history;
        history.reset(historyFrames(format, !st.realTime), format.channels);
        m_history = std::move(history);
        m_historyRate = format.rate;
        m_historyChannels = format.channels;
    } catch (...) {
        if (session == m_session)
            finishTrack(lk, session, true);
        return false;
    }
    return !undone();
}

void Engine::crossBoundary(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    const uint64_t generation = m_joinGeneration;
    const OutputFormat next = m_ringFormat;
    if (!sameStream(st.format, next) && !reformat(lk, st, next, true, generation))
        return;
    if (generation != m_joinGeneration || st.session != m_session || st.serial != m_serial || !m_boundary
        || *m_boundary != m_ringOut)
        return;
    m_joinWritten = JoinInFlight { m_writtenFrame, m_segmentStart, m_writtenRate };
    m_boundary.reset();
    m_writtenFrame = m_segmentStart = 0;
    m_writtenRate = next.rate;
    checkJoinHeard(lk, st);
}

void Engine::startFormatJoin(std::unique_lock<std::mutex> &, OutputStage &)
{
    FrameRing ring;
    try {
        ring.reset(ringFramesFor(m_queuedFormat), m_queuedFormat.channels);
    } catch (...) {
        // No memory for the join: the track ends as if nothing were queued.
        m_joinWait = false;
        m_decodeEof = true;
        return;
    }
    m_joinWait = false;
    m_ring = std::move(ring);
    m_ringIn = m_ringOut = 0;
    m_boundary = 0;
    m_ringFormat = m_queuedFormat;
    enterQueued();
    m_decodeWake.notify_one();
}

void Engine::checkJoinHeard(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    if (!m_joinWritten || !m_output || st.session != m_session)
        return;
    if (m_writtenFrame - m_output->delayFrames() < 0)
        return; // the device still plays the old track
    m_joinWritten.reset();
    std::shared_ptr<Source> old = std::move(m_source);
    m_source = std::move(m_queued);
    m_sourceName = std::move(m_queuedName);
    m_sourceTotal = m_queuedTotal;
    m_sourceFormat = m_queuedFormat;
    m_queued.reset();
    m_queuedName.clear();
    m_queuedEntered = false;
    m_queuedFresh = true;
    ++m_joins;
    if (!st.realTime) {
        m_awaitCaller = true;
        m_awaitSince = std::chrono::steady_clock::now();
        m_decodeWake.notify_one();
    }
    Output *out = m_output.get();
    const std::string name = m_sourceName;
    lk.unlock();
    old.reset();
    out->setMediaName(name);
    lk.lock();
    report(lk, st.session, VBMP3_MSG_TRACK_JOINED, Report::Join);
}

std::chrono::milliseconds Engine::joinWait(std::chrono::milliseconds longest)
{
    if (!m_joinWritten || !m_output || m_writtenRate <= 0)
        return longest;
    const int64_t ahead = m_output->delayFrames() - m_writtenFrame; // of the old track, still to be heard
    return std::clamp(
        std::chrono::milliseconds(ahead * 1000 / m_writtenRate + 1), std::chrono::milliseconds(1), longest);
}

// The output stage: claims the next block in the ring and runs the equalizer over it in
// place (what the history and the spectrum see), and the volume into st.scaled unless it
// is full or the device applies it (what the device gets).  The block's slots stay
// claimed until it has gone to the device (releaseBlock), so the decoder does not refill
// them meanwhile.  A block never spans a boundary.  False when there is no block now: the
// ring is short (waited), the track is draining, a join or format change was made, or the
// block went stale while it was processed without the lock.
bool Engine::takeBlock(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    releaseBlock(st);
    if (m_boundary && *m_boundary == m_ringOut) {
        crossBoundary(lk, st);
        return false;
    }
    if (m_joinWait && m_ring.empty()) {
        startFormatJoin(lk, st);
        return false;
    }
    if (!sameStream(st.format, m_ringFormat)) {
        // A join undone after the device was set for it: back to the heard track's format.
        reformat(lk, st, m_ringFormat, false, m_joinGeneration);
        return false;
    }
    // A real-time device takes what there is.  Otherwise a whole block; and once short of
    // one, the thread sleeps until the ring holds several, which it then sends in a row:
    // the decoder is the slower side, and each wake-up costs about as much as a copy of
    // the block.
    const size_t block = st.realTime ? 1 : std::min(st.blockFrames, m_ring.capacity() / 2);
    if (m_ring.size() < block && !m_decodeEof && !m_joinWait && !(m_decodeHeld && !m_ring.empty())) {
        m_outputWant = st.realTime ? 1 : std::min(kFileBatchBlocks * st.blockFrames, m_ring.capacity() / 2);
        if (m_joinWritten)
            m_outputWake.wait_for(lk, joinWait(kDeviceWait));
        else
            m_outputWake.wait(lk); // underrun: the decoder is behind
        return false;
    }
    if (m_ring.empty()) {
        if (m_decodeHeld && !m_decodeEof)
            m_outputWake.wait(lk); // the decoder waits for the caller's next file
        else
            drainStep(lk, st);
        return false;
    }
    size_t frames = std::min(m_ring.size(), st.blockFrames);
    if (st.realTime) {
        // A real-time device gets what it has room for as one block, so one write per
        // wake-up: a sound server asks for a quarter of its buffer at a time, and every
        // write wakes its connection's thread and the server.  Room for less than a period
        // (the few frames played while the last block was made): wait for more first.
        const size_t room = m_output->room();
        if (room < std::min(m_ring.size(), st.leastFrames)) {
            Output *out = m_output.get();
            const auto wait = joinWait(kDeviceWait);
            lk.unlock();
            out->waitForRoom(wait);
            lk.lock();
            return false;
        }
        frames = std::min(frames, room);
    }
    if (m_boundary)
        frames = std::min<size_t>(frames, static_cast<size_t>(*m_boundary - m_ringOut));
    st.parts[0] = m_ring.claim(frames);
    st.parts[1] = m_ring.claim(frames - st.parts[0].frames); // the rest, where the ring wraps
    m_ringOut += frames;
    st.storage = m_ring.storage();
    const uint32_t volume = m_volume.load();
    const bool deviceVolume = m_output->handlesVolume();
    lk.unlock();
    for (const FrameRing::Span &part : st.parts)
        st.equalizer.process(part.data, part.frames);
    st.scaledUsed = st.usesSamples && !deviceVolume
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
        const auto wait = joinWait(kDeviceWait);
        lk.unlock();
        out->waitForRoom(wait);
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
// then reports the end (after the join, when the last track was joined).
void Engine::drainStep(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    Output *out = m_output.get();
    if (!st.draining) {
        st.draining = true;
        m_draining = true;
        lk.unlock();
        out->startDrain();
        lk.lock();
        return;
    }
    if (out->drained()) {
        checkJoinHeard(lk, st);
        if (st.session == m_session && st.serial == m_serial)
            finishTrack(lk, st.session);
        return;
    }
    const auto wait = joinWait(kDeviceWait);
    lk.unlock();
    out->waitDrained(wait);
    lk.lock();
}

void Engine::endSessionLocked()
{
    m_state = State::Stopped;
    m_stoppedFrame = m_writtenFrame;
    m_sessionSource.reset();
    m_ring.clear();
    m_history.clear();
    m_boundary.reset();
    m_joinWritten.reset();
    m_joinWait = false;
    m_draining = false;
    m_decodeFromQueue = false;
    m_awaitCaller = false;
    if (m_queuedEntered)
        m_queuedFresh = false;
    m_queuedEntered = false;
    ++m_joinGeneration;
}

void Engine::finishTrack(std::unique_lock<std::mutex> &lk, uint64_t session, bool failed)
{
    std::unique_ptr<Output> out = std::move(m_output);
    endSessionLocked();
    int32_t message = failed ? VBMP3_MSG_OUTPUT_FAILED : VBMP3_MSG_END_OF_TRACK;
    if (out && !failed && out->persistent()) {
        // Kept for the next play, paused (what it held has been heard).
        out->setPaused(true);
        m_output = std::move(out);
    } else if (out) {
        lk.unlock();
        out->close(); // a file output is complete before the report
        if (out->failed())
            message = VBMP3_MSG_OUTPUT_FAILED;
        out.reset();
        lk.lock();
    }
    report(lk, session, message, Report::End);
}

void Engine::report(std::unique_lock<std::mutex> &lk, uint64_t session, int32_t message, Report kind, int32_t param)
{
    lk.unlock();
    {
        std::lock_guard callbackLock(m_callbackMutex);
        bool current;
        {
            std::lock_guard lock(m_mutex);
            current
                = kind == Report::Any || (session == m_session && (kind == Report::Join || m_state == State::Stopped));
        }
        if (current && m_callback)
            m_callback(message, param);
    }
    lk.lock();
}

} // namespace vbmp3
