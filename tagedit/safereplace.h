// A copy of a user's file to edit beside it, and the replace that puts the edited copy
// in the original's place only when the original is still the file that was copied.
// Blocking; any thread; one object per file.
#pragma once

#include "tagwriter.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

#include <sys/stat.h>

namespace kes
{

class SafeReplace
{
public:
    SafeReplace() = default;
    SafeReplace(const SafeReplace &) = delete;
    SafeReplace &operator=(const SafeReplace &) = delete;
    // Removes the copy unless it was put in place.
    ~SafeReplace();

    // Checks that path (a link is followed) is a regular file that may be written in a
    // folder that may be written, and notes its identity, size and modification time.
    // The error's outcome is ReadOnly, Changed (missing) or Failed.
    std::optional<WriteResult> check(const QString &path);
    // Copies the checked file to a new file in its folder; the error is DiskFull, Changed
    // or Failed.  Needs a successful check().
    std::optional<WriteResult> copy();
    // The copy's name, for opening it; the original's name.
    const QByteArray &copyName() const { return m_copyPath; }
    const QByteArray &originalName() const { return m_target; }

    // Gives the copy the original's permissions, owner (where allowed) and modification
    // time, syncs it, and renames it over the original, unless the original or its folder
    // changed since check() (then Changed and the original is left as it is).  The copy is
    // gone afterwards either way.
    WriteResult replace();

    // Called with the original's name just before replace() compares it with what was
    // checked: a test's seam to change the file at the worst moment.  Not for production.
    static void setBeforeReplaceHook(std::function<void(const QByteArray &original)> hook);

private:
    void removeCopy();

    QByteArray m_target; // the real file, links followed
    QByteArray m_name; // its name in the folder
    QByteArray m_folderPath;
    int m_folder = -1; // the folder, held open so that a vanished folder is noticed
    struct stat m_original {
    };
    struct stat m_folderStat {
    };
    QByteArray m_copyName; // in the folder
    QByteArray m_copyPath;
    bool m_copyExists = false;
};

// The Japanese sentence for a failure with errno err; `what` names the step.
WriteResult systemFailure(int err, const QString &what);

} // namespace kes
