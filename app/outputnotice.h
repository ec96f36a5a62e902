// Tells the user, once per run, that tracks play in silence because no sound server
// answered and the decoder library fell back to its null output.  The library opens its
// output on its own thread shortly after a track starts (within its one-second connect
// limit), so after each start the output is looked at every pollMs until one is open,
// for at most three seconds, until the notice has been given once.  GUI thread only.
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

    static QString text();

signals:
    void shown();

private:
    void check();

    DecoderApi m_api;
    QPointer<QWidget> m_window;
    QTimer m_timer;
    int m_polls = 0; // left for the current start
    bool m_told = false;
};

} // namespace kes
