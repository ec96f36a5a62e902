#include "textcodec.h"

#include <gtest/gtest.h>

using namespace kes;

TEST(TextCodec, Cp932RoundTripUsesMicrosoftMapping)
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
}

TEST(TextCodec, FileBytesFromEitherWorld)
{
    EXPECT_EQ(systemOrCp932ToUtf8("C:\\\x8b\xc8.mp3"), "C:\\曲.mp3");
    // Neither UTF-8 nor CP932 (lone lead byte at the end): Latin-1.
    EXPECT_EQ(systemOrCp932ToUtf8("caf\xe9"), "café");
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

TEST(TextCodec, CutNeverSplitsACharacter)
{
    const std::string s = "ab日本"; // 2 + 3 + 3 bytes
    for (auto [limit, cut] : { std::pair { 100u, 8u }, { 5u, 5u }, { 6u, 5u }, { 7u, 5u }, { 2u, 2u } })
        EXPECT_EQ(utf8CutLength(s, limit), cut) << limit;
    EXPECT_FALSE(isValidUtf8("\xe6\x97"));
    EXPECT_FALSE(isValidUtf8("\xc0\xaf")); // overlong
    EXPECT_TRUE(isValidUtf8("日本"));
}
