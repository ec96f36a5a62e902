// ReplayGain: the loudness values a file's tags state, and the factor the decoded samples
// are scaled by under the player's choice (vbmp3_setReplayGain).
#pragma once

#include "common/bytereader.h"
#include "tags/fileinfo.h"
#include "vbmp3.h"

#include <optional>
#include <string>

namespace vbmp3
{

// What a file states; each value on its own may be missing.  Gains in dB to the
// ReplayGain reference, peaks as a fraction of full scale.
struct GainTags {
    std::optional<double> trackGain, trackPeak, albumGain, albumPeak;
    bool operator==(const GainTags &) const = default;
};

// The values of a file of layout.kind (see vbmp3.h for where each kind keeps them); none
// for WAV or a file without them.  Bounded as the tag reading is (fileparse.h).
GainTags readGainTags(ByteReader &reader, const FileLayout &layout);
GainTags readGainTags(const std::string &path, const FileLayout &layout);

// The values of the ID3v2 tag at offset: TXXX REPLAYGAIN_* over RVA2.  In tags.cpp.
GainTags id3v2GainTags(ByteReader &reader, uint64_t offset);

// The values of the LAME tag of the MPEG stream in [begin, end) (after an ID3v2 tag at
// begin, if any): its radio gain as the track's, audiophile gain as the album's, and its
// peak as the track's.  In mpeginfo.cpp.
GainTags lameGainTags(ByteReader &reader, uint64_t begin, uint64_t end);

// A ReplayGain text as a number: "-6.02 dB", "+1.5", "0.988831"; nothing when the text
// does not begin with a finite number.
std::optional<double> gainNumber(const std::string &text);

// Whether option holds values vbmp3_setReplayGain takes.
bool validReplayGain(const ReplayGainOption &option);

// The factor the samples of a file that states tags are scaled by: exactly 1 with the mode
// off; else 10^(dB / 20) of the chosen gain and the preamp (or the default gain), lowered
// to 1 / peak under clipping prevention.
float gainFactor(const GainTags &tags, const ReplayGainOption &option);

} // namespace vbmp3
