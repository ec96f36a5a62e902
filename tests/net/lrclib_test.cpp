// The LRCLIB client against a server of our own on 127.0.0.1, and where found lyrics are kept.
#include "fakelrclib.h"
#include "foundlyrics.h"
#include "lrclib.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kes;
using namespace Qt::StringLiterals;

namespace
{

QByteArray record(const char *synced, const char *plain, int duration = 200)
{
    const auto field = [](const char *v) { return v ? '"' + QByteArray(v) + '"' : QByteArray("null"); };
    return "{\"id\":1,\"trackName\":\"t\",\"artistName\":\"a\",\"albumName\":\"b\",\"duration\":"
        + QByteArray::number(duration) + ",\"instrumental\":false,\"syncedLyrics\":" + field(synced)
        + ",\"plainLyrics\":" + field(plain) + "}";
}

// What one lookup ends in: the lyrics found, or the note.
struct Outcome {
    QString found, note;
};
Outcome lookUp(FakeLrclib &server, const LyricsQuery &q, int timeoutMs = 5000)
{
    LrclibClient client;
    client.setServer(server.url());
    client.setTimeoutMs(timeoutMs);
    Outcome out;
    QObject::connect(&client, &LrclibClient::found, [&](const LyricsCandidate &c) { out.found = c.text(); });
    QObject::connect(&client, &LrclibClient::failed, [&](const QString &note) { out.note = note; });
    client.lookUp(q);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !client.busy(); }, 10000));
    return out;
}

} // namespace

TEST(LrclibClient, SendsTheTrackFieldsEscapedWithRoundedLengthAndOurName)
{
    const struct {
        LyricsQuery query;
        QByteArray target;
    } cases[] = {
        { { u"夜に駆ける"_s, u"YOASOBI"_s, u"THE BOOK"_s, 261499 },
            "/api/"
            "get?track_name=%E5%A4%9C%E3%81%AB%E9%A7%86%E3%81%91%E3%82%8B&artist_name=YOASOBI&album_name=THE%20BOOK"
            "&duration=261" },
        { { u"A&B+C=%"_s, u"x/y"_s, QString(), 261500 },
            "/api/get?track_name=A%26B%2BC%3D%25&artist_name=x%2Fy&album_name=&duration=262" },
    };
    for (const auto &c : cases) {
        FakeLrclib server;
        server.answer = [](const QByteArray &) { return FakeAnswer { 200, record("[00:01.00]x", "x") }; };
        lookUp(server, c.query);
        ASSERT_EQ(server.requests.size(), 1);
        EXPECT_EQ(server.requests[0].target, c.target);
        EXPECT_EQ(server.requests[0].userAgent, "kestrine/" KESTRINE_VERSION " (https://github.com/kestrine/kestrine)");
    }
}

TEST(LrclibClient, ChoosesSyncedLyricsSearchesAfterA404AndFailsQuietly)
{
    const QByteArray huge(LrclibClient::kMaxBodyBytes + 10, ' ');
    const QByteArray searchList = "[" + record(nullptr, "plain, near", 201) + ","
        + record("[00:01.00]far", nullptr, 300) + "," + record("[00:01.00]near", "p", 199) + "]";
    const struct {
        const char *name;
        FakeAnswer get, search;
        QString found, note;
        int requests;
    } cases[] = {
        { "synced over plain", { 200, record("[00:01.00]s", "p") }, {}, u"[00:01.00]s"_s, {}, 1 },
        { "plain when no synced", { 200, record(nullptr, "p") }, {}, u"p"_s, {}, 1 },
        { "search after 404, synced and near first", { 404, "{}" }, { 200, searchList }, u"[00:01.00]near"_s, {}, 2 },
        { "nothing anywhere", { 404, "{}" }, { 200, "[]" }, {}, u"歌詞は見つかりませんでした"_s, 2 },
        { "malformed body", { 200, "{\"syncedLyrics\":" }, {}, {}, u"歌詞の検索: サーバーの答えが読めません"_s, 1 },
        { "a list where a record belongs", { 200, "[]" }, {}, {}, u"歌詞の検索: サーバーの答えが読めません"_s, 1 },
        { "huge body, said", { 200, huge }, {}, {}, u"歌詞の検索: サーバーの答えが大きすぎます"_s, 1 },
        { "huge body, unsaid", { 200, huge, false, false }, {}, {}, u"歌詞の検索: サーバーの答えが大きすぎます"_s, 1 },
        { "no answer", { 200, {}, true }, {}, {}, u"歌詞の検索: サーバーが時間内に答えません"_s, 1 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeLrclib server;
        server.answer = [&](const QByteArray &target) { return target.startsWith("/api/get?") ? c.get : c.search; };
        const Outcome out = lookUp(server, { u"t"_s, u"a"_s, u"b"_s, 200000 }, 300);
        EXPECT_EQ(out.found, c.found);
        EXPECT_EQ(out.note, c.note);
        EXPECT_EQ(server.requests.size(), c.requests);
        if (c.requests == 2) {
            EXPECT_EQ(server.requests[1].target, "/api/search?track_name=t&artist_name=a");
        }
    }
}

TEST(FoundLyrics, KeptBesideTheTrackElseInTheCacheAndDroppedOnlyWhenOurs)
{
    QTemporaryDir dir;
    const QString cache = dir.filePath(u"cache"_s);
    const QString music = dir.filePath(u"music"_s);
    QDir().mkpath(music);
    writeBytes(music + u"/keep"_s, {});
    // Beside the track, UTF-8, marked.
    KeptLyrics kept = keepFoundLyrics(cache, music + u"/曲"_s, u"[00:01.00]歌"_s);
    EXPECT_EQ(kept.path, music + u"/曲.lrc"_s);
    EXPECT_FALSE(kept.inCache);
    EXPECT_EQ(readBytes(kept.path), QByteArray(kFoundMark) + "\n" + u"[00:01.00]歌\n"_s.toUtf8());
    // A file of the user's stays: the found lyrics go to the cache, under the track's path.
    writeBytes(music + u"/mine.lrc"_s, "mine");
    kept = keepFoundLyrics(cache, music + u"/mine"_s, u"found"_s);
    EXPECT_TRUE(kept.inCache);
    EXPECT_EQ(kept.path, cache + music + u"/mine.lrc"_s);
    EXPECT_EQ(readBytes(music + u"/mine.lrc"_s), "mine");
    // A folder that cannot be written (here a file stands in its place, which not even
    // root can write into).
    kept = keepFoundLyrics(cache, music + u"/keep/x"_s, u"found"_s);
    EXPECT_TRUE(kept.inCache);
    EXPECT_EQ(cachedLyricsFile(cache, music + u"/keep/x"_s), kept.path);
    EXPECT_TRUE(readBytes(kept.path).endsWith("found\n"));
    // The drop removes ours, beside and cached, and never the user's.
    EXPECT_EQ(dropFoundLyrics(cache, music + u"/mine"_s), 1);
    EXPECT_EQ(readBytes(music + u"/mine.lrc"_s), "mine");
    EXPECT_EQ(dropFoundLyrics(cache, music + u"/曲"_s), 1);
    EXPECT_FALSE(QFile::exists(music + u"/曲.lrc"_s));
}
