// Cover pictures embedded in a file, read with TagLib: ID3v2 APIC frames (MP3, and the
// ID3v2 chunk of WAV and AIFF), FLAC PICTURE blocks, METADATA_BLOCK_PICTURE comments of
// Ogg Vorbis, Opus and Ogg FLAC, MP4 "covr" items and the APE tag's "Cover Art (Front)"
// item (Monkey's Audio, WavPack, MP3).
//
// TagLib reads through a stream over the ByteReader that counts what it reads: once
// kReadBudget bytes have gone by, the stream reads as ended and TagLib gives up on what
// it was parsing.  A tag that claims a gigabyte thus costs at most the budget, whatever
// the format, and a file read here never costs more than a few times the budget.
#include "fileparse.h"
#include "taglibstream.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <vector>

namespace vbmp3
{

namespace
{

constexpr uint64_t kReadBudget = 24 * 1024 * 1024;
constexpr int kFrontCover = 3;

bool startsWith(const std::string &bytes, std::string_view prefix, size_t at = 0)
{
    return bytes.size() >= at + prefix.size() && std::string_view(bytes).substr(at, prefix.size()) == prefix;
}

// The type of a picture by its first bytes; empty when it is none of these.
std::string sniffedType(const TagLib::ByteVector &data)
{
    const std::string head(data.data(), std::min<size_t>(data.size(), 12));
    if (startsWith(head, "\xFF\xD8\xFF"))
        return "image/jpeg";
    if (startsWith(head, "\x89PNG\r\n\x1A\n"))
        return "image/png";
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return "image/gif";
    if (startsWith(head, "RIFF") && startsWith(head, "WEBP", 8))
        return "image/webp";
    if (startsWith(head, "BM"))
        return "image/bmp";
    return {};
}

struct Candidate {
    int type; // ID3v2/FLAC picture type; 3 is the front cover, -1 unknown
    std::string declaredType;
    TagLib::ByteVector data;
};

// The front cover among the candidates, else the first; pictures that are empty, larger
// than VBMP3_PICTURE_MAX or of no image type that can be named are passed over.
std::optional<Picture> choose(std::vector<Candidate> candidates)
{
    std::stable_partition(
        candidates.begin(), candidates.end(), [](const Candidate &c) { return c.type == kFrontCover; });
    for (Candidate &c : candidates) {
        if (c.data.isEmpty() || c.data.size() > static_cast<unsigned int>(VBMP3_PICTURE_MAX))
            continue;
        std::string type = sniffedType(c.data);
        if (type.empty() && startsWith(c.declaredType, "image/"))
            type = c.declaredType;
        if (type.empty())
            continue;
        return Picture { std::move(type), std::string(c.data.data(), c.data.size()) };
    }
    return std::nullopt;
}

void addId3v2(TagLib::ID3v2::Tag *tag, std::vector<Candidate> &out)
{
    if (!tag)
        return;
    for (TagLib::ID3v2::Frame *frame : tag->frameList("APIC")) {
        auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame);
        if (apic && apic->mimeType() != "-->") // "-->": the data is a link, not a picture
            out.push_back({ apic->type(), apic->mimeType().to8Bit(), apic->picture() });
    }
}

void addFlacPictures(const TagLib::List<TagLib::FLAC::Picture *> &pictures, std::vector<Candidate> &out)
{
    for (const TagLib::FLAC::Picture *p : pictures)
        out.push_back({ p->type(), p->mimeType().to8Bit(), p->data() });
}

void addXiph(TagLib::Ogg::XiphComment *comment, std::vector<Candidate> &out)
{
    if (comment)
        addFlacPictures(comment->pictureList(), out);
}

// APEv2 binary cover items hold a file name, a NUL and the picture.
void addApe(TagLib::APE::Tag *tag, std::vector<Candidate> &out)
{
    if (!tag)
        return;
    const TagLib::APE::ItemListMap &items = tag->itemListMap();
    for (const char *key : { "COVER ART (FRONT)", "COVER ART (OTHER)" }) {
        const auto it = items.find(key);
        if (it == items.end() || it->second.type() != TagLib::APE::Item::Binary)
            continue;
        const TagLib::ByteVector value = it->second.binaryData();
        const int nul = value.find('\0');
        if (nul >= 0)
            out.push_back({ std::string_view(key) == "COVER ART (FRONT)" ? kFrontCover : 0, {},
                value.mid(static_cast<unsigned int>(nul) + 1) });
    }
}

void addMp4(TagLib::MP4::Tag *tag, std::vector<Candidate> &out)
{
    if (!tag || !tag->contains("covr"))
        return;
    for (const TagLib::MP4::CoverArt &art : tag->item("covr").toCoverArtList()) {
        const char *type = art.format() == TagLib::MP4::CoverArt::JPEG ? "image/jpeg"
            : art.format() == TagLib::MP4::CoverArt::PNG               ? "image/png"
            : art.format() == TagLib::MP4::CoverArt::GIF               ? "image/gif"
            : art.format() == TagLib::MP4::CoverArt::BMP               ? "image/bmp"
                                                                       : "";
        out.push_back({ -1, type, art.data() });
    }
}

enum class Container { Mpeg, Flac, OggVorbis, OggOpus, OggFlac, Mp4, Ape, WavPack, Wav, Aiff };

// The container by its first bytes (after a leading ID3v2 tag where FLAC and Monkey's
// Audio allow one); MPEG for anything else, whose tags TagLib looks for at both ends.
Container containerOf(ByteReader &reader)
{
    const std::string head = reader.read(0, 64);
    if (startsWith(head, "ID3")) {
        const uint64_t size = id3v2TagSize(head.substr(0, 10));
        const std::string after = size > 0 ? reader.read(size, 4) : std::string();
        if (after == "fLaC")
            return Container::Flac;
        if (after == "MAC ")
            return Container::Ape;
        return Container::Mpeg;
    }
    if (startsWith(head, "fLaC"))
        return Container::Flac;
    if (startsWith(head, "OggS")) {
        // The first packet of the first page names the codec.
        const size_t segments = head.size() > 26 ? static_cast<unsigned char>(head[26]) : 0;
        const std::string packet = reader.read(27 + segments, 8);
        if (startsWith(packet, "OpusHead"))
            return Container::OggOpus;
        if (startsWith(packet,
                "\x7F"
                "FLAC"))
            return Container::OggFlac;
        return Container::OggVorbis;
    }
    if (startsWith(head, "ftyp", 4))
        return Container::Mp4;
    if (startsWith(head, "MAC "))
        return Container::Ape;
    if (startsWith(head, "wvpk"))
        return Container::WavPack;
    if (startsWith(head, "RIFF") && startsWith(head, "WAVE", 8))
        return Container::Wav;
    if (startsWith(head, "FORM") && (startsWith(head, "AIFF", 8) || startsWith(head, "AIFC", 8)))
        return Container::Aiff;
    return Container::Mpeg;
}

std::vector<Candidate> candidatesOf(ByteReader &reader)
{
    TagLibStream stream(reader, std::numeric_limits<unsigned long>::max(), kReadBudget);
    std::vector<Candidate> out;
    auto *frames = TagLib::ID3v2::FrameFactory::instance();
    switch (containerOf(reader)) {
    case Container::Mpeg: {
        TagLib::MPEG::File f(&stream, frames, false);
        addId3v2(f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr, out);
        addApe(f.hasAPETag() ? f.APETag() : nullptr, out);
        break;
    }
    case Container::Flac: {
        TagLib::FLAC::File f(&stream, frames, false);
        addFlacPictures(f.pictureList(), out);
        addXiph(f.hasXiphComment() ? f.xiphComment() : nullptr, out);
        addId3v2(f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr, out);
        break;
    }
    case Container::OggVorbis: {
        TagLib::Ogg::Vorbis::File f(&stream, false);
        addXiph(f.isValid() ? f.tag() : nullptr, out);
        break;
    }
    case Container::OggOpus: {
        TagLib::Ogg::Opus::File f(&stream, false);
        addXiph(f.isValid() ? f.tag() : nullptr, out);
        break;
    }
    case Container::OggFlac: {
        TagLib::Ogg::FLAC::File f(&stream, false);
        addXiph(f.isValid() ? f.tag() : nullptr, out);
        break;
    }
    case Container::Mp4: {
        TagLib::MP4::File f(&stream, false);
        addMp4(f.isValid() ? f.tag() : nullptr, out);
        break;
    }
    case Container::Ape: {
        TagLib::APE::File f(&stream, false);
        addApe(f.hasAPETag() ? f.APETag() : nullptr, out);
        break;
    }
    case Container::WavPack: {
        TagLib::WavPack::File f(&stream, false);
        addApe(f.hasAPETag() ? f.APETag() : nullptr, out);
        break;
    }
    case Container::Wav: {
        TagLib::RIFF::WAV::File f(&stream, false);
        addId3v2(f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr, out);
        break;
    }
    case Container::Aiff: {
        TagLib::RIFF::AIFF::File f(&stream, false);
        addId3v2(f.hasID3v2Tag() ? f.tag() : nullptr, out);
        break;
    }
    }
    return out;
}

} // namespace

std::optional<Picture> readPicture(ByteReader &reader)
{
    return choose(candidatesOf(reader));
}

std::optional<Picture> readPicture(const std::string &path)
{
    FileReader reader(path);
    if (!reader.isOpen())
        return std::nullopt;
    try {
        return readPicture(reader);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

} // namespace vbmp3
