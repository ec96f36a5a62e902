#include "tageditor.h"

#include "cuetrack.h"
#include "filename.h"
#include "lrcdocument.h"
#include "mediatypes.h"
#include "pathbytes.h"
#include "trackreader.h"
#include "trimnull.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QVBoxLayout>

#include <chrono>

namespace kes
{

namespace
{

constexpr const char *kCaptions[kTagFieldCount] = { "タイトル", "アーティスト", "アルバム", "アルバムアーティスト",
    "年", "トラック番号", "ディスク番号", "ジャンル", "コメント", "歌詞" };
constexpr const char *kNames[kTagFieldCount]
    = { "title", "artist", "album", "albumArtist", "year", "track", "disc", "genre", "comment", "lyrics" };
constexpr qint64 kMaxLrcBytes = 1 << 20;

QString mixedText()
{
    return QStringLiteral("(複数)");
}

std::optional<QString> &fieldOf(TagChanges &c, TagField f)
{
    switch (f) {
    case TagField::Title:
        return c.title;
    case TagField::Artist:
        return c.artist;
    case TagField::Album:
        return c.album;
    case TagField::AlbumArtist:
        return c.albumArtist;
    case TagField::Year:
        return c.year;
    case TagField::Track:
        return c.track;
    case TagField::Disc:
        return c.disc;
    case TagField::Genre:
        return c.genre;
    case TagField::Comment:
        return c.comment;
    case TagField::Lyrics:
        break;
    }
    return c.lyrics;
}

// An LRC file as text (UTF-8 or CP932 as the library reads it); nullopt when it cannot be read.
std::optional<QString> readLrc(const QString &path)
{
    BoundedFile file;
    QByteArray bytes;
    if (path.isEmpty() || file.open(path, kMaxLrcBytes, std::chrono::seconds(2)) != BoundedFile::Status::Ok
        || !file.readAll(bytes))
        return std::nullopt;
    return LrcDocument::fromBytes(bytes).toText();
}

// The LRC beside a track: its path with ".lrc" (or ".LRC") for its ending.
QString lrcBeside(const QString &track)
{
    const qsizetype dot = track.lastIndexOf(u'.');
    const QString stem = dot > track.lastIndexOf(u'/') ? track.left(dot) : track;
    for (const char *ending : { ".lrc", ".LRC" })
        if (isRegularFile(stem + QLatin1String(ending)))
            return stem + QLatin1String(ending);
    return {};
}

} // namespace

TagFieldValues readTagFields(const DecoderApi &api, const QString &path)
{
    TagInfo tag {};
    ListInfo list {};
    api.getFileInfo2(pathToBytes(path).constData(), &tag, nullptr, &list);
    TagFieldValues v;
    const bool listed = mediaTypeOfName(path) && mediaTypeOfName(path)->row == MediaType::Row::Listed;
    v[int(TagField::Title)] = TrimNull(listed ? list.text[0] : tag.title);
    v[int(TagField::Artist)] = TrimNull(listed ? list.text[1] : tag.artist);
    v[int(TagField::Album)] = TrimNull(listed ? list.text[2] : tag.album);
    v[int(TagField::Year)] = TrimNull(listed ? list.text[3] : tag.year);
    v[int(TagField::Genre)] = TrimNull(listed ? list.text[4] : tag.genreName);
    v[int(TagField::Comment)] = TrimNull(listed ? list.text[5] : tag.comment);
    return v;
}

QString uneditableReason(const TrackRow &row)
{
    if (isCueTrackKey(row.fullPath) || row.cue)
        return QStringLiteral("CUE シートの曲のタグは編集できません");
    if (row.fullPath.contains(QLatin1String("://")))
        return QStringLiteral("ストリームのタグは編集できません");
    return {};
}

TagEditor::TagEditor(const QList<TrackRow> &rows, TagEditorIo io, QWidget *parent)
    : QDialog(parent)
    , m_io(std::move(io))
{
    setObjectName(QStringLiteral("tagEditor"));
    setWindowTitle(QStringLiteral("タグを編集"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildForm(rows);
    startReading();
}

TagEditor::~TagEditor()
{
    m_stop = true;
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void TagEditor::buildForm(const QList<TrackRow> &all)
{
    auto *outer = new QVBoxLayout(this);
    m_body = new QWidget(this);
    outer->addWidget(m_body);
    auto *layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *list = new QListWidget(this);
    list->setObjectName(QStringLiteral("rows"));
    list->setMaximumHeight(fontMetrics().height() * 5);
    for (const TrackRow &r : all) {
        const QString why = uneditableReason(r);
        auto *item = new QListWidgetItem(displayPath(FileNameOf(r.fullPath)), list);
        item->setToolTip(displayPath(r.fullPath));
        if (!why.isEmpty()) {
            item->setText(item->text() + QStringLiteral("　— ") + why);
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
            continue;
        }
        m_rows.append({ r.id, r.fullPath, acceptedKind(r.fullPath) == QLatin1String("mp3") });
    }
    layout->addWidget(list);

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    for (int f = 0; f < kTagFieldCount; ++f) {
        QWidget *field;
        if (f == int(TagField::Lyrics)) {
            m_lyrics = new QPlainTextEdit(this);
            m_lyrics->setMinimumHeight(fontMetrics().height() * 5);
            connect(m_lyrics, &QPlainTextEdit::textChanged, this, [this] {
                if (!m_filling)
                    m_edited[int(TagField::Lyrics)] = true;
            });
            field = m_lyrics;
        } else {
            auto *edit = new QLineEdit(this);
            connect(edit, &QLineEdit::textEdited, this, [this, f] { m_edited[f] = true; });
            m_edits[f] = edit;
            field = edit;
        }
        field->setObjectName(QString::fromLatin1(kNames[f]));
        form->addRow(QString::fromUtf8(kCaptions[f]), field);
    }
    m_edits[int(TagField::Track)]->setPlaceholderText(QStringLiteral("例: 3 または 3/12"));
    m_edits[int(TagField::Disc)]->setPlaceholderText(QStringLiteral("例: 1 または 1/2"));
    layout->addLayout(form);

    // Synchronised lyrics: MP3 only, from one LRC file or the one beside each track.
    m_synced = new QCheckBox(QStringLiteral("同期歌詞（LRC）も書き込む（MP3 のみ）"), this);
    m_synced->setObjectName(QStringLiteral("syncedLyrics"));
    m_besideTrack = new QRadioButton(QStringLiteral("曲と同じ名前の .lrc"), this);
    m_besideTrack->setObjectName(QStringLiteral("lrcBeside"));
    m_besideTrack->setChecked(true);
    auto *chosen = new QRadioButton(QStringLiteral("このファイル:"), this);
    m_lrcPath = new QLineEdit(this);
    m_lrcPath->setObjectName(QStringLiteral("lrcPath"));
    auto *browse = new QPushButton(QStringLiteral("参照…"), this);
    connect(browse, &QPushButton::clicked, this, [this, chosen] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("LRC ファイル"), {}, QStringLiteral("歌詞 (*.lrc *.LRC *.txt);;すべて (*)"));
        if (!path.isEmpty()) {
            m_lrcPath->setText(path);
            chosen->setChecked(true);
        }
    });
    connect(m_lrcPath, &QLineEdit::textEdited, chosen, [chosen] { chosen->setChecked(true); });
    auto *lrcRow = new QHBoxLayout;
    lrcRow->addWidget(m_besideTrack);
    lrcRow->addWidget(chosen);
    lrcRow->addWidget(m_lrcPath, 1);
    lrcRow->addWidget(browse);
    const bool anyMp3 = std::any_of(m_rows.cbegin(), m_rows.cend(), [](const Row &r) { return r.mp3; });
    for (QWidget *w : { static_cast<QWidget *>(m_besideTrack), static_cast<QWidget *>(chosen),
             static_cast<QWidget *>(m_lrcPath), static_cast<QWidget *>(browse) }) {
        w->setEnabled(false);
        connect(m_synced, &QCheckBox::toggled, w, &QWidget::setEnabled);
    }
    m_synced->setVisible(anyMp3);
    layout->addWidget(m_synced);
    layout->addLayout(lrcRow); // hidden widgets take no room
    if (!anyMp3)
        for (QWidget *w : { static_cast<QWidget *>(m_besideTrack), static_cast<QWidget *>(chosen),
                 static_cast<QWidget *>(m_lrcPath), static_cast<QWidget *>(browse) })
            w->hide();

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    outer->addWidget(m_status);
    m_failures = new QListWidget(this);
    m_failures->setObjectName(QStringLiteral("failures"));
    m_failures->hide();
    outer->addWidget(m_failures);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->setObjectName(QStringLiteral("buttons"));
    m_buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("書き込む"));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &TagEditor::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &TagEditor::reject);
    outer->addWidget(m_buttons);
    resize(std::max(sizeHint().width(), fontMetrics().horizontalAdvance(QLatin1Char('M')) * 48), sizeHint().height());
}

void TagEditor::runOnWorker(std::function<void()> work)
{
    m_worker = QThread::create(std::move(work));
    connect(m_worker, &QThread::finished, this, &TagEditor::workerEnded);
    m_worker->start();
}

void TagEditor::workerEnded()
{
    if (m_worker) {
        m_worker->wait();
        delete std::exchange(m_worker, nullptr);
    }
}

void TagEditor::startReading()
{
    if (m_rows.isEmpty()) {
        m_status->setText(QStringLiteral("編集できる曲がありません。"));
        m_buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
        return;
    }
    m_status->setText(QStringLiteral("タグを読み込み中…"));
    m_body->setEnabled(false);
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    QStringList paths;
    for (const Row &r : m_rows)
        paths << r.path;
    runOnWorker([this, paths, read = m_io.read] {
        QList<TagFieldValues> values;
        for (const QString &path : paths) {
            if (m_stop)
                return;
            values.append(read(path));
        }
        QMetaObject::invokeMethod(
            this, [this, values] { showValues(values); }, Qt::QueuedConnection);
    });
}

void TagEditor::showValues(const QList<TagFieldValues> &values)
{
    m_filling = true;
    for (int f = 0; f < kTagFieldCount; ++f) {
        bool known = true;
        bool same = true;
        for (const TagFieldValues &v : values) {
            known = known && v[f].has_value();
            same = same && v[f] == values.front()[f];
        }
        const QString text = known && same ? *values.front()[f] : QString();
        const QString hint = !known ? QStringLiteral("（読み取れません。入力すると書き込みます）")
            : same                  ? QString()
                                    : mixedText();
        if (m_edits[f]) {
            m_edits[f]->setText(text);
            if (!hint.isEmpty())
                m_edits[f]->setPlaceholderText(hint);
        } else {
            m_lyrics->setPlainText(text);
            m_lyrics->setPlaceholderText(hint);
        }
    }
    m_filling = false;
    m_body->setEnabled(true);
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(true);
    m_status->setText(m_rows.size() == 1
            ? QString()
            : QStringLiteral("%1 曲。変えた項目だけをすべての曲に書き込みます。").arg(m_rows.size()));
}

TagChanges TagEditor::changes() const
{
    TagChanges c;
    for (int f = 0; f < kTagFieldCount; ++f) {
        if (m_edited[f])
            fieldOf(c, TagField(f)) = m_edits[f] ? m_edits[f]->text() : m_lyrics->toPlainText();
    }
    return c;
}

void TagEditor::accept()
{
    if (m_reported)
        return QDialog::accept();
    if (isIdle())
        startWriting();
}

void TagEditor::reject()
{
    // A write goes on to its report: files half done are worse than a wait.
    if (m_writing)
        return;
    m_stop = true;
    QDialog::reject();
}

void TagEditor::startWriting()
{
    const TagChanges common = changes();
    const bool synced = m_synced->isChecked();
    const QString lrcFile = m_besideTrack->isChecked() ? QString() : m_lrcPath->text();
    m_writing = true;
    m_body->setEnabled(false);
    m_buttons->setEnabled(false);
    m_status->setText(QStringLiteral("書き込み中… 0/%1").arg(m_rows.size()));
    runOnWorker([this, rows = m_rows, common, synced, lrcFile, write = m_io.write] {
        QList<Outcome> outcomes;
        const std::optional<QString> chosen = synced && !lrcFile.isEmpty() ? readLrc(lrcFile) : std::nullopt;
        for (int i = 0; i < rows.size(); ++i) {
            if (m_stop) // the window goes (the player quits): the rest stays as it was
                return;
            TagChanges c = common;
            Outcome o { i, {}, {} };
            if (synced && rows[i].mp3) {
                c.syncedLyrics = lrcFile.isEmpty() ? readLrc(lrcBeside(rows[i].path)) : chosen;
                if (!c.syncedLyrics)
                    o.note = QStringLiteral("歌詞ファイルがないため、同期歌詞は書き込んでいません");
            }
            o.result = write(rows[i].path, c);
            outcomes.append(o);
            QMetaObject::invokeMethod(
                this, [this, i] { progress(i + 1); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            this, [this, outcomes] { finishWriting(outcomes); }, Qt::QueuedConnection);
    });
}

void TagEditor::progress(int done)
{
    m_status->setText(QStringLiteral("書き込み中… %1/%2").arg(done).arg(m_rows.size()));
}

void TagEditor::finishWriting(const QList<Outcome> &outcomes)
{
    m_writing = false;
    QList<quint64> ids;
    int failed = 0;
    for (const Outcome &o : outcomes) {
        const QString name = displayPath(FileNameOf(m_rows[o.row].path));
        if (o.result.ok()) {
            ids.append(m_rows[o.row].id);
            if (!o.note.isEmpty())
                m_failures->addItem(name + QStringLiteral(": ") + o.note);
            continue;
        }
        ++failed;
        const QString why = o.result.why.isEmpty() ? QStringLiteral("書き込めませんでした") : o.result.why;
        m_failures->addItem(name + QStringLiteral(": ") + why);
    }
    if (!ids.isEmpty())
        emit written(ids);
    if (m_failures->count() == 0) {
        QDialog::accept();
        return;
    }
    m_reported = true;
    m_status->setText(failed == 0
            ? QStringLiteral("%1 曲に書き込みました。").arg(ids.size())
            : QStringLiteral("%1 曲に書き込みました。書き込めなかった曲: %2 曲").arg(ids.size()).arg(failed));
    m_failures->show();
    m_body->setEnabled(true);
    m_buttons->setEnabled(true);
    for (QLineEdit *e : m_edits)
        if (e)
            e->setReadOnly(true);
    m_lyrics->setReadOnly(true);
    m_buttons->setStandardButtons(QDialogButtonBox::Close);
    m_buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
}

} // namespace kes
