// The playlist of the last run: its rows (path, check box, the random round's "END"
// mark) and the current row, kept in a file of its own so that the next start can open
// them again.  The file is an extended M3U in UTF-8 (other players read its paths) with
// comment lines of ours:
//
//   #EXTM3U
//   #KESTRINE-SESSION:1
//   #KESTRINE-CURRENT:/music/b.mp3      the current row's path
//   /music/a.mp3
//   #KESTRINE-UNCHECKED                 the next row is unchecked
//   /music/b.mp3
//   #KESTRINE-ENDED                     the next row is unchecked and marked "END"
//   #KESTRINE-QUEUED:1                  the next row is the first of the play queue
//   /music/c.mp3
//   #KESTRINE-TRACK:03,1234,5678,,,,,/music/cd.cue   the next path is this track of it
//   /music/cd.flac                       (cuetrack.h; the current row's is
//                                        #KESTRINE-CURRENT-TRACK: after #KESTRINE-CURRENT:)
//   #KESTRINE-COUNT:3                   the last line: the file is whole
//
// A file without its last line was cut: the rows of its whole lines still count.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <mutex>

namespace kes
{

class PlaylistModel;

struct SessionRow {
    QString path;
    bool checked = true;
    bool ended = false; // unchecked and marked "END" in the random round
    int queued = 0; // its place in the play queue (1 first), 0: not queued
    bool operator==(const SessionRow &) const = default;
};

struct Session {
    QList<SessionRow> rows;
    QString current; // the current row's path; empty: none
    bool complete = false; // the file ended with its count, and the count agreed
};

// The file's bytes for a session; rows whose path holds a line break are left out.
QByteArray writeSession(const Session &session);
// The session of a file's bytes; bytes that are not such a file give no rows.
Session readSession(const QByteArray &bytes);
// The rows of the model, and the path of row currentRow (1-based) as the current one.
Session sessionOf(const PlaylistModel &model, int currentRow);

// Keeps the file up to date with the model while enabled: a change is written once the
// list has stood still for a moment, serialised and written on a worker thread (one
// write at a time, the newest last), each time replacing the file whole, so that a
// write cut short leaves the file before it.  Create, call and destroy on the GUI
// thread; the model must outlive the keeper.
class SessionKeeper : public QObject
{
    Q_OBJECT
public:
    // currentRow gives CurrentTrackNo; enabled says whether the option is on (read at
    // each change and at flush()).
    SessionKeeper(PlaylistModel &model, const QString &path, std::function<int()> currentRow,
        std::function<bool()> enabled, QObject *parent = nullptr);
    ~SessionKeeper() override; // waits for a write underway

    // The session of the file; a missing, unreadable or oversized file gives no rows.
    // Reads the file on the calling thread (it is small: a path a row).  A list that
    // writes back as the file's bytes is not written again.
    Session load();
    const QString &path() const { return m_path; }

    // While restoring, nothing is written: a list still filling up must not replace the
    // file it comes from.  The end of restoring counts as a change.
    void setRestoring(bool restoring);
    // The list or the current row changed: a write follows once changes pause.
    void noteChange();
    // Writes a pending change now on the calling thread, after any write underway; a
    // write that failed is tried again.  Returns false when the write failed; true when
    // it worked or nothing was pending.
    bool flush();
    // flush(), and from now on nothing is written (the program ends).
    bool finish();

    static constexpr int kSettleMs = 1500;
    // Files above this size are not read.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    // Why the last write failed; empty after one that worked.
    QString lastError() const;

signals:
    // A write has ended (on the GUI thread); error says why one failed.
    void written(bool ok, const QString &error);

private:
    void writeLater();
    // Writes the bytes unless the file holds them already; on any thread, one at a time.
    bool write(const QByteArray &bytes);

    PlaylistModel &m_model;
    QString m_path;
    std::function<int()> m_currentRow;
    std::function<bool()> m_enabled;
    QTimer m_timer;
    QThreadPool m_pool; // one writer thread
    bool m_restoring = false;
    bool m_pending = false;
    bool m_finished = false;

    // Shared with the writer thread.
    mutable std::mutex m_mutex;
    QByteArray m_kept; // what the file holds, as far as known
    bool m_failed = false; // the last write failed: the next flush() tries again
    QString m_error;
};

} // namespace kes
