// The last run's playlist file: what a write gives back, and what is kept of files cut
// short, edited by hand or not ours.
#include "playlisttestsupport.h"
#include "sessionlist.h"

namespace
{

QStringList pathsOf(const Session &s)
{
    QStringList out;
    for (const SessionRow &r : s.rows)
        out << r.path;
    return out;
}

} // namespace

TEST(SessionFile, WrittenRowsComeBackAndCutOrForeignFilesKeepWhatIsWhole)
{
    const Session session { { { "/m/a.mp3", true, false }, { "/m/b c.mp3", false, false },
                                { "/音楽/曲.mp3", false, true }, { "/m/line\nbreak.mp3", true, false },
                                { "/m/#hash.mp3", true, false } },
        "/m/b c.mp3", true };
    const QByteArray bytes = writeSession(session);
    const Session back = readSession(bytes);
    QList<SessionRow> expected = session.rows;
    expected.removeAt(3); // a path no M3U line can hold
    EXPECT_EQ(back.rows, expected);
    EXPECT_EQ(back.current, "/m/b c.mp3");
    EXPECT_TRUE(back.complete);
    EXPECT_TRUE(bytes.startsWith("#EXTM3U\n")) << "other players read the paths";

    QByteArray crlf = bytes;
    crlf.replace("\n", "\r\n");
    const struct {
        const char *what;
        QByteArray bytes;
        QStringList paths;
        bool complete;
    } cases[] = {
        { "CR LF lines", crlf, pathsOf(back), true },
        { "cut inside a path", bytes.left(bytes.indexOf("/音楽") + 4), { "/m/a.mp3", "/m/b c.mp3" }, false },
        { "cut after a whole line", bytes.left(bytes.indexOf("/音楽")), { "/m/a.mp3", "/m/b c.mp3" }, false },
        { "cut inside the count", bytes.left(bytes.size() - 2), pathsOf(back), false },
        { "a wrong count", QByteArray(bytes).replace("COUNT:4", "COUNT:9"), pathsOf(back), false },
        { "a plain M3U", "#EXTM3U\n/m/a.mp3\n", {}, false },
        { "another version", "#EXTM3U\n#KESTRINE-SESSION:2\n/m/a.mp3\n#KESTRINE-COUNT:1\n", {}, false },
        { "nothing", "", {}, false },
        { "binary", QByteArray(300, '\0'), {}, false },
    };
    for (const auto &c : cases) {
        const Session s = readSession(c.bytes);
        EXPECT_EQ(pathsOf(s), c.paths) << c.what;
        EXPECT_EQ(s.complete, c.complete) << c.what;
    }
}
