// The track that follows the playing one when it ends by itself, chosen ahead and handed
// to the decoder library (vbmp3_queueNext) so that the two join without a gap.  The choice
// is sequencing's own (Sequencer::lookAhead): its effects on the rows and CurrentTrackNo
// are made only when the library reports that the queued file is heard (take()), so the
// playlist shows what it would show without the queue at every moment.  A video row, the
// end of the sequence or a library without the call leaves nothing queued: the track then
// ends and the next one starts as before.  A cue track is queued as its image's range
// (vbmp3_queueNextRange): the next track of the same image goes on without a reopen.
// GUI thread only.
#pragma once

#include "decoderapi.h"
#include "sequencer.h"

#include <optional>

namespace kes
{

class TrackQueue
{
public:
    TrackQueue(const DecoderApi &api, Sequencer &sequencer);

    // Works the choice out again and hands the library what follows the playing track, or
    // clears its queue: when nothing plays, for a video row or the end of the sequence.
    // The library (which opens the file on this thread) is called only when the file to
    // queue changes, and not again for the file it refused last; in "Random" a choice that
    // is still possible is kept, and one worked out again uses the same draws.  starting:
    // a file has just been opened and its play comes next.
    void refresh(bool starting = false);
    // The library cleared its queue itself (stop, open, close): nothing is queued.
    void forget()
    {
        m_ahead.reset();
        m_refused.reset();
    }
    // Before a command that ends the play (stop, open, close), after which the library
    // drops the reports of the play: clears the library's queue, and says whether the
    // queued file had begun to be heard already (the join made, its report perhaps never
    // to come).  Then take() makes the choice; otherwise nothing is queued.
    bool clearHeard();
    // The queued file has begun to be heard: makes the choice (CurrentTrackNo, the marks)
    // and returns its path; nullopt when nothing was queued.
    std::optional<QString> take();
    // The queued row's path, nullopt when none.
    std::optional<QString> queuedPath() const;

private:
    // Hands path to the library (a cue track as its image's range); nullopt clears the queue.
    int32_t queue(const std::optional<QString> &path);

    const DecoderApi &m_api;
    Sequencer &m_sequencer;
    std::optional<Sequencer::Ahead> m_ahead; // what the library holds queued
    std::optional<QString> m_refused; // the file the library refused to queue last, until a new play
};

} // namespace kes
