#include "enginetestsupport.h"

#include "outputs/output.h"
#include "sources/source.h"
#include "tags/fileinfo.h"
#include "vbmp3.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

const std::filesystem::path &workDir()
{
    static const struct TempDir {
        std::string name = (std::filesystem::temp_directory_path() / "vbmp3-engine-XXXXXX").string();
        std::filesystem::path path = mkdtemp(name.data()) ? name : std::string();
        mutable std::error_code error;
        ~TempDir() { std::filesystem::remove_all(path, error); }
    } dir;
    return dir.path;
}

bool run(const std::string &command)
{
    return std::system(("cd '" + workDir().string() + "' && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

bool haveTools()
{
    static const bool have = run("command -v sox && command -v lame");
    return have;
}

std::string fixture(const std::string &name, const std::string &command)
{
    const std::filesystem::path path = workDir() / name;
    if (std::filesystem::exists(path))
        return path.string();
    std::string cmd = command;
    for (size_t at; (at = cmd.find("%o")) != std::string::npos;)
        cmd.replace(at, 2, "'" + path.string() + "'");
    if (run(cmd))
        return path.string();
    ADD_FAILURE() << "could not make " << name;
    return {};
}

std::string mp3(const std::string &name, const std::string &format, const std::string &effects, const std::string &lame)
{
    return fixture(name, "sox -n " + format + " -b 16 -t wav - " + effects + " | lame --quiet " + lame + " - %o");
}

Pcm readWav(const std::string &path)
{
    Pcm pcm;
    SF_INFO info {};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return pcm;
    pcm = { info.samplerate, info.channels, std::vector<int16_t>(static_cast<size_t>(info.frames * info.channels)) };
    pcm.samples.resize(static_cast<size_t>(sf_readf_short(file, pcm.samples.data(), info.frames) * info.channels));
    sf_close(file);
    return pcm;
}

std::vector<float> decodeFloats(const std::string &path, int *rate, int *channels)
{
    std::vector<float> samples;
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
    if (!source)
        return samples;
    const auto count = static_cast<size_t>(source->info().channels);
    if (rate && channels)
        *rate = source->info().rate, *channels = source->info().channels;
    std::vector<float> buffer(4096 * count);
    while (size_t n = source->read(buffer.data(), 4096))
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(n * count));
    return samples;
}

std::vector<int32_t> decodeInts(const std::string &path, int bits)
{
    const float scale = static_cast<float>(1 << (bits - 1));
    std::vector<int32_t> samples;
    for (float v : decodeFloats(path))
        samples.push_back(static_cast<int32_t>(std::lrintf(v * scale)));
    return samples;
}

Pcm decodeDirect(const std::string &path)
{
    Pcm pcm;
    for (float v : decodeFloats(path, &pcm.rate, &pcm.channels))
        pcm.samples.push_back(vbmp3::floatToS16(v));
    return pcm;
}

std::string outputOf(const std::string &command)
{
    std::string text;
    if (std::FILE *pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

Reports &reports()
{
    static Reports counts;
    return counts;
}

void countReport(int32_t message, int32_t param)
{
    Reports &r = reports();
    if (message == VBMP3_MSG_VOLUME_CHANGED)
        r.volumeWord = static_cast<uint32_t>(param);
    ++(message == VBMP3_MSG_END_OF_TRACK         ? r.ends
            : message == VBMP3_MSG_OUTPUT_FAILED ? r.failed
            : message == VBMP3_MSG_TRACK_JOINED  ? r.joins
                                                 : r.other);
}

void LibrarySession::SetUp()
{
    Reports &r = reports();
    r.ends = r.failed = r.joins = r.other = 0;
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse.sock", 1); // no test reaches a real sound server
    ASSERT_EQ(vbmp3_init(), 1);
    ASSERT_EQ(vbmp3_callback(countReport), 1);
}

void LibrarySession::TearDown()
{
    vbmp3_stopCallback();
    vbmp3_free();
}

bool LibrarySession::waitForEnds(int count, std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (reports().ends < count && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return reports().ends >= count;
}

bool LibrarySession::playToEnd(const std::string &path, const Play &how)
{
    OpenInfo scratch;
    if (vbmp3_open(path.c_str(), how.info ? how.info : &scratch) != 1)
        return false;
    if (!how.next.empty()) {
        EXPECT_EQ(vbmp3_queueNext(how.next.c_str()), 1);
    }
    Reports &r = reports();
    const int ends = r.ends, failed = r.failed;
    EXPECT_EQ(vbmp3_play(), 1);
    if (how.whilePlaying)
        how.whilePlaying();
    const auto ended = [&] { return r.ends > ends || (how.orFailure && r.failed > failed); };
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         !ended() && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(ended()) << "the end of the track was reported";
    return true;
}

Pcm LibrarySession::playToFile(const std::string &path, const std::function<void()> &whilePlaying)
{
    const std::string out = (workDir() / "out.wav").string();
    EXPECT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
    EXPECT_TRUE(playToEnd(path, { .whilePlaying = whilePlaying })) << path;
    return readWav(out);
}
