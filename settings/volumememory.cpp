#include "volumememory.h"

#include "exitwatchdog.h"
#include "settings.h"
#include "settingsrun.h"
#include "settingssaver.h"

namespace kes
{

namespace
{

constexpr int kSettleMs = 400;

} // namespace

VolumeMemory::VolumeMemory(const QString &iniPath, QObject *parent)
    : QObject(parent)
    , m_iniPath(iniPath)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kSettleMs);
    connect(&m_timer, &QTimer::timeout, this, &VolumeMemory::flush);
}

VolumeMemory::~VolumeMemory()
{
    flush();
    if (SettingsRun *run = SettingsRun::current())
        run->saver().flush(kQuitLimit);
}

std::optional<uint32_t> VolumeMemory::stored() const
{
    Settings s;
    LoadSettings(s, m_iniPath);
    if (s.VOLUME < 0)
        return std::nullopt;
    const auto value = static_cast<uint32_t>(s.VOLUME);
    m_handedOver = static_cast<uint16_t>(value); // a change to the same value writes nothing
    return (value << 16) | value;
}

void VolumeMemory::remember(uint32_t word)
{
    // The slider sets both channels alike; the right one stands for both.
    m_pending = static_cast<uint16_t>(word >> 16);
    m_timer.start();
}

void VolumeMemory::flush()
{
    m_timer.stop();
    if (!m_pending)
        return;
    const uint16_t value = *m_pending;
    m_pending.reset();
    // Compared with what stored() read or this run handed over, not read again: that
    // would be a read on the GUI thread.
    if (m_handedOver == value)
        return;
    m_handedOver = value;
    Settings s;
    s.VOLUME = value;
    SettingsSaver::instance().submit(m_iniPath, { settingEdit(s, settingKey("VOLUME")) });
}

} // namespace kes
