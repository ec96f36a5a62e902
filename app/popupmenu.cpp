#include "popupmenu.h"

#include <QMenu>

namespace kes
{

QMenu *makePopupMenu(QWidget *parent)
{
    auto *pop = new QMenu(parent);
    pop->setObjectName(QStringLiteral("Listview_Pop"));
    auto add = [](QMenu *menu, const char *name, const QString &caption) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromUtf8(name));
        return a;
    };
    auto sub = [pop](const char *name, const QString &caption) {
        QMenu *m = pop->addMenu(caption);
        m->setObjectName(QString::fromUtf8(name));
        m->menuAction()->setObjectName(QString::fromUtf8(name));
        return m;
    };
    QMenu *menu0 = sub("menu0", QStringLiteral("Play Mode"));
    QAction *repeatSet = add(menu0, "repeat_set", QStringLiteral("リピート"));
    repeatSet->setCheckable(true);
    repeatSet->setChecked(true);
    QMenu *menu1 = sub("menu1", QStringLiteral("ListView"));
    add(menu1, "All_Check", QStringLiteral("List All Check"));
    add(menu1, "Lst_Cancel", QStringLiteral("List All Cancel"));
    add(menu1, "List_Clear", QStringLiteral("List Clear"));
    add(menu1, "listRemove", QStringLiteral("選択行を削除\tDel"));
    add(menu1, "rowsUp", QStringLiteral("選択行を上へ\tAlt+Up"));
    add(menu1, "rowsDown", QStringLiteral("選択行を下へ\tAlt+Down"));
    add(menu1, "addFiles", QStringLiteral("ファイルを追加…\tCtrl+O"));
    add(menu1, "addFolder", QStringLiteral("フォルダを追加…\tCtrl+Shift+O"));
    QMenu *queue = sub("queueMenu", QStringLiteral("再生キュー＆停止"));
    add(queue, "enqueue", QStringLiteral("次に再生（キューに追加）\tCtrl+E"));
    add(queue, "dequeue", QStringLiteral("キューから外す"));
    add(queue, "queueUp", QStringLiteral("キュー内で上へ"));
    add(queue, "queueDown", QStringLiteral("キュー内で下へ"));
    add(queue, "queueClear", QStringLiteral("キューをクリア"));
    add(queue, "stopAfterTrack", QStringLiteral("この曲で停止\tCtrl+T"))->setCheckable(true);
    add(queue, "stopAfterRow", QStringLiteral("選択した曲で停止"))->setCheckable(true);
    QMenu *menu2 = sub("menu2", QStringLiteral("プレイリスト＆CSV　作成"));
    add(menu2, "Save_m3u", QStringLiteral("Make PlayLsit(m3u)"));
    add(menu2, "Def_Playlist_Set", QStringLiteral("PlayList Set(起動時用)"));
    add(menu2, "Csv_Save", QStringLiteral("ＣＳＶ形式で保存(ID3Tag)"));
    add(pop, "editTags", QStringLiteral("タグを編集…\tF2"));
    add(pop, "fixEncoding", QStringLiteral("文字化けを直す…"));
    QAction *dummy = add(pop, "dummy2", QStringLiteral("------------------------"));
    dummy->setEnabled(false);
    add(pop, "Option_Call", QStringLiteral("Option"));
    add(pop, "Print_CD", QStringLiteral("Print CD"));
    add(pop, "HomePage", QStringLiteral("HomePage"));
    add(pop, "about", QStringLiteral("about"));
    add(pop, "shortcutList", QStringLiteral("キー操作一覧\tF1"));
    add(pop, "findRows", QStringLiteral("曲を探す\tCtrl+J"));
    return pop;
}

} // namespace kes
