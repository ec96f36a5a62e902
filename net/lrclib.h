// Lyrics from an LRCLIB server (https://lrclib.net by default): one lookup of a track at a
// time, asynchronous, bounded in size and time.  What is sent is the track's title,
// artist, album and length in whole seconds, and the User-Agent "kestrine/<version>
// (<home page>)"; nothing else.  GUI thread only; never blocks.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace kes
{

// What is asked of the server about one track.
struct LyricsQuery {
    QString title;
    QString artist;
    QString album;
    qint64 durationMs = 0; // sent rounded to whole seconds; 0: not sent
};

// One record of the server.
struct LyricsCandidate {
    qint64 id = 0;
    QString title, artist, album;
    double durationSeconds = 0;
    bool instrumental = false;
    QString synced; // LRC text, empty when the record has none
    QString plain;
    // The synchronised lyrics when there are any, else the plain ones.
    const QString &text() const { return synced.trimmed().isEmpty() ? plain : synced; }
    bool hasLyrics() const { return !text().trimmed().isEmpty(); }
};

class LrclibClient : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxBodyBytes = 1 << 20;
    static constexpr int kTimeoutMs = 15000;

    explicit LrclibClient(QObject *parent = nullptr);
    ~LrclibClient() override;

    // The server's address ("https://lrclib.net"); its path, when any, is kept before "/api".
    void setServer(const QUrl &server) { m_server = server; }
    // For tests: a smaller bound on the time an answer may take.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    static QByteArray userAgent();
    static QUrl getUrl(const QUrl &server, const LyricsQuery &q);
    static QUrl searchUrl(const QUrl &server, const LyricsQuery &q);
    // The record of a search's answer that fits q best: synchronised over plain, then the
    // one whose length is within 2 s of the track's; -1 when none has lyrics.
    static int bestCandidate(const QList<LyricsCandidate> &found, const LyricsQuery &q);

    // Looks the track up: /api/get, then /api/search when the server knows no such track
    // (404).  Ends in found() or failed().  A new request drops the one under way, whose
    // answer is never reported.
    void lookUp(const LyricsQuery &q);
    // Every record /api/search gives for q: ends in candidates() or failed().
    void search(const LyricsQuery &q);
    void cancel();
    bool busy() const { return m_reply != nullptr; }

signals:
    void found(const kes::LyricsCandidate &candidate);
    void candidates(const QList<kes::LyricsCandidate> &found);
    // A short note for the lyrics view (Japanese), never a box.
    void failed(const QString &note);

private:
    enum class Step { Get, SearchAfterGet, Search };
    void start(Step step, const QUrl &url);
    void finished(QNetworkReply *reply, Step step);

    QNetworkAccessManager *m_net;
    QNetworkReply *m_reply = nullptr;
    QUrl m_server;
    LyricsQuery m_query;
    int m_timeoutMs = kTimeoutMs;
    bool m_tooBig = false;
};

} // namespace kes
