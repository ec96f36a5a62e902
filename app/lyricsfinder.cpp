#include "lyricsfinder.h"

#include "foundlyrics.h"
#include "pathbytes.h"
#include "playbackcontroller.h"
#include "settings.h"

#include <utility>

namespace kes
{

LyricsFinder::LyricsFinder(
    PlaybackController &controller, const Settings &settings, const QString &cacheRoot, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
    , m_settings(settings)
    , m_cacheRoot(cacheRoot.isEmpty() ? defaultLyricsCacheRoot() : cacheRoot)
    , m_client(new LrclibClient(this))
{
    connect(&controller, &PlaybackController::lyricsMissing, this, &LyricsFinder::trackWithoutLyrics);
    connect(&controller, &PlaybackController::trackStarted, this, &LyricsFinder::trackStarted);
    connect(m_client, &LrclibClient::found, this, &LyricsFinder::found);
    connect(m_client, &LrclibClient::failed, this, [this](const QString &text) {
        if (m_track == m_controller.nowPlaying().path)
            emit note(text);
    });
}

bool LyricsFinder::lookupOn() const
{
    return m_settings.LyricsLookup == 1 && server().isValid() && !m_settings.LyricsServer.trimmed().isEmpty();
}

QUrl LyricsFinder::server() const
{
    return QUrl(m_settings.LyricsServer.trimmed(), QUrl::StrictMode);
}

LyricsQuery LyricsFinder::queryOfPlaying() const
{
    const PlaybackController::NowPlaying &now = m_controller.nowPlaying();
    return { now.title, now.artist, now.album, now.lengthMs };
}

QString LyricsFinder::stemOf(const QString &track) const
{
    return PlaybackController::lyricsFileOf(track).chopped(4);
}

void LyricsFinder::trackWithoutLyrics()
{
    const QString track = m_controller.nowPlaying().path;
    m_client->cancel();
    m_track.clear();
    const QString cached = cachedLyricsFile(m_cacheRoot, stemOf(track));
    if (isRegularFile(cached)) {
        m_controller.showLyricsFile(cached);
        return;
    }
    const LyricsQuery query = queryOfPlaying();
    if (!lookupOn() || query.title.isEmpty())
        return;
    m_track = track;
    m_client->setServer(server());
    m_client->lookUp(query);
    emit note(QStringLiteral("歌詞を %1 で検索しています").arg(server().host()));
}

void LyricsFinder::trackStarted()
{
    // A track with lyrics of its own (or found in the cache) ends the note of the one before.
    if (m_track != m_controller.nowPlaying().path) {
        m_track.clear();
        emit note(QString());
    }
}

void LyricsFinder::found(const LyricsCandidate &c)
{
    const QString track = std::exchange(m_track, QString());
    if (track.isEmpty())
        return;
    const KeptLyrics kept = keepFoundLyrics(m_cacheRoot, stemOf(track), c.text());
    const bool playing = track == m_controller.nowPlaying().path;
    if (kept.path.isEmpty()) {
        if (playing)
            emit note(QStringLiteral("見つけた歌詞を保存できません: %1").arg(kept.error));
        return;
    }
    if (!playing)
        return;
    m_controller.showLyricsFile(kept.path);
    emit note(kept.inCache ? QStringLiteral("LRCLIB の歌詞 (キャッシュに保存)")
                           : QStringLiteral("LRCLIB の歌詞 (曲の隣に .lrc として保存)"));
}

void LyricsFinder::keep(const LyricsCandidate &c)
{
    const QString track = m_controller.nowPlaying().path;
    if (track.isEmpty())
        return;
    m_client->cancel();
    m_track = track;
    found(c);
}

bool LyricsFinder::drop()
{
    const QString track = m_controller.nowPlaying().path;
    if (track.isEmpty())
        return false;
    const QString stem = stemOf(track);
    const QString shown = m_controller.LyricsFile();
    const bool ours = m_controller.lyricsOn() && isFoundLyricsFile(shown);
    if (dropFoundLyrics(m_cacheRoot, stem) == 0)
        return false;
    if (ours)
        m_controller.dropLyrics();
    emit note(QStringLiteral("見つけた歌詞を削除しました"));
    return true;
}

} // namespace kes
