// File inspection of vbmp3: type codes, tags, RIFF INFO, MPEG facts, Lyrics3.
#include "fileinfo.h"

#include <textcodec.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vbmp3::FileKind;

namespace
{

std::string readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

void writeFile(const fs::path &p, const std::string &bytes)
{
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

std::string field(const char *f, size_t n)
{
    return std::string(f, strnlen(f, n));
}

std::string cp932(const std::string &utf8)
{
    return kes::text::utf8ToCp932(utf8);
}

std::string le32(uint32_t v)
{
    return { char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24) };
}

std::string be32(uint32_t v)
{
    return { char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF) };
}

std::string synchsafe(uint32_t v)
{
    return { char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F) };
}

std::string chunk(const std::string &id, const std::string &data)
{
    return id + le32(uint32_t(data.size())) + data + (data.size() % 2 ? std::string(1, '\0') : "");
}

std::string riff(const std::string &form, const std::string &chunks)
{
    return "RIFF" + le32(uint32_t(4 + chunks.size())) + form + chunks;
}

std::string infoList(const std::vector<std::pair<std::string, std::string>> &texts)
{
    std::string body = "INFO";
    for (const auto &[id, text] : texts)
        body += chunk(id, text + '\0');
    return chunk("LIST", body);
}

// An ID3v2.3 tag of the given frames (id, body).
std::string id3v23(const std::vector<std::pair<std::string, std::string>> &frames)
{
    std::string body;
    for (const auto &[id, data] : frames)
        body += id + be32(uint32_t(data.size())) + std::string(2, '\0') + data;
    return "ID3" + std::string("\x03\x00\x00", 3) + synchsafe(uint32_t(body.size())) + body;
}

std::string id3v24(const std::vector<std::pair<std::string, std::string>> &frames)
{
    std::string body;
    for (const auto &[id, data] : frames)
        body += id + synchsafe(uint32_t(data.size())) + std::string(2, '\0') + data;
    return "ID3" + std::string("\x04\x00\x00", 3) + synchsafe(uint32_t(body.size())) + body;
}

std::string padded(const std::string &s, size_t n)
{
    return s.substr(0, n) + std::string(n - std::min(n, s.size()), '\0');
}

std::string id3v1(
    const std::string &title, const std::string &artist, const std::string &album = {}, unsigned char genre = 255)
{
    return "TAG" + padded(title, 30) + padded(artist, 30) + padded(album, 30) + "2001" + padded("note", 30)
        + std::string(1, char(genre));
}

std::string utf16Text(const std::u16string &s)
{
    std::string out = "\x01\xFF\xFE";
    for (char16_t c : s) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

std::string lyrics3v1(const std::string &text)
{
    return "LYRICSBEGIN" + text + "LYRICSEND";
}

std::string lyrics3v2(const std::vector<std::pair<std::string, std::string>> &fields)
{
    std::string body = "LYRICSBEGIN";
    char size[16];
    for (const auto &[id, data] : fields) {
        std::snprintf(size, sizeof size, "%05zu", data.size());
        body += id + size + data;
    }
    std::snprintf(size, sizeof size, "%06zu", body.size());
    return body + size + "LYRICS200";
}

std::string apev2Footer()
{
    // A footer-only APEv2 tag without items: 32 bytes, size 32.
    return "APETAGEX" + le32(2000) + le32(32) + le32(0) + le32(0) + std::string(8, '\0');
}

// Audio made once for the whole test program with sox and lame.
class Fixtures : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/vbmp3-fileinfo-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        s_dir = tmpl;
        const std::string d = s_dir.string();
        const std::string script = "cd '" + d + "' && sox -n -r 44100 -c 2 -b 16 t.wav synth 1 sine 440"
            + " && lame --quiet -b 128 t.wav cbr.mp3" + " && lame --quiet -b 128 -t t.wav bare.mp3"
            + " && lame --quiet -V 2 t.wav vbr.mp3" + " && lame --quiet -b 64 --resample 22.05 t.wav mpeg2.mp3"
            + " && lame --quiet -b 128 --add-id3v2 --tt T --ta A --tl L t.wav tagged.mp3";
        ASSERT_EQ(std::system(script.c_str()), 0) << "sox and lame make the fixtures";
        s_cbr = readFile(s_dir / "cbr.mp3");
        s_bare = readFile(s_dir / "bare.mp3");
        ASSERT_GT(s_cbr.size(), 10000u);
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }

    static fs::path write(const std::string &name, const std::string &bytes)
    {
        const fs::path p = s_dir / name;
        writeFile(p, bytes);
        return p;
    }

    static inline fs::path s_dir;
    static inline std::string s_cbr; // 1 s, 128 kb/s, with a LAME Info frame, no tags
    static inline std::string s_bare; // the same without the Info frame
};

struct TypeCase {
    const char *name;
    std::string bytes;
    int32_t code;
    int64_t audioOffset; // -1: not checked
    int64_t audioSize;
};

TEST_F(Fixtures, TypeCodesAndAudioRange)
{
    const std::string mp3 = s_cbr;
    const int64_t n = int64_t(mp3.size());
    const std::string tag = id3v23({ { "TIT2", std::string("\0T", 2) } });
    const int64_t t = int64_t(tag.size());
    const std::string data = chunk("data", mp3);
    const std::string rmp = riff("RMP3", data + infoList({ { "INAM", "x" } }));
    const std::string asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
    const std::string lyingRmp = riff("RMP3", "data" + le32(0x7FFFFFF0) + mp3.substr(0, 5000));
    const int64_t firstFrame = 417 + ((static_cast<unsigned char>(mp3[2]) >> 1) & 1); // 128 kb/s, 44.1 kHz
    const std::vector<TypeCase> cases = {
        { "plain mp3", mp3, 0, 0, n },
        { "mp3 with lame's ID3v2 and ID3v1", readFile(s_dir / "tagged.mp3"), 16, -1, -1 },
        { "ID3v2 then tag padding", tag + std::string(300, '\0') + mp3, 0, t + 300, n },
        { "junk before the first frame", std::string(700, 'j') + mp3, 0, 700, n },
        { "ID3v1", mp3 + id3v1("a", "b"), 16, 0, n },
        { "Lyrics3 v2 before ID3v1", mp3 + lyrics3v2({ { "LYR", "la" } }) + id3v1("a", "b"), 48, 0, n },
        { "Lyrics3 v1 before ID3v1", mp3 + lyrics3v1("la\r\nla") + id3v1("a", "b"), 48, 0, n },
        { "Lyrics3 without ID3v1", mp3 + lyrics3v2({ { "LYR", "la" } }), 0, 0, n },
        { "APEv2 and Lyrics3 before ID3v1", mp3 + apev2Footer() + lyrics3v2({ { "LYR", "x" } }) + id3v1("a", "b"), 48,
            0, n },
        { "WAV", readFile(s_dir / "t.wav"), 1, -1, -1 },
        { "RMP", rmp, 2, 20, n },
        { "RMP with ID3v1", rmp + id3v1("a", "b"), 18, 20, n },
        { "RMP with Lyrics3 and ID3v1", rmp + lyrics3v1("x") + id3v1("a", "b"), 50, 20, n },
        { "RMP whose data size lies", lyingRmp, 2, 20, 5000 },
        { "RMP without data chunk", riff("RMP3", infoList({ { "INAM", "x" } })), -1, -1, -1 },
        { "AVI", riff("AVI ", chunk("LIST", "hdrl")), 8, -1, -1 },
        { "MPEG program stream", std::string("\x00\x00\x01\xBA\x44\x00\x04\x00", 8) + std::string(2000, '\0'), 8, -1,
            -1 },
        { "ASF", asf + std::string(100, '\0'), 8, -1, -1 },
        { "text", std::string(5000, 'a') + "\xFF\xFB then more text", -1, -1, -1 },
        { "ID3v2 only", tag, -1, -1, -1 },
        { "empty", "", -1, -1, -1 },
        { "one frame alone", mp3.substr(0, size_t(firstFrame)), 0, 0, firstFrame },
    };
    for (const TypeCase &c : cases) {
        SCOPED_TRACE(c.name);
        const vbmp3::FileLayout layout = vbmp3::probeFile(write("type", c.bytes).string());
        EXPECT_EQ(vbmp3::fileTypeCode(layout), c.code);
        if (c.audioOffset >= 0) {
            EXPECT_EQ(int64_t(layout.audioOffset), c.audioOffset);
            EXPECT_EQ(int64_t(layout.audioSize), c.audioSize);
        }
    }
    EXPECT_EQ(vbmp3::fileTypeCode(vbmp3::probeFile((s_dir / "missing.mp3").string())), -1);
    EXPECT_EQ(vbmp3::fileTypeCode(vbmp3::probeFile(s_dir.string())), -1) << "a folder is no file";
}

TEST_F(Fixtures, TagsFromLameAndNoTags)
{
    TagInfo tag;
    ASSERT_TRUE(vbmp3::readTagInfo((s_dir / "tagged.mp3").string(), &tag));
    EXPECT_EQ(field(tag.title, 128), "T");
    EXPECT_EQ(field(tag.artist, 128), "A");
    EXPECT_EQ(field(tag.album, 128), "L");

    std::memset(&tag, 0x55, sizeof tag);
    ASSERT_TRUE(vbmp3::readTagInfo((s_dir / "cbr.mp3").string(), &tag));
    const TagInfo zero {};
    EXPECT_EQ(std::memcmp(&tag, &zero, sizeof tag), 0) << "a file without tags leaves the record cleared";

    std::memset(&tag, 0x55, sizeof tag);
    EXPECT_FALSE(vbmp3::readTagInfo((s_dir / "missing.mp3").string(), &tag));
    EXPECT_EQ(std::memcmp(&tag, &zero, sizeof tag), 0);
}

struct TagCase {
    const char *name;
    std::string head; // before the audio
    std::string tail; // after it
    std::string title, artist, album, year, genreName;
    int32_t genre;
};

TEST_F(Fixtures, TagTextsAndEncodings)
{
    const std::string sjisTitle = "夜空ノムコウ";
    const std::vector<TagCase> cases = {
        { "CP932 ID3v1", "", id3v1(cp932(sjisTitle), cp932("スマップ"), "Album", 13), sjisTitle, "スマップ", "Album",
            "2001", "Pop", 13 },
        { "UTF-16 ID3v2.3 over a CP932 ID3v1",
            id3v23({ { "TIT2", utf16Text(u"日本語のタイトル") }, { "TPE1", utf16Text(u"歌手") },
                { "TCON", std::string("\0(17)", 5) } }),
            id3v1(cp932("別の題名"), "v1 artist", cp932("アルバム"), 8), "日本語のタイトル", "歌手", "アルバム", "2001",
            "Rock", 17 },
        { "UTF-8 ID3v2.4",
            id3v24({ { "TIT2", "\x03Grüße" },
                { "TDRC",
                    "\x03"
                    "1999-12-31" },
                { "TCON", "\x03Vaporwave" } }),
            "", "Grüße", "", "", "1999", "Vaporwave", -1 },
        { "CP932 in a Latin-1 ID3v2 frame", id3v23({ { "TALB", std::string(1, '\0') + cp932("海の詩") } }), "", "", "",
            "海の詩", "", "", -1 },
        { "real Latin-1 in ID3v2", id3v23({ { "TPE1", std::string("\0Bj\xF6rk", 6) } }), "", "", "Björk", "", "", "",
            -1 },
    };
    for (const TagCase &c : cases) {
        SCOPED_TRACE(c.name);
        TagInfo tag;
        ASSERT_TRUE(vbmp3::readTagInfo(write("tags.mp3", c.head + s_cbr + c.tail).string(), &tag));
        EXPECT_EQ(field(tag.title, 128), c.title);
        EXPECT_EQ(field(tag.artist, 128), c.artist);
        EXPECT_EQ(field(tag.album, 128), c.album);
        EXPECT_EQ(field(tag.year, 5), c.year);
        EXPECT_EQ(tag.year[4], '\0');
        EXPECT_EQ(field(tag.genreName, 128), c.genreName);
        EXPECT_EQ(tag.genre, c.genre);
    }
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
            "long.mp3", id3v23({ { "APIC", picture }, { "TIT2", "\x03" + ascii }, { "TPE1", "\x03" + kana } }) + s_cbr)
            .string(),
        &tag));
    EXPECT_EQ(std::string(tag.title, 128), ascii.substr(0, 128)) << "all 128 bytes, no NUL";
    EXPECT_EQ(field(tag.artist, 128), kana.substr(0, 126));
    EXPECT_EQ(tag.artist[126], '\0');
    EXPECT_EQ(tag.artist[127], '\0');

    char small[8];
    vbmp3::fillField(small, sizeof small, "ab\xE3\x81\x82\xE3\x81\x84");
    EXPECT_EQ(std::string(small, 8), "ab\xE3\x81\x82\xE3\x81\x84") << "exactly full";
    vbmp3::fillField(small, sizeof small, "abc\xE3\x81\x82\xE3\x81\x84");
    EXPECT_EQ(std::string(small, 8), std::string("abc\xE3\x81\x82\0\0", 8));
    vbmp3::fillField(small, sizeof small, std::string("a\0b", 3));
    EXPECT_EQ(std::string(small, 8), std::string("a\0\0\0\0\0\0\0", 8));
}

TEST_F(Fixtures, ListInfoOfRmpAndWav)
{
    const std::string info = infoList({ { "INAM", cp932("題名") }, { "IART", "Artist" }, { "IPRD", "Odd" },
        { "XXXX", "ignored" }, { "ICMT", "comment" }, { "ISRF", "CD" } });
    ListInfo list;
    for (const std::string &bytes :
        { riff("RMP3", chunk("data", s_cbr) + info), riff("RMP3", info + chunk("data", s_cbr)) + id3v1("v1", "v1"),
            riff("WAVE", chunk("fmt ", std::string(16, '\0')) + info) }) {
        ASSERT_TRUE(vbmp3::readListInfo(write("list.rmp", bytes).string(), &list));
        EXPECT_EQ(field(list.text[0], 128), "題名");
        EXPECT_EQ(field(list.text[1], 128), "Artist");
        EXPECT_EQ(field(list.text[2], 128), "Odd");
        EXPECT_EQ(field(list.text[3], 128), "");
        EXPECT_EQ(field(list.text[5], 128), "comment");
        EXPECT_EQ(field(list.text[13], 128), "CD");
    }
    // A LIST chunk after the declared end of the form, with a text size that runs past the file.
    const std::string cut = riff("RMP3", chunk("data", s_cbr)) + "LIST" + le32(100) + "INFOINAM" + le32(5000) + "Cut";
    ASSERT_TRUE(vbmp3::readListInfo(write("cut.rmp", cut).string(), &list));
    EXPECT_EQ(field(list.text[0], 128), "Cut");
    EXPECT_FALSE(vbmp3::readListInfo((s_dir / "missing.rmp").string(), &list));

    // RMP tags: an ID3v2 at the start of the data chunk and an ID3v1 at the end.
    TagInfo tag;
    const std::string tagged
        = riff("RMP3", chunk("data", id3v23({ { "TIT2", std::string("\0v2", 3) } }) + s_cbr) + info)
        + id3v1("v1 title", "v1 artist");
    ASSERT_TRUE(vbmp3::readTagInfo(write("tagged.rmp", tagged).string(), &tag));
    EXPECT_EQ(field(tag.title, 128), "v2");
    EXPECT_EQ(field(tag.artist, 128), "v1 artist");
}

struct MpegCase {
    const char *name;
    std::string bytes;
    int32_t version, layer, bitrate, rate, vbrHeader, firstFrame;
    int32_t minMs, maxMs;
};

TEST_F(Fixtures, MpegInfoOfCbrVbrMpeg2)
{
    const std::string id3 = id3v23({ { "TIT2", std::string("\0T", 2) } });
    const int32_t rmpData = 20;
    const std::vector<MpegCase> cases = {
        { "CBR with Info frame", s_cbr, 1, 3, 128, 44100, 1, 0, 1000, 1000 },
        { "VBR", readFile(s_dir / "vbr.mp3"), 1, 3, -1, 44100, 1, 0, 1000, 1000 },
        { "MPEG-2", readFile(s_dir / "mpeg2.mp3"), 2, 3, 64, 22050, 1, 0, 1000, 1000 },
        { "CBR counted, behind an ID3v2", id3 + s_bare, 1, 3, 128, 44100, 0, int32_t(id3.size()), 1000, 1060 },
        { "RMP", riff("RMP3", chunk("data", s_cbr)), 1, 3, 128, 44100, 1, rmpData, 1000, 1000 },
    };
    for (const MpegCase &c : cases) {
        SCOPED_TRACE(c.name);
        MpegInfo m;
        ASSERT_TRUE(vbmp3::readMpegInfo(write("info.mp3", c.bytes).string(), &m));
        const int32_t *v = m.value;
        EXPECT_EQ(v[0], c.version);
        EXPECT_EQ(v[1], c.layer);
        if (c.bitrate >= 0) {
            EXPECT_EQ(v[2], c.bitrate);
        }
        EXPECT_EQ(v[3], c.rate);
        EXPECT_EQ(v[4], 1) << "lame writes joint stereo";
        EXPECT_EQ(v[12], c.vbrHeader);
        EXPECT_EQ(v[13], c.firstFrame);
        EXPECT_GE(v[11], c.minMs);
        EXPECT_LE(v[11], c.maxMs);
        const int spf = c.version == 1 ? 1152 : 576;
        EXPECT_NEAR(double(v[10]), (v[11] / 1000.0) * c.rate / spf, 3.0) << "frames agree with the length";
    }
    MpegInfo m;
    std::memset(&m, 0x55, sizeof m);
    ASSERT_TRUE(vbmp3::readMpegInfo((s_dir / "t.wav").string(), &m));
    const MpegInfo zero {};
    EXPECT_EQ(std::memcmp(&m, &zero, sizeof m), 0) << "nothing applies to WAV";
}

TEST_F(Fixtures, Lyrics3Texts)
{
    const std::string jp = "[00:01]一行目\r\n[00:02]二行目";
    struct Case {
        const char *name;
        std::string tail;
        std::optional<std::string> text;
    } cases[] = {
        { "v1, CP932", lyrics3v1(cp932(jp)) + id3v1("a", "b"), "[00:01]一行目\n[00:02]二行目" },
        { "v2, LYR after another field", lyrics3v2({ { "IND", "11" }, { "LYR", "one\r\ntwo" } }) + id3v1("a", "b"),
            "one\ntwo" },
        { "v2 without LYR", lyrics3v2({ { "ETT", "title" } }) + id3v1("a", "b"), std::nullopt },
        { "no Lyrics3", id3v1("a", "b"), std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vbmp3::readLyrics3(write("l3.mp3", s_cbr + c.tail).string()), c.text);
    }
    // A LYR field that claims more than the tag holds is cut to the tag.
    std::string lying = lyrics3v2({ { "LYR", "short text" } });
    lying.replace(lying.find("LYR", 11) + 3, 5, "99999");
    const auto text = vbmp3::readLyrics3(write("lying.mp3", s_cbr + lying + id3v1("a", "b")).string());
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->substr(0, 10), "short text");
    EXPECT_LT(text->size(), 40u);
}

// Files of other projects' test suites: real-world tags, and broken files that must
// not crash any of the readers.
class SharedTestdata : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = KESTRINE_SHARED_TESTDATA;
        if (!fs::is_directory(m_root / "atldotnet"))
            GTEST_SKIP() << "shared test data not found at " << m_root;
    }
    std::string path(const char *rel) const { return (m_root / rel).string(); }
    fs::path m_root;
};

TEST_F(SharedTestdata, KnownTags)
{
    struct Case {
        const char *file;
        const char *title;
        const char *artist;
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
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        TagInfo tag;
        ASSERT_TRUE(vbmp3::readTagInfo(path(c.file), &tag));
        EXPECT_EQ(field(tag.title, 128), c.title);
        EXPECT_EQ(field(tag.artist, 128), c.artist);
    }
}

TEST_F(SharedTestdata, KnownLayouts)
{
    struct Case {
        const char *file;
        int32_t code;
        int32_t bitrate; // -1: not checked
        int32_t vbrHeader;
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
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(vbmp3::fileTypeCode(vbmp3::probeFile(path(c.file))), c.code);
        MpegInfo m;
        ASSERT_TRUE(vbmp3::readMpegInfo(path(c.file), &m));
        if (c.bitrate >= 0) {
            EXPECT_EQ(m.value[2], c.bitrate);
        }
        EXPECT_EQ(m.value[12], c.vbrHeader);
    }
}

TEST_F(SharedTestdata, EveryFileIsReadWithoutHarm)
{
    int files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(m_root)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".pcm" || entry.path().extension() == ".md")
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::string p = entry.path().string();
        const vbmp3::FileLayout layout = vbmp3::probeFile(p);
        EXPECT_LE(layout.audioOffset + layout.audioSize, entry.file_size());
        TagInfo tag;
        MpegInfo mpeg;
        ListInfo list;
        EXPECT_TRUE(vbmp3::readTagInfo(p, &tag));
        EXPECT_TRUE(vbmp3::readMpegInfo(p, &mpeg));
        EXPECT_TRUE(vbmp3::readListInfo(p, &list));
        vbmp3::readLyrics3(p);
        for (const char *text : { tag.title, tag.artist, tag.album, tag.comment, tag.genreName })
            EXPECT_TRUE(kes::text::isValidUtf8(field(text, 128)));
        if (layout.kind == FileKind::Mpeg) {
            EXPECT_GT(mpeg.value[3], 0);
        }
        ++files;
    }
    EXPECT_GT(files, 100);
}

} // namespace
