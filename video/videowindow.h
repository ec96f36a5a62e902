// The video window `Frm_Mpeg`: plays VideoFile with Qt Multimedia, offers four
// display sizes and the transport buttons, follows the playlist by itself while the next
// rows are videos, and hands the first other row back through VideoFile/VideoHandBack.
// The player minimises the main window while it is open and restores it on unloaded().
// GUI thread only: the media player decodes on its own threads and reports through
// queued signals.
#pragma once

#include "decoderapi.h"
#include "playbackstate.h"
#include "prompter.h"
#include "twips.h"
#include "videosequence.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <QVideoWidget>
#include <QWidget>

namespace kes
{

class VideoWindow : public QWidget
{
    Q_OBJECT
public:
    struct Context {
        TrackList *rows = nullptr; // the playlist
        PlaybackState *state = nullptr; // the main window's playback variables
        Sequencer *sequencer = nullptr; // the main window's, over rows and CurrentTrackNo
        DecoderApi api; // for the wave-out volume
        Prompter *prompter = nullptr;
    };

    explicit VideoWindow(const Context &context, QWidget *parent = nullptr);
    ~VideoWindow() override;

    // Load: starts VideoFile in a fresh window state and shows the window.  Runs at each
    // opening, and again when a new video is handed over while the window is open.
    void formLoad();
    void ApplySizeMode(int mode);
    // Window size from the player control's size: width 3500 twips below 3200, else the
    // control's width + 200; height the control's + 1000.
    void FitWindow();
    void Resize_Timer_Timer();
    void Toolbar1_ButtonClick(const QString &key);
    void MediaPlayer_EndOfStream();
    void MediaPlayer_Error();
    void VideoNext();
    void VideoBack();

    // "play", "pause" or "stop": the last transport command.
    const QString &PlayerState() const { return m_playerState; }
    const QString &NextPath() const { return m_nextPath; }
    QMediaPlayer *mediaPlayer() const { return m_player; }
    QVideoWidget *videoWidget() const { return m_video; }
    QAudioOutput *audioOutput() const { return m_audio; }
    // Window size in twips, counting the frame as the main window does.
    int windowWidthTwips() const { return windowTwipsOfClient(size()).width(); }
    int windowHeightTwips() const { return windowTwipsOfClient(size()).height(); }
    // The player control's size in twips as the size mode gives it (the full screen's
    // size in mode 3).
    QSize controlSizeTwips() const;

signals:
    // The window closed (by the user, by itself or at shutdown); VideoHandBack and
    // VideoFile tell whether a track was handed back.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildToolbar();
    // MediaPlayer.FileName := path: the file starts playing.
    void setFileName(const QString &path);
    void follow(const VideoStep &step, bool applySize);
    void handBack(const QString &path);
    void applyVolume();
    void checkStalls();
    void onMediaStatus(QMediaPlayer::MediaStatus status);

    Context m_ctx;
    VideoSequence m_sequence;
    QToolBar *m_toolbar = nullptr;
    QVideoWidget *m_video = nullptr;
    QMediaPlayer *m_player = nullptr;
    QAudioOutput *m_audio = nullptr;
    QTimer *m_resizeTimer = nullptr;
    QString m_playerState;
    QString m_nextPath;
    // One report per file: the media player repeats an error, and a file that failed also
    // never reaches its end, so the first error moves on instead.
    bool m_reported = false;
    // The files that failed since a file last played (showed a picture or reached its
    // end).  Coming back to one of them means that every row played in the round failed:
    // the round ends there instead of failing again for ever.
    QStringList m_failed;
    bool m_loaded = false;
    // What Resize_Timer watches of the file that plays (see checkStalls).
    qint64 m_lastPosition = -1;
    int m_stillTicks = 0; // ticks the position stood still at the end
    int m_blindTicks = 0; // ticks the position advanced without a picture
    int m_frames = 0; // pictures that reached the window
    bool m_reopened = false;
};

} // namespace kes
