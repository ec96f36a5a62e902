#include "trackadder.h"

#include "playlistfiles.h"
#include "prompter.h"
#include "trackreader.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kes
{

namespace
{

// The first chunk is small so that rows show at once; later ones amortise the hand-over.
constexpr qsizetype kFirstChunk = 32;
constexpr qsizetype kChunk = 512;
// Rows that come back meanwhile go into the list at most this often (but the last of a
// job at once): every insertion makes the list view lay out all its rows again.
constexpr qint64 kDeliverGapMs = 40;
// One delivery adds rows for at most this long before it lets the event loop run again
// (workers that check fast, e.g. a folder of 100,000 empty files, pile up many chunks).
constexpr qint64 kDeliverBudgetMs = 10;
// Tags are read in batches this long: small enough that a worker soon turns to row
// checks waiting behind it, large enough that a fill is one repaint for many rows.
constexpr qsizetype kTagBatch = 128;
// Worker priorities: checks before rows go in, then a consumer's reads, then fills.
constexpr int kRowPriority = 2;
constexpr int kOnDemandPriority = 1;
constexpr int kTagPriority = 0;

TrackAdder::Outcome checkItem(const DecoderApi &api, const TrackAdder::Item &item)
{
    TrackAdder::Outcome out;
    if (item.listed) {
        out.kind = TrackAdder::Outcome::Listed;
        return out;
    }
    auto row = provisionalTrackRow(item.path);
    if (!row)
        return out;
    if (item.check == TrackAdder::Check::Exists && !isListableFile(item.path))
        return out;
    if (item.check == TrackAdder::Check::Kind && FileKindOf(api, item.path) == QLatin1String("err"))
        return out;
    out.kind = TrackAdder::Outcome::Row;
    out.row = std::move(*row);
    return out;
}

// row with the tags of its file; the row stays as it is when its kind has none.
void fillFromFile(const DecoderApi &api, TrackRow &row)
{
    if (auto read = readTrackRow(api, row.fullPath)) {
        row.title = std::move(read->title);
        row.artist = std::move(read->artist);
        row.album = std::move(read->album);
    }
    row.tagsPending = false;
}

} // namespace

TrackAdder::TrackAdder(PlaylistModel *model, const DecoderApi &api, Prompter *prompter, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_api(api)
    , m_prompter(prompter)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
    , m_tagsCancelled(std::make_shared<std::atomic_bool>(false))
    , m_onDemandCancelled(std::make_shared<std::atomic_bool>(false))
{
    m_pool.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    // Clearing the playlist takes the rows whose tags are on their way: stop reading them.
    connect(m_model, &QAbstractItemModel::modelReset, this, &TrackAdder::stopTags);
}

TrackAdder::~TrackAdder()
{
    m_cancelled->store(true);
    m_tagsCancelled->store(true);
    m_onDemandCancelled->store(true);
    m_pool.clear();
    m_pool.waitForDone();
}

void TrackAdder::addFiles(const QStringList &paths, bool skipMissing)
{
    Job job;
    job.items.reserve(paths.size());
    const Check check = skipMissing ? Check::Exists : Check::None;
    for (const QString &p : paths)
        job.items.append({ p, check, false });
    enqueue(std::move(job));
}

void TrackAdder::dropFiles(const QStringList &paths)
{
    Job job;
    for (const QString &p : paths) {
        if (p.endsWith(QLatin1String("m3u"), Qt::CaseSensitive)) {
            enqueue(std::move(job));
            Job list;
            list.isM3u = true;
            list.m3uPath = p;
            enqueue(std::move(list));
            return;
        }
        job.items.append({ p, Check::Kind, false });
    }
    enqueue(std::move(job));
}

void TrackAdder::loadM3u(const QString &path)
{
    Job job;
    job.isM3u = true;
    job.m3uPath = path;
    enqueue(std::move(job));
}

void TrackAdder::cancel()
{
    m_queue.clear();
    m_cancelled->store(true);
    m_cancelled = std::make_shared<std::atomic_bool>(false);
    ++m_generation;
    m_items.clear();
    m_nextItem = 0;
    m_endMessage.clear();
    m_done.clear();
    m_inFlight = 0;
    m_nextSeq = m_deliverSeq = 0;
    m_preparing = false;
    if (m_active && !m_delivering) {
        m_active = false;
        releaseTags();
        emit rowsIdle();
        announce();
    }
}

void TrackAdder::stop()
{
    cancel();
    stopTags();
    // Reads for withTags are dropped too: their results would come back to nobody.
    m_onDemandCancelled->store(true);
    m_onDemandCancelled = std::make_shared<std::atomic_bool>(false);
    ++m_onDemandGeneration;
    m_onDemand = 0;
    m_pool.clear();
    m_pool.waitForDone();
    announce();
}

void TrackAdder::stopTags()
{
    m_tagsCancelled->store(true);
    m_tagsCancelled = std::make_shared<std::atomic_bool>(false);
    ++m_tagGeneration;
    m_filled.clear();
    m_heldTags.clear();
    m_tagBatches = 0;
    m_tagSeq = m_fillSeq = 0;
    announce();
}

void TrackAdder::announce()
{
    if (isIdle() && !m_wasIdle) {
        m_wasIdle = true;
        emit idle();
    }
}

namespace
{

bool waitUntil(TrackAdder *adder, const std::function<bool()> &reached, int timeoutMs)
{
    if (reached())
        return true;
    QEventLoop loop;
    QObject::connect(adder, &TrackAdder::rowsIdle, &loop, [&] {
        if (reached())
            loop.quit();
    });
    QObject::connect(adder, &TrackAdder::idle, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0)
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return reached();
}

} // namespace

bool TrackAdder::waitForRows(int timeoutMs)
{
    return waitUntil(
        this, [this] { return rowsDone(); }, timeoutMs);
}

bool TrackAdder::waitForIdle(int timeoutMs)
{
    return waitUntil(
        this, [this] { return isIdle(); }, timeoutMs);
}

void TrackAdder::enqueue(Job job)
{
    if (job.items.isEmpty() && !job.isM3u)
        return;
    m_queue.enqueue(std::move(job));
    m_wasIdle = false;
    if (!m_active)
        startNext();
}

void TrackAdder::startNext()
{
    if (m_queue.isEmpty()) {
        releaseTags();
        emit rowsIdle();
        announce();
        return;
    }
    m_active = true;
    Job job = m_queue.dequeue();
    if (!job.isM3u) {
        begin(std::move(job.items), {});
        return;
    }
    // Reading and parsing the playlist happens on a worker; the entries come back here.
    const quint64 generation = m_generation;
    const QString path = job.m3uPath;
    m_preparing = true;
    m_pool.start(
        [this, generation, path] {
            QByteArray bytes;
            QList<Item> items;
            QString message;
            if (!readWholeFile(path, bytes)) {
                message = readFailedMessage(path);
            } else {
                const M3uEntries entries = parseM3u(bytes, QFileInfo(path).absolutePath());
                items.reserve(entries.paths.size());
                for (const QString &p : entries.paths)
                    items.append({ p, Check::Exists, false });
                if (entries.aborted)
                    message = QStringLiteral("読み込めないファイル形式ですので処理を中断します");
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, items = std::move(items), message = std::move(message)]() mutable {
                    if (generation != m_generation)
                        return;
                    m_preparing = false;
                    begin(std::move(items), std::move(message));
                },
                Qt::QueuedConnection);
        },
        kRowPriority);
}

void TrackAdder::begin(QList<Item> items, QString endMessage)
{
    m_items = std::move(items);
    m_model->reserveRows(static_cast<int>(m_items.size()));
    m_nextItem = 0;
    m_endMessage = std::move(endMessage);
    m_nextSeq = m_deliverSeq = 0;
    m_inFlight = 0;
    m_done.clear();
    dispatch();
    finishJobIfDone();
}

void TrackAdder::dispatch()
{
    const int maxInFlight = 2 * m_pool.maxThreadCount();
    while (m_inFlight < maxInFlight && m_nextItem < m_items.size()) {
        const qsizetype size = std::min(m_nextSeq == 0 ? kFirstChunk : kChunk, m_items.size() - m_nextItem);
        QList<Item> chunk = m_items.mid(m_nextItem, size);
        m_nextItem += size;
        submit(m_nextSeq++, std::move(chunk));
    }
    if (m_nextItem >= m_items.size()) {
        m_items.clear();
        m_nextItem = 0;
    }
}

void TrackAdder::submit(int seq, QList<Item> items)
{
    for (Item &item : items)
        item.listed = m_model->contains(item.path);
    ++m_inFlight;
    const quint64 generation = m_generation;
    m_pool.start(
        [this, generation, seq, api = m_api, cancelled = m_cancelled, items = std::move(items)]() mutable {
            Chunk chunk;
            chunk.outcomes.reserve(items.size());
            for (const Item &item : items) {
                if (cancelled->load())
                    return;
                chunk.outcomes.append(checkItem(api, item));
            }
            chunk.items = std::move(items);
            QMetaObject::invokeMethod(
                this,
                [this, generation, seq, chunk = std::move(chunk)]() mutable {
                    chunkDone(generation, seq, std::move(chunk));
                },
                Qt::QueuedConnection);
        },
        kRowPriority);
}

void TrackAdder::chunkDone(quint64 generation, int seq, Chunk chunk)
{
    if (generation != m_generation)
        return;
    --m_inFlight;
    m_done.emplace(seq, std::move(chunk));
    dispatch(); // the workers go on while these rows wait for their turn
    const bool jobDone = m_inFlight == 0 && m_nextItem >= m_items.size();
    const qint64 since = m_sinceDelivered.isValid() ? m_sinceDelivered.elapsed() : kDeliverGapMs;
    if (jobDone || since >= kDeliverGapMs)
        deliver();
    else
        deliverLater(kDeliverGapMs - since);
}

void TrackAdder::deliverLater(qint64 ms)
{
    if (m_deliverArmed)
        return;
    m_deliverArmed = true;
    QTimer::singleShot(ms, this, [this] {
        m_deliverArmed = false;
        deliver();
    });
}

void TrackAdder::deliver()
{
    if (m_delivering)
        return;
    m_delivering = true;
    QElapsedTimer spent;
    spent.start();
    for (auto it = m_done.find(m_deliverSeq); it != m_done.end(); it = m_done.find(m_deliverSeq)) {
        if (spent.elapsed() >= kDeliverBudgetMs) {
            deliverLater(0); // the rest after the events that waited meanwhile
            break;
        }
        Chunk chunk = std::move(it->second);
        m_done.erase(it);
        QList<TrackRow> rows;
        rows.reserve(chunk.outcomes.size());
        qsizetype k = 0;
        for (; k < chunk.outcomes.size(); ++k) {
            Outcome &o = chunk.outcomes[k];
            if (o.kind == Outcome::Row) {
                rows.append(std::move(o.row));
            } else if (o.kind == Outcome::Listed && !m_model->contains(chunk.items.at(k).path)) {
                // Listed when sent out but gone now (the list was cleared): this file has
                // to be checked after all, and the rest of the chunk waits for it.
                break;
            }
        }
        const quint64 generation = m_generation;
        const quint64 tagGeneration = m_tagGeneration;
        QList<quint64> ids;
        m_sinceDelivered.start();
        m_model->addRows(rows, &ids);
        if (tagGeneration == m_tagGeneration) { // else the new rows are gone already
            QList<TagWork> work;
            for (qsizetype r = 0; r < rows.size(); ++r)
                if (ids.at(r) != 0 && rows.at(r).tagsPending)
                    work.append({ ids.at(r), rows.at(r).fullPath });
            readTags(std::move(work));
        }
        if (generation != m_generation)
            break; // cancelled by someone reacting to the new rows
        if (k < chunk.outcomes.size()) {
            submit(m_deliverSeq, chunk.items.mid(k));
            break;
        }
        ++m_deliverSeq;
    }
    dispatch();
    m_delivering = false;
    finishJobIfDone();
}

void TrackAdder::finishJobIfDone()
{
    if (!m_active || m_preparing || m_delivering || m_inFlight > 0 || !m_done.empty() || m_nextItem < m_items.size())
        return;
    m_delivering = true; // a modal message must not re-enter this job
    const QString message = std::exchange(m_endMessage, {});
    if (!message.isEmpty() && m_prompter)
        m_prompter->message(message);
    m_delivering = false;
    m_active = false;
    startNext();
}

void TrackAdder::holdTags(bool hold)
{
    m_holdTags = hold;
    releaseTags();
}

void TrackAdder::releaseTags()
{
    if (!m_holdTags && rowsDone() && !m_heldTags.isEmpty())
        readTags(std::exchange(m_heldTags, {}));
}

void TrackAdder::readTags(QList<TagWork> work)
{
    if (m_holdTags || !rowsDone()) {
        m_heldTags += work;
        return;
    }
    for (qsizetype from = 0; from < work.size(); from += kTagBatch) {
        const int seq = m_tagSeq++;
        ++m_tagBatches;
        const quint64 generation = m_tagGeneration;
        m_pool.start(
            [this, generation, seq, api = m_api, cancelled = m_tagsCancelled, batch = work.mid(from, kTagBatch)] {
                QList<TrackRow> filled;
                filled.reserve(batch.size());
                for (const TagWork &w : batch) {
                    if (cancelled->load())
                        return;
                    TrackRow row;
                    row.id = w.id;
                    row.fullPath = w.path;
                    fillFromFile(api, row);
                    filled.append(std::move(row));
                }
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, seq, filled = std::move(filled)]() mutable {
                        tagsRead(generation, seq, std::move(filled));
                    },
                    Qt::QueuedConnection);
            },
            kTagPriority);
    }
}

void TrackAdder::tagsRead(quint64 generation, int seq, QList<TrackRow> filled)
{
    if (generation != m_tagGeneration)
        return;
    m_filled.emplace(seq, std::move(filled));
    for (auto it = m_filled.find(m_fillSeq); it != m_filled.end(); it = m_filled.find(m_fillSeq)) {
        const QList<TrackRow> batch = std::move(it->second);
        m_filled.erase(it);
        ++m_fillSeq;
        --m_tagBatches;
        m_model->fillRows(batch);
        if (generation != m_tagGeneration)
            return; // cleared by someone reacting to the fill
    }
    announce();
}

void TrackAdder::withTags(QList<TrackRow> rows, QObject *context, std::function<void(const QList<TrackRow> &)> done)
{
    if (std::none_of(rows.cbegin(), rows.cend(), [](const TrackRow &r) { return r.tagsPending; })) {
        done(rows);
        return;
    }
    ++m_onDemand;
    m_wasIdle = false;
    const quint64 generation = m_onDemandGeneration;
    m_pool.start(
        [this, generation, api = m_api, cancelled = m_onDemandCancelled, rows = std::move(rows),
            context = QPointer<QObject>(context), done = std::move(done)]() mutable {
            for (TrackRow &r : rows) {
                if (cancelled->load())
                    return;
                if (r.tagsPending)
                    fillFromFile(api, r);
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, rows = std::move(rows), context, done = std::move(done)] {
                    if (generation != m_onDemandGeneration)
                        return;
                    --m_onDemand;
                    if (context)
                        done(rows);
                    announce();
                },
                Qt::QueuedConnection);
        },
        kOnDemandPriority);
}

} // namespace kes
