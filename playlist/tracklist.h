// What sequencing and the video window need of the playlist: rows by 1-based index,
// their check boxes, tag texts and full paths.  The playlist model implements it.
#pragma once

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
};

} // namespace kes
