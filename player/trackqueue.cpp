#include "trackqueue.h"

#include "cuetrack.h"
#include "pathbytes.h"
#include "videopresenter.h"

namespace kes
{

TrackQueue::TrackQueue(const DecoderApi &api, Sequencer &sequencer)
    : m_api(api)
    , m_sequencer(sequencer)
{
}

void TrackQueue::refresh(bool starting)
{
    if (!starting && m_api.getState(nullptr) == VBMP3_STOPPED) {
        if (m_ahead && m_api.queueNext("") != 2)
            m_ahead.reset();
        m_refused.reset();
        return;
    }
    if (m_ahead && m_ahead->random && m_sequencer.stillPossible(*m_ahead))
        return;
    Sequencer::Ahead next = m_sequencer.lookAhead();
    const bool playable = next.path && !next.path->isEmpty() && !isVideoName(*next.path);
    const std::optional<QString> wanted = playable ? next.path : std::nullopt;
    if (m_ahead && m_ahead->path == wanted) {
        m_ahead = std::move(next); // the same file: the choice's effects as they stand now
        return;
    }
    // Nothing queued and nothing to queue, or the file the library refused last time
    // (opening it again on this thread would give the same answer).
    if (!m_ahead && (!wanted || wanted == m_refused))
        return;
    const int32_t result = queue(wanted);
    if (result == 2)
        return; // what was queued is heard already: its report takes it
    m_refused.reset();
    if (result == 1 && wanted) {
        m_ahead = std::move(next);
        return;
    }
    m_ahead.reset(); // cleared, or the file cannot be opened: its open error comes at the end
    if (wanted)
        m_refused = wanted;
}

int32_t TrackQueue::queue(const std::optional<QString> &path)
{
    if (!path)
        return m_api.queueNext("");
    if (const std::optional<CueTrackRef> track = cueTrackOf(*path)) {
        const TrackRange range = trackRangeOf(*track);
        return m_api.queueNextRange(pathToBytes(track->image).constData(), &range);
    }
    return m_api.queueNext(pathToBytes(*path).constData());
}

bool TrackQueue::clearHeard()
{
    if (!m_ahead)
        return false;
    if (m_api.queueNext("") == 2)
        return true;
    m_ahead.reset();
    return false;
}

std::optional<QString> TrackQueue::take()
{
    if (!m_ahead)
        return std::nullopt;
    const Sequencer::Ahead ahead = std::move(*m_ahead);
    m_ahead.reset();
    m_sequencer.commit(ahead);
    return ahead.path;
}

std::optional<QString> TrackQueue::queuedPath() const
{
    return m_ahead ? m_ahead->path : std::nullopt;
}

} // namespace kes
