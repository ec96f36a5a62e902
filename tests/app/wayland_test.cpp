// The main window and the video window as Wayland clients of a headless weston: a
// compositor may never give back a minimised window, so the main window must not be
// minimised there, and it is shown when the video window closes, by hand or at the end
// of the video.  The scripted decoder plays the audio rows.
#include "../video/videoclips.h"
#include "videowindow.h"
#include "windowtest.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <QWindow>

using namespace kes;

namespace
{

// Every window state the watched window went through.
struct StateLog : QObject {
    Qt::WindowStates seen;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::WindowStateChange)
            seen |= static_cast<QWidget *>(parent())->windowState();
        return false;
    }
};

VideoWindow *videoWindow()
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *v = qobject_cast<VideoWindow *>(top); v && v->isVisible())
            return v;
    return nullptr;
}

} // namespace

using WaylandTest = WindowTest;

TEST_F(WaylandTest, MainWindowIsBackAfterTheVideoWindowCloses)
{
    if (!QGuiApplication::platformName().startsWith(u"wayland"_s))
        GTEST_SKIP() << "not a Wayland client (" << QGuiApplication::platformName().toStdString() << ")";
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is needed to make the clip";
    QTemporaryDir clips;
    const QString clip = makeClip(QDir(clips.path()), u"clip.avi"_s);
    ASSERT_FALSE(clip.isEmpty());
    auto w = start();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    auto *log = new StateLog;
    log->setParent(w.get());
    w->installEventFilter(log);
    w->Label15_Click(); // repeat off: the video hands back the song after it, then nothing
    addRows(*w, { clip, u"/m/after.mp3"_s });

    for (const char *how : { "closed by hand", "at the end of the video" }) {
        SCOPED_TRACE(how);
        fake.openedPath.clear();
        w->playbackState().CurrentTrackNo = 1;
        w->playbackState().CurrentFile = clip;
        w->controller()->PlayTrack();
        ASSERT_TRUE(QTest::qWaitFor([] { return videoWindow() != nullptr; }, 10000));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(videoWindow()));
        if (std::string_view(how) == "closed by hand") {
            videoWindow()->close();
            ASSERT_TRUE(QTest::qWaitFor([] { return videoWindow() == nullptr; }, 5000));
            EXPECT_TRUE(fake.openedPath.empty());
        } else {
            ASSERT_TRUE(QTest::qWaitFor([] { return videoWindow() == nullptr; }, 20000));
            EXPECT_TRUE(QTest::qWaitFor([&] { return fake.openedPath == "/m/after.mp3"; }, 2000));
        }
        QTest::qWait(100);
        EXPECT_FALSE(log->seen & Qt::WindowMinimized) << "never minimised";
        EXPECT_TRUE(w->isVisible() && !w->isMinimized());
        EXPECT_TRUE(w->windowHandle()->isExposed());
    }
}
