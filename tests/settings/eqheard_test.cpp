// The equalizer as heard: the options window drives the real decoder library, whose file
// output writes what would be heard; tones measured with the equalizer on and off.
#include "decoderapi.h"
#include "eqpresets.h"
#include "optionswindow.h"
#include "testfiles.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cmath>
#include <complex>

using namespace kes;

namespace
{

constexpr int kRate = 44100;
std::atomic<bool> g_ended { false };

// RMS level in dB of the left channel of a 16-bit stereo WAV written by the library,
// between 0.5 s and 1.5 s (clear of the equalizer's glide and the filters' settling).
double levelDb(const QByteArray &wav)
{
    const qsizetype data = wav.indexOf("data");
    if (data < 0 || (wav.size() - data - 8) / 4 < 3 * kRate / 2)
        return -999;
    const auto *samples = reinterpret_cast<const qint16 *>(wav.constData() + data + 8);
    double sum = 0;
    for (qsizetype i = kRate / 2; i < 3 * kRate / 2; ++i)
        sum += double(samples[2 * i]) * samples[2 * i];
    return 10 * std::log10(sum / kRate);
}

// The gain at hertz of the library's documented filters for a curve: ten peaking filters
// (the audio cookbook's, Q 1.41) at the band frequencies, 0.2 dB a unit.
double curveGainDb(const EqCurve &curve, double hertz)
{
    const double centres[10] = { 60, 170, 310, 600, 1000, 3000, 6000, 12000, 14000, 16000 };
    std::complex<double> h = 1;
    const std::complex<double> z = std::polar(1.0, -2 * M_PI * hertz / kRate);
    for (int i = 0; i < 10; ++i) {
        const double a = std::pow(10.0, curve[i] * 0.2 / 40), w = 2 * M_PI * centres[i] / kRate;
        const double alpha = std::sin(w) / (2 * 1.41), c = -2 * std::cos(w);
        h *= (1 + alpha * a + c * z + (1 - alpha * a) * z * z) / (1 + alpha / a + c * z + (1 - alpha / a) * z * z);
    }
    return 20 * std::log10(std::abs(h));
}

} // namespace

TEST(EqualizerHeard, ToneChangesByTheBandsGain)
{
    if (QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty())
        GTEST_SKIP() << "sox is needed to make the tones";
    DecoderApi api;
    QString error;
    ASSERT_TRUE(loadDecoderLibrary(QStringLiteral(KESTRINE_BIN_DIR), api, error)) << error.toStdString();
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.wav"), out = dir.filePath("heard.wav"), ini = dir.filePath("kestrine.ini");
    api.init();
    api.callback([](int32_t message, int32_t) { g_ended = g_ended || message == VBMP3_MSG_END_OF_TRACK; });
    const auto cleanup = qScopeGuard([&] {
        api.stopCallback();
        api.free();
    });
    // Plays the tone through the file output with the equalizer as the window leaves it
    // after preset (-1: switch off) was picked, and returns the level heard.
    auto heard = [&](int preset) {
        QFile::remove(out);
        QFile::remove(ini);
        api.setEqualizer(nullptr); // as the last run left it
        Settings live;
        OptionsWindow window(live, { api, nullptr, ini, {}, {} });
        window.formLoad();
        if (preset >= 0) {
            window.findChild<QCheckBox *>(QStringLiteral("Eq_true"))->setChecked(true);
            window.findChild<QAbstractButton *>(QStringLiteral("Opt_eq(%1)").arg(preset))->click();
        }
        EXPECT_EQ(api.setOutput(("file:" + out.toStdString()).c_str()), 1);
        OpenInfo info {};
        EXPECT_NE(api.open(tone.toUtf8().constData(), &info), 0);
        g_ended = false;
        EXPECT_NE(api.play(), 0);
        for (int i = 0; !g_ended && i < 2000; ++i)
            QThread::msleep(10);
        EXPECT_TRUE(g_ended);
        api.close();
        return levelDb(readBytes(out));
    };
    // Band values are 0.2 dB each.  The neighbouring bands of these presets move the tone
    // too, a little: the change heard is the whole curve's gain at the tone, and within
    // 1 dB of the band's own gain.
    const struct {
        double hertz;
        int preset;
        double bandDb;
    } cases[] = {
        { 1000, 2, 30 * 0.2 }, // "Vocal" as picked: 1 kHz +30
        { 60, 3, 40 * 0.2 }, // "Powerful" as picked: 60 Hz +40
        { 60, 5, -30 * 0.2 }, // "Bass": -30 on every band
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.hertz << " Hz, preset " << c.preset);
        // Two seconds of a stereo sine at -20 dBFS.
        ASSERT_EQ(QProcess::execute(QStringLiteral("sox"),
                      QStringLiteral("-n -r 44100 -c 2 -b 16 %1 synth 2 sine %2 gain -20")
                          .arg(tone)
                          .arg(c.hertz)
                          .split(u' ')),
            0);
        const double off = heard(-1), on = heard(c.preset);
        EXPECT_GT(off, 50) << "the tone was written";
        EXPECT_NEAR(on - off, c.bandDb, 1.0);
        EXPECT_NEAR(on - off, curveGainDb(eqPresetCurve(c.preset, EqCurveUse::Pick, {}), c.hertz), 0.2);
    }
}
