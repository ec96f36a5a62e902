#include "tagfiller.h"

#include "trackreader.h"

#include <algorithm>
#include <utility>

namespace kes
{

namespace
{

// Tags are read in batches this long: small enough that a worker soon turns to row
// checks waiting behind it, large enough that a fill is one repaint for many rows.
constexpr qsizetype kTagBatch = 128;
// A run of fills lets the event loop in after this long.
constexpr qint64 kFillBudgetMs = 10;

// row with the tags of its file; the row stays as it is when its kind has none.
void fillFromFile(const DecoderApi &api, TrackRow &row)
{
    if (auto read = readTrackRow(api, row.fullPath)) {
        row.title = std::move(read->title);
        row.artist = std::move(read->artist);
        row.album = std::move(read->album);
        row.cue = std::move(read->cue);
        row.sortNames = std::move(read->sortNames);
    }
    row.tagsPending = false;
}

} // namespace

TagFiller::TagFiller(PlaylistModel *model, const DecoderApi &api, BatchPool &pool, std::function<void()> settled)
    : m_model(model)
    , m_api(api)
    , m_fills(pool, FillPriority, { kFillBudgetMs })
    , m_reads(pool, ReadPriority, { kFillBudgetMs })
{
    m_fills.onSettled(settled);
    m_reads.onSettled(settled);
    m_fills.onCancelled([this, settled] {
        m_held.clear();
        settled();
    });
    m_reads.onCancelled(settled);
}

void TagFiller::hold(bool held)
{
    m_holding = held;
    if (!m_holding && !m_held.isEmpty())
        read(std::exchange(m_held, {}), generation());
}

void TagFiller::read(QList<Work> work, quint64 generation)
{
    if (generation != m_fills.generation())
        return;
    if (m_holding) {
        m_held += work;
        return;
    }
    for (qsizetype from = 0; from < work.size(); from += kTagBatch) {
        m_fills.submit([api = m_api, model = m_model, batch = work.mid(from, kTagBatch)](
                           const std::atomic_bool &cancelled) -> OrderedBatches::Handover {
            QList<TrackRow> filled;
            filled.reserve(batch.size());
            for (const Work &w : batch) {
                if (cancelled.load())
                    return {};
                TrackRow row;
                row.id = w.id;
                row.fullPath = w.path;
                fillFromFile(api, row);
                filled.append(std::move(row));
            }
            return [model, filled = std::move(filled)] { model->fillRows(filled); };
        });
    }
}

void TagFiller::withTags(QList<TrackRow> rows, QObject *context, std::function<void(const QList<TrackRow> &)> done)
{
    if (std::none_of(rows.cbegin(), rows.cend(), [](const TrackRow &r) { return r.tagsPending; })) {
        done(rows);
        return;
    }
    m_reads.submit([api = m_api, rows = std::move(rows), context = QPointer<QObject>(context), done = std::move(done)](
                       const std::atomic_bool &cancelled) mutable -> OrderedBatches::Handover {
        for (TrackRow &r : rows) {
            if (cancelled.load())
                return {};
            if (r.tagsPending)
                fillFromFile(api, r);
        }
        return [rows = std::move(rows), context, done = std::move(done)] {
            if (context)
                done(rows);
        };
    });
}

} // namespace kes
