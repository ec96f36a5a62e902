// The main window `kestrine`: the controls laid out in twips, the toolbar, the pop-up
// menu and the resize rules.  It makes the player's session (PlayerSession: the playlist,
// the playback variables, sequencing, the playback controller and the rest that is no
// widget), shows the controller's read-outs (as its PlaybackView) and binds the widgets
// to the session.  Its load runs the start-up sequence and its unload the shutdown
// sequence, each calling the session's steps in their place.  GUI thread only.
#pragma once

#include "playbackcontroller.h"
#include "playbackview.h"
#include "playersession.h"
#include "shortcuts.h"
#include "twips.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QWidget>

#include <memory>

namespace kes
{

class TabControl;
class ClickLabel;
class WaveBox;
class PlaylistModel;
class PlaylistCommands;
class Sequencer;
class TrackAdder;
class PrintWindow;
class AboutWindow;
class OptionsWindow;
class FindWindow;
class FolderSearchWindow;
class VideoWindowPresenter;
class CoverArt;
class SessionKeeper;
class RowActions;
class LyricsView;
class TagWindows;

class MainWindow : public QWidget, private PlaybackView
{
    Q_OBJECT
public:
    using Context = PlayerSession::Context;

    explicit MainWindow(const Context &context, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence.  Returns false when the program must end at once (another
    // instance runs); the window has then been closed.
    bool formLoad();
    // The shutdown sequence; runs once, when the window closes.
    void formUnload();

    // Window size in twips, counting the frame as the classic window did (twips.h).
    int windowWidthTwips() const { return windowTwipsOfClient(size()).width(); }
    int windowHeightTwips() const { return windowTwipsOfClient(size()).height(); }
    void setWindowSizeTwips(int width, int height);

    void SetupToolbar();
    void Form_Resize();
    void ToggleCompact();
    void Toolbar_ButtonClick(const QString &key);
    void Label15_Click();
    void label5Click();
    void repeatSetClick();
    // Pop-up menu "about": the about window, modal.
    void about_Click();
    // true (after the busy message) while the decoder plays.
    bool BusyGuard() { return m_session->BusyGuard(); }
    // Volume slider moved by the user to value.
    void slider1Change(int value);
    // The playlist's double click: plays the row clicked last.
    void listViewDblClick();

    // A keyboard shortcut's command, run through the procedure of the control that does
    // the same (the table is in shortcuts.h).
    void runKey(KeyCommand command);
    // The seek bar's procedure for the keyboard and the media controls: the thumb moves to
    // seconds (kept within the track) and the track seeks there.  Nothing while stopped;
    // returns whether it sought.
    bool seekTo(int seconds);
    void seekBy(int seconds);
    // Return on the list: the selected row becomes the clicked row and plays as a double
    // click plays it.
    void playSelectedRow();
    // The pop-up item `listRemove` and Delete: the selected rows leave the list.  Playback
    // goes on; CurrentTrackNo follows its row (or stays where the rows closed up).
    void removeSelectedRows();
    // Insert: the selected rows' check boxes take the opposite of the current row's.
    void toggleSelectedChecks();

    // The session the controls are bound to, and its parts as watchers (the video window,
    // the media controls, handed-over files) reach them.
    PlayerSession &session() const { return *m_session; }
    PlaybackController *controller() const { return m_session->controller(); }
    PlaybackState &playbackState() { return m_session->playbackState(); }
    PlaylistModel *playlist() const { return m_session->playlist(); }
    TrackAdder *adder() const { return m_session->adder(); }
    PlaylistCommands *commands() const { return m_session->commands(); }
    // The folder search window `Frm_FF`, created on first use.
    FolderSearchWindow *folderSearch();
    // The find window, created on first use; the row chosen there plays as a double click.
    FindWindow *findWindow();
    Sequencer *sequencer() const { return m_session->sequencer(); }
    VideoWindowPresenter *videoPresenter() const { return m_videoWindow.get(); }
    // The cover of the track started last (shown in the lyrics view of a track without
    // lyrics, handed to the media controls).
    CoverArt *coverArt() const { return m_session->coverArt(); }
    LyricsView *lyricsView() const { return m_lyricsView.get(); }
    // The tag editor and the text-encoding fix on the selected rows.
    TagWindows *tagWindows() const { return m_tagWindows; }
    SessionKeeper *sessionKeeper() const { return m_session->sessionKeeper(); }

    Settings &settings() { return m_session->settings(); }
    QMenu *popupMenu() const { return m_pop; }
    RowActions *rowActions() const { return m_rowActions; }
    bool repeatOn() const;
    QString playMode() const;
    const QString &searchPattern() const { return m_session->searchPattern(); }
    uint32_t VolumeWord() const { return m_session->VolumeWord(); }
    const QString &VolumeHex() const { return m_session->VolumeHex(); }

signals:
    // The pop-up menu `Listview_Pop` is about to show (a right click on one of its controls).
    void popupShown();
    // The user or the media controls moved the playing position (not the tick).
    void seeked();
    // Repeat (`repeat_set`) or the play mode (`Label5`) changed.
    void modeChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    // The arrow keys that the focused control leaves alone seek.
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The controls, part by part, in the order they stack.
    void buildControls();
    void buildToolbar();
    void buildReadOuts();
    void buildModeLabels();
    void buildTabs();
    void buildVolumeSlider();
    void buildPopupMenu();
    void buildShortcuts();
    // Tab order: the toolbar's buttons, the slider, the mode labels, the seek bar, the
    // tabs and the controls of the tab shown.
    void arrangeTabOrder();
    // Names and descriptions for screen readers.
    void nameForAccessibility();
    void showPopup(const QPoint &globalPos);
    // The controls, the video window and the pop-up menu's items bound to the session.
    void bindPlaylist();

    // The steps of the start-up, each in its place in formLoad().
    // Play mode "Normal" from the first row.
    void resetPlayMode();
    void SetupColumns();
    // Compact (Op_03) or full height, start width.
    void applyStartSize();
    // The folder search window preset on the start-up folder (Op_07, Op_17), or a message
    // when it cannot be set.
    void presetStartupFolder();
    // The folder search pattern from the file-type flags.
    void applySearchPattern();
    // The slider from the volume kept from the last run (else the library's), right channel.
    void showStartVolume();
    // The shutdown's window step (PlayerSession::shutdown): the video and folder search
    // windows, and the modal windows, when open.
    void closeOtherWindows();
    // The session marked row as the playing one (0: none): it is scrolled into view.
    void trackShown(int row);
    // row (1-based) becomes the list's current and only selected row.
    void selectRow(int row);
    // The cover in the lyrics view, for a track without lyrics.
    void showCover();

    // The "Vol - N" read-out for a slider value.
    void showVolume(int value);
    // The desktop's mixer set the volume: the slider follows.
    void mixerVolume(uint32_t word);
    // PlaybackView: the panel's read-outs, seek bar, tabs, lyrics lines and spectrum box.
    void showReadOut(ReadOut which, const QString &text) override;
    void setSeekRange(int maximum) override;
    void setSeekValue(int seconds) override;
    void selectTab(int index) override;
    void showLyricsLine(int index, const QString &text) override;
    void highlightCurrentLine() override;
    void drawSpectrum(const int32_t *first, const int32_t *second) override;
    void clearSpectrum() override;
    bool spectrumShown() const override;
    void minimizeForVideo() override;
    void restoreFromVideo() override;
    // Shows the options window `frmOpt1` modally ("設定", "Option").
    void openOptions();

    FolderSearchWindow *m_folderSearch = nullptr;
    FindWindow *m_findWindow = nullptr;

    QToolBar *m_toolbar = nullptr;
    QSlider *m_slider = nullptr;
    QWidget *m_shape2 = nullptr;
    QLabel *m_lblNumber = nullptr;
    QLabel *m_lblTime = nullptr;
    QLabel *m_lblTime2 = nullptr;
    QLabel *m_label6 = nullptr;
    QLabel *m_label7 = nullptr;
    QLabel *m_lblCodec = nullptr;
    QLabel *m_lblVol = nullptr;
    QLabel *m_lblArt = nullptr;
    QLabel *m_lblTitle = nullptr;
    WaveBox *m_wavebox = nullptr;
    ClickLabel *m_label15 = nullptr;
    ClickLabel *m_label5 = nullptr;
    QScrollBar *m_seekbar = nullptr;
    TabControl *m_tab = nullptr;
    QWidget *m_lyricsBox = nullptr;
    QLabel *m_kasi[5] = {};
    QTreeView *m_listView = nullptr;
    QWidget *m_command2 = nullptr;
    QLabel *m_coverLabel = nullptr; // in LyricsBox, under the lyrics lines

    // The binding: made once the controls are, ended before them.
    std::unique_ptr<PlayerSession> m_session;
    // The video window `Frm_Mpeg`, made on first use; installed in the controller (it
    // holds the session's parts: declared after it, destroyed before it).
    std::unique_ptr<VideoWindowPresenter> m_videoWindow;
    // The lyrics view's note, menu and editor (holds the controller: destroyed before it).
    std::unique_ptr<LyricsView> m_lyricsView;

    QPointer<PrintWindow> m_print1; // the CD jacket window, made on first use
    QMenu *m_pop = nullptr;
    QAction *m_repeatSet = nullptr;
    RowActions *m_rowActions = nullptr; // the queue, stop-after, moves and the file dialog
    TagWindows *m_tagWindows = nullptr;
    QPointer<OptionsWindow> m_frmOpt1; // while open
    QPointer<AboutWindow> m_frmAbout; // while open
};

} // namespace kes
