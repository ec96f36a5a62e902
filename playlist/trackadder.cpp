#include "trackadder.h"

#include "playlistfiles.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kes
{

TrackAdder::TrackAdder(PlaylistModel *model, const DecoderApi &api, Prompter *prompter, QObject *parent)
    : QObject(parent)
    , m_pool(std::max(2, QThread::idealThreadCount()))
    , m_tags(model, api, m_pool, [this] { announce(); })
    , m_rows(model, api, prompter, m_pool, m_tags, [this] { rowsFinished(); })
    , m_recheck(m_pool, FillPriority, { 10 })
    , m_model(model)
{
    // Clearing the playlist ends what is being added to it (its rows would come back after
    // the clearing) and takes the rows whose tags are on their way: stop reading them.  A
    // consumer's reads (withTags) go on: they are of rows it copied.
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        m_rows.cancel();
        m_tags.stop();
    });
}

TrackAdder::~TrackAdder()
{
    m_pool.shutdown();
}

void TrackAdder::addFiles(const QStringList &paths, bool skipMissing)
{
    m_rows.addFiles(paths, skipMissing);
    requested();
}

void TrackAdder::restoreFiles(const QStringList &paths)
{
    m_rows.restoreFiles(paths);
    requested();
}

void TrackAdder::recheckMissing()
{
    if (recheckingMissing())
        return;
    QList<TagFiller::Work> missing;
    for (int i = 1; i <= m_model->count(); ++i)
        if (m_model->isMissing(i))
            missing.append({ m_model->row(i).id, m_model->fullPath(i) });
    if (missing.isEmpty())
        return;
    m_recheck.submit([this, missing = std::move(missing)](const std::atomic_bool &cancelled) {
        QList<TagFiller::Work> found;
        for (const TagFiller::Work &w : missing) {
            if (cancelled.load())
                return OrderedBatches::Handover();
            if (isListableFile(fileOfPath(w.path)))
                found.append(w);
        }
        return OrderedBatches::Handover([this, found = std::move(found)] {
            QList<TagFiller::Work> tags;
            for (const TagFiller::Work &w : found) {
                const int row = m_model->indexOfId(w.id);
                if (row == 0)
                    continue; // removed meanwhile
                m_model->setMissing(row, false);
                if (m_model->tagsPending(row))
                    tags.append(w);
            }
            m_tags.read(std::move(tags), m_tags.generation());
            requested();
        });
    });
}

void TrackAdder::rereadTags(const QList<quint64> &ids)
{
    QList<TagFiller::Work> work;
    for (quint64 id : ids) {
        if (const int row = m_model->indexOfId(id)) {
            m_model->markTagsPending(row);
            work.append({ id, m_model->fullPath(row) });
        }
    }
    m_tags.read(std::move(work), m_tags.generation());
    requested();
}

void TrackAdder::dropFiles(const QStringList &paths)
{
    m_rows.dropFiles(paths);
    requested();
}

void TrackAdder::openFiles(const QStringList &paths)
{
    m_rows.dropFiles(paths, true, true);
    requested();
}

void TrackAdder::loadM3u(const QString &path)
{
    m_rows.loadM3u(path);
    requested();
}

void TrackAdder::withTags(QList<TrackRow> rows, QObject *context, std::function<void(const QList<TrackRow> &)> done)
{
    m_tags.withTags(std::move(rows), context, std::move(done));
    requested();
}

void TrackAdder::requested()
{
    m_tags.hold(m_holdTags || !rowsDone());
    if (!isIdle())
        m_wasIdle = false;
}

void TrackAdder::cancel()
{
    m_rows.cancel();
}

void TrackAdder::stop()
{
    // Reads for withTags are dropped too: their results would come back to nobody.
    m_pool.stop();
    announce();
}

void TrackAdder::holdTags(bool hold)
{
    m_holdTags = hold;
    m_tags.hold(m_holdTags || !rowsDone());
}

void TrackAdder::rowsFinished()
{
    m_tags.hold(m_holdTags);
    emit rowsIdle();
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

} // namespace kes
