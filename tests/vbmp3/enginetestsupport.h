// Fixtures for the engine tests: sound files made with sox/lame in a temporary folder,
// and reading 16-bit samples back.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace enginetest
{

// A temporary folder shared by the tests of one program, removed at exit.
const std::filesystem::path &workDir();

// True when sox and lame can be run.
bool haveTools();

// Runs a shell command; true when it exits with 0.
bool run(const std::string &command);

// A fixture made once per program by the shell command `command`, in which "%o" stands
// for the output path.  Returns the path, or "" when the command failed.
std::string fixture(const std::string &name, const std::string &command);

struct Pcm {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples; // interleaved
    size_t frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// Reads a WAV file (any PCM or float format libsndfile knows) as 16-bit samples.
Pcm readWav(const std::string &path);

// Level in dB of one channel from frame `from` to `to` (RMS relative to full scale).
double rmsDb(const Pcm &pcm, int channel, size_t from, size_t to);

} // namespace enginetest
