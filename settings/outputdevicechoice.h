// The output device chosen in the options window (the record's OutputDevice: an id of the
// decoder library's device list, empty for the default), handed to the decoder library,
// and the list to choose from, asked of the library off the GUI thread (asking the sound
// server may take a second).
#pragma once

#include "decoderapi.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

namespace kes
{

struct OutputDeviceEntry {
    QString id; // "pulse:SINK" or "alsa:PCM"
    QString description;
    bool operator==(const OutputDeviceEntry &) const = default;
};

// Hands id to the decoder library; false when the library has no choice of device or
// refuses the id (then the default is used).
bool applyOutputDevice(const DecoderApi &api, const QString &id);
// The id last handed to applyOutputDevice in this run (empty: none, or the default);
// GUI thread only, as both are.
QString appliedOutputDevice();

// The library's list text (an id, a tab, a description, a newline per device) as entries;
// lines without a tab or an id are skipped.
QList<OutputDeviceEntry> parseOutputDevices(const QByteArray &text);

// Asks the library for its devices on the run's device pool (settingsrun.h, which waits
// for it at the end of the run) and calls done with them on the application's (GUI)
// thread, unless receiver is gone by then.  An empty list when the library has
// no list.
void listOutputDevices(
    const DecoderApi &api, QObject *receiver, std::function<void(const QList<OutputDeviceEntry> &)> done);

} // namespace kes
