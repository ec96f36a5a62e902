// The whole player with the real decoder library (null output) and Qt Multimedia, in real
// windows under xvfb-run with no sound server: a playlist of song, video, song plays
// through by itself and stops after the last row.
#include "mainwindow.h"
#include "playbackcontroller.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "testfiles.h"
#include "trackadder.h"
#include "videoclips.h"
#include "videowindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QVideoSink>

#include <gtest/gtest.h>

using namespace kes;

TEST(VideoEndToEnd, SongVideoSongPlaysThroughAndStops)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is needed to make the clips";
    qunsetenv("PULSE_SERVER"); // no sound server: the library's null output, the video's own fallback
    QTemporaryDir dir;
    QStringList paths;
    for (const char *name : { "one.mp3", "movie.avi", "three.mp3" })
        paths << makeClip(QDir(dir.path()), QString::fromLatin1(name));
    ASSERT_FALSE(paths.contains(QString()));

    DecoderApi api;
    QString error;
    ASSERT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
    ScriptedPrompter prompter;
    MainWindow w({ api, &prompter, dir.filePath(QStringLiteral("kestrine.ini")), dir.path() });
    ASSERT_TRUE(w.formLoad());
    ASSERT_EQ(api.setOutput("null"), 1);
    w.show();
    w.adder()->addFiles(paths);
    ASSERT_TRUE(w.adder()->waitForIdle(10000));
    ASSERT_EQ(w.playlist()->count(), 3);
    w.Label15_Click(); // repeat off

    QStringList started;
    QObject::connect(w.controller(), &PlaybackController::trackStarted,
        [&] { started << w.findChild<QLabel *>(QStringLiteral("Lbl_Number"))->text(); });
    // The video window is made on first use: hook its sink as soon as it exists.
    int frames = 0;
    bool minimisedWhileVideo = false;
    VideoWindow *video = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *v = qobject_cast<VideoWindow *>(top); v && !video) {
                video = v;
                QObject::connect(v->videoWidget()->videoSink(), &QVideoSink::videoFrameChanged, [&] { ++frames; });
            }
        minimisedWhileVideo |= video && video->isVisible() && w.isMinimized();
    });
    watch.start(5);

    w.Toolbar_ButtonClick(QStringLiteral("再生"));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        QTest::qWait(50);
        if (started.size() == 2 && !w.controller()->timebarOn() && !playback().TrackEnded)
            break;
    }
    EXPECT_EQ(started, QStringList({ QStringLiteral("No.1"), QStringLiteral("No.3") }));
    ASSERT_NE(video, nullptr);
    EXPECT_FALSE(video->isVisible());
    EXPECT_TRUE(minimisedWhileVideo);
    EXPECT_FALSE(w.isMinimized());
    EXPECT_GE(frames, 20);
    EXPECT_EQ(api.getState(nullptr), VBMP3_STOPPED);
    EXPECT_EQ(playback().CurrentTrackNo, 1);
    EXPECT_TRUE(prompter.messages.isEmpty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    w.close();
}
