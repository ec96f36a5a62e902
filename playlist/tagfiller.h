// The tags of rows that went into the playlist with stand-in texts: read on workers and
// filled into the rows in place, batch after batch in the order the rows were handed
// over.  A fill finds its row by the row's id (TrackRow::id), never by its position: rows
// sorted meanwhile still get their own tags, and a fill for a row that is gone lands
// nowhere.  Also reads the tags of pending rows for a consumer that needs the real texts
// (withTags).
//
// One part of TrackAdder, which decides when reading is held; create, call and destroy on
// the GUI thread, within the lifetime of the pool.
#pragma once

#include "decoderapi.h"
#include "orderedbatches.h"
#include "playlistmodel.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

namespace kes
{

// Priorities of the adder's work on the shared workers: row checks first (the rows show
// before any tag), then a consumer's reads, then fills.
enum AdderPriority : int { FillPriority = 0, ReadPriority = 1, RowPriority = 2 };

class TagFiller
{
public:
    struct Work {
        quint64 id; // the row's id
        QString path;
    };

    // settled runs after anything read was handed over or dropped: isIdle() may have changed.
    TagFiller(PlaylistModel *model, const DecoderApi &api, BatchPool &pool, std::function<void()> settled);

    // While held, the work handed to read() waits, in order; releasing reads it.
    void hold(bool held);
    // Reads the tags of rows added when generation() was as given, and fills them in.
    // Dropped when stop() ran since: those rows are gone.
    void read(QList<Work> work, quint64 generation);
    quint64 generation() const { return m_fills.generation(); }
    // Stops reading for the rows handed over so far, held or not (they were cleared).
    void stop() { m_fills.cancel(); }
    // Nothing is held, being read or waiting to be filled in, for rows or for withTags.
    bool isIdle() const { return m_held.isEmpty() && m_fills.outstanding() == 0 && m_reads.outstanding() == 0; }

    // See TrackAdder::withTags.
    void withTags(QList<TrackRow> rows, QObject *context, std::function<void(const QList<TrackRow> &)> done);

private:
    PlaylistModel *m_model;
    DecoderApi m_api;
    OrderedBatches m_fills;
    OrderedBatches m_reads; // for withTags
    QList<Work> m_held; // oldest first
    bool m_holding = false;
};

} // namespace kes
