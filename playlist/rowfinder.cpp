#include "rowfinder.h"

#include "backgroundthread.h"
#include "pathbytes.h"
#include "playlistmodel.h"

#include <QMetaObject>

#include <algorithm>

namespace kes
{

RowFinder::RowFinder(PlaylistModel &model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
    connect(&model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &top, const QModelIndex &bottom, const QList<int> &roles) {
            if (roles.isEmpty() || roles.contains(Qt::DisplayRole))
                forget(top.row() + 1, bottom.row() + 1);
        });
    connect(&model, &QAbstractItemModel::modelReset, this, [this] {
        m_folded.clear();
        changed();
    });
    connect(&model, &QAbstractItemModel::rowsInserted, this, &RowFinder::changed);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, &RowFinder::changed);
    connect(&model, &QAbstractItemModel::rowsMoved, this, &RowFinder::changed);
    connect(&model, &QAbstractItemModel::layoutChanged, this, &RowFinder::changed);
}

RowFinder::~RowFinder()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}

void RowFinder::forget(int first, int last)
{
    for (int i = std::max(first, 1); i <= std::min(last, m_model.count()); ++i)
        m_folded.remove(m_model.row(i).id);
    changed();
}

const QString *RowFinder::foldedOf(const TrackRow &row) const
{
    const auto it = m_folded.constFind(row.id);
    return it == m_folded.constEnd() || it->tagsPending != row.tagsPending ? nullptr : &it->text;
}

bool RowFinder::isReady() const
{
    if (m_working)
        return false;
    for (int i = 1; i <= m_model.count(); ++i) {
        if (!foldedOf(m_model.row(i)))
            return false;
    }
    return true;
}

void RowFinder::prepare()
{
    if (m_working)
        return; // the worker's end looks again
    if (isReady()) {
        QMetaObject::invokeMethod(this, &RowFinder::ready, Qt::QueuedConnection);
        return;
    }
    if (m_worker.joinable())
        m_worker.join(); // it has ended: it posts its result as its last step
    m_working = true;
    // Shared copies: the worker reads them while the GUI thread's own go on changing.
    m_worker = std::thread([this, rows = m_model.rows(), known = m_folded] {
        lowerThisThreadPriority();
        QList<std::pair<quint64, Folded>> folded;
        for (const TrackRow &r : rows) {
            if (m_stop)
                return;
            const auto it = known.constFind(r.id);
            if (it != known.constEnd() && it->tagsPending == r.tagsPending)
                continue;
            const QString file = fileOfPath(r.fullPath); // a cue track's image
            const QString name = displayPath(QStringView(file).mid(file.lastIndexOf(u'/') + 1));
            folded.append({ r.id, { foldRowTexts({ r.title, r.artist, r.album, name }), r.tagsPending } });
        }
        QMetaObject::invokeMethod(
            this,
            [this, folded = std::move(folded)] {
                m_working = false;
                // A row whose texts changed meanwhile was forgotten and is folded again.
                for (const auto &[id, f] : folded)
                    m_folded.insert(id, f);
                changed();
                if (isReady())
                    emit ready();
                else
                    prepare();
            },
            Qt::QueuedConnection);
    });
}

QList<int> RowFinder::find(const QString &typed)
{
    const SearchQuery query(typed);
    // The folded texts in list order, made again after any change; an empty text stands
    // for a row not folded yet.
    if (m_flatGeneration != m_generation) {
        m_flat.clear();
        m_flat.reserve(m_model.count());
        m_flatWhole = true;
        for (int i = 1; i <= m_model.count(); ++i) {
            const QString *folded = foldedOf(m_model.row(i));
            m_flat.push_back(folded ? *folded : QString());
            m_flatWhole = m_flatWhole && folded;
        }
        m_flatGeneration = m_generation;
        m_lastGeneration = ~0ull;
    }
    QList<int> rows;
    if (!query.isEmpty()) {
        if (m_lastGeneration == m_generation && query.narrows(m_lastQuery)) {
            for (const int i : std::as_const(m_lastRows)) {
                if (query.matches(m_flat[i - 1]))
                    rows.append(i);
            }
        } else {
            for (int i = 0; i < int(m_flat.size()); ++i) {
                if (query.matches(m_flat[i]))
                    rows.append(i + 1);
            }
        }
    }
    m_lastQuery = query;
    m_lastRows = rows;
    // A later query may narrow from this one while the rows are folded and unchanged.
    m_lastGeneration = m_flatWhole && !query.isEmpty() ? m_generation : ~0ull;
    return rows;
}

} // namespace kes
