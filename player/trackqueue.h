// The track that follows the playing one when it ends by itself, chosen ahead and handed
// to the decoder library (vbmp3_queueNext) so that the two join without a gap.  The choice
// is sequencing's own (Sequencer::lookAhead): its effects on the rows and CurrentTrackNo
// are made only when the library reports that the queued file is heard (take()), so the
// playlist shows what it would show without the queue at every moment.  A video row, the
// end of the sequence or a library without the call leaves nothing queued: the track then
// ends and the next one starts as before.  A cue track is queued as its image's range
// (vbmp3_queueNextRange): the next track of the same image goes on without a reopen.
// The library reads the file it queues, so the queue is handed over on a thread of its own:
// the newest request wins (one still waiting is replaced unasked), and a request no longer
// wanted when the library answers (replaced, or given up by a stop, open or close) is
// undone there with a clear.  The clears made here run on the GUI thread (they read
// nothing).  GUI thread only but for the worker's members, noted below.
#pragma once

#include "decoderapi.h"
#include "sequencer.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace kes
{

class TrackQueue : public QObject
{
public:
    TrackQueue(const DecoderApi &api, Sequencer &sequencer, QObject *parent = nullptr);
    ~TrackQueue() override; // finish()

    // Works the choice out again and hands the library what follows the playing track, or
    // clears its queue: when nothing plays, for a video row or the end of the sequence.
    // The library is asked only when the file to queue changes (against the request on
    // its way, if any), and not again for the file it refused last; in "Random" a choice
    // that is still possible is kept, and one worked out again uses the same draws.
    // starting: a file has just been opened and its play comes next.
    void refresh(bool starting = false);
    // The library clears (or is about to clear) its queue itself (stop, open, close):
    // nothing is queued, and a request on its way is given up.
    void forget();
    // Before a command that ends the play (stop, open, close), after which the library
    // drops the reports of the play: gives up a request on its way, clears the library's
    // queue, and says whether the queued file had begun to be heard already (the join
    // made, its report perhaps never to come).  Then take() makes the choice; otherwise
    // nothing is queued.
    bool clearHeard();
    // The queued file has begun to be heard: makes the choice (CurrentTrackNo, the marks)
    // and returns its path; nullopt when nothing was queued.
    std::optional<QString> take();
    // The queued row's path, nullopt when none.
    std::optional<QString> queuedPath() const;
    // A request is waiting, running, or its answer has not been taken yet.
    bool busy() const { return m_unanswered > 0; }
    // Waits for the running request (the library is not freed under it), drops the
    // waiting one, ends the thread; no answer is taken after.  Runs once.
    void finish();

private:
    struct Request {
        uint64_t ticket = 0;
        QByteArray path;
        std::optional<TrackRange> range;
    };
    struct Asked {
        uint64_t ticket = 0;
        Sequencer::Ahead next;
        std::optional<QString> wanted;
    };
    // Hands path to the worker (a cue track as its image's range).
    void ask(const QString &path, Sequencer::Ahead next);
    // The request on its way is no longer wanted: undone if the library queues it.
    void giveUp();
    // Takes the worker's last answer when it is the one to the request on its way.
    void settle();
    void run(); // the worker's thread

    const DecoderApi &m_api;
    Sequencer &m_sequencer;
    std::optional<Sequencer::Ahead> m_ahead; // what the library holds queued
    std::optional<QString> m_refused; // the file the library refused to queue last, until a new play
    std::optional<Asked> m_asked; // the request on its way

    std::mutex m_mutex; // guards m_waiting, m_ending and m_answer
    std::condition_variable m_wake;
    std::optional<Request> m_waiting;
    bool m_ending = false;
    std::optional<std::pair<uint64_t, int32_t>> m_answer; // the worker's last: ticket, result
    // The ticket whose queue is wanted, 0 for none: set here, read by the worker.
    std::atomic<uint64_t> m_wanted { 0 };
    uint64_t m_lastTicket = 0;
    int m_unanswered = 0; // requests asked for whose answer has not come (a replaced one counts no more)
    bool m_finished = false;
    std::thread m_thread; // started at the first request
};

} // namespace kes
