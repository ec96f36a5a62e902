#include "pathbytes.h"
#include "settings.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
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
    QString path(const QString &name = QStringLiteral("kestrine.ini")) const { return dir.filePath(name); }
    // Loads over a record whose every field differs from its default: a key left alone shows.
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

// Each fixture loads and saves as the bytes beside it, and those bytes save unchanged.
TEST_F(SettingsFile, RoundTripKeepsTheBytesOfEveryFixture)
{
    int count = 0;
    for (QDirIterator it(fixtures, { "*.ini" }); it.hasNext(); ++count) {
        const QString input = it.next();
        SCOPED_TRACE(it.fileName().toStdString());
        const QByteArray expected = readBytes(input + QStringLiteral(".saved"));
        for (const QByteArray &start : { readBytes(input), expected }) {
            writeBytes(path(), start);
            ASSERT_TRUE(SaveSettings(load(path()), path()));
            EXPECT_EQ(readBytes(path()), expected);
        }
    }
    EXPECT_EQ(count, 7);
}

// An added type is on only in a file that saved no search types, until its own key says otherwise.
TEST_F(SettingsFile, AddedTypesAreOnOnlyWhereNoSearchTypesWereSaved)
{
    const QString all = "*.mp3;*.rmp;*.flac;*.ogg;*.oga;*.opus;*.m4a;*.wv;*.ape";
    const std::pair<QByteArray, QString> cases[] = { { "", all }, { "[その他設定]\nOp_01=0\n", all },
        { "[検索設定]\nmp3=1\nRMP=1\n", "*.mp3;*.rmp" }, { "[検索設定]\nwma=0\n", "*.mp3;*.rmp" },
        { "[検索設定]\nWAV=1\nopus=1\nFLAC=7\n", "*.mp3;*.rmp;*.wav;*.opus" }, // 7 is no flag: the rule's 0
        { "[検索設定]\nFLAC=0\nAPE=x\n", "*.mp3;*.rmp;*.ogg;*.oga;*.opus;*.m4a;*.wv;*.ape" },
        { "[Other]\nMP3=1\n", all } };
    for (const auto &[file, pattern] : cases) {
        writeBytes(path(), file);
        Settings s;
        s.addedTypes.fill(-1);
        LoadSettings(s, path());
        EXPECT_EQ(BuildSearchPattern(s), pattern) << file.toStdString();
        // Saved and loaded again, the pattern stays.
        ASSERT_TRUE(SaveSettings(s, path()));
        Settings again;
        LoadSettings(again, path());
        EXPECT_EQ(BuildSearchPattern(again), pattern) << file.toStdString();
    }
    EXPECT_EQ(BuildSearchPattern(Settings()), all);
}

// The player's keys load within range; a save writes ReplayGain, the device and WideDrops only when changed,
// VOLUME never.
TEST_F(SettingsFile, PlayerKeysLoadWithinRangeAndSaveOnlyWhatChanged)
{
    const auto numbers = [](const Settings &s) {
        return std::vector<int> { s.ReplayGainMode, s.ReplayGainPreamp, s.ReplayGainDefault, s.ReplayGainPreventClip,
            s.WideDrops, s.VOLUME };
    };
    const std::tuple<QByteArray, std::vector<int>, QString> cases[] = {
        { "", { 0, 0, 0, 1, 0, -1 }, "" },
        { "ReplayGainMode=2\nReplayGainPreamp=-150\nReplayGainDefault=150\nReplayGainPreventClip=0\nWideDrops=1\n"
          "VOLUME=65535\nOutputDevice=alsa:hw:0\n",
            { 2, -150, 150, 0, 1, 65535 }, "alsa:hw:0" },
        { "ReplayGainMode=3\nreplaygainpreamp=-151\nReplayGainDefault=x\nReplayGainPreventClip=2\nWideDrops=2\n"
          "VOLUME=65536\n",
            { 0, 0, 0, 1, 0, -1 }, "" },
    };
    for (const auto &[keys, loaded, device] : cases) {
        SCOPED_TRACE(keys.toStdString());
        const QByteArray file = "[その他設定]\n" + keys;
        writeBytes(path(), file);
        Settings s;
        s.ReplayGainMode = s.ReplayGainPreamp = s.ReplayGainDefault = s.ReplayGainPreventClip = s.WideDrops = 9;
        s.VOLUME = 9;
        s.OutputDevice = "left";
        LoadSettings(s, path());
        EXPECT_EQ(numbers(s), loaded);
        EXPECT_EQ(s.OutputDevice, device);
        s.VOLUME = 7;
        ASSERT_TRUE(SaveSettings(s, path()));
        EXPECT_TRUE(readBytes(path()).startsWith(file));
        s.ReplayGainPreamp = 5;
        ASSERT_TRUE(SaveSettings(s, path()));
        Settings again;
        LoadSettings(again, path());
        std::vector<int> expected = loaded;
        expected[1] = 5;
        EXPECT_EQ(numbers(again), expected);
        EXPECT_EQ(readBytes(path()).contains("ReplayGainMode"), keys.contains("ReplayGainMode"));
    }
}

// The read-back decides the result; the other keys are saved all the same.
TEST_F(SettingsFile, ReadBackDecidesTheResult)
{
    const std::tuple<QString, bool, qsizetype> cases[] = { // Op_14, saved, its size loaded
        { QString(249, u'a'), true, 249 }, { QString(250, u'a'), false, 249 }, { " padded", false, 6 }
    };
    for (const auto &[op14, ok, loadedSize] : cases) {
        Settings s;
        s.Op_14 = op14;
        EXPECT_EQ(SaveSettings(s, path()), ok) << loadedSize;
        const Settings loaded = load(path());
        EXPECT_EQ(std::pair(loaded.Op_14.size(), loaded.Op_01), std::pair(loadedSize, int16_t(1)));
    }
    EXPECT_TRUE(WriteIni("S", "k", "v", path()) && !WriteIni("S", "k", "v ", path()));
}

// A failed save (disk full, read-only file or folder, no CP932 converter) leaves the old file and no temporary one.
TEST_F(SettingsFile, FailedSavesLeaveTheOldFile)
{
    writeBytes(path(), readBytes(fixtures + "windows-cp932.ini"));
    const QByteArray before = readBytes(path());
    Settings s = load(path());
    EXPECT_FALSE(withFileSizeLimit(64, [&] { return SaveSettings(s, path()); })) << "the disk fills up";
    for (const QString &readOnly : { path(), dir.path() }) {
        ASSERT_EQ(chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
        EXPECT_EQ(withoutFileRights([&] { return SaveSettings(s, path()); }), false) << readOnly.toStdString();
        ASSERT_EQ(chmod(QFile::encodeName(readOnly).constData(), 0755), 0);
    }
    g_noConverter = true;
    EXPECT_FALSE(SaveSettings(s, path())) << "no converter";
    g_noConverter = false;
    EXPECT_EQ(readBytes(path()), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "kestrine.ini" }));
    s.Op_17 = QStringLiteral("C:\\曲～①\\"); // what CP932 holds, saved by a user without file rights
    EXPECT_EQ(withoutFileRights([&] { return SaveSettings(s, path()); }), true);
    EXPECT_EQ(load(path()).Op_17, s.Op_17);
}

// In a CP932 file a value with no CP932 form keeps the key's old value and is named; every other key is saved.
TEST_F(SettingsFile, AValueTheCodePageCannotHoldKeepsItsOldValueAlone)
{
    writeBytes(path(), readBytes(fixtures + "windows-cp932.ini"));
    const Settings old = load(path());
    for (const char *op14 : { "/home/me/Café.m3u", "한국", "C:\\曲\\😀.m3u" }) {
        Settings s = old;
        s.Op_14 = QString::fromUtf8(op14);
        s.Op_03 = int16_t(1 - old.Op_03);
        s.Op_17 = QStringLiteral("C:\\曲～①\\");
        QStringList unwritten;
        EXPECT_FALSE(SaveSettings(s, path(), &unwritten)) << op14;
        EXPECT_EQ(unwritten, QStringList { "Op_14 = " + s.Op_14 });
        const Settings saved = load(path());
        EXPECT_EQ(std::tie(saved.Op_14, saved.Op_03, saved.Op_17), std::tie(old.Op_14, s.Op_03, s.Op_17)) << op14;
        EXPECT_FALSE(readBytes(path()).contains('?'));
    }
}

TEST(SettingsLocation, ProgramFolderRule)
{
    QTemporaryDir dir;
    EXPECT_EQ(chooseProgramFolder(dir.path(), "/usr/bin", "/cfg"), dir.path());
    EXPECT_EQ(chooseProgramFolder("", dir.path(), "/cfg"), dir.path());
    EXPECT_EQ(chooseProgramFolder("", dir.filePath("missing"), "/cfg"), QStringLiteral("/cfg/kestrine"));
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0); // an installed program's folder
    EXPECT_EQ(withoutFileRights([&] { return chooseProgramFolder("", dir.path(), "/cfg") == "/cfg/kestrine"; }), true);
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
}

// A named pipe loads as no file and is not saved over; of a 50 MB file the first MiB loads and the rest is
// kept.
TEST_F(SettingsFile, PipesAndHugeFilesAreReadWithinLimits)
{
    const QByteArray fifo = QFile::encodeName(path());
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    Settings s;
    LoadSettings(s, path());
    EXPECT_EQ(s.Op_01, Settings().Op_01);
    EXPECT_FALSE(SaveSettings(s, path()));
    ::unlink(fifo.constData());

    // A line ends right at the first MiB's end: the keys a save adds must still be read back.
    QByteArray huge = "[その他設定]\nOp_01=0\n[junk]\n";
    huge += "p=" + QByteArray(1024 * 1024 - 1000 * 1000 - huge.size() - 3, 'x') + '\n';
    const QByteArray line = "k=" + QByteArray(997, 'v') + '\n'; // 1000 bytes
    while (huge.size() < 50 * 1000 * 1000)
        huge += line;
    huge += "[その他設定]\nOp_03=1\n";
    writeBytes(path(), huge);
    huge.clear();
    LoadSettings(s, path());
    EXPECT_EQ(s.Op_01, 0);
    EXPECT_EQ(s.Op_03, 0) << "a key past the first MiB is not read";
    s.Op_09 = 1;
    s.MP3 = 0; // a key of a section the file does not hold: appended at its end
    EXPECT_TRUE(SaveSettings(s, path()));
    EXPECT_GT(QFileInfo(path()).size(), 50 * 1000 * 1000) << "what is not read is kept";
    EXPECT_EQ(load(path()).Op_09, 1);
    EXPECT_EQ(load(path()).MP3, 0);
}

// Start-up names that are not UTF-8 keep their bytes; valid text in a CP932 file reads as the text it was.
TEST_F(SettingsFile, PathsKeepTheirBytes)
{
    const QByteArray sjisFolder = QFile::encodeName(dir.path()) + "/\x89\xb9\x8a\x79"; // 音楽 in Shift-JIS
    ASSERT_EQ(::mkdir(sjisFolder.constData(), 0700), 0);
    writeBytes(QFile::decodeName(QFile::encodeName(dir.path())) + "/x", {});
    ASSERT_EQ(::rename(QFile::encodeName(dir.path() + "/x").constData(), (sjisFolder + "/caf\xE9.m3u").constData()), 0);
    Settings s;
    s.Op_14 = pathFromBytes(sjisFolder + "/caf\xE9.m3u");
    s.Op_17 = pathFromBytes(sjisFolder);
    ASSERT_TRUE(SaveSettings(s, path()));
    const QByteArray bytes = readBytes(path());
    EXPECT_TRUE(bytes.contains("Op_14=" + sjisFolder + "/caf\xE9.m3u\n"));
    EXPECT_TRUE(bytes.contains("Op_17=" + sjisFolder + "\n"));
    const Settings back = load(path());
    EXPECT_EQ(back.Op_14, s.Op_14);
    EXPECT_EQ(back.Op_17, s.Op_17);

    // C:\音楽\x.m3u in CP932: no such file, so the text.
    writeBytes(path(), "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\nOp_14=C:\\\x89\xb9\x8a\x79\\x.m3u\r\n");
    EXPECT_EQ(load(path()).Op_14, QStringLiteral("C:\\音楽\\x.m3u"));
}
