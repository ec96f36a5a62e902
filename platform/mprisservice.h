// The player on the session bus as org.mpris.MediaPlayer2.kestrine (MPRIS 2.2): the
// root and Player interfaces at /org/mpris/MediaPlayer2, driven through a MediaControl.
// Beside them, on the same object, kQueueInterface, the player's own:
//   Enqueue(as files)  each a file: URI or an absolute path (others are passed over): the
//                      files are added by the rules of a drop and their rows put at the
//                      end of the play queue, as `kestrine --enqueue` does; nothing starts.
// (MPRIS's TrackList interface, whose AddTrack would do the same, is not offered.)
// Without a session bus the player simply runs without it.  GUI thread only; the control
// must outlive the service.
#pragma once

#include "mediacontrol.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

namespace kes
{

class MprisService : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kServiceName = "org.mpris.MediaPlayer2.kestrine";
    static constexpr const char *kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *kQueueInterface = "io.github.kestrine.Queue";

    explicit MprisService(MediaControl &control, QObject *parent = nullptr);
    ~MprisService() override;

    // Registers the object and takes the service name; false (with nothing registered)
    // when the bus does not answer or the name is taken.
    bool registerOn(const QDBusConnection &bus);
    bool isRegistered() const { return m_registered; }

    // Reads status, track, volume, repeat and shuffle again and tells the bus
    // (PropertiesChanged) about those that differ from what it last told.  Call after
    // anything that may change them.
    void refresh();
    // The position jumped (a seek, by the bus or by the player's own controls): tells the
    // bus the new one (the Seeked signal).  Whoever watches the player calls it for every
    // seek, those asked for over the bus included.
    void seeked();

    MediaControl &control() const { return m_control; }
    // The bus it is registered on.
    const QDBusConnection &bus() const { return m_bus; }
    // SupportedMimeTypes: the types the player takes (empty until set).
    void setMimeTypes(const QStringList &types) { m_mimeTypes = types; }
    const QStringList &mimeTypes() const { return m_mimeTypes; }
    // The MPRIS texts and maps of the control's current values.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    QString loopStatus() const;
    // The track id of the metadata ("/org/mpris/MediaPlayer2/TrackList/NoTrack" for none).
    QString trackId() const;

private:
    void propertiesChanged(const QVariantMap &changed);

    MediaControl &m_control;
    QStringList m_mimeTypes;
    QDBusConnection m_bus;
    bool m_registered = false;
    // What the bus was told last.
    QString m_status;
    MediaControl::Track m_track;
    double m_volume = -1;
    bool m_repeat = false;
    bool m_shuffle = false;
    QObject *m_player = nullptr; // the Player interface's adaptor
};

} // namespace kes
