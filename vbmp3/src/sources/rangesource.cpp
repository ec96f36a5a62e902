#include "rangesource.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vbmp3
{
namespace
{

constexpr int64_t kCdFramesPerSecond = 75;
constexpr int64_t kPastAnyEnd = std::numeric_limits<int64_t>::max();

// The whole file's decoder, shared by the tracks of one file that follow each other, and
// the frame its next read gives.  Used by one thread at a time, as every source is.
struct SharedDecoder {
    std::unique_ptr<Source> whole;
    int64_t next = 0;
};

// The sample at CD frame `frames` (1/75 s), rounded down; kPastAnyEnd where it would not fit.
int64_t sampleAt(int64_t frames, int rate)
{
    if (rate <= 0 || frames > kPastAnyEnd / rate)
        return kPastAnyEnd;
    return frames * rate / kCdFramesPerSecond;
}

std::optional<double> finite(double value)
{
    return std::isfinite(value) ? std::optional(value) : std::nullopt;
}

std::optional<double> peak(double value)
{
    return std::isfinite(value) && value > 0 ? std::optional(value) : std::nullopt;
}

class RangeSource final : public Source
{
public:
    RangeSource(std::shared_ptr<SharedDecoder> decoder, const SampleRange &samples, const TrackRange &range)
        : m_decoder(std::move(decoder))
        , m_start(samples.start)
        , m_end(samples.end < 0 ? kPastAnyEnd : samples.end)
    {
        m_info = m_decoder->whole->info();
        m_info.totalFrames = rangeLength(samples, m_info.totalFrames);
        if (range.gains == 0)
            return; // the file's own values, read from the origin the opener sets
        GainTags sheet;
        if (range.gains & VBMP3_RANGE_TRACK_GAIN) {
            sheet.trackGain = finite(range.trackGain);
            sheet.trackPeak = peak(range.trackPeak);
        }
        if (range.gains & VBMP3_RANGE_ALBUM_GAIN) {
            sheet.albumGain = finite(range.albumGain);
            sheet.albumPeak = peak(range.albumPeak);
        }
        setOwnGainTags(sheet);
    }

    // The whole file's decoder is positioned by the read that needs it: a track entered
    // right where the one before it ended reads on without a seek.
    size_t read(float *out, size_t frames) override
    {
        const int64_t at = m_start + m_position;
        const int64_t left = m_end - at;
        if (left <= 0 || frames == 0)
            return 0;
        Source &whole = *m_decoder->whole;
        if (m_decoder->next != at) {
            if (!whole.seek(at))
                return 0;
            m_decoder->next = at;
        }
        const size_t got = whole.read(out, static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(frames))));
        m_position += static_cast<int64_t>(got);
        m_decoder->next += static_cast<int64_t>(got);
        return got;
    }

    bool seek(int64_t frame) override
    {
        m_position = std::clamp<int64_t>(frame, 0, m_end - m_start);
        return true;
    }

    // The track of samples that begins where this one ends, on the same decoder.
    std::unique_ptr<Source> follower(const SampleRange &samples, const TrackRange &range) const
    {
        if (m_end == kPastAnyEnd || samples.start != m_end)
            return nullptr;
        const SourceInfo &whole = m_decoder->whole->info();
        if (!whole.lengthEstimated && samples.start >= whole.totalFrames)
            return nullptr;
        return std::make_unique<RangeSource>(m_decoder, samples, range);
    }

private:
    const std::shared_ptr<SharedDecoder> m_decoder;
    const int64_t m_start; // the whole file's frame of this track's frame 0
    const int64_t m_end; // the whole file's frame after the track (kPastAnyEnd: the file's end)
    int64_t m_position = 0; // this track's frame the next read gives
};

} // namespace

std::optional<SampleRange> samplesOf(const TrackRange &range, int rate)
{
    if (range.start < 0 || (range.end >= 0 && range.end <= range.start))
        return std::nullopt;
    return SampleRange { sampleAt(range.start, rate), range.end < 0 ? -1 : sampleAt(range.end, rate) };
}

int64_t rangeLength(const SampleRange &range, int64_t fileFrames)
{
    const int64_t end = range.end < 0 ? fileFrames : std::min(range.end, fileFrames);
    return std::max<int64_t>(end - range.start, 0);
}

std::unique_ptr<Source> openRangeSource(std::unique_ptr<Source> whole, const TrackRange &range)
{
    if (!whole)
        return nullptr;
    const SourceInfo &info = whole->info();
    const std::optional<SampleRange> samples = samplesOf(range, info.rate);
    if (!samples || (!info.lengthEstimated && samples->start >= info.totalFrames))
        return nullptr;
    auto decoder = std::make_shared<SharedDecoder>();
    decoder->whole = std::move(whole);
    return std::make_unique<RangeSource>(std::move(decoder), *samples, range);
}

std::unique_ptr<Source> followRangeSource(const Source &playing, const TrackRange &range)
{
    const auto *track = dynamic_cast<const RangeSource *>(&playing);
    if (!track)
        return nullptr;
    const std::optional<SampleRange> samples = samplesOf(range, playing.info().rate);
    return samples ? track->follower(*samples, range) : nullptr;
}

} // namespace vbmp3
