#include "decodercallback.h"

#include "vbmp3.h"

namespace kes
{

CallbackFlags &callbackFlags()
{
    static CallbackFlags flags;
    return flags;
}

void DecoderCallback(int32_t message, int32_t /*param*/)
{
    CallbackFlags &f = callbackFlags();
    if (!f.CallbackActive.load())
        return;
    if (message == VBMP3_MSG_END_OF_TRACK)
        f.TrackEnded.store(true);
    else if (message == VBMP3_MSG_OUTPUT_FAILED)
        f.OutputFailed.store(true);
}

} // namespace kes
