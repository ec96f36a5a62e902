// TagInfo from ID3v2 (2.2, 2.3, 2.4) and ID3v1, through TagLib on the tag bytes alone; the
// formats with tags of their own go through formattags.h.
//
// TagLib's MPEG::File would look at the whole file (and search it for tags when the
// start is not a frame); a playlist of thousands of files reads every file's tags, so
// only the leading tag and the last 128 bytes are read here and handed to TagLib as
// small in-memory files.  The leading tag is reduced to the frames of the fields before
// parsing, without reading the rest (cover art, budgets below).
#include "dsp/replaygain.h"
#include "fileparse.h"
#include "formattags.h"

#include <textcodec.h>

#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/synchronizedlyricsframe.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>
#include <taglib/unsynchronizedlyricsframe.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace vbmp3
{

namespace
{

// Memory budgets of the ID3v2 reading, per file.  A tag is rebuilt, frame by frame, from
// the frames of the fields read here, of at most kMaxFrame bytes each (larger ones are not
// real), kReducedTagLimit in all.  A tag whose frames cannot be walked without decoding it
// (whole-tag unsynchronisation) is read whole up to kUnwalkableTagLimit and ignored when
// larger.  TagLib holds what it is given about three times over while parsing, so a file
// costs at most some 12 MiB whatever its tag claims.
constexpr uint64_t kReducedTagLimit = 1024 * 1024;
constexpr uint64_t kUnwalkableTagLimit = 4 * 1024 * 1024;
constexpr uint64_t kMaxFrame = 64 * 1024;

TagLib::String fromUtf8(const std::string &s)
{
    return TagLib::String(s, TagLib::String::UTF8);
}

// Texts marked Latin-1 are, on Japanese systems, often CP932; the fields of one tag are
// judged together (a lone kanji title next to a katakana artist), so the parsing of a tag
// on this thread either collects the evidence of its fields or reads them by it.
struct TagJudgement {
    kes::Cp932Evidence evidence;
    bool collecting = true;
    int judgedFields = 0; // fields that are neither ASCII nor UTF-8
};
thread_local TagJudgement *t_judgement = nullptr;

// Sets the judgement of the tags parsed on this thread while it lives.
class JudgementScope
{
public:
    explicit JudgementScope(TagJudgement &judgement) { t_judgement = &judgement; }
    ~JudgementScope() { t_judgement = nullptr; }
    JudgementScope(const JudgementScope &) = delete;
    JudgementScope &operator=(const JudgementScope &) = delete;
};

std::string tagBytesToUtf8(std::string_view bytes)
{
    bytes = bytes.substr(0, bytes.find('\0'));
    if (!t_judgement)
        return kes::latin1TagToUtf8(bytes);
    if (!t_judgement->collecting)
        return kes::latin1TagToUtf8(bytes, t_judgement->evidence);
    t_judgement->evidence += kes::cp932Evidence(bytes);
    t_judgement->judgedFields += kes::isValidUtf8(bytes) ? 0 : 1;
    return kes::latin1TagToUtf8(bytes);
}

class Id3v1Strings : public TagLib::ID3v1::StringHandler
{
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        std::string text = tagBytesToUtf8(std::string_view(data.data(), data.size()));
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.pop_back();
        return fromUtf8(text);
    }
};

class Id3v2Latin1Strings : public TagLib::ID3v2::Latin1StringHandler
{
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        return fromUtf8(tagBytesToUtf8(std::string_view(data.data(), data.size())));
    }
};

// TagLib keeps the handlers in process-wide pointers and does not own them.
void installStringHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static const Id3v1Strings id3v1;
        static const Id3v2Latin1Strings id3v2;
        TagLib::ID3v1::Tag::setStringHandler(&id3v1);
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
    });
}

// Bytes in memory seen by TagLib as a file.
class MemoryFile : public TagLib::File
{
public:
    explicit MemoryFile(const std::string &bytes)
        : MemoryFile(std::make_unique<TagLib::ByteVectorStream>(
            TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size()))))
    {
    }
    TagLib::Tag *tag() const override { return nullptr; }
    TagLib::AudioProperties *audioProperties() const override { return nullptr; }
    bool save() override { return false; }

private:
    explicit MemoryFile(std::unique_ptr<TagLib::ByteVectorStream> stream)
        : TagLib::File(stream.get())
        , m_stream(std::move(stream))
    {
    }
    // Declared after the base, so destroyed before it: TagLib::File does not touch a
    // stream it does not own when it is destroyed.
    std::unique_ptr<TagLib::ByteVectorStream> m_stream;
};

bool isFrameIdChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isFrameId(std::string_view id)
{
    return !id.empty() && std::all_of(id.begin(), id.end(), isFrameIdChar);
}

// An ID3v2 tag rebuilt from the frames of the fields, read frame by frame, within
// kReducedTagLimit.
std::string reducedTag(ByteReader &reader, uint64_t offset, const std::string &header, uint64_t end, Id3v2Frames which)
{
    const auto *h = reinterpret_cast<const unsigned char *>(header.data());
    const int version = h[3];
    // ID3v2.2 frames: a three-letter id and a 24-bit size; later ones: four letters, a
    // 32-bit size (synchsafe in 2.4) and two flag bytes.
    const size_t idLength = version == 2 ? 3 : 4;
    const size_t headerLength = version == 2 ? 6 : 10;
    std::string out = header.substr(0, 10);
    if (version > 2)
        out[5] = static_cast<char>(h[5] & ~0x50); // no extended header, no footer
    uint64_t pos = offset + 10;
    if (version > 2 && (h[5] & 0x40)) {
        const std::string ext = reader.read(pos, 4);
        if (ext.size() < 4)
            return {};
        const auto *e = reinterpret_cast<const unsigned char *>(ext.data());
        pos += version == 3 ? 4 + uint64_t(readBe32(e)) : uint64_t(readSynchsafe32(e));
    }
    for (int n = 0; n < 100000 && pos + headerLength <= end; ++n) {
        const std::string fh = reader.read(pos, headerLength);
        if (fh.size() < headerLength || !isFrameId(std::string_view(fh).substr(0, idLength)))
            break;
        const auto *f = reinterpret_cast<const unsigned char *>(fh.data());
        uint64_t size = version == 2 ? uint64_t(f[3]) << 16 | uint64_t(f[4]) << 8 | f[5]
            : version == 3           ? readBe32(f + 4)
                                     : readSynchsafe32(f + 4);
        if (version == 4 && size != readBe32(f + 4)) {
            // Some writers put plain sizes into 2.4 tags: trust the reading that lands on
            // the next frame (or the end of the frames).
            const uint64_t next = pos + 10 + size;
            const bool fits
                = next + 4 > end || isFrameId(reader.read(next, 4)) || reader.read(next, 1) == std::string(1, '\0');
            const uint64_t plain = readBe32(f + 4);
            if (!fits && (pos + 10 + plain + 4 > end || isFrameId(reader.read(pos + 10 + plain, 4))))
                size = plain;
        }
        if (size > end - pos - headerLength)
            break;
        static const std::string_view kFields[]
            = { "TIT2", "TPE1", "TALB", "TCON", "TYER", "TDRC", "COMM", "TT2", "TP1", "TAL", "TCO", "TYE", "COM" };
        static const std::string_view kLyrics[] = { "USLT", "SYLT", "ULT", "SLT" };
        static const std::string_view kGain[] = { "TXXX", "RVA2", "TXX" };
        static const std::string_view kSort[] = { "TSOT", "TSOP", "TSOA", "TSO2", "TST", "TSP", "TSA", "TS2" };
        const std::string_view id = std::string_view(fh).substr(0, idLength);
        const auto among
            = [id](const auto &ids) { return std::find(std::begin(ids), std::end(ids), id) != std::end(ids); };
        const bool wanted = which == Id3v2Frames::Fields ? among(kFields)
            : which == Id3v2Frames::Lyrics               ? among(kLyrics)
            : which == Id3v2Frames::Gain                 ? among(kGain)
                                                         : among(kSort);
        const uint64_t maxFrame = which == Id3v2Frames::Lyrics ? kReducedTagLimit - 20 : kMaxFrame;
        if (wanted && size > 0 && size <= maxFrame && out.size() + headerLength + size <= kReducedTagLimit) {
            out += fh;
            out += reader.read(pos + headerLength, static_cast<size_t>(size));
        }
        pos += headerLength + size;
    }
    const uint64_t body = out.size() - 10;
    out[6] = static_cast<char>((body >> 21) & 0x7F);
    out[7] = static_cast<char>((body >> 14) & 0x7F);
    out[8] = static_cast<char>((body >> 7) & 0x7F);
    out[9] = static_cast<char>(body & 0x7F);
    return out;
}

} // namespace

std::string id3v2TagBytes(ByteReader &reader, uint64_t offset, Id3v2Frames which)
{
    const std::string header = reader.read(offset, 10);
    const uint64_t declared = id3v2TagSize(header);
    if (declared == 0)
        return {};
    const uint64_t size = std::min(declared, reader.size() - offset);
    const auto *h = reinterpret_cast<const unsigned char *>(header.data());
    if (h[5] & 0x80) {
        if (size > kUnwalkableTagLimit)
            return {};
        return reader.read(offset, static_cast<size_t>(size));
    }
    // Even a small tag is rebuilt from the frames read here: TagLib stops at the first
    // empty frame, and some writers leave one (an empty encoder field) before the title.
    return reducedTag(reader, offset, header, offset + size, which);
}

namespace
{

struct Fields {
    std::string title, artist, album, year, comment, genreName;
    int genre = -1;
    bool present = false;
};

std::string yearText(unsigned int year)
{
    return year > 0 && year <= 9999 ? std::to_string(year) : std::string();
}

// The texts every tag kind has, as UTF-8 (Latin-1 fields go through our handlers).
Fields commonFields(const TagLib::Tag &tag)
{
    Fields f;
    f.present = true;
    f.title = tag.title().to8Bit(true);
    f.artist = tag.artist().to8Bit(true);
    f.album = tag.album().to8Bit(true);
    f.comment = tag.comment().to8Bit(true);
    f.year = yearText(tag.year());
    return f;
}

// The values of a text frame, which may hold several separated by NULs, joined by " / "
// (TagLib would join them with a blank).  Genre values that are ID3v1 genre numbers
// become their names; a value given twice (2.3 writers put "(17)Rock") counts once.
std::string joinedText(const TagLib::ID3v2::Tag &tag, const char *id)
{
    const TagLib::ID3v2::FrameList frames = tag.frameList(id);
    if (frames.isEmpty())
        return {};
    const auto *frame = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame *>(frames.front());
    if (!frame)
        return frames.front()->toString().to8Bit(true);
    const bool genre = std::strcmp(id, "TCON") == 0;
    std::vector<std::string> values;
    for (const TagLib::String &field : frame->fieldList()) {
        std::string value = field.to8Bit(true);
        if (genre && !value.empty() && value.size() <= 3
            && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            const TagLib::String name = TagLib::ID3v1::genre(std::stoi(value));
            if (!name.isEmpty())
                value = name.to8Bit(true);
        } else if (genre && (value == "RX" || value == "CR")) {
            value = value == "RX" ? "Remix" : "Cover";
        }
        if (!value.empty() && std::find(values.begin(), values.end(), value) == values.end())
            values.push_back(std::move(value));
    }
    std::string out;
    for (const std::string &value : values)
        out += (out.empty() ? "" : " / ") + value;
    return out;
}

// Reads a tag with read(); when two or more of its Latin-1 fields needed judging, reads it
// again with their evidence added up.
template <class Read> auto judgedTogether(Read read) -> decltype(read())
{
    TagJudgement judgement;
    const JudgementScope scope(judgement);
    auto f = read();
    if (judgement.judgedFields < 2)
        return f;
    judgement.collecting = false;
    return read();
}

// bytes is taken and let go as soon as TagLib has its own copy.
Fields id3v2Fields(std::string bytes)
{
    if (bytes.empty())
        return {};
    MemoryFile file(bytes);
    std::string().swap(bytes);
    return judgedTogether([&file] {
        Fields f;
        TagLib::ID3v2::Tag tag(&file, 0);
        if (tag.header()->majorVersion() < 2 || tag.header()->tagSize() == 0)
            return f;
        f = commonFields(tag);
        f.title = joinedText(tag, "TIT2");
        f.artist = joinedText(tag, "TPE1");
        f.album = joinedText(tag, "TALB");
        f.genreName = joinedText(tag, "TCON");
        const std::string first = f.genreName.substr(0, f.genreName.find(" / "));
        const int index = first.empty() ? 255 : TagLib::ID3v1::genreIndex(fromUtf8(first));
        f.genre = index >= 0 && index < 255 ? index : -1;
        return f;
    });
}

Fields id3v1Fields(const std::string &bytes)
{
    if (bytes.size() != 128 || bytes.compare(0, 3, "TAG") != 0)
        return {};
    MemoryFile file(bytes);
    return judgedTogether([&file] {
        TagLib::ID3v1::Tag tag(&file, 0);
        Fields f = commonFields(tag);
        const unsigned int number = tag.genreNumber();
        const TagLib::String name = TagLib::ID3v1::genre(static_cast<int>(number));
        if (!name.isEmpty()) {
            f.genre = static_cast<int>(number);
            f.genreName = name.to8Bit(true);
        }
        return f;
    });
}

const std::string &pick(const std::string &preferred, const std::string &fallback)
{
    return preferred.empty() ? fallback : preferred;
}

} // namespace

bool readTagInfo(ByteReader &reader, TagInfo *tag)
{
    if (tag)
        std::memset(tag, 0, sizeof *tag);
    if (!tag)
        return true;
    installStringHandlers();

    // A container with tags of its own: they are the richest.  When it has none with a
    // text (a Monkey's Audio file with an ID3v2 tag alone), the ID3 tags below are read.
    if (const std::optional<FileKind> kind = containerKind(reader); kind && isTagLibKind(*kind)) {
        const std::optional<FormatTags> own = readFormatTags(reader, *kind);
        if (own && !(own->title + own->artist + own->album + own->year + own->comment + own->genreName).empty()) {
            fillField(tag->title, sizeof tag->title, own->title);
            fillField(tag->artist, sizeof tag->artist, own->artist);
            fillField(tag->album, sizeof tag->album, own->album);
            fillField(tag->year, sizeof tag->year - 1, own->year);
            fillField(tag->comment, sizeof tag->comment, own->comment);
            tag->genre = own->genre;
            fillField(tag->genreName, sizeof tag->genreName, own->genreName);
            return true;
        }
    }

    uint64_t id3v2Offset = 0;
    uint64_t id3v1End = reader.size(); // where an ID3v1 tag would end
    const std::string form = riffFormType(reader);
    if (form == "RMP3") {
        // The data chunk may wrap a whole MP3 file, with its tags at both ends; an ID3v1
        // tag may also end the RIFF file.
        const std::optional<RiffChunk> data = findRiffChunk(reader, "data");
        if (!data)
            return true;
        id3v2Offset = data->offset;
        if (data->size >= 128 && reader.read(data->offset + data->size - 128, 3) == "TAG")
            id3v1End = data->offset + data->size;
    } else if (!form.empty()) {
        return true; // WAV and AVI carry no ID3 tags that are read here
    }

    const Fields v2 = id3v2Fields(id3v2TagBytes(reader, id3v2Offset));
    const Fields v1 = id3v1End >= 128 ? id3v1Fields(reader.read(id3v1End - 128, 128)) : Fields();
    if (!v2.present && !v1.present)
        return true;

    fillField(tag->title, sizeof tag->title, pick(v2.title, v1.title));
    fillField(tag->artist, sizeof tag->artist, pick(v2.artist, v1.artist));
    fillField(tag->album, sizeof tag->album, pick(v2.album, v1.album));
    fillField(tag->year, sizeof tag->year - 1, pick(v2.year, v1.year));
    fillField(tag->comment, sizeof tag->comment, pick(v2.comment, v1.comment));
    const Fields &genreSource = v2.genreName.empty() ? v1 : v2;
    tag->genre = genreSource.genre;
    fillField(tag->genreName, sizeof tag->genreName, genreSource.genreName);
    return true;
}

namespace
{

// An LRC line "[mm:ss.xx]text" for a synchronised lyrics entry at ms.
std::string lrcLine(int64_t ms, const std::string &text)
{
    char stamp[32];
    std::snprintf(
        stamp, sizeof stamp, "[%02" PRId64 ":%02" PRId64 ".%02" PRId64 "]", ms / 60000, ms / 1000 % 60, ms / 10 % 100);
    return stamp + text;
}

// The lyrics of an ID3v2 tag (bytes from id3v2TagBytes with Id3v2Frames::Lyrics).
std::optional<std::string> id3v2Lyrics(std::string bytes)
{
    if (bytes.empty())
        return std::nullopt;
    MemoryFile file(bytes);
    std::string().swap(bytes);
    TagLib::ID3v2::Tag tag(&file, 0);
    const auto frames = [&tag](const char *id, const char *v22) {
        return tag.header()->majorVersion() == 2 ? tag.frameList(v22) : tag.frameList(id);
    };
    for (TagLib::ID3v2::Frame *frame : frames("SYLT", "SLT")) {
        const auto *sylt = dynamic_cast<TagLib::ID3v2::SynchronizedLyricsFrame *>(frame);
        if (!sylt || sylt->type() != TagLib::ID3v2::SynchronizedLyricsFrame::Lyrics || sylt->synchedText().isEmpty())
            continue;
        // Stamps in MPEG frames are taken at 1152 samples of 44.1 kHz each.
        const bool frameStamps = sylt->timestampFormat() == TagLib::ID3v2::SynchronizedLyricsFrame::AbsoluteMpegFrames;
        std::string text;
        for (const auto &entry : sylt->synchedText()) {
            const int64_t ms = frameStamps ? int64_t(entry.time) * 1152 * 1000 / 44100 : int64_t(entry.time);
            // An entry may begin with the line break that ends the line before it.
            std::string line = entry.text.to8Bit(true);
            line.erase(0, line.find_first_not_of("\r\n"));
            line.erase(std::min(line.size(), line.find_first_of("\r\n")));
            text += lrcLine(ms, line) + '\n';
        }
        return text;
    }
    for (TagLib::ID3v2::Frame *frame : frames("USLT", "ULT")) {
        const auto *uslt = dynamic_cast<TagLib::ID3v2::UnsynchronizedLyricsFrame *>(frame);
        const std::string text = uslt ? uslt->text().to8Bit(true) : std::string();
        if (!text.empty())
            return text;
    }
    return std::nullopt;
}

} // namespace

GainTags id3v2GainTags(ByteReader &reader, uint64_t offset)
{
    GainTags tags;
    std::string bytes = id3v2TagBytes(reader, offset, Id3v2Frames::Gain);
    if (bytes.empty())
        return tags;
    MemoryFile file(bytes);
    std::string().swap(bytes);
    const TagLib::ID3v2::Tag tag(&file, 0);
    // RVA2 first: a TXXX value of the same field overrides it.  The fields are read from
    // the frame's bytes: TagLib keeps each channel's type byte as its enum, which a damaged
    // frame fills with values the enum does not have.
    for (TagLib::ID3v2::Frame *frame : tag.frameList("RVA2")) {
        const TagLib::ByteVector rendered = frame->render();
        if (frame->size() > rendered.size())
            continue;
        const std::string fields(rendered.data() + (rendered.size() - frame->size()), frame->size());
        const size_t nul = fields.find('\0');
        if (nul == std::string::npos)
            continue;
        std::string name = fields.substr(0, nul);
        std::transform(
            name.begin(), name.end(), name.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
        const bool album = name == "ALBUM";
        if (!album && name != "TRACK")
            continue;
        // Channels: a type (1: master volume), the adjustment in 1/512 dB (signed, big
        // endian), the bits of the peak and the peak, full scale at 2^(bits - 1).
        const auto *p = reinterpret_cast<const unsigned char *>(fields.data());
        for (size_t at = nul + 1; at + 4 <= fields.size();) {
            const unsigned bits = p[at + 3];
            const size_t peakBytes = (bits + 7) / 8;
            if (at + 4 + peakBytes > fields.size())
                break;
            if (p[at] == 1) {
                (album ? tags.albumGain : tags.trackGain) = int16_t(p[at + 1] << 8 | p[at + 2]) / 512.0;
                if (bits > 0 && bits <= 32) {
                    double peak = 0;
                    for (size_t i = 0; i < peakBytes; ++i)
                        peak = peak * 256 + p[at + 4 + i];
                    (album ? tags.albumPeak : tags.trackPeak) = peak / double(uint64_t(1) << (bits - 1));
                }
                break;
            }
            at += 4 + peakBytes;
        }
    }
    for (TagLib::ID3v2::Frame *frame : tag.frameList("TXXX")) {
        const auto *txxx = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame *>(frame);
        const TagLib::StringList fields = txxx ? txxx->fieldList() : TagLib::StringList();
        if (fields.size() < 2)
            continue;
        const std::string name = fields[0].upper().to8Bit(true);
        std::optional<double> *field = name == "REPLAYGAIN_TRACK_GAIN" ? &tags.trackGain
            : name == "REPLAYGAIN_TRACK_PEAK"                          ? &tags.trackPeak
            : name == "REPLAYGAIN_ALBUM_GAIN"                          ? &tags.albumGain
            : name == "REPLAYGAIN_ALBUM_PEAK"                          ? &tags.albumPeak
                                                                       : nullptr;
        if (field)
            if (const std::optional<double> value = gainNumber(fields[1].to8Bit(true)))
                *field = value;
    }
    return tags;
}

namespace
{

// A sort tag's texts, in the record's order: title, artist, album, album artist.
using SortTexts = std::array<std::string, 4>;

SortTexts id3v2SortTexts(std::string bytes)
{
    if (bytes.empty())
        return {};
    MemoryFile file(bytes);
    std::string().swap(bytes);
    return judgedTogether([&file] {
        const TagLib::ID3v2::Tag tag(&file, 0);
        // TagLib gives the frames of a 2.2 tag their 2.4 names (TST as TSOT, ...).
        return SortTexts { joinedText(tag, "TSOT"), joinedText(tag, "TSOP"), joinedText(tag, "TSOA"),
            joinedText(tag, "TSO2") };
    });
}

} // namespace

bool readSortTags(ByteReader &reader, SortTags *tags)
{
    if (tags)
        std::memset(tags, 0, sizeof *tags);
    installStringHandlers();
    SortTexts texts;
    if (const std::optional<FileKind> kind = containerKind(reader); kind && isTagLibKind(*kind)) {
        if (const std::optional<FormatTags> own = readFormatTags(reader, *kind))
            texts = { own->titleSort, own->artistSort, own->albumSort, own->albumArtistSort };
    } else {
        uint64_t offset = 0;
        const std::string form = riffFormType(reader);
        if (form == "RMP3") {
            const std::optional<RiffChunk> data = findRiffChunk(reader, "data");
            if (!data)
                return false;
            offset = data->offset;
        } else if (!form.empty()) {
            return false;
        }
        texts = id3v2SortTexts(id3v2TagBytes(reader, offset, Id3v2Frames::Sort));
    }
    if (tags) {
        fillField(tags->title, sizeof tags->title, texts[0]);
        fillField(tags->artist, sizeof tags->artist, texts[1]);
        fillField(tags->album, sizeof tags->album, texts[2]);
        fillField(tags->albumArtist, sizeof tags->albumArtist, texts[3]);
    }
    return std::any_of(texts.begin(), texts.end(), [](const std::string &t) { return !t.empty(); });
}

bool readSortTags(const std::string &path, SortTags *tags)
{
    return parseFileInto(path, tags, [](ByteReader &reader, SortTags *r) { return readSortTags(reader, r); });
}

std::optional<std::string> readEmbeddedLyrics(ByteReader &reader)
{
    installStringHandlers();
    if (const std::optional<FileKind> kind = containerKind(reader); kind && isTagLibKind(*kind)) {
        std::optional<FormatTags> own = readFormatTags(reader, *kind);
        if (own && !own->lyrics.empty())
            return std::move(own->lyrics);
        return std::nullopt;
    }
    uint64_t offset = 0;
    const std::string form = riffFormType(reader);
    if (form == "RMP3") {
        const std::optional<RiffChunk> data = findRiffChunk(reader, "data");
        if (!data)
            return std::nullopt;
        offset = data->offset;
    } else if (!form.empty()) {
        return std::nullopt;
    }
    return id3v2Lyrics(id3v2TagBytes(reader, offset, Id3v2Frames::Lyrics));
}

std::optional<std::string> readEmbeddedLyrics(const std::string &path)
{
    FileReader reader(path);
    if (!reader.isOpen())
        return std::nullopt;
    try {
        return readEmbeddedLyrics(reader);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

bool readTagInfo(const std::string &path, TagInfo *tag)
{
    return parseFileInto(path, tag, [](ByteReader &reader, TagInfo *r) { return readTagInfo(reader, r); });
}

} // namespace vbmp3
