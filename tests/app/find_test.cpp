// The find window over the real main window: rows found however their titles are typed,
// chosen rows played as a double click plays them, and the playlist left as it was.
#include "findwindow.h"
#include "rowfinder.h"
#include "windowtest.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

using FindTest = WindowTest;
using kes::FindWindow;
using kes::RowFinder;

namespace
{

TrackRow row(const QString &path, const QString &title, const QString &artist = {})
{
    return TrackRow { .title = title, .artist = artist, .fullPath = path };
}

} // namespace

TEST_F(FindTest, TypingNarrowsReturnPlaysEscapeLeavesTheListAsItWas)
{
    auto w = start();
    PlaylistModel &list = *w->playlist();
    list.addRows({ row(u"/m/a.mp3"_s, u"ヴァイオリン・ソナタ"_s, u"演奏者"_s), row(u"/m/b.mp3"_s, u"Café"_s),
        row(u"/m/ﾊﾞｲｵﾘﾝ.mp3"_s, u"untitled"_s), row(u"/m/c.mp3"_s, u"ゔぁいおりん協奏曲"_s),
        row(u"/m/d.mp3"_s, u"ラーメン"_s, u"ｳﾞｧｲｵﾘﾝ弾き"_s) });
    auto *tree = child<QTreeView>(*w, u"ListView"_s);
    tree->setCurrentIndex(list.index(1, 0));
    const QStringList before = fullPaths(list);

    w->show();
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_J, Qt::ControlModifier);
    auto *find = child<FindWindow>(*w, u"findWindow"_s);
    ASSERT_TRUE(find && find->isVisible());
    auto *text = child<QLineEdit>(*find, u"findText"_s);
    QSignalSpy ready(find->findChild<RowFinder *>(), &RowFinder::ready);
    ASSERT_TRUE(ready.wait(5000));
    // Each keystroke narrows; the file name counts, and a word in any field.
    const std::pair<QString, QList<int>> typed[] = { { u"ｳﾞ"_s, { 1, 4, 5 } }, { u"ｳﾞｧｲ"_s, { 1, 4, 5 } },
        { u"ヴァイオリン"_s, { 1, 4, 5 } }, { u"ヴァイオリン そなた"_s, { 1 } }, { u"ばいおりん"_s, { 3 } },
        { u"cafe"_s, {} }, { u"CAFÉ"_s, { 2 } } };
    for (const auto &[keys, rows] : typed) {
        text->setText(keys);
        EXPECT_EQ(find->matches(), rows) << keys.toStdString();
    }
    // Down then Return: the second match plays, as a double click on its row would.
    text->setText(u"ゔぁいおりん"_s);
    QTest::keyClick(text, Qt::Key_Down);
    QTest::keyClick(text, Qt::Key_Return);
    EXPECT_TRUE(waitForOpen(*w->controller()));
    EXPECT_FALSE(find->isVisible());
    EXPECT_EQ(fake.openedPath, "/m/c.mp3");
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 4);
    EXPECT_EQ(tree->currentIndex().row(), 3);

    // Escape closes; the list's current row and the rows stay as they were, nothing plays.
    tree->setCurrentIndex(list.index(1, 0));
    fake.openedPath.clear();
    w->findChild<QAction *>(u"findRows"_s)->trigger(); // the pop-up menu's item
    text->setText(u"ラーメン"_s);
    QTest::keyClick(text, Qt::Key_Escape);
    EXPECT_FALSE(find->isVisible());
    EXPECT_TRUE(fake.openedPath.empty());
    EXPECT_EQ(tree->currentIndex().row(), 1);
    EXPECT_EQ(fullPaths(list), before);
    for (int i = 1; i <= list.count(); ++i)
        EXPECT_TRUE(list.isChecked(i));
}

// A search after the rows changed sees them as they are now: tags read since (also in a
// list kept sorted, which reports them as a new order), rows removed and sorted.
TEST_F(FindTest, SearchesFollowTheRowsAsTheyChange)
{
    PlaylistModel list;
    RowFinder finder(list);
    QList<quint64> ids;
    list.addRows({ row(u"/m/1.mp3"_s, u"1.mp3"_s), row(u"/m/2.mp3"_s, u"2.mp3"_s), row(u"/m/3.mp3"_s, u"桜"_s) }, &ids);
    const auto settle = [&] {
        QSignalSpy ready(&finder, &RowFinder::ready);
        finder.prepare();
        ASSERT_TRUE(ready.wait(5000));
    };
    settle();
    EXPECT_EQ(finder.find(u"さくら 桜"_s), QList<int> {});
    EXPECT_EQ(finder.find(u"mp3"_s), (QList<int> { 1, 2, 3 })); // the file name counts
    for (const int column : { -1, int(PlaylistModel::TitleColumn) }) {
        SCOPED_TRACE(column);
        if (column >= 0)
            list.sortByColumn(column);
        // Row 2 gets its tags: typed on from "mp3", the search must still see the new title.
        TrackRow filled { .title = u"さくらさくら"_s, .fullPath = u"/m/2.mp3"_s, .id = ids[1] };
        list.clear();
        ids.clear();
        list.addRows({ row(u"/m/1.mp3"_s, u"1.mp3"_s),
                         TrackRow { .title = u"2.mp3"_s, .fullPath = u"/m/2.mp3"_s, .tagsPending = true } },
            &ids);
        settle();
        EXPECT_EQ(finder.find(u"mp3"_s).size(), 2);
        filled.id = ids[1];
        list.fillRows({ filled });
        settle();
        const QList<int> sakura = finder.find(u"サクラ"_s);
        ASSERT_EQ(sakura.size(), 1);
        EXPECT_EQ(list.fullPath(sakura[0]), u"/m/2.mp3"_s);
        list.removeRowsAt({ sakura[0] });
        EXPECT_EQ(finder.find(u"サクラサクラ"_s), QList<int> {});
    }
}
