// The main window `kestrine`: the controls laid out in twips, the toolbar, the pop-up
// menu and the resize rules.  It owns the playlist, the playback variables, sequencing
// and the playback controller, shows the controller's read-outs (as its PlaybackView)
// and forwards the widgets' events to them.  Its load runs the start-up sequence and its
// unload the shutdown sequence.  GUI thread only.
#pragma once

#include "decoderapi.h"
#include "playbackcontroller.h"
#include "playbackstate.h"
#include "playbackview.h"
#include "prompter.h"
#include "settings.h"
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

class SingleInstance;
class VolumeMemory;
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

class MainWindow : public QWidget, private PlaybackView
{
    Q_OBJECT
public:
    struct Context {
        DecoderApi api;
        Prompter *prompter = nullptr;
        QString iniPath; // the settings file
        QString programFolder; // where default playlist and CSV names point
        SingleInstance *instance = nullptr; // nullptr: no single-instance check
        VolumeMemory *volume = nullptr; // nullptr: the volume is not kept between runs
        QString cacheDir; // embedded covers are written here; empty: CoverArt::defaultCacheDir()
        QString sessionPath; // the last run's playlist; empty: kestrine_last.m3u8 beside the settings
    };

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
    bool BusyGuard();
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

    // Playback, which the video window and other watchers attach to.
    PlaybackController *controller() const { return m_playback.get(); }
    // The playback variables of the program.
    PlaybackState &playbackState() { return m_state; }
    PlaylistModel *playlist() const { return m_playlist; }
    TrackAdder *adder() const { return m_adder; }
    PlaylistCommands *commands() const { return m_commands.get(); }
    // The folder search window `Frm_FF`, created on first use.
    FolderSearchWindow *folderSearch();
    // The find window, created on first use; the row chosen there plays as a double click.
    FindWindow *findWindow();
    Sequencer *sequencer() const { return m_sequencer.get(); }
    VideoWindowPresenter *videoPresenter() const { return m_videoWindow.get(); }
    // The cover of the track started last (shown in the lyrics view of a track without
    // lyrics, handed to the media controls).
    CoverArt *coverArt() const { return m_cover; }
    SessionKeeper *sessionKeeper() const { return m_session; }

    Settings &settings() { return m_settings; }
    QMenu *popupMenu() const { return m_pop; }
    bool repeatOn() const;
    QString playMode() const;
    const QString &searchPattern() const { return m_searchPattern; }
    uint32_t VolumeWord() const { return m_volumeWord; }
    const QString &VolumeHex() const { return m_volumeHex; }

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
    // The adder's rules for drops and handed-over files: WideDrops, the search pattern.
    void applyDropRules();
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
    void bindPlaylist();

    // The steps of the start-up, each in its place in formLoad().
    // false, after the duplicate-start message, when another instance runs.
    bool claimSingleInstance();
    // Play mode "Normal" from the first row.
    void resetPlayMode();
    void SetupColumns();
    // The settings file (also read early by SetupToolbar for the icon size), then the
    // equalizer preset it names.
    void loadSettingsAndEqualizer();
    void loadSettingsForToolbar();
    // Compact (Op_03) or full height, start width.
    void applyStartSize();
    // The default playlist (Op_04, Op_14), or a message when its file is missing.
    void loadDefaultPlaylist();
    // The folder search window preset on the start-up folder (Op_07, Op_17), or a message
    // when it cannot be set.
    void presetStartupFolder();
    // The folder search pattern from the file-type flags.
    void applySearchPattern();
    // The slider from the volume kept from the last run (else the library's), right channel.
    void showStartVolume();
    // The shutdown's second step: the video and folder search windows, when open.
    void closeOtherWindows();
    // The last run's playlist and current row, when the option asks for them.  Rows whose
    // file is missing stay (marked missing) and are looked for again every
    // kMissingRecheckMs until found.
    void restoreLastSession();
    void recheckMissingRows();
    // A write of the last run's playlist ended: a failure is told once, with why.
    void sessionWritten(bool ok, const QString &error);
    // A track started (in the decoder or the video window): its row is marked and
    // scrolled into view, and its cover looked for.
    void trackShown();
    // The cover in the lyrics view, for a track without lyrics.
    void showCover();

    // VolumeHex and the "Vol - N" read-out for a slider value.
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

    Context m_ctx;
    PlaybackState m_state;
    Settings m_settings;
    bool m_settingsLoaded = false;
    // [その他設定] WideDrops=1: drops on the list take TrackAdder::DropRules::wide
    // (playlists of any spelling, folders, a message for the files not added); else the
    // classic rules.  Files from outside the window always take the wide rules.
    bool m_wideDrops = false;
    bool m_unloaded = false;
    QString m_searchPattern;
    FolderSearchWindow *m_folderSearch = nullptr;
    FindWindow *m_findWindow = nullptr;
    uint32_t m_volumeWord = 0;
    QString m_volumeHex;

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

    PlaylistModel *m_playlist = nullptr;
    TrackAdder *m_adder = nullptr;
    std::unique_ptr<PlaylistCommands> m_commands;
    std::unique_ptr<Sequencer> m_sequencer;
    std::unique_ptr<PlaybackController> m_playback;
    // The video window `Frm_Mpeg`, made on first use; installed in the controller.
    std::unique_ptr<VideoWindowPresenter> m_videoWindow;

    QPointer<PrintWindow> m_print1; // the CD jacket window, made on first use
    QMenu *m_pop = nullptr;
    QAction *m_repeatSet = nullptr;
    QPointer<OptionsWindow> m_frmOpt1; // while open
    CoverArt *m_cover = nullptr;
    SessionKeeper *m_session = nullptr;
    // Runs while restored rows are marked missing: their files are looked for again.
    QTimer *m_missingTimer = nullptr;
    static constexpr int kMissingRecheckMs = 5000;
    bool m_sessionFailureTold = false;
    QPointer<AboutWindow> m_frmAbout; // while open
};

} // namespace kes
