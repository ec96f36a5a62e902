// The playlist: the one copy of the rows the main window's list view shows, read and
// changed by every other part (sequencing, playback, files, printing) through the 1-based
// API below.  GUI thread only: nothing here may be touched from a worker thread.
#pragma once

#include "cuetrack.h"
#include "tracklist.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSharedPointer>
#include <QString>

#include <vector>

class QMimeData;

namespace kes
{

// How a row's title, artist and album sort when its file names their reading (sort tags:
// "やまだ" for 山田): the keys as compared, katakana folded to hiragana; an empty key sorts
// by the column's text.
struct SortNames {
    QString title;
    QString artist;
    QString album;
};

// One row of the playlist.
struct TrackRow {
    QString number; // column "No": the sequence number given when the row was added
    QString title; // column "Music Title"
    QString artist; // column "Artist" (or the kind label of a WAV/AVI/WMA/MPEG file)
    QString album; // column "Album"
    QString fullPath; // column "Full Path": identifies the row's file (or cue track, cuetrack.h) everywhere
    bool checked = false;
    QString tag; // "END" while the row sits out the current random round, else empty
    // Given by the model when the row is added, never reused: names the row whatever
    // place sorting gives it, and names nothing once the row is gone.
    quint64 id = 0;
    // Title, artist and album stand in for tags that have not been read yet (TrackAdder
    // fills them); whoever needs the real texts reads the file (TrackAdder::withTags).
    bool tagsPending = false;
    // The file was not there when the row was restored from the last run's list (a drive
    // not mounted yet): the row stays as it was kept, and its tags wait for the file.
    bool missing = false;
    // A cue-sheet track (fullPath is its key): what the sheet and the image tell of it.
    // Null for a row of a whole file, and while a restored track waits for its sheet.
    QSharedPointer<const CueTrackInfo> cue;
    // The file's sort tags, read with its tags; null when it has none.
    QSharedPointer<const SortNames> sortNames;
};

} // namespace kes

// Only Qt's implicitly shared strings and plain values: a list of rows grows by realloc
// instead of moving 100,000 rows one by one onto fresh pages.
Q_DECLARE_TYPEINFO(kes::TrackRow, Q_RELOCATABLE_TYPE);

namespace kes
{

// One column as the list view shows it.
struct PlaylistColumn {
    QString key;
    QString caption;
    int widthTwips;
    int widthPixels() const { return widthTwips / 15; }
};

class PlaylistModel : public QAbstractTableModel, public TrackList
{
    Q_OBJECT
public:
    enum Column { NoColumn = 0, TitleColumn, ArtistColumn, AlbumColumn, FullPathColumn, ColumnCount };
    // PlayingRole: true on the row of the track that plays (see setPlayingRow).
    // MissingRole: true on a row whose file was missing (see setMissing).
    // QueueRole: the row's place in the play queue (1 plays first), 0 when not queued.
    // StopAfterRole: true on the row after whose track playback stops.
    enum Role { TagRole = Qt::UserRole + 1, FullPathRole, PlayingRole, MissingRole, QueueRole, StopAfterRole };
    // The drag of rows within the list: their ids, as text.
    static constexpr const char *kRowsMimeType = "application/x-kestrine-rows";

    // The five columns in view order, with keys, captions and widths (15 twips to a pixel).
    static QList<PlaylistColumn> SetupColumns();

    explicit PlaylistModel(QObject *parent = nullptr);

    // Rows are numbered 1..count(); an index outside that range reads as an empty row and
    // writes are ignored.
    int count() const override { return static_cast<int>(m_rows.size()); }
    const TrackRow &row(int i) const;
    // Every row in list order: a shared copy, O(1), that a worker thread may read while
    // the model goes on changing its own.
    QList<TrackRow> rows() const { return m_rows; }
    QString number(int i) const { return row(i).number; }
    QString title(int i) const { return row(i).title; }
    QString artist(int i) const { return row(i).artist; }
    QString album(int i) const { return row(i).album; }
    QString fullPath(int i) const override { return row(i).fullPath; }
    // cell(i, 0..4): the text of a column as the list view shows it (a cue track's
    // "Full Path" is its image's path).
    QString cell(int i, int column) const;
    bool isChecked(int i) const override { return row(i).checked; }
    void setChecked(int i, bool checked) override;
    // Whether any row is checked.  O(1).
    bool anyChecked() const override { return m_checkedCount > 0; }
    bool tagsPending(int i) const { return row(i).tagsPending; }
    // The row's tags are to be read again (its file's tags were rewritten): it keeps its
    // texts meanwhile, and the next fillRows for it takes the new ones.
    void markTagsPending(int i);
    bool isMissing(int i) const override { return row(i).missing; }
    // Marks a row's file as missing or found again; the view shows missing rows apart.
    void setMissing(int i, bool missing);
    QString tag(int i) const override { return row(i).tag; }
    void setTag(int i, const QString &tag) override;
    void checkAll();
    void uncheckAll();
    // Removes every row; the next row added is numbered "0001".  The sort state stays.
    // Resets the model even when it holds no row: what is still being added stops.
    void clear();
    // Removes the given rows (1-based; out-of-range and repeated indexes are passed over);
    // the others keep their numbers and order.  Returns the number of rows removed.
    int removeRowsAt(QList<int> rows);

    // The row of the track that plays, followed by its id through sorting and removals;
    // 0 for none (also once that row is gone).  Setting it tells the view of both rows.
    void setPlayingRow(int i);
    int playingRow() const;

    // The play queue (TrackList): rows by id, so that it follows them through sorting
    // and moves; a row removed leaves it.  enqueue() appends the rows not queued yet, in
    // the order given; moveInQueue() moves a queued row one place earlier (step -1) or
    // later (+1).  Each change tells the view of the rows whose place changed (QueueRole).
    QList<int> queuedRows() const override;
    int queuePosition(int i) const;
    void enqueue(const QList<int> &rows);
    void dequeue(int i) override;
    void clearQueue();
    void moveInQueue(int i, int step);
    // The stop-after mark (TrackList), following its row by id; 0 clears it.
    int stopAfterRow() const override { return m_stopAfterId == 0 ? 0 : indexOfId(m_stopAfterId); }
    void setStopAfterRow(int i) override;
    quint64 rowId(int i) const override { return row(i).id; }
    int rowOfId(quint64 id) const override { return id == 0 ? 0 : indexOfId(id); }

    // Moves the given rows (1-based; out-of-range and repeated ones passed over) to stand
    // together, in list order, before row `before` (count() + 1: at the end).  They keep
    // their numbers, checks, marks and ids.  An order made by hand: the list is no longer
    // kept sorted (a column click sorts it again).  Returns the new index of the first
    // moved row, 0 when none moved.
    int moveRows(QList<int> rows, int before);
    using QAbstractTableModel::moveRows; // Qt's own, left as Qt has it
    // The ids of a drag's rows (kRowsMimeType), empty for other data.
    static QList<quint64> draggedIds(const QMimeData *data);

    // Sorts by a 0-based column (ascending, case-insensitive, stable) and keeps the rows
    // sorted by it from now on: rows added later take their sorted place.
    void sortByColumn(int column);
    bool isSorted() const { return m_sortColumn >= 0; }
    int sortColumn() const { return m_sortColumn; }

    // Whether a row's "Full Path" is exactly path (case-sensitive).  O(1).
    bool contains(const QString &path) const { return m_paths.contains(path); }

    // Adds one row built from a file (its number, checked and tag fields are set here):
    // nothing when a row with the same full path exists.  Returns the new row's 1-based
    // index, or 0 when nothing was added.
    int addRow(const TrackRow &row);
    // Adds rows in order, as addRow would one after another, with one notification for
    // the batch.  Returns the number of rows added.
    // ids, when given, receives the id of each row in rows' order (0 for a row skipped).
    int addRows(const QList<TrackRow> &rows, QList<quint64> *ids = nullptr);
    // Makes room for more rows to come, so that adding them never grows the row list and
    // its indexes all at once (a growth of 100,000 rows costs tens of milliseconds).
    void reserveRows(int more);
    // 1-based index of the row with this id; 0 when there is none.  O(1) but after a
    // change of order, which costs one O(n) pass on the next call.
    int indexOfId(quint64 id) const;
    // Puts read tags into rows whose tags were pending: each entry names its row by id
    // and brings title, artist, album, sort names and a cue track's facts; entries whose row is gone or already filled
    // are passed over.  One notification for the batch; in a list kept sorted by title, artist or album the filled rows
    // move to their sorted places.
    void fillRows(const QList<TrackRow> &filled);

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    // Delegates to sortByColumn; the order argument is ignored (always ascending).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The order of the list view: a case-insensitive text comparison of one column (for
    // title, artist and album, of the row's sort key where it has one).
    static bool lessThan(const TrackRow &a, const TrackRow &b, int column);

signals:
    // Emitted before the rows, their order, checks or marks change, before any of Qt's
    // signals of that change: a watcher that must act on the rows as they were (the
    // player taking a join reported on them) does it here, and may change rows itself.
    void aboutToChange();

private:
    static QString numberText(int n);
    TrackRow makeRow(const TrackRow &from, int number);
    void insertSorted(QList<TrackRow> rows);
    // Puts the rows in the given order (old indexes, new order), moves persistent
    // indexes with them and ends the layout change begun by the caller.
    void applyOrder(const std::vector<int> &order);
    // Tells the view of the rows of before and of the queue now (QueueRole).
    void queueChanged(const QList<quint64> &before);
    void rowChanged(int i, int role);

    QList<TrackRow> m_rows;
    QSet<QString> m_paths; // the full paths of m_rows, kept equal to them at every change
    int m_checkedCount = 0; // the checked rows of m_rows
    int m_sortColumn = -1;
    quint64 m_lastId = 0;
    quint64 m_playingId = 0; // 0: no row plays
    QList<quint64> m_queue; // the play queue's rows by id, first to play first
    quint64 m_stopAfterId = 0; // 0: no stop-after mark
    // Row index (0-based) by id; rebuilt after a change of order (m_idIndexValid false).
    mutable QHash<quint64, int> m_idIndex;
    mutable bool m_idIndexValid = true;
};

} // namespace kes
