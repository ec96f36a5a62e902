#include "outputloop.h"
#include "dsp/bandanalyzer.h"
#include "engine.h"
#include "vbmp3volume.h"

#include "outputs/outputdevices.h"
#include "sources/formatsources.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <pthread.h>
#include <sched.h>

namespace vbmp3
{
namespace
{

using namespace std::chrono_literals;

constexpr size_t kOutputBlock = 1024; // the history's slack for a block on its way to the device
// Blocks the file output's thread lets gather in the ring before it wakes (at most half the
// ring, so that the decoder still has room to reach it).
constexpr size_t kFileBatchBlocks = 4;
// Longest sleep on the device: outputs wake at their own deadlines or on interrupt().
constexpr auto kDeviceWait = 500ms;
// How often the equalizer's state is kept for a rewrite (a rewrite starts at one of them).
constexpr size_t kMarkFrames = 1024;

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

// Frames of history: the device's delay (plus slack for the server's own latency, and
// more than the null output's least buffer of half a second) and one analysis window
// behind it.  The file output has no delay: one window.
size_t OutputLoop::historyFrames(const OutputFormat &format, bool toFile)
{
    const size_t window = BandAnalyzer::windowFor(format.rate);
    if (toFile)
        return window;
    const auto heldMs = static_cast<size_t>(std::max(format.bufferMs, kServerBufferMs) + 500);
    return heldMs * static_cast<size_t>(format.rate) / 1000 + window + kOutputBlock;
}

void OutputLoop::interrupt()
{
    if (m_output)
        m_output->interrupt();
}

int64_t OutputLoop::delayFrames() const
{
    return m_output ? m_output->delayFrames() : 0;
}

void OutputLoop::setPaused(bool paused)
{
    if (m_output)
        m_output->setPaused(paused);
}

void OutputLoop::setVolume(uint32_t word)
{
    if (m_output)
        m_output->setVolume(word);
}

std::string OutputLoop::name() const
{
    return m_output ? m_output->name() : "";
}

std::string OutputLoop::device() const
{
    return m_output && std::strcmp(m_output->name(), "null") != 0 ? m_openDevice : std::string();
}

void OutputLoop::resetHistory(FrameRing history, int rate, int channels)
{
    m_history = std::move(history);
    m_historyRate = rate;
    m_historyChannels = channels;
}

void OutputLoop::clearHistory()
{
    m_history.clear();
}

void OutputLoop::analyseHeard(BandAnalyzer &analyzer) const
{
    // The window ends at the frame heard now, the device's delay before the history's
    // end.  It is read while the output thread cannot write the history.
    const size_t window = BandAnalyzer::windowFor(m_historyRate);
    const int64_t delay = std::max<int64_t>(delayFrames(), 0);
    const size_t held = m_history.size();
    const size_t end = held - static_cast<size_t>(std::min<int64_t>(delay, static_cast<int64_t>(held)));
    const size_t from = end > window ? end - window : 0;
    analyzer.begin(m_historyRate, m_historyChannels, window - (end - from));
    for (size_t at = from; at < end;) {
        const FrameRing::Span piece = m_history.peek(at, end - at);
        analyzer.take(piece.data, piece.frames);
        at += piece.frames;
    }
}

// ---------------------------------------------------------------------------------
// Output thread: opens the session's device, sends the ring through equalizer and
// volume to it, reports joins and the end of the track.  Every step below takes lk
// holding the engine's mutex and returns with it held; a step that waited or found
// nothing to do returns, and the loop looks at the state again.

void OutputLoop::run()
{
    OutputStage st;
    std::unique_lock lk(m_engine.m_mutex);
    while (!m_engine.m_quit) {
        if (st.session != m_engine.m_session) {
            switchSession(lk, st);
            continue;
        }
        if (m_output)
            takeMixerVolume(lk);
        if (!m_output || m_engine.m_state == Engine::State::Stopped) {
            // A device kept open between plays may hear of its mixer meanwhile (outputNews).
            if (m_output)
                m_engine.m_outputWake.wait_for(lk, 1s);
            else
                m_engine.m_outputWake.wait(lk);
            continue;
        }
        if (st.serial != m_engine.m_serial) {
            // Seek or restart from the top: what the device holds is stale.
            st.serial = m_engine.m_serial;
            releaseBlock(st);
            st.draining = false;
            m_output->flush();
            st.equalizer.reset();
            st.dry.clear();
            st.marks.clear();
            continue;
        }
        if (st.eqVersion != m_engine.m_eqVersion) {
            changeEqualizer(lk, st);
            continue;
        }
        if (m_engine.m_state == Engine::State::Paused) {
            m_engine.m_outputWake.wait_for(lk, 1s);
            continue;
        }
        // Reporting a join releases the lock: a seek, stop or play may have come meanwhile,
        // and then the pending block is stale (the loop's top drops it).
        checkJoinHeard(lk, st);
        if (st.session != m_engine.m_session || st.serial != m_engine.m_serial
            || m_engine.m_state != Engine::State::Playing)
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

void OutputLoop::outputNews(void *loop)
{
    static_cast<OutputLoop *>(loop)->m_engine.m_outputWake.notify_all();
}

void OutputLoop::takeMixerVolume(std::unique_lock<std::mutex> &lk)
{
    uint32_t word = 0;
    if (!m_output->takeMixerVolume(&word))
        return;
    m_engine.m_volume.store(word);
    m_engine.report(lk, 0, VBMP3_MSG_VOLUME_CHANGED, Engine::Report::Any, static_cast<int32_t>(word));
}

std::unique_ptr<Output> OutputLoop::openOutput(
    std::unique_lock<std::mutex> &lk, const std::string &target, const OutputFormat &format)
{
    // "auto" tries the chosen device first, then the defaults in turn.
    std::string device = target == "auto" ? m_engine.m_device : std::string();
    std::unique_ptr<Output> out = m_maker ? m_maker(target)
        : target.starts_with("file:")     ? makeFileOutput(target.substr(5))
        : target == "null"                ? makeNullOutput()
        : device.starts_with("alsa:")
        ? makeAlsaOutput(device.substr(5))
        : makePulseOutput(device.starts_with("pulse:") ? device.substr(6) : std::string());
    const uint32_t volume = m_engine.m_volume.load();
    const auto prepare = [this, volume](Output &o) {
        o.setNewsHandler(&OutputLoop::outputNews, this);
        o.setVolume(volume);
    };
    prepare(*out);
    m_wanted = device;
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
void OutputLoop::switchSession(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    st.session = m_engine.m_session;
    releaseBlock(st);
    st.draining = false;
    const bool play = m_engine.m_playPending && m_engine.m_state != Engine::State::Stopped;
    m_engine.m_playPending = false;
    const std::string target = m_engine.m_sessionTarget;
    const OutputFormat format = m_engine.m_ringFormat;
    const bool realtime = m_engine.m_realtime;
    std::unique_ptr<Output> current = std::move(m_output);
    std::unique_ptr<Output> next;
    bool ready = false;
    // A device chosen since the kept one was opened is opened anew.
    const bool sameChoice = target != "auto" || m_wanted == m_engine.m_device;
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
    if (st.session != m_engine.m_session || !play) {
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
        m_engine.endSessionLocked();
        m_engine.report(lk, st.session, VBMP3_MSG_OUTPUT_FAILED, Engine::Report::End);
        return;
    }
    st.target = target;
    configureStage(st, *next, format);
    m_output = std::move(next);
    m_output->setVolume(m_engine.m_volume.load());
    m_output->setPaused(m_engine.m_state == Engine::State::Paused);
    st.serial = m_engine.m_serial;
    const std::string name = m_engine.m_sourceName;
    Output *out = m_output.get();
    lk.unlock();
    out->setMediaName(name);
    lk.lock();
}

void OutputLoop::configureStage(OutputStage &st, const Output &out, const OutputFormat &format)
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
    st.equalizer.configure(format.rate, format.channels, m_engine.m_eqUnits);
    st.eqVersion = m_engine.m_eqVersion;
    st.volumeGains.fill(-1.0f); // first block starts at its own gain
    st.volumeSides = volumeSides(format.channels, format.channelMask);
    st.marks.clear();
    st.made = 0;
    st.keepsDry = out.rewrites() && st.realTime;
    if (st.keepsDry) {
        try {
            st.dry.reset(historyFrames(format, false), format.channels);
        } catch (...) {
            st.keepsDry = false; // equalizer changes then wait for the queue
        }
    }
    if (!st.keepsDry)
        st.dry = FrameRing();
}

void OutputLoop::filter(OutputStage &st, float *data, size_t frames)
{
    if (!st.keepsDry) {
        st.equalizer.process(data, frames);
        return;
    }
    const auto ch = static_cast<size_t>(st.channels);
    while (frames > 0) {
        if (st.made % kMarkFrames == 0) {
            if (!st.marks.empty() && st.made - st.marks.front().at > st.dry.capacity()) {
                // The oldest mark's frames are gone from the dry copy: its storage is reused.
                OutputStage::Mark mark = std::move(st.marks.front());
                st.marks.pop_front();
                mark.at = st.made;
                mark.equalizer = st.equalizer;
                st.marks.push_back(std::move(mark));
            } else {
                st.marks.push_back({ st.made, st.equalizer });
            }
        }
        const size_t n = std::min(frames, kMarkFrames - st.made % kMarkFrames);
        if (st.dry.space() < n)
            st.dry.drop(n - st.dry.space());
        st.dry.push(data, n);
        st.equalizer.process(data, n);
        data += n * ch;
        frames -= n;
        st.made += n;
    }
}

void OutputLoop::changeEqualizer(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    const Equalizer::Units units = m_engine.m_eqUnits;
    st.eqVersion = m_engine.m_eqVersion;
    Output *out = m_output.get();
    // A block filtered but not all sent yet (its frames are only in the dry copy), a
    // device that applies no volume of its own or a track playing out: no rewrite.
    const size_t queued = st.keepsDry && st.pendingFrames == 0 && !st.draining && out && out->handlesVolume()
        ? std::min(out->rewritable(), st.dry.size())
        : 0;
    const uint64_t from = st.made - std::min<uint64_t>(queued, st.made);
    const auto mark = std::find_if(st.marks.begin(), st.marks.end(), [from](const auto &m) { return m.at >= from; });
    if (queued == 0 || mark == st.marks.end() || mark->at >= st.made) {
        st.equalizer.setTargets(units);
        return;
    }
    // The frames from the mark on, filtered again from the state there towards the new
    // gains; the marks after it are made again with them.
    const auto count = static_cast<size_t>(st.made - mark->at);
    const auto ch = static_cast<size_t>(st.channels);
    EqualizerBank equalizer = mark->equalizer;
    equalizer.setTargets(units);
    std::deque<OutputStage::Mark> marks(st.marks.begin(), std::next(mark));
    st.redone.resize(count * ch);
    st.dry.copyFrom(st.dry.size() - count, st.redone.data(), count);
    const uint64_t session = st.session;
    const uint64_t serial = st.serial;
    lk.unlock();
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(count - done, kMarkFrames);
        if (done > 0)
            marks.push_back({ mark->at + done, equalizer });
        equalizer.process(st.redone.data() + done * ch, n);
        done += n;
    }
    lk.lock();
    if (session != m_engine.m_session || serial != m_engine.m_serial || out != m_output.get()
        || !out->rewrite(st.redone.data(), count)) {
        st.equalizer.setTargets(units);
        return;
    }
    st.equalizer = std::move(equalizer);
    st.marks = std::move(marks);
    // The spectrum's history ends at the same frame: its tail becomes what is heard now.
    const size_t kept = std::min(count, m_history.size());
    for (size_t at = m_history.size() - kept, done = count - kept; done < count;) {
        const FrameRing::Span piece = m_history.peek(at, count - done);
        std::copy_n(st.redone.data() + done * ch, piece.frames * ch, piece.data);
        at += piece.frames;
        done += piece.frames;
    }
}

bool OutputLoop::reformat(std::unique_lock<std::mutex> &lk, OutputStage &st, const OutputFormat &format, bool playOut,
    uint64_t joinGeneration)
{
    const uint64_t session = st.session;
    const uint64_t serial = st.serial;
    const auto undone = [&] {
        return m_engine.m_quit || session != m_engine.m_session || serial != m_engine.m_serial
            || joinGeneration != m_engine.m_join.generation;
    };
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
        if (session == m_engine.m_session)
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
        if (session == m_engine.m_session)
            finishTrack(lk, session, true);
        return false;
    }
    return !undone();
}

void OutputLoop::crossBoundary(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    const uint64_t generation = m_engine.m_join.generation;
    const OutputFormat next = m_engine.m_ringFormat;
    if (!sameStream(st.format, next) && !reformat(lk, st, next, true, generation))
        return;
    if (generation != m_engine.m_join.generation || st.session != m_engine.m_session || st.serial != m_engine.m_serial
        || !m_engine.m_join.boundary || *m_engine.m_join.boundary != m_engine.m_ringOut)
        return;
    m_engine.m_join.written
        = Engine::JoinInFlight { m_engine.m_writtenFrame, m_engine.m_segmentStart, m_engine.m_writtenRate };
    m_engine.m_join.boundary.reset();
    m_engine.m_writtenFrame = m_engine.m_segmentStart = 0;
    m_engine.m_writtenRate = next.rate;
    checkJoinHeard(lk, st);
}

void OutputLoop::checkJoinHeard(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    if (!m_engine.m_join.written || !m_output || st.session != m_engine.m_session)
        return;
    if (m_engine.m_writtenFrame - m_output->delayFrames() < 0)
        return; // the device still plays the old track
    std::shared_ptr<Source> old = m_engine.takeJoinHeardLocked(!st.realTime);
    Output *out = m_output.get();
    const std::string name = m_engine.m_sourceName;
    lk.unlock();
    old.reset();
    out->setMediaName(name);
    lk.lock();
    m_engine.report(lk, st.session, VBMP3_MSG_TRACK_JOINED, Engine::Report::Join);
}

std::chrono::milliseconds OutputLoop::joinWait(std::chrono::milliseconds longest)
{
    if (!m_engine.m_join.written || !m_output || m_engine.m_writtenRate <= 0)
        return longest;
    const int64_t ahead = m_output->delayFrames() - m_engine.m_writtenFrame; // of the old track, still to be heard
    return std::clamp(
        std::chrono::milliseconds(ahead * 1000 / m_engine.m_writtenRate + 1), std::chrono::milliseconds(1), longest);
}

// The output stage: claims the next block in the ring and runs the equalizer over it in
// place (what the history and the spectrum see), and the volume into st.scaled unless it
// is full or the device applies it (what the device gets).  The block's slots stay
// claimed until it has gone to the device (releaseBlock), so the decoder does not refill
// them meanwhile.  A block never spans a boundary.  False when there is no block now: the
// ring is short (waited), the track is draining, a join or format change was made, or the
// block went stale while it was processed without the lock.
bool OutputLoop::takeBlock(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    releaseBlock(st);
    if (m_engine.m_join.boundary && *m_engine.m_join.boundary == m_engine.m_ringOut) {
        crossBoundary(lk, st);
        return false;
    }
    if (m_engine.m_join.formatWait && m_engine.m_ring.empty()) {
        m_engine.startFormatJoinLocked();
        return false;
    }
    if (!sameStream(st.format, m_engine.m_ringFormat)) {
        // A join undone after the device was set for it: back to the heard track's format.
        reformat(lk, st, m_engine.m_ringFormat, false, m_engine.m_join.generation);
        return false;
    }
    // A real-time device takes what there is.  Otherwise a whole block; and once short of
    // one, the thread sleeps until the ring holds several, which it then sends in a row:
    // the decoder is the slower side, and each wake-up costs about as much as a copy of
    // the block.
    const size_t block = st.realTime ? 1 : std::min(st.blockFrames, m_engine.m_ring.capacity() / 2);
    if (m_engine.m_ring.size() < block && !m_engine.m_decodeEof && !m_engine.m_join.formatWait
        && !(m_engine.m_join.decodeHeld && !m_engine.m_ring.empty())) {
        m_engine.m_outputWant
            = st.realTime ? 1 : std::min(kFileBatchBlocks * st.blockFrames, m_engine.m_ring.capacity() / 2);
        if (m_engine.m_join.written)
            m_engine.m_outputWake.wait_for(lk, joinWait(kDeviceWait));
        else
            m_engine.m_outputWake.wait(lk); // underrun: the decoder is behind
        return false;
    }
    if (m_engine.m_ring.empty()) {
        if (m_engine.m_join.decodeHeld && !m_engine.m_decodeEof)
            m_engine.m_outputWake.wait(lk); // the decoder waits for the caller's next file
        else
            drainStep(lk, st);
        return false;
    }
    size_t frames = std::min(m_engine.m_ring.size(), st.blockFrames);
    if (st.realTime) {
        // A real-time device gets what it has room for as one block, so one write per
        // wake-up: a sound server asks for a quarter of its buffer at a time, and every
        // write wakes its connection's thread and the server.  Room for less than a period
        // (the few frames played while the last block was made): wait for more first.
        const size_t room = m_output->room();
        if (room < std::min(m_engine.m_ring.size(), st.leastFrames)) {
            Output *out = m_output.get();
            const auto wait = joinWait(kDeviceWait);
            lk.unlock();
            out->waitForRoom(wait);
            lk.lock();
            return false;
        }
        frames = std::min(frames, room);
    }
    if (m_engine.m_join.boundary)
        frames = std::min<size_t>(frames, static_cast<size_t>(*m_engine.m_join.boundary - m_engine.m_ringOut));
    st.parts[0] = m_engine.m_ring.claim(frames);
    st.parts[1] = m_engine.m_ring.claim(frames - st.parts[0].frames); // the rest, where the ring wraps
    m_engine.m_ringOut += frames;
    st.storage = m_engine.m_ring.storage();
    const uint32_t volume = m_engine.m_volume.load();
    const bool deviceVolume = m_output->handlesVolume();
    lk.unlock();
    for (const FrameRing::Span &part : st.parts)
        filter(st, part.data, part.frames);
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
    if (st.serial != m_engine.m_serial || st.session != m_engine.m_session) {
        releaseBlock(st); // stale: dropped
        return false;
    }
    st.pendingFrames = frames;
    st.pendingOffset = 0;
    return true;
}

void OutputLoop::releaseBlock(OutputStage &st)
{
    st.pendingFrames = 0;
    if (!st.storage)
        return;
    st.storage.reset();
    st.parts[0] = st.parts[1] = {};
    // A play() since the claim gave the ring new storage with nothing claimed: releasing
    // changes nothing there either.
    const size_t refill = std::max(m_engine.m_decodeChunk, m_engine.m_ring.capacity() / 2);
    const bool wasFull = m_engine.m_ring.space() < refill;
    m_engine.m_ring.release();
    if (wasFull && m_engine.m_ring.space() >= refill)
        m_engine.m_decodeWake.notify_one(); // the decoder refills in one go
}

// Sends as much of the pending block as the device takes now (or waits for room), and
// keeps it in the history.  A file output that fails to write ends the track.
void OutputLoop::sendPending(std::unique_lock<std::mutex> &lk, OutputStage &st)
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
    // the written frame.
    const size_t kept = std::min(n, m_history.capacity());
    if (m_history.space() < kept)
        m_history.drop(kept - m_history.space());
    m_history.push(filtered + (n - kept) * ch, kept);
    m_engine.m_writtenFrame += static_cast<int64_t>(n);
    st.pendingOffset += n;
    st.pendingFrames -= n;
    if (st.realTime) {
        // Under the lock, so that the written frame and the device's delay agree.
        out->write(device, n);
    } else {
        // No delay to agree with: let the decoder go on meanwhile (the claim keeps the
        // block's slots, and st.storage their memory).
        lk.unlock();
        out->write(device, n);
        lk.lock();
        if (out->failed() && st.session == m_engine.m_session) {
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
void OutputLoop::drainStep(std::unique_lock<std::mutex> &lk, OutputStage &st)
{
    Output *out = m_output.get();
    if (!st.draining) {
        st.draining = true;
        m_engine.m_draining = true;
        lk.unlock();
        out->startDrain();
        lk.lock();
        return;
    }
    if (out->drained()) {
        checkJoinHeard(lk, st);
        if (st.session == m_engine.m_session && st.serial == m_engine.m_serial)
            finishTrack(lk, st.session);
        return;
    }
    const auto wait = joinWait(kDeviceWait);
    lk.unlock();
    out->waitDrained(wait);
    lk.lock();
}

void OutputLoop::finishTrack(std::unique_lock<std::mutex> &lk, uint64_t session, bool failed)
{
    std::unique_ptr<Output> out = std::move(m_output);
    m_engine.endSessionLocked();
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
    m_engine.report(lk, session, message, Engine::Report::End);
}

} // namespace vbmp3
