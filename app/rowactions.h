// The commands that act on the playlist's rows as a whole, from the pop-up menu and the
// keys: the play queue ("次に再生"), the stop-after mark, rows moved by hand (keys and an
// internal drag) and files added through the desktop's file dialog.  Each runs through
// the controller's changeSequence, so that a join heard first is taken first and the
// track queued to follow is worked out again.  GUI thread only; the session and the view
// outlive this object.
#pragma once

#include <QList>
#include <QObject>
#include <QPoint>

class QMenu;
class QTreeView;
class QWidget;

namespace kes
{

class PlayerSession;

class RowActions : public QObject
{
    Q_OBJECT
public:
    RowActions(PlayerSession &session, QTreeView &view, QWidget *dialogParent);

    // The menu's items (found by name) bound to the commands below; each is enabled, as
    // the menu shows, for what it can act on.
    void bindMenu(QMenu &menu);

    // The selected rows join the end of the queue, in list order.
    void enqueueSelected();
    void dequeueSelected();
    void clearQueue();
    // The current row one place earlier (-1) or later (+1) in the queue.
    void moveInQueue(int step);
    // The stop-after mark on the playing row ("この曲で停止") or on the current row; a
    // second time on the same row clears it.
    void stopAfterTrack();
    void stopAfterRow();
    // The selected rows one place up (-1) or down (+1), staying selected.
    void moveSelected(int step);
    // A drag within the list dropped rows (by id) at pos of the list's viewport: on the
    // number column ("No") they join the end of the queue, in list order, and stay where
    // they are; elsewhere they move before the row under the drop's upper half (after it
    // in its lower half, to the end below the last row).
    void dropDragged(const QList<quint64> &ids, const QPoint &pos);
    // The desktop's file dialog: files, or a folder walked as the folder search walks it;
    // added by the rules of files handed over from outside (TrackAdder::openFiles).
    void addFiles();
    void addFolder();

private:
    QList<int> selected() const;
    int currentRow() const;
    void toggleStopAfter(int row);
    // Selects rows first .. first + n - 1.
    void select(int first, int n);

    PlayerSession &m_session;
    QTreeView &m_view;
    QWidget *m_parent;
};

} // namespace kes
