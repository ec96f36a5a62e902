// The asynchronous adder: order, duplicates, drop rules, job order, rows before their tags.
#include "playlistcommands.h"
#include "playlistfiles.h"
#include "playlisttestsupport.h"

#include <QDeadlineTimer>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <thread>

// Tag reads wait while the gate is 0, and take gate - 1 ms each once it is open.
static std::atomic<int> gGate { 1 };
static int32_t gatedTagInfo(const char *path, TagInfo *tag)
{
    while (gGate.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(gGate.load() - 1));
    return FakeDecoder::api().getFileTagInfo(path, tag);
}

class AdderTest : public PlaylistTest
{
protected:
    void TearDown() override { gGate = 1; } // no worker waits when the adder goes
    // A new adder whose tag reads pass the gate; rows of addFiles(paths) are in on return.
    void gatedAdd(int gate, const QStringList &paths)
    {
        adder.reset(); // its last reads may still pass the open gate
        gGate = gate;
        DecoderApi gated = api;
        gated.getFileTagInfo = gatedTagInfo;
        adder = std::make_unique<TrackAdder>(&model, gated, &prompter);
        adder->addFiles(paths);
        ASSERT_TRUE(adder->waitForRows(5000));
    }
    // File names, or with titles: each row's title, "?" after it while its tags are pending.
    QStringList names(bool titles = false) const
    {
        QStringList out;
        for (int i = 1; i <= model.count(); ++i)
            out << (titles ? model.title(i).trimmed() + (model.tagsPending(i) ? "?" : "")
                           : QFileInfo(model.fullPath(i)).fileName());
        return out;
    }
};

TEST_F(AdderTest, DropAddsInDropOrderAndSkipsWhatTheRulesSkipSilently)
{
    adder->addFiles({ touch("listed.mp3") });
    waitIdle();
    const QString unknownMp3 = touch("garbage.mp3");
    const QString knownBak = touch("song.mp3.bak");
    const QString upperM3u = dir.filePath("upper.M3U");
    writeBytes(upperM3u, (touch("inside.wav") + "\r\n").toUtf8());
    writeBytes(dir.filePath("list.m3u"), "#EXTM3U\r\nfrom-list.mp3\r\n");
    auto &types = FakeDecoder::instance().fileTypes; // no worker runs now
    types[unknownMp3.toStdString()] = -1; // the library does not know it
    types[knownBak.toStdString()] = 0; // known, but not an accepted ending
    types[upperM3u.toStdString()] = 0;
    setTag(dir.filePath("b.mp3"), makeTag("Bee", "Artist B", "Album"));
    // A lower-case "m3u" loads that playlist and ends the drop.
    adder->dropFiles({ touch("c.mp3"), dir.filePath("listed.mp3"), touch("notes.txt"), unknownMp3, knownBak, upperM3u,
        touch("a.mp3"), touch("b.mp3"), dir.filePath("list.m3u"), touch("after.mp3"), touch("from-list.mp3") });
    waitIdle();
    EXPECT_EQ(names(), QStringList({ "listed.mp3", "c.mp3", "a.mp3", "b.mp3", "from-list.mp3" }));
    EXPECT_EQ(model.title(4), QStringLiteral("Bee"));
    EXPECT_TRUE(prompter.messages.isEmpty());
    // Added as files (not dropped), the library's verdict does not count.
    adder->addFiles({ unknownMp3 });
    waitIdle();
    EXPECT_EQ(names().last(), QStringLiteral("garbage.mp3"));
}

// Added formats: an accepted ending and a content the library knows, each asked on its own.
TEST_F(AdderTest, DroppedFilesOfTheAddedFormatsPassTheSameTwoTests)
{
    auto &types = FakeDecoder::instance().fileTypes; // no worker runs now
    const std::pair<const char *, int32_t> files[] = { { "a.flac", VBMP3_TYPE_FLAC }, { "b.ogg", VBMP3_TYPE_OGG_OPUS },
        { "c.opus", VBMP3_TYPE_UNKNOWN }, { "d.FLAC", VBMP3_TYPE_FLAC }, { "e.Flac", VBMP3_TYPE_FLAC },
        { "f.m4a", VBMP3_TYPE_MP4 }, { "g.wv", VBMP3_TYPE_WAVPACK }, { "h.ape", VBMP3_TYPE_APE },
        { "i.mp3", VBMP3_TYPE_FLAC }, { "j.oga", VBMP3_TYPE_OGG_FLAC }, { "k.aac", VBMP3_TYPE_MP4 },
        { "l.OPUS", VBMP3_TYPE_OGG_OPUS }, { "m.flac", VBMP3_TYPE_MEDIA + VBMP3_TYPE_ID3V1 } };
    QStringList paths;
    for (const auto &[name, type] : files) {
        paths << touch(name);
        types[paths.last().toStdString()] = type;
    }
    adder->dropFiles(paths);
    waitIdle();
    EXPECT_EQ(
        names(), QStringList({ "a.flac", "b.ogg", "d.FLAC", "f.m4a", "g.wv", "h.ape", "i.mp3", "j.oga", "l.OPUS" }));
    EXPECT_TRUE(prompter.messages.isEmpty());
}

// Wide rules: a playlist ends the drop, a folder adds what the search finds, refusals named once (five at most).
TEST_F(AdderTest, WideDropsTakeAnyPlaylistWalkFoldersAndTellWhatWasLeftOut)
{
    adder->setDropRules({ true, QStringLiteral("*.mp3;*.wav") });
    adder->addFiles({ touch("listed.mp3") });
    waitIdle();
    touch("album/1.mp3");
    touch("album/sub/2.wav");
    touch("album/cover.jpg");
    touch("album/.hidden.mp3");
    const QString unknownMp3 = touch("garbage.mp3");
    FakeDecoder::instance().fileTypes[unknownMp3.toStdString()] = -1;
    writeBytes(dir.filePath("list.PLS"), ("[playlist]\nFile1=" + touch("from-pls.mp3") + "\n").toUtf8());
    adder->dropFiles({ touch("a.mp3"), touch("notes.txt"), dir.filePath("listed.mp3"), dir.filePath("album"),
        unknownMp3, touch("b.wav"), dir.filePath("list.PLS"), touch("after.mp3") });
    waitIdle();
    EXPECT_EQ(names(), QStringList({ "listed.mp3", "a.mp3", "1.mp3", "2.wav", "b.wav", "from-pls.mp3" }));
    EXPECT_EQ(prompter.texts(), QStringList { "2 個のファイルを追加できませんでした: notes.txt、garbage.mp3" });

    prompter.messages.clear();
    QStringList texts;
    for (int i = 0; i < 7; ++i)
        texts << touch(QStringLiteral("n%1.txt").arg(i));
    writeBytes(dir.filePath("upper.M3U"), (touch("from-upper.wav") + "\r\n").toUtf8());
    writeBytes(dir.filePath("utf8.m3u8"), (touch(QStringLiteral("曲.wav")) + "\n").toUtf8());
    adder->dropFiles(texts + QStringList { dir.filePath("upper.M3U") });
    adder->dropFiles({ dir.filePath("utf8.m3u8") });
    waitIdle();
    EXPECT_EQ(names().mid(6), QStringList({ "from-upper.wav", "曲.wav" }));
    EXPECT_EQ(prompter.texts(),
        QStringList { "7 個のファイルを追加できませんでした: n0.txt、n1.txt、n2.txt、n3.txt、n4.txt …" });
}

// Jobs land in turn; a vanished file is passed over; an unreadable playlist ends its job, named.
TEST_F(AdderTest, JobsLandInTheOrderTheyWereGiven)
{
    QByteArray m3u;
    QStringList expected;
    for (int i = 0; i < 700; ++i)
        m3u += touch(expected.emplace_back(QStringLiteral("l%1.mp3").arg(i))).toUtf8() + "\n";
    writeBytes(dir.filePath("big.m3u"), m3u);
    adder->loadM3u(dir.filePath("big.m3u"));
    adder->dropFiles({ touch("dropped.wav") });
    adder->addFiles({ touch("added.wav"), dir.filePath("l5.mp3"), dir.filePath("gone.mp3") }, true);
    adder->loadM3u(dir.filePath("missing.m3u"));
    waitIdle();
    EXPECT_EQ(names(), (expected + QStringList { "dropped.wav", "added.wav" }));
    EXPECT_EQ(prompter.texts(), QStringList { readFailedMessage(dir.filePath("missing.m3u")) });
}

// Rows show at once and get their own tags in place; clears stop the add and drop pending tags; CSV and sort wait.
TEST_F(AdderTest, RowsGoInBeforeTheirTagsWhichFindThemByIdentity)
{
    setTag(touch("a.mp3"), makeTag("Ta.mp3", "", ""));
    setTag(touch("b.mp3"), makeTag("Tb.mp3", "", ""));
    gatedAdd(0, { dir.filePath("a.mp3"), dir.filePath("b.mp3") });
    const QStringList again { touch("z.wav"), dir.filePath("a.mp3"), dir.filePath("b.mp3") };
    adder->addFiles(again);
    adder->loadM3u(dir.filePath("never.m3u"));
    model.clear();
    ASSERT_TRUE(adder->waitForRows(5000));
    EXPECT_EQ(names(), QStringList());
    EXPECT_TRUE(prompter.messages.isEmpty()) << "the cleared job's playlist was never read";
    adder->addFiles(again);
    ASSERT_TRUE(adder->waitForRows(5000));
    EXPECT_EQ(names(true), QStringList({ "z.wav", "a.mp3?", "b.mp3?" }));
    EXPECT_EQ(model.number(1), QStringLiteral("0001"));
    PlaylistCommands commands(model, *adder, prompter, dir.path());
    prompter.inputs << dir.filePath("tags.csv");
    commands.Csv_Save();
    EXPECT_TRUE(prompter.messages.isEmpty());
    gGate = 1;
    waitIdle();
    EXPECT_EQ(names(true), QStringList({ "z.wav", "Ta.mp3", "Tb.mp3" }));
    EXPECT_EQ(prompter.texts(), QStringList({ "3個のファイルをCSV形式で保存しました｡" }));
    EXPECT_TRUE(readBytes(dir.filePath("tags.csv")).contains("\",\"Tb.mp3\",\"No Data"));

    const struct {
        int sortColumn;
        QStringList before, after;
    } cases[] = {
        { -1, { "b.mp3?", "a.mp3?", "c.wav", "d.mp3?" }, { "Tb.mp3", "Ta.mp3", "c.wav", "d.mp3" } },
        { PlaylistModel::TitleColumn, { "a.mp3?", "b.mp3?", "c.wav", "d.mp3?" },
            { "c.wav", "d.mp3", "Ta.mp3", "Tb.mp3" } },
    };
    for (const auto &c : cases) {
        model.clear();
        model.sortByColumn(c.sortColumn);
        gatedAdd(0, { dir.filePath("b.mp3"), dir.filePath("a.mp3"), touch("c.wav"), touch("d.mp3") });
        EXPECT_EQ(names(true), c.before);
        EXPECT_EQ(model.artist(1).trimmed(), QStringLiteral("No Data"));
        gGate = 1;
        waitIdle();
        EXPECT_EQ(names(true), c.after) << c.sortColumn;
    }
}

// Cancelling drops later jobs (tags of rows in still come); stop or destroy return soon and call nobody.
TEST_F(AdderTest, CancelStopOrQuitWhileTagsAreRead)
{
    QStringList many;
    for (int i = 0; i < 300; ++i)
        many << touch(QStringLiteral("s%1.mp3").arg(i));
    for (int mode : { 0, 1, 2 }) {
        model.clear();
        gatedAdd(6, many);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.tagsPending(1); }, 5000));
        adder->addFiles({ touch("later.wav") });
        adder->loadM3u(dir.filePath("never.m3u"));
        bool called = false;
        adder->withTags({ model.row(300) }, &model, [&](const QList<TrackRow> &r) { called = !r[0].tagsPending; });
        const QDeadlineTimer soon(1000);
        mode == 0 ? adder->cancel() : mode == 1 ? adder->stop() : adder.reset();
        EXPECT_FALSE(soon.hasExpired()) << mode;
        mode == 0 ? waitIdle() : testApp().processEvents();
        EXPECT_EQ(called, mode == 0) << mode;
        EXPECT_EQ(model.count(), 300) << mode;
        EXPECT_EQ(model.tagsPending(300), mode != 0) << mode;
        EXPECT_TRUE(prompter.messages.isEmpty()) << "the cancelled playlist was never read";
    }
}

// Cancelling from a new-rows reaction ends that job and drops those behind; one asked meanwhile runs after.
TEST_F(AdderTest, CancelFromARowReactionEndsTheJobThere)
{
    QStringList many, first;
    for (int i = 0; i < 2000; ++i)
        many << touch(QStringLiteral("r%1.wav").arg(i));
    int idles = 0;
    QObject::connect(adder.get(), &TrackAdder::rowsIdle, adder.get(), [&] { ++idles; });
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, adder.get(), [&] {
        if (!first.isEmpty())
            return;
        first = names();
        adder->cancel();
        adder->addFiles({ touch("meanwhile.wav") });
    });
    adder->addFiles(many);
    adder->loadM3u(dir.filePath("never.m3u"));
    waitIdle();
    ASSERT_FALSE(first.isEmpty());
    EXPECT_LT(first.size(), many.size());
    EXPECT_EQ(names(), first + QStringList { "meanwhile.wav" });
    EXPECT_EQ(idles, 1);
    EXPECT_TRUE(prompter.messages.isEmpty()) << "the cancelled playlist was never read";
}

TEST(DroppedPathsTest, LocalFilesOfTheUriListInOrder)
{
    QMimeData data;
    data.setUrls({ QUrl(QStringLiteral("file:///m/b%20c.wav")), QUrl(QStringLiteral("http://host/x.mp3")),
        QUrl::fromLocalFile(QStringLiteral("/m/曲.mp3")), QUrl(QStringLiteral("file:///m/a.m3u")) });
    EXPECT_EQ(PlaylistCommands::droppedPaths(&data), QStringList({ "/m/b c.wav", "/m/曲.mp3", "/m/a.m3u" }));
    EXPECT_TRUE(PlaylistCommands::droppedPaths(nullptr).isEmpty());
}

// Clearing the list ends the playlist file still being read, also before its first row is in.
TEST_F(AdderTest, ClearingAListThatIsStillEmptyEndsTheAdding)
{
    QByteArray m3u;
    for (int i = 0; i < 20; ++i)
        m3u += touch(QStringLiteral("e%1.wav").arg(i)).toUtf8() + '\n';
    writeBytes(dir.filePath("list.m3u"), m3u);
    PlaylistCommands commands(model, *adder, prompter, dir.path());
    commands.LoadM3u(dir.filePath("list.m3u"));
    ASSERT_EQ(model.count(), 0);
    commands.List_Clear();
    waitIdle();
    EXPECT_EQ(model.count(), 0);
}
