// The player as a desktop program: files from outside the window (the command line, a
// second start) and the volume kept between runs.
#include "externalfiles.h"
#include "outputnotice.h"
#include "testfiles.h"
#include "trackadder.h"
#include "volumememory.h"
#include "windowtest.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

using namespace kes;
using DesktopTest = WindowTest;

namespace
{

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
    auto *box = window.findChild<QMessageBox *>(u"outputNotice"_s);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(ExternalFilesPaths, CommandLineWordsBecomeAbsolutePaths)
{
    EXPECT_EQ(
        ExternalFiles::absolutePaths(
            { u"a.mp3"_s, u"../b/./c.wav"_s, u"/x/y.m3u"_s, u"file:///m/%E6%98%A5.mp3"_s, u""_s }, u"/home/u/music"_s),
        (QStringList { u"/home/u/music/a.mp3"_s, u"/home/u/b/c.wav"_s, u"/x/y.m3u"_s, u"/m/春.mp3"_s }));
}

TEST_F(DesktopTest, FilesComeAfterTheStartupPlaylistAndTheFirstAddedPlays)
{
    const QString listed = touch(u"listed.mp3"_s), a = touch(u"a.mp3"_s), b = touch(u"b.wav"_s);
    const QString m3u = touch(u"start.m3u"_s, listed.toUtf8() + "\r\n");
    writeBytes(iniPath, "[その他設定]\r\nOp_04=1\r\nOp_14=" + m3u.toUtf8() + "\r\n");
    auto w = start();
    ExternalFiles external(*w);
    QSignalSpy done(&external, &ExternalFiles::done);
    const auto open = [&](const QStringList &files) {
        const qsizetype before = done.count();
        external.open(files);
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.count() > before; }, 5000));
        return QString::fromStdString(fake.openedPath);
    };
    EXPECT_EQ(open({ a, touch(u"notes.txt"_s), b }), a);
    EXPECT_EQ(w->playlist()->count(), 3);
    EXPECT_EQ(w->playlist()->fullPath(1), listed);
    EXPECT_EQ(w->playlist()->fullPath(2), a);
    EXPECT_EQ(playback().CurrentTrackNo, 2);
    // Files already listed add nothing: the first of them plays.  An M3U loads as a drop.
    EXPECT_EQ(open({ listed }), listed);
    const QString c = touch(u"c.mp3"_s);
    EXPECT_EQ(open({ touch(u"second.m3u"_s, c.toUtf8() + "\n"), touch(u"ignored.mp3"_s) }), c);
    EXPECT_EQ(w->playlist()->count(), 4);
    // Nothing the player takes: nothing plays, and the request still ends.
    EXPECT_EQ(open({ touch(u"readme.txt"_s) }), c);
    EXPECT_EQ(done.last().at(0).toInt(), 0);
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
        EXPECT_EQ(fake.volume, 0xFFFFFFFFu); // nothing kept: full
        for (int v : { 100, 20000, 30000 })
            w->slider1Change(v);
        EXPECT_EQ(readBytes(iniPath), before); // not yet: the slider may still move
    } // written when the run ends with a change pending
    EXPECT_EQ(readBytes(iniPath), before + "VOLUME=30000\r\n");
    fake.reset();
    VolumeMemory volume(iniPath);
    auto w = start(&volume);
    EXPECT_EQ(fake.volume, (30000u << 16) | 30000u);
    EXPECT_EQ(w->findChild<QSlider *>()->value(), 30000);
    w->slider1Change(500);
    QTest::qWait(600); // settled: written without waiting for the end
    EXPECT_TRUE(readBytes(iniPath).contains("VOLUME=500"));
}
