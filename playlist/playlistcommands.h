// The playlist's commands as the main window calls them: the drop handler, the pop-up
// menu's file and editing commands, and the row remembered by a click for a double
// click.  The main window binds its widgets to these; nothing here is a widget.
// GUI thread only.  The model, the adder and the prompter must outlive this object.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QMimeData;

namespace kes
{

class PlaylistModel;
class Prompter;
class TrackAdder;

class PlaylistCommands
{
public:
    // programDir is the folder the default file names of the dialogs are put in.
    PlaylistCommands(PlaylistModel &model, TrackAdder &adder, Prompter &prompter, const QString &programDir);

    // The local files of a drop's text/uri-list, in the drop's order (other URLs left out).
    static QStringList droppedPaths(const QMimeData *data);
    // The list view's drop: see TrackAdder::dropFiles.  Returns at once.
    void DropFiles(const QStringList &paths);
    // Appends the existing entries of an M3U playlist.  Returns at once; the rows and any
    // message follow from the adder (its idle() signal tells when it is over).
    void LoadM3u(const QString &path);

    // Writes the checked rows' full paths as an M3U file under a name asked for with an
    // input box (default: the program folder and defaultName).  Returns the name written,
    // or the empty text when nothing was written (no checked row, Cancel, a failed write,
    // each with its message but Cancel).  Rows whose path holds a line break are left out
    // with a message (an M3U line cannot hold them).
    QString WriteM3u(const QString &title, const QString &prompt, const QString &defaultName);
    // Pop-up menu "Save_m3u".
    void Save_m3u();
    // Pop-up menu "Def_Playlist_Set": writes an M3U file and hands its name (empty after
    // Cancel or with no checked row) to storeAndSave, which records it as the start-up
    // playlist (Op_14) and saves the settings, calling its reply once, on the GUI thread,
    // with whether saving worked (at once or when the write has ended); the outcome is told
    // then, in one message.  When the file cannot be written, storeAndSave is not called:
    // Op_14 stays as it was.
    using SaveReply = std::function<void(bool ok)>;
    void Def_Playlist_Set(const std::function<void(const QString &path, SaveReply reply)> &storeAndSave);
    // Pop-up menu "Csv_Save": the tag data of the checked rows as a CSV file.  Rows whose
    // tags are still being read are read first (off the GUI thread); the file is written
    // and the message shown when they are in, at once when none is pending.
    void Csv_Save();

    // Pop-up menu editing commands and the column header click (0-based section).
    void All_Check();
    void Lst_Cancel();
    // Removes all rows, also from a list that is empty yet; playback is not touched.
    // What is still being added (a playlist file, a folder) stops there.
    void List_Clear();
    // Removes model's given rows (1-based), keeping currentTrackNo on the current track's
    // place: moved up past the rows removed before it; when its own row goes, the row
    // before the gap (0 for none) becomes current, so that the next track is the row that
    // followed it.  Returns the row that took the first removed row's place (0 when none
    // did), for the selection to go on from.
    static int removeRows(PlaylistModel &model, const QList<int> &rows, int &currentTrackNo);
    // Moves model's given rows (1-based) together before row `before`
    // (PlaylistModel::moveRows), currentTrackNo following the current track's row.  Returns
    // the new index of the first moved row (0 when none moved).
    static int moveRows(PlaylistModel &model, const QList<int> &rows, int before, int &currentTrackNo);
    // The rows one place up (step -1, before the row above the first) or down (+1).
    static int moveRowsBy(PlaylistModel &model, QList<int> rows, int step, int &currentTrackNo);
    void ColumnClick(int column);

    // A click on a row (1-based) remembers it; a double click plays the remembered row.
    void ItemClick(int row);
    int SelectedRow() const { return m_selectedRow; }
    QString SelectedPath() const { return m_selectedPath; }
    struct Pick {
        int row; // 0 before any click
        QString path; // empty before any click
    };
    // What DblClick hands to PlayTrack as CurrentTrackNo and CurrentFile.
    Pick DblClick() const { return { m_selectedRow, m_selectedPath }; }

private:
    QString defaultPath(const QString &name) const;
    // WriteM3u; failed (when given) tells a write that was tried and failed, or had only
    // unwritable names, from Cancel and no checked row.
    QString writeM3uFile(const QString &title, const QString &prompt, const QString &defaultName, bool *failed);

    PlaylistModel &m_model;
    TrackAdder &m_adder;
    Prompter &m_prompter;
    QString m_programDir;
    int m_selectedRow = 0;
    QString m_selectedPath;
    QObject m_context; // answers from the adder's workers are dropped once this is gone
};

} // namespace kes
