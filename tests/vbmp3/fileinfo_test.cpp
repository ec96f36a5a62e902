// File inspection of vbmp3: type codes, tags, RIFF INFO, MPEG facts, Lyrics3.
#include "enginetestsupport.h"
#include "fileinfo.h"
#include "fileparse.h"
#include "mpegheader.h"

#include <textcodec.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

namespace fs = std::filesystem;

namespace
{

using namespace enginetest;
using Texts = std::pair<std::string, std::string>;

std::string field(const char *f, size_t n = 128)
{
    return std::string(f, strnlen(f, n));
}

std::string cp932(const std::string &utf8)
{
    return kes::utf8ToCp932(utf8);
}

// An ID3v2.3 or 2.4 tag of the given frames (id, body).
std::string id3v2(const Pairs &frames, int version = 3)
{
    const auto be32 = [](size_t v, int bits) { // bits 7: synchsafe
        const size_t m = (1u << bits) - 1;
        return std::string { char((v >> 3 * bits) & m), char((v >> 2 * bits) & m), char((v >> bits) & m), char(v & m) };
    };
    std::string body;
    for (const auto &[id, data] : frames)
        body += id + be32(data.size(), version == 4 ? 7 : 8) + std::string(2, '\0') + data;
    return "ID3" + std::string { char(version), 0, 0 } + be32(body.size(), 7) + body;
}

std::string utf16Text(const std::u16string &s)
{
    std::string out = "\x01\xFF\xFE";
    for (char16_t c : s)
        out += { char(c & 0xFF), char(c >> 8) };
    return out;
}

std::string lyrics3v1(const std::string &text)
{
    return "LYRICSBEGIN" + text + "LYRICSEND";
}

// Bytes in memory that count how often and how much the parsers read.
class CountingReader : public vbmp3::ByteReader
{
public:
    explicit CountingReader(std::string bytes)
        : m_bytes(std::move(bytes))
        , m_memory(m_bytes)
    {
    }
    uint64_t size() const override { return m_memory.size(); }
    size_t readAt(uint64_t offset, void *buf, size_t n) override
    {
        ++reads;
        bytes += n;
        return m_memory.readAt(offset, buf, n);
    }
    size_t reads = 0;
    uint64_t bytes = 0;

private:
    std::string m_bytes;
    vbmp3::MemoryReader m_memory;
};

// Audio made once for the whole test program with sox and lame.
class Fixtures : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/vbmp3-fileinfo-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        s_dir = tmpl;
        const std::string script = "cd '" + s_dir.string() + "' && sox -n -r 44100 -c 2 -b 16 t.wav synth 1 sine 440"
            + " && lame --quiet -b 128 t.wav cbr.mp3 && lame --quiet -b 128 -t t.wav bare.mp3"
            + " && lame --quiet -V 2 t.wav vbr.mp3 && lame --quiet -b 64 --resample 22.05 t.wav mpeg2.mp3"
            + " && lame --quiet -b 128 --add-id3v2 --tt T --ta A --tl L t.wav tagged.mp3";
        ASSERT_EQ(std::system(script.c_str()), 0) << "sox and lame make the fixtures";
        s_cbr = readFile(s_dir / "cbr.mp3");
        ASSERT_GT(s_cbr.size(), 10000u);
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    static std::string write(const std::string &name, const std::string &bytes)
    {
        return writeFile(s_dir / name, bytes);
    }

    static inline fs::path s_dir;
    static inline std::string s_cbr; // 1 s, 128 kb/s, with a LAME Info frame, no tags
};

TEST_F(Fixtures, TypeCodesAndAudioRange)
{
    const std::string mp3 = s_cbr;
    const int64_t n = int64_t(mp3.size());
    const std::string tag = id3v2({ { "TIT2", std::string("\0T", 2) } });
    const int64_t t = int64_t(tag.size());
    const std::string rmp = riff("RMP3", chunk("data", mp3) + infoList({ { "INAM", "x" } }));
    const std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
    const std::string apev2 = "APETAGEX" + le32(2000) + le32(32) + le32(0) + le32(0) + std::string(8, '\0');
    const int64_t firstFrame = 417 + ((static_cast<unsigned char>(mp3[2]) >> 1) & 1); // 128 kb/s, 44.1 kHz
    const struct {
        const char *name;
        std::string bytes;
        int32_t code;
        int64_t audioOffset, audioSize; // offset -1: not checked
    } cases[] = {
        { "plain mp3", mp3, 0, 0, n },
        { "mp3 with lame's ID3v2 and ID3v1", readFile(s_dir / "tagged.mp3"), 16, -1, -1 },
        { "ID3v2 then tag padding", tag + std::string(300, '\0') + mp3, 0, t + 300, n },
        { "junk before the first frame", std::string(700, 'j') + mp3, 0, 700, n },
        { "ID3v1", mp3 + id3v1("a", "b"), 16, 0, n },
        { "Lyrics3 v2 before ID3v1", mp3 + lyrics3v2({ { "LYR", "la" } }) + id3v1("a", "b"), 48, 0, n },
        { "Lyrics3 v1 before ID3v1", mp3 + lyrics3v1("la\r\nla") + id3v1("a", "b"), 48, 0, n },
        { "Lyrics3 without ID3v1", mp3 + lyrics3v2({ { "LYR", "la" } }), 0, 0, n },
        { "APEv2 and Lyrics3 before ID3v1", mp3 + apev2 + lyrics3v2({ { "LYR", "x" } }) + id3v1("a", "b"), 48, 0, n },
        { "WAV", readFile(s_dir / "t.wav"), 1, -1, -1 },
        { "RMP", rmp, 2, 20, n },
        { "RMP with ID3v1", rmp + id3v1("a", "b"), 18, 20, n },
        { "RMP with Lyrics3 and ID3v1", rmp + lyrics3v1("x") + id3v1("a", "b"), 50, 20, n },
        { "RMP whose data size lies", riff("RMP3", "data" + le32(0x7FFFFFF0) + mp3.substr(0, 5000)), 2, 20, 5000 },
        { "RMP without data chunk", riff("RMP3", infoList({ { "INAM", "x" } })), -1, -1, -1 },
        { "RMP wrapping an MP3 with ID3v1", riff("RMP3", chunk("data", mp3 + id3v1("a", "b")) + infoList({})), 18, 20,
            n },
        { "AVI", riff("AVI ", chunk("LIST", "hdrl")), 8, -1, -1 },
        { "MPEG program stream", std::string("\x00\x00\x01\xBA\x44\x00\x04\x00", 8) + std::string(2000, '\0'), 8, -1,
            -1 },
        { "ASF", asf + std::string(100, '\0'), 8, -1, -1 },
        { "text", std::string(5000, 'a') + "\xFF\xFB then more text", -1, -1, -1 },
        { "ID3v2 only", tag, -1, -1, -1 },
        { "empty", "", -1, -1, -1 },
        { "one frame alone", mp3.substr(0, size_t(firstFrame)), 0, 0, firstFrame },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const vbmp3::FileLayout layout = vbmp3::probeFile(write("type", c.bytes));
        EXPECT_EQ(vbmp3::fileTypeCode(layout), c.code);
        if (c.audioOffset >= 0) {
            EXPECT_EQ(int64_t(layout.audioOffset), c.audioOffset);
            EXPECT_EQ(int64_t(layout.audioSize), c.audioSize);
        }
    }
    EXPECT_EQ(vbmp3::fileTypeCode(vbmp3::probeFile((s_dir / "missing.mp3").string())), -1);
    EXPECT_EQ(vbmp3::fileTypeCode(vbmp3::probeFile(s_dir.string())), -1) << "a folder is no file";
}

TEST_F(Fixtures, TagTextsAndEncodings)
{
    const std::string sjisTitle = "夜空ノムコウ";
    const struct {
        const char *name;
        std::string head, tail; // before and after the audio
        std::string title, artist, album, year, genreName;
        int32_t genre;
    } cases[] = {
        { "CP932 ID3v1", "", id3v1(cp932(sjisTitle), cp932("スマップ"), "Album", 13), sjisTitle, "スマップ", "Album",
            "2001", "Pop", 13 },
        { "UTF-16 ID3v2.3 over a CP932 ID3v1",
            id3v2({ { "TIT2", utf16Text(u"日本語のタイトル") }, { "TPE1", utf16Text(u"歌手") },
                { "TCON", std::string("\0(17)", 5) } }),
            id3v1(cp932("別の題名"), "v1 artist", cp932("アルバム"), 8), "日本語のタイトル", "歌手", "アルバム", "2001",
            "Rock", 17 },
        { "UTF-8 ID3v2.4",
            id3v2({ { "TIT2", "\x03Grüße" },
                      { "TDRC",
                          "\x03"
                          "1999-12-31" },
                      { "TCON", "\x03Vaporwave" } },
                4),
            "", "Grüße", "", "", "1999", "Vaporwave", -1 },
        { "CP932 in a Latin-1 ID3v2 frame", id3v2({ { "TALB", std::string(1, '\0') + cp932("海の詩") } }), "", "", "",
            "海の詩", "", "", -1 },
        { "real Latin-1 in ID3v2", id3v2({ { "TPE1", std::string("\0Bj\xF6rk", 6) } }), "", "", "Björk", "", "", "",
            -1 },
        { "CP932 ID3v1 fields cut in the middle of a character", "",
            id3v1("X" + cp932("あいうえおかきくけこさしすせそ").substr(0, 29),
                "Mr.Children 1" + cp932("名もなき詩の歌詞です").substr(0, 17)),
            "Xあいうえおかきくけこさしすせ", "Mr.Children 1名もなき詩の歌詞", "", "2001", "", -1 },
        { "several values separated by NUL",
            id3v2({ { "TIT2", std::string("\0One\0Two\0", 9) },
                { "TPE1", utf16Text(u"歌手") + std::string("\0\0", 2) + utf16Text(u"B").substr(1) },
                { "TCON", std::string("\0(17)Rock\0Pop", 14) } }),
            "", "One / Two", "歌手 / B", "", "", "Rock / Pop", 17 },
    };
    TagInfo tag;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(vbmp3::readTagInfo(write("tags.mp3", c.head + s_cbr + c.tail), &tag));
        EXPECT_EQ(std::tuple(field(tag.title), field(tag.artist), field(tag.album), field(tag.year, 5), tag.year[4],
                      field(tag.genreName), tag.genre),
            std::tuple(c.title, c.artist, c.album, c.year, '\0', c.genreName, c.genre));
    }
    // A file without tags, or no file at all, leaves the record cleared.
    const TagInfo zero {};
    std::memset(&tag, 0x55, sizeof tag);
    ASSERT_TRUE(vbmp3::readTagInfo((s_dir / "cbr.mp3").string(), &tag));
    EXPECT_EQ(std::memcmp(&tag, &zero, sizeof tag), 0);
    std::memset(&tag, 0x55, sizeof tag);
    EXPECT_FALSE(vbmp3::readTagInfo((s_dir / "missing.mp3").string(), &tag));
    EXPECT_EQ(std::memcmp(&tag, &zero, sizeof tag), 0);
}

TEST_F(Fixtures, LongTextsFillTheFieldAtACharacterBoundary)
{
    const std::string ascii(200, 'x');
    std::string kana;
    for (int i = 0; i < 50; ++i)
        kana += "あ"; // 3 bytes each
    // A cover picture large enough that only the text frames are read from the tag.
    const std::string picture = std::string("\0image/jpeg\0\3\0", 14) + std::string(700 * 1024, '\xAB');
    TagInfo tag;
    ASSERT_TRUE(vbmp3::readTagInfo(
        write(
            "long.mp3", id3v2({ { "APIC", picture }, { "TIT2", "\x03" + ascii }, { "TPE1", "\x03" + kana } }) + s_cbr),
        &tag));
    EXPECT_EQ(std::string(tag.title, 128), ascii.substr(0, 128)) << "all 128 bytes, no NUL";
    EXPECT_EQ(std::string(tag.artist, 128), kana.substr(0, 126) + std::string(2, '\0'));
}

TEST_F(Fixtures, ListInfoOfRmpAndWav)
{
    const std::string info = infoList({ { "INAM", cp932("題名") }, { "IART", "Artist" }, { "IPRD", "Odd" },
        { "XXXX", "ignored" }, { "ICMT", "comment" }, { "ISRF", "CD" } });
    ListInfo list;
    for (const std::string &bytes :
        { riff("RMP3", chunk("data", s_cbr) + info), riff("RMP3", info + chunk("data", s_cbr)) + id3v1("v1", "v1"),
            riff("WAVE", chunk("fmt ", std::string(16, '\0')) + info) }) {
        ASSERT_TRUE(vbmp3::readListInfo(write("list.rmp", bytes), &list));
        for (const auto &[index, text] : { std::pair<int, std::string> { 0, "題名" }, { 1, "Artist" }, { 2, "Odd" },
                 { 3, "" }, { 5, "comment" }, { 13, "CD" } })
            EXPECT_EQ(field(list.text[index]), text) << index;
    }
    // A LIST chunk after the declared end of the form, with a text size that runs past the file.
    const std::string cut = riff("RMP3", chunk("data", s_cbr)) + "LIST" + le32(100) + "INFOINAM" + le32(5000) + "Cut";
    ASSERT_TRUE(vbmp3::readListInfo(write("cut.rmp", cut), &list));
    EXPECT_EQ(field(list.text[0]), "Cut");
    EXPECT_FALSE(vbmp3::readListInfo((s_dir / "missing.rmp").string(), &list));

    // RMP tags: an ID3v2 at the start of the data chunk and an ID3v1 at the end.
    TagInfo tag;
    const std::string tagged = riff("RMP3", chunk("data", id3v2({ { "TIT2", std::string("\0v2", 3) } }) + s_cbr) + info)
        + id3v1("v1 title", "v1 artist");
    ASSERT_TRUE(vbmp3::readTagInfo(write("tagged.rmp", tagged), &tag));
    EXPECT_EQ(std::pair(field(tag.title), field(tag.artist)), Texts("v2", "v1 artist"));
    // A whole tagged MP3 file wrapped in the data chunk.
    const std::string wrapped = riff("RMP3",
        chunk("data", id3v2({ { "TIT2", std::string("\0v2", 3) } }) + s_cbr + id3v1("v1 title", "v1 artist")) + info);
    ASSERT_TRUE(vbmp3::readTagInfo(write("wrapped.rmp", wrapped), &tag));
    EXPECT_EQ(std::pair(field(tag.title), field(tag.artist)), Texts("v2", "v1 artist"));
}

// Files made to be expensive cost no more than the budgets of the parsers allow.
TEST_F(Fixtures, HostileLayoutsStayWithinTheBudgets)
{
    // RIFF: many LIST/INFO chunks of empty texts, and many empty LIST chunks.
    std::string lists = infoList({ { "INAM", "first" } });
    std::string emptyTexts = "INFO";
    for (int i = 0; i < 1024; ++i)
        emptyTexts += "IXXX" + le32(0);
    for (int i = 0; i < 300; ++i)
        lists += chunk("LIST", emptyTexts);
    for (int i = 0; i < 100000; ++i)
        lists += "LIST" + le32(0);
    CountingReader riffReader(riff("RMP3", chunk("data", s_cbr) + lists));
    ListInfo list;
    ASSERT_TRUE(vbmp3::readListInfo(riffReader, &list));
    EXPECT_EQ(field(list.text[0]), "first");
    EXPECT_LT(riffReader.reads, 10000u);

    // MPEG: junk after every second frame costs about what a clean stream costs.
    const std::string bare = readFile(s_dir / "bare.mp3");
    std::string junked;
    for (size_t pos = 0, n = 1; pos + 4 <= bare.size(); ++n) {
        const auto h = vbmp3::parseMpegHeader(reinterpret_cast<const uint8_t *>(bare.data() + pos));
        ASSERT_TRUE(h.has_value());
        junked += bare.substr(pos, size_t(h->frameBytes())) + std::string(n % 2 ? 0 : 100, 'j');
        pos += size_t(h->frameBytes());
    }
    std::string cleanBytes, junkBytes;
    for (int i = 0; i < 10; ++i) {
        cleanBytes += bare;
        junkBytes += junked;
    }
    CountingReader clean(cleanBytes), junk(junkBytes);
    MpegInfo cleanInfo, junkInfo;
    ASSERT_TRUE(vbmp3::readMpegInfo(clean, &cleanInfo) && vbmp3::readMpegInfo(junk, &junkInfo));
    EXPECT_EQ(junkInfo.value[10], cleanInfo.value[10]) << "every frame counted";
    EXPECT_LE(junk.bytes, 3 * clean.bytes);
    EXPECT_LE(junk.reads, 3 * clean.reads);

    // ID3v2: a 40 MiB tag is reduced to its few used frames before TagLib sees it; the
    // same for an ID3v2.2 tag, whose frames have three-letter ids.
    Pairs frames(40, { "TXXX", std::string(1 << 20, 'x') });
    frames.push_back({ "TIT2", std::string("\0Title", 6) });
    const std::string bigTag = id3v2(frames) + bare;
    const auto synchsafe = [](size_t v) {
        return std::string { char(v >> 21 & 0x7F), char(v >> 14 & 0x7F), char(v >> 7 & 0x7F), char(v & 0x7F) };
    };
    const std::string pic = "PIC" + std::string { 0x50, 0, 0 } + std::string(0x500000, 'p');
    const std::string tt2 = std::string("TT2\0\0\x05\0Old2", 11);
    const std::string v22 = "ID3" + std::string { 2, 0, 0 } + synchsafe(pic.size() + tt2.size()) + pic + tt2 + bare;
    for (const auto &[name, bytes, title] :
        { std::tuple("ID3v2.3", bigTag, "Title"), std::tuple("ID3v2.2", v22, "Old2") }) {
        SCOPED_TRACE(name);
        CountingReader reader(bytes);
        TagInfo tag;
        ASSERT_TRUE(vbmp3::readTagInfo(reader, &tag));
        EXPECT_EQ(field(tag.title), title);
        EXPECT_LE(reader.bytes, 1u << 20);
        EXPECT_LE(vbmp3::id3v2TagBytes(reader, 0).size(), 1u << 20);
    }
}

TEST_F(Fixtures, MpegInfoOfCbrVbrMpeg2)
{
    const std::string id3 = id3v2({ { "TIT2", std::string("\0T", 2) } });
    const struct {
        const char *name;
        std::string bytes;
        int32_t version, layer, bitrate, rate, vbrHeader, firstFrame, minMs, maxMs; // bitrate -1: not checked
    } cases[] = {
        { "CBR with Info frame", s_cbr, 1, 3, 128, 44100, 1, 0, 1000, 1000 },
        { "VBR", readFile(s_dir / "vbr.mp3"), 1, 3, -1, 44100, 1, 0, 1000, 1000 },
        { "MPEG-2", readFile(s_dir / "mpeg2.mp3"), 2, 3, 64, 22050, 1, 0, 1000, 1000 },
        { "CBR counted, behind an ID3v2", id3 + readFile(s_dir / "bare.mp3"), 1, 3, 128, 44100, 0, int32_t(id3.size()),
            1000, 1060 },
        { "RMP", riff("RMP3", chunk("data", s_cbr)), 1, 3, 128, 44100, 1, 20, 1000, 1000 },
    };
    MpegInfo m;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(vbmp3::readMpegInfo(write("info.mp3", c.bytes), &m));
        const int32_t *v = m.value;
        // Version, layer, bitrate, rate, mode (lame writes joint stereo), VBR header, first frame.
        EXPECT_EQ(std::tuple(v[0], v[1], c.bitrate < 0 ? -1 : v[2], v[3], v[4], v[12], v[13]),
            std::tuple(c.version, c.layer, c.bitrate, c.rate, 1, c.vbrHeader, c.firstFrame));
        EXPECT_GE(v[11], c.minMs);
        EXPECT_LE(v[11], c.maxMs);
        EXPECT_NEAR(double(v[10]), (v[11] / 1000.0) * c.rate / (c.version == 1 ? 1152 : 576), 3.0)
            << "frames agree with the length";
    }
    std::memset(&m, 0x55, sizeof m);
    ASSERT_TRUE(vbmp3::readMpegInfo((s_dir / "t.wav").string(), &m));
    const MpegInfo zero {};
    EXPECT_EQ(std::memcmp(&m, &zero, sizeof m), 0) << "nothing applies to WAV";
}

TEST_F(Fixtures, Lyrics3Texts)
{
    const struct {
        const char *name;
        std::string tail;
        std::optional<std::string> text;
    } cases[] = {
        { "v1, CP932", lyrics3v1(cp932("[00:01]一行目\r\n[00:02]二行目")) + id3v1("a", "b"),
            "[00:01]一行目\n[00:02]二行目" },
        { "v2, LYR after another field", lyrics3v2({ { "IND", "11" }, { "LYR", "one\r\ntwo" } }) + id3v1("a", "b"),
            "one\ntwo" },
        { "v2 without LYR", lyrics3v2({ { "ETT", "title" } }) + id3v1("a", "b"), std::nullopt },
        { "no Lyrics3", id3v1("a", "b"), std::nullopt },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vbmp3::readLyrics3(write("l3.mp3", s_cbr + c.tail)), c.text);
    }
    // A LYR field that claims more than the tag holds is cut to the tag.
    std::string lying = lyrics3v2({ { "LYR", "short text" } });
    lying.replace(lying.find("LYR", 11) + 3, 5, "99999");
    const auto text = vbmp3::readLyrics3(write("lying.mp3", s_cbr + lying + id3v1("a", "b")));
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->starts_with("short text"));
    EXPECT_LT(text->size(), 40u);
}

// Files of other projects' test suites: real-world tags and layouts, and broken files that
// must not crash any of the readers.
class SharedTestdata : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!fs::is_directory(m_root / "atldotnet"))
            GTEST_SKIP() << "shared test data not found at " << m_root;
    }
    std::string path(const char *rel) const { return (m_root / rel).string(); }
    const fs::path m_root = KESTRINE_SHARED_TESTDATA;
};

TEST_F(SharedTestdata, KnownTags)
{
    const struct {
        const char *file, *title, *artist;
    } cases[] = {
        { "atldotnet/ID3v2.2 UTF16.mp3", "bébé", "父" },
        { "atldotnet/ID3v2.2 ANSI charset only.mp3", "noTagnoTag", "ARTIST" },
        { "atldotnet/id3v2.3_UTF16.mp3", "aa父bb", "֎FATHER֎" },
        { "atldotnet/id3v2.4_UTF8.mp3", "aa父bb", "֎FATHER֎" },
        { "atldotnet/id3v2.4_UTF8_extendedTag.mp3", "aa父bb", "֎FATHER֎" },
        { "music-metadata/id3v1_Blood_Sugar.mp3", "Blood Sugar", "Pendulum" },
        { "music-metadata/id3v2.2.mp3", "You Are The One", "Shiny Toy Guns" },
        { "mutagen/id3v23_unsynch.id3", "My babe just cares for me", "Nina Simone" },
        { "taglib/unsynch24.id3", "Hi", "" },
        { "mutagen/id3v24_extended_header.id3", "One Second of Silence", "Snild Dolkow" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        TagInfo tag;
        ASSERT_TRUE(vbmp3::readTagInfo(path(c.file), &tag));
        EXPECT_EQ(std::pair(field(tag.title), field(tag.artist)), Texts(c.title, c.artist));
    }
}

TEST_F(SharedTestdata, KnownLayouts)
{
    const struct {
        const char *file;
        int32_t code, bitrate, vbrHeader; // bitrate -1: not checked
    } cases[] = {
        { "music-metadata/APEv2+Lyrics3v2.mp3", 48, 128, 1 },
        { "mutagen/apev2-lyricsv2.mp3", 48, 192, 1 },
        { "mutagen/vbri.mp3", 0, -1, 2 },
        { "minimp3-vectors/l3-he_free.bit", 0, 0, 0 },
        { "atldotnet/garbage_before_header.mp3", 0, 64, 0 },
        { "music-metadata/issue-453.mp3", 16, 8, 0 },
        { "mutagen/silence-44-s-mpeg25.mp3", 0, 32, 1 },
        { "taglib/rf64.wav", 1, -1, 0 },
        { "mutagen/emptyfile.mp3", -1, -1, 0 },
        { "minimp3-vectors/l3-nonstandard-id3v2-only.bit", -1, -1, 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(vbmp3::fileTypeCode(vbmp3::probeFile(path(c.file))), c.code);
        MpegInfo m;
        ASSERT_TRUE(vbmp3::readMpegInfo(path(c.file), &m));
        EXPECT_EQ(std::pair(c.bitrate < 0 ? -1 : m.value[2], m.value[12]), std::pair(c.bitrate, c.vbrHeader));
    }
}

TEST_F(SharedTestdata, EveryFileIsReadWithoutHarm)
{
    int files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(m_root)) {
        const std::string p = entry.path().string();
        if (!entry.is_regular_file() || p.ends_with(".pcm") || p.ends_with(".md"))
            continue;
        SCOPED_TRACE(p);
        const vbmp3::FileLayout layout = vbmp3::probeFile(p);
        EXPECT_LE(layout.audioOffset + layout.audioSize, entry.file_size());
        TagInfo tag;
        MpegInfo mpeg;
        ListInfo list;
        EXPECT_TRUE(vbmp3::readTagInfo(p, &tag) && vbmp3::readMpegInfo(p, &mpeg) && vbmp3::readListInfo(p, &list));
        vbmp3::readLyrics3(p);
        for (const char *text : { tag.title, tag.artist, tag.album, tag.comment, tag.genreName })
            EXPECT_TRUE(kes::isValidUtf8(field(text)));
        EXPECT_TRUE(layout.kind != vbmp3::FileKind::Mpeg || mpeg.value[3] > 0) << "an MPEG file has a rate";
        ++files;
    }
    EXPECT_GT(files, 100);
}

} // namespace
