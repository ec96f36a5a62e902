#include "videosequence.h"

#include "videopresenter.h"

namespace kes
{

VideoSequence::VideoSequence(TrackList &rows, Sequencer &sequencer, int &currentTrackNo)
    : m_rows(rows)
    , m_sequencer(sequencer)
    , m_current(currentTrackNo)
{
}

VideoStep VideoSequence::stepFor(const QString &path)
{
    return { isVideoName(path) ? VideoStep::Kind::PlayHere : VideoStep::Kind::HandBack, path };
}

VideoStep VideoSequence::endOfStream()
{
    ++m_current;
    return stepFor(m_sequencer.ChooseTrack());
}

VideoStep VideoSequence::next()
{
    if (!m_sequencer.CanChoose())
        return {};
    ++m_current;
    return stepFor(m_sequencer.ChooseTrack());
}

VideoStep VideoSequence::back()
{
    // PreviousRow scans at most twice over the rows; with none checked there is no hit to
    // find, so do not ask.
    if (!m_rows.anyChecked())
        return {};
    return stepFor(m_sequencer.previousRow());
}

} // namespace kes
