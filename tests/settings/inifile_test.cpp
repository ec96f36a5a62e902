#include "inifile.h"

#include <gtest/gtest.h>

using namespace kes;

namespace
{

IniFile doc(const QByteArray &bytes)
{
    IniFile ini;
    ini.setContent(bytes);
    return ini;
}

} // namespace

TEST(IniFile, ReadingRules)
{
    const IniFile ini = doc("; comment=not a key\n"
                            "top=outside any section\n"
                            "[Main]\n"
                            "plain=abc\n"
                            "  Spaced  =  \t two words \t \n"
                            "dq=\"quoted\"\n"
                            "sq= 'quoted' \n"
                            "mixed=\"half'\n"
                            "inner=a \"b\" c\n"
                            "lone=\"\n"
                            "empty=\n"
                            "first=1\n"
                            "FIRST=2\n"
                            "noequals line\n"
                            "[main]\n"
                            "second=in the repeated section\n"
                            "[Other]\n"
                            "plain=other\n");
    struct Case {
        const char *section, *key;
        std::optional<QString> value;
    } cases[] = {
        { "Main", "plain", QStringLiteral("abc") },
        { "MAIN", "PLAIN", QStringLiteral("abc") },
        { "main", "spaced", QStringLiteral("two words") },
        { "Main", "dq", QStringLiteral("quoted") },
        { "Main", "sq", QStringLiteral("quoted") },
        { "Main", "mixed", QStringLiteral("\"half'") },
        { "Main", "inner", QStringLiteral("a \"b\" c") },
        { "Main", "lone", QStringLiteral("\"") },
        { "Main", "empty", QString() },
        { "Main", "first", QStringLiteral("1") },
        { "Main", "second", std::nullopt }, // only the first section of a name counts
        { "Main", "noequals line", std::nullopt },
        { "Main", "; comment", std::nullopt },
        { "Main", "top", std::nullopt },
        { "Other", "plain", QStringLiteral("other") },
        { "Missing", "plain", std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.value(QString::fromUtf8(c.section), QString::fromUtf8(c.key)), c.value);
    }
    EXPECT_EQ(ini.value("Main", "empty", "dflt"), QString());
    EXPECT_EQ(ini.value("Main", "nokey", "dflt"), QStringLiteral("dflt"));
}

TEST(IniFile, LongValuesAreCutAtACharacterBoundary)
{
    const QByteArray a249(249, 'a');
    EXPECT_EQ(doc("[s]\nk=" + a249 + "\n").value("s", "k")->size(), 249);
    EXPECT_EQ(doc("[s]\nk=\"" + a249 + "b\"\n").value("s", "k"), QString::fromLatin1(a249));
    // UTF-8: 84 three-byte characters are 252 bytes; 83 fit.
    const QString kana(84, QChar(u'曲'));
    EXPECT_EQ(doc("[s]\nk=" + kana.toUtf8() + "\n").value("s", "k"), kana.left(83));
    // CP932: "曲" is two bytes; 125 of them are 250 bytes, 124 fit.
    QByteArray sjis;
    for (int i = 0; i < 125; ++i)
        sjis += "\x8b\xc8";
    const IniFile cp = doc("[s]\r\nk=" + sjis + "\r\n");
    ASSERT_EQ(cp.encoding(), IniFile::Encoding::Cp932);
    EXPECT_EQ(cp.value("s", "k"), QString(124, QChar(u'曲')));
}

TEST(IniFile, WritingKeepsEverythingElse)
{
    IniFile ini = doc("; settings\n"
                      "[A]\n"
                      "Key=old\n"
                      "other = 5\n"
                      "; trailing comment of A\n"
                      "\n"
                      "[B]\n"
                      "x=1");
    EXPECT_TRUE(ini.setValue("a", "KEY", "new")); // in place, spelling kept
    EXPECT_TRUE(ini.setValue("A", "added", "2")); // after the last key of A
    EXPECT_TRUE(ini.setValue("B", "y", "3")); // the last line gets its line break
    EXPECT_TRUE(ini.setValue("C", "z", " 4 ")); // new section at the end, value as given
    EXPECT_FALSE(ini.setValue("A", "Key", "two\nlines"));
    EXPECT_FALSE(ini.setValue("A", "k=v", "x"));
    EXPECT_FALSE(ini.setValue("A]", "k", "x"));
    EXPECT_EQ(ini.content(),
        QByteArray("; settings\n"
                   "[A]\n"
                   "Key=new\n"
                   "other = 5\n"
                   "added=2\n"
                   "; trailing comment of A\n"
                   "\n"
                   "[B]\n"
                   "x=1\n"
                   "y=3\n"
                   "[C]\n"
                   "z= 4 \n"));
    EXPECT_EQ(ini.value("C", "z"), QStringLiteral("4"));

    // A file that ends in a lone CR: the CR ends the last line, before and after a write
    // (found by fuzz_ini).
    IniFile cr = doc("[A]\nx=1\r");
    EXPECT_EQ(cr.value("A", "x"), QStringLiteral("1"));
    EXPECT_TRUE(cr.setValue("B", "y", "2"));
    EXPECT_EQ(cr.content(), QByteArray("[A]\nx=1\r\n[B]\ny=2\n"));
}

TEST(IniFile, Cp932FileWithCrLfStaysCp932)
{
    // "[ゾーン]": the second byte of "ゾ" is ']' in CP932.
    const QByteArray original = "[\x83\x5d\x81\x5b\x83\x93]\r\n"
                                "name=\x8b\xc8\r\n"
                                "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\n" // その他設定
                                "Op_17=C:\\\x83\x5c\x95\x5c\\\r\n"; // C:\ソ表\ (0x5C trail bytes)
    IniFile ini = doc(original);
    ASSERT_EQ(ini.encoding(), IniFile::Encoding::Cp932);
    EXPECT_EQ(ini.lineEnding(), QByteArray("\r\n"));
    EXPECT_EQ(ini.value(QStringLiteral("ゾーン"), "name"), QStringLiteral("曲"));
    EXPECT_EQ(ini.value(QStringLiteral("その他設定"), "op_17"), QStringLiteral("C:\\ソ表\\"));
    EXPECT_EQ(ini.content(), original);

    EXPECT_TRUE(ini.setValue(QStringLiteral("ゾーン"), "name", QStringLiteral("曲曲")));
    EXPECT_TRUE(ini.setValue(QStringLiteral("検索設定"), "MP3", "1"));
    EXPECT_EQ(ini.content(),
        QByteArray("[\x83\x5d\x81\x5b\x83\x93]\r\n"
                   "name=\x8b\xc8\x8b\xc8\r\n"
                   "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\n"
                   "Op_17=C:\\\x83\x5c\x95\x5c\\\r\n"
                   "[\x8c\x9f\x8d\xf5\x90\xdd\x92\xe8]\r\n" // 検索設定
                   "MP3=1\r\n"));

    // Lines of UTF-8 and of CP932 in one file each read in their own encoding, and a write
    // that replaces the only CP932 bytes changes how no other line reads (found by
    // fuzz_ini); CP932 bytes that would read as other UTF-8 ("ﾂ｡" is C2 A1, "¡") go as UTF-8.
    IniFile mixed = doc("[A]\nu=\xe6\x9b\xb2\nc=\x8b\xc8\n"); // 曲 in UTF-8, then in CP932
    EXPECT_TRUE(mixed.setValue("A", "c", "x"));
    EXPECT_TRUE(mixed.setValue("A", "k", QStringLiteral("ﾂ｡")));
    EXPECT_EQ(mixed.content(), QByteArray("[A]\nu=\xe6\x9b\xb2\nc=x\nk=\xef\xbe\x82\xef\xbd\xa1\n"));
    const IniFile reread = doc(mixed.content());
    EXPECT_EQ(reread.value("A", "u"), QStringLiteral("曲"));
    EXPECT_EQ(reread.value("A", "k"), QStringLiteral("ﾂ｡"));
}
