// The row commands as the window binds them: the list's keys and the pop-up menu's items.
#include "playingrowdelegate.h"
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
