#include "trackqueue.h"

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
    if (!m_api.queueNext || !m_api.getOpenInfo)
        return;
    if (!starting && m_api.getState(nullptr) == VBMP3_STOPPED) {
        if (m_ahead && m_api.queueNext("") != 2)
            m_ahead.reset();
        return;
    }
    if (m_ahead && m_ahead->random && m_sequencer.stillPossible(*m_ahead))
        return;
    Sequencer::Ahead next = m_sequencer.lookAhead();
    const bool playable = next.path && !next.path->isEmpty() && !isVideoName(*next.path);
    if (m_ahead && playable && m_ahead->path == next.path) {
        m_ahead = std::move(next); // the same file: the choice's effects as they stand now
        return;
    }
    if (!m_ahead && !playable)
        return;
    const int32_t result = m_api.queueNext(playable ? pathToBytes(*next.path).constData() : "");
    if (result == 2)
        return; // what was queued is heard already: its report takes it
    if (result == 1 && playable)
        m_ahead = std::move(next);
    else
        m_ahead.reset(); // cleared, or the file cannot be opened: its open error comes at the end
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
