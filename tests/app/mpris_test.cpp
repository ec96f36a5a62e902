// The media controls on a private session bus (run under dbus-run-session): a client on
// its own connection drives the main window (scripted decoder) as its buttons would and
// hears of every change through PropertiesChanged.
#include "externalfiles.h"
#include "mprisbridge.h"
#include "mprisservice.h"
#include "windowtest.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QTest>

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

const QString kPlayer = u"org.mpris.MediaPlayer2.Player"_s;
const QString kProperties = u"org.freedesktop.DBus.Properties"_s;
const QString kService = QString::fromLatin1(MprisService::kServiceName);
const QString kPath = QString::fromLatin1(MprisService::kObjectPath);

// Calls through the bus without blocking the thread the service lives on (a blocking
// call, or QDBusInterface's introspection, would wait for this very thread).
QDBusMessage call(QDBusConnection &bus, const QString &iface, const QString &method, const QVariantList &args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, iface, method);
    m.setArguments(args);
    QDBusPendingCall pending = bus.asyncCall(m);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 5000)) << method.toStdString();
    return pending.reply();
}

QVariant property(QDBusConnection &bus, const char *name)
{
    const QDBusMessage reply = call(bus, kProperties, u"Get"_s, { kPlayer, QString::fromLatin1(name) });
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QString titleOf(const QVariant &metadata)
{
    QVariantMap map; // metadata arrives as a D-Bus map: unpack it
    metadata.value<QDBusArgument>() >> map;
    return map.value(u"xesam:title"_s).toString();
}

} // namespace

using Mpris = WindowTest;

TEST_F(Mpris, ClientDrivesTheWindowAndHearsOfChanges)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus: run under dbus-run-session";
    auto window = start();
    for (const QString &title : { u"春の小川"_s, u"紅葉"_s })
        window->playlist()->addRow({ .title = title, .artist = u"A"_s, .fullPath = u"/m/%1.mp3"_s.arg(title) });
    ExternalFiles external(*window);
    MprisBridge bridge(*window, FakeDecoder::api(), external);
    MprisService service(bridge);
    ASSERT_TRUE(service.registerOn(QDBusConnection::sessionBus()));
    bridge.watch(service);
    EXPECT_FALSE(MprisService(bridge).registerOn(QDBusConnection(u"none"_s))); // no bus: no service

    QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"client"_s);
    ASSERT_TRUE(client.isConnected());
    ChangeLog log;
    ASSERT_TRUE(client.connect(
        kService, kPath, kProperties, u"PropertiesChanged"_s, &log, SLOT(changed(QString, QVariantMap, QStringList))));
    EXPECT_EQ(property(client, "PlaybackStatus").toString(), u"Stopped"_s);

    // Each command, what the window shows after it, and what the bus says.
    const struct {
        QString method;
        int decoderState, trackNo;
        QString status, title;
    } steps[] = {
        { u"PlayPause"_s, 1, 1, u"Playing"_s, u"春の小川"_s }, // "再生": sequencing picks the first checked row
        { u"Next"_s, 1, 2, u"Playing"_s, u"紅葉"_s },
        { u"PlayPause"_s, 2, 2, u"Paused"_s, u"紅葉"_s },
        { u"Play"_s, 1, 2, u"Playing"_s, u"紅葉"_s },
        { u"Previous"_s, 1, 1, u"Playing"_s, u"春の小川"_s },
        { u"Stop"_s, 0, 1, u"Stopped"_s, u"春の小川"_s },
    };
    for (const auto &s : steps) {
        log.changes.clear();
        ASSERT_EQ(call(client, kPlayer, s.method).type(), QDBusMessage::ReplyMessage) << s.method.toStdString();
        EXPECT_EQ(fake.state, s.decoderState) << s.method.toStdString();
        EXPECT_EQ(playback().CurrentTrackNo, s.trackNo) << s.method.toStdString();
        EXPECT_EQ(property(client, "PlaybackStatus").toString(), s.status) << s.method.toStdString();
        EXPECT_EQ(titleOf(property(client, "Metadata")), s.title) << s.method.toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !log.changes.isEmpty(); }, 2000)) << s.method.toStdString();
    }

    // The window's own button is heard of too, and the volume goes through the slider.
    log.changes.clear();
    window->Toolbar_ButtonClick(u"再生"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.changes.isEmpty(); }, 2000));
    EXPECT_EQ(log.changes.last().value(u"PlaybackStatus"_s).toString(), u"Playing"_s);
    call(client, kProperties, u"Set"_s, { kPlayer, u"Volume"_s, QVariant::fromValue(QDBusVariant(0.25)) });
    EXPECT_EQ(child<QSlider>(*window, u"Slider1"_s)->value(), 16384);
    EXPECT_EQ(fake.volume, (16384u << 16) | 16384u);
    EXPECT_NEAR(property(client, "Volume").toDouble(), 0.25, 1e-4);
}

#include "mpris_test.moc"
