// The playback controller's commands, read-outs, lyrics and joins over the scripted decoder.
#include "controllerfixture.h"
#include "cuerows.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

using namespace kes;
using namespace Qt::StringLiterals;
using R = PlaybackView::ReadOut;

namespace
{

class PlaybackControllerTest : public ControllerFixture
{
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        for (int i = 1; i <= 5; ++i)
            model.addRow(TrackRow { .fullPath = u"/music/%1.mp3"_s.arg(i) });
    }
    // Writes dir/name and returns its path.
    QString file(const QString &name) { return writeBytes(dir.filePath(name), "x"), dir.filePath(name); }
    QTimer *lyricsTimer() { return c.findChild<QTimer *>(u"lyrics_timer"_s); }
    // The controller, for a command after which the test waits until the open it asked
    // for (if any) is done and its report taken.
    struct Settled {
        PlaybackController &c;
        ~Settled() { EXPECT_TRUE(waitForOpen(c)); }
        PlaybackController *operator->() { return &c; }
    };
    Settled settled(PlaybackController &other) { return { other }; }
    Settled settled() { return { c }; }

    QTemporaryDir dir;
};

} // namespace

TEST_F(PlaybackControllerTest, ReadOutsOfAStartedTrack)
{
    for (auto [seconds, bitrate, frequency, codec, shown] :
        { std::tuple { 187, 128, 44100, "Layer III", "03:07 128 kb/s 44.1 KHz Layer III" },
            { 6000, 0, 22050, "Layer II", "100:00 VBR 22.05 KHz Layer II" },
            { 40000, 64, 8000, "", "666:40 64 kb/s 8 KHz " }, // past 16 bits: the range holds it
            // The added formats: their average rate (never VBR), any sampling rate, the codec.
            { 245, 1018, 96000, "FLAC", "04:05 1018 kb/s 96 KHz FLAC" },
            { 5, 4608, 192000, "ALAC", "00:05 4608 kb/s 192 KHz ALAC" },
            { 2, 11, 88200, "HE-AACv2", "00:02 11 kb/s 88.2 KHz HE-AACv2" } }) {
        f.openInfo = { .bitrate = bitrate, .frequency = frequency, .totalSeconds = seconds };
        qstrncpy(f.streamInfo.codecName, codec, sizeof f.streamInfo.codecName);
        f.calls.clear();
        settled()->playRow(7, u"/music/a.mp3"_s);
        EXPECT_EQ(QStringList({ view.readOuts[R::TotalTime], view.readOuts[R::Bitrate], view.readOuts[R::Frequency],
                                  view.readOuts[R::Codec] })
                      .join(u' '),
            QString::fromLatin1(shown));
        EXPECT_EQ(view.seekMax, seconds);
        EXPECT_EQ(c.nowPlaying().totalSeconds, seconds);
        EXPECT_EQ(c.nowPlaying().codec, QString::fromLatin1(codec));
        // Close and drop lyrics before opening; play last.
        EXPECT_EQ(
            f.calls, (std::vector<std::string> { "close", "setLyricsFile", "open", "readEmbeddedLyrics", "play" }));
    }
    EXPECT_EQ(view.readOuts[R::Number], u"No.7"_s);
    EXPECT_TRUE(c.timebarOn() && prompter.messages.isEmpty());
    EXPECT_EQ(f.mpegReads, 0); // the frames are counted by the open alone
}

TEST_F(PlaybackControllerTest, OpenAndPlayErrors)
{
    const QString open = u"Open Error!!  Next File"_s, play = u"Play start Error!! Next File"_s;
    f.openResult = 0;
    prompter.answers << Prompter::Answer::Ok << Prompter::Answer::Cancel;
    settled()->playRow(1, QString()); // an empty name is no media file: the decoder refuses it
    settled()->playRow(1, u"/music/a.mp3"_s);
    EXPECT_EQ(std::ranges::count(f.calls, "init"), 1); // only Cancel re-initialises
    EXPECT_FALSE(c.timebarOn());
    f.openResult = 1;
    f.playResult = 0;
    settled()->playRow(1, u"/music/a.mp3"_s);
    EXPECT_EQ(f.calls.back(), "init");
    EXPECT_FALSE(c.timebarOn());
    EXPECT_EQ(prompter.texts(), QStringList({ open, open, play }));
    EXPECT_EQ(prompter.messages[0].buttons, Prompter::Buttons::OkCancel);
    EXPECT_EQ(prompter.messages[2].buttons, Prompter::Buttons::Ok);
    // The player quits while either box is up: the library, freed meanwhile, stays freed.
    for (const int32_t openResult : { 0, 1 }) {
        f.openResult = openResult;
        prompter.answers << Prompter::Answer::Cancel;
        PlaybackController quitting { FakeDecoder::api(), prompter, view, state, sequencer, settings };
        quitting.start();
        prompter.whileShown = [&] { quitting.shutdown(); };
        settled(quitting)->playRow(1, u"/music/a.mp3"_s);
        EXPECT_EQ(f.calls.back(), "free") << openResult;
    }
    prompter.whileShown = nullptr;
}

// The open runs off the GUI thread: a command returns while the library still opens the
// file, and meanwhile nothing else reaches the library (nothing asked for is open yet).
// The newest request wins: an older open is closed again and one that never started is
// not made; a stop or the quit gives the open up, and the quit frees the library after it.
TEST_F(PlaybackControllerTest, OpenRunsOffTheGuiThreadAndTheNewestRequestWins)
{
    using P = PlaybackController;
    const struct {
        const char *name;
        std::function<void(P &)> meanwhile; // while the open is held
        int holdMs; // how long the gate holds it at most
        std::vector<std::string> calls; // from then on
        const char *number; // what the panel shows at the end
        bool ticking;
    } cases[] = {
        { "two more rows asked",
            [](P &p) {
                p.playRow(3, u"/music/3.mp3"_s);
                p.playRow(4, u"/music/4.mp3"_s);
            },
            2000, { "open", "close", "open", "setOutputVolume", "readEmbeddedLyrics", "play" }, "No.4", true },
        { "stopped", [](P &p) { p.StopTrack(); }, 2000, { "open", "close", "setOutputVolume" }, "", false },
        // The quit waits for the open the gate holds, and frees the library after it.
        { "the quit",
            [](P &p) {
                p.stopTimers();
                p.shutdown();
            },
            200, { "open", "close", "stopCallback", "stop", "free" }, "", false },
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        P pc { FakeDecoder::api(), prompter, view, state, sequencer, settings };
        view.readOuts.clear();
        f.calls.clear();
        f.holdOpens(true, k.holdMs);
        pc.playRow(1, u"/music/1.mp3"_s);
        ASSERT_TRUE(f.waitForHeldOpen());
        EXPECT_TRUE(pc.opening());
        pc.timebarTick();
        pc.seekbarScroll(5);
        pc.PauseResume();
        pc.DrawSpectrum();
        pc.setVolume(0x80008000u);
        EXPECT_EQ(pc.volume(), 0x80008000u);
        EXPECT_EQ(f.calls, (std::vector<std::string> { "close", "setLyricsFile" }));
        f.calls.clear();
        k.meanwhile(pc);
        f.holdOpens(false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !pc.opening(); }, 5000));
        QCoreApplication::processEvents();
        EXPECT_EQ(f.calls, k.calls);
        EXPECT_EQ(view.readOuts[R::Number], QString::fromLatin1(k.number));
        EXPECT_EQ(pc.timebarOn(), k.ticking);
        EXPECT_TRUE(prompter.messages.isEmpty());
    }
}

TEST_F(PlaybackControllerTest, LyricsSourceChoosesTheTab)
{
    const QString withText = file(u"x.mp3"_s), without = file(u"y.mp3"_s), text = file(u"x.txt"_s);
    const QString flac = file(u"z.flac"_s), flacText = file(u"z.txt"_s);
    // embedded: what reading the lyrics in the file's tags gives; embeddedRead: whether it is asked.
    for (auto [path, kasi, type, lyrics3, embedded, tab, embeddedRead] :
        { std::tuple { withText, 1, -2, 0, 1, 0, false }, // a text file beside the track wins over the tags
            { without, 1, -2, 0, 0, 1, true }, { without, 1, -2, 0, 1, 0, true }, // lyrics in the tags
            { withText, 1, 48, -1, 1, 0, false }, // Lyrics3 data inside the file
            { withText, 1, 48, 0, 1, 1, false }, // said to be there, but unreadable
            { withText, 0, -2, 0, 1, 1, false }, // lyrics switched off
            { flac, 1, -2, 0, 1, 0, false } }) { // the text beside a file of a longer ending
        settings.Op_Kasi = static_cast<int16_t>(kasi);
        f.fileTypes.clear();
        if (type != -2)
            f.fileTypes[path.toStdString()] = type;
        f.lyrics3Result = lyrics3;
        f.embeddedLyricsResult = embedded;
        f.calls.clear();
        c.stopTimers(); // lyrics off, as after a track that ended by itself
        settled()->playRow(1, path);
        SCOPED_TRACE(path.toStdString() + " " + std::to_string(type) + " " + std::to_string(embedded));
        EXPECT_EQ(view.tab, tab);
        EXPECT_EQ(c.lyricsOn(), tab == 0);
        const bool textRead = tab == 0 && type == -2 && !embeddedRead;
        EXPECT_EQ(f.lyricsFile, textRead ? (path == flac ? flacText : text).toStdString() : "");
        EXPECT_EQ(std::ranges::count(f.calls, "readEmbeddedLyrics"), embeddedRead ? 1 : 0);
    }
    settings.Op_Kasi = 1;
    settled()->playRow(1, u"a.b"_s); // shorter than four characters before the ending
    EXPECT_EQ(c.LyricsFile(), u".txt"_s);
    // Endings of other lengths than three drop with their dot; the classic rule stays
    // for the rest ("a.ogg" as "a.mp3"; a name without a dot before the ending).
    for (auto [track, lyrics] : { std::pair { "/m/a.flac", "/m/a.txt" }, { "/m/b.FLAC", "/m/b.txt" },
             { "/m/c.wv", "/m/c.txt" }, { "/m/d.opus", "/m/d.txt" }, { "/m/e.ogg", "/m/e.txt" },
             { "/m/xflac", "/m/x.txt" }, { "/m/f.Flac", "/m/f..txt" }, { "wv", ".txt" } })
        EXPECT_EQ(PlaybackController::lyricsFileOf(QString::fromUtf8(track)), QString::fromUtf8(lyrics)) << track;
    f.embeddedLyricsResult = 0; // nothing in the tags from here on
    // Beside a track copied from Windows the text file's ending may be in any case; the
    // exact name comes first, and an LRC file serves when there is no text file.
    for (auto [track, beside, found] : { std::tuple { "SONG.MP3", "SONG.TXT", "SONG.TXT" },
             { "b.mp3", "b.TXT b.txt", "b.txt" }, { "c.mp3", "c.Lrc", "c.Lrc" }, { "d.mp3", "d.lrc d.tXt", "d.tXt" },
             { "e.mp3", "E.txt", "" } }) { // only the ending's case is free
        for (const QString &name : QString::fromLatin1(beside).split(u' '))
            file(name);
        c.stopTimers();
        f.fileTypes.clear();
        f.lyricsFile.clear();
        settled()->playRow(1, dir.filePath(QString::fromLatin1(track)));
        EXPECT_EQ(f.lyricsFile, *found ? dir.filePath(QString::fromLatin1(found)).toStdString() : "") << track;
        EXPECT_EQ(view.tab, *found ? 0 : 1) << track;
    }
}

TEST_F(PlaybackControllerTest, TickPauseResumeAndStop)
{
    f.openInfo.totalSeconds = 7000;
    settled()->playRow(1, u"/music/a.mp3"_s);
    for (auto [seconds, text] : { std::pair { 0, "00:00" }, { 59, "00:59" }, { 60, "01:00" }, { 6001, "100:01" } }) {
        f.elapsed = seconds;
        settled()->timebarTick();
        settled()->timebarTick(); // the same second again
        EXPECT_EQ(view.readOuts[R::Time], QString::fromLatin1(text));
        EXPECT_EQ(view.seekValue, seconds);
    }
    EXPECT_EQ(view.frames, 4); // a spectrum frame on every second tick
    // By the decoder's state: pause, resume, stop, and from stopped the open file again.
    for (auto [state, timebar] : { std::pair { VBMP3_PAUSED, false }, { VBMP3_PLAYING, true }, { VBMP3_STOPPED, false },
             { VBMP3_PLAYING, true } }) {
        state == VBMP3_STOPPED ? c.StopTrack() : c.PauseResume();
        EXPECT_EQ(f.state, state);
        EXPECT_EQ(c.timebarOn(), timebar);
    }
    EXPECT_EQ(f.calls.back(), "play");
    EXPECT_EQ(view.clears, 1); // the stop blanked the spectrum
    settings.Op_01 = 0;
    settled()->timebarTick();
    settled()->timebarTick();
    EXPECT_EQ(view.frames, 4);
    settings.Op_01 = 1; // on, but the window minimised
    view.shown = false;
    settled()->timebarTick();
    settled()->timebarTick();
    EXPECT_EQ(view.frames, 4);
    f.state = 7;
    c.PauseResume();
    EXPECT_EQ(prompter.texts(), QStringList { u"設定値以外の引数が返されました。"_s });
}

// Which row comes next is the sequencer's test, the toolbar's commands the media controls';
// here the end of a track, the clicked row, and the commands with nothing checked.
TEST_F(PlaybackControllerTest, EndOfTrackClickedRowAndNothingChecked)
{
    model.setChecked(3, false);
    settled()->playRow(3, u"/music/3.mp3"_s); // plays although unchecked, and sequencing goes on from it
    c.PauseResume(); // paused: the timer is off, the end is kept for it
    f.endTrack();
    EXPECT_TRUE(callbackFlags().TrackEnded);
    c.PauseResume(); // resumes; the first tick acts on the flag
    settled()->timebarTick();
    EXPECT_EQ(state.CurrentTrackNo, 4);
    EXPECT_EQ(f.openedPath, "/music/4.mp3");
    EXPECT_EQ(view.readOuts[R::Number], u"No.4"_s);
    EXPECT_TRUE(c.timebarOn());
    // The last row without repeat: both timers off.
    repeat = false;
    file(u"5.txt"_s);
    settled()->playRow(5, dir.filePath(u"5.mp3"_s));
    ASSERT_TRUE(c.lyricsOn());
    f.endTrack();
    f.state = VBMP3_STOPPED;
    settled()->timebarTick();
    EXPECT_FALSE(c.timebarOn() || c.lyricsOn() || lyricsTimer()->isActive() || callbackFlags().TrackEnded);
    EXPECT_EQ(state.CurrentTrackNo, 1);
    model.uncheckAll();
    f.openedPath.clear();
    settled()->playPressed();
    settled()->previousPressed();
    EXPECT_TRUE(f.openedPath.empty() && prompter.messages.isEmpty());
}

// A command in the tick's 100 ms after a track ended by itself plays what it asked for, and
// the end of the closed track moves nothing on; "前曲" with no checked row to go back to
// (Random with repeat, where a choice is possible with none checked) plays nothing.
TEST_F(PlaybackControllerTest, NoStaleEndAndNoReplayWithoutAPreviousRow)
{
    settled()->playRow(1, u"/music/1.mp3"_s);
    f.endTrack();
    settled()->playRow(3, u"/music/3.mp3"_s);
    settled()->timebarTick();
    EXPECT_EQ(f.openedPath, "/music/3.mp3");
    EXPECT_EQ(state.CurrentTrackNo, 3);
    // Also when the asked row fails to open: the timer runs on, but nothing follows.
    f.endTrack();
    f.openResult = 0;
    settled()->playRow(2, u"/music/2.mp3"_s);
    f.openResult = 1;
    ASSERT_TRUE(c.timebarOn());
    f.calls.clear();
    settled()->timebarTick();
    EXPECT_EQ(std::ranges::count(f.calls, "open"), 0);
    EXPECT_FALSE(callbackFlags().TrackEnded);

    mode = u"Random"_s;
    model.uncheckAll();
    prompter.messages.clear();
    for (const QString &current : { u"/music/3.mp3"_s, QString() }) { // QString(): right after start-up
        state.CurrentFile = current;
        f.calls.clear();
        settled()->previousPressed();
        EXPECT_EQ(std::ranges::count(f.calls, "open"), 0) << current.toStdString();
    }
    EXPECT_TRUE(prompter.messages.isEmpty());
}

// The order of the calls within the start-up and the shutdown is the main window's test;
// here the session without a window: reports count from start() on, and it ends once.
TEST_F(PlaybackControllerTest, DecoderSessionStartsReportingAndEndsOnce)
{
    callbackFlags().CallbackActive = false;
    f.endTrack();
    EXPECT_FALSE(callbackFlags().TrackEnded);
    c.start();
    f.endTrack();
    EXPECT_TRUE(callbackFlags().TrackEnded);
    settled()->playRow(1, u"/music/1.mp3"_s);
    f.calls.clear();
    c.shutdown();
    c.shutdown();
    EXPECT_EQ(f.calls, (std::vector<std::string> { "stopCallback", "stop", "free" }));
    EXPECT_FALSE(c.timebarOn() || f.callbackActiveAtStopCallback);
}

TEST_F(PlaybackControllerTest, NowPlayingNamesByKind)
{
    TagInfo tag {}, full {};
    qstrncpy(tag.title, "Tag Title", 128);
    f.tags["/m/a.mp3"] = f.tags["/m/b.rmp"] = tag;
    f.fileTypes["/m/a.mp3"] = VBMP3_TYPE_MPEG + VBMP3_TYPE_ID3V1;
    qstrncpy(f.lists["/m/b.rmp"].text[0], "List Title", 128);
    std::memset(full.artist, 'A', sizeof full.artist); // no NUL: shown whole
    std::memset(full.title, 'B', sizeof full.title);
    full.title[9] = '\0';
    f.tags["/m/e.mp3"] = full;
    // The added formats name their tracks as MP3 files do, by what the file holds.
    TagInfo flac {};
    qstrncpy(flac.title, "フラックの曲", 128);
    qstrncpy(flac.artist, "歌手", 128);
    f.tags["/m/f.flac"] = flac;
    f.fileTypes["/m/h.mp3"] = VBMP3_TYPE_OGG_FLAC;
    f.fileTypes["/m/i.flac"] = VBMP3_TYPE_WAV;
    f.tags["/m/i.flac"] = flac;
    for (auto [path, shown] : { std::pair { "/m/a.mp3", u"Nothing Artist Data|Tag Title"_s },
             { "/m/b.rmp", u"Nothing Data|List Title"_s }, { "/m/c.rmp", u"Nothing Data|Nothing Data"_s },
             { "/m/d.wav", u"|"_s }, { "/m/e.mp3", QString(128, u'A') + u"|BBBBBBBBB"_s },
             { "/m/f.flac", u"歌手|フラックの曲"_s }, { "/m/h.mp3", u"Nothing Artist Data|Nothing Title Data"_s },
             { "/m/i.flac", u"|"_s }, { "/m/j.opus", u"Nothing Artist Data|Nothing Title Data"_s } }) {
        c.ShowNowPlaying(QString::fromLatin1(path));
        EXPECT_EQ(view.readOuts[R::Artist] + u'|' + view.readOuts[R::Title], shown) << path;
    }
}

TEST_F(PlaybackControllerTest, LyricsLinesAndTheYellowCurrentLine)
{
    c.ShowLyrics(); // all empty
    qstrncpy(f.lyrics.line2, "   ", 128);
    qstrncpy(f.lyrics.line0, "top", 128);
    qstrncpy(f.lyrics.line4, "bottom", 128);
    c.ShowLyrics();
    EXPECT_EQ(QStringList(std::begin(view.lines), std::end(view.lines)),
        QStringList({ u"top"_s, QString(), u"   "_s, QString(), u"bottom"_s }));
    EXPECT_EQ(view.highlights, 0); // empty or spaces only
    std::memset(f.lyrics.line2, 'x', 128);
    c.ShowLyrics();
    EXPECT_EQ(view.lines[2], QString(128, u'x'));
    qstrncpy(f.lyrics.line2, "", 128);
    c.ShowLyrics();
    EXPECT_EQ(view.highlights, 1); // and it stays yellow
}

TEST_F(PlaybackControllerTest, LyricsWakeAtTheNextLineOnly)
{
    file(u"s.txt"_s);
    f.lyricsWait = 300;
    settled()->playRow(1, dir.filePath(u"s.mp3"_s));
    EXPECT_EQ(lyricsTimer()->isActive() ? lyricsTimer()->interval() : -1, 301);
    const int queries = f.lyricsQueries;
    c.PauseResume(); // paused or stopped, the lines cannot change: one look and no wake-up
    EXPECT_FALSE(lyricsTimer()->isActive());
    EXPECT_EQ(f.lyricsQueries, queries + 1);
    c.PauseResume();
    EXPECT_TRUE(lyricsTimer()->isActive());
    // A seek looks again at once; with no later line nothing is waited for.
    f.lyricsWait = -1;
    qstrncpy(f.lyrics.line2, "after the seek", 128);
    c.seekbarScroll(100);
    EXPECT_EQ(view.lines[2], u"after the seek"_s);
    EXPECT_FALSE(lyricsTimer()->isActive());
    f.lyricsWait = 100000; // waits are bounded
    c.seekbarScroll(0);
    EXPECT_EQ(lyricsTimer()->interval(), 1000);
    f.lyricsWait = 5; // and the wake-up shows the new line
    c.seekbarScroll(1);
    qstrncpy(f.lyrics.line2, "next", 128);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.lines[2] == u"next"_s; }, 1000));
    c.StopTrack();
    EXPECT_FALSE(lyricsTimer()->isActive());
    EXPECT_TRUE(c.lyricsOn()); // stop leaves the lines followed, as they stand at the start
}

TEST_F(PlaybackControllerTest, OutputFailureStopsWithOneMessageAndStaysOnTheRow)
{
    settled()->playRow(1, u"/music/1.mp3"_s);
    f.callback(VBMP3_MSG_OUTPUT_FAILED, 0);
    settled()->timebarTick();
    settled()->timebarTick();
    EXPECT_FALSE(c.timebarOn());
    EXPECT_EQ(f.state, VBMP3_STOPPED);
    EXPECT_EQ(f.openedPath, "/music/1.mp3");
    EXPECT_EQ(prompter.messages.size(), 1);
}

// The row after the playing one is queued in the library as soon as the track starts, and
// the join acts as a track change: CurrentTrackNo, the read-outs, the lyrics, the signal,
// and the row after that queued in turn.  A change of checks, repeat or rows before the
// join replaces or clears what is queued; a stop forgets it.
TEST_F(PlaybackControllerTest, QueuedRowJoinsAndFollowsTheList)
{
    c.watchRows(model);
    int started = 0;
    QObject::connect(&c, &PlaybackController::trackStarted, [&] { ++started; });
    const QString withLyrics = dir.filePath(u"6.mp3"_s);
    file(u"6.txt"_s);
    model.addRow(TrackRow { .fullPath = withLyrics });

    settled()->playRow(1, u"/music/1.mp3"_s);
    EXPECT_EQ(f.queued, "/music/2.mp3");
    EXPECT_EQ(state.CurrentTrackNo, 1); // chosen ahead, made only at the join
    model.setChecked(2, false);
    settle();
    EXPECT_EQ(f.queued, "/music/3.mp3");
    model.setChecked(2, true);
    settle();
    EXPECT_EQ(f.queued, "/music/2.mp3");

    // The join: as the start of row 2, and row 3 queued next.
    ASSERT_TRUE(f.joinQueued());
    settled()->timebarTick();
    EXPECT_EQ(std::tuple(state.CurrentTrackNo, view.readOuts[R::Number], f.queued, started),
        std::tuple(2, u"No.2"_s, std::string("/music/3.mp3"), 2));
    EXPECT_EQ(c.nowPlaying().path, u"/music/2.mp3"_s);
    EXPECT_TRUE(c.timebarOn());

    // Into a track with a lyrics file beside it: the lines follow it.
    settled()->playRow(5, u"/music/5.mp3"_s);
    EXPECT_EQ(f.queued, withLyrics.toStdString());
    EXPECT_FALSE(c.lyricsOn());
    ASSERT_TRUE(f.joinQueued());
    settled()->timebarTick();
    EXPECT_EQ(std::tuple(state.CurrentTrackNo, view.tab, c.lyricsOn()), std::tuple(6, 0, true));
    EXPECT_EQ(f.lyricsFile, dir.filePath(u"6.txt"_s).toStdString());
    EXPECT_EQ(f.queued, "/music/1.mp3"); // repeat: round again
    // Repeat off on the last row: nothing follows.
    repeat = false;
    c.sequenceChanged();
    settle();
    EXPECT_EQ(f.queued, "");
    EXPECT_EQ(f.queueCalls.back(), "");
    repeat = true;

    // Stop in the last second: the queue goes with it, and nothing is taken for heard.
    settled()->playRow(1, u"/music/1.mp3"_s);
    EXPECT_EQ(f.queued, "/music/2.mp3");
    c.StopTrack();
    EXPECT_FALSE(f.joinQueued());
    settled()->timebarTick();
    EXPECT_EQ(std::pair(state.CurrentTrackNo, f.openedPath), std::pair(1, std::string("/music/1.mp3")));
    settled()->PauseResume(); // plays the row again, and queues its follower again
    EXPECT_EQ(f.queued, "/music/2.mp3");
    // A join heard just before the stop: the stopped track is the joined one.
    ASSERT_TRUE(f.joinQueued());
    c.StopTrack();
    EXPECT_EQ(std::pair(state.CurrentTrackNo, view.readOuts[R::Number]), std::pair(2, u"No.2"_s));

    // The list cleared while a track plays: nothing to queue.
    settled()->playRow(1, u"/music/1.mp3"_s);
    model.clear();
    settle();
    EXPECT_EQ(f.queued, "");
}

// "Random" chooses ahead and makes the choice (the row's check, CurrentTrackNo) only at the
// join.  A video row is never queued (it plays in its own window), nor a file the library
// refuses: the track then ends, and the next row is opened as without a queue, its open
// error included.
TEST_F(PlaybackControllerTest, RandomVideoAndRefusedFilesAtTheJoin)
{
    c.watchRows(model);
    settled()->playRow(1, u"/music/1.mp3"_s);
    ASSERT_EQ(f.queued, "/music/2.mp3");
    mode = u"Random"_s;
    sequencer.setRandomSource([] { return 0.7f; });
    c.sequenceChanged();
    settle();
    ASSERT_FALSE(f.queued.empty());
    const std::string chosen = f.queued;
    int row = 0;
    for (int i = 1; i <= model.count(); ++i)
        if (model.fullPath(i).toStdString() == chosen)
            row = i;
    ASSERT_GT(row, 0);
    EXPECT_TRUE(model.isChecked(row)); // not marked before it is heard
    ASSERT_TRUE(f.joinQueued());
    settled()->timebarTick();
    EXPECT_EQ(std::pair(state.CurrentTrackNo, model.isChecked(row)), std::pair(row, false));
    // A check elsewhere keeps the choice made for the next join (no new draw).
    const std::string next = f.queued;
    ASSERT_FALSE(next.empty());
    const size_t calls = f.queueCalls.size();
    int other = 1;
    while (other == row || model.fullPath(other).toStdString() == next || !model.isChecked(other))
        ++other;
    model.setChecked(other, false);
    settle();
    EXPECT_EQ(std::pair(f.queued, f.queueCalls.size()), std::pair(next, calls));

    // A video row next: nothing queued; it comes at the end of the track as before.
    mode = u"Normal"_s;
    model.clear();
    model.addRow(TrackRow { .fullPath = u"/music/a.mp3"_s });
    model.addRow(TrackRow { .fullPath = u"/music/b.mpg"_s });
    model.addRow(TrackRow { .fullPath = u"/music/c.mp3"_s });
    settled()->playRow(1, u"/music/a.mp3"_s);
    EXPECT_EQ(f.queued, "");
    settled()->playRow(3, u"/music/c.mp3"_s);
    EXPECT_EQ(f.queued, "/music/a.mp3");

    // Refused by the library: nothing queued, and at the end the open error of the next row.
    f.queueResult = 0;
    settled()->playRow(3, u"/music/c.mp3"_s);
    EXPECT_EQ(std::pair(f.queueCalls.back(), f.queued), std::pair(std::string("/music/a.mp3"), std::string()));
    f.openResult = 0;
    prompter.answers << Prompter::Answer::Ok;
    f.endTrack();
    settled()->timebarTick();
    EXPECT_EQ(prompter.texts(), QStringList { u"Open Error!!  Next File"_s });
}

// A join the library has made but the tick has not shown yet (reported, or with its report
// still on its way when a stop, open or close drops it): every command takes it first,
// so that it acts on the track heard, shows it, and the choice that led to it (CurrentTrackNo,
// the row's check and mark in "Random") is made on the rows it was worked out for.
TEST_F(PlaybackControllerTest, CommandsTakeAPendingJoinFirst)
{
    // Rows: 1 checked, 0 unchecked, E unchecked and marked, e checked and marked.
    const auto marks = [this] {
        QString out;
        for (int i = 1; i <= model.count(); ++i)
            out += model.tag(i) == u"END"_s ? (model.isChecked(i) ? u'e' : u'E') : (model.isChecked(i) ? u'1' : u'0');
        return out;
    };
    const struct {
        const char *name;
        const char *mode;
        bool reported;
        std::function<void()> command;
        int trackNo;
        const char *number; // what the panel shows
        const char *marks;
    } cases[] = {
        { "mode toggle", "Normal", true,
            [&] {
                c.changeSequence([&] {
                    mode = u"Random"_s;
                    state.CurrentTrackNo = 1;
                });
            },
            1, "No.2", "11111" },
        { "all checked", "Random", true, [&] { model.checkAll(); }, 2, "No.2", "1e111" },
        { "a row removed before", "Random", true, [&] { model.removeRowsAt({ 1 }); }, 2, "No.2", "E111" },
        { "next", "Normal", false, [&] { settled()->NextTrack(); }, 3, "No.3", "11111" },
        { "previous", "Normal", false, [&] { settled()->previousPressed(); }, 1, "No.1", "11111" },
        { "stop, then play again", "Random", false,
            [&] {
                c.StopTrack();
                c.PauseResume();
            },
            2, "No.2", "1E111" },
        { "double click", "Random", false, [&] { settled()->playRow(4, u"/music/4.mp3"_s); }, 4, "No.4", "1E111" },
    };
    c.watchRows(model);
    sequencer.setRandomSource([] { return 0.3f; }); // start row 2 of 5
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        mode = QString::fromLatin1(k.mode);
        model.clear();
        for (int i = 1; i <= 5; ++i)
            model.addRow(TrackRow { .fullPath = u"/music/%1.mp3"_s.arg(i) });
        settled()->playRow(1, u"/music/1.mp3"_s);
        ASSERT_EQ(f.queued, "/music/2.mp3");
        ASSERT_TRUE(f.joinQueued(k.reported));
        k.command();
        settled()->timebarTick();
        QCoreApplication::processEvents();
        EXPECT_EQ(std::tuple(state.CurrentTrackNo, view.readOuts[R::Number], marks()),
            std::tuple(k.trackNo, QString::fromLatin1(k.number), QString::fromLatin1(k.marks)));
        EXPECT_EQ(c.nowPlaying().path.toStdString(), f.openedPath); // the name of what the library holds
    }
}

// "Random" without repeat: a track is followed by nothing when the start row drawn lies
// past the last checked row, once per track end, whether the choice was worked out ahead
// (and queued) or at the end.  Rows 1 and 2 of 5 checked: 3 draws in 5 end there.
TEST_F(PlaybackControllerTest, RandomEndsEarlyAsOftenAsOneDrawSays)
{
    mode = u"Random"_s;
    repeat = false;
    std::mt19937 generator(35);
    sequencer.setRandomSource([&] { return std::uniform_real_distribution<float>(0.0f, 1.0f)(generator); });
    constexpr int kRounds = 2000;
    int ended = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 1; i <= 5; ++i) {
            model.setChecked(i, i <= 2);
            model.setTag(i, QString());
        }
        settled()->playRow(3, u"/music/3.mp3"_s);
        if (!f.joinQueued())
            f.endTrack();
        settled()->timebarTick();
        ended += f.openedPath == "/music/3.mp3" && f.state == VBMP3_STOPPED;
    }
    EXPECT_NEAR(ended, kRounds * 3 / 5, kRounds / 20);
}

// The queue calls the library (which opens the file on this thread) only when what would
// follow changed: not again for a file it refused, nor for a change that leaves the
// choice as it was, in either mode.
TEST_F(PlaybackControllerTest, TheQueueOpensAFileOnlyWhenTheFollowerChanges)
{
    c.watchRows(model);
    float draw = 0.0f;
    sequencer.setRandomSource([&] { return draw = std::fmod(draw + 0.37f, 1.0f); });
    const struct {
        const char *name;
        const char *mode;
        bool refused;
        std::function<void()> change;
    } cases[] = {
        { "refused, other rows change", "Normal", true,
            [&] {
                model.setChecked(5, false);
                model.addRow(TrackRow { .fullPath = u"/music/6.mp3"_s });
                model.setTag(1, u"x"_s);
            } },
        { "repeat off and on", "Random", false,
            [&] {
                repeat = false;
                c.sequenceChanged();
                settle();
                repeat = true;
                c.sequenceChanged();
            } },
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        mode = QString::fromLatin1(k.mode);
        f.queueResult = k.refused ? 0 : 1;
        settled()->playRow(2, model.fullPath(2));
        settle();
        const size_t calls = f.queueCalls.size();
        k.change();
        settle();
        EXPECT_EQ(f.queueCalls.size(), calls);
    }
}

// A cue track opens as its image's range with the sheet's gains; its follower is the
// next range of the same image, then a plain file.
TEST_F(PlaybackControllerTest, CueTracksOpenAndQueueAsRanges)
{
    const CueSheet sheet = parseCueSheet("REM REPLAYGAIN_ALBUM_GAIN -6.5 dB\nREM REPLAYGAIN_ALBUM_PEAK 0.99\n"
                                         "FILE \"CD.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"One\"\n"
                                         "REM REPLAYGAIN_TRACK_GAIN -7.25 dB\nREM REPLAYGAIN_TRACK_PEAK 0.95\n"
                                         "INDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"Two\"\nINDEX 01 01:00:00\n"
                                         "TRACK 03 AUDIO\nINDEX 01 02:00:00\n",
        u"/rips/cd.cue"_s, [](const QString &, const QStringList &) { return u"/rips/CD.flac"_s; });
    model.clear();
    model.addRows(cueTrackRows(sheet, u"/rips/cd.cue"_s, [](const QString &) { return ImageFacts {}; }));
    model.addRow(TrackRow { .fullPath = u"/music/after.mp3"_s });
    c.watchRows(model);
    const auto range = [](const std::optional<TrackRange> &r) {
        return r ? QString::asprintf("%lld-%lld %d %g/%g %g/%g", static_cast<long long>(r->start),
                   static_cast<long long>(r->end), r->gains, r->trackGain, r->trackPeak, r->albumGain, r->albumPeak)
                       .toStdString()
                 : std::string("-");
    };
    Settled
    {
        c
        } -> playRow(1, model.fullPath(1));
    EXPECT_EQ(std::tuple(f.openedPath, range(f.openedRange), view.readOuts[R::Title]),
        std::tuple(std::string("/rips/CD.flac"), std::string("0-4500 3 -7.25/0.95 -6.5/0.99"), u"One"_s));
    const struct {
        std::string heard;
        QString title;
        std::string queued, queuedRange;
    } steps[] = {
        { {}, {}, "/rips/CD.flac", "4500-9000 2 0/0 -6.5/0.99" },
        { "4500-9000 2 0/0 -6.5/0.99", u"Two"_s, "/rips/CD.flac", "9000--1 2 0/0 -6.5/0.99" },
        { "9000--1 2 0/0 -6.5/0.99", u"Track 03"_s, "/music/after.mp3", "-" },
    };
    for (int i = 0; i < 3; ++i) {
        if (i > 0) { // the join: the next row is heard
            ASSERT_TRUE(f.joinQueued());
            c.timebarTick();
            EXPECT_EQ(std::tuple(state.CurrentTrackNo, range(f.openedRange), view.readOuts[R::Title]),
                std::tuple(i + 1, steps[i].heard, steps[i].title));
        }
        settle();
        EXPECT_EQ(std::pair(f.queued, range(f.queuedRange)), std::pair(steps[i].queued, steps[i].queuedRange)) << i;
    }
}
