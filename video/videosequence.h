// Where the video window goes next: at the end of a video, on "next" and on "back".  It
// moves the shared CurrentTrackNo through the main window's Sequencer and says whether
// the chosen row plays in the window or is handed back to the audio player.  QtCore only;
// GUI thread only.
#pragma once

#include "sequencer.h"
#include "tracklist.h"

#include <QString>

namespace kes
{

struct VideoStep {
    enum class Kind {
        Stay, // nothing chosen; the window stays as it is
        PlayHere, // path is a video: the window plays it
        HandBack, // path (an audio file, or empty for "nothing left") goes back to the main window
    };
    Kind kind = Kind::Stay;
    QString path;
    bool operator==(const VideoStep &) const = default;
};

class VideoSequence
{
public:
    // rows and sequencer are the main window's; currentTrackNo is the shared
    // CurrentTrackNo that sequencer also moves.
    VideoSequence(TrackList &rows, Sequencer &sequencer, int &currentTrackNo);

    // The end of the video: the row after the current one in the play mode's order.
    VideoStep endOfStream();
    // "next": as the end of the video, but nothing happens when no row can be chosen.
    VideoStep next();
    // "back": the previous checked row by position, wrapping from the first row to the
    // last.  With no checked row the search ends at once: Stay.
    VideoStep back();

private:
    static VideoStep stepFor(const QString &path);

    TrackList &m_rows;
    Sequencer &m_sequencer;
    int &m_current;
};

} // namespace kes
