#include "textcodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iconv.h>
#include <vector>

using namespace kes;

TEST(TextCodec, Cp932RoundTripUsesMicrosoftMappingAndFileBytesComeFromEitherWorld)
{
    // "日本語～\" in CP932; 0x8160 is the wave dash of Windows, 0x5C the backslash.
    const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea\x81\x60\x5c";
    bool ok = false;
    const std::string utf8 = cp932ToUtf8(sjis, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(utf8, "日本語\xef\xbd\x9e\\");
    EXPECT_EQ(utf8ToCp932(utf8, &ok), sjis);
    EXPECT_TRUE(ok);
    utf8ToCp932("😀", &ok);
    EXPECT_FALSE(ok);
    // File bytes from either world.
    EXPECT_EQ(systemOrCp932ToUtf8("C:\\\x8b\xc8.mp3"), "C:\\曲.mp3");
    // Neither UTF-8 nor CP932 (lone lead byte at the end): Latin-1.
    EXPECT_EQ(systemOrCp932ToUtf8("caf\xe9"), "café");
}

// Real tag texts in fields marked Latin-1, one a line: Japanese in CP932, Western in Windows-1252 Latin-1.
std::vector<std::string> corpus(const char *name)
{
    std::ifstream in(std::string(KESTRINE_SOURCE_DIR "/tests/platform/") + name);
    std::vector<std::string> texts;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            texts.push_back(line);
    EXPECT_GT(texts.size(), 150u) << name;
    return texts;
}

// A Western text as Western Windows stores it: Latin-1 with Windows-1252's 0x80-0x9F.
std::string westernBytes(const std::string &utf8)
{
    std::string in = utf8, out(utf8.size(), '\0');
    char *from = in.data(), *to = out.data();
    size_t left = in.size(), room = out.size();
    const iconv_t cd = iconv_open("WINDOWS-1252", "UTF-8");
    EXPECT_NE(iconv(cd, &from, &left, &to, &room), size_t(-1)) << utf8;
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

// The measure of the rule: how many texts of each world come back as they were written.
TEST(TextCodec, Latin1FieldsJudgedOverACorpusOfTagTexts)
{
    size_t japaneseRight = 0, westernRight = 0;
    std::string misread;
    const std::vector<std::string> japanese = corpus("japanese-tag-texts.txt"),
                                   western = corpus("western-tag-texts.txt");
    for (const std::string &text : japanese) {
        bool ok = false;
        const std::string bytes = utf8ToCp932(text, &ok);
        ASSERT_TRUE(ok) << text;
        const std::string read = latin1TagToUtf8(bytes);
        read == text ? ++japaneseRight : (misread += " [" + text + " as " + read + "]", 0);
    }
    for (const std::string &text : western) {
        const std::string read = latin1TagToUtf8(westernBytes(text));
        read == text ? ++westernRight : (misread += " [" + text + " as " + read + "]", 0);
    }
    std::printf("corpus: Japanese %zu of %zu right, Western %zu of %zu right\n", japaneseRight, japanese.size(),
        westernRight, western.size());
    EXPECT_GE(double(japaneseRight) / double(japanese.size()), 0.98) << misread;
    EXPECT_GE(double(westernRight) / double(western.size()), 0.98) << misread;
    // What a neighbour-weighing rule gets wrong: katakana with ASCII trail bytes, accents that are half-width kana.
    for (const char *text : { "オアシス", "ビートルズ", "カラオケ ABC", "DJオズマ" })
        EXPECT_EQ(latin1TagToUtf8(utf8ToCp932(text)), text);
    for (const char *text : { "Weißwurst", "ÉTÉ", "ØRESUND", "Don’t Stop" })
        EXPECT_EQ(latin1TagToUtf8(westernBytes(text)), text);
}

TEST(TextCodec, Latin1TagFieldsTellJapaneseFromLatin1)
{
    struct Case {
        const char *name;
        std::string bytes;
        std::string expected;
    } cases[] = {
        { "ascii", "Blue Train", "Blue Train" },
        { "cp932 kana", "\x82\xa0\x82\xa2\x82\xa4", "あいう" },
        { "cp932 half-width", "\xb1\xb2\xb3", "ｱｲｳ" },
        { "latin1 accent + letter", "C\xe9line", "Céline" },
        { "latin1 umlaut (user-defined area)", "Bj\xf6rk", "Björk" },
        { "latin1 accent at the end of a word", "Janelle Mon\xe1\x65/Roman", "Janelle Monáe/Roman" },
        { "cp932 katakana after a blank", "CD \x83\x41\x83\x43/x", "CD アイ/x" },
        { "utf8 in a latin1 field", "Bj\xc3\xb6rk", "Björk" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(latin1TagToUtf8(c.bytes), c.expected) << c.name;
}

TEST(TextCodec, FieldsOfOneTagJudgedTogetherAndCutCharactersDropped)
{
    // A lone level-2 kanji weighs no more than its lead byte's Latin-1 letter; the other fields decide.
    const std::string bud = utf8ToCp932("蕾"), band = utf8ToCp932("コブクロ");
    Cp932Evidence tag = cp932Evidence(bud);
    tag += cp932Evidence(band);
    EXPECT_EQ(latin1TagToUtf8(bud, tag), "蕾");
    EXPECT_EQ(latin1TagToUtf8(westernBytes("Björk"), tag), "Björk") << "not CP932 at all";
    EXPECT_EQ(latin1TagToUtf8("Blue Train", tag), "Blue Train");
    // A character split by a fixed-length cut goes when the rest is Japanese; a Western lead-byte letter stays.
    const std::string beatles = utf8ToCp932("ビートルズ"), kana = utf8ToCp932("あいう");
    EXPECT_EQ(latin1TagToUtf8(beatles.substr(0, beatles.size() - 1)), "ビートル");
    EXPECT_EQ(latin1TagToUtf8(kana.substr(0, kana.size() - 1)), "あい");
    EXPECT_EQ(latin1TagToUtf8(westernBytes("Beyoncé")), "Beyoncé");
}

TEST(TextCodec, CutNeverSplitsACharacter)
{
    const std::string s = "ab日本"; // 2 + 3 + 3 bytes
    for (auto [limit, cut] : { std::pair { 100u, 8u }, { 5u, 5u }, { 6u, 5u }, { 7u, 5u }, { 2u, 2u } })
        EXPECT_EQ(utf8CutLength(s, limit), cut) << limit;
    EXPECT_FALSE(isValidUtf8("\xe6\x97"));
    EXPECT_FALSE(isValidUtf8("\xc0\xaf")); // overlong
    EXPECT_TRUE(isValidUtf8("日本"));
}
