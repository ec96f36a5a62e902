#include "engine.h"

#include "sources/formats.h"
#include "sources/formatsources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vbmp3
{
namespace
{

using namespace std::chrono_literals;

constexpr size_t kDecodeChunk = 1152; // frames per source read
// The file output is not real time: nothing is gained by small steps, and every hand-off
// between the two threads costs a wake-up, so both sides move larger pieces and the
// ring holds several output blocks whatever the buffer options say.
constexpr size_t kFileDecodeChunk = 8 * 1152;
constexpr size_t kFileRingFrames = 8 * OutputLoop::kFileBlock;
// How long the file output's decoder waits, at the end of a joined track, for the caller
// to queue the next one.
constexpr auto kAwaitCaller = 2s;

// Frames the ring holds for a track of format: the buffer option (KiB of 16-bit PCM), at
// least two decode chunks, and for the file output several of its blocks.
size_t ringFrames(const OutputFormat &format, const Vbmp3Option &options, bool toFile)
{
    const size_t chunk = toFile ? kFileDecodeChunk : kDecodeChunk;
    const size_t fromOptions
        = static_cast<size_t>(options.value[0]) * 1024 / (2 * static_cast<size_t>(std::max(format.channels, 1)));
    return std::max({ fromOptions, 2 * chunk, toFile ? kFileRingFrames : 0 });
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
    m_outputThread = std::thread([this] { m_outputLoop.run(); });
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

bool Engine::open(const std::string &path, OpenInfo *info, const TrackRange *range)
{
    return installOpen(prepareOpen(path, wantsMixerName(), range), info);
}

std::unique_ptr<Engine::PreparedOpen> Engine::prepareOpen(
    const std::string &path, bool withMixerName, const TrackRange *range)
{
    if (preparingHook)
        preparingHook(path);
    return readTrack(path, withMixerName, range);
}

std::unique_ptr<Engine::PreparedOpen> Engine::readTrack(const std::string &path, bool withMixerName,
    const TrackRange *range, const Source *follow, const FileLayout &followLayout)
{
    auto prepared = std::make_unique<PreparedOpen>();
    int rate = 0;
    if (range && follow && (prepared->source = followRangeSource(*follow, *range))) {
        prepared->layout = followLayout;
        rate = follow->info().rate;
    } else {
        prepared->layout = probeFile(path);
        if (!formatOf(prepared->layout.kind).open)
            return nullptr;
        SourceOptions options;
        options.estimateLongLength = true;
        std::unique_ptr<Source> whole = openSource(path, prepared->layout, options);
        rate = whole ? whole->info().rate : 0;
        prepared->source = range ? openRangeSource(std::move(whole), *range) : std::move(whole);
    }
    if (!prepared->source)
        return nullptr;
    prepared->range = range ? samplesOf(*range, rate) : std::nullopt;
    prepared->source->setGainOrigin(path, prepared->layout);
    prepared->path = path;
    if (withMixerName)
        prepared->mixerName = mediaNameOf(path);
    if (prepared->source->info().lengthEstimated)
        prepared->count = std::make_unique<LengthCount>(path, prepared->layout, SourceOptions {});
    return prepared;
}

bool Engine::installOpen(std::unique_ptr<PreparedOpen> prepared, OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    close();
    if (!prepared)
        return false;
    m_open.path = std::move(prepared->path);
    m_open.mpegInfo.reset();
    m_open.layout = prepared->layout;
    m_open.info = prepared->source->info();
    m_open.count = std::move(prepared->count);
    m_open.range = prepared->range;
    {
        std::lock_guard lock(m_mutex);
        m_source = std::move(prepared->source);
        m_sourceName = std::move(prepared->mixerName);
        m_sourceTotal = m_open.info.totalFrames;
        m_stoppedFrame = 0;
        m_writtenRate = m_open.info.rate;
    }
    openInfo(info);
    if (m_lyrics3Use)
        readLyrics3Data();
    return true;
}

bool Engine::close()
{
    m_lyrics = {};
    const bool wasOpen = !m_open.path.empty();
    ++m_opens;
    m_open = {};
    m_next = {};
    std::lock_guard callbackLock(m_callbackMutex);
    std::lock_guard lock(m_mutex);
    stopLocked();
    m_source.reset();
    m_sourceName.clear();
    m_sourceTotal = 0;
    m_join.queued.reset();
    m_join.queuedName.clear();
    m_stoppedFrame = 0;
    m_joinsTaken = m_join.heard;
    return wasOpen;
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
    history.reset(OutputLoop::historyFrames(format, toFile), format.channels);

    ++m_session;
    ++m_serial;
    ++m_join.generation;
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
    m_join.boundary.reset();
    m_join.written.reset();
    m_join.formatWait = false;
    m_join.fromQueue = false;
    m_join.awaitCaller = false;
    if (m_join.queued) {
        if (m_join.entered)
            m_join.fresh = false;
        m_join.entered = false;
        m_join.queuedFormat = formatFor(m_join.queued->info());
    }
    m_segmentStart = m_writtenFrame = 0;
    m_writtenRate = format.rate;
    m_stoppedFrame = 0;
    m_outputLoop.resetHistory(std::move(history), format.rate, format.channels);
    m_playPending = true;
    wakeAll();
    return true;
}

void Engine::wakeAll()
{
    m_decodeWake.notify_all();
    m_outputWake.notify_all();
    m_outputLoop.interrupt(); // the output thread may sleep on the device
}

void Engine::stopLocked()
{
    if (m_state != State::Stopped || m_playPending)
        ++m_session;
    ++m_serial;
    ++m_join.generation;
    m_state = State::Stopped;
    m_playPending = false;
    m_sessionSource.reset();
    m_ring.clear();
    m_ringIn = m_ringOut = 0;
    m_outputLoop.clearHistory();
    m_decodeEof = false;
    m_draining = false;
    m_seekPending = false;
    m_join.boundary.reset();
    m_join.written.reset();
    m_join.formatWait = false;
    m_join.fromQueue = false;
    m_join.awaitCaller = false;
    if (m_join.entered)
        m_join.fresh = false;
    m_join.entered = false;
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
        while (m_join.heard != m_joinsTaken) {
            lock.unlock();
            syncJoins();
            lock.lock();
        }
        if (!m_source)
            return false;
        stopLocked();
        m_join.queued.reset();
        m_join.queuedName.clear();
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
    m_outputLoop.setPaused(to == State::Paused);
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
    m_outputLoop.clearHistory();
    wakeAll();
}

Engine::Heard Engine::heardLocked()
{
    if (m_state == State::Stopped)
        return { m_stoppedFrame, m_writtenRate };
    const int64_t heard = m_writtenFrame - m_outputLoop.delayFrames();
    if (m_join.written && heard < 0) {
        // The device still plays the old track.
        const JoinInFlight &join = *m_join.written;
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

int64_t Engine::durationMs() const
{
    return framesToMs(m_open.info.totalFrames, m_open.info.rate);
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
    return m_playPending ? std::string() : m_outputLoop.name();
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
    return m_playPending ? std::string() : m_outputLoop.device();
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
    m_outputLoop.setVolume(word);
}

void Engine::setEqualizer(const int32_t *bands)
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < Equalizer::kBands; ++i)
        m_eqUnits[static_cast<size_t>(i)]
            = bands ? std::clamp(bands[i], -Equalizer::kMaxUnits, Equalizer::kMaxUnits) : 0;
    ++m_eqVersion;
    // The output thread rewrites what the device queues: it may sleep on the device.
    m_outputLoop.interrupt();
    m_outputWake.notify_all();
}

bool Engine::setReplayGain(const ReplayGainOption &option)
{
    if (!validReplayGain(option))
        return false;
    std::lock_guard lock(m_mutex);
    m_replayGain = option;
    return true;
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
        m_outputLoop.analyseHeard(m_analyzer);
    }
    m_analyzer.finish(first, second); // the front pair
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
        if (m_decodeEof || m_join.formatWait || m_ring.space() < chunkFrames) {
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
            if (m_sessionToFile && m_join.fromQueue && (m_join.entered || m_join.awaitCaller)
                && !(m_join.queued && !m_join.entered)) {
                // At the end of a joined track: for the join to be heard and answered.  The
                // output thread meanwhile sends what the ring holds, a last short block included.
                const auto until = m_join.awaitSince + kAwaitCaller;
                if (m_join.entered || std::chrono::steady_clock::now() < until) {
                    m_join.decodeHeld = true;
                    m_outputWake.notify_one();
                    if (m_join.entered)
                        m_decodeWake.wait(lk);
                    else
                        m_decodeWake.wait_until(lk, until);
                    m_join.decodeHeld = false;
                    continue;
                }
                m_join.awaitCaller = false;
            }
            if (!enterQueuedLocked())
                m_decodeEof = true;
            wake = true;
        }
        if (wake)
            m_outputWake.notify_one();
    }
}

void Engine::endSessionLocked()
{
    m_state = State::Stopped;
    m_stoppedFrame = m_writtenFrame;
    m_sessionSource.reset();
    m_ring.clear();
    m_outputLoop.clearHistory();
    m_join.boundary.reset();
    m_join.written.reset();
    m_join.formatWait = false;
    m_draining = false;
    m_join.fromQueue = false;
    m_join.awaitCaller = false;
    if (m_join.entered)
        m_join.fresh = false;
    m_join.entered = false;
    ++m_join.generation;
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
