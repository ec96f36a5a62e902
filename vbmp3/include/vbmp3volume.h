/*
 * The output volume word of vbmp3_setOutputVolume as the gains the library applies, for
 * callers whose own sound follows the same volume.  Header only; nothing here is
 * exported by the library.
 */
#ifndef VBMP3VOLUME_H
#define VBMP3VOLUME_H

#include <stdint.h>

typedef struct {
    float left;
    float right;
} Vbmp3VolumeGains;

/* The gains (0 to 1) of a sound with the given channel count: each channel its half of
 * the word (low 16 bits left, high 16 bits right, 0xFFFF full), or for one channel the
 * mean of the two halves on both. */
static inline Vbmp3VolumeGains vbmp3VolumeGains(uint32_t word, int channels)
{
    Vbmp3VolumeGains g;
    g.left = (float)(word & 0xFFFFu) / 65535.0f;
    g.right = (float)(word >> 16) / 65535.0f;
    if (channels == 1)
        g.left = g.right = 0.5f * (g.left + g.right);
    return g;
}

#endif
