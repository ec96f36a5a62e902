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
        { "/m/AC\\DC p.MPG", "AC\\DC p.MPG", "MPEG File", "AC\\DC p.MPG" } };
    for (const auto &[path, title, artist, album] : cases) {
        const auto row = readTrackRow(api, path);
        ASSERT_TRUE(row.has_value()) << path.toStdString();
        EXPECT_EQ(std::tie(row->fullPath, row->title, row->artist, row->album), std::tie(path, title, artist, album));
    }
    for (const char *path : { "/m/a.Mp3", "/m/a.mP3", "/m/a.txt", "/m/a.m3u", "p3", "", "/m/a.mp3 " }) {
        EXPECT_FALSE(readTrackRow(api, path).has_value()) << path;
        AddTrack(model, api, path);
    }
    EXPECT_EQ(model.count(), 0);
}

class ModelTest : public PlaylistTest
{
protected:
    // Every change is checked against the item model contract as it happens.
    QAbstractItemModelTester tester { &model, QAbstractItemModelTester::FailureReportingMode::Fatal };
};

// A path is a row's identity (exactly, case-sensitive, within a batch too); numbers come
// from the count, stay through sorting and start again after clear; the list view's check
// boxes; rows out of range read empty and take no writes.
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

// The same rows added one by one and in a large batch end in the same order: stable,
// case-insensitive, new rows after the equal ones already there.
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
