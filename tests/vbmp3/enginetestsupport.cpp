#include "enginetestsupport.h"

#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <unistd.h>

namespace enginetest
{

namespace
{

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vbmp3-engine-XXXXXX").string();
        if (char *made = mkdtemp(pattern.data()))
            path = made;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
};

} // namespace

const std::filesystem::path &workDir()
{
    static TempDir dir;
    return dir.path;
}

bool run(const std::string &command)
{
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

bool haveTools()
{
    static const bool have = run("command -v sox") && run("command -v lame");
    return have;
}

std::string fixture(const std::string &name, const std::string &command)
{
    static std::mutex mutex;
    static std::map<std::string, std::string> made;
    std::lock_guard lock(mutex);
    if (auto it = made.find(name); it != made.end())
        return it->second;
    const std::string path = (workDir() / name).string();
    std::string cmd = command;
    for (size_t at; (at = cmd.find("%o")) != std::string::npos;)
        cmd.replace(at, 2, "'" + path + "'");
    const std::string result = run("cd '" + workDir().string() + "' && " + cmd) ? path : std::string();
    made[name] = result;
    return result;
}

Pcm readWav(const std::string &path)
{
    Pcm pcm;
    SF_INFO info {};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return pcm;
    pcm.rate = info.samplerate;
    pcm.channels = info.channels;
    pcm.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_short(file, pcm.samples.data(), info.frames);
    pcm.samples.resize(static_cast<size_t>(got) * static_cast<size_t>(info.channels));
    sf_close(file);
    return pcm;
}

double rmsDb(const Pcm &pcm, int channel, size_t from, size_t to)
{
    to = std::min(to, pcm.frames());
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        const double v = pcm.samples[i * static_cast<size_t>(pcm.channels) + static_cast<size_t>(channel)] / 32768.0;
        sum += v * v;
    }
    if (to <= from || sum <= 0)
        return -200;
    return 10.0 * std::log10(sum / static_cast<double>(to - from));
}

} // namespace enginetest
