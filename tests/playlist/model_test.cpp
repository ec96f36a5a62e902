// Rows built from files, the duplicate rule, numbering, sorting and the list view roles.
#include "playlisttestsupport.h"

#include <QAbstractItemModelTester>

using TrackRowTest = PlaylistTest;

TEST_F(TrackRowTest, EveryAcceptedSpellingGivesItsKindsTextsAndOthersAreRejected)
{
    const QString longName = "/m/" + QString(200, u'n') + ".mp3";
    TagInfo fullAlbum {};
    std::memset(fullAlbum.album, 'x', sizeof fullAlbum.album); // a full field carries no NUL
    setTag(longName, fullAlbum);
    setTag("/m/tagged.mp3", makeTag("曲名", "歌手", "アルバム"));
    setTag("/m/曲.flac", makeTag("フラック", "歌手", "アルバム"));
    setTag("/m/song.rmp", makeTag("Tag Title", "Tag Artist", "Tag Album"));
    ListInfo &list = FakeDecoder::instance().lists["/m/song.rmp"]; // no worker runs yet
    std::strcpy(list.text[0], "List Title");
    std::strcpy(list.text[2], "List Album");
    // The MP3 replacement texts are kept at the record's 128 characters.
    auto field = [](const QString &text) { return text.leftJustified(128); };
    // path, title, artist, album
    const std::tuple<QString, QString, QString, QString> cases[] = { { "/m/tagged.mp3", "曲名", "歌手", "アルバム" },
        { "/m/untagged.MP3", field("untagged.MP3"), field("No Data"), "" },
        { longName, QString(128, u'n'), field("No Data"), QString(128, u'x') },
        { "mp3", field("mp3"), field("No Data"), "" }, // the ending alone counts, not a dot
        { "/m/song.rmp", "List Title", "Tag Artist", "List Album" }, { "/m/other.RMP", "", "", "" },
        { "/m/a.wav", "a.wav", "WAV File", "a.wav" },
        { "/m/AC\\DC p.MPG", "AC\\DC p.MPG", "MPEG File", "AC\\DC p.MPG" },
        // The added formats take their tags as MP3 files do, in either spelling of the ending.
        { "/m/曲.flac", "フラック", "歌手", "アルバム" }, { "/m/b.OPUS", field("b.OPUS"), field("No Data"), "" },
        { "/m/c.ogg", field("c.ogg"), field("No Data"), "" }, { "/m/d.oga", field("d.oga"), field("No Data"), "" },
        { "/m/e.M4A", field("e.M4A"), field("No Data"), "" }, { "/m/f.wv", field("f.wv"), field("No Data"), "" },
        { "/m/g.ape", field("g.ape"), field("No Data"), "" }, { "wv", field("wv"), field("No Data"), "" } };
    for (const auto &[path, title, artist, album] : cases) {
        const auto row = readTrackRow(api, path);
        ASSERT_TRUE(row.has_value()) << path.toStdString();
        EXPECT_EQ(std::tie(row->fullPath, row->title, row->artist, row->album), std::tie(path, title, artist, album));
    }
    for (const char *path : { "/m/a.Mp3", "/m/a.mP3", "/m/a.txt", "/m/a.m3u", "p3", "", "/m/a.mp3 ", "/m/a.Flac",
             "/m/a.fla", "/m/a.Opus", "/m/a.ogg.part", "/m/a.aac", "/m/a.mp4", "v" }) {
        EXPECT_FALSE(readTrackRow(api, path).has_value()) << path;
        AddTrack(model, api, path);
    }
    EXPECT_EQ(model.count(), 0);
}

// Type codes as the drop rule and now-playing names read them: the classic mapping and each added format.
TEST_F(TrackRowTest, TypeCodesGiveTheKindOfTheContent)
{
    const std::pair<int32_t, const char *> cases[] = { { 0, "mp3" }, { 4, "mp3" }, { 16, "mp3" }, { 48, "mp3" },
        { 1, "wav" }, { 2, "rmp" }, { 17, "rmp" }, { 18, "rmp" }, { 50, "rmp" }, { 8, "mpg" }, { 3, "flac" },
        { 5, "flac" }, { 6, "ogg" }, { 7, "opus" }, { 9, "m4a" }, { 10, "wv" }, { 11, "ape" }, { -1, "err" },
        { 12, "err" }, { 19, "err" }, { 24, "err" }, { 32, "err" }, { 49, "err" }, { 51, "err" } };
    for (const auto &[code, kind] : cases) {
        FakeDecoder::instance().fileTypes["/m/song.mp3"] = code;
        EXPECT_EQ(FileKindOf(api, "/m/song.mp3"), QString::fromLatin1(kind)) << code;
    }
}

class ModelTest : public PlaylistTest
{
protected:
    // Every change is checked against the item model contract as it happens.
    QAbstractItemModelTester tester { &model, QAbstractItemModelTester::FailureReportingMode::Fatal };
};

// A path is a row's identity; numbers follow the count through sorting and clear; checks; out-of-range rows inert.
TEST_F(ModelTest, DuplicatesNumbersAndChecks)
{
    for (const char *p : { "/m/c.wav", "/m/c.wav", "/m/C.wav", "/m/b.wav", "/m/a.wav", "/m/c.wav" })
        AddTrack(model, api, p);
    const TrackRow r { .fullPath = "/m/d.wav" };
    EXPECT_EQ(model.addRows({ r, r, r }), 1);
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/c.wav", "/m/C.wav", "/m/b.wav", "/m/a.wav", "/m/d.wav" }));
    model.sortByColumn(PlaylistModel::FullPathColumn);
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/a.wav", "/m/b.wav", "/m/c.wav", "/m/C.wav", "/m/d.wav" }));
    EXPECT_EQ(model.number(1), QStringLiteral("0004"));
    model.sortByColumn(PlaylistModel::NoColumn); // brings back the order of adding
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/c.wav", "/m/C.wav", "/m/b.wav", "/m/a.wav", "/m/d.wav" }));
    model.clear();
    EXPECT_FALSE(model.contains(QStringLiteral("/m/a.wav")));
    AddTrack(model, api, QStringLiteral("/m/a.wav"));
    EXPECT_TRUE(model.number(1) == "0001" && model.isChecked(1));
    const QModelIndex first = model.index(0, PlaylistModel::NoColumn);
    EXPECT_TRUE(model.flags(first) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.flags(model.index(0, PlaylistModel::TitleColumn)) & Qt::ItemIsUserCheckable);
    EXPECT_EQ(model.data(first, Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(model.setData(first, Qt::Unchecked, Qt::CheckStateRole));
    model.setChecked(0, true);
    model.setChecked(2, true);
    EXPECT_TRUE(!model.isChecked(1) && !model.anyChecked() && model.fullPath(2).isEmpty());
}

TEST_F(ModelTest, TenThousandthRowAndFortyThousandRows)
{
    QList<TrackRow> rows(40000);
    for (int i = 0; i < rows.size(); ++i)
        rows[i].fullPath = QStringLiteral("/m/%1.wav").arg(i + 1);
    model.addRows(rows.mid(0, 9999));
    EXPECT_EQ(model.addRow(rows.at(9999)), 10000);
    EXPECT_EQ(model.number(10000), QStringLiteral("10000"));
    EXPECT_EQ(model.addRows(rows), 30000); // the first 10000 are duplicates
    EXPECT_EQ(model.fullPath(32768), QStringLiteral("/m/32768.wav"));
    model.setChecked(40000, false);
    EXPECT_FALSE(model.isChecked(40000));
    model.sortByColumn(PlaylistModel::NoColumn); // "10000" sorts before "9999" as text, as the list view does
    EXPECT_TRUE(model.number(1000) == "1000" && model.number(1001) == "10000");
}

// Rows added one by one or in a batch end in the same stable, case-insensitive order.
TEST_F(ModelTest, SortedModelPutsNewRowsInPlaceOneByOneOrInBatches)
{
    const QStringList artists = { "beta", "Alpha", "gamma", "alpha", "Beta", "delta" };
    QList<TrackRow> rows(60);
    PlaylistModel single;
    single.sortByColumn(PlaylistModel::ArtistColumn);
    model.sortByColumn(PlaylistModel::ArtistColumn);
    for (int i = 0; i < rows.size(); ++i) {
        rows[i] = { .artist = artists.at(i % artists.size()), .fullPath = QStringLiteral("/m/%1.mp3").arg(i) };
        single.addRow(rows[i]);
    }
    model.addRows(rows.mid(0, 5)); // row by row
    model.addRows(rows.mid(5)); // merged
    ASSERT_EQ(fullPaths(model), fullPaths(single));
    for (int i = 2; i <= model.count(); ++i)
        EXPECT_LE(QString::compare(model.artist(i - 1), model.artist(i), Qt::CaseInsensitive), 0);
    EXPECT_EQ(fullPaths(model).mid(0, 2), QStringList({ "/m/1.mp3", "/m/3.mp3" })); // "Alpha" before "alpha"
}

// Removing scattered rows keeps index, checked count and ids right; the playing row follows its track.
TEST_F(ModelTest, RemovedRowsAndThePlayingRow)
{
    for (const char *p : { "/m/f.wav", "/m/e.wav", "/m/d.wav", "/m/c.wav", "/m/b.wav", "/m/a.wav" })
        AddTrack(model, api, p);
    model.setChecked(2, false); // e
    model.setChecked(6, false); // a
    model.setPlayingRow(3); // d
    model.sortByColumn(PlaylistModel::FullPathColumn);
    EXPECT_EQ(model.playingRow(), 4);
    EXPECT_TRUE(model.data(model.index(3, PlaylistModel::ArtistColumn), PlaylistModel::PlayingRole).toBool());
    EXPECT_FALSE(model.data(model.index(2, PlaylistModel::ArtistColumn), PlaylistModel::PlayingRole).toBool());
    // a, b, c, d, e, f: remove a, c and e (with repeats and rows that do not exist).
    EXPECT_EQ(model.removeRowsAt({ 5, 1, 3, 3, 0, 99 }), 3);
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/b.wav", "/m/d.wav", "/m/f.wav" }));
    EXPECT_EQ(
        QStringList({ model.number(1), model.number(2), model.number(3) }), QStringList({ "0005", "0003", "0001" }));
    EXPECT_EQ(model.playingRow(), 2);
    EXPECT_FALSE(model.contains("/m/a.wav"));
    EXPECT_TRUE(model.anyChecked());
    model.removeRowsAt({ 1, 3 });
    model.setChecked(1, false);
    EXPECT_FALSE(model.anyChecked()) << "the removed rows' checks are gone too";
    EXPECT_EQ(model.addRow({ .fullPath = "/m/a.wav" }), 1) << "a removed path may come back";
    const quint64 dId = model.row(2).id;
    EXPECT_EQ(model.indexOfId(dId), 2);
    model.removeRowsAt({ 2 });
    EXPECT_EQ(model.indexOfId(dId), 0);
    EXPECT_EQ(model.playingRow(), 0);
    model.setPlayingRow(1);
    model.clear();
    EXPECT_EQ(model.playingRow(), 0);
}
