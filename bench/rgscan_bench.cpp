// The ReplayGain scanner's speed on MP3: seconds of audio measured per second of wall time
// on one worker, with sample peaks and with true peaks, and on every processor.
//   rgscan_bench [file.mp3 ...]   (default: four 60 s files made with sox and lame)
#include "replaygainscanner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kes;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DecoderApi api;
    QString error;
    if (!loadDecoderLibrary(QCoreApplication::applicationDirPath(), api, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir dir;
    QList<ScanRow> rows;
    for (int i = 1; i < argc; ++i)
        rows.append({ QString::fromLocal8Bit(argv[i]), std::nullopt });
    if (rows.isEmpty()) {
        for (int i = 0; i < 4; ++i) {
            const QString path = dir.filePath(QStringLiteral("t%1.mp3").arg(i));
            const QByteArray command = QStringLiteral("sox -n -r 44100 -c 2 -b 16 -t wav - synth 60 pinknoise gain -%1 "
                                                      "| lame --quiet -b 192 - '%2'")
                                           .arg(6 + 3 * i)
                                           .arg(path)
                                           .toLocal8Bit();
            if (std::system(command.constData()) != 0) {
                std::fprintf(stderr, "sox and lame are needed to make the files\n");
                return 1;
            }
            rows.append({ path, std::nullopt });
        }
    }

    // The length of the audio, read once before the clock runs (which also warms the cache).
    double audio = 0;
    for (const ScanRow &row : rows) {
        int32_t rate = 0, channels = 0;
        const QByteArray path = row.path.toLocal8Bit();
        Vbmp3Reader *reader = api.readerOpen(path.constData(), nullptr, &rate, &channels);
        if (!reader) {
            std::fprintf(stderr, "%s cannot be read\n", path.constData());
            return 1;
        }
        std::vector<float> buffer(size_t(4096 * channels));
        for (int32_t n; (n = api.readerRead(reader, buffer.data(), 4096)) > 0;)
            audio += double(n) / rate;
        api.readerClose(reader);
    }

    const auto measure = [&](int workers, bool truePeak) {
        ReplayGainScanner scanner(api, {});
        scanner.setMaxWorkers(workers);
        scanner.setTruePeak(truePeak);
        QEventLoop loop;
        QObject::connect(&scanner, &ReplayGainScanner::finished, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        scanner.start(rows);
        loop.exec();
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        for (int i = 0; i < rows.size(); ++i)
            if (scanner.results()[i].state != ScanResult::State::Measured)
                std::fprintf(stderr, "row %d: %s\n", i, qPrintable(scanner.results()[i].why));
        std::printf("%-12s %d worker%s  %6.1f s of audio in %6.2f s: %6.1fx real time\n",
            truePeak ? "true peak" : "sample peak", workers, workers == 1 ? " " : "s", audio, wall, audio / wall);
    };
    measure(1, false);
    measure(1, true);
    measure(QThread::idealThreadCount(), false);
    return 0;
}
