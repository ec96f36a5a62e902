// Tells the user, once per run each, that tracks play in silence because neither a sound
// server nor ALSA's default device answered and the decoder library fell back to its null
// output, and that the output device chosen in the options has gone away and the default
// plays instead.  The library opens its output on its own thread shortly after a track
// starts (within its one-second connect limit per device), so after each start the output
// is looked at every pollMs until one is open, for at most three seconds, until the
// notices have been given.
//
// Once a track plays through the sound server, the output is looked at once a second
// while the decoder plays: when the server goes away the library plays on in silence
// (its null output stands in for the rest of the track) and this says so, once per run;
// the next track connects anew.  GUI thread only.
#pragma once

#include "decoderapi.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace kes
{

class OutputNotice : public QObject
{
    Q_OBJECT
public:
    // The message box is a non-modal child of window.
    OutputNotice(const DecoderApi &api, QWidget *window, int pollMs = 250, QObject *parent = nullptr);

    // A track has started playing in the decoder.
    void trackStarted();
    bool told() const { return m_told; }
    // The device chosen in the options (empty: the default); the next start checks it.
    void setChosenDevice(const QString &id);

    static QString text();
    static QString deviceGoneText(const QString &id);
    bool toldLost() const { return m_toldLost; }
    static QString lostText();

signals:
    void shown();

private:
    void check();
    void watchServer();
    void show(const QString &objectName, const QString &text);

    DecoderApi m_api;
    QPointer<QWidget> m_window;
    QTimer m_timer;
    int m_polls = 0; // left for the current start
    bool m_told = false;
    QString m_chosenDevice;
    bool m_deviceTold = false;
    QTimer m_serverWatch; // while a track plays through the sound server
    bool m_toldLost = false;
};

} // namespace kes
