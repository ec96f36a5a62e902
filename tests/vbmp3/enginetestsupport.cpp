#include "enginetestsupport.h"

#include "fileinfo.h"
#include "output.h"
#include "source.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <cstdlib>

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

PulseServer::PulseServer(const std::string &sinkArguments)
{
    if (const char *saved = std::getenv("PULSE_SERVER"))
        m_saved = saved;
    const std::filesystem::path runtime = workDir() / "pulse";
    const std::string socket = (runtime / "pulse.sock").string();
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    std::filesystem::remove(socket);
    std::filesystem::remove(runtime / "pulse" / "pid"); // of a server an earlier test ended
    // As a daemon, which returns once it takes connections and leaves its process id behind.
    const std::string env = "XDG_RUNTIME_DIR='" + runtime.string() + "' HOME='" + runtime.string() + "' ";
    if (run(env + "pulseaudio -D -n --exit-idle-time=-1 --system=false -L 'module-null-sink " + sinkArguments
            + "' -L 'module-native-protocol-unix socket=" + socket + " auth-anonymous=1'")
        && (std::ifstream(runtime / "pulse" / "pid") >> m_pid))
        setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    else
        stop();
}

PulseServer::~PulseServer()
{
    stop();
    m_saved ? setenv("PULSE_SERVER", m_saved->c_str(), 1) : unsetenv("PULSE_SERVER");
}

void PulseServer::stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        // The killed daemon may linger unreaped with its pid file, and the next server
        // would take it for one already running.
        std::error_code error;
        std::filesystem::remove(workDir() / "pulse" / "pulse" / "pid", error);
    }
    m_pid = -1;
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

std::vector<int32_t> decodeInts(const std::string &path, int bits)
{
    std::vector<int32_t> samples;
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
    if (!source)
        return samples;
    const auto channels = static_cast<size_t>(source->info().channels);
    const float scale = static_cast<float>(1 << (bits - 1));
    std::vector<float> buffer(4096 * channels);
    while (size_t n = source->read(buffer.data(), 4096))
        for (size_t i = 0; i < n * channels; ++i)
            samples.push_back(static_cast<int32_t>(std::lrintf(buffer[i] * scale)));
    return samples;
}

Pcm decodeDirect(const std::string &path)
{
    Pcm pcm;
    auto source = vbmp3::openSource(path, vbmp3::probeFile(path));
    if (!source)
        return pcm;
    pcm.rate = source->info().rate;
    pcm.channels = source->info().channels;
    std::vector<float> buffer(4096 * static_cast<size_t>(pcm.channels));
    while (size_t n = source->read(buffer.data(), 4096))
        for (size_t i = 0; i < n * static_cast<size_t>(pcm.channels); ++i)
            pcm.samples.push_back(vbmp3::floatToS16(buffer[i]));
    return pcm;
}
