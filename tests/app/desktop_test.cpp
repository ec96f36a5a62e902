// The player as a desktop program: files from outside the window (the command line, a
// second start) and the volume kept between runs.
#include "externalfiles.h"
#include "fakedecoder.h"
#include "mainwindow.h"
#include "outputnotice.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "testfiles.h"
#include "trackadder.h"
#include "volumememory.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kes;

namespace
{

class DesktopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeDecoder::instance().reset();
        ASSERT_TRUE(dir.isValid());
        iniPath = dir.filePath(QStringLiteral("kestrine.ini"));
    }
    std::unique_ptr<MainWindow> start(VolumeMemory *volume = nullptr)
    {
        auto w = std::make_unique<MainWindow>(
            MainWindow::Context { FakeDecoder::api(), &prompter, iniPath, dir.path(), nullptr, volume });
        EXPECT_TRUE(w->formLoad());
        return w;
    }
    QString touch(const char *name)
    {
        writeBytes(dir.filePath(QString::fromUtf8(name)), {});
        return dir.filePath(QString::fromUtf8(name));
    }

    QTemporaryDir dir;
    QString iniPath;
    ScriptedPrompter prompter;
};

const char *g_outputName = "";
int32_t scriptedOutputName(char *name, int32_t size)
{
    qstrncpy(name, g_outputName, static_cast<size_t>(size));
    return static_cast<int32_t>(qstrlen(g_outputName));
}

} // namespace

TEST(OutputNoticeTest, TellsOnceAndWithoutBlockingWhenTracksPlayThroughTheNullOutput)
{
    DecoderApi api;
    api.getOutputName = scriptedOutputName;
    QWidget window;
    OutputNotice notice(api, &window, 1);
    QSignalSpy shown(&notice, &OutputNotice::shown);
    const struct {
        const char *output;
        int shownAfter;
    } starts[] = { { "", 0 }, { "file", 0 }, { "null", 1 }, { "null", 1 } };
    for (const auto &s : starts) {
        g_outputName = s.output;
        notice.trackStarted();
        QTest::qWait(30);
        EXPECT_EQ(shown.count(), s.shownAfter) << s.output;
    }
    auto *box = window.findChild<QMessageBox *>(QStringLiteral("outputNotice"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ExternalFilesPaths, CommandLineWordsBecomeAbsolutePaths)
{
    EXPECT_EQ(ExternalFiles::absolutePaths(
                  { QStringLiteral("a.mp3"), QStringLiteral("../b/./c.wav"), QStringLiteral("/x/y.m3u"),
                      QStringLiteral("file:///m/%E6%98%A5.mp3"), QStringLiteral("") },
                  QStringLiteral("/home/u/music")),
        (QStringList { QStringLiteral("/home/u/music/a.mp3"), QStringLiteral("/home/u/b/c.wav"),
            QStringLiteral("/x/y.m3u"), QStringLiteral("/m/春.mp3") }));
}

TEST_F(DesktopTest, FilesComeAfterTheStartupPlaylistAndTheFirstAddedPlays)
{
    const QString listed = touch("listed.mp3");
    const QString m3u = dir.filePath(QStringLiteral("start.m3u"));
    writeBytes(m3u, listed.toUtf8() + "\r\n");
    writeBytes(iniPath, QByteArray("[その他設定]\r\nOp_04=1\r\nOp_14=") + m3u.toUtf8() + "\r\n");
    const QString a = touch("a.mp3"), b = touch("b.wav");
    auto w = start();
    ExternalFiles external(*w);
    QSignalSpy done(&external, &ExternalFiles::done);
    external.open({ a, touch("notes.txt"), b });
    ASSERT_TRUE(done.wait(5000));
    PlaylistModel &list = *w->playlist();
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.fullPath(1), listed);
    EXPECT_EQ(list.fullPath(2), a);
    EXPECT_EQ(playback().CurrentTrackNo, 2);
    EXPECT_EQ(QString::fromStdString(FakeDecoder::instance().openedPath), a);

    // Files already listed add nothing: the first of them plays.  An M3U loads as a drop.
    external.open({ listed });
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(QString::fromStdString(FakeDecoder::instance().openedPath), listed);
    const QString c = touch("c.mp3");
    const QString second = dir.filePath(QStringLiteral("second.m3u"));
    writeBytes(second, c.toUtf8() + "\n");
    external.open({ second, touch("ignored.mp3") });
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(QString::fromStdString(FakeDecoder::instance().openedPath), c);
    // Nothing the player takes: nothing plays, and the request still ends.
    external.open({ touch("readme.txt") });
    ASSERT_TRUE(done.count() == 4 || done.wait(5000));
    EXPECT_EQ(done.at(3).at(0).toInt(), 0);
}

TEST_F(DesktopTest, VolumeIsKeptBetweenRunsWithoutTouchingOtherKeys)
{
    // A Shift-JIS value and odd spacing must come back byte for byte.
    const QByteArray before = QByteArray("[\x83\x56\x83\x58\x83\x65\x83\x80]\r\n" // システム
                                         "USER = \x93\xfa\x96\x7b\r\n\r\n" // 日本
                                         "[\x82\xbb\x82\xcc\x91\xbc\x90\xdd\x92\xe8]\r\n" // その他設定
                                         "Op_01=1\r\n");
    writeBytes(iniPath, before);
    {
        VolumeMemory volume(iniPath);
        EXPECT_FALSE(volume.stored().has_value());
        auto w = start(&volume);
        EXPECT_EQ(FakeDecoder::instance().volume, 0xFFFFFFFFu); // nothing kept: full
        for (int v : { 100, 20000, 30000 })
            w->slider1Change(v);
        EXPECT_EQ(readBytes(iniPath), before); // not yet: the slider may still move
    } // written when the run ends with a change pending
    const QByteArray after = readBytes(iniPath);
    EXPECT_TRUE(after.startsWith(before.left(before.indexOf("Op_01"))));
    EXPECT_TRUE(after.contains("Op_01=1\r\n")) << after.toStdString();
    EXPECT_TRUE(after.contains("VOLUME=30000")) << after.toStdString();
    EXPECT_EQ(after.size(), before.size() + qsizetype(sizeof("VOLUME=30000\r\n") - 1));

    FakeDecoder::instance().reset();
    VolumeMemory volume(iniPath);
    auto w = start(&volume);
    EXPECT_EQ(FakeDecoder::instance().volume, (30000u << 16) | 30000u);
    EXPECT_EQ(w->findChild<QSlider *>()->value(), 30000);
    w->slider1Change(500);
    QTest::qWait(600); // settled: written without waiting for the end
    EXPECT_TRUE(readBytes(iniPath).contains("VOLUME=500"));
}
