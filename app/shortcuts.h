// The main window's keyboard shortcuts: one table that binds the keys, lists them in the
// shortcut window and tells the manual what to say.  Each command runs the procedure of
// the button, label, menu item or list event that does the same, so a key and a click
// never differ.  GUI thread only.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <initializer_list>
#include <optional>
#include <span>

class QKeyEvent;
class QWidget;

namespace kes
{

enum class KeyCommand {
    Previous, // toolbar "前曲"
    Play, // "再生"
    Pause, // "一時"
    Stop, // "停止"
    Next, // "次曲"
    SeekBack, // the seek bar 5 seconds back
    SeekForward, // 5 seconds on
    VolumeUp, // the volume slider one page up
    VolumeDown,
    PlaySelected, // the list's double click on the selected row
    RemoveSelected, // the pop-up item that removes the selected rows
    ToggleChecks, // the check boxes of the selected rows
    SelectAll,
    FolderSearch, // `Command2` "File Search"
    Find, // the find window: rows narrowed as one types
    Options, // "設定"
    Repeat, // a click on `Label15`
    PlayMode, // a click on `Label5`
    Shortcuts, // this table in a window of its own
    Quit, // "終了"
    Enqueue, // the pop-up item "次に再生": the selected rows join the play queue
    StopAfterTrack, // "この曲で停止": playback stops at the end of the playing track
    MoveRowsUp, // the selected rows one place up
    MoveRowsDown,
    AddFiles, // "ファイルを追加…": the desktop's file dialog
    AddFolder, // "フォルダを追加…"
    EditTags, // the pop-up item "タグを編集…" on the selected rows
};

struct KeyBinding {
    // Where the keys act: the whole window; the playlist when it has the focus; or, for
    // the arrow keys, the list, the seek bar and any control that does not use them
    // itself (the mode labels; not the volume slider, the tabs or the toolbar, where
    // they move between the buttons).
    enum class Scope { Window, List, Position };
    KeyCommand command;
    Scope scope;
    const char *keys; // portable text of QKeySequence::fromString, "; " between several
    const char *what; // what it does, UTF-8, as the shortcut window says it
    QList<QKeySequence> sequences() const;
};

// Every shortcut, in the order the shortcut window lists them.
std::span<const KeyBinding> keyBindings();
// The command bound to a key in one of the given scopes (the keypad's keys as the others).
std::optional<KeyCommand> commandFor(const QKeyEvent &event, std::initializer_list<KeyBinding::Scope> scopes);
// The keys of a binding as the shortcut window shows them ("Z", "Ctrl+F", "+ / =").
QString keysText(const KeyBinding &binding);

// The window "キー操作一覧" (`shortcutTable`) listing the table, modal over parent.
void showShortcutTable(QWidget *parent);

} // namespace kes
