#include "sequencer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
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

} // namespace

Sequencer::Sequencer(TrackList &rows, int &currentTrackNo, std::function<QString()> mode, std::function<bool()> repeat)
    : m_rows(rows)
    , m_current(currentTrackNo)
    , m_mode(std::move(mode))
    , m_repeat(std::move(repeat))
    , m_random(clockSeededUniform)
{
}

bool Sequencer::CanChoose()
{
    if (m_rows.anyChecked())
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
        if (m_rows.isChecked(i))
            return i;
    return 0;
}

int Sequencer::startRow(int rowCount)
{
    if (rowCount < 1)
        return 1; // an empty playlist: the pass finds nothing
    const float r = m_random();
    const int s = static_cast<int>(std::floor(r * static_cast<float>(rowCount) + 1.0f));
    return std::clamp(s, 1, rowCount);
}

QString Sequencer::ChooseTrack()
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
                if (m_rows.isChecked(i)) {
                    m_rows.setChecked(i, false);
                    m_rows.setTag(i, kEnd);
                    m_current = i;
                    return m_rows.fullPath(i);
                }
            }
        } else {
            for (int i = std::max(m_current, 1); i <= n; ++i) {
                if (m_rows.isChecked(i)) {
                    m_current = i;
                    return m_rows.fullPath(i);
                }
            }
        }
        m_current = 1;
        if (!(m_repeat() && m_rows.anyChecked()))
            return QString();
        retry = true;
    }
}

std::optional<QString> Sequencer::nextRow()
{
    if (m_current == m_rows.count()) {
        m_current = 1;
        if (!m_repeat())
            return std::nullopt;
    } else {
        ++m_current;
    }
    if (!CanChoose())
        return std::nullopt;
    return ChooseTrack();
}

QString Sequencer::previousRow()
{
    const int n = m_rows.count();
    int from = m_current <= 1 ? n + 1 : std::min(m_current, n + 1);
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = from - 1; i >= 1; --i) {
            if (m_rows.isChecked(i)) {
                m_current = i;
                return m_rows.fullPath(i);
            }
        }
        from = n + 1;
    }
    return QString();
}

} // namespace kes
