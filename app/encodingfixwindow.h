// The window `encodingFix` ("文字化けを直す"): for the selected rows, every text field kept
// as Latin-1 that holds Shift-JIS, as it shows now and as it would show fixed, each with a
// tick; a field whose reading is unsure says so and starts unticked.  One button writes
// the ticked fields, file by file, on a worker; the window then lists the files that were
// not written and why, and tells which rows were (written) so that the playlist reads
// their tags again.  Rows that cannot be edited (cue-sheet tracks, streams) are listed
// greyed with the reason.
//
// GUI thread only.  The window owns its worker (see TagEditor).
#pragma once

#include "encodingfix.h"
#include "playlistmodel.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>

class QLabel;
class QListWidget;
class QPushButton;
class QThread;
class QTreeWidget;

namespace kes
{

// The window's file work; both block and run on its worker, one file at a time.
struct EncodingFixIo {
    std::function<EncodingFixScan(const QString &path)> scan;
    std::function<WriteResult(const QString &path, const QList<EncodingFixField> &chosen)> apply;
};

class EncodingFixWindow : public QDialog
{
    Q_OBJECT
public:
    EncodingFixWindow(const QList<TrackRow> &rows, EncodingFixIo io, QWidget *parent = nullptr);
    ~EncodingFixWindow() override;

    bool isIdle() const { return m_worker == nullptr; }

signals:
    // The rows (by id) whose files were written, once a write ends.
    void written(const QList<quint64> &ids);

protected:
    void reject() override;

private:
    struct Row {
        quint64 id;
        QString path;
        QList<EncodingFixField> fields;
    };

    void showScans(const QList<EncodingFixScan> &scans);
    void startWriting();
    void finishWriting(const QList<std::pair<int, WriteResult>> &results);
    void runOnWorker(std::function<void()> work);
    void workerEnded();

    EncodingFixIo m_io;
    QList<Row> m_rows; // the editable ones
    QTreeWidget *m_fields = nullptr;
    QLabel *m_status = nullptr;
    QListWidget *m_failures = nullptr;
    QPushButton *m_write = nullptr;
    QPushButton *m_close = nullptr;
    QThread *m_worker = nullptr;
    std::atomic_bool m_stop = false;
    bool m_writing = false;
};

} // namespace kes
