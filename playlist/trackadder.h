// Adds files to the playlist without blocking the GUI thread, rows first and tags after.
//
// Jobs (a list of files, a drop, an M3U playlist) run one after another in the order they
// were given; their rows go into the model in order, each with what is known without
// reading its tags (an MP3 shows as an untagged one: its file name and "No Data"), and
// the tags are read afterwards on workers and filled into the rows in place (RowJobs and
// TagFiller, the two parts behind this class).  Row checks run ahead of tag reads, so the
// rows of a later job do not wait for the tags of an earlier one, and tag reads start
// only when no job is left (or the caller holds them while it gathers more files), so
// that they do not take the processors from the rows still to come.  Clearing the
// playlist drops every job queued or running and stops reading the tags of its rows.
//
// Create, call and destroy on the GUI thread.  The model and the prompter must outlive
// the adder.  The decoder table is copied; its file-information functions are called
// from worker threads.  Destruction and stop() wait for the workers, each of which gives
// up after the file it is reading.
#pragma once

#include "decoderapi.h"
#include "orderedbatches.h"
#include "playlistmodel.h"
#include "rowjobs.h"
#include "tagfiller.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace kes
{

class Prompter;

class TrackAdder : public QObject
{
    Q_OBJECT
public:
    TrackAdder(PlaylistModel *model, const DecoderApi &api, Prompter *prompter, QObject *parent = nullptr);
    ~TrackAdder() override;

    // AddTrack for each path, in order.  With skipMissing, a path that no longer names a
    // regular file when it is checked is passed over (the folder search lists files first
    // and adds them later; one may vanish in between).
    void addFiles(const QStringList &paths, bool skipMissing = false);
    // A list kept from an earlier run: every path becomes a row, in order, as addFiles
    // would add it, and one whose file is missing now (its drive not mounted yet) is
    // marked missing instead of being passed over; its tags wait for recheckMissing.
    void restoreFiles(const QStringList &paths);
    // Looks on a worker for the files of the rows marked missing: a row whose file is
    // there again loses its mark and gets its tags read.  Does nothing while a look is
    // underway.
    void recheckMissing();
    bool recheckingMissing() const { return m_recheck.outstanding() > 0; }
    // The rules of a drop: in order; the first path whose last three characters are
    // "m3u" loads that playlist and the paths after it are dropped; other paths are added
    // when the decoder library knows their type and AddTrack accepts them.
    void dropFiles(const QStringList &paths);
    // Wide rules for drops (and for what reaches the player like one): a name ending in
    // ".m3u", ".m3u8" or ".pls" in any letter case is the playlist that ends the drop; a
    // folder adds the files under it that folderPattern matches (as the folder search
    // finds them, walked on a worker); and the dropped files that do not become rows
    // (other than those listed already) are told of in one message when the drop's rows
    // are in.  Off by default: the classic rules, silent.
    struct DropRules {
        bool wide = false;
        QString folderPattern;
    };
    void setDropRules(const DropRules &rules) { m_rows.setDropRules({ rules.wide, rules.folderPattern }); }
    // Files handed to the player from outside (the command line, a second start, the
    // desktop's "open with"): a drop by the wide rules, whatever setDropRules says, whose
    // message about the files not added is a note (it holds up neither what plays them nor
    // the next hand-over).
    void openFiles(const QStringList &paths);
    // Adds the entries of a playlist (M3U, M3U8 or PLS by its name) that name existing
    // files.  A playlist that cannot be read, or a line that cannot be a file name (or
    // past the limits of playlistfiles.h), ends the job with a message (rows added before
    // it stay).
    void loadM3u(const QString &path);

    // Reads the tags of the rows (by id) again, after their files' tags were rewritten,
    // and fills them in as the first reading does (rows sorted by a tag column move to
    // their new places); a row that is gone by then is passed over.  A cue track's row is
    // read from its sheet again.
    void rereadTags(const QList<quint64> &ids);

    // Drops every queued and running job; rows already added stay and still get their tags.
    void cancel();
    // cancel(), and stops reading tags; returns once the workers have let go of the
    // decoder library.  For shutdown: rows still pending keep their stand-in texts.
    void stop();

    // No job is queued or running: every row that will come is in the model.
    bool rowsDone() const { return m_rows.done(); }
    // rowsDone(), and every tag read (for rows and for withTags) is over.
    bool isIdle() const { return rowsDone() && m_tags.isIdle(); }
    // While held, tags of new rows wait (in order) to be read until released: a caller
    // that gathers files in several jobs holds them until its last job is in.
    void holdTags(bool hold);
    // Run the event loop until rowsDone() / isIdle() or timeoutMs passed (-1: no limit);
    // true when reached.  For tests and benchmarks; the program listens to the signals.
    bool waitForRows(int timeoutMs = -1);
    bool waitForIdle(int timeoutMs = -1);

    // Hands rows (copies taken from the model) to done on the GUI thread with the tags of
    // those still pending read from their files on a worker; the others pass unchanged.
    // With nothing pending, done runs before this returns.  done is dropped when context
    // is destroyed first, or the adder is stopped or destroyed.
    void withTags(QList<TrackRow> rows, QObject *context, std::function<void(const QList<TrackRow> &)> done);

signals:
    // Every job has ended (rowsDone() became true); tags may still be being read.
    void rowsIdle();
    // Every job has ended and every tag has been read (isIdle() became true).
    void idle();

private:
    void rowsFinished();
    // After a request: tags wait while rows come, and idle() is due when isIdle() is next true.
    void requested();
    void announce();

    // The pool first: the parts' lines need it, and it stops their workers before they go.
    BatchPool m_pool;
    TagFiller m_tags;
    RowJobs m_rows;
    OrderedBatches m_recheck; // the files of rows marked missing, looked for again
    PlaylistModel *m_model;
    bool m_holdTags = false;
    bool m_wasIdle = true; // idle() is due when isIdle() next becomes true
};

} // namespace kes
