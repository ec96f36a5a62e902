// Playing tracks through the main window with the scripted decoder: PlayTrack's read-outs
// and errors, pause/resume, the position timer, the end of a track moving on, the
// now-playing names, the spectrum frames and the lyrics lines.
#include "fakedecoder.h"
#include "mainwindow.h"
#include "playbackstate.h"
#include "playlistcommands.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "tabcontrol.h"
#include "wavebox.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace kes;

namespace
{

class FakeVideo : public VideoPresenter
{
public:
    int shown = 0;
    QString file;
    void showVideo() override
    {
        ++shown;
        file = playback().VideoFile;
    }
};

class PlaybackTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeDecoder::instance().reset();
        playback().TrackEnded = false;
        playback().CurrentFile.clear();
        ASSERT_TRUE(dir.isValid());
        MainWindow::Context ctx;
        ctx.api = FakeDecoder::api();
        ctx.prompter = &prompter;
        ctx.iniPath = dir.filePath(QStringLiteral("kestrine.ini"));
        ctx.programFolder = dir.path();
        w = std::make_unique<MainWindow>(ctx);
        ASSERT_TRUE(w->Form_Load());
        w->setVideoPresenter(&video);
        FakeDecoder::instance().clearCalls();
    }

    QLabel *label(const char *name) { return w->findChild<QLabel *>(QString::fromUtf8(name)); }
    QTimer *timer(const char *name) { return w->findChild<QTimer *>(QString::fromUtf8(name)); }
    int tab() { return w->findChild<TabControl *>(QStringLiteral("SSTab1"))->currentIndex(); }

    QString file(const QString &name, const QByteArray &content = "x")
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }

    void addRows(int n, bool checked = true)
    {
        for (int i = 1; i <= n; ++i) {
            TrackRow r;
            r.title = QStringLiteral("T%1").arg(i);
            r.fullPath = QStringLiteral("/music/%1.mp3").arg(i);
            w->playlist()->addRow(r);
            w->playlist()->setChecked(w->playlist()->count(), checked);
        }
    }

    void play(const QString &path, int trackNo = 1)
    {
        playback().CurrentFile = path;
        playback().CurrentTrackNo = trackNo;
        w->PlayTrack();
    }

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    FakeVideo video;
    std::unique_ptr<MainWindow> w;
};

void setText(char *field, size_t size, const char *text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text, std::min(size, std::strlen(text)));
}

} // namespace

TEST_F(PlaybackTest, ReadOutsOfAStartedTrack)
{
    struct Case {
        int seconds, bitrate, frequency;
        const char *total, *rate, *freq;
    } cases[] = {
        { 187, 128, 44100, "03:07", "128 kb/s", "44.1 KHz" },
        { 6000, 0, 22050, "100:00", "VBR", "22.05 KHz" },
        { 59, 320, 48000, "00:59", "320 kb/s", "48 KHz" },
    };
    for (const Case &c : cases) {
        FakeDecoder::instance().openInfo.totalSeconds = c.seconds;
        FakeDecoder::instance().openInfo.bitrate = c.bitrate;
        FakeDecoder::instance().openInfo.frequency = c.frequency;
        play(QStringLiteral("/music/a.mp3"), 7);
        EXPECT_EQ(label("lbl_time2")->text(), QString::fromLatin1(c.total));
        EXPECT_EQ(label("Label6")->text(), QString::fromLatin1(c.rate));
        EXPECT_EQ(label("Label7")->text(), QString::fromLatin1(c.freq));
        EXPECT_EQ(w->findChild<QScrollBar *>(QStringLiteral("seekbar"))->maximum(), c.seconds);
    }
    EXPECT_EQ(label("Lbl_Number")->text(), QStringLiteral("No.7"));
    EXPECT_TRUE(timer("Timebar")->isActive());
    // Close and drop lyrics before opening; play last.
    const auto calls = FakeDecoder::instance().calls();
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
        (std::vector<std::string> { "close", "setLyricsFile", "open" }));
    EXPECT_EQ(calls.back(), "play");
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(PlaybackTest, OpenAndPlayErrors)
{
    FakeDecoder &f = FakeDecoder::instance();
    f.openResult = 0;
    prompter.answers.enqueue(Prompter::Answer::Ok);
    play(QString()); // an empty name is no media file: the decoder refuses it
    prompter.answers.enqueue(Prompter::Answer::Cancel);
    play(QStringLiteral("/music/a.mp3"));
    EXPECT_EQ(prompter.texts(),
        QStringList({ QStringLiteral("Open Error!!  Next File"), QStringLiteral("Open Error!!  Next File") }));
    EXPECT_EQ(prompter.messages[0].buttons, Prompter::Buttons::OkCancel);
    auto calls = f.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "init"), 1); // only Cancel re-initialises
    EXPECT_FALSE(timer("Timebar")->isActive());

    f.openResult = 1;
    f.playResult = 0;
    f.clearCalls();
    play(QStringLiteral("/music/a.mp3"));
    EXPECT_EQ(prompter.texts().last(), QStringLiteral("Play start Error!! Next File"));
    EXPECT_EQ(prompter.messages.last().buttons, Prompter::Buttons::Ok);
    calls = f.calls();
    EXPECT_EQ(calls.back(), "init");
    EXPECT_FALSE(timer("Timebar")->isActive());
}

TEST_F(PlaybackTest, LyricsSourceChoosesTheTab)
{
    const QString withText = file(QStringLiteral("x.mp3"));
    file(QStringLiteral("x.txt"), "[00:01]line");
    play(withText);
    EXPECT_EQ(tab(), 0);
    EXPECT_TRUE(timer("lyrics_timer")->isActive());
    EXPECT_EQ(FakeDecoder::instance().lyricsFile, dir.filePath(QStringLiteral("x.txt")).toStdString());

    timer("lyrics_timer")->stop();
    play(file(QStringLiteral("y.mp3")));
    EXPECT_EQ(tab(), 1);
    EXPECT_FALSE(timer("lyrics_timer")->isActive());
    play(QStringLiteral("a.b")); // shorter than four characters before the ending: ".txt"
    EXPECT_EQ(w->LyricsFile(), QStringLiteral(".txt"));

    // Lyrics3 data inside the file.
    FakeDecoder::instance().fileTypes[withText.toStdString()] = 48;
    FakeDecoder::instance().lyrics3Result = -1;
    play(withText);
    EXPECT_EQ(tab(), 0);
    FakeDecoder::instance().lyrics3Result = 0;
    play(withText);
    EXPECT_EQ(tab(), 1);

    // Lyrics switched off.
    w->settings().Op_Kasi = 0;
    FakeDecoder::instance().fileTypes.clear();
    play(withText);
    EXPECT_EQ(tab(), 1);
}

TEST_F(PlaybackTest, VideoNamesGoToTheVideoWindow)
{
    play(QStringLiteral("/videos/movie.avi"));
    EXPECT_EQ(video.shown, 1);
    EXPECT_EQ(video.file, QStringLiteral("/videos/movie.avi"));
    EXPECT_TRUE(w->isMinimized());
    EXPECT_TRUE(FakeDecoder::instance().openedPath.empty());
    EXPECT_FALSE(timer("Timebar")->isActive());
    // Upper-case endings are no video: the decoder gets them (and refuses them here).
    FakeDecoder::instance().openResult = 0;
    play(QStringLiteral("/videos/MOVIE.AVI"));
    EXPECT_EQ(video.shown, 1);
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/videos/MOVIE.AVI");
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("Open Error!!  Next File") });
}

TEST_F(PlaybackTest, PauseResumeByState)
{
    FakeDecoder &f = FakeDecoder::instance();
    play(QStringLiteral("/music/a.mp3"));
    w->PauseResume();
    EXPECT_EQ(f.state, 2);
    EXPECT_FALSE(timer("Timebar")->isActive());
    w->PauseResume();
    EXPECT_EQ(f.state, 1);
    EXPECT_TRUE(timer("Timebar")->isActive());
    w->StopTrack();
    EXPECT_EQ(tab(), 1);
    EXPECT_FALSE(timer("Timebar")->isActive());
    f.clearCalls();
    w->PauseResume(); // stopped: plays the open file again
    EXPECT_EQ(f.calls().back(), "play");
    EXPECT_TRUE(timer("Timebar")->isActive());
    f.state = 7;
    w->PauseResume();
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("設定値以外の引数が返されました。") });
}

TEST_F(PlaybackTest, TimerTickShowsTheHeardPosition)
{
    FakeDecoder &f = FakeDecoder::instance();
    f.openInfo.totalSeconds = 7000;
    play(QStringLiteral("/music/a.mp3"));
    for (auto [seconds, text] : { std::pair { 0, "00:00" }, { 59, "00:59" }, { 60, "01:00" }, { 6001, "100:01" } }) {
        f.elapsed = seconds;
        w->Timebar_Timer();
        EXPECT_EQ(label("lblTime")->text(), QString::fromLatin1(text));
        EXPECT_EQ(w->findChild<QScrollBar *>(QStringLiteral("seekbar"))->value(),
            std::min(seconds, w->findChild<QScrollBar *>(QStringLiteral("seekbar"))->maximum()));
    }
    // Only dragging the thumb seeks; an arrow click just moves it.
    auto *bar = w->findChild<QScrollBar *>(QStringLiteral("seekbar"));
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_TRUE(f.seeks.empty());
    bar->setSliderDown(true);
    bar->setSliderPosition(42);
    bar->setSliderDown(false);
    EXPECT_EQ(f.seeks, std::vector<int32_t> { 42 });
}

TEST_F(PlaybackTest, EndOfTheLastRowStopsWithBothTimersOff)
{
    addRows(5);
    w->Label15_Click(); // repeat off
    play(QStringLiteral("/music/5.mp3"), 5);
    timer("lyrics_timer")->start();
    FakeDecoder::instance().endTrack();
    w->Timebar_Timer();
    EXPECT_FALSE(timer("Timebar")->isActive());
    EXPECT_FALSE(timer("lyrics_timer")->isActive());
    EXPECT_EQ(playback().CurrentTrackNo, 1);
    EXPECT_FALSE(playback().TrackEnded);
}

TEST_F(PlaybackTest, EndOfTrackMovesOnAndIsKeptWhileTheTimerIsOff)
{
    addRows(3);
    play(QStringLiteral("/music/1.mp3"), 1);
    w->PauseResume(); // paused: the timer is off
    FakeDecoder::instance().endTrack();
    EXPECT_TRUE(playback().TrackEnded);
    w->PauseResume(); // resumes; the first tick acts on the flag
    w->Timebar_Timer();
    EXPECT_EQ(playback().CurrentTrackNo, 2);
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/music/2.mp3");
    EXPECT_TRUE(timer("Timebar")->isActive());
}

TEST_F(PlaybackTest, ToolbarPlayNextPreviousAndDoubleClick)
{
    addRows(5);
    w->playlist()->setChecked(1, false);
    w->playlist()->setChecked(3, false);
    w->Toolbar_ButtonClick(QStringLiteral("再生"));
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/music/2.mp3");
    w->Toolbar_ButtonClick(QStringLiteral("次曲"));
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/music/4.mp3");
    w->Toolbar_ButtonClick(QStringLiteral("前曲"));
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/music/2.mp3");
    w->Toolbar_ButtonClick(QStringLiteral("前曲")); // from row 2 back past row 1 to the last checked row
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/music/5.mp3");
    EXPECT_EQ(label("Lbl_Number")->text(), QStringLiteral("No.5"));
    // A double click plays the clicked row, checked or not, and sequencing goes on from it.
    w->commands()->ItemClick(3);
    w->ListView_DblClick();
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/music/3.mp3");
    EXPECT_FALSE(w->playlist()->isChecked(3));
    w->Toolbar_ButtonClick(QStringLiteral("次曲"));
    EXPECT_EQ(FakeDecoder::instance().openedPath, "/music/4.mp3");
    // Nothing checked: play and previous do nothing.
    w->playlist()->uncheckAll();
    FakeDecoder::instance().openedPath.clear();
    w->Toolbar_ButtonClick(QStringLiteral("再生"));
    w->Toolbar_ButtonClick(QStringLiteral("前曲"));
    EXPECT_TRUE(FakeDecoder::instance().openedPath.empty());
}

TEST_F(PlaybackTest, NowPlayingNamesByKind)
{
    FakeDecoder &f = FakeDecoder::instance();
    TagInfo tag {};
    setText(tag.title, sizeof tag.title, "Tag Title");
    f.tags["/m/a.mp3"] = tag;
    f.fileTypes["/m/a.mp3"] = 16;
    w->ShowNowPlaying(QStringLiteral("/m/a.mp3"));
    EXPECT_EQ(label("lbl_art")->text(), QStringLiteral("Nothing Artist Data"));
    EXPECT_EQ(label("lbl_title")->text(), QStringLiteral("Tag Title"));

    ListInfo list {};
    setText(list.text[0], 128, "List Title");
    f.tags["/m/b.rmp"] = tag;
    f.lists["/m/b.rmp"] = list;
    w->ShowNowPlaying(QStringLiteral("/m/b.rmp"));
    EXPECT_EQ(label("lbl_title")->text(), QStringLiteral("List Title"));
    EXPECT_EQ(label("lbl_art")->text(), QStringLiteral("Nothing Data"));
    w->ShowNowPlaying(QStringLiteral("/m/c.rmp"));
    EXPECT_EQ(label("lbl_title")->text(), QStringLiteral("Nothing Data"));

    w->ShowNowPlaying(QStringLiteral("/m/d.wav"));
    EXPECT_EQ(label("lbl_art")->text(), QString());
    EXPECT_EQ(label("lbl_title")->text(), QString());

    // A full field without NUL is shown whole; a NUL at position 10 cuts it.
    std::memset(tag.artist, 'A', sizeof tag.artist);
    std::memset(tag.title, 'B', sizeof tag.title);
    tag.title[9] = '\0';
    f.tags["/m/e.mp3"] = tag;
    w->ShowNowPlaying(QStringLiteral("/m/e.mp3"));
    EXPECT_EQ(label("lbl_art")->text(), QString(128, QLatin1Char('A')));
    EXPECT_EQ(label("lbl_title")->text(), QString(9, QLatin1Char('B')));
}

TEST_F(PlaybackTest, SpectrumFrames)
{
    std::array<int32_t, 256> levels {};
    std::array<int32_t, 256> zero {};
    // Silence: one dot per band at row 46 of the 700-twip box.
    QVector<SpectrumDot> dots = spectrumFrame(levels, zero.data(), zero.data(), 700);
    ASSERT_EQ(dots.size(), 16);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(dots[k].pixel, QPoint(4 * k, 46));
        EXPECT_EQ(dots[k].color, QColor(247, 255, 255)); // r = 2 * round(690 * 255 / 700) - 255
    }
    // The louder channel wins: 30 against 60 gives 350 twips.
    std::array<int32_t, 256> a {}, b {};
    a[16] = 30;
    b[16] = 60;
    spectrumFrame(levels, a.data(), b.data(), 700);
    EXPECT_EQ(levels[16], 350);
    // A full bar falls by 100 twips a frame and reaches 0 after seven frames.
    a.fill(0);
    a[0] = 120;
    dots = spectrumFrame(levels, a.data(), zero.data(), 700);
    EXPECT_EQ(levels[0], 700);
    EXPECT_EQ(std::count_if(dots.begin(), dots.end(), [](const SpectrumDot &d) { return d.pixel.x() == 0; }), 47);
    for (int frame = 1; frame <= 7; ++frame) {
        spectrumFrame(levels, zero.data(), zero.data(), 700);
        EXPECT_EQ(levels[0], std::max(0, 700 - 100 * frame)) << frame;
    }
    // The colour runs from cyan at the top to white at the bottom.
    EXPECT_EQ(dots.front().color, QColor(247, 255, 255)); // y = 690
    const auto top = std::find_if(dots.begin(), dots.end(), [](const SpectrumDot &d) { return d.pixel.y() == 0; });
    ASSERT_NE(top, dots.end());
    EXPECT_EQ(top->color, QColor(0, 255, 255));
    // Through the window: Op_01 decides whether a frame is drawn on every second tick.
    auto *box = w->findChild<SpectrumBox *>(QStringLiteral("wavebox"));
    w->Timebar_Timer();
    w->Timebar_Timer();
    EXPECT_EQ(box->dots().size(), 16);
    w->StopTrack();
    EXPECT_TRUE(box->dots().isEmpty());
    w->settings().Op_01 = 0;
    w->Timebar_Timer();
    w->Timebar_Timer();
    EXPECT_TRUE(box->dots().isEmpty());
}

TEST_F(PlaybackTest, LyricsLines)
{
    FakeDecoder &f = FakeDecoder::instance();
    QLabel *middle = label("lbl_kasi(2)");
    const QColor white = middle->palette().color(QPalette::WindowText);
    w->ShowLyrics(); // all empty
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(label(QStringLiteral("lbl_kasi(%1)").arg(i).toUtf8().constData())->text().isEmpty());
    EXPECT_EQ(middle->palette().color(QPalette::WindowText), white);

    setText(f.lyrics.line2, 128, "   ");
    setText(f.lyrics.line0, 128, "top");
    setText(f.lyrics.line4, 128, "bottom");
    w->ShowLyrics();
    EXPECT_EQ(label("lbl_kasi(0)")->text(), QStringLiteral("top"));
    EXPECT_EQ(label("lbl_kasi(4)")->text(), QStringLiteral("bottom"));
    EXPECT_EQ(middle->text(), QStringLiteral("   "));
    EXPECT_EQ(middle->palette().color(QPalette::WindowText), white);

    std::memset(f.lyrics.line2, 'x', 128); // no NUL: shown whole
    w->ShowLyrics();
    EXPECT_EQ(middle->text(), QString(128, QLatin1Char('x')));
    EXPECT_EQ(middle->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    setText(f.lyrics.line2, 128, "");
    w->ShowLyrics();
    EXPECT_EQ(middle->palette().color(QPalette::WindowText), QColor(255, 255, 0)); // stays yellow
}
