// FLAC, native and in Ogg, through libFLAC (the reference decoder), loaded when the first
// FLAC file is opened.
#include "common/runtimelib.h"
#include "formats.h"
#include "formatsources.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace vbmp3
{
namespace
{

#define VBMP3_FLAC_FUNCTIONS(X)                                                                                        \
    X(FLAC__stream_decoder_new)                                                                                        \
    X(FLAC__stream_decoder_delete)                                                                                     \
    X(FLAC__stream_decoder_init_stream)                                                                                \
    X(FLAC__stream_decoder_init_ogg_stream)                                                                            \
    X(FLAC__stream_decoder_process_single)                                                                             \
    X(FLAC__stream_decoder_process_until_end_of_metadata)                                                              \
    X(FLAC__stream_decoder_skip_single_frame)                                                                          \
    X(FLAC__stream_decoder_seek_absolute)                                                                              \
    X(FLAC__stream_decoder_get_state)                                                                                  \
    X(FLAC__stream_decoder_get_decode_position)                                                                        \
    X(FLAC__stream_decoder_get_blocksize)                                                                              \
    X(FLAC__stream_decoder_flush)                                                                                      \
    X(FLAC__stream_decoder_reset)

struct FlacApi {
    VBMP3_FLAC_FUNCTIONS(VBMP3_API_MEMBER)
};

const FlacApi *flacApi()
{
    return loadApi<FlacApi>(
        VBMP3_SONAME_FLAC, [](void *lib, FlacApi &api) { return VBMP3_FLAC_FUNCTIONS(VBMP3_API_RESOLVE) true; });
}

// A FLAC stream without a length in its STREAMINFO is counted frame by frame at open when
// it is at most this large (about 20 ms a MiB); a larger one is estimated first when the
// caller asks for it, and counted on the engine's counting thread.
constexpr uint64_t kCountAtOpenBytes = 8 << 20;
// process_single calls in a row that bring no audio before the track is given up.
constexpr int kMaxEmptySteps = 64;

class FlacSource final : public Source
{
public:
    explicit FlacSource(const FlacApi *api)
        : m_api(api)
    {
    }
    ~FlacSource() override
    {
        if (m_decoder)
            m_api->FLAC__stream_decoder_delete(m_decoder); // finishes it first
    }

    bool open(const std::string &path, bool ogg, const char *formatName, const SourceOptions &options)
    {
        if (!m_file.open(path, options.cancel))
            return false;
        m_decoder = m_api->FLAC__stream_decoder_new();
        if (!m_decoder || !init(ogg))
            return false;
        if (!m_api->FLAC__stream_decoder_process_until_end_of_metadata(m_decoder) || !m_haveStreamInfo)
            return false;
        if (!acceptableFormat(m_rate, m_channels) || m_bits < 4 || m_bits > 32)
            return false;
        FLAC__uint64 audioStart = 0;
        if (!m_api->FLAC__stream_decoder_get_decode_position(m_decoder, &audioStart))
            audioStart = 0;
        // The first frame is decoded now: a file without audio, or whose first frame
        // contradicts its STREAMINFO, is refused here rather than played as silence.
        if (!step() || m_pending.empty())
            return false;
        FLAC__uint64 afterFirst = 0;
        m_api->FLAC__stream_decoder_get_decode_position(m_decoder, &afterFirst);

        const uint64_t audioBytes = m_file.size() > audioStart ? m_file.size() - audioStart : 0;
        if (m_declaredTotal > 0) {
            m_info.totalFrames = static_cast<int64_t>(m_declaredTotal);
        } else if (options.estimateLongLength && audioBytes > kCountAtOpenBytes && afterFirst > audioStart) {
            const double framesPerByte
                = static_cast<double>(m_pending.size() / static_cast<size_t>(m_channels)) / (afterFirst - audioStart);
            m_info.totalFrames = std::max<int64_t>(1, static_cast<int64_t>(framesPerByte * audioBytes));
            m_info.lengthEstimated = true;
        } else {
            m_info.totalFrames = countFrames();
            if (m_info.totalFrames <= 0)
                return false;
            // Back to the first frame, decoded again on the first read.
            m_pending.clear();
            m_ended = false;
            if (!m_api->FLAC__stream_decoder_reset(m_decoder)
                || !m_api->FLAC__stream_decoder_process_until_end_of_metadata(m_decoder))
                return false;
        }
        m_info.rate = m_rate;
        m_info.channels = m_channels;
        m_info.bitrate = averageKbps(audioBytes, m_info.totalFrames, m_rate);
        m_info.codec = VBMP3_CODEC_FLAC;
        m_info.codecName = "FLAC";
        m_info.decoderName = "vbmp3/libFLAC";
        m_info.channelMask = defaultChannelMask(m_channels);
        m_info.bitsPerSample = m_bits;
        m_info.lossless = true;
        char text[128];
        std::snprintf(
            text, sizeof text, "%s %d-bit, %d Hz, %s", formatName, m_bits, m_rate, channelsText(m_channels).c_str());
        m_info.description = text;
        return true;
    }

    size_t read(float *out, size_t frames) override
    {
        const auto ch = static_cast<size_t>(m_channels);
        if (!m_info.lengthEstimated)
            frames = static_cast<size_t>(std::clamp<int64_t>(m_info.totalFrames - m_position, 0, int64_t(frames)));
        size_t filled = std::min(frames, (m_pending.size() - m_pendingAt) / ch);
        std::copy_n(m_pending.data() + m_pendingAt, filled * ch, out);
        m_pendingAt += filled * ch;
        int empty = 0;
        while (filled < frames && !m_ended) {
            m_target = out + filled * ch;
            m_room = frames - filled;
            m_written = 0;
            const bool ok = step();
            filled += m_written;
            if (!ok || (m_written == 0 && m_pending.size() == m_pendingAt && ++empty > kMaxEmptySteps))
                m_ended = true;
            if (m_pending.size() > m_pendingAt) {
                const size_t n = std::min(frames - filled, (m_pending.size() - m_pendingAt) / ch);
                std::copy_n(m_pending.data() + m_pendingAt, n * ch, out + filled * ch);
                m_pendingAt += n * ch;
                filled += n;
            }
        }
        m_room = m_written = 0; // a frame decoded outside read() (by a seek) goes to m_pending
        m_position += static_cast<int64_t>(filled);
        return filled;
    }

    bool seek(int64_t frame) override
    {
        if (m_failed)
            return false;
        frame
            = m_info.lengthEstimated ? std::max<int64_t>(frame, 0) : std::clamp<int64_t>(frame, 0, m_info.totalFrames);
        if (frame == m_position)
            return true;
        m_pending.clear();
        m_pendingAt = 0;
        m_ended = false;
        m_position = frame;
        if (!m_info.lengthEstimated && frame >= m_info.totalFrames) {
            m_ended = true;
            return true;
        }
        // libFLAC hands the frame holding the target to the write callback, from the target on.
        if (m_api->FLAC__stream_decoder_seek_absolute(m_decoder, static_cast<FLAC__uint64>(frame)))
            return true;
        // A seek past what the stream holds, or into damage: the track ends there.
        m_api->FLAC__stream_decoder_flush(m_decoder);
        m_ended = true;
        return false;
    }

private:
    bool init(bool ogg)
    {
        const auto status = ogg ? m_api->FLAC__stream_decoder_init_ogg_stream(
                                m_decoder, readBytes, seekTo, tell, length, atEnd, writeFrame, metadata, error, this)
                                : m_api->FLAC__stream_decoder_init_stream(m_decoder, readBytes, seekTo, tell, length,
                                    atEnd, writeFrame, metadata, error, this);
        return status == FLAC__STREAM_DECODER_INIT_STATUS_OK;
    }

    // One frame (or metadata block) through the decoder; false once the stream is over.
    bool step()
    {
        if (!m_api->FLAC__stream_decoder_process_single(m_decoder))
            return false;
        const FLAC__StreamDecoderState state = m_api->FLAC__stream_decoder_get_state(m_decoder);
        return state != FLAC__STREAM_DECODER_END_OF_STREAM && state != FLAC__STREAM_DECODER_ABORTED;
    }

    // Frames from the position after the first frame to the end, plus the first frame's;
    // the frames are skipped, not decoded.  0 when the stream breaks off.
    int64_t countFrames()
    {
        int64_t total = static_cast<int64_t>(m_pending.size() / static_cast<size_t>(m_channels));
        for (;;) {
            if (!m_api->FLAC__stream_decoder_skip_single_frame(m_decoder))
                return m_file.failed() ? 0 : total;
            const FLAC__StreamDecoderState state = m_api->FLAC__stream_decoder_get_state(m_decoder);
            if (state == FLAC__STREAM_DECODER_END_OF_STREAM)
                return total;
            if (state == FLAC__STREAM_DECODER_ABORTED || m_file.failed())
                return 0;
            total += m_api->FLAC__stream_decoder_get_blocksize(m_decoder);
        }
    }

    static FLAC__StreamDecoderReadStatus readBytes(
        const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes, void *self)
    {
        auto *s = static_cast<FlacSource *>(self);
        if (*bytes == 0)
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        *bytes = s->m_file.read(buffer, *bytes);
        if (*bytes > 0)
            return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
        return s->m_file.failed() ? FLAC__STREAM_DECODER_READ_STATUS_ABORT
                                  : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }

    static FLAC__StreamDecoderSeekStatus seekTo(const FLAC__StreamDecoder *, FLAC__uint64 offset, void *self)
    {
        auto *s = static_cast<FlacSource *>(self);
        return offset <= s->m_file.size() && s->m_file.seek(static_cast<int64_t>(offset), SEEK_SET)
            ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
            : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    }

    static FLAC__StreamDecoderTellStatus tell(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *self)
    {
        *offset = static_cast<FlacSource *>(self)->m_file.tell();
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }

    static FLAC__StreamDecoderLengthStatus length(const FLAC__StreamDecoder *, FLAC__uint64 *bytes, void *self)
    {
        *bytes = static_cast<FlacSource *>(self)->m_file.size();
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }

    static FLAC__bool atEnd(const FLAC__StreamDecoder *, void *self)
    {
        return static_cast<FlacSource *>(self)->m_file.atEnd();
    }

    static void metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *block, void *self)
    {
        auto *s = static_cast<FlacSource *>(self);
        if (block->type != FLAC__METADATA_TYPE_STREAMINFO || s->m_haveStreamInfo)
            return;
        const FLAC__StreamMetadata_StreamInfo &info = block->data.stream_info;
        s->m_haveStreamInfo = true;
        s->m_rate = static_cast<int>(info.sample_rate);
        s->m_channels = static_cast<int>(info.channels);
        s->m_bits = static_cast<int>(info.bits_per_sample);
        s->m_declaredTotal = info.total_samples;
    }

    static void error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *)
    {
        // libFLAC resynchronises by itself (a damaged frame comes as silence of its length).
    }

    // A frame that disagrees with the STREAMINFO (channels, sample width or rate) ends the
    // track: the engine's buffers and the output were set up for the STREAMINFO's format.
    static FLAC__StreamDecoderWriteStatus writeFrame(
        const FLAC__StreamDecoder *, const FLAC__Frame *frame, const FLAC__int32 *const buffer[], void *self)
    {
        auto *s = static_cast<FlacSource *>(self);
        const FLAC__FrameHeader &h = frame->header;
        if (static_cast<int>(h.channels) != s->m_channels || static_cast<int>(h.bits_per_sample) != s->m_bits
            || static_cast<int>(h.sample_rate) != s->m_rate) {
            s->m_failed = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const size_t frames = h.blocksize;
        const float scale = 1.0f / static_cast<float>(uint64_t { 1 } << (s->m_bits - 1));
        const size_t direct = std::min(frames, s->m_room > s->m_written ? s->m_room - s->m_written : 0);
        if (direct > 0) {
            interleaveInts(buffer, s->m_channels, direct, scale, nullptr,
                s->m_target + s->m_written * static_cast<size_t>(s->m_channels));
            s->m_written += direct;
        }
        if (direct < frames) {
            const FLAC__int32 *rest[kMaxSourceChannels];
            for (int c = 0; c < s->m_channels; ++c)
                rest[c] = buffer[c] + direct;
            s->m_pending.resize((frames - direct) * static_cast<size_t>(s->m_channels));
            s->m_pendingAt = 0;
            interleaveInts(rest, s->m_channels, frames - direct, scale, nullptr, s->m_pending.data());
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    const FlacApi *m_api;
    DecoderFile m_file;
    FLAC__StreamDecoder *m_decoder = nullptr;
    // From the STREAMINFO block.
    bool m_haveStreamInfo = false;
    int m_rate = 0;
    int m_channels = 0;
    int m_bits = 0;
    FLAC__uint64 m_declaredTotal = 0; // 0: not stated
    // Where the write callback puts a frame: m_room frames at m_target (m_written of them
    // written so far), the rest into m_pending.  Both 0 outside read().
    float *m_target = nullptr;
    size_t m_room = 0;
    size_t m_written = 0;
    std::vector<float> m_pending; // interleaved; what read() has not given from m_pendingAt on
    size_t m_pendingAt = 0;
    int64_t m_position = 0; // track frame of the next frame read() gives
    bool m_ended = false; // read() gives nothing until a seek
    bool m_failed = false; // the stream contradicted itself: nothing more for good
};

} // namespace

namespace
{

std::unique_ptr<Source> openFlac(
    const std::string &path, bool ogg, const FileLayout &layout, const SourceOptions &options)
{
    const FlacApi *api = flacApi();
    if (!api)
        return nullptr;
    auto source = std::make_unique<FlacSource>(api);
    if (!source->open(path, ogg, formatOf(layout.kind).name, options))
        return nullptr;
    return source;
}

} // namespace

std::unique_ptr<Source> openFlacSource(const std::string &path, const FileLayout &layout, const SourceOptions &options)
{
    return openFlac(path, false, layout, options);
}

std::unique_ptr<Source> openOggFlacSource(
    const std::string &path, const FileLayout &layout, const SourceOptions &options)
{
    return openFlac(path, true, layout, options);
}

} // namespace vbmp3
