// The hand-over from the audio player to the video window: PlayTrack puts the path into
// VideoFile and asks the presenter to show the window, which plays it.  The window sets
// VideoHandBack and VideoFile when it hands a track back.  GUI thread only.
#pragma once

#include <QString>

namespace kes
{

class VideoPresenter
{
public:
    virtual ~VideoPresenter() = default;
    // Shows the video window (not modal) playing VideoFile.
    virtual void showVideo() = 0;
    // Closes the video window when it is open, without handing anything back (shutdown).
    virtual void closeVideo() { }
};

// The video test: names ending exactly in "mpg", "avi" or "wma" (case included) are
// played by the video window, everything else by the decoder library.
inline bool isVideoName(const QString &path)
{
    const QStringView last3 = QStringView(path).right(3);
    return last3 == u"mpg" || last3 == u"avi" || last3 == u"wma";
}

} // namespace kes
