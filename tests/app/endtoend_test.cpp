// The whole player with the real library under xvfb-run: three tracks play through without gaps; server loss told.
#include "decodercallback.h"
#include "mainwindow.h"
#include "outputnotice.h"
#include "playlistmodel.h"
#include "pulseserver.h"
#include "scriptedprompter.h"
#include "tabcontrol.h"
#include "testfiles.h"
#include "trackadder.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace kes;
using namespace Qt::StringLiterals;

namespace
{

QString outputName(const DecoderApi &api)
{
    char name[16] = {};
    api.getOutputName(name, sizeof name);
    return QString::fromLatin1(name);
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(u"sox"_s).isEmpty() || QStandardPaths::findExecutable(u"lame"_s).isEmpty())
            GTEST_SKIP() << "sox and lame are needed to make the tracks";
        QString error;
        ASSERT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
        // A 1.5 s MP3 with a LAME header, a WAV with lyrics beside it, and an MP3 of another rate.
        for (auto [name, rate, lame] :
            { std::array { u"one"_s, u"44100"_s, u"-b 128"_s }, { u"three"_s, u"48000"_s, u"-b 192"_s } }) {
            const QString wav = dir.filePath(name + u".wav"_s), mp3 = dir.filePath(name + u".mp3"_s);
            ASSERT_EQ(
                QProcess::execute(u"sox"_s, u"-n -r %1 -c 2 %2 synth 1.5 sine 440"_s.arg(rate, wav).split(u' ')), 0);
            ASSERT_EQ(QProcess::execute(u"lame"_s,
                          u"--quiet --add-id3v2 %1"_s.arg(lame).split(u' ')
                              << u"--tt"_s << u"Title "_s + name << u"--ta"_s << u"Artist "_s + name << wav << mp3),
                0);
            paths << mp3;
        }
        const QString middle = dir.filePath(u"middle.wav"_s);
        ASSERT_EQ(QProcess::execute(
                      u"sox"_s, u"-n -r 44100 -c 2 -b 16 %1 synth 0.77 sine 660 gain -6"_s.arg(middle).split(u' ')),
            0);
        paths.insert(1, middle);
        writeBytes(
            dir.filePath(u"middle.txt"_s), "[00:00.00]first line\r\n[00:00.25]second line\r\n[00:00.50]third line\r\n");
        w = std::make_unique<MainWindow>(
            MainWindow::Context { api, &prompter, dir.filePath(u"kestrine.ini"_s), dir.path() });
        ASSERT_TRUE(w->formLoad());
        // The library takes options only once started: after formLoad's vbmp3_init.
        ASSERT_EQ(api.setOutput("null"), 1);
        w->show();
        w->adder()->addFiles(paths);
        ASSERT_TRUE(w->adder()->waitForIdle(10000));
        ASSERT_EQ(w->playlist()->count(), 3);
        // Records the read-outs of every track that starts; samples the lyrics lines.
        QObject::connect(w->controller(), &PlaybackController::trackStarted, [this] {
            QStringList shown;
            for (const char *name : { "Lbl_Number", "lbl_title", "lbl_art", "lbl_time2", "Label6", "Label7" })
                shown << label(QString::fromLatin1(name))->text();
            seen << (shown << QString::number(w->findChild<TabControl *>(u"SSTab1"_s)->currentIndex()));
        });
        QObject::connect(&poll, &QTimer::timeout, [this] {
            for (int i = 0; i < 5; ++i)
                lyricsShown.insert(label(u"lbl_kasi(%1)"_s.arg(i))->text());
        });
        poll.start(20);
    }
    void TearDown() override
    {
        if (w)
            w->close();
    }
    QLabel *label(const QString &name) { return w->findChild<QLabel *>(name); }
    // The sample bytes of a WAV file's "data" chunk; empty when there is none.
    static QByteArray wavData(const QString &path)
    {
        const QByteArray bytes = readBytes(path);
        for (qsizetype at = 12; at + 8 <= bytes.size();) {
            const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
            if (bytes.mid(at, 4) == "data")
                return bytes.mid(at + 8, size);
            at += 8 + size + (size & 1);
        }
        return {};
    }
    // What the library's file output makes of one file played alone.
    QByteArray playedAlone(const QString &path)
    {
        const QString out = dir.filePath(QFileInfo(path).completeBaseName() + u"-alone.wav"_s);
        callbackFlags().TrackEnded = false;
        EXPECT_EQ(api.setOutput((u"file:"_s + out).toUtf8().constData()), 1);
        OpenInfo info {};
        EXPECT_EQ(api.open(path.toUtf8().constData(), &info), 1);
        EXPECT_EQ(api.play(), 1);
        EXPECT_TRUE(QTest::qWaitFor([] { return callbackFlags().TrackEnded.load(); }, 10000));
        callbackFlags().TrackEnded = false;
        api.close();
        return wavData(out);
    }

    QTemporaryDir dir;
    DecoderApi api;
    ScriptedPrompter prompter;
    std::unique_ptr<MainWindow> w;
    QStringList paths;
    QList<QStringList> seen; // number, title, artist, total, rate, frequency, lyrics tab
    QSet<QString> lyricsShown;
    QTimer poll;
};

} // namespace

// Rows join without a gap, read-outs, CurrentTrackNo and lyrics follow each join, and the sequence ends.
TEST_F(EndToEnd, GaplessRowsJoinSampleForSample)
{
    const QByteArray one = playedAlone(paths[0]), two = playedAlone(paths[1]), three = playedAlone(paths[2]);
    ASSERT_EQ(one.size(), 1.5 * 44100 * 4); // as long as the sound it was made from
    ASSERT_TRUE(!two.isEmpty() && !three.isEmpty());

    const QString out = dir.filePath(u"joined.wav"_s);
    ASSERT_EQ(api.setOutput((u"file:"_s + out).toUtf8().constData()), 1);
    w->Label15_Click(); // repeat off
    w->Toolbar_ButtonClick(u"再生"_s);
    // Until the timer stopped for good: the sequence ended.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !w->controller()->timebarOn() && !callbackFlags().TrackEnded && seen.size() >= 3; }, 15000));
    QList<QStringList> shown; // number, title, artist, frequency, lyrics tab
    for (const QStringList &track : seen)
        shown << QStringList { track[0], track[1], track[2], track[5], track[6] };
    EXPECT_EQ(shown,
        QList<QStringList>({ { u"No.1"_s, u"Title one"_s, u"Artist one"_s, u"44.1 KHz"_s, u"1"_s },
            { u"No.2"_s, u""_s, u""_s, u"44.1 KHz"_s, u"0"_s },
            { u"No.3"_s, u"Title three"_s, u"Artist three"_s, u"48 KHz"_s, u"1"_s } }));
    // The lyrics scrolled: the middle line went through the three lines.
    for (const QString &line : { u"first line"_s, u"second line"_s, u"third line"_s })
        EXPECT_TRUE(lyricsShown.contains(line)) << line.toStdString();
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 1);
    const QByteArray joined = wavData(out);
    EXPECT_EQ(joined.size(), one.size() + two.size());
    EXPECT_TRUE(joined == one + two) << "the joined file differs from the tracks played alone";
    EXPECT_TRUE(wavData(dir.filePath(u"joined-2.wav"_s)) == three);
    EXPECT_TRUE(prompter.messages.isEmpty());
}

// The server dies mid-track: played on in silence, told once, and the next track reaches the server back.
TEST(SoundServer, LossDuringATrackIsToldOnceAndTheNextTrackConnectsAgain)
{
    auto server = std::make_unique<PulseServer>();
    if (!server->ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    QTemporaryDir dir;
    DecoderApi api;
    QString error;
    ASSERT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
    api.init();
    ASSERT_EQ(api.setOutput("auto"), 1); // the sound server, the null output when none answers
    const QString wav = dir.filePath(u"long.wav"_s);
    writeBytes(wav, silentWav(10));
    QWidget window;
    OutputNotice notice(api, &window, 20);
    QSignalSpy shown(&notice, &OutputNotice::shown);
    const auto playFromStart = [&] {
        OpenInfo info {};
        EXPECT_NE(api.open(wav.toUtf8().constData(), &info), 0);
        EXPECT_NE(api.play(), 0);
        notice.trackStarted();
    };
    playFromStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outputName(api) == u"pulse"_s; }, 5000)) << outputName(api).toStdString();
    QTest::qWait(300);
    server->stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() == 1; }, 4000));
    EXPECT_TRUE(notice.toldLost());
    EXPECT_FALSE(notice.told());
    EXPECT_EQ(api.getState(nullptr), VBMP3_PLAYING) << "the rest of the track goes on in silence";
    EXPECT_EQ(window.findChild<QMessageBox *>(u"outputNotice"_s)->text(), OutputNotice::lostText());

    // The server is back for the next track.
    api.stop();
    server.reset(); // its socket goes before the new server makes its own
    server = std::make_unique<PulseServer>();
    ASSERT_TRUE(server->ok());
    playFromStart();
    EXPECT_TRUE(QTest::qWaitFor([&] { return outputName(api) == u"pulse"_s; }, 5000)) << outputName(api).toStdString();
    QTest::qWait(300); // the notice has seen the server's output
    server->stop();
    QTest::qWait(1500);
    EXPECT_EQ(shown.count(), 1) << "said once";
    api.stop();
    api.free();
}
