// The row commands as the window binds them: the list's keys and the pop-up menu's items.
#include "playingrowdelegate.h"
#include "rowactions.h"
#include "windowtest.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QTest>
#include <QTreeView>

using RowActionsTest = WindowTest;

TEST_F(RowActionsTest, KeysAndMenuMoveQueueAndMarkRows)
{
    auto w = start();
    addRows(*w, { u"/m/1.mp3"_s, u"/m/2.mp3"_s, u"/m/3.mp3"_s, u"/m/4.mp3"_s });
    PlaylistModel &list = *w->playlist();
    auto *view = child<QTreeView>(*w, u"ListView"_s);
    view->selectionModel()->setCurrentIndex(
        list.index(2, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QTest::keyClick(view, Qt::Key_Up, Qt::AltModifier); // row 3 one up, still selected
    QTest::keyClick(view, Qt::Key_E, Qt::ControlModifier); // and queued
    child<QAction>(*w->popupMenu(), u"stopAfterRow"_s)->trigger();
    EXPECT_EQ(fullPaths(list), (QStringList { u"/m/1.mp3"_s, u"/m/3.mp3"_s, u"/m/2.mp3"_s, u"/m/4.mp3"_s }));
    EXPECT_EQ(std::tuple(list.queuedRows(), list.stopAfterRow()), std::tuple(QList<int> { 2 }, 2));
    QStyleOptionViewItem option;
    PlayingRowDelegate(view).initStyleOption(&option, list.index(1, PlaylistModel::TitleColumn));
    EXPECT_EQ(option.text, u"[1] ■停止"_s); // before the title, which is empty here
}

// Rows dragged onto the number column join the queue in list order and stay; elsewhere they move.
TEST_F(RowActionsTest, RowsDroppedOnTheNumberColumnAreQueued)
{
    auto w = start();
    w->show();
    addRows(*w, { u"/m/1.mp3"_s, u"/m/2.mp3"_s, u"/m/3.mp3"_s, u"/m/4.mp3"_s });
    PlaylistModel &list = *w->playlist();
    auto *view = child<QTreeView>(*w, u"ListView"_s);
    const auto centre = [&](int row, int column) { return view->visualRect(list.index(row - 1, column)).center(); };
    const QList<quint64> ids { list.rowId(3), list.rowId(1) };
    w->rowActions()->dropDragged(ids, centre(2, PlaylistModel::NoColumn));
    EXPECT_EQ(fullPaths(list), (QStringList { u"/m/1.mp3"_s, u"/m/2.mp3"_s, u"/m/3.mp3"_s, u"/m/4.mp3"_s }));
    EXPECT_EQ(list.queuedRows(), (QList<int> { 1, 3 }));
    w->rowActions()->dropDragged({ list.rowId(4) }, centre(1, PlaylistModel::TitleColumn) - QPoint(0, 2));
    EXPECT_EQ(fullPaths(list), (QStringList { u"/m/4.mp3"_s, u"/m/1.mp3"_s, u"/m/2.mp3"_s, u"/m/3.mp3"_s }));
    EXPECT_EQ(list.queuedRows(), (QList<int> { 2, 4 }));
}
