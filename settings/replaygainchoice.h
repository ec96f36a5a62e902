// The ReplayGain choice: kept in the settings file under keys of its own (in その他設定:
// ReplayGainMode 0 off, 1 track, 2 album; ReplayGainPreamp and ReplayGainDefault in
// tenths of a dB, -150..150; ReplayGainPreventClip 0 or 1) and handed to the decoder
// library at start-up and on the options window's OK.
#pragma once

#include "decoderapi.h"
#include "settingssaver.h"

#include <QString>

#include <vector>

namespace kes
{

struct ReplayGainChoice {
    int mode = 0; // 0 off (the default: the sound as decoded), 1 track, 2 album
    int preampTenths = 0; // added to the gain a file states
    int defaultTenths = 0; // the gain of a file that states none
    bool preventClip = true; // the gain held so that the stated peak stays within full scale
    bool operator==(const ReplayGainChoice &) const = default;
};

// The stored choice; a key missing or out of range takes its default.
ReplayGainChoice storedReplayGain(const QString &iniPath);
// The keys whose stored value differs from choice, to hand to the settings saver (a file
// that never had a choice other than the defaults stays without the keys).
std::vector<IniEdit> replayGainEdits(const QString &iniPath, const ReplayGainChoice &choice);
// Hands choice to the decoder library; false when the library has no ReplayGain or
// refuses the values.
bool applyReplayGain(const DecoderApi &api, const ReplayGainChoice &choice);

} // namespace kes
