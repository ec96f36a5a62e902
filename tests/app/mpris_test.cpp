// The media controls on a private session bus, driven by a client as its buttons would, hearing every change.
#include "coverart.h"
#include "externalfiles.h"
#include "mediatypes.h"
#include "mprisbridge.h"
#include "mprisservice.h"
#include "pathbytes.h"
#include "trackreader.h"
#include "windowtest.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDialog>
#include <QMessageBox>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <limits>

using namespace kes;

namespace
{

// The client's view of PropertiesChanged.
class ChangeLog : public QObject
{
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public slots:
    void changed(const QString &, const QVariantMap &properties, const QStringList &) { changes << properties; }
};

// The client's view of Seeked.
class SeekLog : public QObject
{
    Q_OBJECT
public:
    QList<qlonglong> positions;
public slots:
    void seeked(qlonglong position) { positions << position; }
};

const QString kPlayer = u"org.mpris.MediaPlayer2.Player"_s;
const QString kProperties = u"org.freedesktop.DBus.Properties"_s;
const QString kService = QString::fromLatin1(MprisService::kServiceName);
const QString kPath = QString::fromLatin1(MprisService::kObjectPath);

// Calls through the bus without blocking the service's own thread.
QDBusMessage call(QDBusConnection &bus, const QString &iface, const QString &method, const QVariantList &args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, iface, method);
    m.setArguments(args);
    QDBusPendingCall pending = bus.asyncCall(m);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 5000)) << method.toStdString();
    return pending.reply();
}

QVariant property(QDBusConnection &bus, const char *name, const QString &iface = kPlayer)
{
    const QDBusMessage reply = call(bus, kProperties, u"Get"_s, { iface, QString::fromLatin1(name) });
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QString titleOf(const QVariant &metadata)
{
    QVariantMap map; // metadata arrives as a D-Bus map: unpack it
    metadata.value<QDBusArgument>() >> map;
    return map.value(u"xesam:title"_s).toString();
}

// The bridge, its service and a client on its own named connection over a started window.
struct Controls {
    MainWindow &window;
    QString clientName;
    ExternalFiles external { window };
    MprisBridge bridge { window, window.playbackState(), FakeDecoder::api(), external };
    MprisService service { bridge };
    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, clientName);
    // Puts the service on the session bus, watching the window.
    bool onBus() { return service.registerOn(QDBusConnection::sessionBus()) && (bridge.watch(service), true); }
};

} // namespace

using Mpris = WindowTest;

TEST_F(Mpris, ClientDrivesTheWindowAndHearsOfChanges)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: run under dbus-run-session";
    auto window = start();
    for (const QString &title : { u"春の小川"_s, u"紅葉"_s })
        window->playlist()->addRow({ .title = title, .artist = u"A"_s, .fullPath = u"/m/%1.mp3"_s.arg(title) });
    Controls controls { *window, u"client"_s };
    ASSERT_TRUE(controls.onBus() && controls.client.isConnected());
    EXPECT_FALSE(MprisService(controls.bridge).registerOn(QDBusConnection(u"none"_s))); // no bus: no service
    QDBusConnection &client = controls.client;
    ChangeLog log;
    ASSERT_TRUE(client.connect(
        kService, kPath, kProperties, u"PropertiesChanged"_s, &log, SLOT(changed(QString, QVariantMap, QStringList))));
    EXPECT_EQ(property(client, "PlaybackStatus").toString(), u"Stopped"_s);

    // Each command, what the window shows after it, and what the bus says.
    for (auto [method, state, trackNo, status, title] :
        { std::tuple { "PlayPause", 1, 1, "Playing", "春の小川" }, // "再生": sequencing picks the first checked row
            { "Next", 1, 2, "Playing", "紅葉" }, { "PlayPause", 2, 2, "Paused", "紅葉" },
            { "Play", 1, 2, "Playing", "紅葉" }, { "Previous", 1, 1, "Playing", "春の小川" },
            { "Stop", 0, 1, "Stopped", "春の小川" } }) {
        log.changes.clear();
        ASSERT_EQ(call(client, kPlayer, QString::fromLatin1(method)).type(), QDBusMessage::ReplyMessage) << method;
        EXPECT_TRUE(waitForOpen(*window->controller())) << method;
        EXPECT_EQ(fake.state, state) << method;
        EXPECT_EQ(window->playbackState().CurrentTrackNo, trackNo) << method;
        EXPECT_EQ(property(client, "PlaybackStatus").toString(), QString::fromLatin1(status)) << method;
        EXPECT_EQ(titleOf(property(client, "Metadata")), QString::fromUtf8(title)) << method;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !log.changes.isEmpty(); }, 2000)) << method;
    }

    // The window's own button is heard of too, and the volume goes through the slider.
    log.changes.clear();
    window->Toolbar_ButtonClick(u"再生"_s);
    EXPECT_TRUE(waitForOpen(*window->controller()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.changes.isEmpty(); }, 2000));
    EXPECT_EQ(log.changes.last().value(u"PlaybackStatus"_s).toString(), u"Playing"_s);
    call(client, kProperties, u"Set"_s, { kPlayer, u"Volume"_s, QVariant::fromValue(QDBusVariant(0.25)) });
    EXPECT_EQ(child<QSlider>(*window, u"Slider1"_s)->value(), 16384);
    EXPECT_EQ(fake.volume, (16384u << 16) | 16384u);
    EXPECT_NEAR(property(client, "Volume").toDouble(), 0.25, 1e-4);
}

// OpenUri takes a file by the rules of a drop; the service reports the MIME types it was given.
TEST_F(Mpris, OpenUriTakesWhatADropTakes)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: run under dbus-run-session";
    auto window = start();
    Controls controls { *window, u"client"_s };
    controls.service.setMimeTypes(supportedMimeTypes());
    ASSERT_TRUE(controls.onBus() && controls.client.isConnected());
    QDBusConnection &client = controls.client;
    EXPECT_EQ(property(client, "SupportedMimeTypes", u"org.mpris.MediaPlayer2"_s).toStringList(), supportedMimeTypes());

    QSignalSpy done(&controls.external, &ExternalFiles::done);
    const auto openUri = [&](const QString &path) {
        const qsizetype before = done.count();
        call(client, kPlayer, u"OpenUri"_s, { QUrl::fromLocalFile(path).toString() });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.count() > before; }, 5000)) << path.toStdString();
        EXPECT_TRUE(waitForOpen(*window->controller()));
        return QString::fromStdString(fake.openedPath);
    };
    const QString flac = touch(u"曲.flac"_s), opus = touch(u"b.OPUS"_s), mixed = touch(u"c.Flac"_s);
    EXPECT_EQ(openUri(flac), flac);
    EXPECT_EQ(openUri(opus), opus);
    EXPECT_EQ(openUri(mixed), opus); // not a spelling the player takes: nothing plays
    EXPECT_EQ(window->playlist()->count(), 2);
}

// Enqueue, the player's own method, queues files by URI or path, in the order named, and plays nothing.
TEST_F(Mpris, EnqueueQueuesFilesWithoutPlaying)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: run under dbus-run-session";
    auto window = start();
    const QString listed = touch(u"listed.flac"_s), a = touch(u"曲 a.flac"_s), b = touch(u"b.opus"_s);
    window->playlist()->addRow({ .title = u"L"_s, .fullPath = listed });
    Controls controls { *window, u"client"_s };
    ASSERT_TRUE(controls.onBus() && controls.client.isConnected());
    QSignalSpy done(&controls.external, &ExternalFiles::done);
    const QStringList files { QUrl::fromLocalFile(b).toString(), a, u"http://127.0.0.1/x.mp3"_s, u"relative.flac"_s,
        listed };
    ASSERT_EQ(call(controls.client, QString::fromLatin1(MprisService::kQueueInterface), u"Enqueue"_s, { files }).type(),
        QDBusMessage::ReplyMessage);
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.count() == 1; }, 5000));
    PlaylistModel &model = *window->playlist();
    QStringList queued;
    for (int row : model.queuedRows())
        queued << model.fullPath(row);
    EXPECT_EQ(queued, (QStringList { b, a, listed }));
    EXPECT_EQ(std::tuple(fake.state, fake.openedPath), std::tuple(0, std::string()));
}

namespace
{

// playerctl, a real client, run without blocking the thread the service lives on.
QString playerctl(const QStringList &args, int *status = nullptr)
{
    QProcess p;
    p.start(u"playerctl"_s, QStringList { u"--player=kestrine"_s } + args);
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 10000))
        << args.join(u' ').toStdString();
    if (status)
        *status = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

// playerctl seeks, reads position, cover and number, sets repeat and shuffle; a client hears Seeked.
TEST_F(Mpris, PlayerctlSeeksReadsPositionArtLoopAndShuffle)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: run under dbus-run-session";
    if (QStandardPaths::findExecutable(u"playerctl"_s).isEmpty())
        GTEST_SKIP() << "playerctl is not installed";
    const QString cache = dir.filePath(u"cache"_s);
    auto window = start(nullptr, cache);
    const QByteArray png = pngBytes(Qt::yellow);
    fake.pictures["/m/1.mp3"] = { "image/png", png.toStdString() };
    addRows(*window, { u"/m/1.mp3"_s, u"/m/2.mp3"_s });
    Controls controls { *window, u"seeked client"_s };
    ASSERT_TRUE(controls.onBus() && controls.client.isConnected());
    SeekLog seeks;
    ASSERT_TRUE(controls.client.connect(kService, kPath, kPlayer, u"Seeked"_s, &seeks, SLOT(seeked(qlonglong))));

    EXPECT_EQ(playerctl({ u"status"_s }), u"Stopped"_s);
    fake.openInfo.totalSeconds = 200;
    QSignalSpy covers(window->coverArt(), &CoverArt::found);
    window->Toolbar_ButtonClick(u"再生"_s);
    EXPECT_TRUE(waitForOpen(*window->controller()));
    ASSERT_TRUE(covers.wait(5000));
    fake.elapsed = 10;
    fake.elapsedMs = 10250;
    EXPECT_NEAR(playerctl({ u"position"_s }).toDouble(), 10.25, 0.01) << "heard to the millisecond";
    fake.elapsedMs = -1; // from now on the position follows the seeks
    playerctl({ u"position"_s, u"5+"_s });
    playerctl({ u"position"_s, u"42"_s });
    playerctl({ u"position"_s, u"500"_s }); // beyond the track: nothing
    EXPECT_EQ(fake.seeks, (std::vector<int32_t> { 15, 42 }));
    EXPECT_EQ(child<QScrollBar>(*window, u"seekbar"_s)->value(), 42);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seeks.positions.size() >= 2; }, 2000));
    QTest::qWait(50); // no more come
    EXPECT_EQ(seeks.positions, (QList<qlonglong> { 15000000, 42000000 }));

    const QString art = playerctl({ u"metadata"_s, u"mpris:artUrl"_s });
    EXPECT_TRUE(art.startsWith(u"file://"_s + cache)) << art.toStdString();
    EXPECT_EQ(readBytes(QUrl(art).toLocalFile()), png);
    EXPECT_EQ(playerctl({ u"metadata"_s, u"xesam:trackNumber"_s }), u"1"_s);
    playerctl({ u"position"_s, u"190+"_s }); // past the end: the next track
    EXPECT_EQ(window->playbackState().CurrentTrackNo, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return covers.size() >= 2; }, 5000));
    int status = 0;
    EXPECT_EQ(playerctl({ u"metadata"_s, u"mpris:artUrl"_s }, &status), QString()) << "track 2 has no cover";
    EXPECT_EQ(playerctl({ u"metadata"_s, u"xesam:trackNumber"_s }), u"2"_s);

    // Repeat and shuffle: set as the labels are clicked; a greyed repeat label takes nothing.
    EXPECT_EQ(playerctl({ u"loop"_s }), u"Playlist"_s);
    playerctl({ u"loop"_s, u"None"_s });
    EXPECT_FALSE(window->repeatOn());
    EXPECT_EQ(child<QLabel>(*window, u"Label15"_s)->text(), u"Repeat-off"_s);
    window->Label15_Click(); // on again by the label
    EXPECT_EQ(playerctl({ u"loop"_s }), u"Playlist"_s);
    child<QAction>(*window, u"repeat_set"_s)->trigger(); // off, and the label greyed
    playerctl({ u"loop"_s, u"Playlist"_s });
    EXPECT_EQ(playerctl({ u"loop"_s }), u"None"_s);
    EXPECT_EQ(playerctl({ u"shuffle"_s }), u"Off"_s);
    playerctl({ u"shuffle"_s, u"On"_s });
    EXPECT_EQ(window->playMode(), u"Random"_s);
    EXPECT_EQ(window->playbackState().CurrentTrackNo, 1) << "as a click on the label";
    window->label5Click();
    EXPECT_EQ(playerctl({ u"shuffle"_s }), u"Off"_s);
}

// Outside commands wait while a message box is up and run in order after; own modal windows hold nothing.
TEST_F(Mpris, CommandsWaitForAnOpenMessageBox)
{
    auto window = start();
    for (const QString &name : { u"a"_s, u"b"_s, u"c"_s })
        window->playlist()->addRow({ .title = name, .fullPath = u"/m/%1.mp3"_s.arg(name) });
    const QString dropped = touch(u"d.wav"_s);
    Controls controls { *window, u"client"_s };
    MprisBridge &bridge = controls.bridge;
    const int trackNo = window->playbackState().CurrentTrackNo;
    {
        QMessageBox box;
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        ASSERT_EQ(QApplication::activeModalWidget(), &box);
        bridge.playPause();
        bridge.next();
        bridge.openFile(dropped);
        QTest::qWait(200);
        EXPECT_EQ(std::pair(fake.state, window->playbackState().CurrentTrackNo), std::pair(0, trackNo));
        EXPECT_EQ(window->playlist()->count(), 3);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->playlist()->count() == 4; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->playbackState().CurrentFile == dropped; }, 5000));
    EXPECT_TRUE(waitForOpen(*window->controller()));
    EXPECT_EQ(fake.state, 1);
    QDialog own;
    own.setObjectName(u"frmOpt1"_s);
    own.setWindowModality(Qt::ApplicationModal);
    own.show();
    bridge.stop();
    EXPECT_EQ(fake.state, 0) << "the options window holds no command back";
}

// While a message box is up every call is answered: reads at once, commands after the box has closed.
TEST_F(Mpris, CallsAnswerWhileABoxIsUp)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: run under dbus-run-session";
    auto window = start();
    addRows(*window, { u"/m/a.mp3"_s, u"/m/b.mp3"_s });
    Controls controls { *window, u"box client"_s };
    ASSERT_TRUE(controls.onBus() && controls.client.isConnected());
    QDBusConnection &client = controls.client;
    fake.openResult = 0;
    QDBusPendingCall play = client.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kPlayer, u"Play"_s));
    QStringList answered;
    bool shown = false;
    prompter.whileShown = [&] {
        if (std::exchange(shown, true))
            return;
        QMessageBox box;
        box.setWindowModality(Qt::ApplicationModal);
        QTimer::singleShot(0, &box, [&] {
            if (QTest::qWaitFor([&] { return play.isFinished(); }, 3000))
                answered << u"Play"_s;
            for (const char *name : { "PlaybackStatus", "Position", "Metadata" }) {
                QDBusPendingCall get
                    = client.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kProperties, u"Get"_s)
                        << kPlayer << QString::fromLatin1(name));
                if (QTest::qWaitFor([&] { return get.isFinished(); }, 3000) && !get.isError())
                    answered << QString::fromLatin1(name);
            }
            QDBusPendingCall next
                = client.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kPlayer, u"Next"_s));
            if (QTest::qWaitFor([&] { return next.isFinished(); }, 3000))
                answered << u"Next"_s;
            EXPECT_EQ(window->playbackState().CurrentTrackNo, 1) << "Next waits for the box";
            box.done(0);
        });
        box.exec();
    };
    // The box comes up once the open, off the GUI thread, has failed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown && play.isFinished(); }, 10000));
    EXPECT_EQ(answered.join(u' ').toStdString(), "Play PlaybackStatus Position Metadata Next");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->playbackState().CurrentTrackNo == 2; }, 5000));
}

// An untagged track reaches the bus titled by its file name as the list shows it, no stand-ins.
TEST_F(Mpris, TrackTextsAndEdgeValues)
{
    auto window = start();
    PlaylistModel &list = *window->playlist();
    TrackRow tagged = *provisionalTrackRow(u"/m/t.mp3"_s);
    std::tie(tagged.title, tagged.artist, tagged.tagsPending) = std::tuple(u"T"_s, u"A"_s, false);
    for (const TrackRow &row :
        { *provisionalTrackRow(u"/m/untagged.mp3"_s), tagged, *provisionalTrackRow(pathFromBytes("/m/caf\xe9.wav")) })
        list.addRow(row);
    Controls controls { *window, u"client"_s };
    MprisBridge &bridge = controls.bridge;
    const MprisService &service = controls.service;
    for (auto [row, title, artist] : { std::tuple { 1, "untagged.mp3", "" }, { 2, "T", "A" }, { 3, "café.wav", "" } }) {
        window->controller()->playRow(row, list.fullPath(row));
        EXPECT_TRUE(waitForOpen(*window->controller()));
        const MediaControl::Track t = bridge.track();
        EXPECT_EQ(t.title, QString::fromUtf8(title)) << row;
        EXPECT_EQ(t.artist, QString::fromUtf8(artist)) << row;
        EXPECT_EQ(service.metadata().contains(u"xesam:artist"_s), *artist != 0) << row;
    }
    // A volume that is no number is ignored; a seek to the 64-bit edge is past the end or before the start.
    fake.openInfo.totalSeconds = 100;
    fake.elapsed = 50;
    window->controller()->playRow(1, list.fullPath(1));
    EXPECT_TRUE(waitForOpen(*window->controller()));
    const int volume = child<QSlider>(*window, u"Slider1"_s)->value();
    bridge.setVolume(std::nan(""));
    EXPECT_EQ(child<QSlider>(*window, u"Slider1"_s)->value(), volume);
    bridge.seek(std::numeric_limits<qint64>::min());
    EXPECT_EQ(fake.seeks, std::vector<int32_t> { 0 });
    bridge.seek(std::numeric_limits<qint64>::max());
    EXPECT_EQ(window->playbackState().CurrentTrackNo, 2);
}

#include "mpris_test.moc"
