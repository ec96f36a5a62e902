#include "settings.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <iconv.h>
#include <sys/stat.h>

using namespace kes;

namespace
{

const QString fixtures = QStringLiteral(KESTRINE_SOURCE_DIR "/tests/settings/roundtrip/");
bool g_noConverter = false;

class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name = QStringLiteral("kestrine.ini")) const { return dir.filePath(name); }
    // Loads over a record in which every field differs from its default, so that a key
    // the load leaves alone shows.
    static Settings load(const QString &file)
    {
        Settings s;
        LoadSettings(s, fixtures + "full-bom-crlf.ini");
        LoadSettings(s, file);
        return s;
    }
    QTemporaryDir dir;
};

} // namespace

// Stands in for the C library's converter lookup, so that a test can take CP932 away.
extern "C" iconv_t iconv_open(const char *to, const char *from)
{
    using Open = iconv_t (*)(const char *, const char *);
    static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "iconv_open"));
    if (g_noConverter) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    return real(to, from);
}

// Files the settings load and save read and write (no file, every field changed, Check10
// and foreign sections kept, other spellings of keys, CP932 with CR LF, a BOM, values out
// of range, at their range's edges or no numbers), with the bytes a load and an unchanged
// save give; saving those bytes again changes nothing.
TEST_F(SettingsFile, RoundTripKeepsTheBytesOfEveryFixture)
{
    int count = 0;
    for (QDirIterator it(fixtures, { "*.ini" }); it.hasNext(); ++count) {
        const QString input = it.next();
        SCOPED_TRACE(it.fileName().toStdString());
        const QByteArray expected = readBytes(input + QStringLiteral(".saved"));
        ASSERT_FALSE(expected.isEmpty());
        for (const QByteArray &start : { readBytes(input), expected }) {
            writeBytes(path(), start);
            ASSERT_TRUE(SaveSettings(load(path()), path()));
            EXPECT_EQ(readBytes(path()), expected);
        }
    }
    EXPECT_EQ(count, 7);
}

// The read-back decides the result; the other keys are saved all the same.
TEST_F(SettingsFile, ReadBackDecidesTheResult)
{
    const struct {
        QString op14;
        bool ok;
        qsizetype loadedSize;
    } cases[] = { { QString(249, u'a'), true, 249 }, { QString(250, u'a'), false, 249 }, { " padded", false, 6 } };
    for (const auto &c : cases) {
        Settings s;
        s.Op_14 = c.op14;
        EXPECT_EQ(SaveSettings(s, path()), c.ok) << c.loadedSize;
        const Settings loaded = load(path());
        EXPECT_EQ(std::pair(loaded.Op_14.size(), loaded.Op_01), std::pair(c.loadedSize, int16_t(1)));
    }
    EXPECT_TRUE(WriteIni("S", "k", "v", path()));
    EXPECT_FALSE(WriteIni("S", "k", "v ", path()));
    EXPECT_FALSE(WriteIni("S", "k", "two\nlines", path()));
    EXPECT_EQ(ReadIni("s", "K", "dflt", path()), QStringLiteral("v")) << "a line break is never written";
    EXPECT_EQ(ReadIni("S", "k", "dflt", dir.path()), QStringLiteral("dflt")) << "a folder reads as no file";
}

// A CP932 file is saved in CP932 exactly or not at all: a value with no CP932 form, or no
// converter at hand, fails before anything is written (no "?" in its place).
TEST_F(SettingsFile, Cp932FileSavesExactlyOrNotAtAll)
{
    writeBytes(path(), readBytes(fixtures + "windows-cp932.ini"));
    const QByteArray before = readBytes(path());
    Settings s = load(path());
    const struct {
        const char *op17;
        bool converter, ok;
    } cases[] = { { "한국", true, false }, { "C:\\曲\\😀.m3u", true, false }, { "D:\\", false, false },
        { "C:\\曲～①\\", true, true } };
    for (const auto &c : cases) {
        s.Op_17 = QString::fromUtf8(c.op17);
        g_noConverter = !c.converter;
        EXPECT_EQ(SaveSettings(s, path()), c.ok) << c.op17;
        g_noConverter = false;
        EXPECT_EQ(readBytes(path()) == before, !c.ok) << c.op17;
    }
    EXPECT_EQ(load(path()).Op_17, s.Op_17);
}

TEST_F(SettingsFile, FailedSaveReportsFailureAndLeavesTheOldFile)
{
    const Settings s;
    const QByteArray before = "[Mine]\nkeep=me\n";
    writeBytes(path(), before);
    EXPECT_FALSE(withFileSizeLimit(64, [&] { return SaveSettings(s, path()); })) << "the disk fills up";
    EXPECT_EQ(withoutFileRights([&] { return SaveSettings(s, path("other.ini")); }), true);
    for (const QString &readOnly : { path(), dir.path() }) {
        ASSERT_EQ(chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
        EXPECT_EQ(withoutFileRights([&] { return SaveSettings(s, path()); }), false) << readOnly.toStdString();
        ASSERT_EQ(chmod(QFile::encodeName(readOnly).constData(), 0755), 0);
    }
    EXPECT_EQ(readBytes(path()), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "kestrine.ini", "other.ini" }))
        << "no temporary file left";
}

TEST(SettingsLocation, ProgramFolderRule)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(chooseProgramFolder(dir.path(), "/usr/bin", "/cfg"), dir.path());
    EXPECT_EQ(chooseProgramFolder("", dir.path(), "/cfg"), dir.path());
    EXPECT_EQ(chooseProgramFolder("", dir.filePath("missing"), "/cfg"), QStringLiteral("/cfg/kestrine"));
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0); // an installed program's folder
    EXPECT_EQ(withoutFileRights([&] { return chooseProgramFolder("", dir.path(), "/cfg") == "/cfg/kestrine"; }), true);
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
}
