// Cue-sheet tracks as rows: a sheet handed over, an image with its own sheet, the folder
// search, and the playlist files that keep a track's range.
#include "cuerows.h"
#include "filename.h"
#include "folderwalker.h"
#include "pathbytes.h"
#include "playlistfiles.h"
#include "playlisttestsupport.h"
#include "sessionlist.h"
#include "textcodec.h"

using namespace Qt::StringLiterals;

namespace
{

// An EAC sheet of three tracks naming "CDImage.wav" (the rip is FLAC), with a pregap.
const QString kSheet = u"REM GENRE J-Pop\nREM DATE 1998\nREM REPLAYGAIN_ALBUM_GAIN -6.50 dB\n"
                       u"REM REPLAYGAIN_ALBUM_PEAK 0.990000\nPERFORMER \"宇多田ヒカル\"\nTITLE \"ファースト・ラヴ\"\n"
                       u"FILE \"CDImage.wav\" WAVE\n"
                       u"  TRACK 01 AUDIO\n    TITLE \"Automatic\"\n    REM REPLAYGAIN_TRACK_GAIN -7.25 dB\n"
                       u"    REM REPLAYGAIN_TRACK_PEAK 0.950000\n    INDEX 01 00:00:00\n"
                       u"  TRACK 02 AUDIO\n    TITLE \"Movin' on without you\"\n    PERFORMER \"Hikki\"\n"
                       u"    INDEX 00 05:20:00\n    INDEX 01 05:22:30\n"
                       u"  TRACK 03 AUDIO\n    TITLE \"In My Room\"\n    INDEX 01 10:00:00\n"_s;

// Each row: number title/artist/album range seconds kb/s Hz codec year genre sheet gains.
QStringList rowTexts(const PlaylistModel &m)
{
    QStringList out;
    const auto n = [](const std::optional<double> &v) { return v ? QString::number(*v) : u"-"_s; };
    for (int i = 1; i <= m.count(); ++i) {
        const TrackRow &r = m.row(i);
        const CueTrackInfo c = r.cue ? *r.cue : CueTrackInfo {};
        out << (!r.cue ? u"plain "_s + FileNameOf(r.fullPath)
                       : QStringList { n(c.ref.number), r.title + u'/' + r.artist + u'/' + r.album,
                           n(c.ref.start) + u'-' + n(c.ref.end), n(c.seconds) + u's', n(c.kbps), n(c.hertz), c.codec,
                           c.year, c.genre, FileNameOf(c.ref.sheet), n(c.ref.trackGain) + u'/' + n(c.ref.albumGain) }
                             .join(u' '));
    }
    return out;
}

const QStringList kSheetRows = {
    u"1 Automatic/宇多田ヒカル/ファースト・ラヴ 0-24180 322s 900 44100 FLAC 1998 J-Pop album.cue -7.25/-6.5"_s,
    u"2 Movin' on without you/Hikki/ファースト・ラヴ 24180-45000 277s 900 44100 FLAC 1998 J-Pop album.cue -/-6.5"_s,
    // The last track runs to the image's end: 20 minutes less its start.
    u"3 In My Room/宇多田ヒカル/ファースト・ラヴ 45000--1 600s 900 44100 FLAC 1998 J-Pop album.cue -/-6.5"_s,
};

class CueTracksTest : public PlaylistTest
{
protected:
    void SetUp() override
    {
        PlaylistTest::SetUp();
        image = touch(u"CDImage.flac"_s);
        sheet = dir.filePath(u"album.cue"_s);
        writeBytes(sheet, QByteArray::fromStdString(utf8ToCp932(kSheet.toStdString())));
        // 900 kb/s, 44.1 kHz, 20 minutes.
        FakeDecoder::instance().mpegs[image.toStdString()] = { { 0, 0, 900, 44100, 0, 0, 0, 0, 0, 0, 0, 1200000 } };
    }
    QString image, sheet;
};

} // namespace

// Every way files reach the adder turns a sheet, or an image storing one, into its tracks;
// a sheet with none is told of when handed over, a FLAC without one is one row.
TEST_F(CueTracksTest, ASheetHandedOverBecomesItsTracks)
{
    const QString empty = dir.filePath(u"empty.cue"_s), plain = touch(u"plain.flac"_s);
    writeBytes(empty, "REM nothing to play\n");
    FakeDecoder::instance().cueSheets[image.toStdString()] = kSheet.toStdString();
    const std::tuple<const char *, std::function<void(const QStringList &)>, QStringList> ways[] = {
        { "list of files", [&](const QStringList &p) { adder->addFiles(p); }, { sheet, empty } },
        { "drop", [&](const QStringList &p) { adder->dropFiles(p); }, { sheet, empty } },
        { "hand-over", [&](const QStringList &p) { adder->openFiles(p); }, { sheet, empty } },
        { "image", [&](const QStringList &p) { adder->dropFiles(p); }, { image, plain } },
    };
    for (const auto &[name, add, paths] : ways) {
        model.clear();
        prompter.messages.clear();
        add(paths);
        waitIdle();
        QStringList expected = kSheetRows;
        if (paths.contains(image)) // no sheet file: the image's own
            expected.replaceInStrings(u" album.cue "_s, u"  "_s) << u"plain plain.flac"_s;
        EXPECT_EQ(rowTexts(model), expected) << name;
        EXPECT_EQ(model.cell(1, PlaylistModel::FullPathColumn), image) << name;
        EXPECT_EQ(prompter.texts().join(u'|').contains(u"empty.cue"_s), std::string_view(name) == "hand-over") << name;
    }
    // Again: each track is in the list once.
    adder->dropFiles({ image });
    waitIdle();
    EXPECT_EQ(model.count(), 4);
}

// The M3U and the last session's list give back the very tracks (range, gains, sheet), and
// their texts come from the sheet again; another player reads the image's path.
TEST_F(CueTracksTest, PlaylistFilesKeepTheTrack)
{
    adder->addFiles({ sheet });
    waitIdle();
    const QList<TrackRow> rows = model.rows();
    const QStringList keys = fullPaths(model);

    const QByteArray m3u = m3uBytes(rows);
    EXPECT_TRUE(m3u.contains("#EXTINF:277,Hikki - Movin' on without you\r\n#EXTVLCOPT:start-time=322.400\r\n"
                             "#EXTVLCOPT:stop-time=600.000\r\n#KESTRINE-TRACK:02,24180,45000,,,-6.5,0.99,"
        + pathToBytes(sheet) + "\r\n" + pathToBytes(image) + "\r\n"));
    EXPECT_EQ(parseM3u(m3u, dir.path()).paths, keys);
    // A track line before a line that is no track's fields, or followed by nothing, names no track.
    EXPECT_EQ(parseM3u("#KESTRINE-TRACK:x,1\r\n/a.flac\r\n#KESTRINE-TRACK:01,0,-1\r\n", "/").paths,
        QStringList { u"/a.flac"_s });

    Session kept { {}, keys.at(1), true };
    for (const QString &k : keys)
        kept.rows.append({ k, true, false });
    const Session back = readSession(writeSession(kept));
    EXPECT_EQ(std::tuple(back.rows, back.current, back.complete), std::tuple(kept.rows, kept.current, true));

    const QString file = dir.filePath(u"list.m3u"_s);
    writeBytes(file, m3u);
    model.clear();
    adder->loadM3u(file);
    waitIdle();
    EXPECT_EQ(rowTexts(model), kSheetRows);
    EXPECT_EQ(fullPaths(model), keys);
}

// The folder search adds a sheet's tracks in its image's place, never also the image.
TEST_F(CueTracksTest, TheFolderSearchAddsTracksNotTheImage)
{
    touch(u"bonus.mp3"_s);
    touch(u"sub/Alone.flac"_s);
    writeBytes(dir.filePath(u"sub/stray.cue"_s), "FILE \"gone.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    const std::pair<QString, QStringList> cases[] = {
        { u"*.flac;*.mp3"_s, { u"bonus.mp3"_s, u"album.cue"_s, u"sub/Alone.flac"_s } },
        { u"*.*"_s, { u"bonus.mp3"_s, u"album.cue"_s, u"sub/Alone.flac"_s, u"sub/stray.cue"_s } },
        { u"*.mp3"_s, { u"bonus.mp3"_s } }, // the image is not looked for: nor is its sheet
    };
    for (const auto &[pattern, expected] : cases) {
        QStringList found;
        std::atomic_bool cancelled = false;
        FolderWalker::walk(
            dir.path(), true, FilePattern(pattern), [&](QStringList files, const QString &) { found += files; },
            cancelled);
        found.replaceInStrings(dir.path() + u'/', QString());
        EXPECT_EQ(found, expected) << pattern.toStdString();
    }
}
