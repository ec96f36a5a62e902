// WAV through libsndfile.
#include "common/bytereader.h"
#include "formatsources.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace vbmp3
{
namespace
{

// Sample rates a WAV file may claim.  The engine sizes its buffers by the rate, so an
// absurd rate in a header would make it allocate gigabytes; no real recording lies
// outside these (telephone 8 kHz down to 1 kHz test tones, DXD 352.8 kHz up to 384 kHz).
constexpr int kMinWavRate = 1000;
constexpr int kMaxWavRate = 384000;

class WavSource final : public Source
{
public:
    ~WavSource() override
    {
        if (m_file)
            sf_close(m_file);
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool open(const std::string &path, const SourceOptions &options)
    {
        SF_INFO info {};
        m_fd = openRegularFile(path);
        if (m_fd < 0)
            return false;
        m_file = sf_open_fd(m_fd, SFM_READ, &info, SF_FALSE);
        if (!m_file)
            return false;
        const int major = info.format & SF_FORMAT_TYPEMASK;
        const int sub = info.format & SF_FORMAT_SUBMASK;
        if ((major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) || info.channels < 1 || info.channels > 2
            || info.samplerate < kMinWavRate || info.samplerate > kMaxWavRate || info.frames <= 0)
            return false;
        int bits = 0;
        const char *kind = "PCM";
        switch (sub) {
        case SF_FORMAT_PCM_U8:
            bits = 8;
            break;
        case SF_FORMAT_PCM_16:
            bits = 16;
            break;
        case SF_FORMAT_PCM_24:
            bits = 24;
            break;
        case SF_FORMAT_PCM_32:
            bits = 32;
            break;
        case SF_FORMAT_FLOAT:
            bits = 32;
            kind = "float";
            break;
        case SF_FORMAT_DOUBLE:
            bits = 64;
            kind = "float";
            break;
        default:
            return false;
        }
        m_fileChannels = info.channels;
        m_info.channels = options.channels == 1 || options.channels == 2 ? options.channels : info.channels;
        m_info.rate = info.samplerate;
        m_info.totalFrames = info.frames;
        m_info.bitrate = static_cast<int>(static_cast<int64_t>(info.samplerate) * info.channels * bits / 1000);
        m_info.decoderName = "vbmp3/libsndfile";
        m_info.codec = VBMP3_CODEC_PCM;
        m_info.codecName = "PCM";
        m_info.lossless = true;
        m_info.bitsPerSample = std::strcmp(kind, "PCM") == 0 ? bits : 0;
        char text[128];
        std::snprintf(text, sizeof text, "WAV %s %d-bit, %d Hz, %s", kind, bits, info.samplerate,
            info.channels == 1 ? "Mono" : "Stereo");
        m_info.description = text;
        return true;
    }

    size_t read(float *out, size_t frames) override
    {
        if (m_fileChannels == m_info.channels)
            return static_cast<size_t>(
                std::max<sf_count_t>(0, sf_readf_float(m_file, out, static_cast<sf_count_t>(frames))));
        // Channel conversion asked by the options: read into scratch first.
        m_scratch.resize(frames * static_cast<size_t>(m_fileChannels));
        const auto got = static_cast<size_t>(
            std::max<sf_count_t>(0, sf_readf_float(m_file, m_scratch.data(), static_cast<sf_count_t>(frames))));
        for (size_t i = 0; i < got; ++i) {
            if (m_info.channels == 2) {
                out[2 * i] = out[2 * i + 1] = m_scratch[i];
            } else {
                out[i] = 0.5f * (m_scratch[2 * i] + m_scratch[2 * i + 1]);
            }
        }
        return got;
    }

    bool seek(int64_t frame) override
    {
        frame = std::clamp<int64_t>(frame, 0, m_info.totalFrames);
        return sf_seek(m_file, frame, SEEK_SET) >= 0;
    }

private:
    int m_fd = -1; // closed by us after sf_close
    SNDFILE *m_file = nullptr;
    int m_fileChannels = 0;
    std::vector<float> m_scratch;
};

} // namespace

std::unique_ptr<Source> openWavSource(const std::string &path, const FileLayout &, const SourceOptions &options)
{
    auto source = std::make_unique<WavSource>();
    if (!source->open(path, options))
        return nullptr;
    return source;
}

} // namespace vbmp3
