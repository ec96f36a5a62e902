// The output volume kept between runs, as the system kept the wave-out volume on the
// classic platform.  It lives in the settings file as the record's VOLUME (the slider's
// value, 0..65535, both channels alike), a key saved apart from the record; writing it
// leaves every other key's bytes as they were.  The writes go through SettingsSaver: the
// GUI thread never waits for one, except at the end of the run.  GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>

namespace kes
{

class VolumeMemory : public QObject
{
    Q_OBJECT
public:
    explicit VolumeMemory(const QString &iniPath, QObject *parent = nullptr);
    // Writes a change still waiting, and waits (up to a limit) until the settings file
    // holds it: the end of a run.
    ~VolumeMemory() override;

    // The volume word (low 16 bits left, high 16 bits right) stored by an earlier run.
    std::optional<uint32_t> stored() const;
    // Notes a new volume word; the file is written once the volume has stayed put for
    // a moment, so a dragged slider costs one write.
    void remember(uint32_t word);
    // Hands a noted change to the settings file's writer now, and returns at once.
    void flush();

private:
    QString m_iniPath;
    QTimer m_timer;
    std::optional<uint16_t> m_pending;
    mutable std::optional<uint16_t> m_handedOver; // the value last read or handed to the writer
};

} // namespace kes
