#include "inifile.h"
#include "testfiles.h"

#include <QTemporaryDir>

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
    const IniFile ini = doc("; comment=not a key\ntop=outside any section\n[Main]\nplain=abc\n"
                            "  Spaced  =  \t two words \t \ndq=\"quoted\"\nsq= 'quoted' \nmixed=\"half'\n"
                            "inner=a \"b\" c\nlone=\"\nempty=\nfirst=1\nFIRST=2\nnoequals line\n"
                            "[main]\nsecond=in the repeated section\n[Other]\nplain=other\n");
    // nullopt: no such key (only the first section of a name counts).
    const std::tuple<const char *, const char *, std::optional<QString>> cases[]
        = { { "Main", "plain", "abc" }, { "MAIN", "PLAIN", "abc" }, { "main", "spaced", "two words" },
              { "Main", "dq", "quoted" }, { "Main", "sq", "quoted" }, { "Main", "mixed", "\"half'" },
              { "Main", "inner", "a \"b\" c" }, { "Main", "lone", "\"" }, { "Main", "empty", QString() },
              { "Main", "first", "1" }, { "Main", "second", std::nullopt }, { "Main", "noequals line", std::nullopt },
              { "Main", "; comment", std::nullopt }, { "Main", "top", std::nullopt }, { "Other", "plain", "other" },
              { "Missing", "plain", std::nullopt } };
    for (const auto &[section, key, value] : cases)
        EXPECT_EQ(ini.value(section, key), value) << section << "/" << key;
    EXPECT_EQ(ini.value("Main", "empty", "dflt"), QString());
    EXPECT_EQ(ini.value("Main", "nokey", "dflt"), QStringLiteral("dflt"));
}

TEST(IniFile, LongValuesAreCutAtACharacterBoundary)
{
    const QByteArray a249(249, 'a');
    EXPECT_EQ(doc("[s]\nk=\"" + a249 + "b\"\n").value("s", "k"), QString::fromLatin1(a249));
    // UTF-8: 84 three-byte characters are 252 bytes; 83 fit.
    const QString kana(84, QChar(u'曲'));
    EXPECT_EQ(doc("[s]\nk=" + kana.toUtf8() + "\n").value("s", "k"), kana.left(83));
    // CP932: "曲" is two bytes; 125 of them are 250 bytes, 124 fit.
    const IniFile cp = doc("[s]\r\nk=" + QByteArray("\x8b\xc8").repeated(125) + "\r\n");
    ASSERT_EQ(cp.encoding(), IniFile::Encoding::Cp932);
    EXPECT_EQ(cp.value("s", "k"), QString(124, QChar(u'曲')));
}

TEST(IniFile, WritingKeepsEverythingElse)
{
    IniFile ini = doc("; settings\n[A]\nKey=old\nother = 5\n; trailing comment of A\n\n[B]\nx=1");
    EXPECT_TRUE(ini.setValue("a", "KEY", "new")); // in place, spelling kept
    EXPECT_TRUE(ini.setValue("A", "added", "2")); // after the last key of A
    EXPECT_TRUE(ini.setValue("B", "y", "3")); // the last line gets its line break
    EXPECT_TRUE(ini.setValue("C", "z", " 4 ")); // new section at the end, value as given
    EXPECT_FALSE(ini.setValue("A", "Key", "two\nlines"));
    EXPECT_FALSE(ini.setValue("A", "k=v", "x"));
    EXPECT_FALSE(ini.setValue("A]", "k", "x"));
    EXPECT_EQ(ini.content(),
        QByteArray("; settings\n[A]\nKey=new\nother = 5\nadded=2\n; trailing comment of A\n\n[B]\nx=1\ny=3\n"
                   "[C]\nz= 4 \n"));
    EXPECT_EQ(ini.value("C", "z"), QStringLiteral("4"));

    // A file that ends in a lone CR: the CR ends the last line, before and after a write (found by fuzz_ini).
    IniFile cr = doc("[A]\nx=1\r");
    EXPECT_EQ(cr.value("A", "x"), QStringLiteral("1"));
    EXPECT_TRUE(cr.setValue("B", "y", "2"));
    EXPECT_EQ(cr.content(), QByteArray("[A]\nx=1\r\n[B]\ny=2\n"));
}

TEST(IniFile, Cp932FileWithCrLfStaysCp932)
{
    // "[ゾーン]" (the second byte of "ゾ" is ']' in CP932), then その他設定 and C:\ソ表\ (0x5C trail bytes).
    const QByteArray original = "[\x83\x5d\x81\x5b\x83\x93]\r\nname=\x8b\xc8\r\n"
                                "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\nOp_17=C:\\\x83\x5c\x95\x5c\\\r\n";
    IniFile ini = doc(original);
    ASSERT_EQ(ini.encoding(), IniFile::Encoding::Cp932);
    EXPECT_EQ(ini.lineEnding(), QByteArray("\r\n"));
    EXPECT_EQ(ini.value(QStringLiteral("ゾーン"), "name"), QStringLiteral("曲"));
    EXPECT_EQ(ini.value(QStringLiteral("その他設定"), "op_17"), QStringLiteral("C:\\ソ表\\"));
    EXPECT_EQ(ini.content(), original);

    EXPECT_TRUE(ini.setValue(QStringLiteral("ゾーン"), "name", QStringLiteral("曲曲")));
    EXPECT_TRUE(ini.setValue(QStringLiteral("検索設定"), "MP3", "1"));
    EXPECT_EQ(ini.content(),
        QByteArray("[\x83\x5d\x81\x5b\x83\x93]\r\nname=\x8b\xc8\x8b\xc8\r\n"
                   "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\nOp_17=C:\\\x83\x5c\x95\x5c\\\r\n"
                   "[\x8c\x9f\x8d\xf5\x90\xdd\x92\xe8]\r\nMP3=1\r\n")); // 検索設定

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

// A file past the size read keeps everything after the part read, byte for byte, through a save; a section added
// goes before the last section read, which goes on past the cut.  A file changed since it was read is not saved.
TEST(IniFile, AFileLongerThanWhatIsReadKeepsItsRest)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kestrine.ini"));
    const QByteArray head = "[その他設定]\r\nOp_01=1\r\n[history]\r\n";
    QByteArray history;
    for (int i = 0; history.size() < 3 * IniFile::MaxFileBytes; ++i)
        history += "h" + QByteArray::number(i) + "=" + QByteArray(90, 'x') + "\r\n";
    writeBytes(path, head + history + "[tail]\r\nlast=1");
    IniFile ini;
    ASSERT_TRUE(ini.load(path));
    ASSERT_TRUE(ini.wasCut());
    EXPECT_TRUE(ini.setValue(QStringLiteral("その他設定"), "Op_02", "2"));
    EXPECT_TRUE(ini.setValue("new", "k", "v"));
    ASSERT_TRUE(ini.save(path)) << ini.errorString().toStdString();
    const QByteArray expected
        = "[その他設定]\r\nOp_01=1\r\nOp_02=2\r\n[new]\r\nk=v\r\n[history]\r\n" + history + "[tail]\r\nlast=1";
    EXPECT_TRUE(readBytes(path) == expected) << "saved " << readBytes(path).size() << " bytes of " << expected.size();
    IniFile back;
    ASSERT_TRUE(back.load(path));
    EXPECT_EQ(back.value("new", "k"), QStringLiteral("v"));

    ASSERT_TRUE(ini.load(path));
    writeBytes(path, expected + "\r\nmore=1\r\n"); // another writer meanwhile
    EXPECT_TRUE(ini.setValue("new", "k", "w"));
    EXPECT_FALSE(ini.save(path));
    EXPECT_TRUE(readBytes(path) == expected + "\r\nmore=1\r\n");
}
