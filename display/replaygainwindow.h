// The window of a ReplayGain scan: a progress bar, a line of results per row, Cancel, and
// once the scan is over 書き込む, which writes the values into the files.  Modeless; it
// owns its scanner, so closing it cancels what runs and waits for the workers' current
// block or file.
#pragma once

#include "replaygainscanner.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace kes
{

class ReplayGainWindow : public QDialog
{
    Q_OBJECT
public:
    // names: what each row shows (its title or file name), in the order of rows.
    ReplayGainWindow(const DecoderApi &api, ReplayGainWriter writer, QWidget *parent = nullptr);
    void start(const QList<ScanRow> &rows, const QStringList &names);
    ReplayGainScanner &scanner() { return m_scanner; }

signals:
    // Files whose ReplayGain values were written: their rows are to be read again.
    void filesWritten(const QStringList &paths);

protected:
    void reject() override;

private:
    void showRow(int row);
    void scanFinished(bool cancelled);

    ReplayGainScanner m_scanner;
    QProgressBar *m_progress;
    QTreeWidget *m_list;
    QLabel *m_status;
    QPushButton *m_cancel;
    QPushButton *m_write;
};

} // namespace kes
