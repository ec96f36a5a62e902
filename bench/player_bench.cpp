// CPU cost of the whole player while it plays a track with lyrics and the spectrum on,
// beside the decoder library alone playing the same file, and of the player while
// stopped.  Each measurement runs in a child process of its own (this program started
// again with a mode), all through the library's null output, so the run needs no sound
// card.  Prints CPU seconds per second of playback and the ratios.
//
//   player_bench [seconds]          (default 20)
#include "appsetup.h"
#include "benchwindow.h"
#include "decoderapi.h"
#include "mainwindow.h"
#include "scriptedprompter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace kes;

namespace
{

double cpuSeconds()
{
    rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

QString binDir()
{
    return QCoreApplication::applicationDirPath();
}

// The library alone: open, lyrics, play; poll position 10 times a second and spectrum 5
// times, and fetch the lyrics when the library says the lines change, as the player does.
int runLibrary(const QString &file, int seconds)
{
    DecoderApi api;
    QString error;
    if (!loadDecoderLibrary(binDir(), api, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    api.init();
    api.setOutput("null");
    OpenInfo info {};
    const QByteArray path = file.toUtf8();
    if (!api.open(path.constData(), &info) || !api.play())
        return 1;
    const QByteArray lyrics = (file.left(file.size() - 4) + QStringLiteral(".txt")).toUtf8();
    api.setLyricsFile(lyrics.constData());
    const double start = cpuSeconds();
    QElapsedTimer t;
    t.start();
    int32_t a[256], b[256];
    LyricsLines lines;
    int tick = 0;
    qint64 nextTick = 100;
    qint64 nextLine = 0;
    while (t.elapsed() < seconds * 1000) {
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(1, std::min(nextTick, nextLine) - t.elapsed())));
        if (t.elapsed() >= nextLine) {
            api.getLyrics(&lines);
            const int32_t wait = api.getLyricsWait();
            nextLine = t.elapsed() + (wait < 0 ? 1000 : std::min(wait + 1, 1000));
        }
        if (t.elapsed() >= nextTick) {
            nextTick += 100;
            int32_t s = 0;
            api.getState(&s);
            if (++tick % 2 == 0)
                api.getSpectrum(a, b);
        }
    }
    std::printf("%.6f\n", (cpuSeconds() - start) / seconds);
    api.stop();
    api.free();
    return 0;
}

// The whole player (offscreen), playing the file from its playlist, or stopped.
int runPlayer(const QString &file, int seconds, bool play)
{
    int argc = 1;
    char name[] = "player_bench";
    char *argv[] = { name, nullptr };
    QApplication app(argc, argv);
    installFontSubstitutions();
    BenchWindow bench;
    if (!bench.open(binDir(), "player_bench"))
        return 1;
    MainWindow &w = *bench.window;
    double start = 0;
    QTimer::singleShot(500, &w, [&] {
        if (play) {
            w.playbackState().CurrentFile = file;
            w.playbackState().CurrentTrackNo = 1;
            w.controller()->PlayTrack();
        }
        start = cpuSeconds();
        QTimer::singleShot(seconds * 1000, &app, [&] {
            std::printf("%.6f\n", (cpuSeconds() - start) / seconds);
            w.close();
            app.quit();
        });
    });
    return app.exec();
}

double child(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QCoreApplication::applicationFilePath(), args);
    p.waitForFinished(-1);
    bool ok = false;
    const double v = QString::fromLatin1(p.readAllStandardOutput()).trimmed().toDouble(&ok);
    if (!ok) {
        std::fprintf(stderr, "child %s failed: %s\n", qPrintable(args.join(QLatin1Char(' '))),
            p.readAllStandardError().constData());
        std::exit(1);
    }
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    prepareEnvironment();
    if (argc >= 4 && QByteArray(argv[1]) == "--library") {
        QCoreApplication app(argc, argv);
        return runLibrary(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    }
    if (argc >= 4 && QByteArray(argv[1]) == "--player")
        return runPlayer(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt(), true);
    if (argc >= 3 && QByteArray(argv[1]) == "--stopped")
        return runPlayer(QString(), QByteArray(argv[2]).toInt(), false);

    QCoreApplication app(argc, argv);
    const int seconds = argc >= 2 ? QByteArray(argv[1]).toInt() : 20;
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("t.wav"));
    const QString mp3 = dir.filePath(QStringLiteral("t.mp3"));
    if (QProcess::execute(QStringLiteral("sox"),
            { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                QStringLiteral("2"), wav, QStringLiteral("synth"), QString::number(seconds + 5),
                QStringLiteral("pinknoise"), QStringLiteral("gain"), QStringLiteral("-12") })
            != 0
        || QProcess::execute(QStringLiteral("lame"),
               { QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("192"), wav, mp3 })
            != 0) {
        std::fprintf(stderr, "sox and lame are needed\n");
        return 1;
    }
    QFile lrc(dir.filePath(QStringLiteral("t.txt")));
    lrc.open(QIODevice::WriteOnly);
    for (int s = 0; s < seconds + 5; ++s)
        lrc.write(QStringLiteral("[%1:%2.00]歌詞の行 %3\n")
                      .arg(s / 60, 2, 10, QLatin1Char('0'))
                      .arg(s % 60, 2, 10, QLatin1Char('0'))
                      .arg(s)
                      .toUtf8());
    lrc.close();

    const double library = child({ QStringLiteral("--library"), mp3, QString::number(seconds) });
    const double player = child({ QStringLiteral("--player"), mp3, QString::number(seconds) });
    const double stopped = child({ QStringLiteral("--stopped"), QString::number(seconds) });
    std::printf("player bench (%d s of 192 kb/s MP3 with lyrics, spectrum on, null output)\n", seconds);
    std::printf("  library alone   %.4f CPU s per s\n", library);
    std::printf("  whole player    %.4f CPU s per s   ratio %.2fx (goal <= 1.5x)\n", player, player / library);
    std::printf("  player stopped  %.4f CPU s per s   = %.2f%% of one core (goal <= 1%%)\n", stopped, stopped * 100);
    return 0;
}
