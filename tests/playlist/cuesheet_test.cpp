// Cue sheets: encodings, tracks and ranges, damaged sheets, and the files they name.
#include "cuesheet.h"
#include "filename.h"
#include "pathbytes.h"
#include "testfiles.h"
#include "textcodec.h"

#include <QStringEncoder>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace kes;

namespace
{

constexpr qint64 frames(int m, int s, int f)
{
    return (qint64(m) * 60 + s) * 75 + f;
}

QByteArray cp932(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    bool ok = false;
    const std::string bytes = utf8ToCp932(std::string_view(utf8.constData(), size_t(utf8.size())), &ok);
    EXPECT_TRUE(ok);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// Every FILE names a file in the sheet's folder, but for names starting "missing".
QString acceptAll(const QString &folder, const QStringList &names)
{
    return names[0].startsWith(QLatin1StringView("missing")) ? QString() : folder + u'/' + names[0];
}

CueSheet parse(const QByteArray &bytes)
{
    return parseCueSheet(bytes, QStringLiteral("/rips/album.cue"), acceptAll);
}

// "number file start-end" for each track, and the faults as "kind@line".
QString summary(const CueSheet &sheet)
{
    QStringList out;
    for (const CueTrack &t : sheet.tracks)
        out << QStringLiteral("%1 %2 %3-%4").arg(t.number).arg(FileNameOf(t.file)).arg(t.start).arg(t.end);
    for (const CueFault &f : sheet.faults)
        out << QStringLiteral("fault%1@%2").arg(int(f.kind)).arg(f.line);
    return out.join(QLatin1StringView(", "));
}

QString fault(CueFault::Kind kind, int line)
{
    return QStringLiteral("fault%1@%2").arg(int(kind)).arg(line);
}

} // namespace

// One EAC sheet in every encoding and line end reads alike, CP932 trail bytes '\' and '|' included.
TEST(CueSheetTest, OneSheetInEveryEncoding)
{
    const QString text = QStringLiteral("REM GENRE \"J-Pop\"\n"
                                        "REM DATE 1998\n"
                                        "REM DISCID 8A0B5C0C\n"
                                        "REM COMMENT \"ExactAudioCopy v1.6\"\n"
                                        "REM DISCNUMBER 2\n"
                                        "REM REPLAYGAIN_ALBUM_GAIN -7.50 dB\n"
                                        "REM REPLAYGAIN_ALBUM_PEAK 0.988525\n"
                                        "CATALOG 4988006123456\n"
                                        "PERFORMER \"宇多田ヒカル\"\n"
                                        "TITLE \"ﾃｽﾄ盤・予報\"\n"
                                        "FILE \"ポップな表.wav\" WAVE\n"
                                        "  TRACK 01 AUDIO\n"
                                        "    TITLE \"十能ソ|ポ\\\"\n"
                                        "    PERFORMER \"ｶﾀｶﾅ歌手\"\n"
                                        "    SONGWRITER \"作詞者\"\n"
                                        "    ISRC JPXX09800001\n"
                                        "    REM REPLAYGAIN_TRACK_GAIN -6.20 dB\n"
                                        "    REM REPLAYGAIN_TRACK_PEAK 0.950000\n"
                                        "    INDEX 01 00:00:00\n"
                                        "  TRACK 02 AUDIO\n"
                                        "    TITLE \"ポップな表\"\n"
                                        "    FLAGS DCP\n"
                                        "    INDEX 00 04:10:20\n"
                                        "    INDEX 01 04:12:00\n");
    const CueTrack one { .number = 1,
        .title = QStringLiteral("十能ソ|ポ\\"),
        .performer = QStringLiteral("ｶﾀｶﾅ歌手"),
        .songwriter = QStringLiteral("作詞者"),
        .isrc = QStringLiteral("JPXX09800001"),
        .file = QStringLiteral("/rips/ポップな表.wav"),
        .fileType = QStringLiteral("WAVE"),
        .end = frames(4, 12, 0),
        .gain = -6.2,
        .peak = 0.95 };
    const CueTrack two { .number = 2,
        .title = QStringLiteral("ポップな表"),
        .performer = QStringLiteral("宇多田ヒカル"),
        .file = one.file,
        .fileType = one.fileType,
        .start = frames(4, 12, 0),
        .pregap = frames(4, 10, 20) };

    const QByteArray sjis = cp932(text);
    ASSERT_TRUE(sjis.contains("\x95\x5C\x22") && sjis.contains("\x83\x7C")); // 表" and ポ
    const QString crlf = QString(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    const QByteArray utf16le = "\xFF\xFE" + QByteArray(QStringEncoder(QStringEncoder::Utf16LE)(crlf));
    const QByteArray utf16be = "\xFE\xFF" + QByteArray(QStringEncoder(QStringEncoder::Utf16BE)(text));
    using E = CueSheet::Encoding;
    const std::tuple<const char *, QByteArray, E> cases[] = {
        { "UTF-8, LF", text.toUtf8(), E::Utf8 },
        { "UTF-8 with a BOM, CR LF", "\xEF\xBB\xBF" + text.toUtf8().replace("\n", "\r\n"), E::Utf8 },
        { "CP932 (EAC), CR LF", QByteArray(sjis).replace("\n", "\r\n"), E::Cp932 },
        { "CP932, lone CR", QByteArray(sjis).replace('\n', '\r'), E::Cp932 },
        { "UTF-16LE with a BOM, CR LF", utf16le, E::Utf16 },
        { "UTF-16BE with a BOM", utf16be, E::Utf16 },
    };
    for (const auto &[name, bytes, encoding] : cases) {
        const CueSheet s = parse(bytes);
        EXPECT_EQ(int(s.encoding), int(encoding)) << name;
        EXPECT_TRUE(s.faults.isEmpty()) << name << ": " << summary(s).toStdString();
        EXPECT_EQ(std::tuple(s.title, s.performer, s.genre, s.date, s.comment, s.discNumber, s.catalog),
            std::tuple(QStringLiteral("ﾃｽﾄ盤・予報"), QStringLiteral("宇多田ヒカル"), QStringLiteral("J-Pop"),
                QStringLiteral("1998"), QStringLiteral("ExactAudioCopy v1.6"), QStringLiteral("2"),
                QStringLiteral("4988006123456")))
            << name;
        EXPECT_EQ(std::tuple(s.albumGain, s.albumPeak), std::tuple(-7.5, 0.988525)) << name;
        EXPECT_TRUE(s.tracks == QList<CueTrack>({ one, two })) << name << ": " << summary(s).toStdString();
    }
    // A Windows-1252 sheet that also decodes as CP932 reads as Windows-1252.
    const CueSheet western = parse("PERFORMER \"C\xE9line Dion\"\nTITLE \"D\x92\x65ux\"\n");
    EXPECT_EQ(std::tuple(western.encoding, western.performer, western.title),
        std::tuple(E::Latin1, QStringLiteral("Céline Dion"), QStringLiteral("D’eux")));
}

// Pregaps, several files, data tracks, other writers' spellings; damaged sheets read as far as sound.
TEST(CueSheetTest, TracksRangesAndFaults)
{
    using K = CueFault::Kind;
    QByteArray manyLines = "FILE \"a.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    for (int i = 0; i < 100000; ++i)
        manyLines += "REM X\n";
    QByteArray manyTracks = "FILE a.wav WAVE\n";
    for (int i = 1; i <= 1001; ++i)
        manyTracks += QStringLiteral("TRACK %1 AUDIO\nINDEX 01 %2:00:00\n").arg(i).arg(i).toUtf8();
    const std::tuple<const char *, QByteArray, QString> cases[] = {
        { "pregaps belong to the track before",
            "FILE \"a.flac\" FLAC\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:02:00\n"
            "TRACK 02 AUDIO\nINDEX 00 03:00:00\nINDEX 01 03:02:10\nTRACK 03 AUDIO\nINDEX 01 05:00:00\n",
            QStringLiteral("1 a.flac 150-13660, 2 a.flac 13660-22500, 3 a.flac 22500--1") },
        // EAC's appended gaps: track 02's INDEX 00 in the first file, its INDEX 01 starts the second.
        { "one file per track",
            "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
            "    INDEX 00 04:10:00\nFILE \"02.wav\" WAVE\n    INDEX 01 00:00:00\n"
            "FILE \"03.wav\" WAVE\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n",
            QStringLiteral("1 01.wav 0--1, 2 02.wav 0--1, 3 03.wav 0--1") },
        { "a data track ends the audio before it and is left out",
            "FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 MODE1/2352\nINDEX 01 40:00:00\n",
            QStringLiteral("1 a.bin 0-180000") },
        { "lower case, tabs, unquoted values, no final line end",
            "file my image.ape wave\r\n\ttrack 1 audio\r\n\t\tindex 01 00:00:74\r\n\ttrack 02 audio\r\n"
            "\t\tindex 1 100:00:00",
            QStringLiteral("1 my image.ape 74-450000, 2 my image.ape 450000--1") },
        { "bad times are left out",
            "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 99:99:99\n"
            "TRACK 03 AUDIO\nINDEX 01 03:00:75\nINDEX 01 03:00:74\nTRACK 04 AUDIO\nINDEX 01 1:2\n"
            "INDEX 01 -1:00:00\nINDEX 01 00:00:00x\n",
            QStringLiteral("1 a.wav 0-13574, 3 a.wav 13574--1, ") + fault(K::NoIndex, 4) + ", " + fault(K::BadTime, 5)
                + ", " + fault(K::BadTime, 7) + ", " + fault(K::NoIndex, 9) + ", " + fault(K::BadTime, 10) + ", "
                + fault(K::BadTime, 11) + ", " + fault(K::BadTime, 12) },
        { "times out of order within a file",
            "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 05:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n"
            "TRACK 03 AUDIO\nINDEX 00 04:00:00\nINDEX 01 05:00:00\nTRACK 04 AUDIO\nINDEX 01 06:00:00\n"
            "FILE b.wav WAVE\nTRACK 05 AUDIO\nINDEX 01 00:00:00\n",
            QStringLiteral("1 a.wav 22500-27000, 4 a.wav 27000--1, 5 b.wav 0--1, ") + fault(K::NoIndex, 4) + ", "
                + fault(K::TimeOutOfOrder, 5) + ", " + fault(K::NoIndex, 6) + ", " + fault(K::TimeOutOfOrder, 7) + ", "
                + fault(K::TimeOutOfOrder, 8) },
        // Some writers repeat the FILE line before each track of one image.
        { "a file named again goes on",
            "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE a.wav WAVE\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n"
            "FILE a.wav WAVE\nTRACK 03 AUDIO\nINDEX 01 00:30:00\n",
            QStringLiteral("1 a.wav 0-4500, 2 a.wav 4500--1, ") + fault(K::NoIndex, 8) + ", "
                + fault(K::TimeOutOfOrder, 9) },
        { "tracks without a file or a number, a missing file",
            "TRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"missing.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
            "FILE a.wav WAVE\nTRACK AUDIO\nTITLE \"not this\"\nINDEX 01 00:00:00\nTRACK 1000 AUDIO\n"
            "TRACK 03\nTRACK 04 AUDIO\nINDEX 01 00:00:00\n",
            QStringLiteral("4 a.wav 0--1, ") + fault(K::NoFile, 1) + ", " + fault(K::MissingFile, 3) + ", "
                + fault(K::BadTrack, 7) + ", " + fault(K::BadTrack, 10) + ", " + fault(K::BadTrack, 11) },
        { "NUL bytes", QByteArray("FILE a.wav WAVE\nTRACK 01 AUDIO\n\0INDEX 01 00:00:00\n", 50), fault(K::NotText, 0) },
        { "a binary file", QByteArray::fromHex("89504e470d0a1a0a0000000d49484452ffd8ffe000104a464946"),
            fault(K::NotText, 0) },
        { "no text at all", "\x81\x40\xFF\xFE\x01", fault(K::NoTracks, 0) },
        { "an absurdly long line",
            "FILE a.wav WAVE\nTRACK 01 AUDIO\nTITLE \"" + QByteArray(100000, 'x') + "\"\nINDEX 01 00:00:00\n",
            QStringLiteral("1 a.wav 0--1, ") + fault(K::LineTooLong, 3) },
        { "100,000 lines", manyLines, QStringLiteral("1 a.flac 0--1") },
        { "past the size limit", QByteArray(kMaxCueSheetBytes + 1, ' '), fault(K::TooBig, 0) },
    };
    for (const auto &[name, bytes, expected] : cases)
        EXPECT_EQ(summary(parse(bytes)), expected) << name;

    const CueSheet many = parse(manyTracks);
    ASSERT_EQ(many.tracks.size(), kMaxCueTracks);
    EXPECT_EQ(many.tracks.last().end, -1);
    EXPECT_EQ(many.faults, QList<CueFault>({ { K::TooManyTracks, 2 * kMaxCueTracks + 2 } }));
    QByteArray manyFiles;
    for (int i = 1; i <= 1001; ++i)
        manyFiles += QStringLiteral("FILE missing%1.wav WAVE\n").arg(i).toUtf8();
    EXPECT_EQ(parse(manyFiles).faults.last(), (CueFault { K::TooManyTracks, kMaxCueTracks + 1 }));
}

// Named files found beside the sheet: other case, other name encoding, re-encoded images, none named.
TEST(CueSheetTest, FilesFoundBesideTheSheet)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path();
    const auto touch = [&](const QByteArray &name) {
        const int fd = ::open((pathToBytes(dir) + '/' + name).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << name.constData();
        ::close(fd);
    };
    for (const char *name : { "CDImage.flac", "CDImage.mp3", "Exact.wav", "Exact.flac", "case.FLAC", "stem.wv",
             "other.cue", "other.txt", "Disc.bin" })
        touch(name);
    touch(cp932(QStringLiteral("アルバム.ape")));
    ::mkdir((pathToBytes(dir) + "/folder.wav").constData(), 0755);
    const QString sjisName = pathFromBytes(cp932(QStringLiteral("アルバム.ape")));
    const auto found = [&](const QString &name) { return resolveCueFile(dir, { name }).mid(dir.size() + 1); };
    const std::pair<QString, QString> cases[] = {
        { "CDImage.wav", "CDImage.flac" }, // lossless before lossy
        { "Exact.wav", "Exact.wav" },
        { "CASE.flac", "case.FLAC" },
        { "stem", "stem.wv" },
        { "C:\\Rips\\Exact.flac", "Exact.flac" },
        { "other.cue", "" },
        { "other", "" },
        { "Disc.bin", "" },
        { "folder.wav", "" },
        { "missing.wav", "" },
    };
    for (const auto &[name, expected] : cases)
        EXPECT_EQ(found(name), expected) << name.toStdString();

    // A CP932 sheet naming a file whose name kept its CP932 bytes, read from the disk.
    writeBytes(dir + "/album.cue",
        cp932(QStringLiteral("FILE \"アルバム.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                             "FILE \"cdimage.WAV\" WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n")));
    const CueSheet sheet = readCueSheet(dir + "/album.cue");
    EXPECT_EQ(summary(sheet), "1 " + sjisName + " 0--1, 2 CDImage.flac 0--1");
    EXPECT_EQ(readCueSheet(dir + "/none.cue").faults, QList<CueFault>({ { CueFault::Kind::Unreadable, 0 } }));
    writeBytes(dir + "/big.cue", QByteArray(kMaxCueSheetBytes + 1, '\n'));
    EXPECT_EQ(readCueSheet(dir + "/big.cue").faults, QList<CueFault>({ { CueFault::Kind::TooBig, 0 } }));
    ::unlink(pathToBytes(dir + u'/' + sjisName).constData()); // a name QTemporaryDir cannot remove
}
