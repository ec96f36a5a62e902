// The ReplayGain scanner: measures the loudness of rows (files or cue tracks) by EBU R128
// and gives each its track gain and peak and its album's gain and peak, then writes them
// into the files on request.
//
// Gains are ReplayGain 2.0's: -18 LUFS less the integrated loudness, in dB.  Peaks are
// true peaks (BS.1770: linear, 1.0 = full scale, four times oversampled below 96 kHz) of
// the decoded frames, which a lossy file's samples understate; an album's are its tracks'
// highest.  An album is the rows of
// one album artist and album (the file's own tags); a file without an album tag is an
// album with the other untagged files of its folder; the tracks of one image (cue rows)
// are one album.
//
// Create, call and destroy on the GUI thread; every signal comes there, queued.  The
// measuring runs on workers of the scanner's own pool (at most the processor count), the
// tag reads and the writes on one of them; nothing blocks the GUI thread but the
// destructor, which cancels and waits for the workers (each lets go within one block of
// frames).  The decoder table is copied; its reader functions are called on the workers.
#pragma once

#include "decoderapi.h"
#include "tagwriter.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace kes
{

// One row to measure.
struct ScanRow {
    QString path; // the file (a cue track's image)
    std::optional<TrackRange> range; // a cue track: its part of the file; not written
};

struct ScanResult {
    enum class State {
        Waiting,
        Measured, // the values hold
        Failed, // why says why (Japanese)
        Cancelled,
    };
    State state = State::Waiting;
    double loudness = 0; // LUFS, integrated
    ReplayGainValues values; // the album's values once every row of the album is measured
    QString why;
};

// Writes the values into a file, as writeReplayGain does; called on a worker.
using ReplayGainWriter = std::function<WriteResult(const QString &path, const ReplayGainValues &values)>;

class ReplayGainScanner : public QObject
{
    Q_OBJECT
public:
    ReplayGainScanner(const DecoderApi &api, ReplayGainWriter writer, QObject *parent = nullptr);
    ~ReplayGainScanner() override;

    // Measures rows, replacing what an earlier scan gave.  Ignored while one runs.
    void start(const QList<ScanRow> &rows);
    // Stops the scan soon: rows not yet measured end Cancelled, finished() follows.  A
    // write under way stops after the file it is writing.
    void cancel();
    bool isRunning() const { return m_running; }

    // Writes the measured values of the rows of files (cue tracks are left alone and told
    // as such) after a scan that finished; ignored while anything runs.  Each row's
    // outcome comes by rowWritten, then written() with the files that changed.
    void write();

    const QList<ScanRow> &rows() const { return m_rows; }
    const QList<ScanResult> &results() const { return m_results; }

    // The number of workers that measure at once (default: the processor count).
    void setMaxWorkers(int count) { m_pool.setMaxThreadCount(count); }
    // Off: sample peaks instead of true peaks (a scan about three times as fast on MP3).
    // For the scans that start after.
    void setTruePeak(bool on) { m_truePeak = on; }

signals:
    // A row's result changed (measured, failed, or its album's values came).
    void rowChanged(int row);
    void progress(int done, int total);
    // The scan is over: every row measured, failed or (when cancelled) cancelled.
    void finished(bool cancelled);
    void rowWritten(int row, const kes::WriteResult &result);
    // The write is over; paths are the files whose tags changed, for the player to read again.
    void written(const QStringList &paths);

private:
    struct Run;
    void measure(const std::shared_ptr<Run> &run, const ScanRow &row, int index, size_t album, int place);
    void measured(int row, const ScanResult &result);
    void albumDone(const QList<int> &rows, double gain, double peak);
    void runEnded(const std::shared_ptr<Run> &run);

    const DecoderApi m_api;
    const ReplayGainWriter m_writer;
    QThreadPool m_pool;
    QList<ScanRow> m_rows;
    QList<ScanResult> m_results;
    std::shared_ptr<Run> m_run; // the scan or write under way
    bool m_running = false;
    bool m_scanned = false; // a scan has finished: write() has results
    bool m_truePeak = true;
    int m_done = 0;
};

} // namespace kes
