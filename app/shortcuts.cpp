#include "shortcuts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace kes
{

namespace
{

using S = KeyBinding::Scope;
using C = KeyCommand;

// Z X C V B as Winamp and Audacious users know them.
constexpr KeyBinding kBindings[] = {
    { C::Previous, S::Window, "Z", "前曲" },
    { C::Play, S::Window, "X", "再生" },
    { C::Pause, S::Window, "C", "一時停止（もう一度で再開）" },
    { C::Stop, S::Window, "V", "停止" },
    { C::Next, S::Window, "B", "次曲" },
    { C::Pause, S::List, "Space", "一時停止（プレイリスト上で）" },
    { C::SeekBack, S::Position, "Left", "5秒戻る" },
    { C::SeekForward, S::Position, "Right", "5秒進む" },
    { C::VolumeUp, S::Window, "+; =", "音量を上げる" },
    { C::VolumeDown, S::Window, "-", "音量を下げる" },
    { C::PlaySelected, S::List, "Return; Enter", "選択した曲を再生（ダブルクリックと同じ）" },
    { C::RemoveSelected, S::List, "Del", "選択した曲をリストから削除" },
    { C::ToggleChecks, S::List, "Ins", "選択した曲のチェックを切り替え" },
    { C::SelectAll, S::List, "Ctrl+A", "すべて選択" },
    { C::FolderSearch, S::Window, "Ctrl+F", "フォルダ検索（File Search）" },
    { C::Find, S::Window, "Ctrl+J", "曲を探す（入力するたびに絞り込み）" },
    { C::Options, S::Window, "Ctrl+P", "オプション（設定）" },
    { C::Repeat, S::Window, "Ctrl+R", "リピートの切り替え（Repeat-on/off）" },
    { C::PlayMode, S::Window, "Ctrl+S", "再生モードの切り替え（Normal/Random）" },
    { C::Enqueue, S::List, "Ctrl+E", "選択した曲を次に再生（再生キューに追加）" },
    { C::StopAfterTrack, S::Window, "Ctrl+T", "この曲で停止（もう一度で取り消し）" },
    { C::MoveRowsUp, S::List, "Alt+Up", "選択した曲を１行上へ" },
    { C::MoveRowsDown, S::List, "Alt+Down", "選択した曲を１行下へ" },
    { C::AddFiles, S::Window, "Ctrl+O", "ファイルを追加…" },
    { C::AddFolder, S::Window, "Ctrl+Shift+O", "フォルダを追加…" },
    { C::EditTags, S::Window, "F2", "選択した曲のタグを編集…" },
    { C::Shortcuts, S::Window, "F1", "キー操作一覧" },
    { C::Quit, S::Window, "Ctrl+Q", "終了" },
};

} // namespace

QList<QKeySequence> KeyBinding::sequences() const
{
    return QKeySequence::listFromString(QString::fromLatin1(keys), QKeySequence::PortableText);
}

std::span<const KeyBinding> keyBindings()
{
    return kBindings;
}

std::optional<KeyCommand> commandFor(const QKeyEvent &event, std::initializer_list<KeyBinding::Scope> scopes)
{
    const QKeySequence pressed(event.keyCombination().toCombined() & ~int(Qt::KeypadModifier));
    for (const KeyBinding &b : keyBindings()) {
        if (std::find(scopes.begin(), scopes.end(), b.scope) != scopes.end() && b.sequences().contains(pressed))
            return b.command;
    }
    return std::nullopt;
}

QString keysText(const KeyBinding &binding)
{
    QStringList texts;
    for (const QKeySequence &k : binding.sequences())
        texts << k.toString(QKeySequence::NativeText);
    return texts.join(QStringLiteral(" / "));
}

void showShortcutTable(QWidget *parent)
{
    QDialog window(parent);
    window.setObjectName(QStringLiteral("shortcutTable"));
    window.setWindowTitle(QStringLiteral("キー操作一覧"));
    auto *table = new QTableWidget(static_cast<int>(std::size(kBindings)), 2, &window);
    table->setHorizontalHeaderLabels({ QStringLiteral("キー"), QStringLiteral("操作") });
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    int row = 0;
    for (const KeyBinding &b : kBindings) {
        table->setItem(row, 0, new QTableWidgetItem(keysText(b)));
        table->setItem(row++, 1, new QTableWidgetItem(QString::fromUtf8(b.what)));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
    // The command line, as the manual and the README give it.
    auto *commandLine = new QLabel(QStringLiteral("コマンドライン: kestrine [ファイル…]\n"
                                                  "  --enqueue　ファイルを再生キューに追加（次に再生）\n"
                                                  "  -h, --help　使い方を表示\n"
                                                  "  -v, --version　バージョンを表示"),
        &window);
    commandLine->setObjectName(QStringLiteral("commandLine"));
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(table);
    layout->addWidget(commandLine);
    layout->addWidget(buttons);
    window.resize(table->horizontalHeader()->length() + 60, 480);
    window.exec();
}

} // namespace kes
