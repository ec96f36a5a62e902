// Rows built from files, the duplicate rule, numbering, sorting and the list view roles.
#include "playlisttestsupport.h"
#include "trackreader.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

using namespace kes;

using TrackRowTest = PlaylistTest;

TEST_F(TrackRowTest, EveryAcceptedSpellingGivesItsKindsTextsAndOthersAreRejected)
{
    setTag(QStringLiteral("/m/tagged.mp3"), makeTag("曲名", "歌手", "アルバム"));
    setTag(QStringLiteral("/m/song.rmp"), makeTag("Tag Title", "Tag Artist", "Tag Album"));
    ListInfo &list = FakeDecoder::instance().lists["/m/song.rmp"]; // no worker runs yet
    std::strcpy(list.text[0], "List Title");
    std::strcpy(list.text[2], "List Album");
    // nullptr: the MP3 replacement texts, kept at the record's 128 characters.
    const struct {
        const char *path, *title, *artist, *album;
    } cases[] = {
        { "/m/tagged.mp3", "曲名", "歌手", "アルバム" },
        { "/m/untagged.MP3", nullptr, nullptr, "" },
        { "/m/song.rmp", "List Title", "Tag Artist", "List Album" },
        { "/m/other.RMP", "", "", "" },
        { "/m/a.wav", "a.wav", "WAV File", "a.wav" },
        { "C:\\music\\p.MPG", "p.MPG", "MPEG File", "p.MPG" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const auto row = readTrackRow(api, QString::fromUtf8(c.path));
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->fullPath, QString::fromUtf8(c.path));
        EXPECT_EQ(row->title, c.title ? QString::fromUtf8(c.title) : QString("untagged.MP3").leftJustified(128));
        EXPECT_EQ(row->artist, c.artist ? QString::fromUtf8(c.artist) : QString("No Data").leftJustified(128));
        EXPECT_EQ(row->album, QString::fromUtf8(c.album));
    }
    for (const char *path : { "/m/a.Mp3", "/m/a.mP3", "/m/a.txt", "/m/a.m3u", "p3", "", "/m/a.mp3 " }) {
        EXPECT_FALSE(readTrackRow(api, QString::fromUtf8(path)).has_value()) << path;
        AddTrack(model, api, QString::fromUtf8(path));
    }
    EXPECT_EQ(model.count(), 0);
    EXPECT_TRUE(readTrackRow(api, QStringLiteral("mp3")).has_value()) << "the ending alone counts, not a dot";
}

TEST_F(TrackRowTest, FullTagFieldsAndLongFileNamesKeepTheirLength)
{
    TagInfo tag {};
    std::memset(tag.album, 'x', sizeof tag.album); // a full field carries no NUL
    const QString longName = QStringLiteral("/m/") + QString(200, QLatin1Char('n')) + QStringLiteral(".mp3");
    setTag(longName, tag);
    const auto row = readTrackRow(api, longName);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->album, QString(128, QLatin1Char('x')));
    EXPECT_EQ(row->title, QString(128, QLatin1Char('n')));
}

using ModelTest = PlaylistTest;

TEST_F(ModelTest, DuplicatesAreExactCaseSensitivePaths)
{
    for (const char *p : { "/m/a.mp3", "/m/a.mp3", "/m/A.mp3", "/m/a.MP3", "/m/a.mp3" })
        AddTrack(model, api, QString::fromUtf8(p));
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/a.mp3", "/m/A.mp3", "/m/a.MP3" }));
    // A batch applies the rule within itself, as adding one by one would.
    const TrackRow r { .fullPath = QStringLiteral("/m/b.wav") };
    EXPECT_EQ(model.addRows({ r, r, r }), 1);
    EXPECT_EQ(model.count(), 4);
}

TEST_F(ModelTest, NumbersComeFromTheCountAndStayThroughSortAndClear)
{
    for (const char *p : { "/m/c.wav", "/m/b.wav", "/m/a.wav" })
        AddTrack(model, api, QString::fromUtf8(p));
    model.sortByColumn(PlaylistModel::FullPathColumn);
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/a.wav", "/m/b.wav", "/m/c.wav" }));
    EXPECT_EQ(model.number(1), QStringLiteral("0003"));
    EXPECT_EQ(model.number(3), QStringLiteral("0001"));
    model.sortByColumn(PlaylistModel::NoColumn); // brings back the order of adding
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/c.wav", "/m/b.wav", "/m/a.wav" }));

    model.clear();
    EXPECT_FALSE(model.contains(QStringLiteral("/m/a.wav")));
    AddTrack(model, api, QStringLiteral("/m/a.wav"));
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/a.wav" }));
    EXPECT_EQ(model.number(1), QStringLiteral("0001"));
    EXPECT_TRUE(model.isChecked(1));
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
    EXPECT_EQ(model.rowCount(), 40000);
    EXPECT_EQ(model.fullPath(32768), QStringLiteral("/m/32768.wav"));
    model.setChecked(40000, false);
    EXPECT_FALSE(model.isChecked(40000));
    // "10000" sorts before "9999" as text, as the list view does.
    model.sortByColumn(PlaylistModel::NoColumn);
    EXPECT_EQ(model.number(1000), QStringLiteral("1000"));
    EXPECT_EQ(model.number(1001), QStringLiteral("10000"));
}

TEST_F(ModelTest, SortedModelPutsNewRowsInPlaceOneByOneOrInBatches)
{
    // The same rows added one by one and in a large batch must end in the same order:
    // stable, case-insensitive, new rows after the equal ones already there.
    const QStringList artists = { "beta", "Alpha", "gamma", "alpha", "Beta", "delta" };
    QList<TrackRow> rows(60);
    PlaylistModel single;
    single.sortByColumn(PlaylistModel::ArtistColumn);
    model.sortByColumn(PlaylistModel::ArtistColumn);
    for (int i = 0; i < rows.size(); ++i) {
        rows[i].artist = artists.at(i % artists.size());
        rows[i].fullPath = QStringLiteral("/m/%1.mp3").arg(i);
        single.addRow(rows[i]);
    }
    model.addRows(rows.mid(0, 5)); // row by row
    model.addRows(rows.mid(5)); // merged
    ASSERT_EQ(fullPaths(model), fullPaths(single));
    for (int i = 2; i <= model.count(); ++i)
        EXPECT_LE(QString::compare(model.artist(i - 1), model.artist(i), Qt::CaseInsensitive), 0);
    EXPECT_EQ(model.fullPath(1), QStringLiteral("/m/1.mp3")); // "Alpha" before the later "alpha"
    EXPECT_EQ(model.fullPath(2), QStringLiteral("/m/3.mp3"));
}

TEST_F(ModelTest, ListViewContractRolesChecksAndOutOfRangeRows)
{
    // Every change below is checked against the item model contract as it happens.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (const char *p : { "/m/b.wav", "/m/a.wav" })
        AddTrack(model, api, QString::fromUtf8(p));
    const QModelIndex first = model.index(0, PlaylistModel::NoColumn);
    EXPECT_TRUE(model.flags(first) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.flags(model.index(0, PlaylistModel::TitleColumn)) & Qt::ItemIsUserCheckable);
    EXPECT_EQ(model.data(first, Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(model.setData(first, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(model.isChecked(1));
    EXPECT_TRUE(model.anyChecked());
    model.setChecked(2, false);
    EXPECT_FALSE(model.anyChecked());
    model.setChecked(0, true); // out of range: ignored, reads empty
    model.setChecked(3, true);
    EXPECT_FALSE(model.anyChecked());
    EXPECT_EQ(model.fullPath(3), QString());
    model.sortByColumn(PlaylistModel::FullPathColumn);
    model.addRows(
        { TrackRow { .fullPath = QStringLiteral("/m/0.wav") }, TrackRow { .fullPath = QStringLiteral("/m/c.wav") } });
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/0.wav", "/m/a.wav", "/m/b.wav", "/m/c.wav" }));
    model.sortByColumn(PlaylistModel::NoColumn);
    model.uncheckAll();
    model.clear();
}
