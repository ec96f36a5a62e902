#include "lrclib.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cmath>
#include <utility>

namespace kes
{

namespace
{

// The fields as "name=value&...", every byte of a value's UTF-8 outside the unreserved set
// escaped ('&', '+', '=' and '%' in a title stay text).
using Fields = QList<std::pair<const char *, QString>>;
QUrl apiUrl(const QUrl &server, const char *endpoint, const Fields &fields)
{
    QUrl url = server;
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    url.setPath(path + QStringLiteral("/api/") + QLatin1String(endpoint));
    QByteArray query;
    for (const auto &[name, value] : fields) {
        if (!query.isEmpty())
            query += '&';
        query += name;
        query += '=';
        query += QUrl::toPercentEncoding(value);
    }
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    return url;
}

LyricsCandidate candidateOf(const QJsonObject &o)
{
    LyricsCandidate c;
    c.id = static_cast<qint64>(o.value(QStringLiteral("id")).toDouble());
    c.title = o.value(QStringLiteral("trackName")).toString();
    c.artist = o.value(QStringLiteral("artistName")).toString();
    c.album = o.value(QStringLiteral("albumName")).toString();
    c.durationSeconds = o.value(QStringLiteral("duration")).toDouble();
    c.instrumental = o.value(QStringLiteral("instrumental")).toBool();
    c.synced = o.value(QStringLiteral("syncedLyrics")).toString();
    c.plain = o.value(QStringLiteral("plainLyrics")).toString();
    return c;
}

} // namespace

LrclibClient::LrclibClient(QObject *parent)
    : QObject(parent)
    , m_net(new QNetworkAccessManager(this))
    , m_server(QStringLiteral("https://lrclib.net"))
{
}

LrclibClient::~LrclibClient()
{
    cancel();
}

QByteArray LrclibClient::userAgent()
{
    return QByteArrayLiteral("kestrine/" KESTRINE_VERSION " (https://github.com/kestrine/kestrine)");
}

QUrl LrclibClient::getUrl(const QUrl &server, const LyricsQuery &q)
{
    Fields fields { { "track_name", q.title }, { "artist_name", q.artist }, { "album_name", q.album } };
    if (q.durationMs > 0)
        fields.append(std::make_pair("duration", QString::number(std::llround(double(q.durationMs) / 1000.0))));
    return apiUrl(server, "get", fields);
}

QUrl LrclibClient::searchUrl(const QUrl &server, const LyricsQuery &q)
{
    return apiUrl(server, "search", { { "track_name", q.title }, { "artist_name", q.artist } });
}

int LrclibClient::bestCandidate(const QList<LyricsCandidate> &found, const LyricsQuery &q)
{
    int best = -1;
    int bestRank = 4;
    for (int i = 0; i < found.size(); ++i) {
        const LyricsCandidate &c = found[i];
        if (!c.hasLyrics())
            continue;
        const bool near = q.durationMs <= 0 || std::abs(c.durationSeconds * 1000 - double(q.durationMs)) <= 2000;
        const int rank = (c.synced.trimmed().isEmpty() ? 2 : 0) + (near ? 0 : 1);
        if (rank < bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    return best;
}

void LrclibClient::lookUp(const LyricsQuery &q)
{
    m_query = q;
    start(Step::Get, getUrl(m_server, q));
}

void LrclibClient::search(const LyricsQuery &q)
{
    m_query = q;
    start(Step::Search, searchUrl(m_server, q));
}

void LrclibClient::cancel()
{
    if (QNetworkReply *reply = std::exchange(m_reply, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void LrclibClient::start(Step step, const QUrl &url)
{
    cancel();
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(m_timeoutMs);
    m_tooBig = false;
    QNetworkReply *reply = m_net->get(request);
    m_reply = reply;
    // An answer past the bound is cut off as soon as it says or shows its size.
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (reply == m_reply && (received > kMaxBodyBytes || total > kMaxBodyBytes)) {
            m_tooBig = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, step] { finished(reply, step); });
}

void LrclibClient::finished(QNetworkReply *reply, Step step)
{
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_tooBig) {
        emit failed(QStringLiteral("歌詞の検索: サーバーの答えが大きすぎます"));
        return;
    }
    if (status == 404 && step == Step::Get) {
        start(Step::SearchAfterGet, searchUrl(m_server, m_query));
        return;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError) {
        emit failed(QStringLiteral("歌詞の検索: サーバーが時間内に答えません"));
        return;
    }
    if (status == 404) {
        emit failed(QStringLiteral("歌詞は見つかりませんでした"));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        emit failed(QStringLiteral("歌詞の検索: %1").arg(reply->errorString()));
        return;
    }
    const QByteArray body = reply->read(kMaxBodyBytes + 1);
    if (body.size() > kMaxBodyBytes) {
        emit failed(QStringLiteral("歌詞の検索: サーバーの答えが大きすぎます"));
        return;
    }
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    const bool wantList = step != Step::Get;
    if (error.error != QJsonParseError::NoError || (wantList ? !doc.isArray() : !doc.isObject())) {
        emit failed(QStringLiteral("歌詞の検索: サーバーの答えが読めません"));
        return;
    }
    QList<LyricsCandidate> list;
    if (wantList) {
        for (const QJsonValue &v : doc.array())
            if (v.isObject())
                list << candidateOf(v.toObject());
    } else {
        list << candidateOf(doc.object());
    }
    if (step == Step::Search) {
        emit candidates(list);
        return;
    }
    const int best = step == Step::Get ? (list.front().hasLyrics() ? 0 : -1) : bestCandidate(list, m_query);
    if (best < 0) {
        emit failed(list.size() == 1 && list.front().instrumental ? QStringLiteral("歌詞のない曲です (LRCLIB)")
                                                                  : QStringLiteral("歌詞は見つかりませんでした"));
        return;
    }
    emit found(list[best]);
}

} // namespace kes
