#include "eqpresets.h"
#include "fakedecoder.h"
#include "settings.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <iconv.h>
#include <sys/stat.h>
#include <tuple>

using namespace kes;

namespace
{

// Every field of the record, for comparing two records at once.
auto fields(const Settings &s)
{
    return std::tie(s.USER, s.PASSWORD, s.MP3, s.RMP, s.WAV, s.M3U, s.MPG, s.AVI, s.WMA, s.FONT1, s.FONT2, s.TAB_SP1,
        s.TAB_SP2, s.TAB_SP3, s.Gyo, s.Gyo_St, s.Font_Color1, s.Font_Color2, s.Op_Kasi, s.Op_01, s.Op_03, s.Op_04,
        s.Op_14, s.Op_06, s.Op_07, s.Op_17, s.Op_09, s.EqBands, s.EqPreset, s.EqOn);
}

// A record in which every field differs from its default.
Settings changedSettings()
{
    Settings s;
    s.USER = "someone", s.PASSWORD = "secret";
    s.MP3 = 0, s.RMP = 0, s.WAV = 1, s.M3U = 1, s.MPG = 1, s.AVI = 1, s.WMA = 1;
    s.FONT1 = 9, s.FONT2 = 8, s.TAB_SP1 = 50, s.TAB_SP2 = 20, s.TAB_SP3 = 130, s.Gyo = 70, s.Gyo_St = 2;
    s.Font_Color1 = -1, s.Font_Color2 = 6;
    s.Op_Kasi = 0, s.Op_01 = 0, s.Op_03 = 1, s.Op_04 = 1, s.Op_06 = 1, s.Op_07 = 1, s.Op_09 = 1;
    s.Op_14 = QStringLiteral("/home/me/曲/kestrine_def.m3u"), s.Op_17 = QStringLiteral("/home/me/曲/");
    s.EqBands = { -60, -30, 0, 10, 20, 30, 40, 50, 60, 7 };
    s.EqPreset = 3, s.EqOn = 1;
    return s;
}

class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name = QStringLiteral("kestrine.ini")) const { return dir.filePath(name); }
    Settings load(const QString &file)
    {
        Settings s = changedSettings();
        LoadSettings(s, file);
        return s;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(SettingsFile, NoFileGivesEveryDefaultAndEveryFieldLoadsBackAsSaved)
{
    EXPECT_EQ(fields(load(path())), fields(Settings {})); // from a record whose every field differs
    EXPECT_FALSE(QFile::exists(path())) << "loading never creates the file";
    // Every field changed loads back as saved.
    ASSERT_TRUE(SaveSettings(changedSettings(), path()));
    Settings expected = changedSettings();
    expected.USER.clear(); // written empty, loaded as empty texts
    expected.PASSWORD.clear();
    EXPECT_EQ(fields(load(path())), fields(expected));
}

TEST_F(SettingsFile, PrintBoxesAreSavedAsTyped)
{
    Settings s = load(path());
    s.printText.FONT1 = "07";
    s.printText.Gyo = ""; // an emptied box
    ASSERT_TRUE(SaveSettings(s, path()));
    const QByteArray file = readBytes(path());
    EXPECT_TRUE(file.contains("\nFONT1=07\n"));
    EXPECT_TRUE(file.contains("\nGyo=\n"));
    const Settings loaded = load(path());
    EXPECT_EQ(loaded.FONT1, 7);
    EXPECT_EQ(loaded.printText.FONT1, QStringLiteral("7"));
    EXPECT_EQ(loaded.Gyo, 78) << "an empty value loads as the default";
}

TEST_F(SettingsFile, ReadBackDecidesTheResult)
{
    const struct {
        QString op14;
        bool ok;
        qsizetype loadedSize;
    } cases[] = {
        { QString(249, u'a'), true, 249 },
        { QString(250, u'a'), false, 249 },
        { QStringLiteral(" padded"), false, 6 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.op14.left(12).toStdString());
        QFile::remove(path());
        Settings s;
        s.Op_14 = c.op14;
        EXPECT_EQ(SaveSettings(s, path()), c.ok);
        const Settings loaded = load(path());
        EXPECT_EQ(loaded.Op_14.size(), c.loadedSize);
        EXPECT_EQ(loaded.Op_01, 1) << "the other keys are saved all the same";
    }
}

// The range edges the not-numbers fixture leaves out.
TEST_F(SettingsFile, ValuesOutOfRangeLoadAsDefaults)
{
    writeBytes(path(), "[印刷設定]\nFont_Color1=7\nFont_Color2=-1\n[EQSETUP]\ncustom-5=61\ncustom-6=-60\n");
    const Settings s = load(path());
    EXPECT_EQ(std::tie(s.Font_Color1, s.Font_Color2, s.EqBands[5], s.EqBands[6]), std::tuple(0, -1, 0, -60));
}

TEST_F(SettingsFile, Cp932FileFromWindows)
{
    writeBytes(path(),
        "[\x83\x56\x83\x58\x83\x65\x83\x80]\r\nUSER=\r\nPASSWORD=\r\n" // システム
        "[\x8c\x9f\x8d\xf5\x90\xdd\x92\xe8]\r\nMP3=0\r\nWAV=1\r\n" // 検索設定
        "[\x88\xf3\x8d\xfc\x90\xdd\x92\xe8]\r\nFONT1=07\r\n" // 印刷設定
        "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\nOp_kasi=0\r\nOp_14=C:\\\x8b\xc8\\list.m3u\r\n" // その他設定, 曲
        "[EQSETUP]\r\nset-no=2\r\n");
    Settings s = load(path());
    Settings expected; // the defaults
    expected.USER = expected.PASSWORD = "";
    expected.MP3 = expected.Op_Kasi = 0, expected.WAV = 1, expected.FONT1 = 7, expected.EqPreset = 2;
    expected.Op_14 = QStringLiteral("C:\\曲\\list.m3u");
    EXPECT_EQ(fields(s), fields(expected));
    // Saving keeps the file's CP932 (see IniFile's tests).  A value with no CP932 form
    // fails before anything is written: no "?" in its place.
    const QByteArray before = readBytes(path());
    for (const QString &value : { QStringLiteral("한국"), QStringLiteral("C:\\曲\\😀.m3u") }) {
        s.Op_17 = value;
        EXPECT_FALSE(SaveSettings(s, path()));
        EXPECT_EQ(readBytes(path()), before);
    }
    s.Op_17 = QStringLiteral("C:\\曲～①\\");
    EXPECT_TRUE(SaveSettings(s, path()));
    EXPECT_EQ(load(path()).Op_17, s.Op_17);
}

namespace
{
bool g_noConverter = false;
}

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

TEST_F(SettingsFile, Cp932FileWithoutAConverterIsNotRewritten)
{
    const QByteArray before = "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\nOp_kasi=0\r\n"; // その他設定
    writeBytes(path(), before);
    g_noConverter = true;
    Settings s = load(path());
    const bool saved = SaveSettings(s, path());
    g_noConverter = false;
    EXPECT_FALSE(saved);
    EXPECT_EQ(readBytes(path()), before);
    EXPECT_TRUE(SaveSettings(s, path())) << "with the converter back";
}

// Files the settings load and save read and write (Check10 and foreign sections kept,
// other spellings of keys, CP932 with CR LF, a BOM, values that are no numbers), with the
// bytes that a load and an unchanged save gave before the key table; saving those bytes
// again changes nothing.
TEST_F(SettingsFile, RoundTripKeepsTheBytesOfEveryFixture)
{
    QDirIterator it(QStringLiteral(KESTRINE_SOURCE_DIR "/tests/settings/roundtrip"), { "*.ini" });
    int count = 0;
    while (it.hasNext()) {
        const QString input = it.next();
        SCOPED_TRACE(it.fileName().toStdString());
        const QByteArray expected = readBytes(input + QStringLiteral(".saved"));
        ASSERT_FALSE(expected.isEmpty());
        for (const QByteArray &start : { readBytes(input), expected }) {
            writeBytes(path(), start);
            ASSERT_TRUE(SaveSettings(load(path()), path()));
            EXPECT_EQ(readBytes(path()), expected);
        }
        ++count;
    }
    EXPECT_EQ(count, 6);
}

TEST_F(SettingsFile, FailedSaveReportsFailureAndLeavesTheOldFile)
{
    const Settings s = changedSettings();
    const QByteArray before = "[Mine]\nkeep=me\n";
    writeBytes(path(), before);
    EXPECT_FALSE(withFileSizeLimit(64, [&] { return SaveSettings(s, path()); })) << "the disk fills up";
    EXPECT_EQ(readBytes(path()), before);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
    EXPECT_FALSE(SaveSettings(s, path("folder.ini")));
    EXPECT_FALSE(SaveSettings(s, path("kestrine.ini/below.ini"))) << "the folder is a file";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "kestrine.ini" })) << "no temporary file left";

    const QByteArray file = QFile::encodeName(path()), folder = QFile::encodeName(dir.path());
    EXPECT_EQ(withoutFileRights([&] { return SaveSettings(s, path("other.ini")); }), true);
    ASSERT_EQ(chmod(file.constData(), 0444), 0);
    EXPECT_EQ(withoutFileRights([&] { return SaveSettings(s, path()); }), false) << "a read-only file";
    ASSERT_EQ(chmod(file.constData(), 0644), 0);
    ASSERT_EQ(chmod(folder.constData(), 0555), 0);
    EXPECT_EQ(withoutFileRights([&] { return SaveSettings(s, path()); }), false) << "a read-only folder";
    ASSERT_EQ(chmod(folder.constData(), 0755), 0);
    EXPECT_EQ(readBytes(path()), before);
}

TEST_F(SettingsFile, ReadIniAndWriteIni)
{
    EXPECT_TRUE(WriteIni("S", "k", "v", path()));
    EXPECT_EQ(ReadIni("s", "K", "dflt", path()), QStringLiteral("v"));
    EXPECT_FALSE(WriteIni("S", "k", "v ", path()));
    EXPECT_FALSE(WriteIni("S", "k", "two\nlines", path()));
    EXPECT_EQ(ReadIni("S", "k", "dflt", path()), QStringLiteral("v")) << "a line break is never written";
    EXPECT_EQ(ReadIni("S", "k", "dflt", dir.path()), QStringLiteral("dflt")) << "a folder reads as no file";
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
    qputenv("KESTRINE_CONFIG_DIR", QFile::encodeName(dir.path()));
    EXPECT_EQ(kestrineIniPath(), dir.filePath("kestrine.ini"));
    qunsetenv("KESTRINE_CONFIG_DIR");
}

TEST(Equalizer, ApplyEqPresetUsesTheLoadCurves)
{
    const EqCurve handMade = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    const struct {
        int16_t preset, expectedPreset;
        EqCurve bands;
    } cases[] = {
        { 0, 0, handMade }, // Custom keeps the saved bands
        { 1, 1, {} }, { 2, 2, { 0, 0, 0, 0, 20, 40, 60, 40, 20, 0 } }, { 9, 1, {} }, // out of range: Flat
    };
    FakeDecoder &fake = FakeDecoder::instance();
    for (const auto &c : cases) {
        for (int16_t on : { 0, 1 }) {
            SCOPED_TRACE(testing::Message() << "preset " << c.preset << " on " << on);
            fake.reset();
            Settings s;
            s.EqBands = handMade, s.EqPreset = c.preset, s.EqOn = on;
            ApplyEqPreset(s, FakeDecoder::api());
            EXPECT_EQ(s.EqPreset, c.expectedPreset);
            EXPECT_EQ(s.EqBands, c.bands);
            EXPECT_EQ(fake.equalizerCalls, on);
            EXPECT_EQ(
                fake.equalizer, on ? std::vector<int32_t>(c.bands.begin(), c.bands.end()) : std::vector<int32_t> {});
        }
    }
}
