#include "mprisbridge.h"

#include "boxgate.h"
#include "externalfiles.h"
#include "filename.h"
#include "mainwindow.h"
#include "mprisservice.h"
#include "playlistmodel.h"
#include "vbmp3volume.h"
#include "waveoutvolume.h"

#include <QSlider>

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
}

void MprisBridge::press(const char *key)
{
    m_window.Toolbar_ButtonClick(QString::fromUtf8(key));
}

void MprisBridge::play()
{
    runWhenNoBox(this, [this] {
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
        if (status() == Status::Playing)
            press("一時");
    });
}

void MprisBridge::playPause()
{
    runWhenNoBox(this, [this] {
        if (status() == Status::Stopped)
            press("再生");
        else
            press("一時");
    });
}

void MprisBridge::stop()
{
    runWhenNoBox(this, [this] { press("停止"); });
}

void MprisBridge::next()
{
    runWhenNoBox(this, [this] { press("次曲"); });
}

void MprisBridge::previous()
{
    runWhenNoBox(this, [this] { press("前曲"); });
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

MediaControl::Status MprisBridge::status() const
{
    switch (m_api.getState ? m_api.getState(nullptr) : VBMP3_STOPPED) {
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
    if (m_state.CurrentFile.isEmpty() || list.fullPath(m_state.CurrentTrackNo) != m_state.CurrentFile)
        return t; // nothing chosen yet, or the row is gone
    t.row = m_state.CurrentTrackNo;
    t.path = m_state.CurrentFile;
    t.title = list.title(t.row).isEmpty() ? FileNameOf(t.path) : list.title(t.row);
    t.artist = list.artist(t.row);
    t.album = list.album(t.row);
    const PlaybackController::NowPlaying &now = m_window.controller()->nowPlaying();
    if (now.path == t.path)
        t.lengthUs = qint64(now.totalSeconds) * 1000000;
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
    const int value = static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 0xFFFF));
    if (auto *slider = m_window.findChild<QSlider *>(QStringLiteral("Slider1")))
        slider->setValue(value);
    m_window.slider1Change(value);
}

qint64 MprisBridge::positionUs() const
{
    int32_t elapsed = 0;
    if (!m_api.getState || m_api.getState(&elapsed) == VBMP3_STOPPED)
        return 0;
    return qint64(elapsed) * 1000000;
}

} // namespace kes
