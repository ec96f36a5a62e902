// The engine's side of the gapless join (see GaplessJoin in engine.h): queueing a track,
// the decoder entering it, undoing a join under way, and the hand-over once it is heard.
#include "engine.h"

#include "sources/formats.h"
#include "sources/formatsources.h"

namespace vbmp3
{

int32_t Engine::queueNext(const std::string &path, const TrackRange *range)
{
    for (;;) {
        const QueuePlan plan = planQueue(path, range);
        if (plan.answer)
            return *plan.answer;
        if (const std::optional<int32_t> answer
            = installQueue(path.empty() ? nullptr : prepareQueue(path, range, plan), plan))
            return *answer;
    }
}

Engine::QueuePlan Engine::planQueue(const std::string &path, const TrackRange *range)
{
    QueuePlan plan;
    plan.opens = m_opens;
    const bool hadQueue = !m_next.path.empty();
    syncJoins();
    if (hadQueue && m_next.path.empty())
        plan.answer = 2; // heard already: it is the open file now
    else if (m_open.path.empty())
        plan.answer = 0;
    plan.clear = path.empty();
    if (plan.answer || plan.clear)
        return plan;
    plan.withMixerName = wantsMixerName();
    if (range && m_open.range && path == m_open.path) {
        // The open track's own decoder may go on into the next track of its file.  The
        // open source changes only at a join, and a join heard from now on makes this
        // queue come too late (2) at its install.
        std::lock_guard lock(m_mutex);
        plan.follow = m_source;
        plan.followLayout = m_open.layout;
    }
    return plan;
}

std::unique_ptr<Engine::PreparedOpen> Engine::prepareQueue(
    const std::string &path, const TrackRange *range, const QueuePlan &plan)
{
    if (preparingHook)
        preparingHook(path);
    return readTrack(path, plan.withMixerName, range, plan.follow.get(), plan.followLayout);
}

std::optional<int32_t> Engine::installQueue(std::unique_ptr<PreparedOpen> prepared, const QueuePlan &plan)
{
    if (m_opens != plan.opens)
        return std::nullopt;
    const bool hadQueue = !m_next.path.empty();
    syncJoins();
    if (hadQueue && m_next.path.empty())
        return 2;
    if (m_open.path.empty())
        return 0;
    Track next;
    std::shared_ptr<Source> source;
    std::string name;
    if (prepared) {
        next.path = std::move(prepared->path);
        next.layout = prepared->layout;
        next.range = prepared->range;
        next.info = prepared->source->info();
        next.count = std::move(prepared->count);
        source = std::move(prepared->source);
        name = std::move(prepared->mixerName);
    }
    {
        std::unique_lock lk(m_mutex);
        if (m_join.heard != m_joinsTaken) {
            lk.unlock();
            syncJoins();
            return 2;
        }
        dropEnteredLocked();
        if (m_join.awaitCaller) {
            m_join.awaitCaller = false;
            m_decodeWake.notify_one();
        }
        m_join.queued = source;
        m_join.queuedName = std::move(name);
        m_join.queuedTotal = next.info.totalFrames;
        m_join.fresh = true;
        m_join.entered = false;
        if (source)
            m_join.queuedFormat = formatFor(next.info);
        // A decoder that reached the end with nothing queued goes on, unless the device
        // is already playing out the end (too late to join).
        if (source && m_decodeEof && !m_draining && m_state != State::Stopped) {
            m_decodeEof = false;
            m_decodeWake.notify_one();
        }
    }
    m_next = std::move(next);
    return source || plan.clear ? 1 : 0;
}

void Engine::syncJoins()
{
    uint64_t joins;
    {
        std::lock_guard lock(m_mutex);
        joins = m_join.heard;
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

void Engine::unwindJoinLocked()
{
    if (m_join.entered || m_join.written || m_join.formatWait || m_join.boundary)
        ++m_join.generation;
    m_join.boundary.reset();
    m_join.written.reset();
    m_join.formatWait = false;
    if (m_join.entered)
        m_join.fresh = false;
    m_join.entered = false;
    m_sessionSource = m_source;
    m_join.fromQueue = m_join.awaitCaller; // the heard track came from the queue, its join answered or not
    if (!sameStream(m_ringFormat, m_sourceFormat)) {
        FrameRing ring;
        ring.reset(ringFramesFor(m_sourceFormat), m_sourceFormat.channels);
        m_ring = std::move(ring);
        m_ringFormat = m_sourceFormat;
    }
}

void Engine::dropEnteredLocked()
{
    if (m_join.formatWait) {
        // The decoder waits at the end of the heard track: let it look again at what follows.
        m_join.formatWait = false;
        m_decodeEof = false;
        m_decodeWake.notify_one();
        return;
    }
    if (!m_join.entered)
        return;
    if (m_join.written) {
        // The device holds frames of the queued track: the heard track plays on from the
        // frame heard now (its end, should the join be heard by now).
        const JoinInFlight join = *m_join.written;
        const int64_t heard = m_writtenFrame - m_outputLoop.delayFrames();
        const int64_t back = heard >= 0 ? 0 : (-heard * join.oldRate + m_writtenRate / 2) / m_writtenRate;
        seekLocked(std::clamp(join.oldEnd - back, join.oldStart, join.oldEnd));
        return;
    }
    // Only the ring holds the queued track: it ends at the boundary again, and the
    // decoder, back at the end of the heard track, looks again at what follows.
    const uint64_t boundary = m_join.boundary.value_or(m_ringOut);
    ++m_join.generation;
    ++m_decodeGeneration;
    m_join.boundary.reset();
    m_join.entered = false;
    m_join.fresh = false;
    m_sessionSource = m_source;
    m_join.fromQueue = m_join.awaitCaller;
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

void Engine::enterQueued()
{
    m_sessionSource = m_join.queued;
    m_join.entered = true;
    m_join.fromQueue = true;
    if (!m_join.fresh) {
        m_seekPending = true;
        m_seekFrame = 0;
    }
    m_join.fresh = false;
}

bool Engine::enterQueuedLocked()
{
    if (!m_join.queued || m_join.entered || m_sessionSource == m_join.queued)
        return false;
    if (!sameStream(m_join.queuedFormat, m_ringFormat)) {
        m_join.formatWait = true; // the output thread gives the ring the new format once it is empty
        return true;
    }
    m_join.boundary = m_ringIn;
    enterQueued();
    return true;
}

void Engine::startFormatJoinLocked()
{
    FrameRing ring;
    try {
        ring.reset(ringFramesFor(m_join.queuedFormat), m_join.queuedFormat.channels);
    } catch (...) {
        // No memory for the join: the track ends as if nothing were queued.
        m_join.formatWait = false;
        m_decodeEof = true;
        return;
    }
    m_join.formatWait = false;
    m_ring = std::move(ring);
    m_ringIn = m_ringOut = 0;
    m_join.boundary = 0;
    m_ringFormat = m_join.queuedFormat;
    enterQueued();
    m_decodeWake.notify_one();
}

std::shared_ptr<Source> Engine::takeJoinHeardLocked(bool awaitCaller)
{
    m_join.written.reset();
    std::shared_ptr<Source> old = std::move(m_source);
    m_source = std::move(m_join.queued);
    m_sourceName = std::move(m_join.queuedName);
    m_sourceTotal = m_join.queuedTotal;
    m_sourceFormat = m_join.queuedFormat;
    m_join.queued.reset();
    m_join.queuedName.clear();
    m_join.entered = false;
    m_join.fresh = true;
    ++m_join.heard;
    if (awaitCaller) {
        m_join.awaitCaller = true;
        m_join.awaitSince = std::chrono::steady_clock::now();
        m_decodeWake.notify_one();
    }
    return old;
}

} // namespace vbmp3
