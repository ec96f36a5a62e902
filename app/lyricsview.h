// The lyrics view's own parts, beside the five lines the controller fills: a quiet note
// at its foot (what the lyrics finder says), its context menu (the main pop-up menu's
// items, then 歌詞を検索し直す, 候補から選ぶ, 見つけた歌詞を削除, タイミングを編集) with the
// search dialog, and the timing editor laid over the lines while it is open.  GUI
// thread only.
#pragma once

#include "lyricseditor.h"
#include "lyricsfinder.h"
#include "lyricssearchdialog.h"

#include <QObject>
#include <QPointer>

class QLabel;
class QMenu;
class QWidget;

namespace kes
{

class LyricsView : public QObject
{
    Q_OBJECT
public:
    // box is the lyrics view; mainMenu's items head its menu.  All must outlive this.
    LyricsView(QWidget *box, QMenu *mainMenu, PlaybackController &controller, const Settings &settings,
        const QString &cacheRoot, QObject *parent = nullptr);

    LyricsFinder &finder() { return m_finder; }
    QMenu *menu() const { return m_menu; }
    QLabel *note() const { return m_note; }
    LyricsEditor *editor() const { return m_editor; }
    LyricsSearchDialog *searchDialog() const { return m_search; }

    void popup(const QPoint &globalPos);
    // The box changed size: the note and the editor follow.
    void boxResized();
    // The search dialog for the playing track; searchNow sends at once.  Nothing when
    // the lookup is off or nothing plays.
    void searchAgain(bool searchNow);
    void dropFound();
    // The timing editor over the lines, on the playing track's lyrics file.
    void editTiming();
    void closeEditor();

private:
    void showNote(const QString &text);
    void fillMenu();

    QWidget *m_box;
    QMenu *m_mainMenu;
    PlaybackController &m_controller;
    LyricsFinder m_finder;
    QMenu *m_menu;
    QLabel *m_note;
    QPointer<LyricsEditor> m_editor;
    QPointer<LyricsSearchDialog> m_search;
};

} // namespace kes
