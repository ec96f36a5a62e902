// The playback variables: the current track and the hand-over between the audio player
// and the video window.  The main window owns the one record of the program and hands it
// by reference to the controller, sequencing, the video window and the media controls;
// tests make their own.  GUI thread only.  The flags the decoder callback sets are not
// here (decodercallback.h): the callback has no context to reach a record through.
#pragma once

#include <QString>

namespace kes
{

struct PlaybackState {
    // The current track.  CurrentFile is set by the controller before each play.
    // CurrentTrackNo is moved by sequencing (the Sequencer holds a reference to it, and
    // the video window moves it through the same Sequencer), set by the controller for a
    // double-clicked row and reset by the main window at start-up and on a play-mode
    // change.
    QString CurrentFile; // full path of the track being played or about to be played
    int CurrentTrackNo = 1; // 1-based playlist row of the current track

    // The hand-over.  The controller puts a video's path into VideoFile and clears
    // VideoHandBack before it shows the video window, which clears it again as it loads;
    // the window hands a track back by setting VideoFile (empty: nothing left to play) and
    // VideoHandBack; the controller clears VideoHandBack when it takes the track.
    QString VideoFile;
    bool VideoHandBack = false;

    // The video window's display size mode, 0..3: set by the main window at start-up,
    // then by the video window whenever the user picks a size.
    int VideoSizeMode = 1;
};

} // namespace kes
