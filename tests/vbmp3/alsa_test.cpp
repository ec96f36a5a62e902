// The ALSA output and the choice of device, heard through libasound's "file" PCM: the
// program reads an ALSA configuration of its own (no sound card needed), and no sound
// server answers unless a test starts a private one.
#include "enginetestsupport.h"
#include "output.h"
#include "outputdevices.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <tuple>

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string raw(const std::string &name)
{
    return (workDir() / (name + ".raw")).string();
}

// The PCMs write what they are given into raw files, as fast as it comes: "default" in
// any sample format; "kestrine_int" takes integer samples only and stores them as 16-bit.
void writeConfig()
{
    const std::string file = (workDir() / "asound.conf").string();
    const auto toFile = [](const std::string &path) {
        return "type file; slave.pcm { type null }; file \"" + path + "\"; format \"raw\"";
    };
    const auto integers
        = [&](const std::string &path) { return "type linear; slave { format S16_LE; pcm { " + toFile(path) + " } }"; };
    writeFile(file,
        "pcm.default { " + toFile(raw("default")) + "\n  hint { show on; description \"kestrine test default\" } }\n"
            + "pcm.kestrine_int { " + integers(raw("int"))
            + "\n  hint { show on; description \"kestrine test\tintegers\" } }\n");
    setenv("ALSA_CONFIG_PATH", file.c_str(), 1);
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse.sock", 1);
}

// A 16-bit WAV of a tone, and its samples.
struct Tone {
    std::string path;
    std::vector<int16_t> samples;
};

Tone tone(const std::string &name, int rate, int channels, double seconds)
{
    Tone t;
    const auto frames = static_cast<size_t>(rate * seconds);
    std::string data;
    for (size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const auto v = static_cast<int16_t>(
                std::lround(12000 * std::sin(2 * M_PI * (440.0 + 110 * c) * static_cast<double>(f) / rate)));
            t.samples.push_back(v);
            data += le16(static_cast<uint16_t>(v));
        }
    }
    t.path = writeFile(workDir() / (name + ".wav"), pcmWav(uint32_t(rate), unsigned(channels), data));
    return t;
}

std::string text(int32_t (*get)(char *, int32_t))
{
    char buffer[256] = {};
    get(buffer, sizeof buffer);
    return buffer;
}

class AlsaPlayback : public LibrarySession
{
protected:
    void SetUp() override
    {
        writeConfig();
        LibrarySession::SetUp();
        ASSERT_EQ(vbmp3_setOutput("auto"), 1);
        ASSERT_EQ(vbmp3_setNativeOutputFormat(1), 1);
    }

    // Plays path to its end; what each file PCM got.
    static std::pair<std::string, std::string> play(const std::string &path)
    {
        std::filesystem::remove(raw("default"));
        std::filesystem::remove(raw("int"));
        EXPECT_TRUE(playToEnd(path)) << path;
        return { readFile(raw("default")), readFile(raw("int")) };
    }

    // Plays path (to a device that plays in real time) to its end; the output's name and
    // the chosen device it plays through, as seen while it played.
    static std::pair<std::string, std::string> playWatching(const std::string &path)
    {
        std::string name, device;
        const int ends = reports().ends;
        EXPECT_TRUE(playToEnd(path, { .whilePlaying = [&] {
            for (const auto until = Clock::now() + 10s; name.empty() && reports().ends == ends && Clock::now() < until;
                 std::this_thread::sleep_for(1ms)) {
                name = text(vbmp3_getOutputName);
                device = text(vbmp3_getOutputDevice);
            }
        } }));
        return { name, device };
    }
};

// With no sound server, "auto" plays through ALSA's default at the track's rate and
// channels, in the samples the sound server would get too (16-bit for a 16-bit file, 24
// bits high in 32-bit words for a 24-bit one, float for a lossy one): what it hears is the
// track, sample for sample.  A chosen PCM is played through, in integer samples when it
// takes no float; a chosen device that is gone falls back to the default.
TEST_F(AlsaPlayback, PlaysTheTrackThroughTheDefaultOrTheChosenPcm)
{
    const Tone stereo = tone("stereo48", 48000, 2, 1.0);
    EXPECT_EQ(samplesOf<int16_t>(play(stereo.path).first), stereo.samples) << "frames lost, added or resampled";

    ASSERT_TRUE(haveTools());
    const std::string wide = fixture("wide.flac", "sox -n -r 88200 -c 2 -b 24 %o synth 0.3 sine 997 gain -3");
    const std::vector<int32_t> wideDirect = decodeInts(wide, 24);
    const auto words = samplesOf<int32_t>(play(wide).first);
    ASSERT_EQ(words.size(), wideDirect.size());
    EXPECT_GT(std::count_if(wideDirect.begin(), wideDirect.end(), [](int32_t s) { return (s & 0xFF) != 0; }), 1000)
        << "the pattern must use the bits below 16";
    for (size_t i = 0; i < words.size(); ++i)
        ASSERT_EQ(words[i], static_cast<int32_t>(static_cast<uint32_t>(wideDirect[i]) << 8)) << "sample " << i;

    const std::string lossy = mp3("alsa-lossy.mp3", "-r 32000 -c 1", "synth 0.3 sine 440 gain -6");
    const auto floats = samplesOf<float>(play(lossy).first);
    const Pcm lossyDirect = decodeDirect(lossy);
    ASSERT_EQ(floats.size(), lossyDirect.samples.size());
    for (size_t i = 0; i < floats.size(); ++i)
        ASSERT_EQ(vbmp3::floatToS16(floats[i]), lossyDirect.samples[i]) << "sample " << i;
    EXPECT_GT(std::count_if(floats.begin(), floats.end(),
                  [](float v) { return std::abs(v * 32768.0f - std::nearbyint(v * 32768.0f)) > 1e-3f; }),
        1000)
        << "float, not 16-bit samples";

    ASSERT_EQ(vbmp3_setOutputDevice("alsa:kestrine_int"), 1);
    const Tone mono = tone("mono44", 44100, 1, 1.0);
    auto [toDefault, toInt] = play(mono.path);
    EXPECT_EQ(std::pair(toDefault.size(), samplesOf<int16_t>(toInt)), std::pair(size_t(0), mono.samples));

    ASSERT_EQ(vbmp3_setOutputDevice("alsa:kestrine_gone"), 1);
    std::tie(toDefault, toInt) = play(mono.path);
    EXPECT_EQ(std::pair(samplesOf<int16_t>(toDefault), toInt.size()), std::pair(mono.samples, size_t(0)));

    EXPECT_EQ(vbmp3_setOutputDevice("kestrine_int"), 0) << "an id names its kind";
    EXPECT_EQ(vbmp3_setOutputDevice("alsa:"), 0);
    EXPECT_EQ(vbmp3_setOutputDevice(nullptr), 1);
}

// The list names each PCM with its description on one line (tabs and newlines in it made
// spaces), is cut to the buffer given, and tells the whole length.
TEST(OutputDevices, ListsThePcmsThatPlayWithTheirDescriptions)
{
    writeConfig();
    const int32_t length = vbmp3_getOutputDevices(nullptr, 0);
    std::string list(static_cast<size_t>(length) + 1, '\0');
    ASSERT_EQ(vbmp3_getOutputDevices(list.data(), length + 1), length);
    list.resize(static_cast<size_t>(length));
    EXPECT_NE(list.find("alsa:default\tkestrine test default\n"), std::string::npos) << list;
    EXPECT_NE(list.find("alsa:kestrine_int\tkestrine test integers\n"), std::string::npos) << list;
    EXPECT_EQ(list.find("pulse:"), std::string::npos) << "no sound server answers";
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(vbmp3_getOutputDevices(small, sizeof small), length);
    EXPECT_EQ(std::string(small), list.substr(0, 7));
}

// A private sound server's sink is listed by its description, and playing to it chosen by
// its id goes there.
TEST_F(AlsaPlayback, ChosenSoundServerSinkIsListedAndPlayedTo)
{
    PulseServer server;
    if (!server.ok())
        GTEST_SKIP() << "no private PulseAudio server (pulseaudio missing or did not start)";
    const auto sinks = vbmp3::pulseDevices();
    ASSERT_EQ(sinks.size(), 1u);
    EXPECT_EQ(sinks[0].id, "pulse:null");
    EXPECT_FALSE(sinks[0].description.empty());
    ASSERT_EQ(vbmp3_setOutputDevice(sinks[0].id.c_str()), 1);
    EXPECT_EQ(playWatching(tone("short", 44100, 2, 0.2).path), std::pair(std::string("pulse"), sinks[0].id));
    ASSERT_EQ(vbmp3_setOutputDevice("pulse:kestrine_gone"), 1);
    EXPECT_EQ(playWatching(tone("short", 44100, 2, 0.2).path), std::pair(std::string("pulse"), std::string()));
    EXPECT_EQ(vbmp3_setOutputDevice("alsa:kestrine_int"), 1);
    const Tone mono = tone("mono44", 44100, 1, 0.3);
    EXPECT_EQ(samplesOf<int16_t>(play(mono.path).second), mono.samples)
        << "the chosen ALSA device comes before the sound server";
}

// The output on its own: the device's delay counts what it holds, a pause holds it, a
// flush drops it, and an interrupt ends a wait at once.
TEST(AlsaOutput, DelayPauseFlushAndInterrupt)
{
    writeConfig();
    vbmp3::OutputFormat format;
    format.rate = 44100;
    format.channels = 2;
    std::filesystem::remove(raw("int"));
    auto out = vbmp3::makeAlsaOutput("kestrine_int");
    ASSERT_TRUE(out->open(format));
    EXPECT_STREQ(out->name(), "alsa");
    const size_t room = out->room();
    ASSERT_GT(room, 0u);
    std::vector<float> silence(room * 2, 0.0f);
    out->write(silence.data(), room);
    out->setPaused(true);
    EXPECT_EQ(out->room(), 0u) << "a paused device takes nothing";
    auto start = Clock::now();
    out->waitForRoom(2s);
    EXPECT_LT(Clock::now() - start, 1s) << "the pause change was not taken as a wake";
    start = Clock::now();
    out->waitForRoom(150ms);
    EXPECT_GE(Clock::now() - start, 140ms) << "a paused wait returned without cause";
    start = Clock::now();
    std::thread interrupter([&] {
        std::this_thread::sleep_for(50ms);
        out->interrupt();
    });
    out->waitForRoom(2s);
    interrupter.join();
    EXPECT_LT(Clock::now() - start, 1s) << "the interrupt did not end the wait";
    out->setPaused(false);
    EXPECT_GT(out->room(), 0u);
    out->flush();
    EXPECT_EQ(out->delayFrames(), 0);
    out->startDrain();
    for (const auto until = Clock::now() + 2s; !out->drained() && Clock::now() < until;)
        out->waitDrained(10ms);
    EXPECT_TRUE(out->drained());
    out->close();
    EXPECT_EQ(samplesOf<int16_t>(readFile(raw("int"))).size(), 2 * room) << "what was written before the pause";
}

// A PCM that does not exist does not open, and says so at once.
TEST(AlsaOutput, MissingPcmFailsToOpen)
{
    writeConfig();
    auto out = vbmp3::makeAlsaOutput("kestrine_gone");
    const auto start = Clock::now();
    EXPECT_FALSE(out->open(vbmp3::OutputFormat {}));
    EXPECT_LT(Clock::now() - start, 1s);
}

} // namespace
