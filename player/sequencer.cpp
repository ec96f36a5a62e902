#include "sequencer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <random>

namespace kes
{

namespace
{

const QString kEnd = QStringLiteral("END");

float clockSeededUniform()
{
    std::mt19937 gen(
        static_cast<std::mt19937::result_type>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(gen);
}

// The rows as they would be after some changes, without making them: reads see the
// changes, writes are recorded.
class RowsAhead final : public TrackList
{
public:
    explicit RowsAhead(const TrackList &rows)
        : m_rows(rows)
    {
    }
    int count() const override { return m_rows.count(); }
    bool isChecked(int row) const override
    {
        const auto it = m_checks.find(row);
        return it != m_checks.end() ? it->second : m_rows.isChecked(row);
    }
    void setChecked(int row, bool checked) override
    {
        if (checked != isChecked(row))
            m_checkedDelta += checked ? 1 : -1;
        m_checks[row] = checked;
        m_changes.push_back({ row, checked, QString() });
    }
    QString tag(int row) const override
    {
        const auto it = m_tags.find(row);
        return it != m_tags.end() ? it->second : m_rows.tag(row);
    }
    void setTag(int row, const QString &tag) override
    {
        m_tags[row] = tag;
        m_changes.push_back({ row, std::nullopt, tag });
    }
    QString fullPath(int row) const override { return m_rows.fullPath(row); }
    bool isMissing(int row) const override { return m_rows.isMissing(row); }
    quint64 rowId(int row) const override { return m_rows.rowId(row); }
    int rowOfId(quint64 id) const override { return m_rows.rowOfId(id); }
    bool anyChecked() const override
    {
        if (m_checkedDelta > 0 || (m_checkedDelta == 0 && m_rows.anyChecked()))
            return true;
        if (m_checkedDelta == 0)
            return false;
        for (int i = 1; i <= count(); ++i)
            if (isChecked(i))
                return true;
        return false;
    }
    std::vector<Sequencer::Ahead::Change> changes() const { return m_changes; }

private:
    const TrackList &m_rows;
    std::map<int, bool> m_checks;
    std::map<int, QString> m_tags;
    int m_checkedDelta = 0; // rows checked minus rows unchecked by the changes
    std::vector<Sequencer::Ahead::Change> m_changes;
};

} // namespace

Sequencer::Sequencer(TrackList &rows, int &currentTrackNo, std::function<QString()> mode, std::function<bool()> repeat)
    : m_rows(rows)
    , m_current(currentTrackNo)
    , m_mode(std::move(mode))
    , m_repeat(std::move(repeat))
    , m_random(clockSeededUniform)
{
}

bool Sequencer::playable(int row) const
{
    return m_rows.isChecked(row) && !m_rows.isMissing(row);
}

bool Sequencer::anyPlayable() const
{
    if (!m_rows.anyChecked())
        return false;
    for (int i = 1; i <= m_rows.count(); ++i) // ends at the first checked row, but for missing ones
        if (playable(i))
            return true;
    return false;
}

bool Sequencer::CanChoose()
{
    if (anyPlayable())
        return true;
    m_current = 1;
    if (m_repeat() && m_mode() == QStringLiteral("Random")) {
        ResetRound();
        return true;
    }
    return false;
}

void Sequencer::ResetRound()
{
    if (!m_repeat())
        return;
    const int n = m_rows.count();
    for (int i = 1; i <= n; ++i) {
        if (m_rows.tag(i) == kEnd)
            m_rows.setChecked(i, true);
        m_rows.setTag(i, QString());
    }
}

int Sequencer::lastCheckedRow() const
{
    for (int i = m_rows.count(); i >= 1; --i)
        if (playable(i))
            return i;
    return 0;
}

int Sequencer::startRow(int rowCount)
{
    if (rowCount < 1)
        return 1; // an empty playlist: the pass finds nothing
    const float r = m_replayAt ? keptDraw((*m_replayAt)++) : m_random();
    const int s = static_cast<int>(std::floor(r * static_cast<float>(rowCount) + 1.0f));
    return std::clamp(s, 1, rowCount);
}

float Sequencer::keptDraw(size_t index)
{
    while (m_kept.size() <= index)
        m_kept.push_back(m_random());
    return m_kept[index];
}

QString Sequencer::ChooseTrack()
{
    QString chosen = choose();
    m_kept.clear();
    return chosen;
}

QString Sequencer::choose()
{
    const int n = m_rows.count();
    const bool random = m_mode() == QStringLiteral("Random");
    bool retry = false;
    for (;;) {
        if (random) {
            // A retry draws again until the start row lies at or before the last checked
            // row: the same distribution as drawing over all rows and retrying on a miss,
            // without the misses.
            const int s = retry ? startRow(lastCheckedRow()) : startRow(n);
            for (int i = s; i <= n; ++i) {
                if (playable(i)) {
                    m_rows.setChecked(i, false);
                    m_rows.setTag(i, kEnd);
                    m_current = i;
                    return m_rows.fullPath(i);
                }
            }
        } else {
            for (int i = std::max(m_current, 1); i <= n; ++i) {
                if (playable(i)) {
                    m_current = i;
                    return m_rows.fullPath(i);
                }
            }
        }
        m_current = 1;
        if (!(m_repeat() && anyPlayable()))
            return QString();
        retry = true;
    }
}

int Sequencer::queuedHead() const
{
    for (int row : m_rows.queuedRows())
        if (row >= 1 && row <= m_rows.count() && !m_rows.isMissing(row))
            return row;
    return 0;
}

int Sequencer::continueFrom() const
{
    if (!m_resume || m_rows.rowId(m_current) != m_resume->lastQueued)
        return m_current;
    const int row = m_rows.rowOfId(m_resume->id);
    return row > 0 ? row : std::min(m_resume->trackNo, m_rows.count());
}

void Sequencer::enterQueued(quint64 id)
{
    if (!m_resume || m_rows.rowId(m_current) != m_resume->lastQueued)
        m_resume = Resume { m_rows.rowId(m_current), m_current, 0 };
    m_resume->lastQueued = id;
}

std::optional<QString> Sequencer::takeQueued()
{
    const int row = queuedHead();
    if (row == 0)
        return std::nullopt;
    const quint64 id = m_rows.rowId(row);
    m_rows.dequeue(row); // a watcher of the rows may act first
    const int at = m_rows.rowOfId(id);
    if (at == 0)
        return std::nullopt;
    enterQueued(id);
    m_kept.clear();
    if (m_mode() == QStringLiteral("Random") && m_rows.isChecked(at)) {
        m_rows.setChecked(at, false);
        m_rows.setTag(at, kEnd);
    }
    m_current = m_rows.rowOfId(id);
    return m_rows.fullPath(m_current);
}

bool Sequencer::stopsHere() const
{
    const int row = m_rows.stopAfterRow();
    if (row == 0)
        return false;
    return m_rows.fullPath(row) == (m_playing ? m_playing() : m_rows.fullPath(m_current));
}

std::optional<QString> Sequencer::nextRow()
{
    // The kept draws are this choice's, whatever it turns out to be.
    struct UseUp {
        Sequencer &s;
        ~UseUp()
        {
            s.m_replayAt.reset();
            s.m_kept.clear();
        }
    } useUp { *this };
    if (std::optional<QString> queued = takeQueued())
        return queued;
    m_current = continueFrom();
    m_resume.reset();
    if (m_current == m_rows.count()) {
        m_current = 1;
        if (!m_repeat())
            return std::nullopt;
    } else {
        ++m_current;
    }
    if (!CanChoose())
        return std::nullopt;
    m_replayAt = 0;
    return choose();
}

QString Sequencer::previousRow()
{
    const int n = m_rows.count();
    int from = m_current <= 1 ? n + 1 : std::min(m_current, n + 1);
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = from - 1; i >= 1; --i) {
            if (playable(i)) {
                m_current = i;
                return m_rows.fullPath(i);
            }
        }
        from = n + 1;
    }
    return QString();
}

Sequencer::Ahead Sequencer::lookAhead()
{
    RowsAhead rows(m_rows);
    Ahead result;
    result.fromTrackNo = m_current;
    result.random = m_mode() == QStringLiteral("Random");
    result.repeat = m_repeat();
    if (stopsHere()) {
        result.trackNo = m_current;
        return result;
    }
    if (const int row = queuedHead()) {
        if (result.random && rows.isChecked(row)) {
            rows.setChecked(row, false);
            rows.setTag(row, kEnd);
        }
        result.path = m_rows.fullPath(row);
        result.trackNo = row;
        result.queuedId = m_rows.rowId(row);
        result.changes = rows.changes();
        return result;
    }
    int current = continueFrom();
    Sequencer ahead(rows, current, m_mode, m_repeat);
    ahead.setRandomSource([this, at = size_t { 0 }]() mutable { return keptDraw(at++); });
    result.path = ahead.nextRow();
    result.trackNo = current;
    result.changes = rows.changes();
    return result;
}

void Sequencer::commit(const Ahead &ahead)
{
    for (const Ahead::Change &change : ahead.changes) {
        if (change.checked)
            m_rows.setChecked(change.row, *change.checked);
        else
            m_rows.setTag(change.row, change.tag);
    }
    if (ahead.queuedId != 0) {
        enterQueued(ahead.queuedId);
        m_rows.dequeue(m_rows.rowOfId(ahead.queuedId));
    } else {
        m_resume.reset();
    }
    m_current
        = ahead.queuedId != 0 && m_rows.rowOfId(ahead.queuedId) > 0 ? m_rows.rowOfId(ahead.queuedId) : ahead.trackNo;
    m_kept.clear();
}

bool Sequencer::stillPossible(const Ahead &ahead) const
{
    const int row = ahead.trackNo;
    // A choice of its own: the row unchecked and marked, nothing else (no new round).
    const bool plainChoice = ahead.changes.size() == 2 && ahead.changes[0].row == row && ahead.changes[1].row == row
        && ahead.changes[0].checked == std::optional<bool>(false) && !ahead.changes[1].checked;
    const int head = queuedHead();
    if (ahead.queuedId != (head > 0 ? m_rows.rowId(head) : 0) || stopsHere())
        return false;
    return ahead.random && ahead.path && plainChoice && m_mode() == QStringLiteral("Random")
        && m_repeat() == ahead.repeat && m_current == ahead.fromTrackNo
        && (continueFrom() != m_rows.count() || m_repeat()) && row >= 1 && row <= m_rows.count()
        && m_rows.isChecked(row) && m_rows.fullPath(row) == *ahead.path;
}

} // namespace kes
