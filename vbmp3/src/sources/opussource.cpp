// Ogg Opus through libopusfile (the reference decoder, with its pre-skip and end trimming
// and the header's output gain), loaded when the first Opus file is opened.
#include "common/runtimelib.h"
#include "formatsources.h"

#include <opusfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace vbmp3
{
namespace
{

#define VBMP3_OPUS_FUNCTIONS(X)                                                                                        \
    X(op_open_callbacks)                                                                                               \
    X(op_free)                                                                                                         \
    X(op_head)                                                                                                         \
    X(op_pcm_total)                                                                                                    \
    X(op_bitrate)                                                                                                      \
    X(op_read_float)                                                                                                   \
    X(op_pcm_seek)

struct OpusApi {
    VBMP3_OPUS_FUNCTIONS(VBMP3_API_MEMBER)
};

const OpusApi *opusApi()
{
    return loadApi<OpusApi>(
        VBMP3_SONAME_OPUSFILE, [](void *lib, OpusApi &api) { return VBMP3_OPUS_FUNCTIONS(VBMP3_API_RESOLVE) true; });
}

constexpr int kOpusRate = 48000;
constexpr int kMaxHoles = 64;

class OpusSource final : public Source
{
public:
    explicit OpusSource(const OpusApi *api)
        : m_api(api)
    {
    }
    ~OpusSource() override
    {
        if (m_file)
            m_api->op_free(m_file);
    }

    bool open(const std::string &path, const SourceOptions &options)
    {
        if (!m_input.open(path, options.cancel))
            return false;
        static const OpusFileCallbacks callbacks { readBytes, seekTo, tell, nullptr };
        int error = 0;
        m_file = m_api->op_open_callbacks(this, &callbacks, nullptr, 0, &error);
        if (!m_file)
            return false;
        const OpusHead *head = m_api->op_head(m_file, 0);
        if (!head || !acceptableFormat(kOpusRate, head->channel_count))
            return false;
        const ogg_int64_t total = m_api->op_pcm_total(m_file, -1);
        if (total <= 0)
            return false;
        m_info.rate = kOpusRate;
        m_info.channels = head->channel_count;
        m_info.totalFrames = total;
        const opus_int32 bitrate = m_api->op_bitrate(m_file, -1);
        m_info.bitrate = bitrate > 0 ? static_cast<int>(std::max(1L, std::lround(bitrate / 1000.0)))
                                     : averageKbps(m_input.size(), total, kOpusRate);
        m_info.codec = VBMP3_CODEC_OPUS;
        m_info.codecName = "Opus";
        m_info.decoderName = "vbmp3/libopusfile";
        // Families 0 and 1 place their channels as Vorbis does; the others say nothing of
        // where the channels go.
        const bool placed = head->mapping_family == 0 || head->mapping_family == 1;
        m_info.channelMask = placed ? defaultChannelMask(head->channel_count) : 0;
        m_order = placed && head->channel_count > 2 ? vorbisToWave(head->channel_count) : nullptr;
        char text[128];
        std::snprintf(text, sizeof text, "Ogg Opus, %d Hz, %s", kOpusRate, channelsText(m_info.channels).c_str());
        m_info.description = text;
        return true;
    }

    size_t read(float *out, size_t frames) override
    {
        frames = static_cast<size_t>(std::clamp<int64_t>(m_info.totalFrames - m_position, 0, int64_t(frames)));
        const auto ch = static_cast<size_t>(m_info.channels);
        size_t filled = 0;
        int holes = 0;
        while (filled < frames && !m_ended) {
            const size_t want = std::min<size_t>(frames - filled, 1 << 16);
            float *into = out + filled * ch;
            if (m_order) {
                m_scratch.resize(want * ch);
                into = m_scratch.data();
            }
            int link = 0;
            const int got = m_api->op_read_float(m_file, into, static_cast<int>(want * ch), &link);
            if (got == OP_HOLE && ++holes <= kMaxHoles)
                continue;
            if (got <= 0) {
                m_ended = true;
                break;
            }
            // A chained stream whose next part has another channel count ends the track there.
            const OpusHead *head = m_api->op_head(m_file, link);
            if (!head || head->channel_count != m_info.channels) {
                m_ended = true;
                break;
            }
            if (m_order) {
                for (size_t i = 0; i < static_cast<size_t>(got); ++i)
                    for (size_t c = 0; c < ch; ++c)
                        out[(filled + i) * ch + c] = m_scratch[i * ch + m_order[c]];
            }
            filled += static_cast<size_t>(got);
        }
        m_position += static_cast<int64_t>(filled);
        return filled;
    }

    bool seek(int64_t frame) override
    {
        frame = std::clamp<int64_t>(frame, 0, m_info.totalFrames);
        if (frame == m_position && !m_ended)
            return true;
        m_position = frame;
        m_ended = m_api->op_pcm_seek(m_file, frame) != 0;
        return !m_ended;
    }

private:
    static int readBytes(void *self, unsigned char *out, int bytes)
    {
        auto *s = static_cast<OpusSource *>(self);
        const size_t got = s->m_input.read(out, static_cast<size_t>(std::max(bytes, 0)));
        return got == 0 && s->m_input.failed() ? -1 : static_cast<int>(got);
    }

    static int seekTo(void *self, opus_int64 offset, int whence)
    {
        return static_cast<OpusSource *>(self)->m_input.seek(offset, whence) ? 0 : -1;
    }

    static opus_int64 tell(void *self)
    {
        return static_cast<opus_int64>(static_cast<OpusSource *>(self)->m_input.tell());
    }

    const OpusApi *m_api;
    DecoderFile m_input;
    OggOpusFile *m_file = nullptr;
    const uint8_t *m_order = nullptr; // Vorbis to WAVE order, null when kept as it is
    std::vector<float> m_scratch; // decoded frames before they are put in the WAVE order
    int64_t m_position = 0;
    bool m_ended = false;
};

} // namespace

std::unique_ptr<Source> openOpusSource(const std::string &path, const FileLayout &, const SourceOptions &options)
{
    const OpusApi *api = opusApi();
    if (!api)
        return nullptr;
    auto source = std::make_unique<OpusSource>(api);
    if (!source->open(path, options))
        return nullptr;
    return source;
}

} // namespace vbmp3
