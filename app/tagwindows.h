// The tag windows opened on the selected rows: the tag editor (pop-up item `editTags`,
// its key) and the text-encoding fix (`fixEncoding`).  After either writes, the written
// rows' tags are read again into the playlist (TrackAdder::rereadTags: the list, the CD
// jacket and the media controls follow the model), and when the playing track is among
// them its title and artist read-outs are shown again.  GUI thread only; the session and
// the view outlive this object.
#pragma once

#include "encodingfixwindow.h"
#include "tageditor.h"

#include <QList>
#include <QObject>

class QMenu;
class QTreeView;
class QWidget;

namespace kes
{

class PlayerSession;

class TagWindows : public QObject
{
    Q_OBJECT
public:
    TagWindows(PlayerSession &session, QTreeView &view, QWidget *dialogParent);

    // The menu's items (found by name) bound to the two windows, enabled while rows are
    // selected.
    void bindMenu(QMenu &menu);
    // The windows for the selected rows (nothing when none is); each opens on its own.
    void editSelected();
    void fixSelected();
    // The file work the windows do (by default the decoder library's reading and
    // tagedit's writers); tests put doubles in.
    void setEditorIo(TagEditorIo io) { m_editorIo = std::move(io); }
    void setFixIo(EncodingFixIo io) { m_fixIo = std::move(io); }

private:
    QList<TrackRow> selectedRows() const;
    void written(const QList<quint64> &ids);

    PlayerSession &m_session;
    QTreeView &m_view;
    QWidget *m_parent;
    TagEditorIo m_editorIo;
    EncodingFixIo m_fixIo;
};

} // namespace kes
