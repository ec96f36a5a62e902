// The asynchronous adder: order, duplicates at insertion time, drop rules, job order.
#include "playlistcommands.h"
#include "playlisttestsupport.h"

#include <QMimeData>
#include <QUrl>

using namespace kes;

class AdderTest : public PlaylistTest
{
protected:
    QStringList names() const
    {
        QStringList out;
        for (const QString &p : fullPaths(model))
            out << QFileInfo(p).fileName();
        return out;
    }
};

TEST_F(AdderTest, DropAddsInDropOrderAndSkipsWhatTheRulesSkipSilently)
{
    const QString listed = touch("listed.mp3");
    adder->addFiles({ listed });
    waitIdle();
    const QString unknownMp3 = touch("garbage.mp3");
    const QString knownBak = touch("song.mp3.bak");
    const QString upperM3u = dir.filePath("upper.M3U");
    writeBytes(upperM3u, (touch("inside.wav") + "\r\n").toUtf8());
    {
        std::lock_guard lock(FakeDecoder::instance().mutex);
        FakeDecoder::instance().fileTypes[unknownMp3.toStdString()] = -1; // the library does not know it
        FakeDecoder::instance().fileTypes[knownBak.toStdString()] = 0; // known, but not an accepted ending
        FakeDecoder::instance().fileTypes[upperM3u.toStdString()] = 0;
    }
    setTag(dir.filePath("b.mp3"), makeTag("Bee", "Artist B", "Album"));
    adder->dropFiles(
        { touch("c.mp3"), listed, touch("notes.txt"), unknownMp3, knownBak, upperM3u, touch("a.mp3"), touch("b.mp3") });
    waitIdle();
    EXPECT_EQ(names(), QStringList({ "listed.mp3", "c.mp3", "a.mp3", "b.mp3" }));
    EXPECT_EQ(model.title(4), QStringLiteral("Bee"));
    EXPECT_TRUE(prompter.messages.isEmpty());
    // Added as files (not dropped), the library's verdict does not count.
    adder->addFiles({ unknownMp3 });
    waitIdle();
    EXPECT_EQ(names().last(), QStringLiteral("garbage.mp3"));
}

TEST_F(AdderTest, LowerCaseM3uInADropEndsTheDrop)
{
    touch("from-list.mp3");
    writeBytes(dir.filePath("list.m3u"), "#EXTM3U\r\nfrom-list.mp3\r\n");
    adder->dropFiles({ touch("before.mp3"), dir.filePath("list.m3u"), touch("after.mp3") });
    waitIdle();
    EXPECT_EQ(names(), QStringList({ "before.mp3", "from-list.mp3" }));
}

TEST_F(AdderTest, JobsLandInTheOrderTheyWereGiven)
{
    QByteArray m3u;
    QStringList expected;
    for (int i = 0; i < 700; ++i) {
        expected << QStringLiteral("l%1.mp3").arg(i);
        m3u += touch(expected.last()).toUtf8() + "\n";
    }
    writeBytes(dir.filePath("big.m3u"), m3u);
    adder->loadM3u(dir.filePath("big.m3u"));
    adder->dropFiles({ touch("dropped.wav") });
    adder->addFiles({ touch("added.wav"), dir.filePath("l5.mp3") });
    EXPECT_FALSE(adder->isIdle());
    waitIdle();
    EXPECT_EQ(names(),
        expected << "dropped.wav"
                 << "added.wav");
}

TEST_F(AdderTest, RowListedWhenSentOutButClearedBeforeAddingIsReadAfterAll)
{
    const QString a = touch("a.mp3");
    setTag(a, makeTag("Title A", "Artist A", ""));
    adder->addFiles({ a });
    waitIdle();
    // Sent out while a.mp3 is listed, so its tags are not read; the list is cleared
    // before the rows come back, so it must be added with its real texts.
    adder->addFiles({ touch("z.wav"), a, touch("b.wav") });
    model.clear();
    waitIdle();
    EXPECT_EQ(names(), QStringList({ "z.wav", "a.mp3", "b.wav" }));
    EXPECT_EQ(model.title(2), QStringLiteral("Title A"));
}

TEST_F(AdderTest, CancelDropsPendingJobsAndTheAdderGoesOn)
{
    QStringList many;
    for (int i = 0; i < 2000; ++i)
        many << dir.filePath(QStringLiteral("n%1.wav").arg(i));
    adder->addFiles(many);
    adder->loadM3u(dir.filePath("never.m3u"));
    adder->cancel();
    EXPECT_TRUE(adder->isIdle());
    testApp().processEvents();
    adder->addFiles({ touch("after.wav") });
    waitIdle();
    EXPECT_EQ(names(), QStringList({ "after.wav" })) << "nothing read before the cancel reaches the list";
    EXPECT_TRUE(prompter.messages.isEmpty()) << "the cancelled playlist was never read";
}

TEST_F(AdderTest, PlaylistThatCannotBeReadEndsInAMessage)
{
    QDir().mkpath(dir.filePath("folder.m3u"));
    for (const QString &path : { dir.filePath("missing.m3u"), dir.filePath("folder.m3u") }) {
        prompter.messages.clear();
        adder->loadM3u(path);
        waitIdle();
        ASSERT_EQ(prompter.messages.size(), 1);
        EXPECT_TRUE(prompter.messages.at(0).text.startsWith(QStringLiteral("ファイル「")));
        EXPECT_TRUE(prompter.messages.at(0).text.contains(path)) << prompter.messages.at(0).text.toStdString();
    }
    EXPECT_EQ(model.count(), 0);
}

TEST(DroppedPathsTest, LocalFilesOfTheUriListInOrder)
{
    QMimeData data;
    data.setUrls({ QUrl(QStringLiteral("file:///m/b%20c.wav")), QUrl(QStringLiteral("http://host/x.mp3")),
        QUrl::fromLocalFile(QStringLiteral("/m/曲.mp3")), QUrl(QStringLiteral("file:///m/a.m3u")) });
    EXPECT_EQ(PlaylistCommands::DroppedPaths(&data), QStringList({ "/m/b c.wav", "/m/曲.mp3", "/m/a.m3u" }));
    EXPECT_TRUE(PlaylistCommands::DroppedPaths(nullptr).isEmpty());
}
