// The playback controller without any widget: the scripted decoder below, a recording
// view above, the real playlist model and sequencing beside it.
#include "fakedecoder.h"
#include "playbackcontroller.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "sequencer.h"
#include "testfiles.h"
#include "videopresenter.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

using namespace kes;
using R = PlaybackView::ReadOut;

namespace
{

struct RecordingView : PlaybackView {
    std::map<R, QString> readOuts;
    int seekMax = -1, seekValue = -1, tab = -1;
    QString lines[5];
    int highlights = 0, frames = 0, clears = 0;
    bool minimized = false;

    void showReadOut(R which, const QString &text) override { readOuts[which] = text; }
    void setSeekRange(int maximum) override { seekMax = maximum; }
    void setSeekValue(int seconds) override { seekValue = seconds; }
    void selectTab(int index) override { tab = index; }
    void showLyricsLine(int index, const QString &text) override { lines[index] = text; }
    void highlightCurrentLine() override { ++highlights; }
    void drawSpectrum(const int32_t *, const int32_t *) override { ++frames; }
    void clearSpectrum() override { ++clears; }
    void minimizeForVideo() override { minimized = true; }
    void restoreFromVideo() override { minimized = false; }
};

struct FakeVideo : VideoPresenter {
    QStringList shown;
    void showVideo() override { shown << playback().VideoFile; }
};

void setText(char *field, const char *text)
{
    std::memset(field, 0, 128);
    std::memcpy(field, text, std::min<size_t>(128, std::strlen(text)));
}

class PlaybackControllerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char *argv[] = { const_cast<char *>("test_player"), nullptr };
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override
    {
        FakeDecoder::instance().reset();
        playback().TrackEnded = playback().OutputFailed = false;
        playback().CurrentFile.clear();
        playback().CurrentTrackNo = 1;
        playback().CallbackActive = true;
        FakeDecoder::api().callback(DecoderCallback);
        c.setVideoPresenter(&video);
        for (int i = 1; i <= 5; ++i)
            model.addRow(TrackRow { .fullPath = QStringLiteral("/music/%1.mp3").arg(i) });
    }

    void play(const QString &path, int trackNo = 1) { c.playRow(trackNo, path); }
    QString file(const QString &name, const QByteArray &content = "x")
    {
        writeBytes(dir.filePath(name), content);
        return dir.filePath(name);
    }
    QTimer *lyricsTimer() { return c.findChild<QTimer *>(QStringLiteral("lyrics_timer")); }
    std::vector<std::string> callsBut(const char *skipped)
    {
        std::vector<std::string> calls = FakeDecoder::instance().calls();
        std::erase(calls, skipped);
        return calls;
    }

    FakeDecoder &f = FakeDecoder::instance();
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    RecordingView view;
    FakeVideo video;
    PlaylistModel model;
    QString mode = QStringLiteral("Normal");
    bool repeat = true;
    Sequencer sequencer { model, playback().CurrentTrackNo, [this] { return mode; }, [this] { return repeat; } };
    Settings settings;
    PlaybackController c { FakeDecoder::api(), prompter, view, sequencer, settings };
};

} // namespace

TEST_F(PlaybackControllerTest, ReadOutsOfAStartedTrack)
{
    struct Case {
        int seconds, bitrate, frequency;
        const char *total, *rate, *freq;
    } cases[] = {
        { 187, 128, 44100, "03:07", "128 kb/s", "44.1 KHz" }, { 6000, 0, 22050, "100:00", "VBR", "22.05 KHz" },
        { 40000, 64, 8000, "666:40", "64 kb/s", "8 KHz" }, // past 16 bits: the range holds it
    };
    for (const Case &k : cases) {
        f.openInfo = { .bitrate = k.bitrate, .frequency = k.frequency, .totalSeconds = k.seconds };
        f.clearCalls();
        play(QStringLiteral("/music/a.mp3"), 7);
        EXPECT_EQ(view.readOuts[R::TotalTime], QString::fromLatin1(k.total));
        EXPECT_EQ(view.readOuts[R::Bitrate], QString::fromLatin1(k.rate));
        EXPECT_EQ(view.readOuts[R::Frequency], QString::fromLatin1(k.freq));
        EXPECT_EQ(view.seekMax, k.seconds);
        EXPECT_EQ(c.nowPlaying().totalSeconds, k.seconds);
        // Close and drop lyrics before opening; play last.
        const auto calls = callsBut("getState");
        EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
            (std::vector<std::string> { "close", "setLyricsFile", "open" }));
        EXPECT_EQ(calls.back(), "play");
    }
    EXPECT_EQ(view.readOuts[R::Number], QStringLiteral("No.7"));
    EXPECT_TRUE(c.timebarOn());
    EXPECT_EQ(f.mpegReads, 0); // the frames are counted by the open alone
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(PlaybackControllerTest, OpenAndPlayErrors)
{
    f.openResult = 0;
    prompter.answers.enqueue(Prompter::Answer::Ok);
    play(QString()); // an empty name is no media file: the decoder refuses it
    prompter.answers.enqueue(Prompter::Answer::Cancel);
    play(QStringLiteral("/music/a.mp3"));
    EXPECT_EQ(prompter.texts(), QStringList(2, QStringLiteral("Open Error!!  Next File")));
    EXPECT_EQ(prompter.messages[0].buttons, Prompter::Buttons::OkCancel);
    auto calls = f.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "init"), 1); // only Cancel re-initialises
    EXPECT_FALSE(c.timebarOn());

    f.openResult = 1;
    f.playResult = 0;
    f.clearCalls();
    play(QStringLiteral("/music/a.mp3"));
    EXPECT_EQ(prompter.texts().last(), QStringLiteral("Play start Error!! Next File"));
    EXPECT_EQ(prompter.messages.last().buttons, Prompter::Buttons::Ok);
    EXPECT_EQ(callsBut("getState").back(), "init");
    EXPECT_FALSE(c.timebarOn());
}

TEST_F(PlaybackControllerTest, LyricsSourceChoosesTheTab)
{
    const QString withText = file(QStringLiteral("x.mp3"));
    file(QStringLiteral("x.txt"), "[00:01]line");
    const QString without = file(QStringLiteral("y.mp3"));
    struct Case {
        QString path;
        int kasi, type, lyrics3;
        int tab;
    } cases[] = {
        { withText, 1, -2, 0, 0 }, // a text file beside the track
        { without, 1, -2, 0, 1 }, { withText, 1, 48, -1, 0 }, // Lyrics3 data inside the file
        { withText, 1, 48, 0, 1 }, // said to be there, but unreadable
        { withText, 0, -2, 0, 1 }, // lyrics switched off
    };
    for (const Case &k : cases) {
        settings.Op_Kasi = static_cast<int16_t>(k.kasi);
        f.fileTypes.clear();
        if (k.type != -2)
            f.fileTypes[k.path.toStdString()] = k.type;
        f.lyrics3Result = k.lyrics3;
        f.lyricsFile.clear();
        c.shutdown(); // lyrics off, as after a track that ended by itself
        play(k.path);
        EXPECT_EQ(view.tab, k.tab) << k.path.toStdString() << k.type;
        EXPECT_EQ(c.lyricsOn(), k.tab == 0);
    }
    settings.Op_Kasi = 1;
    f.fileTypes.clear();
    play(withText);
    EXPECT_EQ(f.lyricsFile, dir.filePath(QStringLiteral("x.txt")).toStdString());
    play(QStringLiteral("a.b")); // shorter than four characters before the ending
    EXPECT_EQ(c.LyricsFile(), QStringLiteral(".txt"));
}

TEST_F(PlaybackControllerTest, VideoNamesGoToTheVideoWindow)
{
    play(QStringLiteral("/videos/movie.avi"));
    EXPECT_EQ(video.shown, QStringList { QStringLiteral("/videos/movie.avi") });
    EXPECT_TRUE(view.minimized);
    EXPECT_TRUE(f.openedPath.empty());
    EXPECT_FALSE(c.timebarOn());
    c.videoClosed();
    EXPECT_FALSE(view.minimized);
    // Upper-case endings are no video: the decoder gets them (and refuses them here).
    f.openResult = 0;
    play(QStringLiteral("/videos/MOVIE.AVI"));
    EXPECT_EQ(video.shown.size(), 1);
    EXPECT_EQ(f.openedPath, "/videos/MOVIE.AVI");
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("Open Error!!  Next File") });
}

TEST_F(PlaybackControllerTest, PauseResumeAndStopByState)
{
    play(QStringLiteral("/music/a.mp3"));
    c.PauseResume();
    EXPECT_EQ(f.state, VBMP3_PAUSED);
    EXPECT_FALSE(c.timebarOn());
    c.PauseResume();
    EXPECT_EQ(f.state, VBMP3_PLAYING);
    EXPECT_TRUE(c.timebarOn());
    c.StopTrack();
    EXPECT_EQ(view.tab, 1);
    EXPECT_EQ(view.clears, 1);
    EXPECT_FALSE(c.timebarOn());
    c.PauseResume(); // stopped: plays the open file again
    EXPECT_EQ(callsBut("getState").back(), "play");
    EXPECT_TRUE(c.timebarOn());
    f.state = 7;
    c.PauseResume();
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("設定値以外の引数が返されました。") });
}

TEST_F(PlaybackControllerTest, TickShowsTheHeardPositionAndTheSpectrum)
{
    f.openInfo.totalSeconds = 7000;
    play(QStringLiteral("/music/a.mp3"));
    for (auto [seconds, text] : { std::pair { 0, "00:00" }, { 59, "00:59" }, { 60, "01:00" }, { 6001, "100:01" } }) {
        f.elapsed = seconds;
        c.timebarTick();
        c.timebarTick(); // the same second again
        EXPECT_EQ(view.readOuts[R::Time], QString::fromLatin1(text));
        EXPECT_EQ(view.seekValue, seconds);
    }
    EXPECT_EQ(view.frames, 4); // a spectrum frame on every second tick
    settings.Op_01 = 0;
    c.timebarTick();
    c.timebarTick();
    EXPECT_EQ(view.frames, 4);
    c.seekbarScroll(42);
    EXPECT_EQ(f.seeks, std::vector<int32_t> { 42 });
}

TEST_F(PlaybackControllerTest, EndOfTheLastRowStopsWithBothTimersOff)
{
    repeat = false;
    file(QStringLiteral("5.txt"));
    play(dir.filePath(QStringLiteral("5.mp3")), 5);
    ASSERT_TRUE(c.lyricsOn());
    f.endTrack();
    f.state = VBMP3_STOPPED;
    c.timebarTick();
    EXPECT_FALSE(c.timebarOn());
    EXPECT_FALSE(c.lyricsOn());
    EXPECT_FALSE(lyricsTimer()->isActive());
    EXPECT_EQ(playback().CurrentTrackNo, 1);
    EXPECT_FALSE(playback().TrackEnded);
}

TEST_F(PlaybackControllerTest, EndOfTrackMovesOnAndIsKeptWhileTheTimerIsOff)
{
    play(QStringLiteral("/music/1.mp3"), 1);
    c.PauseResume(); // paused: the timer is off
    f.endTrack();
    EXPECT_TRUE(playback().TrackEnded);
    c.PauseResume(); // resumes; the first tick acts on the flag
    c.timebarTick();
    EXPECT_EQ(playback().CurrentTrackNo, 2);
    EXPECT_EQ(f.openedPath, "/music/2.mp3");
    EXPECT_TRUE(c.timebarOn());
}

TEST_F(PlaybackControllerTest, OutputFailureStopsWithOneMessageAndStaysOnTheRow)
{
    play(QStringLiteral("/music/1.mp3"), 1);
    f.callback(VBMP3_MSG_OUTPUT_FAILED, 0);
    c.timebarTick();
    c.timebarTick();
    EXPECT_FALSE(c.timebarOn());
    EXPECT_EQ(f.state, VBMP3_STOPPED);
    EXPECT_EQ(f.openedPath, "/music/1.mp3");
    EXPECT_EQ(prompter.messages.size(), 1);
}

TEST_F(PlaybackControllerTest, PlayNextPreviousAndTheClickedRow)
{
    model.setChecked(1, false);
    model.setChecked(3, false);
    struct Step {
        void (PlaybackController::*command)();
        const char *opened;
    } steps[] = {
        { &PlaybackController::playPressed, "/music/2.mp3" }, { &PlaybackController::NextTrack, "/music/4.mp3" },
        { &PlaybackController::previousPressed, "/music/2.mp3" },
        { &PlaybackController::previousPressed, "/music/5.mp3" }, // back past row 1 to the last
    };
    for (const Step &s : steps) {
        (c.*s.command)();
        EXPECT_EQ(f.openedPath, s.opened);
    }
    EXPECT_EQ(view.readOuts[R::Number], QStringLiteral("No.5"));
    // The clicked row plays, checked or not, and sequencing goes on from it.
    play(QStringLiteral("/music/3.mp3"), 3);
    c.NextTrack();
    EXPECT_EQ(f.openedPath, "/music/4.mp3");
    // Nothing checked: play and previous do nothing.
    model.uncheckAll();
    f.openedPath.clear();
    c.playPressed();
    c.previousPressed();
    EXPECT_TRUE(f.openedPath.empty());
}

TEST_F(PlaybackControllerTest, NowPlayingNamesByKind)
{
    TagInfo tag {};
    setText(tag.title, "Tag Title");
    f.tags["/m/a.mp3"] = f.tags["/m/b.rmp"] = tag;
    f.fileTypes["/m/a.mp3"] = VBMP3_TYPE_MPEG + VBMP3_TYPE_ID3V1;
    setText(f.lists["/m/b.rmp"].text[0], "List Title");
    TagInfo full {};
    std::memset(full.artist, 'A', sizeof full.artist); // no NUL: shown whole
    std::memset(full.title, 'B', sizeof full.title);
    full.title[9] = '\0';
    f.tags["/m/e.mp3"] = full;
    struct Case {
        const char *path, *artist, *title;
    } cases[] = {
        { "/m/a.mp3", "Nothing Artist Data", "Tag Title" },
        { "/m/b.rmp", "Nothing Data", "List Title" },
        { "/m/c.rmp", "Nothing Data", "Nothing Data" },
        { "/m/d.wav", "", "" },
    };
    for (const Case &k : cases) {
        c.ShowNowPlaying(QString::fromLatin1(k.path));
        EXPECT_EQ(view.readOuts[R::Artist], QString::fromLatin1(k.artist)) << k.path;
        EXPECT_EQ(view.readOuts[R::Title], QString::fromLatin1(k.title)) << k.path;
    }
    c.ShowNowPlaying(QStringLiteral("/m/e.mp3"));
    EXPECT_EQ(view.readOuts[R::Artist], QString(128, QLatin1Char('A')));
    EXPECT_EQ(view.readOuts[R::Title], QString(9, QLatin1Char('B')));
}

TEST_F(PlaybackControllerTest, LyricsLinesAndTheYellowCurrentLine)
{
    c.ShowLyrics(); // all empty
    EXPECT_EQ(view.highlights, 0);
    setText(f.lyrics.line2, "   ");
    setText(f.lyrics.line0, "top");
    setText(f.lyrics.line4, "bottom");
    c.ShowLyrics();
    EXPECT_EQ(view.lines[0], QStringLiteral("top"));
    EXPECT_EQ(view.lines[4], QStringLiteral("bottom"));
    EXPECT_EQ(view.lines[2], QStringLiteral("   "));
    EXPECT_EQ(view.highlights, 0); // spaces only
    std::memset(f.lyrics.line2, 'x', 128);
    c.ShowLyrics();
    EXPECT_EQ(view.lines[2], QString(128, QLatin1Char('x')));
    setText(f.lyrics.line2, "");
    c.ShowLyrics();
    EXPECT_EQ(view.highlights, 1); // and it stays yellow
}

TEST_F(PlaybackControllerTest, LyricsWakeAtTheNextLineOnly)
{
    file(QStringLiteral("s.txt"));
    f.lyricsWait = 300;
    play(dir.filePath(QStringLiteral("s.mp3")));
    EXPECT_TRUE(lyricsTimer()->isActive());
    EXPECT_EQ(lyricsTimer()->interval(), 301);
    const int queries = f.lyricsQueries;
    // Paused or stopped, the lines cannot change: one look and no wake-up.
    c.PauseResume();
    EXPECT_FALSE(lyricsTimer()->isActive());
    EXPECT_EQ(f.lyricsQueries, queries + 1);
    c.PauseResume();
    EXPECT_TRUE(lyricsTimer()->isActive());
    // A seek looks again at once; with no later line nothing is waited for.
    f.lyricsWait = -1;
    setText(f.lyrics.line2, "after the seek");
    c.seekbarScroll(100);
    EXPECT_EQ(view.lines[2], QStringLiteral("after the seek"));
    EXPECT_FALSE(lyricsTimer()->isActive());
    // Waits are bounded, and the wake-up shows the new line.
    f.lyricsWait = 100000;
    c.seekbarScroll(0);
    EXPECT_EQ(lyricsTimer()->interval(), 1000);
    f.lyricsWait = 5;
    c.seekbarScroll(1);
    setText(f.lyrics.line2, "next");
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.lines[2] == QStringLiteral("next"); }, 1000));
    c.StopTrack();
    EXPECT_FALSE(lyricsTimer()->isActive());
    EXPECT_TRUE(c.lyricsOn()); // stop leaves the lines followed, as they stand at the start
}
