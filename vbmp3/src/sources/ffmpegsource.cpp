// MP4/M4A (AAC, ALAC; also MP3, FLAC and Opus tracks) and Monkey's Audio through FFmpeg's
// libavformat and libavcodec, loaded when the first such file is opened.  The demuxer is
// the one of the format the probe found ("mov" or "ape"), never guessed by FFmpeg; the decoder runs on one
// thread.  MP4's edit list and the decoder's skip of the encoder delay trim the start,
// the track's stated length the end; an AAC file without an edit list that trims is cut
// as its iTunes gapless note (iTunSMPB: encoder delay, padding, original length) says.
#include "common/runtimelib.h"
#include "formats.h"
#include "formatsources.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

namespace vbmp3
{
namespace
{

#define VBMP3_FFMPEG_FUNCTIONS(X)                                                                                      \
    X(av_malloc)                                                                                                       \
    X(av_max_alloc)                                                                                                    \
    X(av_freep)                                                                                                        \
    X(av_dict_get)                                                                                                     \
    X(av_log_get_level)                                                                                                \
    X(av_log_set_level)                                                                                                \
    X(av_frame_alloc)                                                                                                  \
    X(av_frame_free)                                                                                                   \
    X(av_packet_alloc)                                                                                                 \
    X(av_packet_free)                                                                                                  \
    X(av_packet_unref)                                                                                                 \
    X(avio_alloc_context)                                                                                              \
    X(avio_context_free)                                                                                               \
    X(avformat_alloc_context)                                                                                          \
    X(avformat_open_input)                                                                                             \
    X(avformat_close_input)                                                                                            \
    X(av_find_input_format)                                                                                            \
    X(av_find_best_stream)                                                                                             \
    X(av_read_frame)                                                                                                   \
    X(av_seek_frame)                                                                                                   \
    X(avcodec_alloc_context3)                                                                                          \
    X(avcodec_free_context)                                                                                            \
    X(avcodec_parameters_to_context)                                                                                   \
    X(avcodec_open2)                                                                                                   \
    X(avcodec_send_packet)                                                                                             \
    X(avcodec_receive_frame)                                                                                           \
    X(avcodec_flush_buffers)                                                                                           \
    X(avcodec_profile_name)

struct FfmpegApi {
    VBMP3_FFMPEG_FUNCTIONS(VBMP3_API_MEMBER)
};

constexpr int kIoBufferBytes = 64 * 1024;
constexpr size_t kMaxBlockBytes = 64 << 20;

const FfmpegApi *ffmpegApi()
{
    static const FfmpegApi *const api = [] {
        // libavformat brings libavcodec and libavutil with it; their symbols are found
        // through its handle.
        const FfmpegApi *loaded = loadApi<FfmpegApi>(VBMP3_SONAME_AVFORMAT,
            [](void *lib, FfmpegApi &api) { return VBMP3_FFMPEG_FUNCTIONS(VBMP3_API_RESOLVE) true; });
        if (!loaded)
            return loaded;
        // A damaged file is our business, not the terminal's; a program that set a level
        // of its own keeps it.
        if (loaded->av_log_get_level() == AV_LOG_INFO)
            loaded->av_log_set_level(AV_LOG_QUIET);
        // The demuxers size some tables by counts in the header before reading them: one
        // block of 64 MiB at most (FFmpeg's default is 2 GiB), so that a small damaged
        // file cannot make them take gigabytes.  Enough for the packet index of an MP4 of
        // well over a day of AAC.  FFmpeg's setting is process-wide.
        loaded->av_max_alloc(kMaxBlockBytes);
        return loaded;
    }();
    return api;
}

// Packets in a row that fail to decode, or reads that bring no frame, before the track
// is given up.
constexpr int kMaxBadPackets = 64;

// Frames decoded before a seek target and thrown away, so that the decoder's state
// (overlapping transforms, SBR, the bit reservoir) is that of a straight decode there.
int64_t seekPreroll(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_AAC:
        return 8192;
    case AV_CODEC_ID_MP3:
        return 4608;
    case AV_CODEC_ID_OPUS:
        return 3840;
    default:
        return 0;
    }
}

bool losslessCodec(AVCodecID codec)
{
    return codec == AV_CODEC_ID_ALAC || codec == AV_CODEC_ID_APE || codec == AV_CODEC_ID_FLAC;
}

__extension__ typedef __int128 Wide;

// time x num / den rounded to nearest, without overflow for any 64-bit time.
int64_t rescale(int64_t time, int64_t num, int64_t den)
{
    if (den <= 0)
        return 0;
    const Wide product = static_cast<Wide>(time) * num;
    const Wide half = den / 2;
    const Wide result = product >= 0 ? (product + half) / den : (product - half) / den;
    return result > INT64_MAX ? INT64_MAX : result < INT64_MIN ? INT64_MIN : static_cast<int64_t>(result);
}

// What a format played through FFmpeg takes: its demuxer, the codecs of the audio tracks
// it plays.
struct Container {
    const char *demuxer;
    bool (*playable)(AVCodecID codec);
};

constexpr Container kMp4 { "mov", [](AVCodecID id) {
                              return id == AV_CODEC_ID_AAC || id == AV_CODEC_ID_ALAC || id == AV_CODEC_ID_MP3
                                  || id == AV_CODEC_ID_FLAC || id == AV_CODEC_ID_OPUS;
                          } };
constexpr Container kApe { "ape", [](AVCodecID id) { return id == AV_CODEC_ID_APE; } };

class FfmpegSource final : public Source
{
public:
    explicit FfmpegSource(const FfmpegApi *api)
        : m_api(api)
    {
    }
    ~FfmpegSource() override
    {
        m_api->av_frame_free(&m_frame);
        m_api->av_packet_free(&m_packet);
        m_api->avcodec_free_context(&m_codec);
        m_api->avformat_close_input(&m_format); // leaves our AVIO context alone (custom I/O)
        if (m_io) {
            m_api->av_freep(&m_io->buffer);
            m_api->avio_context_free(&m_io);
        }
    }

    // formatName: the format's name, which descriptions begin with.
    bool open(const std::string &path, const Container &container, const char *formatName, const SourceOptions &options)
    {
        if (!m_file.open(path, options.cancel))
            return false;
        auto *buffer = static_cast<unsigned char *>(m_api->av_malloc(kIoBufferBytes));
        if (!buffer)
            return false;
        m_io = m_api->avio_alloc_context(buffer, kIoBufferBytes, 0, this, readPacket, nullptr, seekTo);
        if (!m_io) {
            m_api->av_freep(&buffer);
            return false;
        }
        m_format = m_api->avformat_alloc_context();
        if (!m_format)
            return false;
        m_format->pb = m_io;
        m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
        const AVInputFormat *input = m_api->av_find_input_format(container.demuxer);
        if (!input || m_api->avformat_open_input(&m_format, "", input, nullptr) < 0)
            return false; // m_format freed and cleared by FFmpeg
        const AVCodec *decoder = nullptr;
        m_stream = m_api->av_find_best_stream(m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (m_stream < 0 || !decoder)
            return false;
        for (unsigned i = 0; i < m_format->nb_streams; ++i)
            if (static_cast<int>(i) != m_stream)
                m_format->streams[i]->discard = AVDISCARD_ALL; // video, cover art, chapters
        const AVStream *stream = m_format->streams[m_stream];
        const AVCodecID id = stream->codecpar->codec_id;
        if (!container.playable(id))
            return false;
        m_timeBase = stream->time_base;
        m_codec = m_api->avcodec_alloc_context3(decoder);
        m_packet = m_api->av_packet_alloc();
        m_frame = m_api->av_frame_alloc();
        if (!m_codec || !m_packet || !m_frame || m_api->avcodec_parameters_to_context(m_codec, stream->codecpar) < 0)
            return false;
        m_codec->thread_count = 1;
        m_codec->pkt_timebase = stream->time_base;
        if (m_api->avcodec_open2(m_codec, decoder, nullptr) < 0)
            return false;

        // The first frame tells the rate and channels the decoder gives (HE-AAC doubles
        // the rate the container states); it is kept for the first read.
        if (!nextFrame())
            return false;
        const int rate = m_frame->sample_rate;
        const int channels = m_frame->ch_layout.nb_channels;
        if (!acceptableFormat(rate, channels) || !convertible(m_frame->format))
            return false;
        m_rate = rate;
        m_channels = channels;
        m_sampleFormat = m_frame->format;
        m_preroll = seekPreroll(id);
        m_anchor = true;
        place(); // again, now that the rate is known

        int64_t total = 0;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            total = rescale(stream->duration, int64_t { m_timeBase.num } * rate, m_timeBase.den);
        else if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
            total = rescale(m_format->duration, rate, AV_TIME_BASE);
        if (total <= 0)
            return false;
        if (id == AV_CODEC_ID_AAC)
            trimAsNoted(stream, rate, total);
        m_info.rate = rate;
        m_info.channels = channels;
        m_info.totalFrames = total;
        const int64_t bitRate = stream->codecpar->bit_rate;
        m_info.bitrate = bitRate > 0 ? static_cast<int>(std::clamp<int64_t>((bitRate + 500) / 1000, 1, INT32_MAX))
                                     : averageKbps(m_file.size(), total, rate);
        const AVChannelLayout &layout = m_frame->ch_layout;
        m_info.channelMask = layout.order == AV_CHANNEL_ORDER_NATIVE && layout.u.mask < (uint64_t { 1 } << 18)
            ? static_cast<uint32_t>(layout.u.mask)
            : 0;
        m_info.lossless = losslessCodec(id);
        if (m_info.lossless) {
            const int raw = m_codec->bits_per_raw_sample > 0 ? m_codec->bits_per_raw_sample
                                                             : stream->codecpar->bits_per_raw_sample;
            const bool wide = m_sampleFormat == AV_SAMPLE_FMT_S32 || m_sampleFormat == AV_SAMPLE_FMT_S32P;
            const bool narrow = m_sampleFormat == AV_SAMPLE_FMT_U8 || m_sampleFormat == AV_SAMPLE_FMT_U8P;
            m_info.bitsPerSample = raw > 0 ? raw : wide ? 32 : narrow ? 8 : 16;
        }
        describe(id, formatName);
        return true;
    }

    size_t read(float *out, size_t frames) override
    {
        frames = static_cast<size_t>(std::clamp<int64_t>(m_info.totalFrames - m_position, 0, int64_t(frames)));
        const auto ch = static_cast<size_t>(m_channels);
        size_t filled = 0;
        while (filled < frames) {
            if (m_frameAt >= m_frameSamples && !nextFrame())
                break;
            if (m_frameAt >= m_frameSamples)
                continue; // wholly before the target of a seek
            const size_t n = std::min(frames - filled, m_frameSamples - m_frameAt);
            convert(m_frameAt, n, out + filled * ch);
            m_frameAt += n;
            filled += n;
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
        m_frameAt = m_frameSamples = 0;
        m_ended = m_draining = false;
        m_badPackets = 0;
        // To the last packet that starts at or before the time (the demuxers take the
        // first for a time before it, as the preroll makes near the start).
        const int64_t time = rescale(frame + m_delay - m_preroll, m_timeBase.den, int64_t { m_timeBase.num } * m_rate);
        if (m_api->av_seek_frame(m_format, m_stream, time, AVSEEK_FLAG_BACKWARD) < 0) {
            m_ended = true;
            return false;
        }
        m_api->avcodec_flush_buffers(m_codec);
        m_anchor = true;
        return true;
    }

private:
    // iTunSMPB (" 00000000 DELAY PADDING LENGTH ...", hex) when the stream's stated length
    // is not already the original one (an edit list that trims makes it so): the first
    // DELAY frames are dropped and the track ends after LENGTH.  A note that does not fit
    // the stream is ignored.
    void trimAsNoted(const AVStream *stream, int rate, int64_t &total)
    {
        const AVDictionaryEntry *note = m_api->av_dict_get(stream->metadata, "iTunSMPB", nullptr, 0);
        if (!note)
            note = m_api->av_dict_get(m_format->metadata, "iTunSMPB", nullptr, 0);
        unsigned delay = 0;
        unsigned padding = 0;
        unsigned long long length = 0;
        if (!note || !note->value || std::sscanf(note->value, "%*x %x %x %llx", &delay, &padding, &length) != 3)
            return;
        // The note counts frames at the rate the container states (HE-AAC decodes at twice).
        const int stated = stream->codecpar->sample_rate > 0 ? stream->codecpar->sample_rate : rate;
        const int64_t scaledLength = rescale(static_cast<int64_t>(std::min(length, 1ULL << 40)), rate, stated);
        const int64_t scaledDelay = rescale(delay, rate, stated);
        if (length == 0 || scaledLength >= total || scaledDelay + scaledLength > total)
            return;
        m_delay = scaledDelay;
        total = scaledLength;
        m_anchor = true;
        place(); // the first frame again, now without the delay
    }

    // "<format> <codec>", or the codec alone where it names the format.
    void describe(AVCodecID id, std::string_view formatName)
    {
        std::string codec;
        switch (id) {
        case AV_CODEC_ID_AAC: {
            m_info.codec = VBMP3_CODEC_AAC;
            const char *profile = m_api->avcodec_profile_name(id, m_codec->profile);
            codec = !profile                                  ? "AAC"
                : std::string_view(profile).starts_with("HE") ? profile
                                                              : std::string("AAC ") + profile;
            break;
        }
        case AV_CODEC_ID_ALAC:
            m_info.codec = VBMP3_CODEC_ALAC;
            codec = "ALAC";
            break;
        case AV_CODEC_ID_APE:
            m_info.codec = VBMP3_CODEC_APE;
            codec = "Monkey's Audio";
            break;
        case AV_CODEC_ID_FLAC:
            m_info.codec = VBMP3_CODEC_FLAC;
            codec = "FLAC";
            break;
        case AV_CODEC_ID_OPUS:
            m_info.codec = VBMP3_CODEC_OPUS;
            codec = "Opus";
            break;
        default:
            m_info.codec = VBMP3_CODEC_MPEG;
            codec = "MP3";
            break;
        }
        m_info.codecName = codec;
        m_info.decoderName = "vbmp3/FFmpeg";
        const std::string bits = m_info.bitsPerSample > 0 ? " " + std::to_string(m_info.bitsPerSample) + "-bit" : "";
        char text[128];
        const std::string named = codec == formatName ? codec : std::string(formatName) + " " + codec;
        std::snprintf(text, sizeof text, "%s%s, %d Hz, %s", named.c_str(), bits.c_str(), m_rate,
            channelsText(m_channels).c_str());
        m_info.description = text;
    }

    static bool convertible(int format)
    {
        switch (format) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_U8P:
        case AV_SAMPLE_FMT_S16P:
        case AV_SAMPLE_FMT_S32P:
        case AV_SAMPLE_FMT_FLTP:
        case AV_SAMPLE_FMT_DBLP:
            return true;
        default:
            return false;
        }
    }

    // Decodes the next frame into m_frame and places it: m_frameAt is where the samples
    // not before the position begin.  False at the end (or when the stream broke down).
    bool nextFrame()
    {
        while (!m_ended) {
            const int got = m_api->avcodec_receive_frame(m_codec, m_frame);
            if (got == 0) {
                if (!place())
                    continue;
                return true;
            }
            if (got == AVERROR_EOF || (got != AVERROR(EAGAIN) && ++m_badPackets > kMaxBadPackets)) {
                m_ended = true;
                break;
            }
            if (got != AVERROR(EAGAIN))
                continue;
            if (m_draining) {
                m_ended = true;
                break;
            }
            if (m_api->av_read_frame(m_format, m_packet) < 0) {
                m_api->avcodec_send_packet(m_codec, nullptr); // let the decoder give what it holds
                m_draining = true;
                continue;
            }
            if (m_packet->stream_index == m_stream) {
                const int sent = m_api->avcodec_send_packet(m_codec, m_packet);
                m_badPackets = sent < 0 && sent != AVERROR(EAGAIN) ? m_badPackets + 1 : 0;
                if (m_badPackets > kMaxBadPackets)
                    m_ended = true;
            }
            m_api->av_packet_unref(m_packet);
        }
        m_frameAt = m_frameSamples = 0;
        return false;
    }

    // Where m_frame lies in the track: after an open or a seek its time says (dropping
    // what lies before the position), otherwise it follows the last one.  False when a
    // frame of another format came (the track ends) or nothing of it is wanted.
    bool place()
    {
        m_frameSamples = static_cast<size_t>(std::max(m_frame->nb_samples, 0));
        m_frameAt = 0;
        if (m_rate != 0
            && (m_frame->sample_rate != m_rate || m_frame->ch_layout.nb_channels != m_channels
                || m_frame->format != m_sampleFormat)) {
            m_ended = true;
            m_frameSamples = 0;
            return false;
        }
        if (m_anchor) {
            const int64_t time
                = m_frame->best_effort_timestamp != AV_NOPTS_VALUE ? m_frame->best_effort_timestamp : m_frame->pts;
            if (time != AV_NOPTS_VALUE && m_rate != 0) {
                m_frameStart = rescale(time, int64_t { m_timeBase.num } * m_rate, m_timeBase.den) - m_delay;
                m_anchor = false;
            } else if (m_rate != 0) {
                m_frameStart = m_position; // no time: taken to start where asked
                m_anchor = false;
            }
        } else {
            m_frameStart = m_frameEnd;
        }
        m_frameEnd = m_frameStart + static_cast<int64_t>(m_frameSamples);
        if (m_rate != 0 && m_frameStart < m_position)
            m_frameAt = static_cast<size_t>(std::min<int64_t>(m_position - m_frameStart, int64_t(m_frameSamples)));
        return m_frameAt < m_frameSamples;
    }

    // Samples [from, from + count) of m_frame into out as interleaved floats.
    void convert(size_t from, size_t count, float *out) const
    {
        const auto ch = static_cast<size_t>(m_channels);
        const auto planar = [&](auto sample) {
            for (size_t c = 0; c < ch; ++c) {
                for (size_t i = 0; i < count; ++i)
                    out[i * ch + c] = sample(m_frame->extended_data[c], from + i);
            }
        };
        const auto packed = [&](auto sample) {
            for (size_t i = 0; i < count * ch; ++i)
                out[i] = sample(m_frame->extended_data[0], from * ch + i);
        };
        const auto u8 = [](const uint8_t *p, size_t i) { return (float(p[i]) - 128.0f) * (1.0f / 128.0f); };
        const auto s16 = [](const uint8_t *p, size_t i) {
            return float(reinterpret_cast<const int16_t *>(p)[i]) * (1.0f / 32768.0f);
        };
        const auto s32 = [](const uint8_t *p, size_t i) {
            return float(reinterpret_cast<const int32_t *>(p)[i]) * (1.0f / 2147483648.0f);
        };
        const auto f32 = [](const uint8_t *p, size_t i) { return reinterpret_cast<const float *>(p)[i]; };
        const auto f64 = [](const uint8_t *p, size_t i) { return float(reinterpret_cast<const double *>(p)[i]); };
        switch (m_sampleFormat) {
        case AV_SAMPLE_FMT_FLTP:
            if (ch == 2) {
                const float *planes[2] = { reinterpret_cast<const float *>(m_frame->extended_data[0]) + from,
                    reinterpret_cast<const float *>(m_frame->extended_data[1]) + from };
                interleaveFloats(planes, 2, count, nullptr, out);
            } else {
                planar(f32);
            }
            break;
        case AV_SAMPLE_FMT_U8P:
            planar(u8);
            break;
        case AV_SAMPLE_FMT_S16P:
            planar(s16);
            break;
        case AV_SAMPLE_FMT_S32P:
            planar(s32);
            break;
        case AV_SAMPLE_FMT_DBLP:
            planar(f64);
            break;
        case AV_SAMPLE_FMT_U8:
            packed(u8);
            break;
        case AV_SAMPLE_FMT_S16:
            packed(s16);
            break;
        case AV_SAMPLE_FMT_S32:
            packed(s32);
            break;
        case AV_SAMPLE_FMT_FLT:
            packed(f32);
            break;
        default:
            packed(f64);
            break;
        }
    }

    static int readPacket(void *self, uint8_t *out, int size)
    {
        auto *s = static_cast<FfmpegSource *>(self);
        const size_t got = s->m_file.read(out, static_cast<size_t>(std::max(size, 0)));
        if (got > 0)
            return static_cast<int>(got);
        return s->m_file.failed() ? AVERROR(EIO) : AVERROR_EOF;
    }

    static int64_t seekTo(void *self, int64_t offset, int whence)
    {
        auto *s = static_cast<FfmpegSource *>(self);
        if (whence & AVSEEK_SIZE)
            return static_cast<int64_t>(s->m_file.size());
        if (!s->m_file.seek(offset, whence & ~AVSEEK_FORCE))
            return AVERROR(EINVAL);
        return static_cast<int64_t>(s->m_file.tell());
    }

    const FfmpegApi *m_api;
    DecoderFile m_file;
    AVIOContext *m_io = nullptr;
    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_frame = nullptr;
    int m_stream = -1;
    AVRational m_timeBase { 1, 1 };
    // Of the first frame; a frame of another format ends the track.
    int m_rate = 0;
    int m_channels = 0;
    int m_sampleFormat = AV_SAMPLE_FMT_NONE;
    int64_t m_preroll = 0;
    // The frame in m_frame: its first sample is track frame m_frameStart; samples from
    // m_frameAt up to m_frameSamples are still to be read.
    int64_t m_frameStart = 0;
    int64_t m_frameEnd = 0;
    size_t m_frameAt = 0;
    size_t m_frameSamples = 0;
    bool m_anchor = true; // the next frame's time places it (after an open or a seek)
    int64_t m_position = 0; // track frame of the next frame read() gives
    bool m_draining = false; // the demuxer is done; the decoder gives what it holds
    bool m_ended = false;
    int64_t m_delay = 0; // frames of the stream before the track's first (iTunSMPB)
    int m_badPackets = 0;
};

} // namespace

namespace
{

std::unique_ptr<Source> openFfmpeg(
    const std::string &path, const Container &container, const FileLayout &layout, const SourceOptions &options)
{
    const FfmpegApi *api = ffmpegApi();
    if (!api)
        return nullptr;
    auto source = std::make_unique<FfmpegSource>(api);
    if (!source->open(path, container, formatOf(layout.kind).name, options))
        return nullptr;
    return source;
}

} // namespace

std::unique_ptr<Source> openMp4Source(const std::string &path, const FileLayout &layout, const SourceOptions &options)
{
    return openFfmpeg(path, kMp4, layout, options);
}

std::unique_ptr<Source> openApeSource(const std::string &path, const FileLayout &layout, const SourceOptions &options)
{
    return openFfmpeg(path, kApe, layout, options);
}

} // namespace vbmp3
