// Reading folders for the folder search: one folder's sub-folders and matching files (what
// the folder and file lists show), and the breadth-first walk over a tree whose files go to
// the playlist.  The reading runs on the walker's own worker threads; results come back as
// signals on the thread that owns the walker (the GUI thread).
//
// Order: within a folder, names sort case-insensitively (ties case-sensitively); a walk
// gives the start folder, its sub-folders, their sub-folders, and so on, level by level.
// Names starting with "." are left out.  Symbolic links are followed; a folder reached a
// second time (a link loop, or two links to one folder) is not read again.  In a walk, a
// cue sheet that names one of its folder's matching files takes the place of the files
// it names (its tracks become rows, its image does not), whether the pattern matches
// sheets or not.  A folder that
// cannot be read, and an entry that vanishes or cannot be examined while it is read, is
// passed over and the walk goes on.
#pragma once

#include "backgroundthread.h"

#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace kes
{

// path unchanged when it ends in "/", else path followed by "/".
QString AddSlash(const QString &path);

// A file list pattern such as "*.mp3;*.rmp": wildcard patterns joined by ";", matched
// against whole file names without regard to letter case.  An empty pattern matches nothing.
class FilePattern
{
public:
    FilePattern() = default;
    explicit FilePattern(const QString &text);
    bool matches(const QString &name) const;

private:
    QStringList m_suffixes; // "*.ext" patterns, kept as ".ext"
    QList<QRegularExpression> m_others;
};

class FolderWalker : public QObject
{
    Q_OBJECT
public:
    struct Listing {
        QString folder;
        QStringList folders; // names of the sub-folders, sorted
        QStringList files; // names of the matching files, sorted
        bool readable = false;
        QString error; // the system's text when the folder could not be read
    };
    // Called by a walk with the full paths of one or more folders' files, in walk order,
    // and the last folder read.
    using Sink = std::function<void(QStringList files, const QString &lastFolder)>;

    // Reads one folder.  Thread-safe; blocks on the file system.
    static Listing list(const QString &folder, const FilePattern &pattern);
    // The whole walk from root (only root when recursive is false), blocking, handing the
    // files over in batches.  Returns the number of folders read.  Stops early when
    // cancelled becomes true.  Thread-safe.
    static int walk(const QString &root, bool recursive, const FilePattern &pattern, const Sink &sink,
        const std::atomic_bool &cancelled);

    // Create, call and destroy on one thread with an event loop; destruction waits for a
    // running read to notice that it was cancelled.
    explicit FolderWalker(QObject *parent = nullptr);
    ~FolderWalker() override;

    // Reads folder on a worker; listed() follows.  A later request supersedes an earlier
    // one that has not been answered yet.
    void requestListing(const QString &folder, const QString &pattern);
    // Starts a walk on a worker (cancelling one still running); found() and then
    // finished() follow.
    void start(const QString &root, bool recursive, const QString &pattern);
    // Stops the running walk: no more found(), and finished(true) at once.
    void cancel();
    bool isWalking() const { return m_walking; }

signals:
    void listed(const kes::FolderWalker::Listing &listing);
    void found(const QStringList &files, const QString &lastFolder);
    void finished(bool cancelled);

private:
    BackgroundPool m_pool;
    // The latest listing request; older ones are skipped or their answers dropped.
    std::shared_ptr<std::atomic<quint64>> m_listSerial;
    quint64 m_walkSerial = 0; // results of older walks are dropped
    bool m_walking = false;
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

} // namespace kes
