// Lyrics for a track played without any: the ones kept in the cache folder from an
// earlier find, else (when the user turned the lookup on, Settings::LyricsLookup) a
// lookup on the server (Settings::LyricsServer) for that track alone.  What is found is
// kept (foundlyrics.h) and shown at once when its track still plays; a failure is a
// note for the lyrics view.  Also the lyrics view menu's work: the chosen record of a
// search kept, found lyrics dropped.  A lyrics file beside the track always comes first:
// the controller finds it before asking here.  GUI thread only.
#pragma once

#include "lrclib.h"

#include <QObject>
#include <QString>

namespace kes
{

class PlaybackController;
struct Settings;

class LyricsFinder : public QObject
{
    Q_OBJECT
public:
    // The controller and settings must outlive the finder.  cacheRoot empty:
    // defaultLyricsCacheRoot().
    LyricsFinder(
        PlaybackController &controller, const Settings &settings, const QString &cacheRoot, QObject *parent = nullptr);

    bool lookupOn() const;
    QUrl server() const;
    // What the playing track is asked for by.
    LyricsQuery queryOfPlaying() const;
    const QString &cacheRoot() const { return m_cacheRoot; }
    LrclibClient &client() { return *m_client; }

    // Keeps c's lyrics for the playing track (a file of the user's is never written
    // over: they go to the cache then) and shows them.
    void keep(const LyricsCandidate &c);
    // Removes what was found and kept for the playing track; the lines go blank when
    // they were those.  false when there was nothing of ours.
    bool drop();

signals:
    // A short text for the lyrics view; empty: none.
    void note(const QString &text);

private:
    void trackWithoutLyrics();
    void trackStarted();
    void found(const LyricsCandidate &c);
    QString stemOf(const QString &track) const;

    PlaybackController &m_controller;
    const Settings &m_settings;
    QString m_cacheRoot;
    LrclibClient *m_client;
    QString m_track; // the track of the lookup under way (or its note)
};

} // namespace kes
