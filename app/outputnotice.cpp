#include "outputnotice.h"

#include <QMessageBox>

#include <algorithm>

namespace kes
{

namespace
{

constexpr int kWatchMs = 3000;
constexpr int kServerWatchMs = 1000;

} // namespace

OutputNotice::OutputNotice(const DecoderApi &api, QWidget *window, int pollMs, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_window(window)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(pollMs);
    connect(&m_timer, &QTimer::timeout, this, &OutputNotice::check);
    m_serverWatch.setInterval(std::min(kServerWatchMs, std::max(1, pollMs) * 4));
    connect(&m_serverWatch, &QTimer::timeout, this, &OutputNotice::watchServer);
}

QString OutputNotice::lostText()
{
    return QStringLiteral("サウンドサーバーとの接続が切れたため、この曲の残りは音を出さずに再生しています。");
}

QString OutputNotice::text()
{
    return QStringLiteral(
        "サウンドサーバーにも ALSA の既定のデバイスにも接続できないため、音を出さずに再生しています。");
}

QString OutputNotice::deviceGoneText(const QString &id)
{
    return QStringLiteral("出力デバイス %1 が見つからないため、既定のデバイスで再生しています。").arg(id);
}

void OutputNotice::setChosenDevice(const QString &id)
{
    if (id != m_chosenDevice)
        m_deviceTold = false; // a new choice may go away in its turn
    m_chosenDevice = id;
}

void OutputNotice::trackStarted()
{
    m_serverWatch.stop();
    const bool deviceToCheck = !m_chosenDevice.isEmpty() && !m_deviceTold;
    if (m_told && m_toldLost && !deviceToCheck)
        return;
    m_polls = std::max(1, kWatchMs / std::max(1, m_timer.interval()));
    m_timer.start();
}

void OutputNotice::check()
{
    char name[16] = {};
    if (m_api.getOutputName(name, sizeof name) <= 0) {
        if (--m_polls > 0)
            m_timer.start(); // not open yet
        return;
    }
    if (qstrcmp(name, "null") == 0) {
        if (!m_told) {
            m_told = true;
            show(QStringLiteral("outputNotice"), text());
        }
        return;
    }
    if (qstrcmp(name, "pulse") == 0 && !m_toldLost)
        m_serverWatch.start();
    // A device plays, but not the chosen one: that one did not open.
    const bool device = qstrcmp(name, "pulse") == 0 || qstrcmp(name, "alsa") == 0;
    char open[2] = {};
    if (device && !m_chosenDevice.isEmpty() && !m_deviceTold && m_api.getOutputDevice(open, sizeof open) == 0) {
        m_deviceTold = true;
        show(QStringLiteral("outputDeviceNotice"), deviceGoneText(m_chosenDevice));
    }
}

void OutputNotice::watchServer()
{
    char name[16] = {};
    if (m_toldLost || m_api.getState(nullptr) == VBMP3_STOPPED || m_api.getOutputName(name, sizeof name) <= 0) {
        m_serverWatch.stop();
        return;
    }
    if (qstrcmp(name, "null") != 0)
        return;
    m_serverWatch.stop();
    m_toldLost = true;
    show(QStringLiteral("outputNotice"), lostText());
}

void OutputNotice::show(const QString &objectName, const QString &text)
{
    qInfo("kestrine: %s", qUtf8Printable(text));
    // Not modal: playback goes on while the note stands.
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("kestrine"), text, QMessageBox::Ok, m_window);
    box->setObjectName(objectName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    emit shown();
}

} // namespace kes
