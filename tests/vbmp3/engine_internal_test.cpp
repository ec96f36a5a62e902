// The engine's parts on their own: ring, equalizer, spectrum analyser, outputs, and the
// decoding sources against the MPEG audio compliance vectors.
#include "enginetestsupport.h"
#include "equalizer.h"
#include "fileinfo.h"
#include "framering.h"
#include "output.h"
#include "source.h"
#include "spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

std::vector<float> sine(double frequency, double amplitude, int rate, size_t frames, int channels)
{
    std::vector<float> out(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            out[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = static_cast<float>(
                amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
    return out;
}

double levelDb(const std::vector<float> &data, int channels, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(data[i * static_cast<size_t>(channels)]) * data[i * static_cast<size_t>(channels)];
    return 10.0 * std::log10(sum / static_cast<double>(to - from));
}

TEST(FrameRing, WrapsAroundAndKeepsOrder)
{
    vbmp3::FrameRing ring;
    ring.reset(5, 2);
    float in[32];
    for (int i = 0; i < 32; ++i)
        in[i] = static_cast<float>(i);
    EXPECT_EQ(ring.push(in, 4), 4u);
    float out[14] = {};
    EXPECT_EQ(ring.pop(out, 3), 3u);
    EXPECT_EQ(out[5], 5.0f);
    EXPECT_EQ(ring.push(in + 8, 7), 4u); // only four fit; the write wraps
    EXPECT_EQ(ring.size(), 5u);
    ring.copyFrom(1, out, 4);
    EXPECT_EQ(out[0], 8.0f);
    EXPECT_EQ(out[7], 15.0f);
    ring.drop(2);
    EXPECT_EQ(ring.pop(out, 10), 3u);
    EXPECT_EQ(out[0], 10.0f);
    EXPECT_EQ(out[5], 15.0f);
    EXPECT_TRUE(ring.empty());
}

TEST(Equalizer, EachBandGivesItsGainAtItsFrequency)
{
    const int rate = 44100;
    for (int band = 0; band < vbmp3::Equalizer::kBands; ++band) {
        for (int units : { 60, -60, 25 }) {
            SCOPED_TRACE(testing::Message() << "band " << band << " units " << units);
            vbmp3::Equalizer eq;
            vbmp3::Equalizer::Units bands {};
            bands[static_cast<size_t>(band)] = units;
            eq.configure(rate, 1, bands);
            const double f = vbmp3::Equalizer::kFrequencies[static_cast<size_t>(band)];
            std::vector<float> data = sine(f, 0.1, rate, rate, 1);
            const double before = levelDb(data, 1, rate / 2, rate);
            eq.process(data.data(), rate);
            EXPECT_NEAR(levelDb(data, 1, rate / 2, rate) - before, units * 0.2, 0.05);
        }
    }
}

TEST(Equalizer, GlidesToNewGainsWithin50msWithoutClicks)
{
    const int rate = 48000;
    vbmp3::Equalizer eq;
    eq.configure(rate, 2, {});
    std::vector<float> data = sine(1000, 0.25, rate, rate / 2, 2);
    const std::vector<float> original = data;
    eq.process(data.data(), 4800); // off: untouched
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 9600, original.begin()));
    EXPECT_TRUE(eq.bypassed());

    vbmp3::Equalizer::Units bands {};
    bands[4] = 60;
    eq.setTargets(bands);
    // Feed in small pieces as the output thread does.
    for (size_t at = 4800; at < data.size() / 2; at += 480)
        eq.process(data.data() + 2 * at, 480);
    // 50 ms after the change the level is there (allow the filter's own settling).
    const size_t after = 4800 + rate / 20;
    const double gain = levelDb(data, 2, after, after + 4800) - levelDb(original, 2, after, after + 4800);
    EXPECT_NEAR(gain, 12.0, 0.3);
    // No step larger than the boosted sine's own steepest slope (plus a little).
    double maxStep = 0;
    for (size_t i = 4800; i < after; ++i)
        maxStep = std::max(maxStep, std::fabs(static_cast<double>(data[2 * i + 2]) - data[2 * i]));
    EXPECT_LT(maxStep, 1.0 * 2 * std::numbers::pi * 1000 / rate * 1.15);

    // Back to flat: after the glide and the filters' decay the samples pass untouched.
    eq.setTargets({});
    std::vector<float> tail = sine(1000, 0.25, rate, rate, 2);
    const std::vector<float> tailCopy = tail;
    for (size_t at = 0; at < tail.size() / 2; at += 480)
        eq.process(tail.data() + 2 * at, 480);
    EXPECT_TRUE(eq.bypassed());
    EXPECT_TRUE(std::equal(tail.end() - 9600, tail.end(), tailCopy.end() - 9600));
}

TEST(SpectrumAnalyzer, PeakBandAndScale)
{
    vbmp3::SpectrumAnalyzer analyzer;
    const double step = std::pow(16000.0 / 40.0, 1.0 / 255.0);
    struct Row {
        int rate;
        double frequency;
        double amplitude;
        int minLevel;
        int maxLevel;
    };
    const Row rows[] = {
        { 44100, 1000, 1.0, 116, 120 }, { 44100, 5000, 1.0, 116, 120 }, { 44100, 100, 1.0, 116, 120 },
        { 48000, 12000, 0.1, 76, 80 }, // -20 dB
        { 22050, 440, 1.0, 116, 120 }, { 44100, 1000, 0.0005, 0, 6 }, // -66 dB: near the floor
    };
    int32_t levels[256];
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.frequency << " Hz at " << row.rate);
        const size_t n = vbmp3::SpectrumAnalyzer::windowFor(row.rate);
        const std::vector<float> data = sine(row.frequency, row.amplitude, row.rate, n, 2);
        analyzer.analyze(data.data(), 2, 1, row.rate, levels);
        const int peak = static_cast<int>(std::max_element(levels, levels + 256) - levels);
        EXPECT_GE(levels[peak], row.minLevel);
        EXPECT_LE(levels[peak], row.maxLevel);
        if (row.minLevel > 0) {
            EXPECT_NEAR(40.0 * std::pow(step, peak) / row.frequency, 1.0, 0.04);
        }
    }
    const std::vector<float> silence(2048, 0.0f);
    analyzer.analyze(silence.data(), 1, 0, 44100, levels);
    EXPECT_EQ(*std::max_element(levels, levels + 256), 0);
}

TEST(NullOutput, ConsumesInRealTimeAndFreezesWhilePaused)
{
    auto out = vbmp3::makeNullOutput();
    vbmp3::OutputFormat format;
    format.rate = 10000;
    format.channels = 1;
    format.bufferMs = 200;
    ASSERT_TRUE(out->open(format));
    EXPECT_EQ(out->room(), 2000u);
    std::vector<float> data(2000, 0.0f);
    const auto writeStart = Clock::now();
    out->write(data.data(), 2000);
    const auto writeEnd = Clock::now();
    EXPECT_EQ(out->room(), 0u);
    std::this_thread::sleep_for(100ms);
    // What was played lies between the clock readings around the calls (the sleep may
    // run long on a loaded machine), one frame either way for rounding.
    const auto askStart = Clock::now();
    const int64_t delay = out->delayFrames();
    const auto askEnd = Clock::now();
    const auto frames = [](Clock::duration d) { return std::chrono::duration<double>(d).count() * 10000.0; };
    EXPECT_GE(delay, std::max(0.0, 2000.0 - frames(askEnd - writeStart)) - 1);
    EXPECT_LE(delay, std::max(0.0, 2000.0 - frames(askStart - writeEnd)) + 1);
    EXPECT_GT(delay, 0) << "the sleep ran past the whole buffer";
    out->setPaused(true);
    const int64_t paused = out->delayFrames();
    EXPECT_LE(paused, delay);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(out->delayFrames(), paused);
    out->setPaused(false);
    const auto waitStart = Clock::now();
    while (!out->drained() && Clock::now() - waitStart < 1s)
        out->waitForRoom(20ms);
    EXPECT_NEAR(std::chrono::duration<double>(Clock::now() - waitStart).count(), paused / 10000.0, 0.05);
    out->flush();
    EXPECT_EQ(out->delayFrames(), 0);
}

// The sound-server output against a private PulseAudio server with a null sink, and its
// quick failure when no server answers.
TEST(PulseOutput, PlaysThroughAServerAndFailsFastWithoutOne)
{
    const char *saved = std::getenv("PULSE_SERVER");
    const std::string savedServer = saved ? saved : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse.sock", 1);
    {
        auto out = vbmp3::makePulseOutput();
        const auto start = Clock::now();
        EXPECT_FALSE(out->open(vbmp3::OutputFormat {}));
        EXPECT_LT(Clock::now() - start, 1500ms);
        out->close();
    }
    if (!enginetest::run("command -v pulseaudio")) {
        saved ? setenv("PULSE_SERVER", savedServer.c_str(), 1) : unsetenv("PULSE_SERVER");
        GTEST_SKIP() << "pulseaudio is not installed";
    }
    const std::filesystem::path runtime = enginetest::workDir() / "pulse";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    const std::string socket = (runtime / "pulse.sock").string();
    pid_t server = fork();
    if (server == 0) {
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("HOME", runtime.c_str(), 1);
        const std::string native = "module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "-L",
            "module-null-sink", "-L", native.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    ASSERT_GT(server, 0);
    for (int i = 0; i < 300 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(10ms);
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    bool opened = false;
    {
        auto out = vbmp3::makePulseOutput();
        vbmp3::OutputFormat format;
        format.rate = 44100;
        format.channels = 2;
        format.deviceRate = 48000; // through the resampler
        opened = out->open(format);
        if (opened) {
            const std::vector<float> tone = sine(440, 0.3, 44100, 44100 / 2, 2);
            size_t written = 0;
            const auto start = Clock::now();
            while (written < tone.size() / 2 && Clock::now() - start < 5s) {
                const size_t n = std::min(out->room(), tone.size() / 2 - written);
                if (n == 0) {
                    out->waitForRoom(20ms);
                    continue;
                }
                out->write(tone.data() + 2 * written, n);
                written += n;
            }
            EXPECT_EQ(written, tone.size() / 2);
            EXPECT_GT(out->delayFrames(), 0);
            out->startDrain();
            while (!out->drained() && Clock::now() - start < 5s)
                std::this_thread::sleep_for(5ms);
            const double took = std::chrono::duration<double>(Clock::now() - start).count();
            EXPECT_TRUE(out->drained());
            // Paced by the server: never faster than real time.  (The private null sink
            // sleeps up to about two seconds before it starts taking data.)
            EXPECT_GT(took, 0.45);
            EXPECT_LT(took, 4.5);
            out->close();
        }
    }
    if (opened) {
        // The server goes away while playing: the output goes on in real time by itself.
        auto out = vbmp3::makePulseOutput();
        vbmp3::OutputFormat format;
        format.rate = 44100;
        format.channels = 1;
        ASSERT_TRUE(out->open(format));
        const std::vector<float> tone = sine(440, 0.3, 44100, 44100 / 2, 1);
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        server = -1;
        std::this_thread::sleep_for(100ms);
        size_t written = 0;
        const auto start = Clock::now();
        while (written < tone.size() && Clock::now() - start < 3s) {
            const size_t n = std::min(out->room(), tone.size() - written);
            if (n == 0) {
                out->waitForRoom(20ms);
                continue;
            }
            out->write(tone.data() + written, n);
            written += n;
        }
        out->startDrain();
        while (!out->drained() && Clock::now() - start < 3s)
            std::this_thread::sleep_for(5ms);
        EXPECT_TRUE(out->drained());
        EXPECT_NEAR(std::chrono::duration<double>(Clock::now() - start).count(), 0.5, 0.2);
        out->close();
    }
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    saved ? setenv("PULSE_SERVER", savedServer.c_str(), 1) : unsetenv("PULSE_SERVER");
    if (!opened)
        GTEST_SKIP() << "the private PulseAudio server did not start";
}

// A stream whose sample rate changes midway ends there; libmpg123 is not asked for more
// (reading or seeking after its format error crashed it).
TEST(MpegSource, RateChangeMidwayEndsTheTrackForGood)
{
    if (!enginetest::haveTools())
        GTEST_SKIP() << "sox and lame are needed to make the fixtures";
    const std::string path = enginetest::fixture("ratechange.mp3",
        "sox -n -r 44100 -c 2 -b 16 -t wav - synth 1 sine 440 | lame --quiet -b 128 - a.mp3 && "
        "sox -n -r 32000 -c 2 -b 16 -t wav - synth 1 sine 440 | lame --quiet -b 128 - b.mp3 && "
        "cat a.mp3 b.mp3 > %o");
    ASSERT_FALSE(path.empty());
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->info().rate, 44100);
    std::vector<float> buffer(4096 * 2);
    size_t total = 0;
    while (size_t n = source->read(buffer.data(), 4096))
        total += n;
    EXPECT_GE(total, 44100u);
    EXPECT_LT(total, 44100u + 4096u);
    source->seek(0);
    EXPECT_EQ(source->read(buffer.data(), 4096), 0u);
}

// ---------------------------------------------------------------------------------
// MPEG audio Layer III compliance vectors.

struct Decoded {
    int channels = 0;
    int rate = 0;
    std::vector<int16_t> samples;
};

Decoded decodeVector(const std::string &path, int forceChannels)
{
    Decoded d;
    vbmp3::SourceOptions options;
    options.channels = forceChannels;
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path), options);
    if (!source)
        return d;
    d.channels = source->info().channels;
    d.rate = source->info().rate;
    std::vector<float> buffer(4096 * 2);
    while (size_t n = source->read(buffer.data(), 4096)) {
        for (size_t i = 0; i < n * static_cast<size_t>(d.channels); ++i)
            d.samples.push_back(vbmp3::floatToS16(buffer[i]));
        if (d.samples.size() > 50'000'000)
            break;
    }
    return d;
}

std::vector<int16_t> readPcm(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i]
            = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return samples;
}

struct Error {
    double sumSquares = 0;
    int maxAbs = 0;
    size_t count = 0;
    void add(int a, int b)
    {
        const int d = std::abs(a - b);
        maxAbs = std::max(maxAbs, d);
        sumSquares += static_cast<double>(d) * d;
        ++count;
    }
    double rms() const { return count ? std::sqrt(sumSquares / static_cast<double>(count)) : 0; }
    double psnr() const { return sumSquares > 0 ? 20 * std::log10(32768.0 / rms()) : 999; }
};

// Channel count of every frame of a plain MPEG-1 Layer III stream.
std::vector<int> frameChannels(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const int kbps[16] = { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0 };
    static const int rates[4] = { 44100, 48000, 32000, 0 };
    std::vector<int> channels;
    size_t pos = 0;
    while (pos + 4 <= b.size()) {
        if (b[pos] != 0xFF || (b[pos + 1] & 0xFE) != 0xFA) {
            ++pos;
            continue;
        }
        const int bitrate = kbps[b[pos + 2] >> 4];
        const int rate = rates[(b[pos + 2] >> 2) & 3];
        if (bitrate == 0 || rate == 0) {
            ++pos;
            continue;
        }
        channels.push_back((b[pos + 3] >> 6) == 3 ? 1 : 2);
        pos += static_cast<size_t>(144 * bitrate * 1000 / rate + ((b[pos + 2] >> 1) & 1));
    }
    return channels;
}

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
    ASSERT_FALSE(vectors.empty());

    int checked = 0;
    for (const auto &bit : vectors) {
        const std::string name = bit.stem().string();
        SCOPED_TRACE(name);
        const bool informative = name.starts_with("l3-nonstandard") || name == "l3-test45" || name == "l3-test46";
        const bool modeChanges = name == "l3-he_mode";
        const Decoded ours = decodeVector(bit.string(), modeChanges ? 2 : 0);
        const std::vector<int16_t> reference = readPcm((dir / (name + ".pcm")).string());
        if (reference.empty()) {
            EXPECT_TRUE(ours.samples.empty()) << "no audio expected";
            continue;
        }
        if (informative) {
            Error error;
            for (size_t i = 0; i < std::min(reference.size(), ours.samples.size()); ++i)
                error.add(ours.samples[i], reference[i]);
            std::cout << "  " << name << ": " << ours.samples.size() << " samples (reference " << reference.size()
                      << "), " << error.psnr() << " dB over the common part, informative\n";
            continue;
        }
        ASSERT_GT(ours.channels, 0) << "not decoded";
        const size_t frameSamples = (ours.rate >= 32000 ? 1152u : 576u);
        Error error;
        if (modeChanges) {
            // The reference holds each frame with its own channel count; ours is stereo
            // throughout (mono frames duplicated).  The first frame after a change is skipped.
            const std::vector<int> modes = frameChannels(bit.string());
            size_t r = 0;
            size_t o = 0;
            for (size_t f = 0; f < modes.size() && r < reference.size() && o < ours.samples.size(); ++f) {
                const size_t ch = static_cast<size_t>(modes[f]);
                const bool skip = f > 0 && modes[f] != modes[f - 1];
                for (size_t i = 0; i < frameSamples && r + ch <= reference.size() && o + 2 <= ours.samples.size();
                     ++i) {
                    if (!skip) {
                        for (size_t c = 0; c < ch; ++c)
                            error.add(ours.samples[o + c], reference[r + c]);
                    }
                    r += ch;
                    o += 2;
                }
            }
            EXPECT_GE(ours.samples.size(), o);
        } else {
            // l3-sin1k0db's reference starts two frames late (their bit reservoir is missing).
            const size_t skip = name == "l3-sin1k0db" ? 2 * frameSamples * static_cast<size_t>(ours.channels) : 0;
            ASSERT_GE(ours.samples.size(), skip + reference.size()) << "shorter than the reference";
            EXPECT_LE(
                ours.samples.size(), skip + reference.size() + 2 * frameSamples * static_cast<size_t>(ours.channels))
                << "more than two frames beyond the reference";
            for (size_t i = 0; i < reference.size(); ++i)
                error.add(ours.samples[skip + i], reference[i]);
        }
        std::cout << "  " << name << ": rms " << error.rms() << " LSB, max " << error.maxAbs << " LSB, " << error.psnr()
                  << " dB over " << error.count << " samples\n";
        EXPECT_LT(error.rms(), 1.0 / std::sqrt(12.0)) << "full accuracy: rms";
        EXPECT_LE(error.maxAbs, 2) << "full accuracy: largest difference";
        ++checked;
    }
    EXPECT_GE(checked, 15);
}

} // namespace
