// The main window `kestrine`: the application's face and owner of the playlist view,
// the read-outs, the two timers and the pop-up menu.  Its load runs the start-up
// sequence and its unload the shutdown sequence.  GUI thread only.
#pragma once

#include "decoderapi.h"
#include "prompter.h"
#include "settings.h"
#include "videopresenter.h"

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
class TabControl;
class ClickLabel;
class SpectrumBox;
class PlaylistModel;
class PlaylistCommands;
class Sequencer;
class TrackAdder;
class VideoWindowPresenter;

class MainWindow : public QWidget
{
    Q_OBJECT
public:
    struct Context {
        DecoderApi api;
        Prompter *prompter = nullptr;
        QString iniPath; // the settings file
        QString programFolder; // where default playlist and CSV names point
        SingleInstance *instance = nullptr; // nullptr: no single-instance check
    };

    explicit MainWindow(const Context &context, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence.  Returns false when the program must end at once (another
    // instance runs); the window has then been closed.
    bool Form_Load();
    // The shutdown sequence; runs once, when the window closes.
    void Form_Unload();

    // Window size in twips, counting the frame as the classic window did (the client
    // area is 120 twips narrower and 420 twips lower than the window).
    int windowWidthTwips() const;
    int windowHeightTwips() const;
    void setWindowSizeTwips(int width, int height);

    void SetupToolbar();
    void Form_Resize();
    void ToggleCompact();
    void Toolbar_ButtonClick(const QString &key);
    void Label15_Click();
    void Label5_Click();
    void repeat_set_Click();
    // true (after the busy message) while the decoder plays.
    bool BusyGuard();
    // Volume slider moved by the user to value.
    void Slider1_Change(int value);

    // Playback.
    void PlayTrack();
    void StopTrack();
    void PauseResume();
    void NextTrack();
    void PrevTrack();
    void Timebar_Timer();
    void seekbar_Scroll(int value);
    void DrawSpectrum();
    void ShowNowPlaying(const QString &path);
    void ShowLyrics();
    // The video window is installed by the constructor; tests may put another in its place.
    void setVideoPresenter(VideoPresenter *video) { m_video = video; }
    // The video window closed: a track it handed back (VideoHandBack) starts here.
    void videoClosed();

    // "03:07", "100:00"; "44.1 KHz", "48 KHz".
    static QString timeText(int seconds);
    static QString frequencyText(int hertz);

    PlaylistModel *playlist() const { return m_playlist; }
    TrackAdder *adder() const { return m_adder; }
    PlaylistCommands *commands() const { return m_commands.get(); }
    // The playlist's list view events.
    void ListView_DblClick();
    Sequencer *sequencer() const { return m_sequencer.get(); }
    const QString &LyricsFile() const { return m_lyricsFile; }

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
    // A track has started playing in the decoder (after PlayTrack's last step).
    void trackStarted();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void buildControls();
    void buildPopupMenu();
    QLabel *makeLabel(
        const char *name, const QString &text, QRect twips, QColor color, const QFont &font, QWidget *parent);
    void showPopup(const QPoint &globalPos);
    void loadSettingsForToolbar();
    void bindPlaylist();
    void SetupColumns();
    // VolumeHex and the "Vol - N" read-out for a slider value.
    void showVolume(int value);
    void playPressed();
    void previousPressed();

    Context m_ctx;
    Settings m_settings;
    bool m_settingsLoaded = false;
    bool m_unloaded = false;
    QString m_searchPattern;
    QString m_startFolder;
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
    QLabel *m_lblVol = nullptr;
    QLabel *m_lblArt = nullptr;
    QLabel *m_lblTitle = nullptr;
    SpectrumBox *m_wavebox = nullptr;
    ClickLabel *m_label15 = nullptr;
    ClickLabel *m_label5 = nullptr;
    QScrollBar *m_seekbar = nullptr;
    TabControl *m_tab = nullptr;
    QWidget *m_lyricsBox = nullptr;
    QLabel *m_kasi[5] = {};
    QTreeView *m_listView = nullptr;
    QWidget *m_command2 = nullptr;
    QTimer *m_timebar = nullptr;
    QTimer *m_lyricsTimer = nullptr;

    PlaylistModel *m_playlist = nullptr;
    TrackAdder *m_adder = nullptr;
    std::unique_ptr<PlaylistCommands> m_commands;
    std::unique_ptr<Sequencer> m_sequencer;
    std::unique_ptr<VideoWindowPresenter> m_videoWindow;
    VideoPresenter *m_video = nullptr;
    QString m_lyricsFile;
    int m_spectrumTick = 0;
    LyricsLines m_lastLyrics {};
    bool m_lastLyricsValid = false;

    QMenu *m_pop = nullptr;
    QAction *m_repeatSet = nullptr;
};

} // namespace kes
