// Adds files to the playlist without blocking the GUI thread, rows first and tags after.
//
// Jobs (a list of files, a drop, an M3U playlist) run one after another in the order they
// were given.  Within a job, what a file needs before it may become a row (its existence,
// or the library's verdict on a dropped file) is checked on worker threads in parallel,
// and the rows go into the model on the GUI thread in the original order, in batches, with
// the playlist's duplicate rule applied at the moment each row is added.  A row goes in
// with what is known without reading its tags (an MP3 shows as an untagged one: its file
// name and "No Data"); its tags are read afterwards on the workers and filled into the
// row in place, batch after batch in the order the rows were added.  Row checks run ahead
// of tag reads, so the rows of a later job do not wait for the tags of an earlier one, and
// tag reads start only when no job is left (or the caller holds them while it gathers
// more files), so that they do not take the processors from the rows still to come.
//
// A fill finds its row by the row's id (TrackRow::id), never by its position: rows that
// were sorted meanwhile still get their own tags, and a fill for a row that is gone
// (cleared) lands nowhere.  Clearing the playlist also stops reading the tags of its rows.
//
// Create, call and destroy on the GUI thread.  The model and the prompter must outlive
// the adder.  The decoder table is copied; its file-information functions are called
// from worker threads.  Destruction and stop() wait for the workers, each of which gives
// up after the file it is reading.
#pragma once

#include "backgroundthread.h"
#include "decoderapi.h"
#include "playlistmodel.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

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
    // The rules of a drop: in order; the first path whose last three characters are
    // "m3u" loads that playlist and the paths after it are dropped; other paths are added
    // when the decoder library knows their type and AddTrack accepts them.
    void dropFiles(const QStringList &paths);
    // Adds the entries of an M3U playlist that name existing files.  A playlist that
    // cannot be read, or a line that cannot be a file name, ends the job with a message
    // (rows added before it stay).
    void loadM3u(const QString &path);

    // Drops every queued and running job; rows already added stay and still get their tags.
    void cancel();
    // cancel(), and stops reading tags; returns once the workers have let go of the
    // decoder library.  For shutdown: rows still pending keep their stand-in texts.
    void stop();

    // No job is queued or running: every row that will come is in the model.
    bool rowsDone() const { return !m_active && m_queue.isEmpty(); }
    // rowsDone(), and every tag read (for rows and for withTags) is over.
    bool isIdle() const { return rowsDone() && m_tagBatches == 0 && m_onDemand == 0 && m_heldTags.isEmpty(); }
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

public:
    // Internal, public for the worker plumbing only.
    enum class Check : quint8 { None, Kind, Exists };
    struct Item {
        QString path;
        Check check = Check::None;
        bool listed = false; // listed when dispatched: no need to check the file
    };
    struct Outcome {
        enum Kind : quint8 { Nothing, Row, Listed } kind = Nothing;
        TrackRow row; // Row: the row before its tags are read
    };

private:
    struct Job {
        QList<Item> items;
        bool isM3u = false; // the items come from reading the playlist m3uPath
        QString m3uPath;
    };
    struct Chunk {
        QList<Item> items;
        QList<Outcome> outcomes;
    };
    struct TagWork {
        quint64 id;
        QString path;
    };

    void enqueue(Job job);
    void startNext();
    void begin(QList<Item> items, QString endMessage);
    void dispatch();
    void submit(int seq, QList<Item> items);
    void chunkDone(quint64 generation, int seq, Chunk chunk);
    void deliver();
    void deliverLater(qint64 ms); // once, however often asked before it runs
    void finishJobIfDone();
    void readTags(QList<TagWork> work);
    void releaseTags();
    void tagsRead(quint64 generation, int seq, QList<TrackRow> filled);
    void stopTags();
    void announce();

    PlaylistModel *m_model;
    DecoderApi m_api;
    Prompter *m_prompter;
    BackgroundPool m_pool;

    QQueue<Job> m_queue;
    bool m_active = false; // a job is being prepared or checked
    bool m_preparing = false; // the running job's playlist is being read on a worker
    bool m_delivering = false; // guards deliver() against re-entry from a modal message
    quint64 m_generation = 0; // row results of an older generation are dropped (cancel)
    std::shared_ptr<std::atomic_bool> m_cancelled;
    bool m_wasIdle = true; // idle() is due when isIdle() next becomes true

    // The running job.
    QList<Item> m_items;
    qsizetype m_nextItem = 0;
    QString m_endMessage;
    int m_nextSeq = 0; // sequence number of the next chunk sent out
    int m_deliverSeq = 0; // sequence number of the next chunk to add
    int m_inFlight = 0;
    std::map<int, Chunk> m_done;
    QElapsedTimer m_sinceDelivered; // since rows last went into the model
    bool m_deliverArmed = false; // a deliver() is due on a timer

    // Tag reading, across jobs.  Batches are numbered as they are sent out and filled in
    // that order.
    quint64 m_tagGeneration = 0; // tag results of an older generation are dropped (clear)
    std::shared_ptr<std::atomic_bool> m_tagsCancelled;
    int m_tagSeq = 0; // sequence number of the next batch sent out
    int m_fillSeq = 0; // sequence number of the next batch to fill
    int m_tagBatches = 0; // sent out, not yet filled
    QList<TagWork> m_heldTags; // rows added while jobs ran or tags were held, oldest first
    bool m_holdTags = false;
    std::map<int, QList<TrackRow>> m_filled;
    int m_onDemand = 0; // withTags reads running
    quint64 m_onDemandGeneration = 0; // withTags results of an older generation are dropped (stop)
    std::shared_ptr<std::atomic_bool> m_onDemandCancelled;
};

} // namespace kes
