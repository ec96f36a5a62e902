#include "trackadder.h"

#include "playlistfiles.h"
#include "playlistmodel.h"
#include "prompter.h"
#include "trackreader.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <QThread>

#include <algorithm>
#include <utility>

namespace kes
{

namespace
{

// The first chunk is small so that rows show at once; later ones amortise the hand-over.
constexpr qsizetype kFirstChunk = 32;
constexpr qsizetype kChunk = 256;

TrackAdder::Outcome readItem(const DecoderApi &api, const TrackAdder::Item &item)
{
    TrackAdder::Outcome out;
    if (item.listed) {
        out.kind = TrackAdder::Outcome::Listed;
        return out;
    }
    if (acceptedKind(item.path).isEmpty())
        return out;
    if (item.check == TrackAdder::Check::Exists && !isListableFile(item.path))
        return out;
    if (item.check == TrackAdder::Check::Kind && FileKindOf(api, item.path) == QLatin1String("err"))
        return out;
    if (auto row = readTrackRow(api, item.path)) {
        out.kind = TrackAdder::Outcome::Row;
        out.row = std::make_shared<TrackRow>(std::move(*row));
    }
    return out;
}

} // namespace

TrackAdder::TrackAdder(PlaylistModel *model, const DecoderApi &api, Prompter *prompter, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_api(api)
    , m_prompter(prompter)
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
    m_pool.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

TrackAdder::~TrackAdder()
{
    m_cancelled->store(true);
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
        emit idle();
    }
}

bool TrackAdder::waitForIdle(int timeoutMs)
{
    if (isIdle())
        return true;
    QEventLoop loop;
    connect(this, &TrackAdder::idle, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0)
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return isIdle();
}

void TrackAdder::enqueue(Job job)
{
    if (job.items.isEmpty() && !job.isM3u)
        return;
    m_queue.enqueue(std::move(job));
    if (!m_active)
        startNext();
}

void TrackAdder::startNext()
{
    if (m_queue.isEmpty()) {
        emit idle();
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
    m_pool.start([this, generation, path] {
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
    });
}

void TrackAdder::begin(QList<Item> items, QString endMessage)
{
    m_items = std::move(items);
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
    const DecoderApi api = m_api;
    auto cancelled = m_cancelled;
    m_pool.start([this, generation, seq, api, cancelled, items = std::move(items)]() mutable {
        Chunk chunk;
        chunk.outcomes.reserve(items.size());
        for (const Item &item : items) {
            if (cancelled->load())
                return;
            chunk.outcomes.append(readItem(api, item));
        }
        chunk.items = std::move(items);
        QMetaObject::invokeMethod(
            this,
            [this, generation, seq, chunk = std::move(chunk)]() mutable {
                chunkDone(generation, seq, std::move(chunk));
            },
            Qt::QueuedConnection);
    });
}

void TrackAdder::chunkDone(quint64 generation, int seq, Chunk chunk)
{
    if (generation != m_generation)
        return;
    --m_inFlight;
    m_done.emplace(seq, std::move(chunk));
    deliver();
}

void TrackAdder::deliver()
{
    if (m_delivering)
        return;
    m_delivering = true;
    for (auto it = m_done.find(m_deliverSeq); it != m_done.end(); it = m_done.find(m_deliverSeq)) {
        Chunk chunk = std::move(it->second);
        m_done.erase(it);
        QList<TrackRow> rows;
        rows.reserve(chunk.outcomes.size());
        qsizetype k = 0;
        for (; k < chunk.outcomes.size(); ++k) {
            const Outcome &o = chunk.outcomes.at(k);
            if (o.kind == Outcome::Row) {
                rows.append(*o.row);
            } else if (o.kind == Outcome::Listed && !m_model->contains(chunk.items.at(k).path)) {
                // Listed when sent out but gone now (the list was cleared): this file has
                // to be read after all, and the rest of the chunk waits for it.
                break;
            }
        }
        const quint64 generation = m_generation;
        m_model->addRows(rows);
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

} // namespace kes
