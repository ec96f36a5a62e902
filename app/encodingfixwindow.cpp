#include "encodingfixwindow.h"

#include "filename.h"
#include "pathbytes.h"
#include "tageditor.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kes
{

namespace
{

enum Column { NameColumn, BeforeColumn, AfterColumn, VerdictColumn };
constexpr int kFieldRole = Qt::UserRole + 1; // on a field's item: its index in its row

} // namespace

EncodingFixWindow::EncodingFixWindow(const QList<TrackRow> &rows, EncodingFixIo io, QWidget *parent)
    : QDialog(parent)
    , m_io(std::move(io))
{
    setObjectName(QStringLiteral("encodingFix"));
    setWindowTitle(QStringLiteral("文字化けを直す"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    m_fields = new QTreeWidget(this);
    m_fields->setObjectName(QStringLiteral("fields"));
    m_fields->setHeaderLabels({ QStringLiteral("曲 / 項目"), QStringLiteral("いまの表示"), QStringLiteral("直した表示"),
        QStringLiteral("判定") });
    m_fields->setRootIsDecorated(false);
    m_fields->setUniformRowHeights(true);
    layout->addWidget(m_fields, 1);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    m_failures = new QListWidget(this);
    m_failures->setObjectName(QStringLiteral("failures"));
    m_failures->hide();
    layout->addWidget(m_failures);
    auto *buttons = new QDialogButtonBox(this);
    m_write = buttons->addButton(QStringLiteral("チェックした項目を書き込む"), QDialogButtonBox::AcceptRole);
    m_write->setObjectName(QStringLiteral("writeFixes"));
    m_write->setEnabled(false);
    m_close = buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
    connect(m_write, &QPushButton::clicked, this, &EncodingFixWindow::startWriting);
    connect(m_close, &QPushButton::clicked, this, &EncodingFixWindow::reject);
    layout->addWidget(buttons);
    resize(fontMetrics().horizontalAdvance(QLatin1Char('M')) * 64, fontMetrics().height() * 24);

    QStringList paths;
    for (const TrackRow &r : rows) {
        const QString why = uneditableReason(r);
        if (why.isEmpty()) {
            m_rows.append({ r.id, r.fullPath, {} });
            paths << r.fullPath;
            continue;
        }
        auto *item = new QTreeWidgetItem(m_fields, { displayPath(FileNameOf(r.fullPath)), why });
        item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        item->setFirstColumnSpanned(true);
        item->setText(NameColumn, item->text(NameColumn) + QStringLiteral("　— ") + why);
    }
    m_status->setText(QStringLiteral("調べています…"));
    runOnWorker([this, paths, scan = m_io.scan] {
        QList<EncodingFixScan> scans;
        for (const QString &path : paths) {
            if (m_stop)
                return;
            scans.append(scan(path));
        }
        QMetaObject::invokeMethod(
            this, [this, scans] { showScans(scans); }, Qt::QueuedConnection);
    });
}

EncodingFixWindow::~EncodingFixWindow()
{
    m_stop = true;
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void EncodingFixWindow::runOnWorker(std::function<void()> work)
{
    m_worker = QThread::create(std::move(work));
    connect(m_worker, &QThread::finished, this, &EncodingFixWindow::workerEnded);
    m_worker->start();
}

void EncodingFixWindow::workerEnded()
{
    if (m_worker) {
        m_worker->wait();
        delete std::exchange(m_worker, nullptr);
    }
}

void EncodingFixWindow::showScans(const QList<EncodingFixScan> &scans)
{
    int found = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        const EncodingFixScan &scan = scans.at(i);
        auto *file = new QTreeWidgetItem(m_fields, { displayPath(FileNameOf(m_rows[i].path)) });
        file->setToolTip(NameColumn, displayPath(m_rows[i].path));
        file->setFlags(Qt::ItemIsEnabled);
        if (!scan.ok || scan.fields.isEmpty()) {
            file->setText(VerdictColumn, scan.ok ? QStringLiteral("直すところなし") : scan.why);
            file->setForeground(NameColumn, palette().brush(QPalette::Disabled, QPalette::Text));
            continue;
        }
        m_rows[i].fields = scan.fields;
        for (int f = 0; f < scan.fields.size(); ++f) {
            const EncodingFixField &c = scan.fields.at(f);
            auto *item = new QTreeWidgetItem(m_fields,
                { QStringLiteral("　") + c.name, c.before, c.after,
                    c.unsure ? QStringLiteral("不確か（確かめてから）") : QString() });
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setCheckState(NameColumn, c.unsure ? Qt::Unchecked : Qt::Checked);
            item->setData(NameColumn, kFieldRole, QVariant::fromValue(QPoint(i, f)));
            ++found;
        }
    }
    for (int c = 0; c < m_fields->columnCount(); ++c)
        m_fields->resizeColumnToContents(c);
    m_write->setEnabled(found > 0);
    m_status->setText(found > 0 ? QStringLiteral("直せる項目: %1（チェックしたものだけを書き込みます）").arg(found)
                                : QStringLiteral("直すところはありません。"));
}

void EncodingFixWindow::reject()
{
    if (m_writing)
        return;
    m_stop = true;
    QDialog::reject();
}

void EncodingFixWindow::startWriting()
{
    QList<std::pair<int, QList<EncodingFixField>>> work;
    for (int n = 0; n < m_fields->topLevelItemCount(); ++n) {
        const QTreeWidgetItem *item = m_fields->topLevelItem(n);
        const QVariant at = item->data(NameColumn, kFieldRole);
        if (!at.isValid() || item->checkState(NameColumn) != Qt::Checked)
            continue;
        const QPoint p = at.toPoint();
        if (work.isEmpty() || work.back().first != p.x())
            work.append(std::pair { p.x(), QList<EncodingFixField> {} });
        work.back().second.append(m_rows[p.x()].fields.at(p.y()));
    }
    if (work.isEmpty()) {
        m_status->setText(QStringLiteral("チェックした項目がありません。"));
        return;
    }
    m_writing = true;
    m_fields->setEnabled(false);
    m_write->setEnabled(false);
    m_close->setEnabled(false);
    m_status->setText(QStringLiteral("書き込み中…"));
    QStringList paths;
    for (const Row &r : m_rows)
        paths << r.path;
    runOnWorker([this, work, paths, apply = m_io.apply] {
        QList<std::pair<int, WriteResult>> results;
        for (const auto &[row, fields] : work) {
            if (m_stop)
                return;
            results.append(std::pair { row, apply(paths.at(row), fields) });
        }
        QMetaObject::invokeMethod(
            this, [this, results] { finishWriting(results); }, Qt::QueuedConnection);
    });
}

void EncodingFixWindow::finishWriting(const QList<std::pair<int, WriteResult>> &results)
{
    m_writing = false;
    QList<quint64> ids;
    for (const auto &[row, result] : results) {
        if (result.ok()) {
            ids.append(m_rows[row].id);
            continue;
        }
        m_failures->addItem(displayPath(FileNameOf(m_rows[row].path)) + QStringLiteral(": ")
            + (result.why.isEmpty() ? QStringLiteral("書き込めませんでした") : result.why));
    }
    if (!ids.isEmpty())
        emit written(ids);
    m_status->setText(m_failures->count() == 0
            ? QStringLiteral("%1 曲を直しました。").arg(ids.size())
            : QStringLiteral("%1 曲を直しました。書き込めなかった曲: %2 曲").arg(ids.size()).arg(m_failures->count()));
    m_failures->setVisible(m_failures->count() > 0);
    m_close->setEnabled(true);
}

} // namespace kes
