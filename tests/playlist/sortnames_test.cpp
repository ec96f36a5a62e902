// Column sorts by the files' sort tags, read with the rows' tags by the adder.
#include "playlisttestsupport.h"

// Kanji names sort by their tagged readings (katakana and hiragana alike); a row without
// one sorts by its text; the other columns and a list without sort tags sort as before.
TEST_F(PlaylistTest, ColumnsSortByTheReadingsTheFilesTag)
{
    const struct {
        const char *name, *title, *artist, *titleSort, *artistSort;
    } files[] = {
        { "1.mp3", "山田の歌", "山田", "やまだのうた", "ヤマダ" }, // ya
        { "2.mp3", "青い空", "青木", "アオイソラ", "あおき" }, // a
        { "3.mp3", "Kaze", "加藤", "", "カトウ" }, // ka; the title has no reading
        { "4.mp3", "坂", "佐藤", "さか", "" }, // sa; the artist has none
    };
    const auto put = [](auto &field, const char *text) { std::memcpy(field, text, std::strlen(text)); };
    QStringList paths;
    for (const auto &f : files) {
        paths << touch(QString::fromLatin1(f.name));
        TagInfo tag {};
        put(tag.title, f.title);
        put(tag.artist, f.artist);
        setTag(paths.back(), tag);
        SortTags sort {};
        put(sort.title, f.titleSort);
        put(sort.artist, f.artistSort);
        std::lock_guard lock(FakeDecoder::instance().mutex);
        FakeDecoder::instance().sortTags[paths.back().toStdString()] = sort;
    }
    const auto names = [this] {
        QString order;
        for (int i = 1; i <= model.count(); ++i)
            order += QFileInfo(model.fullPath(i)).baseName();
        return order;
    };
    const struct {
        int column;
        bool tagged;
        QString order;
    } cases[] = {
        { PlaylistModel::ArtistColumn, true, "2314" }, // あおき かとう やまだ, then 佐藤 by its text
        { PlaylistModel::TitleColumn, true, "3241" }, // Kaze (Latin first), あおいそら さか やまだ
        { PlaylistModel::FullPathColumn, true, "1234" },
        { PlaylistModel::ArtistColumn, false, "4312" }, // 佐藤 加藤 山田 青木 by code point
    };
    for (const auto &c : cases) {
        if (!c.tagged) {
            std::lock_guard lock(FakeDecoder::instance().mutex);
            FakeDecoder::instance().sortTags.clear();
        }
        model.clear();
        model.sortByColumn(c.column);
        adder->addFiles(paths);
        waitIdle();
        EXPECT_EQ(names(), c.order) << c.column << c.tagged;
    }
}
