#include "rowjobs.h"

#include "cuerows.h"
#include "filename.h"
#include "folderwalker.h"
#include "pathbytes.h"
#include "playlistfiles.h"
#include "prompter.h"
#include "trackreader.h"

#include <algorithm>
#include <utility>

namespace kes
{

namespace
{

// The first batch is small so that rows show at once; later ones amortise the hand-over.
constexpr qsizetype kFirstBatch = 32;
constexpr qsizetype kBatch = 512;
// Rows that come back meanwhile go into the list at most this often (but the last of a
// job at once): every insertion makes the list view lay out all its rows again.
constexpr qint64 kDeliverGapMs = 40;
// One delivery adds rows for at most this long before it lets the event loop run again
// (workers that check fast, e.g. a folder of 100,000 empty files, pile up many batches).
constexpr qint64 kDeliverBudgetMs = 10;

// A report of files not added names this many of them.
constexpr qsizetype kSkippedNamed = 5;

RowJobs::Outcome checkItem(const DecoderApi &api, const RowJobs::Item &item)
{
    RowJobs::Outcome out;
    if (item.listed) {
        out.kind = RowJobs::Outcome::Listed;
        return out;
    }
    QString path = item.path;
    // A cue track's key stands or falls with its image.
    if (item.check == RowJobs::Check::Keep && !isListableFile(fileOfPath(path))) {
        auto row = provisionalTrackRow(path);
        if (!row)
            return out;
        row->missing = true;
        out.kind = RowJobs::Outcome::Row;
        out.row = std::move(*row);
        return out;
    }
    if (item.check == RowJobs::Check::Exists && !isListableFile(fileOfPath(path))) {
        if (item.alternative.isEmpty() || !isListableFile(fileOfPath(item.alternative)))
            return out;
        path = item.alternative;
    }
    // A sheet, or an image with a sheet of its own, is its tracks; a sheet without any is
    // no row.  A list kept from an earlier run has its images as they were kept.
    const bool sheet = !isCueTrackKey(path) && isCueSheetName(path);
    if (item.check != RowJobs::Check::Keep && (sheet || mayHoldCueSheet(path))) {
        out.tracks = readCueTrackRows(api, path);
        if (!out.tracks.isEmpty()) {
            out.kind = RowJobs::Outcome::Row;
            return out;
        }
        if (sheet)
            return out;
    }
    auto row = provisionalTrackRow(path);
    if (!row)
        return out;
    if (item.check == RowJobs::Check::Kind && FileKindOf(api, item.path) == QLatin1String("err"))
        return out;
    out.kind = RowJobs::Outcome::Row;
    out.row = std::move(*row);
    return out;
}

} // namespace

RowJobs::RowJobs(PlaylistModel *model, const DecoderApi &api, Prompter *prompter, BatchPool &pool, TagFiller &tags,
    std::function<void()> finished)
    : m_model(model)
    , m_api(api)
    , m_prompter(prompter)
    , m_tags(tags)
    , m_finished(std::move(finished))
    , m_maxRunning(2 * pool.threads())
    , m_lists(pool, RowPriority, { kDeliverBudgetMs })
    , m_checks(pool, RowPriority, { kDeliverBudgetMs, kDeliverGapMs })
{
    m_lists.onSettled([this] { finishJobIfDone(); });
    m_checks.onSettled([this] {
        dispatch();
        finishJobIfDone();
    });
    // One reaction for both lines, once both are cancelled: the checks' (a pool cancels
    // every line before anyone reacts).
    m_checks.onCancelled([this] { dropJobs(); });
}

void RowJobs::cancel()
{
    m_lists.cancel();
    m_checks.cancel();
}

void RowJobs::addFiles(const QStringList &paths, bool skipMissing)
{
    Job job;
    job.items.reserve(paths.size());
    const Check check = skipMissing ? Check::Exists : Check::None;
    for (const QString &p : paths)
        job.items.append({ p, check, false });
    enqueue(std::move(job));
}

void RowJobs::restoreFiles(const QStringList &paths)
{
    Job job;
    job.items.reserve(paths.size());
    for (const QString &p : paths)
        job.items.append({ p, Check::Keep, false });
    enqueue(std::move(job));
}

void RowJobs::dropFiles(const QStringList &paths, bool wide, bool note)
{
    wide = wide || m_dropRules.wide;
    Job job;
    job.expand = wide;
    job.note = note;
    for (const QString &p : paths) {
        // A wide drop's playlist is told from a folder of such a name on its worker.
        if (!wide && p.endsWith(QLatin1String("m3u"), Qt::CaseSensitive)) {
            enqueue(std::move(job));
            loadM3u(p, note);
            return;
        }
        job.items.append({ p, Check::Kind, false, {}, wide });
    }
    enqueue(std::move(job));
}

QString RowJobs::endMessage()
{
    QString message = std::exchange(m_endMessage, {});
    const QStringList skipped = std::exchange(m_skipped, {});
    if (skipped.isEmpty())
        return message;
    QStringList names;
    for (qsizetype i = 0; i < std::min(skipped.size(), kSkippedNamed); ++i)
        names << displayPath(FileNameOf(skipped.at(i)));
    QString text = QStringLiteral("%1 個のファイルを追加できませんでした: %2")
                       .arg(skipped.size())
                       .arg(names.join(QStringLiteral("、"))
                           + (skipped.size() > kSkippedNamed ? QStringLiteral(" …") : QString()));
    return message.isEmpty() ? text : text + QLatin1Char('\n') + message;
}

void RowJobs::loadM3u(const QString &path, bool note)
{
    Job job;
    job.note = note;
    job.isM3u = true;
    job.m3uPath = path;
    enqueue(std::move(job));
}

void RowJobs::enqueue(Job job)
{
    if (job.items.isEmpty() && !job.isM3u)
        return;
    m_queue.enqueue(std::move(job));
    if (!m_active)
        startNext();
}

void RowJobs::dropJobs()
{
    m_queue.clear();
    m_items.clear();
    m_nextItem = 0;
    m_endMessage.clear();
    m_skipped.clear();
    // Inside a delivery or the end message, the job ends when they are over.
    if (m_active && !m_ending && !delivering()) {
        m_active = false;
        m_finished();
    }
}

void RowJobs::startNext()
{
    if (m_queue.isEmpty()) {
        m_finished();
        return;
    }
    m_active = true;
    Job job = m_queue.dequeue();
    m_endNote = job.note;
    if (job.expand) {
        // Dropped folders are walked on a worker, as the folder search walks the current
        // folder and those below it; their files take the folder's place in the drop.  A
        // folder is one whatever its name says ("live.mp3", "list.m3u"); the first
        // playlist ends the drop and loads right after it.
        m_lists.submit(
            [this, items = std::move(job.items), note = job.note, pattern = FilePattern(m_dropRules.folderPattern)](
                const std::atomic_bool &cancelled) -> OrderedBatches::Handover {
                QList<Item> out;
                QString playlist;
                for (const Item &item : items) {
                    const bool folder = isFolder(item.path);
                    if (!folder && isPlaylistName(item.path)) {
                        playlist = item.path;
                        break;
                    }
                    if (!folder) {
                        out.append(item);
                        continue;
                    }
                    FolderWalker::walk(
                        item.path, true, pattern,
                        [&out](QStringList files, const QString &) {
                            for (QString &f : files)
                                out.append({ std::move(f), Check::Exists, false, {}, false });
                        },
                        cancelled);
                }
                return [this, out = std::move(out), playlist = std::move(playlist), note] {
                    if (!playlist.isEmpty()) {
                        Job m3u;
                        m3u.isM3u = true;
                        m3u.m3uPath = playlist;
                        m3u.note = note;
                        m_queue.prepend(std::move(m3u));
                    }
                    begin(out, {});
                };
            });
        return;
    }
    if (!job.isM3u) {
        begin(std::move(job.items), {});
        return;
    }
    // The playlist is read and parsed on a worker; its entries come back here.
    m_lists.submit([this, path = job.m3uPath](const std::atomic_bool &) -> OrderedBatches::Handover {
        M3uEntries entries;
        QList<Item> items;
        QString message;
        if (!readPlaylist(path, entries)) {
            message = readFailedMessage(path);
        } else {
            items.reserve(entries.paths.size());
            for (qsizetype i = 0; i < entries.paths.size(); ++i)
                items.append({ entries.paths.at(i), Check::Exists, false, entries.alternativeOf(i), false });
            if (entries.aborted)
                message = QStringLiteral("読み込めないファイル形式ですので処理を中断します");
        }
        return [this, items = std::move(items), message = std::move(message)] { begin(items, message); };
    });
}

void RowJobs::begin(QList<Item> items, QString endMessage)
{
    m_items = std::move(items);
    m_model->reserveRows(static_cast<int>(m_items.size()));
    m_nextItem = 0;
    m_endMessage = std::move(endMessage);
    dispatch();
    finishJobIfDone();
}

void RowJobs::dispatch()
{
    while (m_checks.running() < m_maxRunning && m_nextItem < m_items.size()) {
        const qsizetype size = std::min(m_nextItem == 0 ? kFirstBatch : kBatch, m_items.size() - m_nextItem);
        m_checks.submit(checks(m_items.mid(m_nextItem, size)));
        m_nextItem += size;
    }
    if (m_nextItem >= m_items.size()) {
        m_items.clear();
        m_nextItem = 0;
    }
}

OrderedBatches::Work RowJobs::checks(QList<Item> items)
{
    for (Item &item : items)
        item.listed = m_model->contains(item.path);
    return
        [this, api = m_api, items = std::move(items)](const std::atomic_bool &cancelled) -> OrderedBatches::Handover {
            QList<Outcome> outcomes;
            outcomes.reserve(items.size());
            for (const Item &item : items) {
                if (cancelled.load())
                    return {};
                outcomes.append(checkItem(api, item));
            }
            return [this, items, outcomes = std::move(outcomes)]() mutable { take(items, std::move(outcomes)); };
        };
}

void RowJobs::take(const QList<Item> &items, QList<Outcome> outcomes)
{
    QList<TrackRow> rows;
    rows.reserve(outcomes.size());
    qsizetype k = 0;
    for (; k < outcomes.size(); ++k) {
        Outcome &o = outcomes[k];
        if (o.kind == Outcome::Row && !o.tracks.isEmpty()) {
            rows += std::move(o.tracks);
        } else if (o.kind == Outcome::Row) {
            rows.append(std::move(o.row));
        } else if (o.kind == Outcome::Nothing) {
            if (items.at(k).report)
                m_skipped.append(items.at(k).path);
        } else if (o.kind == Outcome::Listed && !m_model->contains(items.at(k).path)) {
            // Listed when sent out but gone now (the list was cleared): this file has to
            // be checked after all, and the rest of the batch waits for it.
            break;
        }
    }
    const quint64 tagGeneration = m_tags.generation();
    QList<quint64> ids;
    m_model->addRows(rows, &ids);
    QList<TagFiller::Work> work;
    for (qsizetype r = 0; r < rows.size(); ++r)
        if (ids.at(r) != 0 && rows.at(r).tagsPending && !rows.at(r).missing)
            work.append({ ids.at(r), rows.at(r).fullPath });
    m_tags.read(std::move(work), tagGeneration); // dropped when the new rows are gone already
    if (k < outcomes.size())
        m_checks.again(checks(items.mid(k)));
}

void RowJobs::finishJobIfDone()
{
    if (!m_active || m_ending || delivering() || m_lists.outstanding() > 0 || m_checks.outstanding() > 0
        || m_nextItem < m_items.size())
        return;
    m_ending = true; // a modal message must not end this job again
    const QString message = endMessage();
    if (!message.isEmpty() && m_prompter && m_endNote)
        m_prompter->note(message);
    else if (!message.isEmpty() && m_prompter)
        m_prompter->message(message);
    m_ending = false;
    m_active = false;
    startNext();
}

} // namespace kes
