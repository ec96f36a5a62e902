// ReplayGain: reading the values a file states, and the factor they make under the
// player's choice.
#include "replaygain.h"

#include "sources/formats.h"
#include "tags/fileparse.h"
#include "tags/formattags.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>

namespace vbmp3
{

std::optional<double> gainNumber(const std::string &text)
{
    const char *begin = text.data(), *end = text.data() + text.size();
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    if (begin < end && *begin == '+')
        ++begin;
    double value = 0;
    const auto [after, error] = std::from_chars(begin, end, value, std::chars_format::fixed);
    if (error != std::errc() || after == begin || !std::isfinite(value))
        return std::nullopt;
    return value;
}

GainTags readGainTags(ByteReader &reader, const FileLayout &layout)
{
    if (isTagLibKind(layout.kind))
        return readFormatGainTags(reader, layout.kind);
    const MpegStream mpeg = formatOf(layout.kind).mpeg;
    if (mpeg == MpegStream::None)
        return {};
    // The ID3v2 tag the MPEG stream begins with, at the start of the file or of the chunk
    // that wraps it.  Its values win over the encoder's.
    const uint64_t tagAt = mpeg == MpegStream::Wrapped ? layout.audioOffset : 0;
    GainTags tags = id3v2GainTags(reader, tagAt);
    const GainTags lame = lameGainTags(reader, layout.audioOffset, layout.audioOffset + layout.audioSize);
    for (auto field : { &GainTags::trackGain, &GainTags::trackPeak, &GainTags::albumGain, &GainTags::albumPeak })
        if (!(tags.*field))
            tags.*field = lame.*field;
    return tags;
}

GainTags readGainTags(const std::string &path, const FileLayout &layout)
{
    FileReader reader(path);
    if (!reader.isOpen())
        return {};
    try {
        return readGainTags(reader, layout);
    } catch (const std::exception &) {
        return {};
    }
}

bool validReplayGain(const ReplayGainOption &option)
{
    return option.mode >= VBMP3_REPLAYGAIN_OFF && option.mode <= VBMP3_REPLAYGAIN_ALBUM && option.preamp >= -150
        && option.preamp <= 150 && option.defaultGain >= -150 && option.defaultGain <= 150
        && (option.preventClipping == 0 || option.preventClipping == 1);
}

float gainFactor(const GainTags &tags, const ReplayGainOption &option)
{
    if (option.mode == VBMP3_REPLAYGAIN_OFF)
        return 1.0f;
    const bool album = option.mode == VBMP3_REPLAYGAIN_ALBUM;
    // The gain of the chosen kind, else of the other, with the peak of the same kind.
    const std::optional<double> &first = album ? tags.albumGain : tags.trackGain;
    const std::optional<double> &second = album ? tags.trackGain : tags.albumGain;
    const std::optional<double> &peak = first ? (album ? tags.albumPeak : tags.trackPeak)
        : second                              ? (album ? tags.trackPeak : tags.albumPeak)
                                              : std::optional<double>();
    const double db = first ? *first + option.preamp / 10.0
        : second            ? *second + option.preamp / 10.0
                            : option.defaultGain / 10.0;
    // Beyond +-60 dB a value is no loudness correction but damage.
    double factor = std::pow(10.0, std::clamp(db, -60.0, 60.0) / 20.0);
    if (option.preventClipping && peak && *peak > 0 && factor * *peak > 1.0)
        factor = 1.0 / *peak;
    return static_cast<float>(factor);
}

} // namespace vbmp3
