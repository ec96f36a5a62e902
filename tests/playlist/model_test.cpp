// Rows built from files, the duplicate rule, numbering, sorting and the list view roles.
#include "playlisttestsupport.h"
#include "trackreader.h"

using namespace kes::playlist;

namespace
{

QString blanks(const QString &text)
{
    return text.leftJustified(128, QLatin1Char(' '));
}

} // namespace

using TrackRowTest = PlaylistTest;

TEST_F(TrackRowTest, EveryAcceptedSpellingGivesItsKindsTexts)
{
    const QString tagged = QStringLiteral("/m/tagged.mp3");
    setTag(tagged, makeTag("曲名", "歌手", "アルバム"));
    ListInfo list;
    std::memset(&list, 0, sizeof list);
    std::strcpy(list.text[0], "List Title");
    std::strcpy(list.text[2], "List Album");
    {
        std::lock_guard lock(FakeDecoder::instance().mutex);
        FakeDecoder::instance().lists["/m/song.rmp"] = list;
        FakeDecoder::instance().tags["/m/song.rmp"] = makeTag("Tag Title", "Tag Artist", "Tag Album");
    }
    struct Case {
        const char *path;
        const char *title;
        const char *artist;
        const char *album;
    };
    const Case cases[] = {
        { "/m/tagged.mp3", "曲名", "歌手", "アルバム" },
        { "/m/untagged.MP3", nullptr, nullptr, "" },
        { "/m/song.rmp", "List Title", "Tag Artist", "List Album" },
        { "/m/other.RMP", "", "", "" },
        { "/m/a.wav", "a.wav", "WAV File", "a.wav" },
        { "/m/a.WAV", "a.WAV", "WAV File", "a.WAV" },
        { "/m/v.avi", "v.avi", "AVI File", "v.avi" },
        { "/m/v.AVI", "v.AVI", "AVI File", "v.AVI" },
        { "/m/w.wma", "w.wma", "WMA File", "w.wma" },
        { "/m/w.WMA", "w.WMA", "WMA File", "w.WMA" },
        { "/m/p.mpg", "p.mpg", "MPEG File", "p.mpg" },
        { "C:\\music\\p.MPG", "p.MPG", "MPEG File", "p.MPG" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const auto row = readTrackRow(api, QString::fromUtf8(c.path));
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->fullPath, QString::fromUtf8(c.path));
        // nullptr: the MP3 replacement texts, kept at the record's 128 characters.
        EXPECT_EQ(row->title, c.title ? QString::fromUtf8(c.title) : blanks(QStringLiteral("untagged.MP3")));
        EXPECT_EQ(row->artist, c.artist ? QString::fromUtf8(c.artist) : blanks(QStringLiteral("No Data")));
        EXPECT_EQ(row->album, QString::fromUtf8(c.album));
    }
}

TEST_F(TrackRowTest, OtherEndingsAreRejected)
{
    for (const char *path : { "/m/a.Mp3", "/m/a.mP3", "/m/a.txt", "/m/a.m3u", "p3", "", "/m/a.mp3 " }) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(readTrackRow(api, QString::fromUtf8(path)).has_value());
        AddTrack(model, api, QString::fromUtf8(path));
    }
    EXPECT_EQ(model.count(), 0);
    // The ending alone counts, not a dot before it.
    EXPECT_TRUE(readTrackRow(api, QStringLiteral("mp3")).has_value());
}

TEST_F(TrackRowTest, FullTagFieldsAndLongFileNamesKeepTheirLength)
{
    TagInfo tag = makeTag("", "", "");
    std::memset(tag.album, 'x', sizeof tag.album); // a full field carries no NUL
    const QString longName = QStringLiteral("/m/") + QString(200, QLatin1Char('n')) + QStringLiteral(".mp3");
    setTag(longName, tag);
    const auto row = readTrackRow(api, longName);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->album, QString(128, QLatin1Char('x')));
    EXPECT_EQ(row->title, QString(128, QLatin1Char('n')));
}

TEST_F(TrackRowTest, FileKindOfMapsTheTypeCodes)
{
    const std::pair<int, const char *> codes[] = {
        { 0, "mp3" },
        { 1, "wav" },
        { 2, "rmp" },
        { 4, "mp3" },
        { 8, "mpg" },
        { 16, "mp3" },
        { 17, "rmp" },
        { 18, "rmp" },
        { 48, "mp3" },
        { 50, "rmp" },
        { -1, "err" },
        { 3, "err" },
        { 32, "err" },
        { 49, "err" },
    };
    for (const auto &[code, kind] : codes) {
        {
            std::lock_guard lock(FakeDecoder::instance().mutex);
            FakeDecoder::instance().fileTypes["/f"] = code;
        }
        EXPECT_EQ(FileKindOf(api, QStringLiteral("/f")), QString::fromLatin1(kind)) << code;
    }
}

using ModelTest = PlaylistTest;

TEST_F(ModelTest, DuplicatesAreExactCaseSensitivePaths)
{
    for (const char *p : { "/m/a.mp3", "/m/a.mp3", "/m/A.mp3", "/m/a.MP3", "/m/a.mp3" })
        AddTrack(model, api, QString::fromUtf8(p));
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/a.mp3", "/m/A.mp3", "/m/a.MP3" }));
    EXPECT_TRUE(model.contains(QStringLiteral("/m/A.mp3")));
    EXPECT_FALSE(model.contains(QStringLiteral("/m/b.mp3")));
    // A batch applies the rule within itself, as adding one by one would.
    TrackRow r;
    r.fullPath = QStringLiteral("/m/b.wav");
    EXPECT_EQ(model.addRows({ r, r, r }), 1);
    EXPECT_EQ(model.count(), 4);
    EXPECT_EQ(model.number(4), QStringLiteral("0004"));
}

TEST_F(ModelTest, NumbersComeFromTheCountAndStayThroughSortAndClear)
{
    for (const char *p : { "/m/c.wav", "/m/b.wav", "/m/a.wav" })
        AddTrack(model, api, QString::fromUtf8(p));
    model.sortByColumn(PlaylistModel::FullPathColumn);
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/a.wav", "/m/b.wav", "/m/c.wav" }));
    EXPECT_EQ(model.number(1), QStringLiteral("0003"));
    EXPECT_EQ(model.number(3), QStringLiteral("0001"));
    // Sorting by "No" brings back the order of adding.
    model.sortByColumn(PlaylistModel::NoColumn);
    EXPECT_EQ(fullPaths(model), QStringList({ "/m/c.wav", "/m/b.wav", "/m/a.wav" }));

    model.clear();
    EXPECT_EQ(model.count(), 0);
    EXPECT_FALSE(model.contains(QStringLiteral("/m/a.wav")));
    EXPECT_FALSE(model.anyChecked());
    AddTrack(model, api, QStringLiteral("/m/a.wav"));
    EXPECT_EQ(model.number(1), QStringLiteral("0001"));
    EXPECT_TRUE(model.isChecked(1));
    EXPECT_EQ(model.tag(1), QString());
}

TEST_F(ModelTest, TenThousandthRowAndFortyThousandRows)
{
    QList<TrackRow> rows;
    for (int i = 1; i <= 40000; ++i) {
        TrackRow r;
        r.fullPath = QStringLiteral("/m/%1.wav").arg(i);
        rows.append(r);
    }
    model.addRows(rows.mid(0, 9999));
    EXPECT_EQ(model.number(9999), QStringLiteral("9999"));
    EXPECT_EQ(model.addRow(rows.at(9999)), 10000);
    EXPECT_EQ(model.number(10000), QStringLiteral("10000"));
    EXPECT_EQ(model.addRows(rows), 30000); // the first 10000 are duplicates
    EXPECT_EQ(model.count(), 40000);
    EXPECT_EQ(model.rowCount(), 40000);
    EXPECT_EQ(model.number(40000), QStringLiteral("40000"));
    EXPECT_EQ(model.fullPath(32768), QStringLiteral("/m/32768.wav"));
    model.setChecked(40000, false);
    EXPECT_FALSE(model.isChecked(40000));
    // "10000" sorts before "9999" as text, as the list view does.
    model.sortByColumn(PlaylistModel::NoColumn);
    EXPECT_EQ(model.number(1), QStringLiteral("0001"));
    EXPECT_EQ(model.number(2), QStringLiteral("0002"));
    EXPECT_EQ(model.number(1000), QStringLiteral("1000"));
    EXPECT_EQ(model.number(1001), QStringLiteral("10000"));
}

TEST_F(ModelTest, SortedModelPutsNewRowsInPlaceOneByOneOrInBatches)
{
    // The same rows added one by one and in a large batch must end in the same order:
    // stable, case-insensitive, new rows after the equal ones already there.
    auto make = [](const QString &artist, int i) {
        TrackRow r;
        r.artist = artist;
        r.fullPath = QStringLiteral("/m/%1.mp3").arg(i);
        return r;
    };
    const QStringList artists = { "beta", "Alpha", "gamma", "alpha", "Beta", "delta" };
    PlaylistModel single;
    single.sortByColumn(PlaylistModel::ArtistColumn);
    model.sortByColumn(PlaylistModel::ArtistColumn);
    QList<TrackRow> batch;
    for (int i = 0; i < 60; ++i) {
        single.addRow(make(artists.at(i % artists.size()), i));
        batch.append(make(artists.at(i % artists.size()), i));
    }
    model.addRows(batch.mid(0, 5)); // row by row
    model.addRows(batch.mid(5)); // merged
    ASSERT_EQ(fullPaths(model), fullPaths(single));
    for (int i = 2; i <= model.count(); ++i)
        EXPECT_LE(QString::compare(model.artist(i - 1), model.artist(i), Qt::CaseInsensitive), 0);
    // Among equal artists the order of adding stays.
    EXPECT_EQ(model.fullPath(1), QStringLiteral("/m/1.mp3")); // "Alpha"
    EXPECT_EQ(model.fullPath(2), QStringLiteral("/m/3.mp3")); // "alpha"
    // A sort on the same column again changes nothing.
    const QStringList before = fullPaths(model);
    model.sortByColumn(PlaylistModel::ArtistColumn);
    EXPECT_EQ(fullPaths(model), before);
}

TEST_F(ModelTest, ListViewRolesAndBulkChecks)
{
    model.checkAll(); // empty: nothing happens
    for (const char *p : { "/m/a.wav", "/m/b.wav", "/m/c.wav" })
        AddTrack(model, api, QString::fromUtf8(p));
    const QModelIndex first = model.index(0, PlaylistModel::NoColumn);
    EXPECT_TRUE(model.flags(first) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.flags(model.index(0, PlaylistModel::TitleColumn)) & Qt::ItemIsUserCheckable);
    EXPECT_EQ(model.data(first, Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(model.data(model.index(1, PlaylistModel::ArtistColumn)).toString(), QStringLiteral("WAV File"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Music Title"));

    int changed = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { ++changed; });
    EXPECT_TRUE(model.setData(first, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(model.isChecked(1));
    EXPECT_EQ(changed, 1);
    model.setTag(2, QStringLiteral("END"));
    model.uncheckAll();
    EXPECT_FALSE(model.isChecked(2) || model.isChecked(3));
    EXPECT_FALSE(model.anyChecked());
    model.setChecked(3, true);
    EXPECT_TRUE(model.anyChecked());
    model.setChecked(3, false);
    EXPECT_FALSE(model.anyChecked());
    model.checkAll();
    EXPECT_TRUE(model.isChecked(1) && model.isChecked(2) && model.isChecked(3));
    EXPECT_EQ(model.tag(2), QStringLiteral("END")); // checks leave tags alone
    // Out of range reads are empty, writes are ignored.
    model.setChecked(0, false);
    model.setChecked(4, false);
    EXPECT_EQ(model.fullPath(0), QString());
    EXPECT_EQ(model.fullPath(4), QString());

    const QList<PlaylistColumn> columns = PlaylistModel::SetupColumns();
    ASSERT_EQ(columns.size(), 5);
    EXPECT_EQ(columns.at(1).key, QStringLiteral("Tilte"));
    EXPECT_EQ(columns.at(4).widthTwips, 10000);
    EXPECT_EQ(columns.at(0).widthPixels(), 50);
}
