#include "findwindow.h"

#include "playlistmodel.h"
#include "rowfinder.h"

#include <QAbstractListModel>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTimer>
#include <QVBoxLayout>

namespace kes
{

// The matches as the window lists them: "No.0012  title — artist (album)", made when shown.
class FoundRows : public QAbstractListModel
{
public:
    explicit FoundRows(PlaylistModel &playlist, QObject *parent)
        : QAbstractListModel(parent)
        , m_playlist(playlist)
    {
    }
    void setRows(QList<int> rows)
    {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    const QList<int> &rows() const { return m_rows; }
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || index.row() < 0 || index.row() >= m_rows.size())
            return {};
        const TrackRow &r = m_playlist.row(m_rows[index.row()]);
        QString text = QStringLiteral("No.%1  %2").arg(r.number, r.title.trimmed());
        if (const QString artist = r.artist.trimmed(); !artist.isEmpty())
            text += QStringLiteral(" — ") + artist;
        if (const QString album = r.album.trimmed(); !album.isEmpty())
            text += QStringLiteral("（%1）").arg(album);
        return text;
    }

private:
    PlaylistModel &m_playlist;
    QList<int> m_rows;
};

FindWindow::FindWindow(PlaylistModel &playlist, QWidget *parent)
    : QDialog(parent)
    , m_playlist(playlist)
    , m_finder(new RowFinder(playlist, this))
    , m_found(new FoundRows(playlist, this))
    , m_text(new QLineEdit(this))
    , m_list(new QListView(this))
    , m_count(new QLabel(this))
    , m_again(new QTimer(this))
{
    setObjectName(QStringLiteral("findWindow"));
    setWindowTitle(QStringLiteral("曲を探す"));
    m_text->setObjectName(QStringLiteral("findText"));
    m_text->setPlaceholderText(QStringLiteral("曲名・アーティスト・アルバム・ファイル名"));
    m_text->setClearButtonEnabled(true);
    m_list->setObjectName(QStringLiteral("findList"));
    m_list->setModel(m_found);
    m_list->setUniformItemSizes(true); // 100,000 matches are laid out without measuring each
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_count->setObjectName(QStringLiteral("findCount"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(m_list);
    layout->addWidget(m_count);
    resize(520, 420);

    m_text->installEventFilter(this);
    connect(m_text, &QLineEdit::textChanged, this, &FindWindow::search);
    connect(m_list, &QListView::activated, this, &FindWindow::choose);
    connect(m_finder, &RowFinder::ready, this, &FindWindow::search);
    // The list changes under an open window (rows added, removed, sorted, tags read): one
    // search a moment later, once the rows' texts are folded again.
    m_again->setSingleShot(true);
    m_again->setInterval(200);
    connect(m_again, &QTimer::timeout, m_finder, &RowFinder::prepare);
    const auto again = [this] {
        if (isVisible() && !m_again->isActive())
            m_again->start();
    };
    connect(&playlist, &QAbstractItemModel::rowsInserted, this, again);
    connect(&playlist, &QAbstractItemModel::rowsRemoved, this, again);
    connect(&playlist, &QAbstractItemModel::layoutChanged, this, again);
    connect(&playlist, &QAbstractItemModel::modelReset, this, again);
    connect(&playlist, &QAbstractItemModel::dataChanged, this,
        [again](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
            if (roles.isEmpty() || roles.contains(Qt::DisplayRole))
                again();
        });
}

FindWindow::~FindWindow() = default;

void FindWindow::showFind()
{
    show();
    raise();
    activateWindow();
    m_text->setFocus();
    m_text->selectAll();
    m_finder->prepare(); // folds what changed since; the search runs again when ready
    search();
}

QList<int> FindWindow::matches() const
{
    return m_found->rows();
}

void FindWindow::search()
{
    const bool ready = m_finder->isReady();
    m_found->setRows(m_finder->find(m_text->text()));
    if (m_found->rowCount() > 0)
        m_list->setCurrentIndex(m_found->index(0));
    if (!ready && !m_text->text().trimmed().isEmpty())
        m_count->setText(QStringLiteral("%1 件（準備中…）").arg(m_found->rowCount()));
    else
        m_count->setText(QStringLiteral("%1 件").arg(m_found->rowCount()));
}

void FindWindow::choose()
{
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid())
        return;
    const int row = m_found->rows().value(current.row());
    hide();
    if (row > 0)
        emit chosen(row);
}

bool FindWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            // The typing stays in the box; the moving goes to the list.
            QCoreApplication::sendEvent(m_list, event);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            choose();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kes
