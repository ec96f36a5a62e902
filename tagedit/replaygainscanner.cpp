#include "replaygainscanner.h"

#include "pathbytes.h"

#include <QHash>
#include <QMetaObject>
#include <QThread>

#include <ebur128.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kes
{

namespace
{

constexpr double kReferenceLufs = -18.0;
constexpr int32_t kBlockFrames = 4096;

struct StateDeleter {
    void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
};
using Meter = std::unique_ptr<ebur128_state, StateDeleter>;

struct ReaderCloser {
    const DecoderApi *api;
    void operator()(Vbmp3Reader *reader) const { api->readerClose(reader); }
};

// The meter for frames in the library's channel order (WAVE: FL FR FC LFE BL BR …): the
// low-frequency channel and those past the five of BS.1770 do not count.
Meter meterFor(int channels, int rate, bool truePeak)
{
    const int mode
        = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM | (truePeak ? EBUR128_MODE_TRUE_PEAK : EBUR128_MODE_SAMPLE_PEAK);
    Meter meter(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), mode));
    if (meter && channels >= 4) {
        const int map[] = { EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED, EBUR128_LEFT_SURROUND,
            EBUR128_RIGHT_SURROUND };
        for (int c = 0; c < channels; ++c)
            ebur128_set_channel(meter.get(), static_cast<unsigned>(c), c < 6 ? map[c] : EBUR128_UNUSED);
    }
    return meter;
}

double peakOf(ebur128_state *meter, int channels, bool truePeak)
{
    double peak = 0;
    for (int c = 0; c < channels; ++c) {
        double p = 0;
        if ((truePeak ? ebur128_true_peak : ebur128_sample_peak)(meter, static_cast<unsigned>(c), &p)
            == EBUR128_SUCCESS)
            peak = std::max(peak, p);
    }
    return peak;
}

// The album a row belongs to (see the header).
QString albumKeyOf(const ScanRow &row)
{
    if (row.range)
        return QStringLiteral("image\n") + row.path;
    const QString folder = row.path.left(std::max<qsizetype>(row.path.lastIndexOf(u'/'), 0));
    const QByteArray bytes = pathToBytes(row.path);
    TagLib::FileRef file(bytes.constData(), false);
    if (!file.isNull() && file.file()) {
        const TagLib::PropertyMap tags = file.file()->properties();
        const auto first = [&](const char *key) {
            const auto it = tags.find(key);
            return it == tags.end() || it->second.isEmpty() ? QString()
                                                            : QString::fromStdString(it->second.front().to8Bit(true));
        };
        const QString album = first("ALBUM");
        const QString albumArtist = first("ALBUMARTIST");
        // Without an album artist, one album title in two folders is two albums.
        if (!album.isEmpty())
            return QStringLiteral("album\n") + (albumArtist.isEmpty() ? folder : albumArtist) + u'\n' + album;
    }
    return QStringLiteral("folder\n") + folder;
}

} // namespace

// What the workers of one scan share.  Each row's slot is written by the one worker that
// measures it; the last worker of an album (by `left`) reads the album's slots after it.
struct ReplayGainScanner::Run {
    struct Album {
        QList<int> rows;
        std::vector<Meter> meters; // by place in rows; null when the row was not measured
        std::vector<double> peaks;
        std::atomic<int> left { 0 };
    };
    std::atomic<bool> cancel { false };
    std::atomic<int> outstanding { 0 };
    bool truePeak = false;
    std::vector<std::unique_ptr<Album>> albums;
};

ReplayGainScanner::ReplayGainScanner(const DecoderApi &api, ReplayGainWriter writer, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_writer(std::move(writer))
{
    m_pool.setMaxThreadCount(std::max(QThread::idealThreadCount(), 1));
}

ReplayGainScanner::~ReplayGainScanner()
{
    if (m_run)
        m_run->cancel = true;
    m_pool.waitForDone();
}

void ReplayGainScanner::start(const QList<ScanRow> &rows)
{
    if (m_running)
        return;
    m_rows = rows;
    m_results = QList<ScanResult>(rows.size());
    m_done = 0;
    m_scanned = false;
    m_running = true;
    auto run = std::make_shared<Run>();
    run->truePeak = m_truePeak;
    m_run = run;
    emit progress(0, int(rows.size()));
    // The album keys first (tags read on a worker), then one task a row.
    m_pool.start([this, run, rows] {
        QHash<QString, size_t> byKey;
        std::vector<std::pair<size_t, int>> places; // each row's album and place in it
        for (int i = 0; i < rows.size() && !run->cancel; ++i) {
            const QString key = albumKeyOf(rows[i]);
            if (!byKey.contains(key)) {
                byKey.insert(key, run->albums.size());
                run->albums.push_back(std::make_unique<Run::Album>());
            }
            Run::Album &album = *run->albums[byKey.value(key)];
            places.emplace_back(byKey.value(key), int(album.rows.size()));
            album.rows.append(i);
        }
        if (run->cancel || rows.isEmpty()) {
            QMetaObject::invokeMethod(
                this, [this, run] { runEnded(run); }, Qt::QueuedConnection);
            return;
        }
        for (const auto &album : run->albums) {
            album->meters.resize(size_t(album->rows.size()));
            album->peaks.resize(size_t(album->rows.size()));
            album->left = int(album->rows.size());
        }
        run->outstanding = int(rows.size());
        for (int i = 0; i < rows.size(); ++i)
            m_pool.start([this, run, row = rows[i], i, place = places[size_t(i)]] {
                measure(run, row, i, place.first, place.second);
            });
    });
}

// On a worker: one row, then its album when it was the album's last.
void ReplayGainScanner::measure(
    const std::shared_ptr<Run> &run, const ScanRow &row, int index, size_t albumIndex, int place)
{
    Run::Album &album = *run->albums[albumIndex];
    ScanResult result;
    result.state = ScanResult::State::Cancelled;
    if (!run->cancel) {
        Meter meter;
        int32_t rate = 0, channels = 0;
        const QByteArray path = pathToBytes(row.path);
        std::unique_ptr<Vbmp3Reader, ReaderCloser> reader(
            m_api.readerOpen(path.constData(), row.range ? &*row.range : nullptr, &rate, &channels),
            ReaderCloser { &m_api });
        if (reader)
            meter = meterFor(channels, rate, run->truePeak);
        if (!meter) {
            result.state = ScanResult::State::Failed;
            result.why = QStringLiteral("開けません");
        } else {
            std::vector<float> buffer(size_t(kBlockFrames) * size_t(channels));
            int32_t got = 0;
            while (!run->cancel && (got = m_api.readerRead(reader.get(), buffer.data(), kBlockFrames)) > 0)
                ebur128_add_frames_float(meter.get(), buffer.data(), size_t(got));
            double loudness = -HUGE_VAL;
            if (run->cancel) {
                result.state = ScanResult::State::Cancelled;
            } else if (got < 0) {
                result.state = ScanResult::State::Failed;
                result.why = QStringLiteral("デコードに失敗しました");
            } else if (ebur128_loudness_global(meter.get(), &loudness) != EBUR128_SUCCESS || !std::isfinite(loudness)) {
                result.state = ScanResult::State::Failed;
                result.why = QStringLiteral("無音のため計測できません");
            } else {
                result.state = ScanResult::State::Measured;
                result.loudness = loudness;
                result.values.trackGain = kReferenceLufs - loudness;
                result.values.trackPeak = peakOf(meter.get(), channels, run->truePeak);
                album.peaks[size_t(place)] = result.values.trackPeak;
                album.meters[size_t(place)] = std::move(meter);
            }
        }
    }
    QMetaObject::invokeMethod(
        this, [this, index, result] { measured(index, result); }, Qt::QueuedConnection);
    if (album.left.fetch_sub(1, std::memory_order_acq_rel) == 1 && !run->cancel) {
        std::vector<ebur128_state *> meters;
        for (const Meter &m : album.meters)
            if (m)
                meters.push_back(m.get());
        double loudness = -HUGE_VAL;
        if (!meters.empty()
            && ebur128_loudness_global_multiple(meters.data(), meters.size(), &loudness) == EBUR128_SUCCESS
            && std::isfinite(loudness)) {
            const double peak = *std::max_element(album.peaks.begin(), album.peaks.end());
            QMetaObject::invokeMethod(
                this,
                [this, rows = album.rows, gain = kReferenceLufs - loudness, peak] { albumDone(rows, gain, peak); },
                Qt::QueuedConnection);
        }
        album.meters.clear();
    }
    if (run->outstanding.fetch_sub(1, std::memory_order_acq_rel) == 1)
        QMetaObject::invokeMethod(
            this, [this, run] { runEnded(run); }, Qt::QueuedConnection);
}

void ReplayGainScanner::measured(int row, const ScanResult &result)
{
    m_results[row] = result;
    emit rowChanged(row);
    emit progress(++m_done, int(m_rows.size()));
}

void ReplayGainScanner::albumDone(const QList<int> &rows, double gain, double peak)
{
    for (int row : rows) {
        if (m_results[row].state != ScanResult::State::Measured)
            continue;
        m_results[row].values.albumGain = gain;
        m_results[row].values.albumPeak = peak;
        emit rowChanged(row);
    }
}

void ReplayGainScanner::runEnded(const std::shared_ptr<Run> &run)
{
    if (run != m_run)
        return;
    const bool cancelled = run->cancel;
    for (int row = 0; row < m_results.size(); ++row) {
        if (m_results[row].state == ScanResult::State::Waiting) {
            m_results[row].state = ScanResult::State::Cancelled;
            emit rowChanged(row);
        }
    }
    m_run.reset();
    m_running = false;
    m_scanned = true;
    emit finished(cancelled);
}

void ReplayGainScanner::cancel()
{
    if (m_run)
        m_run->cancel = true;
}

void ReplayGainScanner::write()
{
    if (m_running || !m_scanned)
        return;
    m_running = true;
    auto run = std::make_shared<Run>();
    m_run = run;
    m_pool.start([this, run, rows = m_rows, results = m_results] {
        QStringList changed;
        for (int i = 0; i < rows.size() && !run->cancel; ++i) {
            if (results[i].state != ScanResult::State::Measured)
                continue;
            WriteResult outcome;
            if (rows[i].range) {
                outcome.outcome = WriteOutcome::NotSupported;
                outcome.why = QStringLiteral("CUE シートのトラックには書き込みません");
            } else {
                outcome = m_writer(rows[i].path, results[i].values);
                if (outcome.outcome == WriteOutcome::Written)
                    changed.append(rows[i].path);
            }
            QMetaObject::invokeMethod(
                this, [this, i, outcome] { emit rowWritten(i, outcome); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            this,
            [this, run, changed] {
                if (run != m_run)
                    return;
                m_run.reset();
                m_running = false;
                emit written(changed);
            },
            Qt::QueuedConnection);
    });
}

} // namespace kes
