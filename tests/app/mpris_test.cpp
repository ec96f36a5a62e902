// The media controls on a private session bus (run under dbus-run-session): a client on
// its own connection drives the main window (scripted decoder) as its buttons would and
// hears of every change through PropertiesChanged.
#include "externalfiles.h"
#include "fakedecoder.h"
#include "mainwindow.h"
#include "mprisbridge.h"
#include "mprisservice.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

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

const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Calls through the bus without blocking the thread the service lives on (a blocking
// call, or QDBusInterface's introspection, would wait for this very thread).
QDBusMessage call(QDBusConnection &bus, const QString &iface, const QString &method, const QVariantList &args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(
        QString::fromLatin1(MprisService::kServiceName), QString::fromLatin1(MprisService::kObjectPath), iface, method);
    m.setArguments(args);
    QDBusPendingCall pending = bus.asyncCall(m);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 5000)) << method.toStdString();
    return pending.reply();
}

QVariant property(QDBusConnection &bus, const char *name)
{
    const QDBusMessage reply = call(bus, kProperties, QStringLiteral("Get"), { kPlayer, QString::fromLatin1(name) });
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QString titleOf(const QVariant &metadata)
{
    // Metadata arrives as a D-Bus map: unpack it.
    QVariantMap map;
    metadata.value<QDBusArgument>() >> map;
    return map.value(QStringLiteral("xesam:title")).toString();
}

} // namespace

TEST(Mpris, ClientDrivesTheWindowAndHearsOfChanges)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: run under dbus-run-session";
    FakeDecoder::instance().reset();
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    const MainWindow::Context ctx { FakeDecoder::api(), &prompter, dir.filePath(QStringLiteral("kestrine.ini")),
        dir.path() };
    MainWindow window(ctx);
    ASSERT_TRUE(window.formLoad());
    for (const char *title : { "春の小川", "紅葉" }) {
        TrackRow row;
        row.fullPath = QStringLiteral("/m/%1.mp3").arg(QString::fromUtf8(title));
        row.title = QString::fromUtf8(title);
        row.artist = QStringLiteral("A");
        window.playlist()->addRow(row);
    }
    ExternalFiles external(window);
    MprisBridge bridge(window, ctx.api, external);
    MprisService service(bridge);
    ASSERT_TRUE(service.registerOn(QDBusConnection::sessionBus()));
    bridge.watch(service);
    EXPECT_FALSE(MprisService(bridge).registerOn(QDBusConnection(QStringLiteral("none")))); // no bus: no service

    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    ASSERT_TRUE(client.isConnected());
    ChangeLog log;
    ASSERT_TRUE(client.connect(QString::fromLatin1(MprisService::kServiceName),
        QString::fromLatin1(MprisService::kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), &log, SLOT(changed(QString, QVariantMap, QStringList))));
    EXPECT_EQ(property(client, "PlaybackStatus").toString(), QStringLiteral("Stopped"));

    // Each command, what the window shows after it, and what the bus says.
    const struct {
        const char *method;
        int decoderState;
        int trackNo;
        const char *status;
        const char *title;
    } steps[] = {
        { "PlayPause", 1, 1, "Playing", "春の小川" }, // "再生": sequencing picks the first checked row
        { "Next", 1, 2, "Playing", "紅葉" },
        { "PlayPause", 2, 2, "Paused", "紅葉" },
        { "Play", 1, 2, "Playing", "紅葉" },
        { "Previous", 1, 1, "Playing", "春の小川" },
        { "Stop", 0, 1, "Stopped", "春の小川" },
    };
    for (const auto &s : steps) {
        log.changes.clear();
        ASSERT_EQ(call(client, kPlayer, QString::fromLatin1(s.method)).type(), QDBusMessage::ReplyMessage) << s.method;
        EXPECT_EQ(FakeDecoder::instance().state, s.decoderState) << s.method;
        EXPECT_EQ(playback().CurrentTrackNo, s.trackNo) << s.method;
        EXPECT_EQ(property(client, "PlaybackStatus").toString(), QString::fromLatin1(s.status)) << s.method;
        EXPECT_EQ(titleOf(property(client, "Metadata")), QString::fromUtf8(s.title)) << s.method;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !log.changes.isEmpty(); }, 2000)) << s.method;
    }

    // The window's own button is heard of too, and the volume goes through the slider.
    log.changes.clear();
    window.Toolbar_ButtonClick(QStringLiteral("再生"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.changes.isEmpty(); }, 2000));
    EXPECT_EQ(log.changes.last().value(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
    call(client, kProperties, QStringLiteral("Set"),
        { kPlayer, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(0.25)) });
    EXPECT_EQ(window.findChild<QSlider *>(QStringLiteral("Slider1"))->value(), 16384);
    EXPECT_EQ(FakeDecoder::instance().volume, (16384u << 16) | 16384u);
    EXPECT_NEAR(property(client, "Volume").toDouble(), 0.25, 1e-4);
}

#include "mpris_test.moc"
