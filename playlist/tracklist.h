// What sequencing and the video window need of the playlist: rows by 1-based index,
// their check boxes, tag texts and full paths.  The playlist model implements it.
#pragma once

#include <QList>
#include <QString>

namespace kes
{

class TrackList
{
public:
    virtual ~TrackList() = default;
    virtual int count() const = 0;
    virtual bool isChecked(int row) const = 0;
    virtual void setChecked(int row, bool checked) = 0;
    virtual QString tag(int row) const = 0;
    virtual void setTag(int row, const QString &tag) = 0;
    virtual QString fullPath(int row) const = 0;
    // true when at least one row is checked; implementations keep a count.
    virtual bool anyChecked() const = 0;
    // Whether the row's file was missing when last looked for (a drive not mounted yet):
    // sequencing passes over it as over an unchecked row, and leaves its check box as it is.
    virtual bool isMissing(int row) const
    {
        (void)row;
        return false;
    }

    // The play queue: rows that play next, before any other, in queue order (1-based
    // indexes); a list without one has none.  dequeue() takes a row out of it.
    virtual QList<int> queuedRows() const { return {}; }
    virtual void dequeue(int row) { (void)row; }
    // The row whose track is the last to play before playback stops; 0 for none.
    virtual int stopAfterRow() const { return 0; }
    virtual void setStopAfterRow(int row) { (void)row; }
    // A name of the row that stays with it while rows move or go (never 0 for a row);
    // rowOfId gives the row's index again, 0 once it is gone.  By default the index.
    virtual quint64 rowId(int row) const { return row < 1 || row > count() ? 0 : static_cast<quint64>(row); }
    virtual int rowOfId(quint64 id) const { return id <= static_cast<quint64>(count()) ? static_cast<int>(id) : 0; }
};

} // namespace kes
