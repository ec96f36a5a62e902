#include "filename.h"
#include "trimnull.h"

#include <gtest/gtest.h>

using namespace kes;

TEST(FileNameOf, LastComponentAfterTheLastSlash)
{
    // Only '/' separates: a backslash or a colon is part of a name; a trailing slash does
    // not count.
    for (auto [path, name] :
        { std::pair { "/music/曲.mp3", "曲.mp3" }, { "/music/AC\\DC - TNT.mp3", "AC\\DC - TNT.mp3" },
            { "/music/C:song.mp3", "C:song.mp3" }, { "C:\\Music\\a.mp3", "C:\\Music\\a.mp3" }, { "/music/x/", "x/" },
            { "/music//x.mp3", "x.mp3" }, { "/", "/" }, { "plain.mp3", "plain.mp3" }, { "", "" } })
        EXPECT_EQ(FileNameOf(QString::fromUtf8(path)), QString::fromUtf8(name)) << path;
}

TEST(TrimNull, CutsAtTheFirstNul)
{
    EXPECT_EQ(TrimNull(QStringLiteral("no nul")), QStringLiteral("no nul"));
    EXPECT_EQ(TrimNull(QString::fromUtf16(u"ab\0cd\0", 6)), QStringLiteral("ab"));
    EXPECT_EQ(TrimNull(QString::fromUtf16(u"\0ab", 3)), QString());

    char field[8] = { 't', 'i', 't', 'l', 'e', 0, 'x', 'y' };
    EXPECT_EQ(TrimNull(field), QStringLiteral("title"));
    const char full[6] = { '\xE6', '\x9B', '\xB2', 'a', 'b', 'c' }; // "曲abc", no NUL
    EXPECT_EQ(TrimNull(full), QStringLiteral("曲abc"));
    EXPECT_EQ(TrimNull(full, 3), QStringLiteral("曲"));
    EXPECT_EQ(TrimNull(nullptr, 4), QString());
}
