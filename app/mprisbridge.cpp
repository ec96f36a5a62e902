#include "mprisbridge.h"

#include "boxgate.h"
#include "coverart.h"
#include "cuetrack.h"
#include "externalfiles.h"
#include "filename.h"
#include "mainwindow.h"
#include "mprisservice.h"
#include "pathbytes.h"
#include "playlistmodel.h"
#include "trackreader.h"
#include "vbmp3volume.h"
#include "videowindow.h"
#include "videowindowpresenter.h"
#include "waveoutvolume.h"

#include <QLabel>
#include <QSlider>
#include <QUrl>

#include <cmath>

namespace kes
{

MprisBridge::MprisBridge(
    MainWindow &window, const PlaybackState &state, const DecoderApi &api, ExternalFiles &external, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_state(state)
    , m_api(api)
    , m_external(external)
{
}

void MprisBridge::watch(MprisService &service)
{
    PlaybackController &playback = *m_window.controller();
    connect(&playback, &PlaybackController::trackStarted, &service, &MprisService::refresh);
    connect(&playback, &PlaybackController::totalsCounted, &service, &MprisService::refresh);
    connect(&playback, &PlaybackController::stateChanged, &service, &MprisService::refresh);
    // A row may get its tags after it started playing.
    connect(m_window.playlist(), &QAbstractItemModel::dataChanged, &service, &MprisService::refresh);
    if (auto *slider = m_window.findChild<QSlider *>(QStringLiteral("Slider1")))
        connect(slider, &QSlider::valueChanged, &service, &MprisService::refresh);
    connect(&m_window, &MainWindow::modeChanged, &service, &MprisService::refresh);
    connect(&m_window, &MainWindow::seeked, &service, &MprisService::seeked);
    connect(m_window.coverArt(), &CoverArt::found, &service, &MprisService::refresh);
    connect(m_window.videoPresenter(), &VideoWindowPresenter::stateChanged, &service, &MprisService::refresh);
}

VideoWindow *MprisBridge::openVideo() const
{
    VideoWindow *video = m_window.videoPresenter() ? m_window.videoPresenter()->window() : nullptr;
    return video && video->isVisible() ? video : nullptr;
}

void MprisBridge::press(const char *key)
{
    m_window.Toolbar_ButtonClick(QString::fromUtf8(key));
}

void MprisBridge::play()
{
    runWhenNoBox(this, [this] {
        if (VideoWindow *video = openVideo()) {
            if (video->PlayerState() != u"play")
                video->Toolbar1_ButtonClick(QStringLiteral("play"));
            return;
        }
        switch (status()) {
        case Status::Paused:
            press("一時");
            break;
        case Status::Stopped:
            press("再生");
            break;
        case Status::Playing:
            break;
        }
    });
}

void MprisBridge::pause()
{
    runWhenNoBox(this, [this] {
        if (VideoWindow *video = openVideo())
            return video->Toolbar1_ButtonClick(QStringLiteral("pause"));
        if (status() == Status::Playing)
            press("一時");
    });
}

void MprisBridge::playPause()
{
    runWhenNoBox(this, [this] {
        if (VideoWindow *video = openVideo())
            return video->Toolbar1_ButtonClick(
                video->PlayerState() == u"play" ? QStringLiteral("pause") : QStringLiteral("play"));
        if (status() == Status::Stopped)
            press("再生");
        else
            press("一時");
    });
}

void MprisBridge::stop()
{
    runWhenNoBox(this, [this] {
        if (VideoWindow *video = openVideo())
            return video->Toolbar1_ButtonClick(QStringLiteral("stop"));
        press("停止");
    });
}

void MprisBridge::next()
{
    runWhenNoBox(this, [this] {
        if (VideoWindow *video = openVideo())
            return video->Toolbar1_ButtonClick(QStringLiteral("next"));
        press("次曲");
    });
}

void MprisBridge::previous()
{
    runWhenNoBox(this, [this] {
        if (VideoWindow *video = openVideo())
            return video->Toolbar1_ButtonClick(QStringLiteral("back"));
        press("前曲");
    });
}

void MprisBridge::raise()
{
    m_external.raiseWindow();
}

void MprisBridge::quit()
{
    runWhenNoBox(this, [this] { press("終了"); });
}

void MprisBridge::openFile(const QString &path)
{
    runWhenNoBox(this, [this, path] { m_external.open({ path }); });
}

void MprisBridge::enqueueFiles(const QStringList &paths)
{
    runWhenNoBox(this, [this, paths] { m_external.enqueue(paths); });
}

MediaControl::Status MprisBridge::status() const
{
    if (const VideoWindow *video = openVideo()) {
        return video->PlayerState() == u"play" ? Status::Playing
            : video->PlayerState() == u"pause" ? Status::Paused
                                               : Status::Stopped;
    }
    switch (m_api.getState(nullptr)) {
    case VBMP3_PLAYING:
        return Status::Playing;
    case VBMP3_PAUSED:
        return Status::Paused;
    default:
        return Status::Stopped;
    }
}

MediaControl::Track MprisBridge::track() const
{
    const PlaylistModel &list = *m_window.playlist();
    Track t;
    // The video window goes down the playlist by itself: its file is the current one.
    const VideoWindow *video = openVideo();
    // The source's encoded URL keeps a name's bytes that are not UTF-8.
    const QString path = video ? pathFromFileUrl(video->mediaPlayer()->source()) : m_state.CurrentFile;
    if (path.isEmpty() || list.fullPath(m_state.CurrentTrackNo) != path)
        return t; // nothing chosen yet, or the row is gone
    t.row = t.trackNumber = m_state.CurrentTrackNo;
    // A cue track is its image's range: the image is its file, the sheet's its number.
    t.path = fileOfPath(path);
    if (const std::optional<CueTrackRef> track = cueTrackOf(path))
        t.trackNumber = track->number;
    // What the file says, not the list's stand-ins: without a title, the file's name.
    TagTexts texts = tagTextsOf(list.row(t.row));
    t.title = texts.title.isEmpty() ? displayPath(FileNameOf(t.path)) : std::move(texts.title);
    t.artist = std::move(texts.artist);
    t.album = std::move(texts.album);
    const PlaybackController::NowPlaying &now = m_window.controller()->nowPlaying();
    if (video)
        t.lengthUs = video->mediaPlayer()->duration() * 1000;
    else if (now.path == path)
        t.lengthUs = qint64(now.totalSeconds) * 1000000;
    const CoverArt::Cover &cover = m_window.coverArt()->current();
    if (cover.trackPath == path && !cover.file.isEmpty())
        t.artUrl = QString::fromLatin1(fileUrlOfPath(cover.file));
    return t;
}

double MprisBridge::volume() const
{
    uint32_t word = 0;
    if (!waveOutGetVolume(m_api, &word))
        return 1.0;
    return vbmp3VolumeGains(word, 2).right; // the slider follows the right channel
}

void MprisBridge::setVolume(double volume)
{
    if (std::isnan(volume))
        return; // no volume at all
    const int value = static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 0xFFFF));
    if (auto *slider = m_window.findChild<QSlider *>(QStringLiteral("Slider1")))
        slider->setValue(value);
    m_window.slider1Change(value);
}

qint64 MprisBridge::positionUs() const
{
    if (const VideoWindow *video = openVideo())
        return video->mediaPlayer()->position() * 1000;
    int32_t elapsed = 0;
    if (m_api.getState(&elapsed) == VBMP3_STOPPED)
        return 0;
    // What has been heard, to the millisecond.
    return qint64(m_api.getPositionMs()) * 1000;
}

// The setters below answer at once, so they are refused, not held back, while a box is up.
bool MprisBridge::seek(qint64 offsetUs)
{
    if (boxIsUp() || openVideo() || status() == Status::Stopped)
        return false;
    const qint64 position = positionUs();
    const qint64 length = qint64(m_window.controller()->nowPlaying().totalSeconds) * 1000000;
    // Both within [0, length]: an offset of any size is compared without overflow.
    if (offsetUs > length - position) { // past the end: the next track
        press("次曲");
        return false;
    }
    return m_window.seekTo(static_cast<int>(std::max<qint64>(0, position + offsetUs) / 1000000));
}

bool MprisBridge::setPosition(qint64 positionUs)
{
    const qint64 length = qint64(m_window.controller()->nowPlaying().totalSeconds) * 1000000;
    if (boxIsUp() || openVideo() || positionUs < 0 || positionUs > length)
        return false;
    return m_window.seekTo(static_cast<int>(positionUs / 1000000));
}

bool MprisBridge::repeat() const
{
    return m_window.repeatOn();
}

bool MprisBridge::setRepeat(bool on)
{
    // As a click on the label; a greyed one takes none.
    const auto *label15 = m_window.findChild<QLabel *>(QStringLiteral("Label15"));
    if (on == repeat())
        return true;
    if (boxIsUp() || !label15 || !label15->isEnabled())
        return false;
    m_window.Label15_Click();
    return true;
}

bool MprisBridge::shuffle() const
{
    return m_window.playMode() == u"Random";
}

bool MprisBridge::setShuffle(bool on)
{
    if (boxIsUp())
        return on == shuffle();
    if (on != shuffle())
        m_window.label5Click();
    return true;
}

} // namespace kes
