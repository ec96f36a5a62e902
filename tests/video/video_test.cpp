// The video window: where it goes next (a table over playlist rows), and the real window
// with Qt Multimedia playing generated clips beside the main window and the scripted
// decoder: size modes, transport, the hand-back, errors, volume and shutdown.
#include "fakedecoder.h"
#include "mainwindow.h"
#include "playbackcontroller.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "sequencer.h"
#include "videoclips.h"
#include "videosequence.h"
#include "videowindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QVideoSink>

#include "testfiles.h"

#include <gtest/gtest.h>

#include <set>

using namespace kes;

namespace
{

// ---- VideoSequence: the cases the window tests below do not reach ---------------------

TEST(VideoSequenceTest, ChoosesTheNextRowOrHandsBack)
{
    enum class Op { End, Next, Back };
    using K = VideoStep::Kind;
    const struct {
        const char *name, *rows; // row names; the checked ones end in '*'
        bool repeat;
        Op op;
        int current;
        K kind;
        const char *path;
        int currentAfter;
    } cases[] = {
        { "nothing after the last row: empty hand-back", "a.avi*", false, Op::End, 1, K::HandBack, "", 1 },
        { "repeat wraps to the first row", "a.avi* b.avi* c.mp3*", true, Op::End, 3, K::PlayHere, "a.avi", 1 },
        { "next with no checked row does nothing", "a.avi b.avi", false, Op::Next, 2, K::Stay, "", 1 },
        { "next past the end hands nothing back", "a.avi* b.avi", false, Op::Next, 1, K::HandBack, "", 1 },
        { "back on row 7 finds row 3", "1.avi 2.avi 3.avi* 4.avi 5.avi 6.avi 7.avi* 8.avi", false, Op::Back, 7,
            K::PlayHere, "3.avi", 3 },
        { "back with only the current row finds it again", "1.avi 2.avi* 3.avi", false, Op::Back, 2, K::PlayHere,
            "2.avi", 2 },
        { "back with no checked row ends at once", "1.avi 2.avi 3.avi", true, Op::Back, 2, K::Stay, "", 2 },
        { "back onto a song hands it back", "a.avi c.mp3*", false, Op::Back, 1, K::HandBack, "c.mp3", 2 },
    };
    for (const auto &c : cases) {
        PlaylistModel rows;
        for (const QString &name : QString::fromLatin1(c.rows).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            TrackRow r;
            r.fullPath = name.chopped(name.endsWith(QLatin1Char('*')) ? 1 : 0);
            rows.setChecked(rows.addRow(r), name.endsWith(QLatin1Char('*')));
        }
        int current = c.current;
        Sequencer sequencer(
            rows, current, [] { return QStringLiteral("Normal"); }, [&c] { return c.repeat; });
        VideoSequence sequence(rows, sequencer, current);
        const VideoStep step = c.op == Op::End ? sequence.endOfStream()
            : c.op == Op::Next                 ? sequence.next()
                                               : sequence.back();
        EXPECT_EQ(step, (VideoStep { c.kind, QString::fromLatin1(c.path) })) << c.name;
        EXPECT_EQ(current, c.currentAfter) << c.name;
    }
}

// ---- The window with real clips ------------------------------------------------------

bool waitFor(const std::function<bool()> &done, int limitMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

class VideoWindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!haveFfmpeg())
            return;
        clips = new QTemporaryDir;
        for (const char *name : { "a.avi", "b.avi", "c.mp3", "clip.mpg", "tone.wma", "CLIP.AVI", "bad.avi" })
            makeClip(QDir(clips->path()), QString::fromLatin1(name));
    }
    static void TearDownTestSuite()
    {
        delete clips;
        clips = nullptr;
    }

    void SetUp() override
    {
        if (!clips)
            GTEST_SKIP() << "ffmpeg is needed to make the clips";
        FakeDecoder::instance().reset();
        PlaybackState &pb = playback();
        pb.CurrentFile.clear();
        pb.VideoFile.clear();
        pb.VideoHandBack = false;
        pb.TrackEnded = false;
        w = std::make_unique<MainWindow>(MainWindow::Context {
            FakeDecoder::api(), &prompter, dir.filePath(QStringLiteral("kestrine.ini")), dir.path() });
        ASSERT_TRUE(w->formLoad());
        w->show();
    }

    void TearDown() override
    {
        if (w)
            w->close();
    }

    static QString clip(const char *name) { return QDir(clips->path()).filePath(QString::fromLatin1(name)); }

    // Fills the playlist (all rows checked, repeat as asked) and plays row `start`.
    void play(const QStringList &paths, bool repeat = false, int start = 1, const std::set<int> &unchecked = {})
    {
        frames = 0;
        sources.clear();
        for (int i = 0; i < paths.size(); ++i) {
            TrackRow r;
            r.fullPath = paths[i];
            w->playlist()->addRow(r);
            w->playlist()->setChecked(i + 1, !unchecked.count(i + 1));
        }
        if (!repeat)
            w->Label15_Click();
        playback().CurrentTrackNo = start;
        playback().CurrentFile = paths[start - 1];
        w->controller()->PlayTrack();
        if (VideoWindow *v = frm()) {
            QObject::connect(v->videoWidget()->videoSink(), &QVideoSink::videoFrameChanged, v, [this] { ++frames; });
            QObject::connect(v->mediaPlayer(), &QMediaPlayer::sourceChanged, v, [this](const QUrl &url) {
                // The order of files; a file opened again in place (see checkStalls) counts once.
                if (!url.isEmpty() && (sources.isEmpty() || sources.last() != url.fileName()))
                    sources << url.fileName();
            });
            sources << playback().VideoFile.section(QLatin1Char('/'), -1);
        }
    }

    static VideoWindow *frm()
    {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *v = qobject_cast<VideoWindow *>(top))
                return v;
        return nullptr;
    }

    bool videoOpen() { return frm() && frm()->isVisible(); }
    bool waitClosed(int limitMs = 10000)
    {
        return waitFor([this] { return !videoOpen(); }, limitMs) && (QTest::qWait(50), true);
    }
    void press(const char *key) { frm()->findChild<QAction *>(QString::fromLatin1(key))->trigger(); }

    static inline QTemporaryDir *clips = nullptr;
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    std::unique_ptr<MainWindow> w;
    int frames = 0;
    QStringList sources;
};

// One playlist through every kind of row: each format plays to its end in the same
// window, a broken file is reported once and skipped, and the upper-case AVI after the
// last video is handed back to the decoder (only lower-case endings are video).
TEST_F(VideoWindowTest, EachFormatInTurnThenTheDecoderGetsTheRest)
{
    play({ clip("a.avi"), clip("bad.avi"), clip("clip.mpg"), clip("tone.wma"), clip("CLIP.AVI") });
    ASSERT_TRUE(videoOpen());
    EXPECT_TRUE(w->isMinimized());
    ASSERT_TRUE(waitFor([] { return FakeDecoder::instance().state == VBMP3_PLAYING; }, 30000));
    EXPECT_EQ(sources,
        QStringList({ QStringLiteral("a.avi"), QStringLiteral("bad.avi"), QStringLiteral("clip.mpg"),
            QStringLiteral("tone.wma") }));
    EXPECT_EQ(prompter.texts(), QStringList { QStringLiteral("Error!! Unload Mediaplayer form") });
    EXPECT_GE(frames, 40);
    EXPECT_FALSE(videoOpen());
    EXPECT_FALSE(w->isMinimized());
    EXPECT_EQ(FakeDecoder::instance().openedPath, clip("CLIP.AVI").toStdString());
    EXPECT_EQ(playback().CurrentTrackNo, 5);
    EXPECT_FALSE(playback().VideoHandBack);
}

TEST_F(VideoWindowTest, BackOnRowOneGoesToRowSeven)
{
    QStringList rows;
    for (int i = 1; i <= 10; ++i)
        rows << (i == 7 ? clip("b.avi") : i == 1 ? clip("a.avi") : QStringLiteral("/none/%1.mp3").arg(i));
    play(rows, true, 1, { 1, 2, 4, 5, 6, 8, 9, 10 });
    ASSERT_TRUE(videoOpen());
    press("back");
    EXPECT_EQ(playback().CurrentTrackNo, 7);
    EXPECT_EQ(frm()->mediaPlayer()->source(), QUrl::fromLocalFile(clip("b.avi")));
}

// One looping clip: transport, the shared volume, the size modes and their keeping.
TEST_F(VideoWindowTest, TransportVolumeAndSizeModes)
{
    play({ clip("a.avi") }, true); // one row with repeat: the clip loops
    QMediaPlayer *player = frm()->mediaPlayer();
    const struct {
        const char *key, *state;
        QMediaPlayer::PlaybackState player;
    } steps[] = { { "stop", "stop", QMediaPlayer::StoppedState }, { "pause", "stop", QMediaPlayer::StoppedState },
        { "play", "play", QMediaPlayer::PlayingState }, { "pause", "pause", QMediaPlayer::PausedState },
        { "play", "play", QMediaPlayer::PlayingState } };
    for (const auto &s : steps) {
        press(s.key);
        EXPECT_EQ(frm()->PlayerState(), QString::fromLatin1(s.state)) << s.key;
        EXPECT_EQ(player->playbackState(), s.player) << s.key;
    }
    // One slider governs both: the main window's sets the video's sound too.
    w->slider1Change(16384);
    EXPECT_TRUE(waitFor([] { return std::abs(frm()->audioOutput()->volume() - 0.25f) < 0.01f; }, 1000));

    ASSERT_TRUE(waitFor([] { return frm()->videoWidget()->videoSink()->videoSize() == QSize(320, 240); }));
    // The 320 x 240 clip is 4800 x 3600 twips at 100%.
    const struct {
        const char *key;
        int mode, controlWidth, width, height;
    } cases[]
        = { { "half", 0, 2400, 3500, 2800 }, { "dubble", 2, 9600, 9800, 8200 }, { "normal", 1, 4800, 5000, 4600 } };
    for (const auto &c : cases) {
        press(c.key);
        EXPECT_EQ(playback().VideoSizeMode, c.mode) << c.key;
        EXPECT_EQ(frm()->controlSizeTwips().width(), c.controlWidth) << c.key;
        // Within the pixel that twips round to.
        EXPECT_NEAR(frm()->windowWidthTwips(), c.width, 15) << c.key;
        EXPECT_NEAR(frm()->windowHeightTwips(), c.height, 15) << c.key;
    }
    press("Full");
    EXPECT_TRUE(frm()->videoWidget()->isFullScreen());
    // The mode outlives the window: the next opening starts at 200%.
    press("dubble");
    frm()->close();
    QTest::qWait(50);
    play({ clip("a.avi") }, true);
    ASSERT_TRUE(waitFor([] { return std::abs(frm()->windowWidthTwips() - 9800) <= 15; }));
}

TEST_F(VideoWindowTest, ClosingByHandOrAtShutdownStartsNothing)
{
    play({ clip("a.avi"), clip("c.mp3") }, true);
    frm()->close();
    QTest::qWait(50);
    EXPECT_FALSE(w->isMinimized());
    EXPECT_TRUE(FakeDecoder::instance().openedPath.empty());
    // Shutdown closes the open video window before the decoder is released.
    playback().CurrentFile = clip("a.avi");
    w->controller()->PlayTrack();
    ASSERT_TRUE(videoOpen());
    w->close();
    QTest::qWait(50);
    EXPECT_FALSE(videoOpen());
    EXPECT_TRUE(FakeDecoder::instance().openedPath.empty());
}

} // namespace
