// The jobs that put rows into the playlist: a list of files, a drop, an M3U playlist, run
// one after another in the order they were given.  Within a job, what a file needs before
// it may become a row (its existence, or the library's verdict on a dropped file) is
// checked on workers in parallel, and the rows go into the model on the GUI thread in the
// original order, in batches, with the playlist's duplicate rule applied at the moment each
// row is added.  A row goes in with what is known without reading its tags; the tags of
// those that have some are handed to the TagFiller.  A cue sheet (or an image storing
// one) is read in its check and becomes its tracks' rows, complete (cuerows.h).
//
// One part of TrackAdder (whose functions of the same names say what each job does);
// create, call and destroy on the GUI thread, within the lifetime of the pool.
#pragma once

#include "decoderapi.h"
#include "orderedbatches.h"
#include "playlistmodel.h"
#include "tagfiller.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>

namespace kes
{

class Prompter;

class RowJobs
{
public:
    // finished runs when the last job has ended (done() became true).
    RowJobs(PlaylistModel *model, const DecoderApi &api, Prompter *prompter, BatchPool &pool, TagFiller &tags,
        std::function<void()> finished);

    // How drops are taken (TrackAdder::DropRules).
    struct DropRules {
        bool wide = false;
        QString folderPattern;
    };
    void setDropRules(DropRules rules) { m_dropRules = std::move(rules); }

    void addFiles(const QStringList &paths, bool skipMissing);
    // Every path becomes a row; one whose file is missing is marked so (TrackAdder::restoreFiles).
    void restoreFiles(const QStringList &paths);
    // wide: by the wide rules whatever the drop rules say.  note: the job's end message is
    // a note (Prompter::note), which holds up nothing that follows (files handed over).
    void dropFiles(const QStringList &paths, bool wide = false, bool note = false);
    void loadM3u(const QString &path, bool note = false);
    // Drops every queued and running job; rows already added stay.
    void cancel();
    bool done() const { return !m_active && m_queue.isEmpty(); }

    // What a file is checked for before it becomes a row.  Keep: whether it exists, and
    // a missing file still becomes a row, marked missing.
    enum class Check : quint8 { None, Kind, Exists, Keep };
    struct Item {
        QString path;
        Check check = Check::None;
        bool listed = false; // listed when sent out: no need to check the file
        QString alternative; // Exists: the name tried when path names no file
        bool report = false; // told of when it does not become a row (and is not listed)
    };
    struct Outcome {
        enum Kind : quint8 { Nothing, Row, Listed } kind = Nothing;
        TrackRow row; // Row: the row before its tags are read
        QList<TrackRow> tracks; // Row: a cue sheet's tracks, in the place of row
    };

private:
    struct Job {
        QList<Item> items;
        bool isM3u = false; // the items come from reading the playlist m3uPath
        QString m3uPath;
        bool expand = false; // a wide drop: its folders are walked on a worker first
        bool note = false; // its end message is a note
    };

    void enqueue(Job job);
    void startNext();
    void begin(QList<Item> items, QString endMessage);
    // The running job's end message with the files it reported as not added.
    QString endMessage();
    void dispatch();
    OrderedBatches::Work checks(QList<Item> items);
    void take(const QList<Item> &items, QList<Outcome> outcomes);
    void finishJobIfDone();
    void dropJobs();
    bool delivering() const { return m_lists.isDelivering() || m_checks.isDelivering(); }

    PlaylistModel *m_model;
    DecoderApi m_api;
    Prompter *m_prompter;
    TagFiller &m_tags;
    std::function<void()> m_finished;
    const int m_maxRunning; // batches of checks out at once
    OrderedBatches m_lists; // the running job's playlist, read and parsed
    OrderedBatches m_checks; // the running job's files, checked

    QQueue<Job> m_queue;
    bool m_active = false; // a job is being prepared or checked
    bool m_ending = false; // the running job's end message shows: it must not end twice

    // The running job.
    QList<Item> m_items; // those not sent out yet, from m_nextItem on
    qsizetype m_nextItem = 0;
    QString m_endMessage;
    bool m_endNote = false; // the running job's end message is a note
    QStringList m_skipped; // the running job's reported files that did not become rows
    DropRules m_dropRules;
};

} // namespace kes
