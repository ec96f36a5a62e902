#include "playbackstate.h"

#include "vbmp3.h"

namespace kes
{

PlaybackState &playback()
{
    static PlaybackState state;
    return state;
}

void DecoderCallback(int32_t message, int32_t /*param*/)
{
    PlaybackState &p = playback();
    if (!p.CallbackActive.load())
        return;
    if (message == VBMP3_MSG_END_OF_TRACK)
        p.TrackEnded.store(true);
    else if (message == VBMP3_MSG_OUTPUT_FAILED)
        p.OutputFailed.store(true);
}

} // namespace kes
