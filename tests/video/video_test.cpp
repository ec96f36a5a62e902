// The video window: where it goes next (a table), and the real window playing generated clips.
#include "externalfiles.h"
#include "mprisbridge.h"
#include "mprisservice.h"
#include "pathbytes.h"
#include "sequencer.h"
#include "videoclips.h"
#include "videosequence.h"
#include "videowindow.h"
#include "videowindowpresenter.h"
#include "windowtest.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QVideoSink>

using namespace kes;

namespace
{

// The cases the window tests below do not reach.
TEST(VideoSequenceTest, ChoosesTheNextRowOrHandsBack)
{
    using K = VideoStep::Kind;
    // Rows ('*' checked), repeat, the call (e end, n next, b back) on the current row; the step and row after it.
    for (auto [name, rows, repeat, op, current, expected, after] :
        { std::tuple {
              "nothing after the last row: empty hand-back", "a.avi*", false, 'e', 1, VideoStep { K::HandBack }, 1 },
            { "repeat wraps to the first row", "a.avi* b.avi* c.mp3*", true, 'e', 3, { K::PlayHere, u"a.avi"_s }, 1 },
            { "next with no checked row does nothing", "a.avi b.avi", false, 'n', 2, { K::Stay }, 1 },
            { "next past the end hands nothing back", "a.avi* b.avi", false, 'n', 1, { K::HandBack }, 1 },
            { "back on row 7 finds row 3", "1.avi 2.avi 3.avi* 4.avi 5.avi 6.avi 7.avi* 8.avi", false, 'b', 7,
                { K::PlayHere, u"3.avi"_s }, 3 },
            { "back with only the current row finds it again", "1.avi 2.avi* 3.avi", false, 'b', 2,
                { K::PlayHere, u"2.avi"_s }, 2 },
            { "back with no checked row ends at once", "1.avi 2.avi 3.avi", true, 'b', 2, { K::Stay }, 2 },
            { "back onto a song hands it back", "a.avi c.mp3*", false, 'b', 1, { K::HandBack, u"c.mp3"_s }, 2 } }) {
        PlaylistModel list;
        for (const QString &row : QString::fromLatin1(rows).split(u' '))
            list.setChecked(list.addRow({ .fullPath = QString(row).remove(u'*') }), row.endsWith(u'*'));
        int now = current;
        Sequencer sequencer(
            list, now, [] { return u"Normal"_s; }, [r = repeat] { return r; });
        VideoSequence sequence(list, sequencer, now);
        const VideoStep step = op == 'e' ? sequence.endOfStream() : op == 'n' ? sequence.next() : sequence.back();
        EXPECT_EQ(step, expected) << name;
        EXPECT_EQ(now, after) << name;
    }
}

class VideoWindowTest : public WindowTest
{
protected:
    void SetUp() override
    {
        if (!haveFfmpeg())
            GTEST_SKIP() << "ffmpeg is needed to make the clips";
        WindowTest::SetUp();
        w = start();
        w->show();
    }
    void TearDown() override
    {
        if (w)
            w->close();
    }
    // The clip of that name, made on first use.
    static QString clip(const char *name)
    {
        static QTemporaryDir clips;
        const QString path = clips.filePath(QString::fromLatin1(name));
        return QFile::exists(path) ? path : makeClip(QDir(clips.path()), QString::fromLatin1(name));
    }
    // Fills the playlist, repeat as asked, and plays the first row.
    void play(const QStringList &paths, bool repeat = false)
    {
        addRows(*w, paths);
        if (!repeat)
            w->Label15_Click();
        w->playbackState().CurrentFile = paths[0];
        w->controller()->PlayTrack();
        EXPECT_TRUE(waitForOpen(*w->controller()));
    }
    static VideoWindow *frm()
    {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *v = qobject_cast<VideoWindow *>(top))
                return v;
        return nullptr;
    }
    bool videoOpen() { return frm() && frm()->isVisible(); }
    void press(const char *key) { child<QAction>(*frm(), QString::fromLatin1(key))->trigger(); }

    std::unique_ptr<MainWindow> w;
};

// Every kind of row in one list: same window, a broken file reported once, upper-case AVI handed back.
TEST_F(VideoWindowTest, EachFormatInTurnThenTheDecoderGetsTheRest)
{
    play({ clip("a.avi"), clip("bad.avi"), clip("clip.mpg"), clip("tone.wma"), clip("CLIP.AVI") });
    ASSERT_TRUE(videoOpen());
    int frames = 0;
    QStringList sources { w->playbackState().VideoFile.section(u'/', -1) };
    QObject scope; // ends the connections before the counts
    QObject::connect(frm()->videoWidget()->videoSink(), &QVideoSink::videoFrameChanged, &scope, [&] { ++frames; });
    QObject::connect(frm()->mediaPlayer(), &QMediaPlayer::sourceChanged, &scope, [&](const QUrl &url) {
        // The order of files; a file opened again in place (see checkStalls) counts once.
        if (!url.isEmpty() && sources.last() != url.fileName())
            sources << url.fileName();
    });
    EXPECT_TRUE(w->isMinimized());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.state == VBMP3_PLAYING; }, 30000));
    EXPECT_EQ(sources, QStringList({ u"a.avi"_s, u"bad.avi"_s, u"clip.mpg"_s, u"tone.wma"_s }));
    EXPECT_EQ(prompter.texts(), QStringList { u"Error!! Unload Mediaplayer form"_s });
    EXPECT_GE(frames, 40);
    EXPECT_FALSE(videoOpen() || w->isMinimized() || w->playbackState().VideoHandBack);
    EXPECT_EQ(fake.openedPath, clip("CLIP.AVI").toStdString());
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 5);
}

// With repeat and only broken videos each is reported once; coming back to a failed one ends the round.
TEST_F(VideoWindowTest, ARoundOfBrokenVideosEnds)
{
    play({ clip("bad.avi"), clip("bad2.mpg") }, true);
    ASSERT_TRUE(videoOpen());
    VideoWindow *video = frm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !videoOpen(); }, 30000));
    QTest::qWait(300);
    EXPECT_EQ(prompter.texts(), QStringList(2, u"Error!! Unload Mediaplayer form"_s));
    for (const auto &m : prompter.messages)
        EXPECT_EQ(m.over, video);
    EXPECT_FALSE(w->isMinimized() || w->playbackState().VideoHandBack);
    EXPECT_EQ(fake.state, VBMP3_STOPPED);
}

// One looping clip: transport, the shared volume, the size modes and their keeping.
TEST_F(VideoWindowTest, TransportVolumeAndSizeModes)
{
    play({ clip("a.avi") }, true); // one row with repeat: the clip loops
    for (auto [key, state, player] : { std::tuple { "stop", "stop", QMediaPlayer::StoppedState },
             { "pause", "stop", QMediaPlayer::StoppedState }, { "play", "play", QMediaPlayer::PlayingState },
             { "pause", "pause", QMediaPlayer::PausedState }, { "play", "play", QMediaPlayer::PlayingState } }) {
        press(key);
        EXPECT_EQ(frm()->PlayerState(), QString::fromLatin1(state)) << key;
        EXPECT_EQ(frm()->mediaPlayer()->playbackState(), player) << key;
    }
    // One slider governs both: the main window's sets the video's sound too.
    w->slider1Change(16384);
    EXPECT_TRUE(QTest::qWaitFor([] { return std::abs(frm()->audioOutput()->volume() - 0.25f) < 0.01f; }, 1000));
    ASSERT_TRUE(
        QTest::qWaitFor([] { return frm()->videoWidget()->videoSink()->videoSize() == QSize(320, 240); }, 10000));
    // The 320 x 240 clip is 4800 x 3600 twips at 100%; sizes within the pixel twips round to.
    for (auto [key, mode, controlWidth, width, height] : { std::tuple { "half", 0, 2400, 3500, 2800 },
             { "dubble", 2, 9600, 9800, 8200 }, { "normal", 1, 4800, 5000, 4600 } }) {
        press(key);
        EXPECT_EQ(w->playbackState().VideoSizeMode, mode) << key;
        EXPECT_EQ(frm()->controlSizeTwips().width(), controlWidth) << key;
        EXPECT_NEAR(frm()->windowWidthTwips(), width, 15) << key;
        EXPECT_NEAR(frm()->windowHeightTwips(), height, 15) << key;
    }
    press("Full");
    EXPECT_TRUE(frm()->videoWidget()->isFullScreen());
    // The mode outlives the window: the next opening starts at 200%.
    press("dubble");
    frm()->close();
    QTest::qWait(50);
    play({ clip("a.avi") }, true);
    ASSERT_TRUE(QTest::qWaitFor([] { return std::abs(frm()->windowWidthTwips() - 9800) <= 15; }, 10000));
}

// Where back goes is the sequence's table above; here the button, and what closing starts.
TEST_F(VideoWindowTest, BackThenClosingByHandOrAtShutdownStartsNothing)
{
    play({ clip("a.avi"), clip("c.mp3"), clip("b.avi") }, true);
    press("back"); // from row 1 round to the last row
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 3);
    EXPECT_EQ(frm()->mediaPlayer()->source(), QUrl::fromLocalFile(clip("b.avi")));
    frm()->close();
    QTest::qWait(50);
    EXPECT_FALSE(w->isMinimized());
    EXPECT_TRUE(fake.openedPath.empty());
    // Shutdown closes the open video window before the decoder is released.
    w->playbackState().CurrentFile = clip("a.avi");
    w->controller()->PlayTrack();
    EXPECT_TRUE(waitForOpen(*w->controller()));
    ASSERT_TRUE(videoOpen());
    w->close();
    QTest::qWait(50);
    EXPECT_FALSE(videoOpen());
    EXPECT_TRUE(fake.openedPath.empty());
}

// While a video plays, the media controls see it and drive its buttons, not the decoder; its row is marked.
TEST_F(VideoWindowTest, MediaControlsFollowTheVideoWindow)
{
    ExternalFiles external(*w);
    MprisBridge bridge(*w, w->playbackState(), FakeDecoder::api(), external);
    MprisService service(bridge);
    QSignalSpy changes(w->videoPresenter(), &VideoWindowPresenter::stateChanged);
    play({ clip("a.avi"), clip("b.avi") }, true);
    ASSERT_TRUE(videoOpen());
    EXPECT_EQ(service.playbackStatus(), u"Playing"_s);
    EXPECT_EQ(bridge.track().path, clip("a.avi"));
    EXPECT_EQ(bridge.track().row, 1);
    EXPECT_EQ(w->playlist()->playingRow(), 1);
    EXPECT_FALSE(changes.isEmpty());
    fake.calls.clear();
    bridge.playPause();
    EXPECT_EQ(frm()->PlayerState(), u"pause"_s);
    EXPECT_EQ(service.playbackStatus(), u"Paused"_s);
    bridge.play();
    EXPECT_EQ(frm()->mediaPlayer()->playbackState(), QMediaPlayer::PlayingState);
    EXPECT_FALSE(bridge.seek(5000000)) << "the video's position is its own";
    bridge.next();
    EXPECT_EQ(bridge.track().path, clip("b.avi"));
    EXPECT_EQ(bridge.track().row, 2);
    EXPECT_TRUE(fake.calls.empty()) << "the decoder is left alone";
    bridge.stop();
    EXPECT_EQ(service.playbackStatus(), u"Stopped"_s);
    frm()->close();
    QTest::qWait(50);
    EXPECT_EQ(service.playbackStatus(), u"Stopped"_s);
    // A name that is not UTF-8 is found by its bytes.
    const QString odd = pathFromBytes(QFile::encodeName(dir.path()) + "/caf\xe9.avi");
    ASSERT_TRUE(QFile::copy(clip("a.avi"), dir.filePath(u"plain.avi"_s)));
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath(u"plain.avi"_s)).constData(), pathToBytes(odd).constData()), 0);
    w->playbackState().CurrentTrackNo = w->playlist()->addRow({ .fullPath = odd });
    w->playbackState().CurrentFile = odd;
    w->controller()->PlayTrack();
    EXPECT_TRUE(waitForOpen(*w->controller()));
    ASSERT_TRUE(videoOpen());
    EXPECT_EQ(bridge.track().path, odd);
    EXPECT_EQ(bridge.track().title, u"café.avi"_s);
    frm()->close();
    QTest::qWait(50);
    ::unlink(pathToBytes(odd).constData());
}

} // namespace
