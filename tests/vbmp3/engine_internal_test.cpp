// The engine's parts on their own: the equalizer's glide, the spectrum analyser's scale, the
// sound-server output, and the decoding sources against the MPEG audio compliance vectors.
#include "bandanalyzer.h"
#include "enginetestsupport.h"
#include "equalizer.h"
#include "fileinfo.h"
#include "mpegheader.h"
#include "output.h"
#include "source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <numbers>
#include <thread>

using namespace enginetest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

std::vector<float> sine(double frequency, double amplitude, int rate, size_t frames, size_t channels)
{
    std::vector<float> out(frames * channels);
    for (size_t i = 0; i < out.size(); ++i)
        out[i]
            = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * double(i / channels) / rate));
    return out;
}

// Level in dB of the first channel over frames [from, to).
double levelDb(const std::vector<float> &data, size_t channels, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double(data[i * channels]) * data[i * channels];
    return 10.0 * std::log10(sum / double(to - from));
}

TEST(Equalizer, GlidesToNewGainsWithin50msWithoutClicks)
{
    const int rate = 48000;
    vbmp3::Equalizer eq;
    eq.configure(rate, 2, {});
    const auto process = [&](std::vector<float> &data) { // in small pieces, as the output thread does
        for (size_t at = 0; at < data.size() / 2; at += 480)
            eq.process(data.data() + 2 * at, 480);
    };
    std::vector<float> data = sine(1000, 0.25, rate, rate / 2, 2);
    const std::vector<float> original = data;
    vbmp3::Equalizer::Units bands {};
    bands[4] = 60;
    eq.setTargets(bands);
    process(data);
    // 50 ms after the change the level is there (allowing for the filter's own settling).
    const size_t after = rate / 20;
    EXPECT_NEAR(levelDb(data, 2, after, after + 4800) - levelDb(original, 2, after, after + 4800), 12.0, 0.3);
    // No step larger than the boosted sine's own steepest slope (plus a little).
    double maxStep = 0;
    for (size_t i = 0; i < after; ++i)
        maxStep = std::max(maxStep, std::fabs(double(data[2 * i + 2]) - data[2 * i]));
    EXPECT_LT(maxStep, 1.0 * 2 * std::numbers::pi * 1000 / rate * 1.15);

    // Back to flat: after the glide and the filters' decay the samples pass untouched.
    eq.setTargets({});
    data = sine(1000, 0.25, rate, rate, 2);
    process(data);
    EXPECT_TRUE(std::equal(data.end() - 9600, data.end(), sine(1000, 0.25, rate, rate, 2).end() - 9600));
}

TEST(BandAnalyzer, PeakBandAndScale)
{
    vbmp3::BandAnalyzer analyzer;
    const struct {
        int rate;
        double frequency, amplitude;
        int minLevel, maxLevel;
    } rows[] = {
        { 48000, 12000, 0.1, 76, 80 }, // -20 dB
        { 22050, 440, 1.0, 116, 120 }, { 44100, 1000, 0.0005, 0, 6 }, // -66 dB: near the floor
    };
    int32_t levels[256];
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.frequency << " Hz at " << row.rate << ", " << row.amplitude);
        const std::vector<float> data
            = sine(row.frequency, row.amplitude, row.rate, vbmp3::BandAnalyzer::windowFor(row.rate), 2);
        analyzer.analyze(data.data(), 2, 1, row.rate, levels);
        const int peak = static_cast<int>(std::max_element(levels, levels + 256) - levels);
        EXPECT_TRUE(levels[peak] >= row.minLevel && levels[peak] <= row.maxLevel) << levels[peak];
        if (row.minLevel > 0) {
            EXPECT_NEAR(40.0 * std::pow(16000.0 / 40.0, peak / 255.0) / row.frequency, 1.0, 0.04);
        }
    }
}

// The sound-server output plays through a private PulseAudio server with a null sink at the
// server's pace (44.1 kHz through the resampler to 48 kHz), and a stream whose server goes
// between the last write and the drain still drains.  (No server at all, and a server dying
// mid-track, are played through the C interface.)
TEST(PulseOutput, PlaysThroughAServerAndDrainsAfterItDies)
{
    PulseServer server;
    if (!server.ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    vbmp3::OutputFormat format;
    format.deviceRate = 48000;
    auto out = vbmp3::makePulseOutput();
    if (!out->open(format))
        GTEST_SKIP() << "the private PulseAudio server did not answer";
    const auto drain = [](vbmp3::Output &out, Clock::time_point until) {
        out.startDrain();
        while (!out.drained() && Clock::now() < until)
            std::this_thread::sleep_for(5ms);
        return out.drained();
    };
    // Paced by the server: never faster than real time.  (The private null sink sleeps up
    // to about two seconds before it starts taking data.)
    const std::vector<float> half = sine(440, 0.3, 44100, 44100 / 2, 2);
    const auto start = Clock::now();
    for (size_t written = 0, n; written < half.size() / 2 && Clock::now() - start < 5s; written += n)
        if ((n = std::min(out->room(), half.size() / 2 - written)) == 0)
            out->waitForRoom(20ms);
        else
            out->write(half.data() + 2 * written, n);
    EXPECT_GT(out->delayFrames(), 0);
    EXPECT_TRUE(drain(*out, start + 5s));
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(took > 0.45 && took < 4.5) << took;
    out->close();

    format = {};
    format.channels = 1;
    auto drainingOut = vbmp3::makePulseOutput();
    ASSERT_TRUE(drainingOut->open(format));
    ASSERT_GE(drainingOut->room(), 2000u);
    drainingOut->write(sine(440, 0.3, 44100, 2000, 1).data(), 2000);
    server.stop();
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(drain(*drainingOut, Clock::now() + 2s)) << "a stream that died before its drain never drains";
}

// A stream whose sample rate changes midway ends there; libmpg123 is not asked for more
// (reading or seeking after its format error crashed it).
TEST(MpegSource, RateChangeMidwayEndsTheTrackForGood)
{
    if (!haveTools())
        GTEST_SKIP() << "sox and lame are needed to make the fixtures";
    const std::string path = fixture("ratechange.mp3",
        "sox -n -r 44100 -c 2 -b 16 -t wav - synth 1 sine 440 | lame --quiet -b 128 - a.mp3 && "
        "sox -n -r 32000 -c 2 -b 16 -t wav - synth 1 sine 440 | lame --quiet -b 128 - b.mp3 && "
        "cat a.mp3 b.mp3 > %o");
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->info().rate, 44100);
    std::vector<float> buffer(4096 * 2);
    size_t total = 0;
    while (size_t n = source->read(buffer.data(), 4096))
        total += n;
    EXPECT_TRUE(total >= 44100u && total < 44100u + 4096u) << total;
    source->seek(0);
    EXPECT_EQ(source->read(buffer.data(), 4096), 0u);
}

// Every ISO and MPEG-2 Layer III vector decodes with full accuracy: RMS difference below
// 1/sqrt(12) LSB and no sample more than 2 LSB off.
TEST(Compliance, LayerIIIVectorsDecodeToTheReference)
{
    const std::filesystem::path dir = std::filesystem::path(KESTRINE_SHARED_TESTDATA) / "minimp3-vectors";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << dir << " is absent";
    std::vector<std::filesystem::path> vectors;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".bit")
            vectors.push_back(entry.path());
    std::sort(vectors.begin(), vectors.end());

    int checked = 0;
    for (const auto &bit : vectors) {
        const std::string name = bit.stem().string(), pcm = readFile(dir / (name + ".pcm"));
        SCOPED_TRACE(name);
        const bool modeChanges = name == "l3-he_mode";
        const Pcm ours = decodeDirect(bit.string(), modeChanges ? 2 : 0);
        std::vector<int16_t> reference(pcm.size() / 2); // signed 16-bit little-endian
        std::memcpy(reference.data(), pcm.data(), 2 * reference.size());
        if (reference.empty()) {
            EXPECT_TRUE(ours.samples.empty()) << "no audio expected";
            continue;
        }
        if (name.starts_with("l3-nonstandard") || name == "l3-test45" || name == "l3-test46")
            continue; // informative only: decoded without harm
        ASSERT_GT(ours.channels, 0) << "not decoded";
        const size_t frameSamples = ours.rate >= 32000 ? 1152 : 576, channels = size_t(ours.channels);
        double sumSquares = 0;
        int maxAbs = 0;
        size_t count = 0;
        const auto add = [&](int a, int b) {
            maxAbs = std::max(maxAbs, std::abs(a - b));
            sumSquares += double(a - b) * (a - b);
            ++count;
        };
        if (modeChanges) {
            // The reference holds each frame with its own channel count; ours is stereo
            // throughout (mono frames duplicated).  The first frame after a change is skipped.
            const std::string bytes = readFile(bit);
            size_t r = 0, o = 0, previous = 0;
            for (size_t pos = 0; pos + 4 <= bytes.size();) {
                const auto h = vbmp3::parseMpegHeader(reinterpret_cast<const uint8_t *>(bytes.data() + pos));
                if (!h || h->frameBytes() == 0) {
                    ++pos;
                    continue;
                }
                pos += size_t(h->frameBytes());
                const size_t mode = h->mode == 3 ? 1 : 2;
                const bool skip = previous != 0 && mode != previous;
                previous = mode;
                for (size_t i = 0; i < frameSamples && r + mode <= reference.size() && o + 2 <= ours.samples.size();
                     ++i, r += mode, o += 2)
                    for (size_t c = 0; c < mode && !skip; ++c)
                        add(ours.samples[o + c], reference[r + c]);
            }
        } else {
            // l3-sin1k0db's reference starts two frames late (their bit reservoir is missing).
            const size_t skip = name == "l3-sin1k0db" ? 2 * frameSamples * channels : 0;
            ASSERT_GE(ours.samples.size(), skip + reference.size()) << "shorter than the reference";
            EXPECT_LE(ours.samples.size(), skip + reference.size() + 2 * frameSamples * channels)
                << "more than two frames beyond the reference";
            for (size_t i = 0; i < reference.size(); ++i)
                add(ours.samples[skip + i], reference[i]);
        }
        const double rms = std::sqrt(sumSquares / double(std::max<size_t>(count, 1)));
        std::cout << "  " << name << ": rms " << rms << " LSB, max " << maxAbs << " LSB over " << count << " samples\n";
        EXPECT_GT(count, reference.size() / 2);
        EXPECT_LT(rms, 1.0 / std::sqrt(12.0));
        EXPECT_LE(maxAbs, 2);
        ++checked;
    }
    EXPECT_GE(checked, 15);
}

} // namespace
