#include "videowindow.h"

#include "pathbytes.h"

#include "twips.h"
#include "vbmp3volume.h"
#include "videoicons.h"
#include "videopresenter.h"
#include "waveoutvolume.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QVideoSink>

namespace kes
{

namespace
{

// The player control's place and size before a video has told its own size.
const QRect kControlTwips(30, 420, 3585, 3375);
constexpr int kToolbarHeightTwips = 420;

const QString kPlay = QStringLiteral("play");
const QString kPause = QStringLiteral("pause");
const QString kStop = QStringLiteral("stop");

} // namespace

VideoWindow::VideoWindow(const Context &context, QWidget *parent)
    : QWidget(parent)
    , m_ctx(context)
    , m_sequence(*context.rows, *context.sequencer, context.state->CurrentTrackNo)
{
    setObjectName(QStringLiteral("Frm_Mpeg"));
    setWindowTitle(QStringLiteral("Media Player"));
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPointSizeF(14.25);
    setFont(f);
    resize(twipsToPx(3720), twipsToPx(3840));

    buildToolbar();

    m_video = new QVideoWidget(this);
    m_video->setObjectName(QStringLiteral("MediaPlayer"));
    m_video->setGeometry(
        twipsRect(kControlTwips.x(), kControlTwips.y(), kControlTwips.width(), kControlTwips.height()));
    m_video->installEventFilter(this);
    m_player = new QMediaPlayer(this);
    m_audio = new QAudioOutput(this);
    m_player->setAudioOutput(m_audio);
    m_player->setVideoOutput(m_video);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &VideoWindow::onMediaStatus);
    connect(m_video->videoSink(), &QVideoSink::videoFrameChanged, this, [this] {
        ++m_frames;
        m_failed.clear();
    });
    connect(m_player, &QMediaPlayer::errorOccurred, this, &VideoWindow::MediaPlayer_Error);

    m_resizeTimer = new QTimer(this);
    m_resizeTimer->setObjectName(QStringLiteral("Resize_Timer"));
    m_resizeTimer->setInterval(100);
    connect(m_resizeTimer, &QTimer::timeout, this, &VideoWindow::Resize_Timer_Timer);
}

VideoWindow::~VideoWindow()
{
    m_player->stop();
}

void VideoWindow::buildToolbar()
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    m_toolbar->setGeometry(twipsRect(0, 0, 3720, kToolbarHeightTwips));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setIconSize(QSize(14, 14));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // Tight buttons, so that all nine fit in the narrowest window (3500 twips).
    m_toolbar->setContentsMargins(0, 0, 0, 0);
    m_toolbar->layout()->setSpacing(0);
    struct Button {
        const char *key;
        int image; // 1-based index into the image list; 0 for the separator
        const char *tip;
    };
    static const Button buttons[] = { { "half", 1, "50%" }, { "normal", 2, "100%" }, { "dubble", 3, "200%" },
        { "Full", 4, "Full" }, { nullptr, 0, nullptr }, { "back", 5, "Back" }, { "play", 6, "play" },
        { "pause", 7, "pause" }, { "stop", 8, "stop" }, { "next", 9, "next" } };
    for (const Button &b : buttons) {
        if (!b.key) {
            m_toolbar->addSeparator();
            continue;
        }
        const QString key = QString::fromLatin1(b.key);
        QAction *a = m_toolbar->addAction(QIcon(videoIcon(QString::fromLatin1(kVideoImageKeys[b.image - 1]), 14)), {});
        a->setObjectName(key);
        a->setData(key);
        a->setToolTip(QString::fromLatin1(b.tip));
    }
    connect(m_toolbar, &QToolBar::actionTriggered, this,
        [this](QAction *action) { Toolbar1_ButtonClick(action->data().toString()); });
}

void VideoWindow::formLoad()
{
    PlaybackState &pb = *m_ctx.state;
    pb.VideoHandBack = false;
    m_loaded = true;
    m_failed.clear(); // a hand-over from the main window starts afresh
    setFileName(pb.VideoFile);
    m_playerState = kPlay;
    show();
    raise();
    ApplySizeMode(pb.VideoSizeMode);
    setWindowTitle(pb.VideoFile);
    FitWindow();
    applyVolume();
    m_resizeTimer->start();
}

void VideoWindow::setFileName(const QString &path)
{
    m_reported = false;
    m_stillTicks = 0;
    m_blindTicks = 0;
    m_frames = 0;
    m_reopened = false;
    m_lastPosition = -1;
    // Setting the same file again starts it again, as a new file does.
    m_player->setSource(QUrl());
    m_player->setSource(QUrl::fromEncoded(fileUrlOfPath(path)));
    m_player->play();
}

void VideoWindow::ApplySizeMode(int mode)
{
    m_ctx.state->VideoSizeMode = mode;
    if (mode == 3) {
        m_video->setFullScreen(true);
        return;
    }
    if (m_video->isFullScreen())
        m_video->setFullScreen(false);
    Resize_Timer_Timer();
}

QSize VideoWindow::controlSizeTwips() const
{
    return QSize(pxToTwips(m_video->width()), pxToTwips(m_video->height()));
}

void VideoWindow::FitWindow()
{
    const QSize control = controlSizeTwips();
    const int w = control.width() < 3200 ? 3500 : control.width() + 200;
    const int h = control.height() + 1000;
    resize(clientPxOfWindowTwips(w, h));
    m_toolbar->resize(width(), m_toolbar->height());
}

void VideoWindow::Resize_Timer_Timer()
{
    // The control takes the video's own size, scaled by the size mode, once the video
    // has told it; before that it keeps its design size.  Full screen sizes itself.
    if (!m_video->isFullScreen()) {
        QSize px(twipsToPx(kControlTwips.width()), twipsToPx(kControlTwips.height()));
        const QSize native = m_video->videoSink()->videoSize();
        if (native.isValid() && !native.isEmpty()) {
            const int mode = m_ctx.state->VideoSizeMode;
            px = mode == 0 ? native / 2 : mode == 2 ? native * 2 : native;
        }
        m_video->resize(px);
    }
    FitWindow();
    checkStalls();
    // One volume slider governs both players: the main window sets the wave-out volume,
    // the video's sound follows it here.
    applyVolume();
}

void VideoWindow::checkStalls()
{
    // Two glitches of the GStreamer back end in a real window: now and then no picture
    // reaches the window although the clock runs (seen with MPG, less often AVI), and an
    // MPEG program stream (whose clock starts late) then never reports its end.  A file whose clock ran a
    // second without a picture is opened once more; a file that stood still a second at
    // or past its length has ended.
    const qint64 position = m_player->position();
    const bool playing = m_player->playbackState() == QMediaPlayer::PlayingState;
    const bool advancing = playing && m_lastPosition >= 0 && position > m_lastPosition;
    const bool still
        = playing && m_player->duration() > 0 && position >= m_player->duration() && position == m_lastPosition;
    m_lastPosition = position;
    if (advancing && m_player->hasVideo() && m_frames == 0 && ++m_blindTicks == 10 && !m_reopened) {
        m_reopened = true;
        const QUrl source = m_player->source();
        m_player->setSource(QUrl());
        m_player->setSource(source);
        m_player->play();
        return;
    }
    m_stillTicks = still ? m_stillTicks + 1 : 0;
    if (m_stillTicks == 10 && m_loaded)
        MediaPlayer_EndOfStream();
}

void VideoWindow::applyVolume()
{
    uint32_t word = 0;
    if (!waveOutGetVolume(m_ctx.api, &word))
        return;
    const float volume = vbmp3VolumeGains(word, 1).left; // one player: the mean of the channels
    if (m_audio->volume() != volume)
        m_audio->setVolume(volume);
}

void VideoWindow::Toolbar1_ButtonClick(const QString &key)
{
    static const QStringList sizes { QStringLiteral("half"), QStringLiteral("normal"), QStringLiteral("dubble"),
        QStringLiteral("Full") };
    if (const qsizetype mode = sizes.indexOf(key); mode >= 0) {
        ApplySizeMode(static_cast<int>(mode));
    } else if (key == QLatin1String("back")) {
        VideoBack();
    } else if (key == kPlay) {
        m_playerState = kPlay;
        m_player->play();
    } else if (key == kPause) {
        if (m_playerState != kStop) {
            m_playerState = kPause;
            m_player->pause();
        }
    } else if (key == kStop) {
        m_playerState = kStop;
        m_player->stop();
    } else if (key == QLatin1String("next")) {
        VideoNext();
    }
}

void VideoWindow::onMediaStatus(QMediaPlayer::MediaStatus status)
{

    if (status == QMediaPlayer::EndOfMedia && m_loaded)
        MediaPlayer_EndOfStream();
}

void VideoWindow::MediaPlayer_EndOfStream()
{
    m_failed.clear();
    follow(m_sequence.endOfStream(), false);
}

void VideoWindow::MediaPlayer_Error()
{
    // A failing file reports more than one error, some only after the player let go of it
    // (they wait in the player's queue): report the first, ignore those that arrive while
    // no file is set.
    if (m_reported || !m_loaded || m_player->source().isEmpty())
        return;
    m_reported = true;
    m_failed << m_player->source().toLocalFile();
    m_ctx.prompter->messageOver(this, QStringLiteral("Error!! Unload Mediaplayer form"));
    // A file that cannot be played never ends: go on as at its end, so that the playlist
    // does not stop here.  The failed file is let go first and the next one set a turn of
    // the event loop later, after the late reports of the failed one.
    m_player->setSource(QUrl());
    QTimer::singleShot(0, this, [this] {
        if (!m_loaded || !m_player->source().isEmpty())
            return;
        const VideoStep step = m_sequence.endOfStream();
        if (step.kind == VideoStep::Kind::PlayHere && m_failed.contains(step.path)) {
            // Round and round through files that all fail: stop, as when nothing is left.
            m_failed.clear();
            handBack(QString());
            return;
        }
        follow(step, false);
    });
}

void VideoWindow::VideoNext()
{
    follow(m_sequence.next(), true);
}

void VideoWindow::VideoBack()
{
    m_playerState = kStop;
    m_player->stop();
    follow(m_sequence.back(), false);
}

void VideoWindow::follow(const VideoStep &step, bool applySize)
{
    switch (step.kind) {
    case VideoStep::Kind::Stay:
        return;
    case VideoStep::Kind::PlayHere:
        m_nextPath = step.path;
        setFileName(step.path);
        m_playerState = kPlay;
        setWindowTitle(step.path);
        if (applySize)
            ApplySizeMode(m_ctx.state->VideoSizeMode);
        return;
    case VideoStep::Kind::HandBack:
        m_nextPath = step.path;
        handBack(step.path);
        return;
    }
}

void VideoWindow::handBack(const QString &path)
{
    PlaybackState &pb = *m_ctx.state;
    pb.VideoHandBack = true;
    pb.VideoFile = path;
    close();
}

void VideoWindow::closeEvent(QCloseEvent *event)
{
    // Unload: the player lets go of the file; the main window comes back on unloaded().
    m_resizeTimer->stop();
    m_loaded = false;
    m_player->stop();
    m_player->setSource(QUrl());
    if (m_video->isFullScreen())
        m_video->setFullScreen(false);
    event->accept();
    emit unloaded();
}

bool VideoWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Escape or a double click leaves full screen for the 100% size.
    if (watched == m_video && m_video->isFullScreen()
        && ((event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            || event->type() == QEvent::MouseButtonDblClick)) {
        ApplySizeMode(1);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kes
