#include "tagwindows.h"

#include "playbackcontroller.h"
#include "playersession.h"
#include "playlistmodel.h"
#include "trackadder.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeView>

#include <algorithm>

namespace kes
{

TagWindows::TagWindows(PlayerSession &session, QTreeView &view, QWidget *dialogParent)
    : QObject(dialogParent)
    , m_session(session)
    , m_view(view)
    , m_parent(dialogParent)
{
    m_editorIo.read = [api = session.context().api](const QString &path) { return readTagFields(api, path); };
    m_editorIo.write = [](const QString &path, const TagChanges &changes) { return writeTags(path, changes); };
    m_fixIo = { scanEncoding, applyEncodingFix };
}

QList<TrackRow> TagWindows::selectedRows() const
{
    QList<int> indexes;
    for (const QModelIndex &index : m_view.selectionModel()->selectedRows())
        indexes.append(index.row() + 1);
    std::sort(indexes.begin(), indexes.end());
    QList<TrackRow> rows;
    for (int i : indexes)
        rows.append(m_session.playlist()->row(i));
    return rows;
}

void TagWindows::bindMenu(QMenu &menu)
{
    const std::pair<const char *, void (TagWindows::*)()> items[]
        = { { "editTags", &TagWindows::editSelected }, { "fixEncoding", &TagWindows::fixSelected } };
    for (const auto &[name, run] : items)
        if (QAction *a = menu.findChild<QAction *>(QString::fromUtf8(name)))
            connect(a, &QAction::triggered, this, run);
    connect(&menu, &QMenu::aboutToShow, this, [this, &menu] {
        const bool any = m_view.selectionModel()->hasSelection();
        for (const char *name : { "editTags", "fixEncoding" })
            if (QAction *a = menu.findChild<QAction *>(QString::fromUtf8(name)))
                a->setEnabled(any);
    });
}

void TagWindows::editSelected()
{
    const QList<TrackRow> rows = selectedRows();
    if (rows.isEmpty())
        return;
    auto *editor = new TagEditor(rows, m_editorIo, m_parent);
    connect(editor, &TagEditor::written, this, &TagWindows::written);
    editor->show();
}

void TagWindows::fixSelected()
{
    const QList<TrackRow> rows = selectedRows();
    if (rows.isEmpty())
        return;
    auto *window = new EncodingFixWindow(rows, m_fixIo, m_parent);
    connect(window, &EncodingFixWindow::written, this, &TagWindows::written);
    window->show();
}

void TagWindows::written(const QList<quint64> &ids)
{
    PlaylistModel &list = *m_session.playlist();
    m_session.adder()->rereadTags(ids);
    const int playing = list.playingRow();
    if (playing > 0 && ids.contains(list.rowId(playing))
        && list.fullPath(playing) == m_session.playbackState().CurrentFile)
        m_session.controller()->ShowNowPlaying(list.fullPath(playing));
}

} // namespace kes
