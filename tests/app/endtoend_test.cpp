// The whole player with the real decoder library (null output): a playlist of three
// generated tracks plays through by itself in "Normal", then in "Random" with repeat.
// Runs under xvfb-run as a real window.
#include "decodercallback.h"
#include "mainwindow.h"
#include "outputnotice.h"
#include "playlistmodel.h"
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

#include <csignal>

using namespace kes;
using namespace Qt::StringLiterals;

namespace
{

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(u"sox"_s).isEmpty() || QStandardPaths::findExecutable(u"lame"_s).isEmpty())
            GTEST_SKIP() << "sox and lame are needed to make the tracks";
        QString error;
        ASSERT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
        // Three 1.5-second tracks: 44.1 kHz CBR, 22.05 kHz VBR, 48 kHz CBR.
        for (auto [name, rate, lame] : { std::array { u"one"_s, u"44100"_s, u"-b 128"_s },
                 { u"two"_s, u"22050"_s, u"-V 2"_s }, { u"three"_s, u"48000"_s, u"-b 192"_s } }) {
            const QString wav = dir.filePath(name + u".wav"_s), mp3 = dir.filePath(name + u".mp3"_s);
            ASSERT_EQ(
                QProcess::execute(u"sox"_s, u"-n -r %1 -c 2 %2 synth 1.5 sine 440"_s.arg(rate, wav).split(u' ')), 0);
            ASSERT_EQ(QProcess::execute(u"lame"_s,
                          u"--quiet --add-id3v2 %1"_s.arg(lame).split(u' ')
                              << u"--tt"_s << u"Title "_s + name << u"--ta"_s << u"Artist "_s + name << wav << mp3),
                0);
            paths << mp3;
        }
        writeBytes(
            dir.filePath(u"two.txt"_s), "[00:00.00]first line\r\n[00:00.40]second line\r\n[00:00.80]third line\r\n");
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
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
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

TEST_F(EndToEnd, NormalOrderPlaysEachTrackOnceAndStops)
{
    w->Label15_Click(); // repeat off
    w->Toolbar_ButtonClick(u"再生"_s);
    // Until the timer stopped for good: the sequence ended.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !w->controller()->timebarOn() && !callbackFlags().TrackEnded && !seen.isEmpty(); }, 15000));
    EXPECT_EQ(seen,
        QList<QStringList>({
            { u"No.1"_s, u"Title one"_s, u"Artist one"_s, u"00:01"_s, u"128 kb/s"_s, u"44.1 KHz"_s, u"1"_s },
            { u"No.2"_s, u"Title two"_s, u"Artist two"_s, u"00:01"_s, u"VBR"_s, u"22.05 KHz"_s, u"0"_s },
            { u"No.3"_s, u"Title three"_s, u"Artist three"_s, u"00:01"_s, u"192 kb/s"_s, u"48 KHz"_s, u"1"_s },
        }));
    // The lyrics scrolled: the middle line went through the three lines.
    for (const QString &line : { u"first line"_s, u"second line"_s, u"third line"_s })
        EXPECT_TRUE(lyricsShown.contains(line)) << line.toStdString();
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 1);
    EXPECT_TRUE(prompter.messages.isEmpty());
}

TEST_F(EndToEnd, RandomWithRepeatPlaysTwoRounds)
{
    w->label5Click(); // Random, repeat stays on
    w->Toolbar_ButtonClick(u"再生"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 6; }, 20000));
    w->Toolbar_ButtonClick(u"停止"_s);
    QSet<QString> first, second;
    for (int i = 0; i < 3; ++i) {
        first.insert(seen[i][1]);
        second.insert(seen[i + 3][1]);
    }
    EXPECT_EQ(first.size(), 3);
    EXPECT_EQ(second.size(), 3);
    EXPECT_TRUE(prompter.messages.isEmpty());
}

// Three rows, each following the one before without a gap: an MP3 with a LAME header, a WAV
// of the same rate, and an MP3 of another rate.  The file output holds the first two back
// to back exactly as each plays alone (its delay and padding cut, nothing inserted), the
// third in the next file; the read-outs, CurrentTrackNo and the lyrics follow each join.
TEST_F(EndToEnd, GaplessRowsJoinSampleForSample)
{
    const QString wav = dir.filePath(u"middle.wav"_s);
    ASSERT_EQ(
        QProcess::execute(u"sox"_s, u"-n -r 44100 -c 2 -b 16 %1 synth 0.77 sine 660 gain -6"_s.arg(wav).split(u' ')),
        0);
    writeBytes(dir.filePath(u"middle.txt"_s), "[00:00.00]middle line\r\n");
    const QStringList rows { paths[0], wav, paths[2] };
    const QByteArray one = playedAlone(rows[0]), two = playedAlone(rows[1]), three = playedAlone(rows[2]);
    ASSERT_EQ(one.size(), 1.5 * 44100 * 4); // as long as the sound it was made from
    ASSERT_TRUE(!two.isEmpty() && !three.isEmpty());

    w->playlist()->clear();
    w->adder()->addFiles(rows);
    ASSERT_TRUE(w->adder()->waitForIdle(10000));
    ASSERT_EQ(w->playlist()->count(), 3);
    const QString out = dir.filePath(u"joined.wav"_s);
    ASSERT_EQ(api.setOutput((u"file:"_s + out).toUtf8().constData()), 1);
    w->Label15_Click(); // repeat off
    w->Toolbar_ButtonClick(u"再生"_s);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !w->controller()->timebarOn() && !callbackFlags().TrackEnded && seen.size() >= 3; }, 15000));
    QList<QStringList> shown; // number, frequency, lyrics tab
    for (const QStringList &track : seen)
        shown << QStringList { track[0], track[5], track[6] };
    EXPECT_EQ(shown,
        QList<QStringList>({ { u"No.1"_s, u"44.1 KHz"_s, u"1"_s }, { u"No.2"_s, u"44.1 KHz"_s, u"0"_s },
            { u"No.3"_s, u"48 KHz"_s, u"1"_s } }));
    EXPECT_EQ(w->playbackState().CurrentTrackNo, 1);
    const QByteArray joined = wavData(out);
    EXPECT_EQ(joined.size(), one.size() + two.size());
    EXPECT_TRUE(joined == one + two) << "the joined file differs from the tracks played alone";
    EXPECT_TRUE(wavData(dir.filePath(u"joined-2.wav"_s)) == three);
    EXPECT_TRUE(prompter.messages.isEmpty());
}

namespace
{

// A private PulseAudio server with a null sink on a socket of its own; stopped with the
// object (by its pid).
class PrivateSoundServer
{
public:
    explicit PrivateSoundServer(const QString &dir)
        : m_socket(dir + u"/pulse.sock"_s)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_s, dir);
        env.insert(u"HOME"_s, dir);
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(u"pulseaudio"_s,
            { u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s, u"--disable-shm"_s, u"-L"_s,
                u"module-null-sink"_s, u"-L"_s,
                u"module-native-protocol-unix socket=%1 auth-anonymous=1"_s.arg(m_socket) });
        m_ready = m_server.waitForStarted(5000)
            && QTest::qWaitFor(
                [this] { return QFile::exists(m_socket) || m_server.state() != QProcess::Running; }, 5000)
            && m_server.state() == QProcess::Running;
    }
    ~PrivateSoundServer() { kill(); }
    bool ready() const { return m_ready; }
    QString address() const { return u"unix:"_s + m_socket; }
    void kill()
    {
        if (m_server.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(m_server.processId()), SIGKILL);
            m_server.waitForFinished(5000);
        }
        QFile::remove(m_socket);
    }

private:
    QString m_socket;
    QProcess m_server;
    bool m_ready = false;
};

QString outputName(const DecoderApi &api)
{
    char name[16] = {};
    api.getOutputName(name, sizeof name);
    return QString::fromLatin1(name);
}

} // namespace

// The sound server dies during a track: the library plays the rest in silence, the
// player says so once (not again for a second loss), and the next track reaches a server
// that is back.
TEST(SoundServer, LossDuringATrackIsToldOnceAndTheNextTrackConnectsAgain)
{
    if (QStandardPaths::findExecutable(u"pulseaudio"_s).isEmpty())
        GTEST_SKIP() << "pulseaudio is needed for a private sound server";
    QTemporaryDir dir;
    auto server = std::make_unique<PrivateSoundServer>(dir.path());
    if (!server->ready())
        GTEST_SKIP() << "the private sound server did not start";
    const QByteArray oldServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", server->address().toUtf8());
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
    server->kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() == 1; }, 4000));
    EXPECT_TRUE(notice.toldLost());
    EXPECT_FALSE(notice.told());
    EXPECT_EQ(api.getState(nullptr), VBMP3_PLAYING) << "the rest of the track goes on in silence";
    EXPECT_EQ(window.findChild<QMessageBox *>(u"outputNotice"_s)->text(), OutputNotice::lostText());

    // The server is back for the next track.
    api.stop();
    server.reset(); // its socket goes before the new server makes its own
    server = std::make_unique<PrivateSoundServer>(dir.path());
    ASSERT_TRUE(server->ready());
    playFromStart();
    EXPECT_TRUE(QTest::qWaitFor([&] { return outputName(api) == u"pulse"_s; }, 5000)) << outputName(api).toStdString();
    QTest::qWait(300); // the notice has seen the server's output
    server->kill();
    QTest::qWait(1500);
    EXPECT_EQ(shown.count(), 1) << "said once";
    api.stop();
    api.free();
    qputenv("PULSE_SERVER", oldServer);
}
