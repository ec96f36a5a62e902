// The whole player with the real decoder library (null output): a playlist of three
// generated tracks plays through by itself in "Normal", then in "Random" with repeat.
// Runs under xvfb-run as a real window.
#include "mainwindow.h"
#include "playbackstate.h"
#include "playlistmodel.h"
#include "scriptedprompter.h"
#include "tabcontrol.h"
#include "trackadder.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kes;

namespace
{

struct Seen {
    QString number, title, artist, total, rate, freq;
    int lyricsTab = -1;
};

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("lame")).isEmpty())
            GTEST_SKIP() << "sox and lame are needed to make the tracks";
        ASSERT_TRUE(dir.isValid());
        QString error;
        ASSERT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
        // Three 1.5-second tracks: 44.1 kHz CBR, 22.05 kHz VBR, 48 kHz CBR.
        const struct {
            const char *name, *rate, *lame;
        } tracks[] = { { "one", "44100", "-b 128" }, { "two", "22050", "-V 2" }, { "three", "48000", "-b 192" } };
        for (const auto &t : tracks) {
            const QString wav = dir.filePath(QStringLiteral("%1.wav").arg(QLatin1String(t.name)));
            const QString mp3 = dir.filePath(QStringLiteral("%1.mp3").arg(QLatin1String(t.name)));
            ASSERT_EQ(QProcess::execute(QStringLiteral("sox"),
                          { QStringLiteral("-n"), QStringLiteral("-r"), QLatin1String(t.rate), QStringLiteral("-c"),
                              QStringLiteral("2"), wav, QStringLiteral("synth"), QStringLiteral("1.5"),
                              QStringLiteral("sine"), QStringLiteral("440") }),
                0);
            QStringList args { QStringLiteral("--quiet") };
            args << QString::fromLatin1(t.lame).split(QLatin1Char(' '));
            args << QStringLiteral("--add-id3v2") << QStringLiteral("--tt")
                 << QStringLiteral("Title %1").arg(QLatin1String(t.name)) << QStringLiteral("--ta")
                 << QStringLiteral("Artist %1").arg(QLatin1String(t.name)) << wav << mp3;
            ASSERT_EQ(QProcess::execute(QStringLiteral("lame"), args), 0);
            paths << mp3;
        }
        QFile lrc(dir.filePath(QStringLiteral("two.txt")));
        ASSERT_TRUE(lrc.open(QIODevice::WriteOnly));
        lrc.write("[00:00.00]first line\r\n[00:00.40]second line\r\n[00:00.80]third line\r\n");
        lrc.close();

        MainWindow::Context ctx;
        ctx.api = api;
        ctx.prompter = &prompter;
        ctx.iniPath = dir.filePath(QStringLiteral("kestrine.ini"));
        ctx.programFolder = dir.path();
        w = std::make_unique<MainWindow>(ctx);
        ASSERT_TRUE(w->formLoad());
        // The library takes options only once started: after formLoad's vbmp3_init.
        ASSERT_EQ(api.setOutput("null"), 1);
        w->show();
        w->adder()->addFiles(paths);
        ASSERT_TRUE(w->adder()->waitForIdle(10000));
        ASSERT_EQ(w->playlist()->count(), 3);
        connect();
    }

    void TearDown() override
    {
        if (w)
            w->close();
    }

    QLabel *label(const char *name) { return w->findChild<QLabel *>(QString::fromUtf8(name)); }

    // Records the read-outs of every track that starts; samples the lyrics lines.
    void connect()
    {
        QObject::connect(w->controller(), &PlaybackController::trackStarted, [this] {
            seen.append({ label("Lbl_Number")->text(), label("lbl_title")->text(), label("lbl_art")->text(),
                label("lbl_time2")->text(), label("Label6")->text(), label("Label7")->text(),
                w->findChild<TabControl *>(QStringLiteral("SSTab1"))->currentIndex() });
        });
        poll = new QTimer(w.get());
        QObject::connect(poll, &QTimer::timeout, [this] {
            for (int i = 0; i < 5; ++i)
                lyricsShown.insert(label(QStringLiteral("lbl_kasi(%1)").arg(i).toUtf8().constData())->text());
        });
        poll->start(20);
    }

    bool playingOrQueued() { return w->findChild<QTimer *>(QStringLiteral("Timebar"))->isActive(); }

    // Waits until the timer stopped for good (the sequence ended) or the limit passed.
    bool waitForEnd(int limitMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < limitMs) {
            QTest::qWait(50);
            if (!playingOrQueued() && !playback().TrackEnded)
                return true;
        }
        return false;
    }

    QTemporaryDir dir;
    DecoderApi api;
    ScriptedPrompter prompter;
    std::unique_ptr<MainWindow> w;
    QStringList paths;
    QList<Seen> seen;
    QSet<QString> lyricsShown;
    QTimer *poll = nullptr;
};

} // namespace

TEST_F(EndToEnd, NormalOrderPlaysEachTrackOnceAndStops)
{
    w->Label15_Click(); // repeat off
    w->Toolbar_ButtonClick(QStringLiteral("再生"));
    ASSERT_TRUE(waitForEnd(15000));
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[0].number, QStringLiteral("No.1"));
    EXPECT_EQ(seen[0].title, QStringLiteral("Title one"));
    EXPECT_EQ(seen[0].artist, QStringLiteral("Artist one"));
    EXPECT_EQ(seen[0].total, QStringLiteral("00:01"));
    EXPECT_EQ(seen[0].rate, QStringLiteral("128 kb/s"));
    EXPECT_EQ(seen[0].freq, QStringLiteral("44.1 KHz"));
    EXPECT_EQ(seen[0].lyricsTab, 1);
    EXPECT_EQ(seen[1].number, QStringLiteral("No.2"));
    EXPECT_EQ(seen[1].rate, QStringLiteral("VBR"));
    EXPECT_EQ(seen[1].freq, QStringLiteral("22.05 KHz"));
    EXPECT_EQ(seen[1].lyricsTab, 0);
    EXPECT_EQ(seen[2].number, QStringLiteral("No.3"));
    EXPECT_EQ(seen[2].rate, QStringLiteral("192 kb/s"));
    EXPECT_EQ(seen[2].freq, QStringLiteral("48 KHz"));
    // The lyrics scrolled: the middle line went through the three lines.
    for (const char *line : { "first line", "second line", "third line" })
        EXPECT_TRUE(lyricsShown.contains(QString::fromLatin1(line))) << line;
    EXPECT_EQ(playback().CurrentTrackNo, 1);
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(EndToEnd, RandomWithRepeatPlaysTwoRounds)
{
    w->label5Click(); // Random, repeat stays on
    w->Toolbar_ButtonClick(QStringLiteral("再生"));
    QElapsedTimer t;
    t.start();
    while (seen.size() < 6 && t.elapsed() < 20000)
        QTest::qWait(50);
    w->Toolbar_ButtonClick(QStringLiteral("停止"));
    ASSERT_GE(seen.size(), 6);
    QSet<QString> first, second;
    for (int i = 0; i < 3; ++i) {
        first.insert(seen[i].title);
        second.insert(seen[i + 3].title);
    }
    EXPECT_EQ(first.size(), 3);
    EXPECT_EQ(second.size(), 3);
    EXPECT_TRUE(prompter.messages.isEmpty());
}
