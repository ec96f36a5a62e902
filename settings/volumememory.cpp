#include "volumememory.h"

#include "settings.h"

namespace kes
{

namespace
{

const QString kSection = QStringLiteral("その他設定");
const QString kKey = QStringLiteral("VOLUME");
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
}

std::optional<uint32_t> VolumeMemory::stored() const
{
    bool ok = false;
    const uint value = ReadIni(kSection, kKey, QString(), m_iniPath).trimmed().toUInt(&ok);
    if (!ok || value > 0xFFFF)
        return std::nullopt;
    return (value << 16) | value;
}

void VolumeMemory::remember(uint32_t word)
{
    // The slider sets both channels alike; the right one stands for both.
    m_pending = static_cast<uint16_t>(word >> 16);
    m_timer.start();
}

bool VolumeMemory::flush()
{
    m_timer.stop();
    if (!m_pending)
        return true;
    const uint16_t value = *m_pending;
    m_pending.reset();
    if (stored() == ((uint32_t(value) << 16) | value))
        return true;
    return WriteIni(kSection, kKey, QString::number(value), m_iniPath);
}

} // namespace kes
