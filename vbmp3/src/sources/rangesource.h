// A track that is a part of a file (a CD image's track named by its cue sheet): the frames
// of a whole file's source from one sample up to another, as a source of their own.
// Consecutive tracks of one file may share the whole file's decoder, so that one goes on
// where the other ends without a seek.
#pragma once

#include "source.h"
#include "vbmp3.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace vbmp3
{

// The samples a TrackRange names at rate: [start, end), end -1 for the file's end.
// Nothing when the range is not one (start < 0, or an end at or before the start).
struct SampleRange {
    int64_t start = 0;
    int64_t end = -1;
};
std::optional<SampleRange> samplesOf(const TrackRange &range, int rate);

// The length of range in a file of fileFrames frames (an end past the file's end is the
// file's end); 0 when it starts at or past the end.
int64_t rangeLength(const SampleRange &range, int64_t fileFrames);

// The part of whole that range names, with whole's facts but its own length, and the
// sheet's loudness values in place of the file's where range gives some.  nullptr when
// the range is not one or starts at or past the file's end (a length that is only an
// estimate is not held against it).  Takes over whole; reads nothing yet.
std::unique_ptr<Source> openRangeSource(std::unique_ptr<Source> whole, const TrackRange &range);

// The track of range that follows playing in the same file: a source sharing playing's
// decoder, which goes on from where playing ends without a seek.  nullptr unless playing
// came from openRangeSource (or from here) and ends where range starts.  Reads nothing;
// playing may meanwhile be used on another thread.
std::unique_ptr<Source> followRangeSource(const Source &playing, const TrackRange &range);

} // namespace vbmp3
