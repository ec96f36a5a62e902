// The tag writer against mutagen: fields written read back equal, every other item,
// picture and the audio unchanged, and no failure ever costs the original file.

#include "safereplace.h"
#include "tagedittest.h"
#include "tagwriter.h"
#include "testfiles.h"
#include "textcodec.h"

#include <QFileInfo>

#include <fcntl.h>
#include <map>
#include <sys/stat.h>

using namespace kes;
using namespace tagtest;

namespace
{

using Fields = std::map<QString, QString>;

const Fields kId3 { { "TIT2", "夜に駆ける" }, { "TPE1", "Beyoncé & YOASOBI" }, { "TALB", "THE BOOK" },
    { "TPE2", "Ayase" }, { "TDRC", "2020" }, { "TRCK", "3/12" }, { "TPOS", "1/2" }, { "TCON", "J-Pop" },
    { "COMM::XXX", "コメント" }, { "USLT::XXX", "一行目\n二行目" }, { "SYLT::XXX", "1000:一行目 / 2500:二行目" },
    { "id3version", "2.4" } };
const Fields kXiph { { "TITLE", "夜に駆ける" }, { "ARTIST", "Beyoncé & YOASOBI" }, { "ALBUM", "THE BOOK" },
    { "ALBUMARTIST", "Ayase" }, { "DATE", "2020" }, { "TRACKNUMBER", "3" }, { "TRACKTOTAL", "12" },
    { "DISCNUMBER", "1" }, { "DISCTOTAL", "2" }, { "GENRE", "J-Pop" }, { "COMMENT", "コメント" },
    { "LYRICS", "一行目\n二行目" } };
const Fields kMp4 { { "©nam", "夜に駆ける" }, { "©ART", "Beyoncé & YOASOBI" }, { "©alb", "THE BOOK" },
    { "aART", "Ayase" }, { "©day", "2020" }, { "trkn", "3/12" }, { "disk", "1/2" }, { "©gen", "J-Pop" },
    { "©cmt", "コメント" }, { "©lyr", "一行目\n二行目" } };
const Fields kApe { { "TITLE", "夜に駆ける" }, { "ARTIST", "Beyoncé & YOASOBI" }, { "ALBUM", "THE BOOK" },
    { "ALBUM ARTIST", "Ayase" }, { "YEAR", "2020" }, { "TRACK", "3/12" }, { "DISC", "1/2" }, { "GENRE", "J-Pop" },
    { "COMMENT", "コメント" }, { "LYRICS", "一行目\n二行目" } };

Fields gains(const QString &prefix, bool lower = false)
{
    Fields out;
    const std::pair<const char *, const char *> values[]
        = { { "REPLAYGAIN_TRACK_GAIN", "-6.52 dB" }, { "REPLAYGAIN_TRACK_PEAK", "0.988525" },
              { "REPLAYGAIN_ALBUM_GAIN", "+1.25 dB" }, { "REPLAYGAIN_ALBUM_PEAK", "1.000000" } };
    for (const auto &[name, value] : values)
        out[prefix + (lower ? QString(name).toLower() : QString(name))] = value;
    return out;
}

struct Format {
    const char *file;
    const char *make; // %o: the file
    const char *tag; // the starting tags (tagdump.py tag)
    Fields fields, replayGain;
};

const QString kEncoded = "lame --quiet -b 64 tone.wav %o";

std::vector<Format> formats()
{
    const Fields r128 { { "R128_TRACK_GAIN", "-2949" }, { "R128_ALBUM_GAIN", "-960" } };
    return {
        { "v23.mp3", "lame --quiet -b 64 tone.wav %o", "id3v23", kId3, gains("TXXX:") },
        { "v24.mp3", "lame --quiet -b 64 tone.wav %o", "id3v24", kId3, gains("TXXX:") },
        { "v1.mp3", "lame --quiet -b 64 tone.wav %o", "id3v23+v1", kId3, gains("TXXX:") },
        { "a.flac", "flac -s -o %o tone.wav", "flac", kXiph, gains("") },
        { "a.ogg", "oggenc -Q -o %o tone.wav", "xiph", kXiph, gains("") },
        { "a.opus", "opusenc --quiet tone.wav %o", "xiph", kXiph, r128 },
        { "a.m4a", "ffmpeg -v error -i tone.wav -c:a aac -b:a 64k %o", "mp4", kMp4,
            gains("----:com.apple.iTunes:", true) },
        { "a.wv", "wavpack -q tone.wav -o %o", "ape", kApe, gains("") },
        { "a.ape", "cp " KESTRINE_SHARED_TESTDATA "/taglib-formats/mac-399.ape %o", "ape", kApe, gains("") },
    };
}

TagChanges changes(bool mp3)
{
    TagChanges c;
    c.title = "夜に駆ける";
    c.artist = "Beyoncé & YOASOBI";
    c.album = "THE BOOK";
    c.albumArtist = "Ayase";
    c.year = "2020";
    c.track = "3/12";
    c.disc = "1/2";
    c.genre = "J-Pop";
    c.comment = "コメント";
    c.lyrics = "一行目\n二行目";
    if (mp3)
        c.syncedLyrics = "[ti:x]\n[00:02.50]二行目\n[00:01.00]一行目\n";
    return c;
}

// Expects after to hold `written` (an empty text: no such key), and every other key of
// before unchanged.
void expectWritten(const QJsonObject &before, const QJsonObject &after, const Fields &written)
{
    for (const auto &[key, value] : written) {
        EXPECT_EQ(after.value(key).toString(), value) << key.toStdString();
        EXPECT_EQ(after.contains(key), !value.isEmpty()) << key.toStdString();
    }
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (!written.count(it.key()) && it.key() != "ID3v1") {
            EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString();
        }
    }
}

QByteArray cp932Field(const char *utf8, int size)
{
    QByteArray bytes = QByteArray::fromStdString(utf8ToCp932(utf8));
    return bytes.leftJustified(size, '\0', true);
}

TEST(TagWriter, writesEachFormatsOwnTagAndKeepsTheRest)
{
    if (!haveTools())
        GTEST_SKIP() << "sox, lame, ffmpeg and python3-mutagen are needed";
    for (const Format &format : formats()) {
        SCOPED_TRACE(format.file);
        if (QString(format.make).contains(KESTRINE_SHARED_TESTDATA) && !QFile::exists(KESTRINE_SHARED_TESTDATA))
            continue;
        const QString path = copyOf(format.file, format.make, QStringLiteral("copy-") + format.file);
        if (path.isEmpty() || !run(QStringLiteral("/usr/bin/python3 %1 tag %2 %3").arg(tagdump(), path, format.tag))) {
            ADD_FAILURE() << "could not make the file";
            continue;
        }
        // Permissions and the modification time stay.
        ::chmod(QFile::encodeName(path).constData(), 0640);
        const timespec times[2] = { { 1000000000, 0 }, { 1000000000, 500 } };
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        const QJsonObject before = dump(path);
        const QString audio = audioMd5(path);
        ASSERT_FALSE(audio.isEmpty());

        const bool mp3 = QString(format.file).endsWith(".mp3");
        const WriteResult written = writeTags(path, changes(mp3));
        ASSERT_EQ(written.outcome, WriteOutcome::Written) << written.why.toStdString();
        const QJsonObject after = dump(path);
        expectWritten(before, after, format.fields);
        EXPECT_EQ(audioMd5(path), audio);
        struct stat st {
        };
        ::stat(QFile::encodeName(path).constData(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
        EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
        if (before.contains("ID3v1")) {
            // In step, in CP932 where CP932 holds the text, else in Latin-1.
            const QByteArray v1 = QByteArray::fromHex(after.value("ID3v1").toString().toLatin1());
            EXPECT_EQ(v1.mid(3, 30), cp932Field("夜に駆ける", 30));
            EXPECT_EQ(v1.mid(33, 30), QByteArray("Beyonc\xE9 & YOASOBI").leftJustified(30, '\0'));
            EXPECT_EQ(v1.mid(63, 30), QByteArray("THE BOOK").leftJustified(30, '\0'));
        }

        EXPECT_EQ(writeTags(path, changes(mp3)).outcome, WriteOutcome::Unchanged);
        ReplayGainValues gain { -6.52, 0.988525, 1.25, 1.0 };
        ASSERT_TRUE(writeReplayGain(path, gain).ok());
        TagChanges noGenre;
        noGenre.genre = "";
        ASSERT_TRUE(writeTags(path, noGenre).ok());
        Fields last = format.replayGain;
        last.insert(format.fields.begin(), format.fields.end());
        for (const char *genre : { "TCON", "GENRE", "©gen" })
            last[genre] = "";
        const QJsonObject end = dump(path);
        expectWritten(after, end, last);
        EXPECT_EQ(audioMd5(path), audio);
    }
}

bool noCopiesIn(const QString &dir)
{
    return QDir(dir).entryList({ ".kestrine-tag-*" }, QDir::Files | QDir::Hidden).isEmpty();
}

TEST(TagWriter, aFailureLeavesTheOriginalAsItWas)
{
    if (!haveTools())
        GTEST_SKIP() << "sox, lame, ffmpeg and python3-mutagen are needed";
    struct Case {
        const char *name;
        WriteOutcome outcome;
        std::function<void(const QString &file, const QString &dir)> setUp;
        std::function<void(const QByteArray &original)> atReplace;
        bool dropRights = false, fileSizeLimit = false;
        QString syncedLyrics; // on a FLAC file: not supported
    };
    const auto append = [](const QByteArray &original) {
        QFile f(QString::fromLocal8Bit(original));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("x");
    };
    const Case cases[] = {
        { "read-only file", WriteOutcome::ReadOnly,
            [](const QString &file, const QString &) { QFile::setPermissions(file, QFile::ReadOwner); } },
        { "read-only folder", WriteOutcome::ReadOnly,
            [](const QString &, const QString &dir) { QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner); },
            {}, true },
        { "disk full", WriteOutcome::DiskFull, {}, {}, false, true },
        { "changed meanwhile", WriteOutcome::Changed, {}, append },
        { "removed meanwhile", WriteOutcome::Changed, {},
            [](const QByteArray &original) { ::unlink(original.constData()); } },
        { "folder moved meanwhile", WriteOutcome::Changed, {},
            [](const QByteArray &original) {
                const QByteArray dir = original.left(original.lastIndexOf('/'));
                ::rename(dir.constData(), (dir + "-moved").constData());
            } },
        { "synchronised lyrics outside MP3", WriteOutcome::NotSupported, {}, {}, false, false, "[00:01.00]x" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString dir = folder().filePath(c.name);
        QDir().mkpath(dir);
        const bool flac = !c.syncedLyrics.isEmpty();
        const QString made = flac ? copyOf("a.flac", "flac -s -o %o tone.wav", "fault.flac")
                                  : copyOf("v24.mp3", kEncoded, "fault.mp3");
        const QString path = dir + (flac ? "/a.flac" : "/a.mp3");
        ASSERT_TRUE(QFile::rename(made, path));
        if (c.setUp)
            c.setUp(path, dir);
        SafeReplace::setBeforeReplaceHook([&](const QByteArray &original) {
            if (c.atReplace)
                c.atReplace(original);
        });
        const QByteArray original = readBytes(path);
        TagChanges change;
        change.title = "新しい題名";
        if (flac)
            change.syncedLyrics = c.syncedLyrics;
        const auto write = [&] { return writeTags(path, change).outcome == c.outcome; };
        if (c.dropRights)
            EXPECT_EQ(withoutFileRights(write), std::optional<bool>(true));
        else if (c.fileSizeLimit)
            EXPECT_TRUE(withFileSizeLimit(original.size() / 2, write));
        else
            EXPECT_TRUE(write());
        SafeReplace::setBeforeReplaceHook({});
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // The file is as the other party left it, and no copy is left anywhere.
        const QString moved = dir + "-moved";
        const QString now = QDir(moved).exists() ? moved + "/a.mp3" : path;
        if (QString(c.name).startsWith("removed"))
            EXPECT_FALSE(QFile::exists(now));
        else
            EXPECT_EQ(readBytes(now), QString(c.name).startsWith("changed") ? original + "x" : original);
        EXPECT_TRUE(noCopiesIn(dir) && noCopiesIn(moved));
    }
}

} // namespace
