// The ALSA output and the device choice through libasound's file PCM, with an ALSA configuration of its own.
#include "engine/engine.h"
#include "enginetestsupport.h"
#include "outputs/alsaapi.h"
#include "outputs/output.h"
#include "outputs/outputdevices.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
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

// "default" writes any sample format raw; "kestrine_int" takes integers only, stored as 16-bit.
void writeConfig()
{
    const std::string file = (workDir() / "asound.conf").string();
    const auto toFile = [](const std::string &path) {
        return "type file; slave.pcm { type null }; file \"" + path + "\"; format \"raw\"";
    };
    const auto integers
        = [&](const std::string &path) { return "type linear; slave { format S16_LE; pcm { " + toFile(path) + " } }"; };
    const auto shown = [&](const std::string &name, const std::string &description) {
        return "pcm." + name + " { " + toFile(raw(name)) + "\n  hint { show on; description \"" + description
            + "\" } }\n";
    };
    writeFile(file,
        "pcm.default { " + toFile(raw("default")) + "\n  hint { show on; description \"kestrine test default\" } }\n"
            + "pcm.kestrine_int { " + integers(raw("int"))
            + "\n  hint { show on; description \"kestrine test\tintegers\" } }\n"
            + shown("lavrate", "Rate Converter Plugin Using Libav/FFmpeg Library")
            + shown("kestrine_twin", "kestrine twin") + shown("kestrine_twin2", "kestrine twin"));
    setenv("ALSA_CONFIG_PATH", file.c_str(), 1);
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse.sock", 1);
}

// A 16-bit WAV of a tone, made once by its name, and its samples.
struct Tone {
    std::string path;
    std::vector<int16_t> samples;
};

Tone tone(const std::string &name, int rate, int channels, double seconds)
{
    const std::string path = fixture(name + ".wav",
        "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 %o synth "
            + std::to_string(seconds) + " sine 440 gain -8");
    return { path, readWav(path).samples };
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

    // Plays path in real time to its end; the output's name and device as seen while it played.
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

// "auto" without a server plays ALSA's default sample for sample; a chosen PCM too; a gone one falls back.
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

std::string deviceList()
{
    const int32_t length = vbmp3_getOutputDevices(nullptr, 0);
    std::string list(static_cast<size_t>(length) + 1, '\0');
    EXPECT_EQ(vbmp3_getOutputDevices(list.data(), length + 1), length);
    list.resize(static_cast<size_t>(length));
    return list;
}

// The list: a line per PCM with its description, duplicates apart, converters out, cut to the buffer, length told.
TEST(OutputDevices, ListsThePcmsThatPlayWithTheirDescriptions)
{
    writeConfig();
    const std::string list = deviceList();
    const int32_t length = static_cast<int32_t>(list.size());
    for (const char *line : { "alsa:default\tkestrine test default\n", "alsa:kestrine_int\tkestrine test integers\n",
             "alsa:kestrine_twin\tkestrine twin (kestrine_twin)\n",
             "alsa:kestrine_twin2\tkestrine twin (kestrine_twin2)\n" })
        EXPECT_NE(list.find(line), std::string::npos) << line << " in\n" << list;
    EXPECT_EQ(list.find("lavrate"), std::string::npos) << "a converter is no device";
    EXPECT_EQ(list.find("pulse:"), std::string::npos) << "no sound server answers";
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(vbmp3_getOutputDevices(small, sizeof small), length);
    EXPECT_EQ(std::string(small), list.substr(0, 7));
}

// A card's PCMs make one entry per device, named by the card; converters and bridges are left out.
TEST(OutputDevices, OneEntryPerDeviceOfACard)
{
    const auto card = [](const std::string &kind, const std::string &dev, const std::string &device) {
        return vbmp3::AlsaHint { kind + ":CARD=PCH" + dev, "HDA Intel PCH, " + device + "\nwhat the PCM does" };
    };
    const std::vector<vbmp3::AlsaHint> hints = { { "null", "Discard all samples" },
        { "samplerate", "Rate Converter Plugin Using Samplerate Library" }, { "pulse", "PulseAudio Sound Server" },
        { "default", "Default ALSA Output" }, card("hw", ",DEV=0", "ALC257 Analog"),
        card("plughw", ",DEV=0", "ALC257 Analog"), card("sysdefault", "", "ALC257 Analog"),
        card("surround51", ",DEV=0", "ALC257 Analog"), card("hw", ",DEV=3", "HDMI 0"), card("hdmi", ",DEV=0", "HDMI 0"),
        card("dmix", ",DEV=3", "HDMI 0"), card("usbstream", "", "") };
    std::vector<std::pair<std::string, std::string>> listed;
    for (const vbmp3::OutputDevice &device : vbmp3::alsaDevicesOf(hints))
        listed.emplace_back(device.id, device.description);
    EXPECT_EQ(listed,
        (std::vector<std::pair<std::string, std::string>> { { "alsa:default", "Default ALSA Output" },
            { "alsa:sysdefault:CARD=PCH", "HDA Intel PCH, ALC257 Analog" },
            { "alsa:hdmi:CARD=PCH,DEV=0", "HDA Intel PCH, HDMI 0" } }));
}

// A private server's sink is listed by its description and played to by its id; a namesake is listed apart.
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
    ASSERT_TRUE(run("pactl load-module module-null-sink sink_name=twin"));
    const std::string list = deviceList();
    const std::string description = sinks[0].description;
    EXPECT_NE(list.find("pulse:null\t" + description + " (null)\n"), std::string::npos) << list;
    EXPECT_NE(list.find("pulse:twin\t" + description + " (twin)\n"), std::string::npos) << list;
}

// The output alone: delay, pause, flush, interrupt; a missing PCM is refused.
TEST(AlsaOutput, DelayPauseFlushAndInterrupt)
{
    writeConfig();
    EXPECT_FALSE(vbmp3::makeAlsaOutput("kestrine_gone")->open(vbmp3::OutputFormat {}));
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

// libasound's calls, some of them stood in for by the tests below.
vbmp3::AlsaApi g_calls;
const vbmp3::AlsaApi *g_alsa = nullptr;
std::function<void()> g_opening; // called after each snd_pcm_open
std::atomic<bool> g_suspended { false }; // the device reports a suspend until resumed
std::mutex g_resumeMutex;
std::condition_variable g_resumeWake;
bool g_resuming = false, g_resumeMay = false; // under g_resumeMutex

const vbmp3::AlsaApi *standIns()
{
    g_alsa = vbmp3::alsaApi();
    g_calls = *g_alsa;
    g_calls.snd_pcm_open = [](snd_pcm_t **pcm, const char *name, snd_pcm_stream_t stream, int mode) {
        const int result = g_alsa->snd_pcm_open(pcm, name, stream, mode);
        if (g_opening)
            g_opening();
        return result;
    };
    g_calls.snd_pcm_avail_update = [](snd_pcm_t *pcm) -> snd_pcm_sframes_t {
        return g_suspended ? -ESTRPIPE : g_alsa->snd_pcm_avail_update(pcm);
    };
    // Resuming takes until the test lets it (libasound sleeps a second at a time meanwhile).
    g_calls.snd_pcm_recover = [](snd_pcm_t *pcm, int error, int silent) {
        if (error != -ESTRPIPE)
            return g_alsa->snd_pcm_recover(pcm, error, silent);
        std::unique_lock lock(g_resumeMutex);
        g_resuming = true;
        g_resumeWake.notify_all();
        g_resumeWake.wait(lock, [] { return g_resumeMay; });
        g_suspended = false;
        return g_alsa->snd_pcm_prepare(pcm);
    };
    return &g_calls;
}

// A reopen for another format is made under the output's lock.
TEST(AlsaOutput, ReopenKeepsTheOtherThreadsOff)
{
    writeConfig();
    auto out = vbmp3::makeAlsaOutput("kestrine_int", standIns());
    vbmp3::OutputFormat format;
    ASSERT_TRUE(out->open(format));
    std::future<int64_t> delay;
    bool during = false;
    g_opening = [&] {
        delay = std::async(std::launch::async, [&] { return out->delayFrames(); });
        during = delay.wait_for(300ms) == std::future_status::ready;
    };
    format.rate = 48000;
    format.channels = 1;
    const bool reopened = out->reopen(format);
    g_opening = nullptr;
    delay.get();
    EXPECT_TRUE(reopened);
    EXPECT_FALSE(during) << "the delay was read while the PCM was being opened";
}

// A suspended device is resumed without the engine's lock: the position stays readable.
TEST(AlsaOutput, ResumeAfterASuspendLeavesThePositionReadable)
{
    writeConfig();
    const Tone t = tone("suspend", 44100, 2, 1.0);
    const vbmp3::AlsaApi *calls = standIns();
    g_suspended = true;
    g_resuming = g_resumeMay = false;
    const auto resume = [] {
        std::lock_guard lock(g_resumeMutex);
        g_resumeMay = true;
        g_resumeWake.notify_all();
    };
    vbmp3::Engine engine;
    engine.setOutputMaker([calls](const std::string &) { return vbmp3::makeAlsaOutput("kestrine_int", calls); });
    ASSERT_TRUE(engine.setOutput("null"));
    OpenInfo info {};
    ASSERT_TRUE(engine.open(t.path, &info));
    ASSERT_TRUE(engine.play());
    {
        std::unique_lock lock(g_resumeMutex);
        if (!g_resumeWake.wait_for(lock, 10s, [] { return g_resuming; })) {
            lock.unlock();
            resume();
            FAIL() << "the suspend was never resumed";
        }
    }
    auto reading = std::async(std::launch::async, [&] {
        int32_t seconds = 0;
        return engine.state(&seconds);
    });
    const bool answered = reading.wait_for(2s) == std::future_status::ready;
    resume();
    EXPECT_EQ(reading.get(), VBMP3_PLAYING);
    EXPECT_TRUE(answered) << "the position waited for the resume";
}

// A join to another rate and channel count reopens the device while another thread reads and pauses (TSan).
TEST_F(AlsaPlayback, JoinToAnotherFormatWhileTheDeviceIsWatched)
{
    const Tone first = tone("join44", 44100, 2, 0.3), second = tone("join48", 48000, 1, 0.3);
    const int ends = reports().ends, joins = reports().joins;
    ASSERT_EQ(vbmp3_open(first.path.c_str(), nullptr), 1);
    ASSERT_EQ(vbmp3_queueNext(second.path.c_str()), 1);
    ASSERT_EQ(vbmp3_play(), 1);
    int32_t bands[2][256] = {};
    for (int i = 0; reports().ends == ends && i < 100000; ++i) {
        int32_t seconds = 0;
        vbmp3_getState(&seconds);
        vbmp3_getSpectrum(bands[0], bands[1]);
        if (i % 8 == 0 && vbmp3_pause() == 1)
            vbmp3_restart();
    }
    ASSERT_TRUE(waitForEnds(ends + 1));
    EXPECT_EQ(std::pair(reports().joins.load(), reports().failed.load()), std::pair(joins + 1, 0));
}

} // namespace
