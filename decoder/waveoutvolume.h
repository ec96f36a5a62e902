// The wave-out volume of device 0, as the player's callers know it: one 32-bit word, low
// 16 bits the left channel, high 16 bits the right, 0xFFFF full.  On this system the
// device volume is the decoder library's output volume.  GUI thread only.
#pragma once

#include "decoderapi.h"

#include <cstdint>

namespace kes
{

// Reads the volume word into volume; returns false when no volume can be read.
inline bool waveOutGetVolume(const DecoderApi &api, uint32_t *volume)
{
    if (!volume)
        return false;
    *volume = api.getOutputVolume();
    return true;
}

// Sets both channels from the word; returns false when it was not taken.
inline bool waveOutSetVolume(const DecoderApi &api, uint32_t volume)
{
    return api.setOutputVolume(volume) != 0;
}

} // namespace kes
