#include "replaygainwindow.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kes
{

namespace
{

enum Column { Name, State, TrackGain, AlbumGain, Peak, ColumnCount };

QString decibels(double value)
{
    return QStringLiteral("%1 dB").arg(value, 0, 'f', 2);
}

} // namespace

ReplayGainWindow::ReplayGainWindow(const DecoderApi &api, ReplayGainWriter writer, QWidget *parent)
    : QDialog(parent)
    , m_scanner(api, std::move(writer))
    , m_progress(new QProgressBar(this))
    , m_list(new QTreeWidget(this))
    , m_status(new QLabel(this))
    , m_cancel(new QPushButton(QStringLiteral("キャンセル"), this))
    , m_write(new QPushButton(QStringLiteral("書き込む"), this))
{
    setObjectName(QStringLiteral("frmReplayGain"));
    setWindowTitle(QStringLiteral("ReplayGain を計測"));
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({ QStringLiteral("曲"), QStringLiteral("状態"), QStringLiteral("トラック"),
        QStringLiteral("アルバム"), QStringLiteral("ピーク") });
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(Name, QHeaderView::Stretch);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    m_write->setObjectName(QStringLiteral("cmdWrite"));
    m_write->setEnabled(false);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(m_write, QDialogButtonBox::AcceptRole);
    buttons->addButton(m_cancel, QDialogButtonBox::RejectRole);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_progress);
    layout->addWidget(m_list);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(640, 420);

    connect(m_cancel, &QPushButton::clicked, this, &ReplayGainWindow::reject);
    connect(m_write, &QPushButton::clicked, this, [this] {
        m_write->setEnabled(false);
        m_status->setText(QStringLiteral("書き込み中…"));
        m_scanner.write();
    });
    connect(&m_scanner, &ReplayGainScanner::progress, this, [this](int done, int total) {
        m_progress->setRange(0, std::max(total, 1));
        m_progress->setValue(done);
    });
    connect(&m_scanner, &ReplayGainScanner::rowChanged, this, &ReplayGainWindow::showRow);
    connect(&m_scanner, &ReplayGainScanner::finished, this, &ReplayGainWindow::scanFinished);
    connect(&m_scanner, &ReplayGainScanner::rowWritten, this, [this](int row, const WriteResult &result) {
        if (QTreeWidgetItem *item = m_list->topLevelItem(row))
            item->setText(State, result.ok() ? QStringLiteral("書き込み済み") : result.why);
    });
    connect(&m_scanner, &ReplayGainScanner::written, this, [this](const QStringList &paths) {
        m_status->setText(QStringLiteral("%1 個のファイルに書き込みました").arg(paths.size()));
        m_cancel->setText(QStringLiteral("閉じる"));
        if (!paths.isEmpty())
            emit filesWritten(paths);
    });
}

void ReplayGainWindow::start(const QList<ScanRow> &rows, const QStringList &names)
{
    m_list->clear();
    for (int i = 0; i < rows.size(); ++i)
        new QTreeWidgetItem(m_list, { i < names.size() ? names[i] : rows[i].path, QStringLiteral("待機") });
    m_status->setText(QStringLiteral("計測中…"));
    m_cancel->setText(QStringLiteral("キャンセル"));
    m_write->setEnabled(false);
    m_scanner.start(rows);
}

void ReplayGainWindow::showRow(int row)
{
    QTreeWidgetItem *item = m_list->topLevelItem(row);
    if (!item)
        return;
    const ScanResult &r = m_scanner.results()[row];
    switch (r.state) {
    case ScanResult::State::Waiting:
        break;
    case ScanResult::State::Measured:
        item->setText(State,
            m_scanner.rows()[row].range ? QStringLiteral("計測済み（CUE: 書き込みません）")
                                        : QStringLiteral("計測済み"));
        item->setText(TrackGain, decibels(r.values.trackGain));
        item->setText(AlbumGain, r.values.albumGain ? decibels(*r.values.albumGain) : QString());
        item->setText(Peak, QString::number(r.values.trackPeak, 'f', 6));
        break;
    case ScanResult::State::Failed:
        item->setText(State, r.why);
        break;
    case ScanResult::State::Cancelled:
        item->setText(State, QStringLiteral("中止"));
        break;
    }
}

void ReplayGainWindow::scanFinished(bool cancelled)
{
    const QList<ScanResult> &results = m_scanner.results();
    const auto writable = std::count_if(results.begin(), results.end(), [&](const ScanResult &r) {
        return r.state == ScanResult::State::Measured && !m_scanner.rows()[&r - results.data()].range;
    });
    m_status->setText(cancelled ? QStringLiteral("中止しました") : QStringLiteral("計測が終わりました"));
    m_cancel->setText(QStringLiteral("閉じる"));
    m_write->setEnabled(writable > 0);
}

// Cancel while something runs stops it; otherwise (閉じる, Esc, the close box) the window goes.
void ReplayGainWindow::reject()
{
    if (m_scanner.isRunning()) {
        m_scanner.cancel();
        return;
    }
    QDialog::reject();
}

} // namespace kes
