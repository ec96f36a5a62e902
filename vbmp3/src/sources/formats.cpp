#include "formats.h"

#include "formatsources.h"
#include "tags/fileparse.h"

#include <taglib/apefile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavpackfile.h>

#include <array>

namespace vbmp3
{

namespace
{

template <typename File> std::unique_ptr<TagLib::File> tagFile(TagLib::IOStream *stream, bool audioFacts)
{
    return std::make_unique<File>(stream, audioFacts, TagLib::AudioProperties::Fast);
}

template <> std::unique_ptr<TagLib::File> tagFile<TagLib::FLAC::File>(TagLib::IOStream *stream, bool audioFacts)
{
    return std::make_unique<TagLib::FLAC::File>(
        stream, TagLib::ID3v2::FrameFactory::instance(), audioFacts, TagLib::AudioProperties::Fast);
}

// An MP4 box header: a big-endian size of at least the header's 8 bytes, then "ftyp".
bool mp4Signature(const SignatureBytes &b)
{
    if (b.head.size() < 12 || b.head.substr(4, 4) != "ftyp")
        return false;
    return readBe32(reinterpret_cast<const unsigned char *>(b.head.data())) >= 8;
}

using enum FileKind;
using enum MpegStream;

constexpr auto kFormats = std::to_array<Format>({
    { Unknown, "", VBMP3_TYPE_UNKNOWN, nullptr, None, nullptr, nullptr },
    { Mpeg, "MPEG", VBMP3_TYPE_MPEG, nullptr, Plain, openMpegSource, nullptr },
    { Wav, "WAV", VBMP3_TYPE_WAV, nullptr, None, openWavSource, nullptr },
    { Rmp, "RMP", VBMP3_TYPE_RMP, nullptr, Wrapped, openMpegSource, nullptr },
    { Media, "Media", VBMP3_TYPE_MEDIA, nullptr, None, nullptr, nullptr },
    { Flac, "FLAC", VBMP3_TYPE_FLAC, [](const SignatureBytes &b) { return b.head.starts_with("fLaC"); }, None,
        openFlacSource, tagFile<TagLib::FLAC::File> },
    { OggFlac, "Ogg FLAC", VBMP3_TYPE_OGG_FLAC,
        [](const SignatureBytes &b) {
            return b.oggPacket.starts_with("\x7F"
                                           "FLAC");
        },
        None, openOggFlacSource, tagFile<TagLib::Ogg::FLAC::File> },
    { OggVorbis, "Ogg Vorbis", VBMP3_TYPE_OGG_VORBIS,
        [](const SignatureBytes &b) { return b.oggPacket.starts_with("\x01vorbis"); }, None, openVorbisSource,
        tagFile<TagLib::Ogg::Vorbis::File> },
    { OggOpus, "Ogg Opus", VBMP3_TYPE_OGG_OPUS,
        [](const SignatureBytes &b) { return b.oggPacket.starts_with("OpusHead"); }, None, openOpusSource,
        tagFile<TagLib::Ogg::Opus::File> },
    { Mp4, "MP4", VBMP3_TYPE_MP4, mp4Signature, None, openMp4Source, tagFile<TagLib::MP4::File> },
    { WavPack, "WavPack", VBMP3_TYPE_WAVPACK, [](const SignatureBytes &b) { return b.head.starts_with("wvpk"); }, None,
        openWavPackSource, tagFile<TagLib::WavPack::File> },
    { Ape, "Monkey's Audio", VBMP3_TYPE_APE, [](const SignatureBytes &b) { return b.head.starts_with("MAC "); }, None,
        openApeSource, tagFile<TagLib::APE::File> },
});

static_assert(
    [] {
        for (size_t i = 0; i < kFormats.size(); ++i)
            if (static_cast<size_t>(kFormats[i].kind) != i)
                return false;
        return true;
    }(),
    "one row per FileKind, in its order");
static_assert(kFormats.back().kind == kLastFileKind, "a row for every FileKind");

} // namespace

std::span<const Format> formats()
{
    return kFormats;
}

const Format &formatOf(FileKind kind)
{
    return kFormats[static_cast<size_t>(kind)];
}

std::unique_ptr<Source> openSource(const std::string &path, const FileLayout &layout, const SourceOptions &options)
{
    const Format &format = formatOf(layout.kind);
    return format.open ? format.open(path, layout, options) : nullptr;
}

} // namespace vbmp3
