// The ReplayGain choice, kept in the settings record (ReplayGainMode, ReplayGainPreamp,
// ReplayGainDefault, ReplayGainPreventClip) and handed to the decoder library at start-up
// and on the options window's OK.
#pragma once

#include "decoderapi.h"
#include "settings.h"

namespace kes
{

// Hands the choice of s to the decoder library; false when the library has no ReplayGain
// or refuses the values.
bool applyReplayGain(const DecoderApi &api, const Settings &s);

} // namespace kes
