// Adds files to the playlist without blocking the GUI thread.  Jobs (a list of files, a
// drop, an M3U playlist) run one after another in the order they were given; within a
// job, files are read (type, tags, existence) on worker threads in parallel, and the rows
// are added on the GUI thread in the original order, in batches, with the playlist's
// duplicate rule applied at the moment each row is added.
//
// Create, call and destroy on the GUI thread.  The model and the prompter must outlive
// the adder.  The decoder table is copied; its file-information functions are called
// from worker threads.
#pragma once

#include "decoderapi.h"

#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <map>
#include <memory>
#include <optional>

namespace kes
{

class PlaylistModel;
class Prompter;
struct TrackRow;

class TrackAdder : public QObject
{
    Q_OBJECT
public:
    TrackAdder(PlaylistModel *model, const DecoderApi &api, Prompter *prompter, QObject *parent = nullptr);
    ~TrackAdder() override;

    // AddTrack for each path, in order.  With skipMissing, a path that no longer names a
    // regular file when it is read is passed over (the folder search lists files first
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

    // Drops every queued and running job; rows already added stay.
    void cancel();

    bool isIdle() const { return !m_active && m_queue.isEmpty(); }
    // Runs the event loop until idle or timeoutMs passed (-1: no limit); true when idle.
    // For tests and benchmarks; the program listens to idle() instead.
    bool waitForIdle(int timeoutMs = -1);

signals:
    // Every job has ended.
    void idle();

public:
    // Internal, public for the worker plumbing only.
    enum class Check : quint8 { None, Kind, Exists };
    struct Item {
        QString path;
        Check check = Check::None;
        bool listed = false; // listed when dispatched: no need to read the file
    };
    struct Outcome {
        enum Kind : quint8 { Nothing, Row, Listed } kind = Nothing;
        std::shared_ptr<TrackRow> row;
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

    void enqueue(Job job);
    void startNext();
    void begin(QList<Item> items, QString endMessage);
    void dispatch();
    void submit(int seq, QList<Item> items);
    void chunkDone(quint64 generation, int seq, Chunk chunk);
    void deliver();
    void finishJobIfDone();

    PlaylistModel *m_model;
    DecoderApi m_api;
    Prompter *m_prompter;
    QThreadPool m_pool;

    QQueue<Job> m_queue;
    bool m_active = false; // a job is being prepared or read
    bool m_preparing = false; // the running job's playlist is being read on a worker
    bool m_delivering = false; // guards deliver() against re-entry from a modal message
    quint64 m_generation = 0; // results of an older generation are dropped (cancel)
    std::shared_ptr<std::atomic_bool> m_cancelled;

    // The running job.
    QList<Item> m_items;
    qsizetype m_nextItem = 0;
    QString m_endMessage;
    int m_nextSeq = 0; // sequence number of the next chunk sent out
    int m_deliverSeq = 0; // sequence number of the next chunk to add
    int m_inFlight = 0;
    std::map<int, Chunk> m_done;
};

} // namespace kes
