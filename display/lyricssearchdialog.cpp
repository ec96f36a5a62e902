#include "lyricssearchdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kes
{

LyricsSearchDialog::LyricsSearchDialog(const QUrl &server, const LyricsQuery &query, QWidget *parent)
    : QDialog(parent)
    , m_client(new LrclibClient(this))
    , m_title(new QLineEdit(query.title, this))
    , m_artist(new QLineEdit(query.artist, this))
    , m_album(new QLineEdit(query.album, this))
    , m_list(new QTreeWidget(this))
    , m_note(new QLabel(this))
    , m_durationMs(query.durationMs)
{
    setObjectName(QStringLiteral("lyricsSearch"));
    setWindowTitle(QStringLiteral("歌詞の検索 (%1)").arg(server.host()));
    m_client->setServer(server);
    m_title->setObjectName(QStringLiteral("lyricsTitle"));
    m_artist->setObjectName(QStringLiteral("lyricsArtist"));
    m_album->setObjectName(QStringLiteral("lyricsAlbum"));
    m_list->setObjectName(QStringLiteral("lyricsResults"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({ QStringLiteral("曲名"), QStringLiteral("アーティスト"), QStringLiteral("アルバム"),
        QStringLiteral("長さ"), QStringLiteral("歌詞") });
    m_list->header()->setStretchLastSection(false);
    m_note->setObjectName(QStringLiteral("lyricsSearchNote"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("曲名"), m_title);
    form->addRow(QStringLiteral("アーティスト"), m_artist);
    form->addRow(QStringLiteral("アルバム"), m_album);
    auto *find = new QPushButton(QStringLiteral("検索"), this);
    find->setObjectName(QStringLiteral("lyricsFind"));
    form->addRow(QString(), find);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton *ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("この歌詞にする"));
    ok->setEnabled(false);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_note);
    layout->addWidget(buttons);
    resize(560, 380);

    connect(find, &QPushButton::clicked, this, &LyricsSearchDialog::startSearch);
    connect(m_client, &LrclibClient::candidates, this, &LyricsSearchDialog::showResults);
    connect(m_client, &LrclibClient::failed, m_note, &QLabel::setText);
    connect(m_list, &QTreeWidget::currentItemChanged, this,
        [ok](QTreeWidgetItem *item) { ok->setEnabled(item != nullptr); });
    const auto choose = [this] {
        const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
        if (row < 0)
            return;
        emit chosen(m_results[row]);
        accept();
    };
    connect(buttons, &QDialogButtonBox::accepted, this, choose);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

LyricsQuery LyricsSearchDialog::query() const
{
    return { m_title->text().trimmed(), m_artist->text().trimmed(), m_album->text().trimmed(), m_durationMs };
}

void LyricsSearchDialog::startSearch()
{
    m_list->clear();
    m_results.clear();
    m_note->setText(QStringLiteral("検索中…"));
    m_client->search(query());
}

QString LyricsSearchDialog::durationText(double seconds)
{
    const auto s = std::llround(std::max(0.0, seconds));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void LyricsSearchDialog::showResults(const QList<LyricsCandidate> &found)
{
    for (const LyricsCandidate &c : found) {
        if (!c.hasLyrics())
            continue;
        m_results << c;
        const QString kind = c.synced.trimmed().isEmpty() ? QStringLiteral("テキスト") : QStringLiteral("同期");
        auto *item = new QTreeWidgetItem({ c.title, c.artist, c.album, durationText(c.durationSeconds), kind });
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        m_list->addTopLevelItem(item);
    }
    m_note->setText(m_results.isEmpty() ? QStringLiteral("歌詞は見つかりませんでした")
                                        : QStringLiteral("%1 件 (曲の長さ %2)")
                                              .arg(m_results.size())
                                              .arg(durationText(double(m_durationMs) / 1000.0)));
    for (int column = 0; column < m_list->columnCount(); ++column)
        m_list->resizeColumnToContents(column);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
}

} // namespace kes
