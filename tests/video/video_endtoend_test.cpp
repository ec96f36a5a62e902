// The whole player with the real decoder library (null output) and Qt Multimedia, in real
// windows under xvfb-run with no sound server: a playlist of song, video, song plays
// through by itself and stops after the last row.
#include "decodercallback.h"
#include "mainwindow.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "trackadder.h"
#include "videoclips.h"
#include "videowindow.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QVideoSink>

#include <gtest/gtest.h>

using namespace kes;
using namespace Qt::StringLiterals;

TEST(VideoEndToEnd, SongVideoSongPlaysThroughAndStops)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is needed to make the clips";
    qunsetenv("PULSE_SERVER"); // no sound server: the library's null output, the video's own fallback
    QTemporaryDir dir;
    QStringList paths;
    for (const QString &name : { u"one.mp3"_s, u"movie.avi"_s, u"three.mp3"_s })
        paths << makeClip(QDir(dir.path()), name);
    ASSERT_FALSE(paths.contains(QString()));
    DecoderApi api;
    QString error;
    ASSERT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
    ScriptedPrompter prompter;
    MainWindow w({ api, &prompter, dir.filePath(u"kestrine.ini"_s), dir.path() });
    ASSERT_TRUE(w.formLoad());
    ASSERT_EQ(api.setOutput("null"), 1);
    w.show();
    w.adder()->addFiles(paths);
    ASSERT_TRUE(w.adder()->waitForIdle(10000));
    w.Label15_Click(); // repeat off

    QStringList started;
    QObject::connect(w.controller(), &PlaybackController::trackStarted,
        [&] { started << w.findChild<QLabel *>(u"Lbl_Number"_s)->text(); });
    // The video window is made on first use: hook its sink as soon as it exists.
    int frames = 0;
    bool minimisedWhileVideo = false;
    VideoWindow *video = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *v = qobject_cast<VideoWindow *>(top); v && !video)
                QObject::connect(
                    (video = v)->videoWidget()->videoSink(), &QVideoSink::videoFrameChanged, &watch, [&] { ++frames; });
        minimisedWhileVideo |= video && video->isVisible() && w.isMinimized();
    });
    watch.start(5);
    w.Toolbar_ButtonClick(u"再生"_s);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return started.size() == 2 && !w.controller()->timebarOn() && !callbackFlags().TrackEnded; }, 20000));
    EXPECT_EQ(started, QStringList({ u"No.1"_s, u"No.3"_s }));
    ASSERT_NE(video, nullptr);
    EXPECT_FALSE(video->isVisible() || w.isMinimized());
    EXPECT_TRUE(minimisedWhileVideo);
    EXPECT_GE(frames, 20);
    EXPECT_EQ(api.getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(w.playbackState().CurrentTrackNo, 1);
    EXPECT_TRUE(prompter.messages.isEmpty()) << prompter.texts().join(u'|').toStdString();
    w.close();
}
