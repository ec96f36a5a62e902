// The hand-over from the audio player to the video window: PlayTrack puts the path into
// VideoFile and asks the presenter to show the window, which plays it.  The window sets
// VideoHandBack and VideoFile when it hands a track back.  GUI thread only.
#pragma once

namespace kes
{

class VideoPresenter
{
public:
    virtual ~VideoPresenter() = default;
    // Shows the video window (not modal) playing playback().VideoFile.
    virtual void showVideo() = 0;
};

} // namespace kes
