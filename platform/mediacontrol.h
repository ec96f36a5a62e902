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
        int trackNumber = 0; // the number the player shows for it ("No.7"); 0: none
        QString artUrl; // file: URL of its cover picture; empty: none
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
    // Local files to add, as if given on the command line with --enqueue: their rows go to
    // the end of the play queue, and nothing starts playing.
    virtual void enqueueFiles(const QStringList &paths) = 0;

    virtual Status status() const = 0;
    virtual Track track() const = 0;
    // 0.0 silent .. 1.0 full.
    virtual double volume() const = 0;
    virtual void setVolume(double volume) = 0;
    // The position heard, in microseconds (0 while stopped).
    virtual qint64 positionUs() const = 0;
    // Moves the position by offsetUs (negative: back) or to positionUs within the track,
    // as the player's own seek bar does; past the end moves on to the next track.  Nothing
    // while stopped.  True when the position moved.
    virtual bool seek(qint64 offsetUs) = 0;
    virtual bool setPosition(qint64 positionUs) = 0;
    // Repeat and the random order, as the player's own switches for them show them.
    // Setting one works like clicking its switch; false when the switch takes no click
    // now (it stays as it is).
    virtual bool repeat() const = 0;
    virtual bool setRepeat(bool on) = 0;
    virtual bool shuffle() const = 0;
    virtual bool setShuffle(bool on) = 0;
};

} // namespace kes
