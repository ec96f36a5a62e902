#include "playlistmodel.h"

#include "pathbytes.h"

#include <QMimeData>

#include <algorithm>
#include <numeric>
#include <utility>

namespace kes
{

namespace
{

// Below this many new rows a sorted model inserts row by row; above, it appends and
// merges with one layout change.
constexpr int kMergeThreshold = 32;

const QString &columnText(const TrackRow &r, int column)
{
    switch (column) {
    case PlaylistModel::NoColumn:
        return r.number;
    case PlaylistModel::TitleColumn:
        return r.title;
    case PlaylistModel::ArtistColumn:
        return r.artist;
    case PlaylistModel::AlbumColumn:
        return r.album;
    default:
        return r.fullPath;
    }
}

// What a column sorts by: the row's sort key for it, else its text.
const QString &sortText(const TrackRow &r, int column)
{
    const SortNames *names = r.sortNames.get();
    const QString *key = !names                 ? nullptr
        : column == PlaylistModel::TitleColumn  ? &names->title
        : column == PlaylistModel::ArtistColumn ? &names->artist
        : column == PlaylistModel::AlbumColumn  ? &names->album
                                                : nullptr;
    return key && !key->isEmpty() ? *key : columnText(r, column);
}

} // namespace

QList<PlaylistColumn> PlaylistModel::SetupColumns()
{
    return {
        { QStringLiteral("No"), QStringLiteral("No"), 750 },
        { QStringLiteral("Tilte"), QStringLiteral("Music Title"), 2500 },
        { QStringLiteral("Artist"), QStringLiteral("Artist"), 1800 },
        { QStringLiteral("Album"), QStringLiteral("Album"), 2500 },
        { QStringLiteral("FullPath"), QStringLiteral("Full Path"), 10000 },
    };
}

PlaylistModel::PlaylistModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

const TrackRow &PlaylistModel::row(int i) const
{
    static const TrackRow empty;
    if (i < 1 || i > count())
        return empty;
    return m_rows.at(i - 1);
}

QString PlaylistModel::cell(int i, int column) const
{
    if (column < 0 || column >= ColumnCount)
        return {};
    if (column == FullPathColumn)
        return fileOfPath(row(i).fullPath);
    return columnText(row(i), column);
}

void PlaylistModel::setChecked(int i, bool checked)
{
    if (i < 1 || i > count() || m_rows[i - 1].checked == checked)
        return;
    emit aboutToChange();
    m_rows[i - 1].checked = checked;
    m_checkedCount += checked ? 1 : -1;
    const QModelIndex at = index(i - 1, NoColumn);
    emit dataChanged(at, at, { Qt::CheckStateRole });
}

void PlaylistModel::setTag(int i, const QString &tag)
{
    if (i < 1 || i > count() || m_rows[i - 1].tag == tag)
        return;
    emit aboutToChange();
    m_rows[i - 1].tag = tag;
    const QModelIndex at = index(i - 1, NoColumn);
    emit dataChanged(at, at, { TagRole });
}

void PlaylistModel::setMissing(int i, bool missing)
{
    if (i < 1 || i > count() || m_rows[i - 1].missing == missing)
        return;
    m_rows[i - 1].missing = missing;
    emit dataChanged(index(i - 1, NoColumn), index(i - 1, ColumnCount - 1), { MissingRole, Qt::ToolTipRole });
}

void PlaylistModel::markTagsPending(int i)
{
    if (i >= 1 && i <= count())
        m_rows[i - 1].tagsPending = true;
}

void PlaylistModel::checkAll()
{
    if (m_rows.isEmpty())
        return;
    emit aboutToChange();
    for (auto &r : m_rows)
        r.checked = true;
    m_checkedCount = count();
    emit dataChanged(index(0, NoColumn), index(count() - 1, NoColumn), { Qt::CheckStateRole });
}

void PlaylistModel::uncheckAll()
{
    if (m_rows.isEmpty())
        return;
    emit aboutToChange();
    for (auto &r : m_rows)
        r.checked = false;
    m_checkedCount = 0;
    emit dataChanged(index(0, NoColumn), index(count() - 1, NoColumn), { Qt::CheckStateRole });
}

void PlaylistModel::clear()
{
    emit aboutToChange();
    beginResetModel();
    m_rows.clear();
    m_paths.clear();
    m_checkedCount = 0;
    m_idIndex.clear();
    m_idIndexValid = true;
    m_queue.clear();
    m_stopAfterId = 0;
    endResetModel();
}

int PlaylistModel::removeRowsAt(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.removeIf([this](int i) { return i < 1 || i > count(); });
    if (!rows.isEmpty())
        emit aboutToChange();
    // From the last run of neighbouring rows to the first, so that indexes stay valid.
    for (qsizetype end = rows.size(); end > 0;) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1)
            --begin;
        const int first = rows[begin] - 1, last = rows[end - 1] - 1;
        beginRemoveRows({}, first, last);
        for (int i = first; i <= last; ++i) {
            m_paths.remove(m_rows.at(i).fullPath);
            m_checkedCount -= m_rows.at(i).checked ? 1 : 0;
        }
        m_rows.remove(first, last - first + 1);
        m_idIndexValid = false;
        endRemoveRows();
        end = begin;
    }
    const QList<quint64> queued = m_queue;
    m_queue.removeIf([this](quint64 id) { return indexOfId(id) == 0; });
    if (m_queue != queued)
        queueChanged(queued);
    if (m_stopAfterId != 0 && indexOfId(m_stopAfterId) == 0)
        m_stopAfterId = 0;
    return static_cast<int>(rows.size());
}

QList<int> PlaylistModel::queuedRows() const
{
    QList<int> rows;
    rows.reserve(m_queue.size());
    for (quint64 id : m_queue)
        rows.append(indexOfId(id));
    return rows;
}

int PlaylistModel::queuePosition(int i) const
{
    const quint64 id = row(i).id;
    return id == 0 ? 0 : static_cast<int>(m_queue.indexOf(id) + 1);
}

void PlaylistModel::enqueue(const QList<int> &rows)
{
    QList<quint64> added;
    for (int i : rows) {
        const quint64 id = row(i).id;
        if (id != 0 && !m_queue.contains(id) && !added.contains(id))
            added.append(id);
    }
    if (added.isEmpty())
        return;
    emit aboutToChange();
    const QList<quint64> before = m_queue;
    m_queue += added;
    queueChanged(before);
}

void PlaylistModel::dequeue(int i)
{
    const qsizetype at = m_queue.indexOf(row(i).id);
    if (row(i).id == 0 || at < 0)
        return;
    emit aboutToChange();
    const QList<quint64> before = m_queue;
    m_queue.remove(at);
    queueChanged(before);
}

void PlaylistModel::clearQueue()
{
    if (m_queue.isEmpty())
        return;
    emit aboutToChange();
    const QList<quint64> before = m_queue;
    m_queue.clear();
    queueChanged(before);
}

void PlaylistModel::moveInQueue(int i, int step)
{
    const qsizetype at = row(i).id == 0 ? -1 : m_queue.indexOf(row(i).id);
    const qsizetype to = at + step;
    if (at < 0 || to < 0 || to >= m_queue.size() || to == at)
        return;
    emit aboutToChange();
    const QList<quint64> before = m_queue;
    m_queue.move(at, to);
    queueChanged(before);
}

void PlaylistModel::queueChanged(const QList<quint64> &before)
{
    for (const QList<quint64> *ids : { &before, &std::as_const(m_queue) })
        for (quint64 id : *ids)
            if (const int i = indexOfId(id); i > 0)
                rowChanged(i, QueueRole);
}

void PlaylistModel::rowChanged(int i, int role)
{
    emit dataChanged(index(i - 1, NoColumn), index(i - 1, ColumnCount - 1), { role });
}

void PlaylistModel::setStopAfterRow(int i)
{
    const quint64 id = row(i).id;
    if (id == m_stopAfterId)
        return;
    emit aboutToChange();
    const int old = stopAfterRow();
    m_stopAfterId = id;
    for (int changed : { old, i })
        if (changed > 0 && changed <= count())
            rowChanged(changed, StopAfterRole);
}

int PlaylistModel::moveRows(QList<int> rows, int before)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.removeIf([this](int i) { return i < 1 || i > count(); });
    if (rows.isEmpty())
        return 0;
    before = std::clamp(before, 1, count() + 1);
    std::vector<char> moving(m_rows.size(), 0);
    for (int i : rows)
        moving[i - 1] = 1;
    std::vector<int> order;
    order.reserve(m_rows.size());
    for (int i = 0; i < before - 1; ++i)
        if (!moving[i])
            order.push_back(i);
    const int first = static_cast<int>(order.size()) + 1;
    for (int i : rows)
        order.push_back(i - 1);
    for (int i = before - 1; i < count(); ++i)
        if (!moving[i])
            order.push_back(i);
    bool same = true;
    for (int k = 0; k < static_cast<int>(order.size()) && same; ++k)
        same = order[k] == k;
    if (same)
        return first;
    emit aboutToChange();
    m_sortColumn = -1;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    applyOrder(order);
    return first;
}

QList<quint64> PlaylistModel::draggedIds(const QMimeData *data)
{
    QList<quint64> ids;
    if (!data || !data->hasFormat(QString::fromLatin1(kRowsMimeType)))
        return ids;
    for (const QByteArray &word : data->data(QString::fromLatin1(kRowsMimeType)).split(' '))
        if (const quint64 id = word.toULongLong(); id != 0)
            ids.append(id);
    return ids;
}

QStringList PlaylistModel::mimeTypes() const
{
    return { QString::fromLatin1(kRowsMimeType) };
}

QMimeData *PlaylistModel::mimeData(const QModelIndexList &indexes) const
{
    QList<quint64> ids;
    for (const QModelIndex &at : indexes)
        if (at.isValid() && !ids.contains(row(at.row() + 1).id))
            ids.append(row(at.row() + 1).id);
    QByteArray text;
    for (quint64 id : ids)
        text += QByteArray::number(id) + ' ';
    auto *data = new QMimeData;
    data->setData(QString::fromLatin1(kRowsMimeType), text.trimmed());
    return data;
}

void PlaylistModel::setPlayingRow(int i)
{
    const quint64 id = row(i).id;
    if (id == m_playingId)
        return;
    const int old = playingRow();
    m_playingId = id;
    for (int changed : { old, i }) {
        if (changed > 0 && changed <= count())
            emit dataChanged(index(changed - 1, 0), index(changed - 1, ColumnCount - 1), { PlayingRole });
    }
}

int PlaylistModel::playingRow() const
{
    return m_playingId == 0 ? 0 : indexOfId(m_playingId);
}

bool PlaylistModel::lessThan(const TrackRow &a, const TrackRow &b, int column)
{
    return QString::compare(sortText(a, column), sortText(b, column), Qt::CaseInsensitive) < 0;
}

void PlaylistModel::sortByColumn(int column)
{
    if (column < 0 || column >= ColumnCount)
        return;
    m_sortColumn = column;
    if (m_rows.size() < 2)
        return;
    emit aboutToChange();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(
        order.begin(), order.end(), [&](int a, int b) { return lessThan(m_rows.at(a), m_rows.at(b), column); });
    applyOrder(order);
}

void PlaylistModel::applyOrder(const std::vector<int> &order)
{
    QList<TrackRow> reordered;
    reordered.reserve(m_rows.size());
    std::vector<int> newPlace(m_rows.size());
    for (int k = 0; k < static_cast<int>(order.size()); ++k) {
        reordered.append(std::move(m_rows[order[k]]));
        newPlace[order[k]] = k;
    }
    m_rows = std::move(reordered);
    m_idIndexValid = false;
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &p : from)
        to.append(index(newPlace[p.row()], p.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QString PlaylistModel::numberText(int n)
{
    return QString::number(n).rightJustified(4, QLatin1Char('0'));
}

TrackRow PlaylistModel::makeRow(const TrackRow &from, int number)
{
    TrackRow r = from;
    r.id = ++m_lastId;
    r.number = numberText(number);
    r.checked = true;
    r.tag.clear();
    return r;
}

int PlaylistModel::addRow(const TrackRow &r)
{
    if (contains(r.fullPath))
        return 0;
    emit aboutToChange();
    TrackRow added = makeRow(r, count() + 1);
    int at = count();
    if (isSorted())
        at = static_cast<int>(std::upper_bound(m_rows.cbegin(), m_rows.cend(), added,
                                  [this](const TrackRow &a, const TrackRow &b) { return lessThan(a, b, m_sortColumn); })
            - m_rows.cbegin());
    beginInsertRows({}, at, at);
    m_paths.insert(added.fullPath);
    ++m_checkedCount;
    if (at == count() && m_idIndexValid)
        m_idIndex.insert(added.id, at);
    else
        m_idIndexValid = false;
    m_rows.insert(at, std::move(added));
    endInsertRows();
    return at + 1;
}

int PlaylistModel::addRows(const QList<TrackRow> &rows, QList<quint64> *ids)
{
    // The duplicate rule and the numbering are those of adding one row after another:
    // a path is skipped when listed before or earlier in the batch.
    emit aboutToChange(); // before the numbers are given
    QList<TrackRow> fresh;
    QSet<QString> seen;
    int next = count() + 1;
    for (const TrackRow &r : rows) {
        if (contains(r.fullPath) || seen.contains(r.fullPath)) {
            if (ids)
                ids->append(0);
            continue;
        }
        seen.insert(r.fullPath);
        fresh.append(makeRow(r, next++));
        if (ids)
            ids->append(fresh.last().id);
    }
    const int added = static_cast<int>(fresh.size());
    if (added == 0)
        return 0;
    m_checkedCount += added; // rows are added checked
    if (isSorted()) {
        insertSorted(std::move(fresh));
        return added;
    }
    beginInsertRows({}, count(), count() + added - 1);
    for (auto &r : fresh) {
        m_paths.insert(r.fullPath);
        if (m_idIndexValid)
            m_idIndex.insert(r.id, count());
        m_rows.append(std::move(r));
    }
    endInsertRows();
    return added;
}

void PlaylistModel::reserveRows(int more)
{
    // Each is a no-op when it has the room already (a cleared list keeps its rows' room
    // but not its indexes').
    const qsizetype total = m_rows.size() + std::max(more, 0);
    m_rows.reserve(total);
    m_paths.reserve(total);
    if (m_idIndexValid)
        m_idIndex.reserve(total);
}

int PlaylistModel::indexOfId(quint64 id) const
{
    if (!m_idIndexValid) {
        m_idIndex.clear();
        m_idIndex.reserve(m_rows.size());
        for (int i = 0; i < count(); ++i)
            m_idIndex.insert(m_rows.at(i).id, i);
        m_idIndexValid = true;
    }
    const auto it = m_idIndex.constFind(id);
    return it == m_idIndex.cend() ? 0 : it.value() + 1;
}

void PlaylistModel::fillRows(const QList<TrackRow> &filled)
{
    std::vector<int> touched;
    touched.reserve(filled.size());
    for (const TrackRow &f : filled) {
        const int i = indexOfId(f.id) - 1;
        if (i < 0 || !m_rows.at(i).tagsPending)
            continue;
        TrackRow &r = m_rows[i];
        r.title = f.title;
        r.artist = f.artist;
        r.album = f.album;
        r.cue = f.cue;
        r.sortNames = f.sortNames;
        r.tagsPending = false;
        touched.push_back(i);
    }
    if (touched.empty())
        return;
    emit aboutToChange();
    std::sort(touched.begin(), touched.end());
    if (m_sortColumn < TitleColumn || m_sortColumn > AlbumColumn) {
        emit dataChanged(index(touched.front(), TitleColumn), index(touched.back(), AlbumColumn), { Qt::DisplayRole });
        return;
    }
    // The filled rows leave their places (the rest stays sorted) and merge back in.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<char> moved(m_rows.size(), 0);
    for (int i : touched)
        moved[i] = 1;
    std::vector<int> order;
    order.reserve(m_rows.size());
    for (int i = 0; i < count(); ++i)
        if (!moved[i])
            order.push_back(i);
    const auto stay = static_cast<std::ptrdiff_t>(order.size());
    order.insert(order.end(), touched.begin(), touched.end());
    auto less = [&](int a, int b) { return lessThan(m_rows.at(a), m_rows.at(b), m_sortColumn); };
    std::stable_sort(order.begin() + stay, order.end(), less);
    std::inplace_merge(order.begin(), order.begin() + stay, order.end(), less);
    applyOrder(order);
}

void PlaylistModel::insertSorted(QList<TrackRow> rows)
{
    if (rows.size() < kMergeThreshold) {
        for (const TrackRow &r : rows) {
            const int at = static_cast<int>(
                std::upper_bound(m_rows.cbegin(), m_rows.cend(), r,
                    [this](const TrackRow &a, const TrackRow &b) { return lessThan(a, b, m_sortColumn); })
                - m_rows.cbegin());
            beginInsertRows({}, at, at);
            m_paths.insert(r.fullPath);
            m_rows.insert(at, r);
            m_idIndexValid = false;
            endInsertRows();
        }
        return;
    }
    // Append the batch, then merge it into place: the same order as inserting each row
    // after the rows that compare equal to it, without moving the list once per row.
    const int old = count();
    beginInsertRows({}, old, old + static_cast<int>(rows.size()) - 1);
    for (auto &r : rows) {
        m_paths.insert(r.fullPath);
        m_rows.append(std::move(r));
    }
    endInsertRows();

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    auto less = [&](int a, int b) { return lessThan(m_rows.at(a), m_rows.at(b), m_sortColumn); };
    std::stable_sort(order.begin() + old, order.end(), less);
    std::inplace_merge(order.begin(), order.begin() + old, order.end(), less);
    applyOrder(order);
}

int PlaylistModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int PlaylistModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PlaylistModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const TrackRow &r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        // A name that is not UTF-8 shows decoded; the row keeps its bytes.
        if (index.column() == FullPathColumn && (hasEscapedBytes(r.fullPath) || isCueTrackKey(r.fullPath)))
            return displayPath(fileOfPath(r.fullPath));
        return columnText(r, index.column());
    case Qt::CheckStateRole:
        if (index.column() == NoColumn)
            return r.checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case TagRole:
        return r.tag;
    case FullPathRole:
        return r.fullPath;
    case PlayingRole:
        return m_playingId != 0 && r.id == m_playingId;
    case MissingRole:
        return r.missing;
    case QueueRole:
        return r.id == 0 ? 0 : static_cast<int>(m_queue.indexOf(r.id) + 1);
    case StopAfterRole:
        return m_stopAfterId != 0 && r.id == m_stopAfterId;
    case Qt::ToolTipRole:
        if (r.missing)
            return QStringLiteral("ファイルが見つかりません: %1").arg(displayPath(fileOfPath(r.fullPath)));
        return {};
    default:
        return {};
    }
}

bool PlaylistModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= count() || index.column() != NoColumn || role != Qt::CheckStateRole)
        return false;
    setChecked(index.row() + 1, value.toInt() == Qt::Checked);
    return true;
}

QVariant PlaylistModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return SetupColumns().at(section).caption;
    return {};
}

Qt::ItemFlags PlaylistModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren | Qt::ItemIsDragEnabled;
    if (index.column() == NoColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void PlaylistModel::sort(int column, Qt::SortOrder)
{
    sortByColumn(column);
}

} // namespace kes
