// What the desktop's media controls (MPRIS) may ask of the player and read from it.  The
// application implements it over the window's own procedures, so a media key does what
// the matching toolbar button does.  GUI thread only.
#pragma once

#include <QString>
#include <QStringList>

namespace kes
{

class MediaControl
{
public:
    enum class Status { Stopped, Playing, Paused };
    struct Track {
        int row = 0; // 1-based playlist row; 0: no track
        QString path;
        QString title;
        QString artist;
        QString album;
        qint64 lengthUs = 0; // 0: unknown
        bool operator==(const Track &) const = default;
    };

    virtual ~MediaControl() = default;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void playPause() = 0;
    virtual void stop() = 0;
    virtual void next() = 0;
    virtual void previous() = 0;
    virtual void raise() = 0;
    virtual void quit() = 0;
    // A local file to add and play, as if given on the command line.
    virtual void openFile(const QString &path) = 0;

    virtual Status status() const = 0;
    virtual Track track() const = 0;
    // 0.0 silent .. 1.0 full.
    virtual double volume() const = 0;
    virtual void setVolume(double volume) = 0;
    virtual qint64 positionUs() const = 0;
};

} // namespace kes
