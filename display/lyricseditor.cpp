#include "lyricseditor.h"

#include "atomicwrite.h"
#include "pathbytes.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace kes
{

namespace
{

constexpr qint64 kMaxLyricsBytes = 1 << 20;
constexpr qint64 kNudgeMs = 100;

bool isEditorKey(const QKeyEvent &key)
{
    const Qt::KeyboardModifiers mods = key.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
    switch (key.key()) {
    case Qt::Key_Space:
        return mods == Qt::NoModifier;
    case Qt::Key_Left:
    case Qt::Key_Right:
        return mods.testFlag(Qt::ControlModifier);
    case Qt::Key_S:
        return mods == Qt::ControlModifier;
    case Qt::Key_Insert:
        return mods == Qt::NoModifier || mods == Qt::ControlModifier;
    case Qt::Key_Delete:
        return mods == Qt::NoModifier;
    case Qt::Key_Escape:
        return true;
    default:
        return false;
    }
}

} // namespace

LyricsEditor::LyricsEditor(Position position, QWidget *parent)
    : QWidget(parent)
    , m_position(std::move(position))
    , m_table(new QTableWidget(0, 2, this))
    , m_note(new QLabel(this))
{
    setObjectName(QStringLiteral("lyricsEditor"));
    setAutoFillBackground(true);
    // The view is small (about 370 x 165 pixels): a small font keeps every control whole.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    m_table->setObjectName(QStringLiteral("lyricsEditorLines"));
    m_table->setHorizontalHeaderLabels({ QStringLiteral("時刻"), QStringLiteral("歌詞") });
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(16);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(0, 66);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->installEventFilter(this);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QWidget::customContextMenuRequested, this, &LyricsEditor::showMenu);
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (!m_filling && item->column() == 1)
            setLineText(item->row(), item->text());
    });

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    const auto button = [&](const char *name, const QString &caption, const QString &tip, auto handler) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(QStringLiteral("padding: 1px 2px;"));
        b->setMinimumWidth(0);
        connect(b, &QPushButton::clicked, this, handler);
        buttons->addWidget(b);
    };
    button("lyricsStamp", QStringLiteral("打刻"), QStringLiteral("今の再生位置を選んだ行に付けて次の行へ (Space)"),
        [this] { stampCurrent(); });
    button("lyricsLineEarlier", QStringLiteral("行−0.1"), QStringLiteral("この行を 0.1 秒早く (Ctrl+←)"),
        [this] { nudgeCurrent(-kNudgeMs); });
    button("lyricsLineLater", QStringLiteral("行+0.1"), QStringLiteral("この行を 0.1 秒遅く (Ctrl+→)"),
        [this] { nudgeCurrent(kNudgeMs); });
    button("lyricsAllEarlier", QStringLiteral("全体−0.1"), QStringLiteral("全部の行を 0.1 秒早く (Ctrl+Shift+←)"),
        [this] { nudgeAll(-kNudgeMs); });
    button("lyricsAllLater", QStringLiteral("全体+0.1"), QStringLiteral("全部の行を 0.1 秒遅く (Ctrl+Shift+→)"),
        [this] { nudgeAll(kNudgeMs); });
    button("lyricsSave", QStringLiteral("保存"), QStringLiteral("歌詞ファイルに書き込む (Ctrl+S)"), [this] { save(); });
    button("lyricsEditClose", QStringLiteral("閉じる"), QStringLiteral("編集をやめる (Esc)"),
        [this] { emit closeRequested(); });

    m_note->setObjectName(QStringLiteral("lyricsEditorNote"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_note);
}

bool LyricsEditor::open(const QString &path, QString *error)
{
    BoundedFile file;
    QByteArray bytes;
    if (file.open(path, kMaxLyricsBytes, std::chrono::seconds(2)) != BoundedFile::Status::Ok || !file.readAll(bytes)) {
        if (error)
            *error = QStringLiteral("歌詞ファイルを読めません");
        return false;
    }
    m_path = path;
    m_doc = LrcDocument::fromBytes(bytes);
    fill();
    setCurrentLine(0);
    showNote(QStringLiteral("Space: 打刻　ダブルクリック: 修正　Ins/Del: 行の追加/削除"));
    return true;
}

int LyricsEditor::currentLine() const
{
    return m_table->currentRow();
}

void LyricsEditor::setCurrentLine(int line)
{
    if (line >= 0 && line < m_doc.lines.size())
        m_table->setCurrentCell(line, 0);
}

void LyricsEditor::stampCurrent()
{
    const int line = currentLine();
    if (line < 0)
        return;
    m_doc.stamp(line, m_position());
    showRow(line);
    setCurrentLine(line + 1);
}

void LyricsEditor::nudgeCurrent(qint64 deltaMs)
{
    const int line = currentLine();
    if (line < 0)
        return;
    m_doc.nudgeLine(line, deltaMs);
    showRow(line);
}

void LyricsEditor::nudgeAll(qint64 deltaMs)
{
    m_doc.nudgeAll(deltaMs);
    fill();
    showNote(QStringLiteral("[offset:%1]").arg(m_doc.offset));
}

void LyricsEditor::insertLine(bool atPosition, bool edit)
{
    const int current = currentLine();
    LrcLine line;
    if (atPosition) {
        m_doc.lines.insert(current + 1, line);
        m_doc.stamp(current + 1, m_position());
    } else {
        if (current >= 0)
            line.ms = m_doc.lines[current].ms;
        m_doc.lines.insert(current + 1, line);
    }
    fill();
    setCurrentLine(current + 1);
    if (edit)
        m_table->editItem(m_table->item(current + 1, 1));
}

void LyricsEditor::deleteCurrent()
{
    const int current = currentLine();
    if (current < 0)
        return;
    m_doc.lines.removeAt(current);
    fill();
    setCurrentLine(std::min(current, static_cast<int>(m_doc.lines.size()) - 1));
}

void LyricsEditor::showMenu(const QPoint &at)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("行を追加 (Insert)"), this, [this] { insertLine(false, true); });
    menu.addAction(QStringLiteral("今の再生位置で行を追加 (Ctrl+Insert)"), this, [this] { insertLine(true, true); });
    QAction *remove = menu.addAction(QStringLiteral("行を削除 (Delete)"), this, [this] { deleteCurrent(); });
    remove->setEnabled(currentLine() >= 0);
    menu.exec(m_table->viewport()->mapToGlobal(at));
}

void LyricsEditor::setLineText(int line, const QString &text)
{
    if (line < 0 || line >= m_doc.lines.size())
        return;
    m_doc.lines[line].text = text;
    showRow(line);
}

bool LyricsEditor::save(QString *note)
{
    // Empty lines at the end are not kept by a reader: leaving them out keeps the check exact.
    while (!m_doc.lines.isEmpty() && !m_doc.lines.back().ms && m_doc.lines.back().text.trimmed().isEmpty())
        m_doc.lines.removeLast();
    bool fellBack = false;
    const QByteArray bytes = m_doc.toBytes(&fellBack);
    const LrcDocument back = LrcDocument::fromBytes(bytes);
    QString text;
    bool ok = false;
    if (back.lines != m_doc.lines || back.tags != m_doc.tags || back.offset != m_doc.offset) {
        text = QStringLiteral("保存しません: 書き出した歌詞が読み戻せません");
    } else if (QString error; !writeFileAtomically(m_path, bytes, &error)) {
        text = QStringLiteral("保存できません: %1 (元のファイルはそのままです)").arg(error);
    } else {
        ok = true;
        text = fellBack ? QStringLiteral("保存しました (CP932 にない文字があるため UTF-8 で)")
                        : QStringLiteral("保存しました");
        if (fellBack)
            m_doc.encoding = LrcDocument::Encoding::Utf8;
    }
    showNote(text);
    if (note)
        *note = text;
    if (ok)
        emit saved(m_path);
    return ok;
}

bool LyricsEditor::eventFilter(QObject *watched, QEvent *event)
{
    // Keys typed into a line being edited go to its editor, not here.  The editor's keys
    // win over the window's shortcuts while the lines have the focus (Ctrl+S is also the
    // window's play mode).
    if (watched == m_table && event->type() == QEvent::ShortcutOverride
        && isEditorKey(*static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
        const bool arrow = key->key() == Qt::Key_Left || key->key() == Qt::Key_Right;
        const qint64 sign = key->key() == Qt::Key_Left ? -1 : 1;
        if (key->key() == Qt::Key_Space && mods == Qt::NoModifier) {
            stampCurrent();
        } else if (arrow && mods == Qt::ControlModifier) {
            nudgeCurrent(sign * kNudgeMs);
        } else if (arrow && mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
            nudgeAll(sign * kNudgeMs);
        } else if (key->key() == Qt::Key_S && mods == Qt::ControlModifier) {
            save();
        } else if (key->key() == Qt::Key_Insert && (mods == Qt::NoModifier || mods == Qt::ControlModifier)) {
            insertLine(mods == Qt::ControlModifier, true);
        } else if (key->key() == Qt::Key_Delete && mods == Qt::NoModifier) {
            deleteCurrent();
        } else if (key->key() == Qt::Key_Escape) {
            emit closeRequested();
        } else {
            return QWidget::eventFilter(watched, event);
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void LyricsEditor::fill()
{
    const int current = currentLine();
    m_filling = true;
    m_table->setRowCount(static_cast<int>(m_doc.lines.size()));
    for (int i = 0; i < m_doc.lines.size(); ++i)
        showRow(i);
    m_filling = false;
    setCurrentLine(current);
}

void LyricsEditor::showRow(int row)
{
    const bool filling = std::exchange(m_filling, true);
    const std::optional<qint64> at = m_doc.shownAt(row);
    auto *time = new QTableWidgetItem(at ? LrcDocument::stampText(*at).mid(1).chopped(1) : QString());
    time->setFlags(time->flags() & ~Qt::ItemIsEditable);
    m_table->setItem(row, 0, time);
    m_table->setItem(row, 1, new QTableWidgetItem(m_doc.lines[row].text));
    m_filling = filling;
}

void LyricsEditor::showNote(const QString &text)
{
    m_note->setText(text);
}

} // namespace kes
