#include "replaygainchoice.h"

namespace kes
{

bool applyReplayGain(const DecoderApi &api, const Settings &s)
{
    const ReplayGainOption option { s.ReplayGainMode, s.ReplayGainPreamp, s.ReplayGainDefault,
        s.ReplayGainPreventClip == 1 ? 1 : 0 };
    return api.setReplayGain(&option) == 1;
}

} // namespace kes
