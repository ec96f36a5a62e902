#include "equalizer.h"
#include "fakedecoder.h"
#include "inifile.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

void expectSame(const Settings &a, const Settings &b)
{
    EXPECT_EQ(a.USER, b.USER);
    EXPECT_EQ(a.PASSWORD, b.PASSWORD);
    const int16_t Settings::*ints[] = {
        &Settings::MP3,
        &Settings::RMP,
        &Settings::WAV,
        &Settings::M3U,
        &Settings::MPG,
        &Settings::AVI,
        &Settings::WMA,
        &Settings::FONT1,
        &Settings::FONT2,
        &Settings::TAB_SP1,
        &Settings::TAB_SP2,
        &Settings::TAB_SP3,
        &Settings::Gyo,
        &Settings::Gyo_St,
        &Settings::Font_Color1,
        &Settings::Font_Color2,
        &Settings::Op_Kasi,
        &Settings::Op_01,
        &Settings::Op_03,
        &Settings::Op_04,
        &Settings::Op_06,
        &Settings::Op_07,
        &Settings::Op_09,
        &Settings::EqPreset,
        &Settings::EqOn,
    };
    for (size_t i = 0; i < std::size(ints); ++i)
        EXPECT_EQ(a.*ints[i], b.*ints[i]) << "int field #" << i;
    EXPECT_EQ(a.Op_14, b.Op_14);
    EXPECT_EQ(a.Op_17, b.Op_17);
    EXPECT_EQ(a.EqBands, b.EqBands);
}

class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name = QStringLiteral("kestrine.ini")) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

Settings changedSettings()
{
    Settings s;
    s.USER = "someone";
    s.PASSWORD = "secret";
    s.MP3 = 0, s.RMP = 0, s.WAV = 1, s.M3U = 1, s.MPG = 1, s.AVI = 1, s.WMA = 1;
    s.FONT1 = 9, s.FONT2 = 8, s.TAB_SP1 = 50, s.TAB_SP2 = 20, s.TAB_SP3 = 130, s.Gyo = 70, s.Gyo_St = 2;
    s.Font_Color1 = -1, s.Font_Color2 = 6;
    s.Op_Kasi = 0, s.Op_01 = 0, s.Op_03 = 1, s.Op_04 = 1, s.Op_06 = 1, s.Op_07 = 1, s.Op_09 = 1;
    s.Op_14 = QStringLiteral("/home/me/曲/kestrine_def.m3u");
    s.Op_17 = QStringLiteral("/home/me/曲/");
    s.EqBands = { -60, -30, 0, 10, 20, 30, 40, 50, 60, 7 };
    s.EqPreset = 3, s.EqOn = 1;
    return s;
}

} // namespace

TEST_F(SettingsFile, NoFileGivesEveryDefault)
{
    Settings s = changedSettings();
    LoadSettings(s, path());
    Settings expected;
    expected.USER = "GUEST", expected.PASSWORD = "TESORA";
    expected.MP3 = 1, expected.RMP = 1, expected.WAV = 0, expected.M3U = 0, expected.MPG = 0, expected.AVI = 0,
    expected.WMA = 0;
    expected.FONT1 = 6, expected.FONT2 = 4, expected.TAB_SP1 = 48, expected.TAB_SP2 = 22, expected.TAB_SP3 = 140,
    expected.Gyo = 78, expected.Gyo_St = 3, expected.Font_Color1 = 0, expected.Font_Color2 = 0;
    expected.Op_Kasi = 1, expected.Op_01 = 1, expected.Op_03 = 0, expected.Op_04 = 0, expected.Op_06 = 0,
    expected.Op_07 = 0, expected.Op_09 = 0, expected.Op_14 = "", expected.Op_17 = "";
    expected.EqBands = {}, expected.EqPreset = 0, expected.EqOn = 0;
    expectSame(s, expected);
    EXPECT_EQ(s.printText.TAB_SP3, QStringLiteral("140"));
    EXPECT_FALSE(QFile::exists(path())) << "loading never creates the file";
}

TEST_F(SettingsFile, SaveWritesEveryKeyInOrderAndLoadsBack)
{
    const Settings s = changedSettings();
    ASSERT_TRUE(SaveSettings(s, path()));
    EXPECT_EQ(QString::fromUtf8(readAll(path())),
        QStringLiteral("[システム]\nUSER=\nPASSWORD=\n"
                       "[検索設定]\nMP3=0\nRMP=0\nWAV=1\nM3U=1\nMPG=1\nAVI=1\nWMA=1\n"
                       "[印刷設定]\nFONT1=9\nFONT2=8\nTAB_SP1=50\nTAB_SP2=20\n"
                       "TAB_SP3=130\nFont_Color1=-1\nFont_Color2=6\nGyo=70\nGyo_St=2\n"
                       "[その他設定]\nOp_kasi=0\nOp_01=0\nOp_03=1\nOp_04=1\n"
                       "Op_14=/home/me/曲/kestrine_def.m3u\nOp_06=1\nOp_07=1\n"
                       "Op_17=/home/me/曲/\nOp_09=1\n"
                       "[EQSETUP]\ncustom-0=-60\ncustom-1=-30\ncustom-2=0\ncustom-3=10\n"
                       "custom-4=20\ncustom-5=30\ncustom-6=40\ncustom-7=50\n"
                       "custom-8=60\ncustom-9=7\nset-no=3\nset-onoff=1\n"));
    Settings loaded;
    LoadSettings(loaded, path());
    Settings expected = s;
    expected.USER.clear(); // written empty, loaded as empty texts
    expected.PASSWORD.clear();
    expectSame(loaded, expected);
    EXPECT_TRUE(loaded.USER.isEmpty());
}

TEST_F(SettingsFile, PrintBoxesAreSavedAsTyped)
{
    Settings s;
    LoadSettings(s, path());
    s.printText.FONT1 = "07";
    s.printText.Gyo = ""; // an emptied box
    ASSERT_TRUE(SaveSettings(s, path()));
    const QByteArray file = readAll(path());
    EXPECT_TRUE(file.contains("\nFONT1=07\n"));
    EXPECT_TRUE(file.contains("\nGyo=\n"));
    Settings loaded;
    LoadSettings(loaded, path());
    EXPECT_EQ(loaded.FONT1, 7);
    EXPECT_EQ(loaded.printText.FONT1, QStringLiteral("7"));
    EXPECT_EQ(loaded.Gyo, 78) << "an empty value loads as the default";
}

TEST_F(SettingsFile, KeyNamesMatchWithoutCaseAndKeepTheirSpelling)
{
    for (const char *spelling : { "op_kasi", "Op_Kasi", "OP_KASI" }) {
        SCOPED_TRACE(spelling);
        writeAll(path(), QByteArray("[その他設定]\n") + spelling + "=0\n[eqsetup]\nSET-NO=4\n");
        Settings s;
        LoadSettings(s, path());
        EXPECT_EQ(s.Op_Kasi, 0);
        EXPECT_EQ(s.EqPreset, 4);
        s.Op_Kasi = 1;
        ASSERT_TRUE(SaveSettings(s, path()));
        const QByteArray file = readAll(path());
        EXPECT_TRUE(file.startsWith(QByteArray("[その他設定]\n") + spelling + "=1\n"));
        EXPECT_EQ(file.toLower().count("op_kasi="), 1);
        EXPECT_EQ(file.toLower().count("set-no="), 1);
        EXPECT_EQ(file.toLower().count("[eqsetup]"), 1);
    }
}

TEST_F(SettingsFile, ReadBackDecidesTheResult)
{
    struct Case {
        QString op14;
        bool ok;
        qsizetype loadedSize;
    } cases[] = {
        { QString(249, u'a'), true, 249 },
        { QString(250, u'a'), false, 249 },
        { QStringLiteral(" padded"), false, 6 },
        { QStringLiteral("'quoted'"), false, 6 },
        { QStringLiteral("two\nlines"), false, 0 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.op14.left(12).toStdString());
        QFile::remove(path());
        Settings s;
        s.Op_14 = c.op14;
        EXPECT_EQ(SaveSettings(s, path()), c.ok);
        Settings loaded;
        LoadSettings(loaded, path());
        EXPECT_EQ(loaded.Op_14.size(), c.loadedSize);
        EXPECT_EQ(loaded.Op_01, 1) << "the other keys are saved all the same";
    }
}

TEST_F(SettingsFile, OtherContentSurvivesASave)
{
    const QByteArray before = "; kestrine settings\n"
                              "[印刷設定]\n"
                              "FONT1 = 5\n"
                              "Check10=1\n"
                              "; hand-written note\n"
                              "\n"
                              "[Mine]\n"
                              "keep=me\n"
                              "[システム]\n"
                              "USER=x\n";
    writeAll(path(), before);
    Settings s;
    LoadSettings(s, path());
    EXPECT_EQ(s.FONT1, 5);
    ASSERT_TRUE(SaveSettings(s, path()));
    const QByteArray after = readAll(path());
    EXPECT_TRUE(after.startsWith("; kestrine settings\n"
                                 "[印刷設定]\n"
                                 "FONT1 =5\n"
                                 "Check10=1\n"));
    EXPECT_TRUE(after.contains("Gyo_St=3\n"
                               "; hand-written note\n"
                               "\n"
                               "[Mine]\n"
                               "keep=me\n"
                               "[システム]\n"
                               "USER=\n"
                               "PASSWORD=\n"
                               "[検索設定]\n"));
    EXPECT_EQ(after.count("Check10"), 1);
}

TEST_F(SettingsFile, ValuesThatAreNoNumbersLoadAsDefaults)
{
    writeAll(path(),
        "[印刷設定]\nFONT1=abc\nFONT2=\nTAB_SP1=70000\nTAB_SP2=-5\nGyo=1.5\nGyo_St=\"09\"\n"
        "[検索設定]\nMP3=2\nWAV=1\n"
        "[EQSETUP]\ncustom-3=-30\ncustom-4=99999999999\nset-no=x\nset-onoff= 1 \n");
    Settings s;
    LoadSettings(s, path());
    EXPECT_EQ(s.FONT1, 6);
    EXPECT_EQ(s.FONT2, 4);
    EXPECT_EQ(s.TAB_SP1, 48);
    EXPECT_EQ(s.TAB_SP2, -5);
    EXPECT_EQ(s.Gyo, 78);
    EXPECT_EQ(s.Gyo_St, 9);
    EXPECT_EQ(s.MP3, 1) << "a flag other than 0 or 1";
    EXPECT_EQ(s.WAV, 1);
    EXPECT_EQ(s.EqBands[3], -30);
    EXPECT_EQ(s.EqBands[4], 0);
    EXPECT_EQ(s.EqPreset, 0);
    EXPECT_EQ(s.EqOn, 1);
}

TEST_F(SettingsFile, Cp932FileFromWindows)
{
    const QByteArray before = "[\x83\x56\x83\x58\x83\x65\x83\x80]\r\n" // システム
                              "USER=\r\nPASSWORD=\r\n"
                              "[\x8c\x9f\x8d\xf5\x90\xdd\x92\xe8]\r\n" // 検索設定
                              "MP3=0\r\nWAV=1\r\n"
                              "[\x88\xf3\x8d\xfc\x90\xdd\x92\xe8]\r\n" // 印刷設定
                              "FONT1=07\r\nCheck10=0\r\n"
                              "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\n" // その他設定
                              "Op_kasi=0\r\nOp_14=C:\\\x8b\xc8\\list.m3u\r\n" // C:\曲\list.m3u
                              "[EQSETUP]\r\nset-no=2\r\nset-onoff=1\r\n";
    writeAll(path(), before);
    Settings s;
    LoadSettings(s, path());
    EXPECT_TRUE(s.USER.isEmpty());
    EXPECT_EQ(s.MP3, 0);
    EXPECT_EQ(s.WAV, 1);
    EXPECT_EQ(s.FONT1, 7);
    EXPECT_EQ(s.Op_Kasi, 0);
    EXPECT_EQ(s.Op_14, QStringLiteral("C:\\曲\\list.m3u"));
    EXPECT_EQ(s.EqPreset, 2);
    EXPECT_EQ(s.EqOn, 1);

    s.Op_17 = QStringLiteral("D:\\曲\\");
    ASSERT_TRUE(SaveSettings(s, path()));
    const QByteArray after = readAll(path());
    EXPECT_TRUE(after.startsWith("[\x83\x56\x83\x58\x83\x65\x83\x80]\r\nUSER=\r\nPASSWORD=\r\n"));
    EXPECT_TRUE(after.contains("Op_14=C:\\\x8b\xc8\\list.m3u\r\n"));
    EXPECT_TRUE(after.contains("Op_17=D:\\\x8b\xc8\\\r\n"));
    EXPECT_FALSE(after.contains("\n\n")) << "every line ends in CR LF";
    EXPECT_EQ(after.count("\r\n"), after.count("\n"));
    Settings again;
    LoadSettings(again, path());
    expectSame(again, s);

    // A value with no CP932 form cannot be kept: the save says so.
    s.Op_17 = QStringLiteral("😀");
    EXPECT_FALSE(SaveSettings(s, path()));
}

TEST_F(SettingsFile, FailedSaveLeavesTheOldFile)
{
    const Settings s = changedSettings();

    // The path is a folder.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
    EXPECT_FALSE(SaveSettings(s, path("folder.ini")));
    EXPECT_TRUE(QFileInfo(path("folder.ini")).isDir());

    // The parent "folder" is a regular file.
    writeAll(path("plain"), "x");
    EXPECT_FALSE(SaveSettings(s, path("plain/kestrine.ini")));
    EXPECT_EQ(readAll(path("plain")), QByteArray("x"));

    // The disk fills up while writing (a file size limit, which binds root too).
    const QByteArray before = "[Mine]\nkeep=me\n";
    writeAll(path(), before);
    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveSettings(s, path());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readAll(path()), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "kestrine.ini", "plain" }))
        << "no temporary file is left behind";
}

TEST_F(SettingsFile, ReadOnlyFileOrFolderIsNotWritten)
{
    const Settings s = changedSettings();
    const QByteArray before = "[Mine]\nkeep=me\n";
    writeAll(path(), before);
    if (geteuid() == 0)
        GTEST_SKIP() << "running as root: permission bits are not enforced";
    ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), 0444), 0);
    EXPECT_FALSE(SaveSettings(s, path()));
    EXPECT_EQ(readAll(path()), before);
    ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), 0644), 0);
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    EXPECT_FALSE(SaveSettings(s, path()));
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(readAll(path()), before);
}

TEST_F(SettingsFile, ReadIniAndWriteIni)
{
    EXPECT_EQ(ReadIni("S", "k", "dflt", path()), QStringLiteral("dflt"));
    EXPECT_TRUE(WriteIni("S", "k", "v", path()));
    EXPECT_EQ(ReadIni("s", "K", "dflt", path()), QStringLiteral("v"));
    EXPECT_FALSE(WriteIni("S", "k", "v ", path()));
    EXPECT_EQ(ReadIni("S", "k", "dflt", path()), QStringLiteral("v"));
    EXPECT_EQ(ReadIni("S", "k", "dflt", dir.path()), QStringLiteral("dflt")) << "a folder reads as no file";
}

TEST(SettingsLocation, ProgramFolderRule)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(chooseProgramFolder(dir.path(), "/usr/bin", "/cfg"), dir.path());
    EXPECT_EQ(chooseProgramFolder("", dir.path(), "/cfg"), dir.path());
    EXPECT_EQ(chooseProgramFolder("", dir.filePath("missing"), "/cfg"), QStringLiteral("/cfg/kestrine"));
    if (geteuid() != 0) {
        EXPECT_EQ(chooseProgramFolder("", "/usr/bin", "/cfg"), QStringLiteral("/cfg/kestrine"));
    }

    qputenv("KESTRINE_CONFIG_DIR", QFile::encodeName(dir.path()));
    EXPECT_EQ(kestrineIniPath(), dir.filePath("kestrine.ini"));
    qunsetenv("KESTRINE_CONFIG_DIR");
}

TEST(Equalizer, ApplyEqPresetUsesTheLoadCurves)
{
    const EqCurve handMade = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    struct Case {
        int16_t preset;
        int16_t expectedPreset;
        EqCurve bands;
    } cases[] = {
        { 0, 0, handMade },
        { 1, 1, {} },
        { 2, 2, { 0, 0, 0, 0, 20, 40, 60, 40, 20, 0 } },
        { 3, 3, { 50, 60, 40, 20, 0, 0, 0, 0, 0, 0 } },
        { 4, 4, { 0, 0, 0, 0, -10, -20, -20, -10, 0, 0 } },
        { 5, 5, { -30, -30, -30, -30, -30, -30, -30, -30, -30, -30 } },
        { 9, 1, {} },
        { -1, 1, {} },
    };
    FakeDecoder &fake = FakeDecoder::instance();
    const DecoderApi api = FakeDecoder::api();
    for (const Case &c : cases) {
        for (int16_t on : { 0, 1 }) {
            SCOPED_TRACE(testing::Message() << "preset " << c.preset << " on " << on);
            fake.reset();
            Settings s;
            s.EqBands = handMade;
            s.EqPreset = c.preset;
            s.EqOn = on;
            ApplyEqPreset(s, api);
            EXPECT_EQ(s.EqPreset, c.expectedPreset);
            EXPECT_EQ(s.EqBands, c.bands);
            EXPECT_EQ(fake.equalizerCalls, on);
            if (on) {
                EXPECT_EQ(fake.equalizer, std::vector<int32_t>(c.bands.begin(), c.bands.end()));
            }
        }
    }
    // The pick curves differ from the load curves for presets 2 to 4.
    EXPECT_EQ(eqPresetCurve(2, EqCurveUse::Pick, handMade), (EqCurve { -20, -20, -20, 10, 30, 40, 20, 30, 10, 10 }));
    EXPECT_EQ(eqPresetCurve(0, EqCurveUse::Pick, handMade), handMade);
}
