#include "decodercallback.h"

#include "vbmp3.h"

namespace kes
{

CallbackFlags &callbackFlags()
{
    static CallbackFlags flags;
    return flags;
}

void DecoderCallback(int32_t message, int32_t param)
{
    CallbackFlags &f = callbackFlags();
    if (!f.CallbackActive.load())
        return;
    switch (message) {
    case VBMP3_MSG_END_OF_TRACK:
        f.TrackEnded.store(true);
        break;
    case VBMP3_MSG_OUTPUT_FAILED:
        f.OutputFailed.store(true);
        break;
    case VBMP3_MSG_TRACK_JOINED:
        f.TrackJoined.store(true);
        break;
    case VBMP3_MSG_VOLUME_CHANGED:
        f.MixerVolume.store(static_cast<uint32_t>(param));
        f.VolumeChanged.store(true);
        break;
    default:
        break;
    }
}

} // namespace kes
