#include "rowactions.h"

#include "mediatypes.h"
#include "pathbytes.h"
#include "playbackcontroller.h"
#include "playersession.h"
#include "playlistcommands.h"
#include "playlistmodel.h"
#include "trackadder.h"

#include <QAction>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <utility>

namespace kes
{

namespace
{

// The file dialog's filter: every ending the player takes, in both spellings, and the
// playlists; then every file (the adder tells of those it leaves out).
QString fileFilter()
{
    QStringList patterns;
    for (const MediaType &t : kMediaTypes) {
        const QString ending = QString::fromLatin1(t.ending);
        for (const QString &e : { ending, ending.toUpper() })
            if (!patterns.contains(QStringLiteral("*.") + e))
                patterns << QStringLiteral("*.") + e;
    }
    for (const char *list : { "m3u", "M3U", "m3u8", "M3U8", "pls", "PLS" })
        patterns << QStringLiteral("*.") + QString::fromLatin1(list);
    return QStringLiteral("音楽ファイルとプレイリスト (%1);;すべてのファイル (*)").arg(patterns.join(u' '));
}

} // namespace

RowActions::RowActions(PlayerSession &session, QTreeView &view, QWidget *dialogParent)
    : QObject(dialogParent)
    , m_session(session)
    , m_view(view)
    , m_parent(dialogParent)
{
}

QList<int> RowActions::selected() const
{
    QList<int> rows;
    for (const QModelIndex &index : m_view.selectionModel()->selectedRows())
        rows.append(index.row() + 1);
    std::sort(rows.begin(), rows.end());
    return rows;
}

int RowActions::currentRow() const
{
    const QList<int> rows = selected();
    const int current = m_view.currentIndex().row() + 1;
    return rows.contains(current) || rows.isEmpty() ? current : rows.first();
}

void RowActions::bindMenu(QMenu &menu)
{
    const std::pair<const char *, std::function<void()>> items[] = {
        { "enqueue", [this] { enqueueSelected(); } },
        { "dequeue", [this] { dequeueSelected(); } },
        { "queueUp", [this] { moveInQueue(-1); } },
        { "queueDown", [this] { moveInQueue(1); } },
        { "queueClear", [this] { clearQueue(); } },
        { "stopAfterTrack", [this] { stopAfterTrack(); } },
        { "stopAfterRow", [this] { stopAfterRow(); } },
        { "rowsUp", [this] { moveSelected(-1); } },
        { "rowsDown", [this] { moveSelected(1); } },
        { "addFiles", [this] { addFiles(); } },
        { "addFolder", [this] { addFolder(); } },
    };
    for (const auto &[name, run] : items)
        if (QAction *a = menu.findChild<QAction *>(QString::fromUtf8(name)))
            connect(a, &QAction::triggered, this, run);
    connect(&menu, &QMenu::aboutToShow, this, [this, &menu] {
        const PlaylistModel &list = *m_session.playlist();
        const int row = currentRow();
        const bool queued = list.queuePosition(row) > 0;
        const auto enable = [&menu](const char *name, bool on) {
            if (QAction *a = menu.findChild<QAction *>(QString::fromUtf8(name)))
                a->setEnabled(on);
        };
        enable("enqueue", !selected().isEmpty());
        enable("dequeue", queued);
        enable("queueUp", queued && list.queuePosition(row) > 1);
        enable("queueDown", queued && list.queuePosition(row) < list.queuedRows().size());
        enable("queueClear", !list.queuedRows().isEmpty());
        enable("stopAfterTrack", list.playingRow() > 0);
        enable("stopAfterRow", row > 0);
        enable("rowsUp", !selected().isEmpty());
        enable("rowsDown", !selected().isEmpty());
        // A check mark while the mark stands on the row each item acts on.
        for (const auto &[name, on] :
            { std::pair { "stopAfterTrack", list.playingRow() }, std::pair { "stopAfterRow", row } })
            if (QAction *a = menu.findChild<QAction *>(QString::fromUtf8(name)))
                a->setChecked(on > 0 && list.stopAfterRow() == on);
    });
}

void RowActions::enqueueSelected()
{
    const QList<int> rows = selected();
    m_session.controller()->changeSequence([&] { m_session.playlist()->enqueue(rows); });
}

void RowActions::dequeueSelected()
{
    const QList<int> rows = selected();
    m_session.controller()->changeSequence([&] {
        PlaylistModel &list = *m_session.playlist();
        QList<quint64> ids;
        for (int row : rows)
            ids.append(list.rowId(row));
        for (quint64 id : ids)
            list.dequeue(list.rowOfId(id));
    });
}

void RowActions::clearQueue()
{
    m_session.controller()->changeSequence([&] { m_session.playlist()->clearQueue(); });
}

void RowActions::moveInQueue(int step)
{
    const int row = currentRow();
    m_session.controller()->changeSequence([&] { m_session.playlist()->moveInQueue(row, step); });
}

void RowActions::stopAfterTrack()
{
    toggleStopAfter(m_session.playlist()->playingRow());
}

void RowActions::stopAfterRow()
{
    toggleStopAfter(currentRow());
}

void RowActions::toggleStopAfter(int row)
{
    if (row < 1)
        return;
    m_session.controller()->changeSequence([&] {
        PlaylistModel &list = *m_session.playlist();
        list.setStopAfterRow(list.stopAfterRow() == row ? 0 : row);
    });
}

void RowActions::moveSelected(int step)
{
    const QList<int> rows = selected();
    if (rows.isEmpty())
        return;
    int first = 0;
    m_session.controller()->changeSequence([&] {
        first
            = PlaylistCommands::moveRowsBy(*m_session.playlist(), rows, step, m_session.playbackState().CurrentTrackNo);
    });
    select(first, static_cast<int>(rows.size()));
}

void RowActions::dropDragged(const QList<quint64> &ids, const QPoint &pos)
{
    PlaylistModel &list = *m_session.playlist();
    QList<int> rows;
    for (quint64 id : ids)
        if (const int row = list.rowOfId(id); row > 0)
            rows.append(row);
    if (rows.isEmpty())
        return;
    const QModelIndex at = m_view.indexAt(pos);
    if (at.isValid() && at.column() == PlaylistModel::NoColumn) {
        std::sort(rows.begin(), rows.end());
        m_session.controller()->changeSequence([&] { list.enqueue(rows); });
        return;
    }
    const int before = !at.isValid()                   ? list.count() + 1
        : pos.y() < m_view.visualRect(at).center().y() ? at.row() + 1
                                                       : at.row() + 2;
    int first = 0;
    m_session.controller()->changeSequence(
        [&] { first = PlaylistCommands::moveRows(list, rows, before, m_session.playbackState().CurrentTrackNo); });
    select(first, static_cast<int>(rows.size()));
}

void RowActions::select(int first, int n)
{
    if (first < 1)
        return;
    PlaylistModel &list = *m_session.playlist();
    QItemSelection selection(list.index(first - 1, 0), list.index(first + n - 2, PlaylistModel::ColumnCount - 1));
    m_view.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_view.selectionModel()->setCurrentIndex(list.index(first - 1, 0), QItemSelectionModel::NoUpdate);
    m_view.scrollTo(list.index(first - 1, 0));
}

void RowActions::addFiles()
{
    // Through the URLs' bytes: a name that is not UTF-8 keeps its bytes.
    const QList<QUrl> urls
        = QFileDialog::getOpenFileUrls(m_parent, QStringLiteral("ファイルを追加"), QUrl(), fileFilter());
    QStringList paths;
    for (const QUrl &url : urls)
        if (url.isLocalFile())
            paths.append(pathFromFileUrl(url));
    if (!paths.isEmpty())
        m_session.adder()->openFiles(paths);
}

void RowActions::addFolder()
{
    const QUrl url = QFileDialog::getExistingDirectoryUrl(m_parent, QStringLiteral("フォルダを追加"));
    if (url.isLocalFile())
        m_session.adder()->openFiles({ pathFromFileUrl(url) });
}

} // namespace kes
