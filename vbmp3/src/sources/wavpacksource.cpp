// WavPack through libwavpack (its own library), loaded when the first WavPack file is
// opened.  Lossless and hybrid (the lossy part alone: a correction file is not looked
// for), integer and float, DSD as 24-bit PCM at an eighth of its rate.
#include "common/runtimelib.h"
#include "formatsources.h"

#include <wavpack/wavpack.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vbmp3
{
namespace
{

#define VBMP3_WAVPACK_FUNCTIONS(X)                                                                                     \
    X(WavpackOpenFileInputEx64)                                                                                        \
    X(WavpackCloseFile)                                                                                                \
    X(WavpackGetMode)                                                                                                  \
    X(WavpackGetQualifyMode)                                                                                           \
    X(WavpackGetNumSamples64)                                                                                          \
    X(WavpackGetSampleRate)                                                                                            \
    X(WavpackGetBitsPerSample)                                                                                         \
    X(WavpackGetBytesPerSample)                                                                                        \
    X(WavpackGetNumChannels)                                                                                           \
    X(WavpackGetChannelMask)                                                                                           \
    X(WavpackGetAverageBitrate)                                                                                        \
    X(WavpackUnpackSamples)                                                                                            \
    X(WavpackSeekSample64)

struct WavPackApi {
    VBMP3_WAVPACK_FUNCTIONS(VBMP3_API_MEMBER)
};

const WavPackApi *wavPackApi()
{
    return loadApi<WavPackApi>(VBMP3_SONAME_WAVPACK,
        [](void *lib, WavPackApi &api) { return VBMP3_WAVPACK_FUNCTIONS(VBMP3_API_RESOLVE) true; });
}

// Frames unpacked per call (libwavpack unpacks into 32-bit words, one per sample).
constexpr size_t kUnpackFrames = 4096;

class WavPackSource final : public Source
{
public:
    explicit WavPackSource(const WavPackApi *api)
        : m_api(api)
    {
    }
    ~WavPackSource() override
    {
        if (m_context)
            m_api->WavpackCloseFile(m_context);
    }

    bool open(const std::string &path, const SourceOptions &options)
    {
        if (!m_file.open(path, options.cancel))
            return false;
        char error[80] = {};
        m_context
            = m_api->WavpackOpenFileInputEx64(&s_reader, this, nullptr, error, OPEN_NORMALIZE | OPEN_DSD_AS_PCM, 0);
        if (!m_context)
            return false;
        const int rate = static_cast<int>(std::min<uint32_t>(m_api->WavpackGetSampleRate(m_context), INT32_MAX));
        const int channels = m_api->WavpackGetNumChannels(m_context);
        const int mode = m_api->WavpackGetMode(m_context);
        const bool dsd = (m_api->WavpackGetQualifyMode(m_context) & QMODE_DSD_AUDIO) != 0;
        m_float = (mode & MODE_FLOAT) != 0;
        m_bytes = m_api->WavpackGetBytesPerSample(m_context);
        const int bits = m_api->WavpackGetBitsPerSample(m_context);
        if (!acceptableFormat(rate, channels) || m_bytes < 1 || m_bytes > 4 || bits < 1 || bits > 32)
            return false;
        int64_t total = m_api->WavpackGetNumSamples64(m_context);
        if (total < 0)
            total = countFrames();
        if (total <= 0)
            return false;
        m_info.rate = rate;
        m_info.channels = channels;
        m_info.totalFrames = total;
        const double bitrate = m_api->WavpackGetAverageBitrate(m_context, 0);
        m_info.bitrate = bitrate > 0 ? static_cast<int>(std::max(1L, std::lround(bitrate / 1000.0)))
                                     : averageKbps(m_file.size(), total, rate);
        m_info.codec = VBMP3_CODEC_WAVPACK;
        m_info.codecName = "WavPack";
        m_info.decoderName = "vbmp3/libwavpack";
        const auto mask = static_cast<uint32_t>(m_api->WavpackGetChannelMask(m_context));
        // A mask that names another number of speakers than there are channels says nothing.
        m_info.channelMask = std::popcount(mask) == channels ? mask : defaultChannelMask(channels);
        m_info.lossless = (mode & MODE_LOSSLESS) && !dsd;
        m_info.bitsPerSample = m_info.lossless && !m_float ? bits : 0;
        char text[128];
        const std::string kind = dsd ? "DSD"
            : m_float                ? "float 32-bit"
            : m_info.lossless        ? std::to_string(bits) + "-bit"
                                     : "lossy " + std::to_string(bits) + "-bit";
        std::snprintf(text, sizeof text, "WavPack %s, %d Hz, %s", kind.c_str(), rate, channelsText(channels).c_str());
        m_info.description = text;
        m_scale = 1.0f / static_cast<float>(uint64_t { 1 } << (8 * m_bytes - 1));
        return true;
    }

    size_t read(float *out, size_t frames) override
    {
        frames = static_cast<size_t>(std::clamp<int64_t>(m_info.totalFrames - m_position, 0, int64_t(frames)));
        const auto ch = static_cast<size_t>(m_info.channels);
        size_t filled = 0;
        while (filled < frames && !m_ended) {
            const size_t want = std::min(frames - filled, kUnpackFrames);
            m_words.resize(want * ch);
            const uint32_t got = m_api->WavpackUnpackSamples(m_context, m_words.data(), static_cast<uint32_t>(want));
            if (got == 0) {
                m_ended = true;
                break;
            }
            float *dest = out + filled * ch;
            const size_t count = static_cast<size_t>(got) * ch;
            if (m_float) {
                std::memcpy(dest, m_words.data(), count * sizeof(float));
            } else {
                for (size_t i = 0; i < count; ++i)
                    dest[i] = static_cast<float>(m_words[i]) * m_scale;
            }
            filled += got;
        }
        m_position += static_cast<int64_t>(filled);
        return filled;
    }

    // A failed seek leaves libwavpack's context unusable: the track stays at its end.
    bool seek(int64_t frame) override
    {
        if (m_failed)
            return false;
        frame = std::clamp<int64_t>(frame, 0, m_info.totalFrames);
        if (frame == m_position && !m_ended)
            return true;
        m_position = frame;
        m_ended = m_failed = !m_api->WavpackSeekSample64(m_context, frame);
        return !m_failed;
    }

private:
    // The length of a file whose header does not state it: unpacked through once, then
    // opened again at its start.
    int64_t countFrames()
    {
        const int channels = std::max(1, m_api->WavpackGetNumChannels(m_context));
        std::vector<int32_t> words(kUnpackFrames * static_cast<size_t>(channels));
        int64_t total = 0;
        while (
            uint32_t got = m_api->WavpackUnpackSamples(m_context, words.data(), static_cast<uint32_t>(kUnpackFrames)))
            total += got;
        if (m_file.failed() || !m_api->WavpackSeekSample64(m_context, 0))
            return 0;
        return total;
    }

    static int32_t readBytes(void *self, void *out, int32_t bytes)
    {
        return static_cast<int32_t>(
            static_cast<WavPackSource *>(self)->m_file.read(out, static_cast<size_t>(std::max(bytes, 0))));
    }
    static int64_t position(void *self)
    {
        return static_cast<int64_t>(static_cast<WavPackSource *>(self)->m_file.tell());
    }
    static int seekAbsolute(void *self, int64_t offset)
    {
        return static_cast<WavPackSource *>(self)->m_file.seek(offset, SEEK_SET) ? 0 : -1;
    }
    static int seekRelative(void *self, int64_t offset, int whence)
    {
        return static_cast<WavPackSource *>(self)->m_file.seek(offset, whence) ? 0 : -1;
    }
    // libwavpack pushes back only the byte it just read.
    static int pushBack(void *self, int c)
    {
        auto *s = static_cast<WavPackSource *>(self);
        return s->m_file.tell() > 0 && s->m_file.seek(-1, SEEK_CUR) ? c : -1;
    }
    static int64_t length(void *self)
    {
        return static_cast<int64_t>(static_cast<WavPackSource *>(self)->m_file.size());
    }
    static int canSeek(void *) { return 1; }

    static inline WavpackStreamReader64 s_reader { readBytes, nullptr, position, seekAbsolute, seekRelative, pushBack,
        length, canSeek, nullptr, nullptr };

    const WavPackApi *m_api;
    DecoderFile m_file;
    WavpackContext *m_context = nullptr;
    bool m_float = false; // the words are floats normalised to +-1.0
    int m_bytes = 2; // bytes per sample: integer words are right-justified to this width
    float m_scale = 1.0f / 32768.0f;
    std::vector<int32_t> m_words;
    int64_t m_position = 0;
    bool m_ended = false;
    bool m_failed = false;
};

} // namespace

std::unique_ptr<Source> openWavPackSource(const std::string &path, const FileLayout &, const SourceOptions &options)
{
    const WavPackApi *api = wavPackApi();
    if (!api)
        return nullptr;
    auto source = std::make_unique<WavPackSource>(api);
    if (!source->open(path, options))
        return nullptr;
    return source;
}

} // namespace vbmp3
