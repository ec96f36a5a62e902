#include "mprisservice.h"

#include "pathbytes.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

#include <algorithm>

namespace kes
{

namespace
{

constexpr const char *kPlayerInterface = "org.mpris.MediaPlayer2.Player";

// Answers a method call before its command runs: the command may show a message box, and
// the box's nested event loop would hold the answer until the box is closed (the caller's
// call times out meanwhile).  What the command then changes is told by PropertiesChanged.
void answerFirst(const MprisService &service, const QDBusMessage &call)
{
    call.setDelayedReply(true);
    service.bus().send(call.createReply());
}

// org.mpris.MediaPlayer2: the application as a whole.
class MprisRoot : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool Fullscreen READ no)
    Q_PROPERTY(bool CanSetFullscreen READ no)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ identity)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    MprisRoot(MprisService *service)
        : QDBusAbstractAdaptor(service)
        , m_service(service)
    {
    }
    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("kestrine"); }
    QStringList uriSchemes() const { return { QStringLiteral("file") }; }
    QStringList mimeTypes() const { return m_service->mimeTypes(); }

public slots:
    void Raise(const QDBusMessage &call)
    {
        answerFirst(*m_service, call);
        m_service->control().raise();
    }
    void Quit(const QDBusMessage &call)
    {
        answerFirst(*m_service, call);
        m_service->control().quit();
    }

private:
    MprisService *m_service;
};

// org.mpris.MediaPlayer2.Player: the transport, what plays, volume and position.
class MprisPlayer : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ yes)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ yes)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
    Q_PROPERTY(bool CanControl READ yes)
public:
    MprisPlayer(MprisService *service)
        : QDBusAbstractAdaptor(service)
        , m_service(service)
    {
    }
    QString playbackStatus() const { return m_service->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) { } // one speed only
    QVariantMap metadata() const { return m_service->metadata(); }
    double volume() const { return m_service->control().volume(); }
    void setVolume(double v)
    {
        m_service->control().setVolume(std::clamp(v, 0.0, 1.0));
        m_service->refresh();
    }
    qlonglong position() const { return m_service->control().positionUs(); }
    bool yes() const { return true; }
    bool no() const { return false; }
    QString loopStatus() const { return m_service->loopStatus(); }
    // "Track" (repeat one track) is no mode of the player: the nearest is repeat.
    void setLoopStatus(const QString &status)
    {
        if (status == u"None" || status == u"Track" || status == u"Playlist") {
            m_service->control().setRepeat(status != u"None");
            m_service->refresh();
        }
    }
    bool shuffle() const { return m_service->control().shuffle(); }
    void setShuffle(bool on)
    {
        m_service->control().setShuffle(on);
        m_service->refresh();
    }

public slots:
    void Play(const QDBusMessage &call) { run(call, &MediaControl::play); }
    void Pause(const QDBusMessage &call) { run(call, &MediaControl::pause); }
    void PlayPause(const QDBusMessage &call) { run(call, &MediaControl::playPause); }
    void Stop(const QDBusMessage &call) { run(call, &MediaControl::stop); }
    void Next(const QDBusMessage &call) { run(call, &MediaControl::next); }
    void Previous(const QDBusMessage &call) { run(call, &MediaControl::previous); }
    // Seeked follows from the control's own news of the jump (see seeked()).
    void Seek(qlonglong offset, const QDBusMessage &call)
    {
        answerFirst(*m_service, call);
        m_service->control().seek(offset);
        m_service->refresh();
    }
    // Only for the track that plays: a position meant for another one is stale.
    void SetPosition(const QDBusObjectPath &track, qlonglong position, const QDBusMessage &call)
    {
        answerFirst(*m_service, call);
        if (track.path() == m_service->trackId())
            m_service->control().setPosition(position);
    }
    void OpenUri(const QString &uri, const QDBusMessage &call)
    {
        answerFirst(*m_service, call);
        const QString path = pathFromFileUrl(QByteArrayView(uri.toUtf8()));
        if (!path.isEmpty())
            m_service->control().openFile(path);
    }

signals:
    void Seeked(qlonglong position);

private:
    void run(const QDBusMessage &call, void (MediaControl::*command)())
    {
        answerFirst(*m_service, call);
        (m_service->control().*command)();
        m_service->refresh();
    }

    MprisService *m_service;
};

// The player's own interface beside MPRIS (the header names its method).
class KestrineQueue : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.kestrine.Queue")
public:
    KestrineQueue(MprisService *service)
        : QDBusAbstractAdaptor(service)
        , m_service(service)
    {
    }

public slots:
    void Enqueue(const QStringList &files, const QDBusMessage &call)
    {
        answerFirst(*m_service, call);
        QStringList paths;
        for (const QString &file : files) {
            const QString path = file.startsWith(u'/') ? file : pathFromFileUrl(QByteArrayView(file.toUtf8()));
            if (!path.isEmpty())
                paths << path;
        }
        if (!paths.isEmpty())
            m_service->control().enqueueFiles(paths);
    }

private:
    MprisService *m_service;
};

} // namespace

MprisService::MprisService(MediaControl &control, QObject *parent)
    : QObject(parent)
    , m_control(control)
    , m_bus(QString())
{
    new MprisRoot(this);
    m_player = new MprisPlayer(this);
    new KestrineQueue(this);
}

MprisService::~MprisService()
{
    if (m_registered) {
        m_bus.unregisterService(QString::fromLatin1(kServiceName));
        m_bus.unregisterObject(QString::fromLatin1(kObjectPath));
    }
}

bool MprisService::registerOn(const QDBusConnection &bus)
{
    if (m_registered || !bus.isConnected())
        return m_registered;
    m_bus = bus;
    if (!m_bus.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    if (!m_bus.registerService(QString::fromLatin1(kServiceName))) {
        m_bus.unregisterObject(QString::fromLatin1(kObjectPath));
        return false;
    }
    m_registered = true;
    m_status = playbackStatus();
    m_track = m_control.track();
    m_volume = m_control.volume();
    m_repeat = m_control.repeat();
    m_shuffle = m_control.shuffle();
    return true;
}

QString MprisService::playbackStatus() const
{
    switch (m_control.status()) {
    case MediaControl::Status::Playing:
        return QStringLiteral("Playing");
    case MediaControl::Status::Paused:
        return QStringLiteral("Paused");
    case MediaControl::Status::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QString MprisService::loopStatus() const
{
    return m_control.repeat() ? QStringLiteral("Playlist") : QStringLiteral("None");
}

namespace
{

QString trackIdOf(const MediaControl::Track &t)
{
    if (t.row <= 0)
        return QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
    // The row and a hash of the path: a new id when a row holds another file.
    return QStringLiteral("/io/github/kestrine/track/%1_%2").arg(t.row).arg(qHash(t.path), 0, 16);
}

} // namespace

QString MprisService::trackId() const
{
    return trackIdOf(m_control.track());
}

QVariantMap MprisService::metadata() const
{
    const MediaControl::Track t = m_control.track();
    if (t.row <= 0)
        return { { QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackIdOf(t))) } };
    QVariantMap m;
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackIdOf(t))));
    if (t.lengthUs > 0)
        m.insert(QStringLiteral("mpris:length"), QVariant::fromValue<qlonglong>(t.lengthUs));
    m.insert(QStringLiteral("xesam:title"), t.title);
    if (!t.artist.isEmpty())
        m.insert(QStringLiteral("xesam:artist"), QStringList { t.artist });
    if (!t.album.isEmpty())
        m.insert(QStringLiteral("xesam:album"), t.album);
    m.insert(QStringLiteral("xesam:url"), QString::fromLatin1(fileUrlOfPath(t.path)));
    if (t.trackNumber > 0)
        m.insert(QStringLiteral("xesam:trackNumber"), t.trackNumber);
    if (!t.artUrl.isEmpty())
        m.insert(QStringLiteral("mpris:artUrl"), t.artUrl);
    return m;
}

void MprisService::refresh()
{
    if (!m_registered)
        return;
    QVariantMap changed;
    const QString status = playbackStatus();
    if (status != m_status)
        changed.insert(QStringLiteral("PlaybackStatus"), m_status = status);
    const MediaControl::Track track = m_control.track();
    if (!(track == m_track)) {
        m_track = track;
        changed.insert(QStringLiteral("Metadata"), metadata());
    }
    const double volume = m_control.volume();
    if (volume != m_volume)
        changed.insert(QStringLiteral("Volume"), m_volume = volume);
    if (const bool repeat = m_control.repeat(); repeat != m_repeat) {
        m_repeat = repeat;
        changed.insert(QStringLiteral("LoopStatus"), loopStatus());
    }
    if (const bool shuffle = m_control.shuffle(); shuffle != m_shuffle)
        changed.insert(QStringLiteral("Shuffle"), m_shuffle = shuffle);
    if (!changed.isEmpty())
        propertiesChanged(changed);
}

void MprisService::seeked()
{
    if (m_registered)
        emit static_cast<MprisPlayer *>(m_player)->Seeked(m_control.positionUs());
}

void MprisService::propertiesChanged(const QVariantMap &changed)
{
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    m_bus.send(signal);
}

} // namespace kes

#include "mprisservice.moc"
