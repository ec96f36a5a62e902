#include "outputdevicechoice.h"

#include "settingsrun.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

namespace kes
{

namespace
{
QString g_applied; // GUI thread
}

bool applyOutputDevice(const DecoderApi &api, const QString &id)
{
    g_applied = id;
    return api.setOutputDevice(id.toUtf8().constData()) == 1;
}

QString appliedOutputDevice()
{
    return g_applied;
}

QList<OutputDeviceEntry> parseOutputDevices(const QByteArray &text)
{
    QList<OutputDeviceEntry> entries;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab <= 0)
            continue;
        entries.push_back({ QString::fromUtf8(line.left(tab)), QString::fromUtf8(line.mid(tab + 1)) });
    }
    return entries;
}

void listOutputDevices(
    const DecoderApi &api, QObject *receiver, std::function<void(const QList<OutputDeviceEntry> &)> done)
{
    SettingsRun *run = SettingsRun::current();
    if (!run)
        qFatal("kestrine: output devices listed outside a run (SettingsRun)");
    run->devicePool().start(
        [list = api.getOutputDevices, target = QPointer<QObject>(receiver), done = std::move(done)]() mutable {
            QByteArray text;
            if (list) {
                // The list may grow between the two calls: ask again until it fits.
                for (int32_t length = list(nullptr, 0); length > 0;) {
                    text.resize(length + 1);
                    const int32_t now = list(text.data(), length + 1);
                    if (now <= length) {
                        text.resize(now);
                        break;
                    }
                    length = now;
                }
            }
            const QList<OutputDeviceEntry> entries = parseOutputDevices(text);
            // Posted to the application, which outlives the receiver: the receiver itself
            // may go at any moment while this thread looks at it.
            if (QCoreApplication *app = QCoreApplication::instance())
                QMetaObject::invokeMethod(app, [target, done = std::move(done), entries] {
                    if (target)
                        done(entries);
                });
        });
}

} // namespace kes
