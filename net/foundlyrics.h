// Where lyrics found on a server are kept: beside the track as NAME.lrc (UTF-8), or, when
// that folder cannot be written or the user already has a NAME.lrc there, in the cache
// folder under the track's whole path ($XDG_CACHE_HOME/kestrine/lyrics/home/u/a.lrc), so
// that the next play needs no network.  A file kept here begins with the line
// kFoundMark, which tells it from one the user made: those are never written over nor
// removed.  Files are written atomically.  Plain functions, any thread.
#pragma once

#include <QString>

namespace kes
{

inline constexpr char kFoundMark[] = "[re:kestrine (LRCLIB)]";

// $XDG_CACHE_HOME/kestrine/lyrics (~/.cache/kestrine/lyrics).
QString defaultLyricsCacheRoot();
// The cached lyrics of the track whose name without its ending is stem.
QString cachedLyricsFile(const QString &cacheRoot, const QString &stem);

// Whether path is a lyrics file kestrine saved (it begins with kFoundMark).
bool isFoundLyricsFile(const QString &path);

struct KeptLyrics {
    QString path; // empty when nothing could be written
    bool inCache = false;
    QString error;
};
// Writes text (LRC or plain) for the track of stem: stem.lrc when the folder takes it and
// no file of the user's is there, else the cache file.
KeptLyrics keepFoundLyrics(const QString &cacheRoot, const QString &stem, const QString &text);
// Removes what keepFoundLyrics wrote for stem (beside and in the cache); a file of the
// user's stays.  The number of files removed.
int dropFoundLyrics(const QString &cacheRoot, const QString &stem);

} // namespace kes
