#include "trackqueue.h"

#include "cuetrack.h"
#include "pathbytes.h"
#include "videopresenter.h"

#include <utility>

namespace kes
{

TrackQueue::TrackQueue(const DecoderApi &api, Sequencer &sequencer, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_sequencer(sequencer)
{
}

TrackQueue::~TrackQueue()
{
    finish();
}

void TrackQueue::refresh(bool starting)
{
    settle();
    if (!starting && m_api.getState(nullptr) == VBMP3_STOPPED) {
        giveUp();
        if (m_ahead && m_api.queueNext("") != 2)
            m_ahead.reset();
        m_refused.reset();
        return;
    }
    // What the library holds, or will hold once the request on its way is answered.
    Sequencer::Ahead *held = m_asked ? &m_asked->next : m_ahead ? &*m_ahead : nullptr;
    if (held && held->random && m_sequencer.stillPossible(*held))
        return;
    Sequencer::Ahead next = m_sequencer.lookAhead();
    const bool playable = next.path && !next.path->isEmpty() && !isVideoName(*next.path);
    const std::optional<QString> wanted = playable ? next.path : std::nullopt;
    if (held && (m_asked ? m_asked->wanted : m_ahead->path) == wanted) {
        *held = std::move(next); // the same file: the choice's effects as they stand now
        return;
    }
    // Nothing queued and nothing to queue, or the file the library refused last time
    // (reading it again would give the same answer).
    if (!held && (!wanted || wanted == m_refused))
        return;
    if (wanted)
        return ask(*wanted, std::move(next));
    giveUp();
    if (m_ahead && m_api.queueNext("") == 2)
        return; // what was queued is heard already: its report takes it
    m_ahead.reset();
    m_refused.reset();
}

void TrackQueue::ask(const QString &path, Sequencer::Ahead next)
{
    if (m_finished)
        return;
    Request request { ++m_lastTicket, {}, std::nullopt };
    if (const std::optional<CueTrackRef> track = cueTrackOf(path)) {
        request.path = pathToBytes(track->image);
        request.range = trackRangeOf(*track);
    } else {
        request.path = pathToBytes(path);
    }
    m_asked = Asked { request.ticket, std::move(next), path };
    m_wanted = request.ticket;
    {
        std::lock_guard lock(m_mutex);
        if (!m_waiting)
            ++m_unanswered;
        m_waiting = std::move(request);
    }
    m_wake.notify_one();
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

void TrackQueue::giveUp()
{
    m_asked.reset();
    m_wanted = 0;
    std::lock_guard lock(m_mutex);
    if (m_waiting) {
        m_waiting.reset();
        --m_unanswered;
    }
}

void TrackQueue::settle()
{
    std::optional<std::pair<uint64_t, int32_t>> answer;
    {
        std::lock_guard lock(m_mutex);
        answer = m_answer;
    }
    if (!m_asked || !answer || answer->first != m_asked->ticket)
        return;
    Asked asked = std::move(*m_asked);
    m_asked.reset();
    if (answer->second == 2)
        return; // what was queued is heard already: its report takes it
    m_refused.reset();
    if (answer->second == 1) {
        m_ahead = std::move(asked.next);
        return;
    }
    m_ahead.reset(); // the file cannot be opened: its open error comes at the end
    m_refused = asked.wanted;
}

void TrackQueue::run()
{
    const auto queueNext = m_api.queueNext;
    const auto queueNextRange = m_api.queueNextRange;
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || m_waiting; });
            if (m_ending)
                return;
            request = std::move(*m_waiting);
            m_waiting.reset();
        }
        const int32_t result = request.range ? queueNextRange(request.path.constData(), &*request.range)
                                             : queueNext(request.path.constData());
        // No longer wanted: whatever made it stale (a newer request, a stop, an open)
        // happened before this check, so the library holds nothing of it afterwards.
        if (result == 1 && m_wanted.load() != request.ticket)
            queueNext("");
        {
            std::lock_guard lock(m_mutex);
            m_answer = { request.ticket, result };
        }
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_finished)
                    return;
                --m_unanswered;
                settle();
            },
            Qt::QueuedConnection);
    }
}

void TrackQueue::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_wanted = 0;
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
        m_waiting.reset();
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    m_unanswered = 0;
    m_asked.reset();
}

void TrackQueue::forget()
{
    giveUp();
    m_ahead.reset();
    m_refused.reset();
}

bool TrackQueue::clearHeard()
{
    settle();
    giveUp();
    if (!m_ahead)
        return false;
    if (m_api.queueNext("") == 2)
        return true;
    m_ahead.reset();
    return false;
}

std::optional<QString> TrackQueue::take()
{
    settle();
    // A request on its way comes too late for this join: the library refuses it, and
    // what follows the joined track is asked for anew.
    giveUp();
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
