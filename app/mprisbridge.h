// The desktop's media controls (MPRIS) bound to the main window: each command is the
// toolbar button that does the same ("再生", "一時", "停止", "次曲", "前曲", "終了"), or the
// video window's button while that window plays; the volume goes through the volume
// slider's procedure, a seek through the seek bar's, repeat and shuffle through clicks on
// `Label15` and `Label5`; what plays is read from the playlist row of the current track,
// its cover from the window's cover search.  A command waits while a message box is up
// (boxgate.h).  GUI thread only; the window, its playback
// variables, the external-files handler and the service outlive the bridge's use.
#pragma once

#include "decoderapi.h"
#include "mediacontrol.h"
#include "playbackstate.h"

#include <QObject>

namespace kes
{

class ExternalFiles;
class MainWindow;
class MprisService;
class VideoWindow;

class MprisBridge : public QObject, public MediaControl
{
    Q_OBJECT
public:
    // state: the window's playback variables, read for the current track.
    MprisBridge(MainWindow &window, const PlaybackState &state, const DecoderApi &api, ExternalFiles &external,
        QObject *parent = nullptr);

    // Keeps service told of changes made elsewhere (the window's own buttons, the end of
    // a track or of the playlist, the slider): the controller's signals and the slider.
    void watch(MprisService &service);

    void play() override;
    void pause() override;
    void playPause() override;
    void stop() override;
    void next() override;
    void previous() override;
    void raise() override;
    void quit() override;
    void openFile(const QString &path) override;
    void enqueueFiles(const QStringList &paths) override;

    Status status() const override;
    Track track() const override;
    double volume() const override;
    void setVolume(double volume) override;
    qint64 positionUs() const override;
    bool seek(qint64 offsetUs) override;
    bool setPosition(qint64 positionUs) override;
    bool repeat() const override;
    bool setRepeat(bool on) override;
    bool shuffle() const override;
    bool setShuffle(bool on) override;

private:
    void press(const char *key);
    // The video window while it is open, else nullptr.
    VideoWindow *openVideo() const;

    MainWindow &m_window;
    const PlaybackState &m_state;
    DecoderApi m_api;
    ExternalFiles &m_external;
};

} // namespace kes
