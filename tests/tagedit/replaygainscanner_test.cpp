// The ReplayGain scanner against ffmpeg's EBU R128 meter, on files made here, through the
// real decoder library; and its Cancel, held open at a read by a seam in the decoder table.
#include "replaygainscanner.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>

using namespace kes;

namespace
{

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "test_tagedit";
    static char *argv[] = { name, nullptr };
    static QCoreApplication *instance
        = QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *instance;
}

bool sh(const QString &dir, const QString &command)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("sh"), { QStringLiteral("-c"), command });
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// ffmpeg's integrated loudness (LUFS) of its inputs played one after another.
double ffmpegLoudness(const QString &dir, const QStringList &files)
{
    QString inputs, chain;
    for (int i = 0; i < files.size(); ++i) {
        inputs += QStringLiteral(" -i '%1'").arg(files[i]);
        chain += QStringLiteral("[%1:a]").arg(i);
    }
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("sh"),
        { QStringLiteral("-c"),
            QStringLiteral(
                "ffmpeg -hide_banner -nostats%1 -filter_complex '%2concat=n=%3:v=0:a=1,ebur128' -f null - 2>&1")
                .arg(inputs, chain)
                .arg(files.size()) });
    p.waitForFinished(120000);
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("Integrated loudness:\\s*I:\\s*(-?[0-9.]+) LUFS"))
              .match(text.mid(text.lastIndexOf(QStringLiteral("Summary:"))));
    return m.hasMatch() ? m.captured(1).toDouble() : NAN;
}

DecoderApi realLibrary()
{
    DecoderApi api;
    QString error;
    EXPECT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
    return api;
}

class Scanner : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        if (!sh(m_dir.path(),
                QStringLiteral("command -v sox && command -v lame && command -v flac && command -v ffmpeg")))
            GTEST_SKIP() << "sox, lame, flac and ffmpeg are needed";
    }
    QString make(const QString &name, const QString &command)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(sh(m_dir.path(), command.arg(name))) << command.toStdString();
        return path;
    }
    // Runs a scan to its end; false when it did not end in time.
    static bool scan(ReplayGainScanner &scanner, const QList<ScanRow> &rows)
    {
        QSignalSpy finished(&scanner, &ReplayGainScanner::finished);
        scanner.start(rows);
        return finished.wait(60000);
    }

    QTemporaryDir m_dir;
};

// Track and album gains within 0.1 dB of ffmpeg's meter on files of different loudness and
// formats; an album of three tagged files (MP3 and FLAC) apart from an untagged file in the
// same folder; a cue track measured but never written.
TEST_F(Scanner, GainsAgreeWithFfmpegAndAlbumsFollowTheTags)
{
    const QString tags = QStringLiteral("-T ALBUM=Dawn -T ALBUMARTIST=Kei");
    const QStringList album {
        make(QStringLiteral("a.flac"),
            QStringLiteral("sox -n -r 44100 -c 2 -b 16 -t wav - synth 24 sine 440 gain -8 | flac -s %1 -o %2 -")
                .arg(tags, QStringLiteral("%1"))),
        make(QStringLiteral("b.mp3"),
            QStringLiteral("sox -n -r 44100 -c 2 -b 16 -t wav - synth 20 pinknoise gain -20 | "
                           "lame --quiet -b 192 --tl Dawn --tv TPE2=Kei - %1")),
        make(QStringLiteral("c.flac"),
            QStringLiteral("sox -n -r 44100 -c 2 -b 24 -t wav - synth 16 brownnoise gain -3 | flac -s %1 -o %2 -")
                .arg(tags, QStringLiteral("%1"))),
    };
    const QString loose = make(
        QStringLiteral("d.wav"), QStringLiteral("sox -n -r 48000 -c 2 -b 16 %1 synth 5 sine 1000 sine 3000 gain -25"));
    const QString image = make(
        QStringLiteral("image.wav"), QStringLiteral("sox -n -r 44100 -c 2 -b 16 %1 synth 8 whitenoise gain -15"));

    ReplayGainScanner scanner(realLibrary(), {});
    QList<ScanRow> rows;
    for (const QString &path : album + QStringList { loose })
        rows.append({ path, std::nullopt });
    rows.append({ image, TrackRange { 75, 375 } }); // 1 s to 5 s
    ASSERT_TRUE(scan(scanner, rows));

    const QList<ScanResult> &results = scanner.results();
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(rows[i].path.toStdString());
        ASSERT_EQ(results[i].state, ScanResult::State::Measured) << results[i].why.toStdString();
        EXPECT_NEAR(results[i].values.trackGain, -18 - ffmpegLoudness(m_dir.path(), { rows[i].path }), 0.1);
        EXPECT_GT(results[i].values.trackPeak, 0.01);
        EXPECT_LT(results[i].values.trackPeak, 1.0);
    }
    EXPECT_NEAR(results[0].values.trackPeak, std::pow(10.0, -8 / 20.0), 0.001); // a lossless sine
    const double albumGain = -18 - ffmpegLoudness(m_dir.path(), album);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(results[i].values.albumGain);
        EXPECT_NEAR(*results[i].values.albumGain, albumGain, 0.1);
        EXPECT_EQ(*results[i].values.albumPeak,
            std::max({ results[0].values.trackPeak, results[1].values.trackPeak, results[2].values.trackPeak }));
    }
    ASSERT_TRUE(results[3].values.albumGain); // an album of its own
    EXPECT_NEAR(*results[3].values.albumGain, results[3].values.trackGain, 0.02);
    ASSERT_EQ(results[4].state, ScanResult::State::Measured);
    const QString part = make(QStringLiteral("part.wav"), QStringLiteral("sox image.wav %1 trim 1 4"));
    EXPECT_NEAR(results[4].values.trackGain, -18 - ffmpegLoudness(m_dir.path(), { part }), 0.1);

    // The write: every file's values, the cue track told apart and left alone.
    std::mutex mutex;
    QStringList wrote;
    ReplayGainScanner writing(realLibrary(), [&](const QString &path, const ReplayGainValues &) {
        std::lock_guard lock(mutex);
        wrote.append(path);
        return WriteResult { WriteOutcome::Written, {} };
    });
    ASSERT_TRUE(scan(writing, rows));
    QSignalSpy perRow(&writing, &ReplayGainScanner::rowWritten), done(&writing, &ReplayGainScanner::written);
    writing.write();
    ASSERT_TRUE(done.wait(30000));
    EXPECT_EQ(wrote, album + QStringList { loose });
    EXPECT_EQ(done.front().front().toStringList(), wrote);
    ASSERT_EQ(perRow.size(), 5);
    EXPECT_EQ(perRow.back()[0].toInt(), 4);
    EXPECT_EQ(perRow.back()[1].value<WriteResult>().outcome, WriteOutcome::NotSupported);
}

// A seam in the decoder table: the third read of the scan waits until the test lets it go.
struct HeldRead {
    static inline decltype(&vbmp3_readerRead) real = nullptr;
    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline int reads = 0;
    static inline bool holding = false, released = false;

    static int32_t read(Vbmp3Reader *reader, float *buffer, int32_t frames)
    {
        std::unique_lock lock(mutex);
        if (++reads == 3) {
            holding = true;
            changed.notify_all();
            changed.wait(lock, [] { return released; });
        }
        lock.unlock();
        return real(reader, buffer, frames);
    }
};

// Cancel while rows are being read: each worker stops after the block it is in, the rows
// not measured end Cancelled, and finished(true) comes.
TEST_F(Scanner, CancelStopsWithinABlock)
{
    const QString longFile = make(QStringLiteral("long.flac"),
        QStringLiteral("sox -n -r 44100 -c 2 -b 16 -t wav - synth 60 pinknoise gain -10 | flac -s -0 -o %1 -"));
    DecoderApi api = realLibrary();
    HeldRead::real = api.readerRead;
    api.readerRead = HeldRead::read;
    ReplayGainScanner scanner(api, {});
    scanner.setMaxWorkers(2);
    QSignalSpy finished(&scanner, &ReplayGainScanner::finished);
    scanner.start(QList<ScanRow>(4, ScanRow { longFile, std::nullopt }));
    int readsAtCancel = 0;
    {
        std::unique_lock lock(HeldRead::mutex);
        ASSERT_TRUE(HeldRead::changed.wait_for(lock, std::chrono::seconds(30), [] { return HeldRead::holding; }));
        scanner.cancel();
        readsAtCancel = HeldRead::reads;
        HeldRead::released = true;
        HeldRead::changed.notify_all();
    }
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(finished.front().front().toBool());
    // The held read itself, and at most one more by the other worker.
    EXPECT_LE(HeldRead::reads, readsAtCancel + 1);
    for (const ScanResult &r : scanner.results())
        EXPECT_EQ(r.state, ScanResult::State::Cancelled);
}

} // namespace
