// MPEG audio frame headers (MPEG-1, 2, 2.5; Layers I, II, III) and the search for the
// first real frame of a stream.
#pragma once

#include "common/bytereader.h"

#include <cstdint>
#include <optional>

namespace vbmp3
{

struct MpegHeader {
    int version = 0; // 1, 2, or 25 for MPEG-2.5
    int layer = 0; // 1, 2, 3
    int bitrateKbps = 0; // 0 = free format
    int sampleRate = 0;
    int mode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int modeExtension = 0;
    int emphasis = 0;
    bool crc = false;
    bool copyright = false;
    bool original = false;
    bool padding = false;
    int samplesPerFrame = 0;
    int slotBytes = 1; // the unit of the padding: 4 for Layer I, else 1

    // Length of the frame in bytes; 0 for free format, whose length the stream tells.
    int frameBytes() const;
    // Bytes of side information after the header (and CRC) of a Layer III frame.
    int sideInfoBytes() const;
};

// Decodes four header bytes; nothing when they are not a valid header (no sync, reserved
// version, layer, bit rate, sample rate or emphasis).
std::optional<MpegHeader> parseMpegHeader(const uint8_t *bytes);

// Whether two headers can belong to the same stream (version, layer, sample rate and free
// format alike).
bool sameStream(const MpegHeader &a, const MpegHeader &b);

struct FirstFrame {
    uint64_t offset = 0;
    MpegHeader header;
    // Free format: the frame length without padding, measured between two headers.
    int freeFrameBytes = 0;
};

// Finds the first frame in [begin, end) whose header is confirmed by the header that
// follows it (by a third one when junk had to be skipped, since junk can look like a
// header).  Looks at most scanLimit bytes past begin for the start of that frame.
std::optional<FirstFrame> findFirstFrame(ByteReader &reader, uint64_t begin, uint64_t end, uint64_t scanLimit);

// Length of the frame at offset whose header is h (free-format streams need first).
int frameLength(const MpegHeader &h, const FirstFrame &first);

} // namespace vbmp3
