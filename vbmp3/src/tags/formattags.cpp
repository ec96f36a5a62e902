// Tags of the formats whose tags TagLib reads from the whole file: Vorbis comments (FLAC,
// Ogg FLAC, Ogg Vorbis, Opus), MP4 atoms and APEv2 (WavPack, Monkey's Audio).
//
// TagLib reads through a stream over the caller's ByteReader, so that tests and fuzz
// targets can hand it bytes from memory, and no single read may be larger than
// kMaxTagRead (a header that claims gigabytes gets nothing).
#include "formattags.h"

#include "fileparse.h"
#include "sources/formats.h"
#include "taglibstream.h"

#include <textcodec.h>

#include <taglib/id3v1genres.h>
#include <taglib/mp4file.h>
#include <taglib/mp4properties.h>
#include <taglib/mp4tag.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace vbmp3
{

namespace
{

// The largest block TagLib may read at once: a 16 MiB FLAC picture fits, a claimed
// length of gigabytes does not.
constexpr unsigned long kMaxTagRead = 32ul * 1024 * 1024;

// The file of `kind` over stream, its tags read (and its audio facts when asked); null for
// kinds without tags of their own.
std::unique_ptr<TagLib::File> openTagFile(FileKind kind, TagLib::IOStream *stream, bool audioFacts = false)
{
    const auto open = formatOf(kind).tagFile;
    return open ? open(stream, audioFacts) : nullptr;
}

// Several values of one field, joined by " / " (lyrics: by line breaks).
std::string joined(const TagLib::StringList &values, const char *separator = " / ")
{
    std::string out;
    for (const TagLib::String &value : values) {
        const std::string text = value.to8Bit(true);
        if (!text.empty())
            out += (out.empty() ? "" : separator) + text;
    }
    return out;
}

// The year a date begins with ("1995", "1995-03-22"); empty when it does not.
std::string yearOf(const TagLib::StringList &dates)
{
    const std::string date = dates.isEmpty() ? std::string() : dates.front().to8Bit(true);
    const bool year = date.size() >= 4
        && std::all_of(date.begin(), date.begin() + 4, [](char c) { return c >= '0' && c <= '9'; })
        && (date.size() == 4 || date[4] < '0' || date[4] > '9');
    return year && date.compare(0, 4, "0000") != 0 ? date.substr(0, 4) : std::string();
}

} // namespace

bool isTagLibKind(FileKind kind)
{
    return formatOf(kind).tagFile != nullptr;
}

std::optional<FormatTags> readFormatTags(ByteReader &reader, FileKind kind)
{
    TagLibStream stream(reader, kMaxTagRead);
    const std::unique_ptr<TagLib::File> file = openTagFile(kind, &stream);
    if (!file || !file->isValid())
        return std::nullopt;
    const TagLib::PropertyMap map = file->properties();
    const auto values = [&map](const char *key) {
        const auto it = map.find(key);
        return it == map.end() ? TagLib::StringList() : it->second;
    };
    FormatTags tags;
    tags.title = joined(values("TITLE"));
    tags.artist = joined(values("ARTIST"));
    tags.album = joined(values("ALBUM"));
    tags.year = yearOf(values("DATE"));
    tags.comment = joined(values("COMMENT"));
    if (tags.comment.empty())
        tags.comment = joined(values("DESCRIPTION"));
    const TagLib::StringList genres = values("GENRE");
    tags.genreName = joined(genres);
    if (!genres.isEmpty()) {
        const int index = TagLib::ID3v1::genreIndex(genres.front());
        tags.genre = index >= 0 && index < 255 ? index : -1;
    }
    tags.titleSort = joined(values("TITLESORT"));
    tags.artistSort = joined(values("ARTISTSORT"));
    tags.albumSort = joined(values("ALBUMSORT"));
    tags.albumArtistSort = joined(values("ALBUMARTISTSORT"));
    for (const char *key : { "LYRICS", "UNSYNCEDLYRICS" }) {
        tags.lyrics = joined(values(key), "\n");
        if (!tags.lyrics.empty())
            break;
    }
    return tags;
}

std::optional<AudioFacts> readAudioFacts(ByteReader &reader, FileKind kind)
{
    TagLibStream stream(reader, kMaxTagRead);
    const std::unique_ptr<TagLib::File> file = openTagFile(kind, &stream, true);
    const TagLib::AudioProperties *properties = file && file->isValid() ? file->audioProperties() : nullptr;
    if (!properties || properties->sampleRate() <= 0)
        return std::nullopt;
    AudioFacts facts { std::max(0, properties->bitrate()), properties->sampleRate(), properties->channels(),
        std::max(0, properties->lengthInMilliseconds()) };
    // An ALAC track's header states the rate of the samples before compression: the file
    // tells the rate it is stored at.
    const auto *mp4 = dynamic_cast<const TagLib::MP4::Properties *>(properties);
    if (mp4 && mp4->codec() == TagLib::MP4::Properties::ALAC && facts.lengthMs > 0)
        facts.kbps = static_cast<int>(reader.size() * 8 / uint64_t(facts.lengthMs));
    return facts;
}

GainTags readFormatGainTags(ByteReader &reader, FileKind kind)
{
    GainTags tags;
    TagLibStream stream(reader, kMaxTagRead);
    const std::unique_ptr<TagLib::File> file = openTagFile(kind, &stream);
    if (!file || !file->isValid())
        return tags;
    // Name (upper case, without a freeform atom's prefix) to first value.
    std::vector<std::pair<std::string, std::string>> values;
    if (const auto *mp4File = dynamic_cast<const TagLib::MP4::File *>(file.get())) {
        // TagLib's property names leave the freeform atoms of ReplayGain out.
        const TagLib::MP4::Tag *mp4 = mp4File->tag();
        const TagLib::String prefix = "----:COM.APPLE.ITUNES:";
        for (const auto &[name, item] : mp4 ? mp4->itemMap() : TagLib::MP4::ItemMap()) {
            const TagLib::String upper = name.upper();
            const TagLib::StringList texts = item.toStringList();
            if (upper.startsWith(prefix) && !texts.isEmpty())
                values.emplace_back(upper.substr(prefix.size()).to8Bit(true), texts.front().to8Bit(true));
        }
    } else {
        for (const auto &[name, texts] : file->properties())
            if (!texts.isEmpty())
                values.emplace_back(name.upper().to8Bit(true), texts.front().to8Bit(true));
    }
    const bool opus = dynamic_cast<const TagLib::Ogg::Opus::File *>(file.get()) != nullptr;
    std::optional<double> r128Track, r128Album;
    for (const auto &[name, text] : values) {
        std::optional<double> *field = name == "REPLAYGAIN_TRACK_GAIN" ? &tags.trackGain
            : name == "REPLAYGAIN_TRACK_PEAK"                          ? &tags.trackPeak
            : name == "REPLAYGAIN_ALBUM_GAIN"                          ? &tags.albumGain
            : name == "REPLAYGAIN_ALBUM_PEAK"                          ? &tags.albumPeak
            : !opus                                                    ? nullptr
            : name == "R128_TRACK_GAIN"                                ? &r128Track
            : name == "R128_ALBUM_GAIN"                                ? &r128Album
                                                                       : nullptr;
        const std::optional<double> value = gainNumber(text);
        if (field && value && !*field)
            *field = value;
    }
    // R128 values are whole steps of 1/256 dB; -18 LUFS, the ReplayGain reference, is 5 dB
    // above their -23 LUFS.
    const auto r128 = [](const std::optional<double> &q) -> std::optional<double> {
        if (!q || *q != std::trunc(*q) || std::abs(*q) > 32768)
            return std::nullopt;
        return *q / 256.0 + 5.0;
    };
    if (!tags.trackGain)
        tags.trackGain = r128(r128Track);
    if (!tags.albumGain)
        tags.albumGain = r128(r128Album);
    return tags;
}

} // namespace vbmp3
