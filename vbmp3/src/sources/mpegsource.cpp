// MPEG audio (plain streams and the data chunk of RMP files) through libmpg123.
#include "common/bytereader.h"
#include "formatsources.h"
#include "tags/fileparse.h"

#include <mpg123.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace vbmp3
{
namespace
{

// The byte range of the file that libmpg123 may see: it reads through these callbacks
// only, so leading and trailing tags and RIFF chunks around the audio stay invisible.
// Reads go through a 64 KiB buffer (libmpg123 asks for one frame at a time).
struct ByteRange {
    int fd = -1;
    uint64_t base = 0;
    uint64_t size = 0;
    uint64_t pos = 0; // position of the next byte handed out, relative to base
    std::vector<unsigned char> buffer = std::vector<unsigned char>(64 * 1024);
    uint64_t bufferStart = 0; // range position of buffer[0]
    size_t bufferFill = 0;
    const std::atomic<bool> *cancel = nullptr; // reads fail once it is true
};

// Frames that an open counts through before playing (about 15 ms): a longer stream
// without a length in its header is estimated instead when the caller asks for it.
constexpr int64_t kQuickCountFrames = 20000;

mpg123_ssize_t rangeRead(void *handle, void *out, size_t bytes)
{
    auto *r = static_cast<ByteRange *>(handle);
    auto *dest = static_cast<unsigned char *>(out);
    size_t done = 0;
    while (done < bytes && r->pos < r->size) {
        if (r->pos >= r->bufferStart && r->pos < r->bufferStart + r->bufferFill) {
            const size_t at = static_cast<size_t>(r->pos - r->bufferStart);
            const size_t n = std::min(bytes - done, r->bufferFill - at);
            std::memcpy(dest + done, r->buffer.data() + at, n);
            done += n;
            r->pos += n;
            continue;
        }
        if (r->cancel && r->cancel->load(std::memory_order_relaxed))
            return -1;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(r->buffer.size(), r->size - r->pos));
        ssize_t got;
        do {
            got = ::pread(r->fd, r->buffer.data(), want, static_cast<off_t>(r->base + r->pos));
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            return done > 0 ? static_cast<mpg123_ssize_t>(done) : -1;
        r->bufferStart = r->pos;
        r->bufferFill = static_cast<size_t>(got);
        if (got == 0)
            break; // the file is shorter than the range
    }
    return static_cast<mpg123_ssize_t>(done);
}

off_t rangeSeek(void *handle, off_t offset, int whence)
{
    auto *r = static_cast<ByteRange *>(handle);
    int64_t origin = 0;
    if (whence == SEEK_CUR)
        origin = static_cast<int64_t>(r->pos);
    else if (whence == SEEK_END)
        origin = static_cast<int64_t>(r->size);
    else if (whence != SEEK_SET)
        return -1;
    const int64_t target = origin + static_cast<int64_t>(offset);
    if (target < 0)
        return -1;
    r->pos = static_cast<uint64_t>(target);
    return static_cast<off_t>(target);
}

void initMpg123Once()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

const char *layerName(int layer)
{
    switch (layer) {
    case 1:
        return "I";
    case 2:
        return "II";
    default:
        return "III";
    }
}

const char *modeName(int mode)
{
    switch (mode) {
    case MPG123_M_STEREO:
        return "Stereo";
    case MPG123_M_JOINT:
        return "Joint Stereo";
    case MPG123_M_DUAL:
        return "Dual Channel";
    default:
        return "Mono";
    }
}

class MpegSource final : public Source
{
public:
    ~MpegSource() override
    {
        if (m_handle) {
            mpg123_close(m_handle);
            mpg123_delete(m_handle);
        }
        if (m_range.fd >= 0)
            ::close(m_range.fd);
    }

    bool open(const std::string &path, const FileLayout &layout, const SourceOptions &options)
    {
        initMpg123Once();
        m_range.fd = openRegularFile(path);
        if (m_range.fd < 0)
            return false;
        m_range.base = layout.audioOffset;
        m_range.size = layout.audioSize;
        m_range.cancel = options.cancel;

        // The stream's own headers: its length, a constant rate, a change of channel mode.
        FileReader reader(path);
        if (!reader.isOpen())
            return false;
        const uint64_t end = layout.audioOffset + layout.audioSize;
        const VbrCounts counts = readVbrCounts(reader, layout.audioOffset, end);

        int err = MPG123_OK;
        m_handle = mpg123_new(nullptr, &err);
        if (!m_handle)
            return false;
        mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_SKIP_ID3V2, 0);
        mpg123_param(m_handle, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0);
        // Junk between the tags and the first frame is skipped up to this many bytes.
        mpg123_param(m_handle, MPG123_RESYNC_LIMIT, 64 * 1024, 0);
        // A stream that starts in mono and has stereo frames later plays in stereo
        // throughout, each mono frame in both channels.  Only the frames a quick count
        // covers are looked at: a later change is mixed down.
        const bool turns = options.channels == 0 && turnsStereo(reader, layout.audioOffset, end, kQuickCountFrames);
        const int wantChannels = options.channels == 1 ? MPG123_MONO
            : options.channels == 2 || turns           ? MPG123_STEREO
                                                       : MPG123_MONO | MPG123_STEREO;
        allowFormats(wantChannels);
        if (mpg123_replace_reader_handle(m_handle, rangeRead, rangeSeek, nullptr) != MPG123_OK
            || mpg123_open_handle(m_handle, &m_range) != MPG123_OK)
            return false;

        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(m_handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels < 1
            || channels > 2 || encoding != MPG123_ENC_FLOAT_32)
            return false;
        // From here on the channel count stays fixed: other frames are mixed down or
        // duplicated to it.  Every rate stays allowed so that libmpg123 reports a rate
        // change as a new format (where the track ends) rather than failing on it.
        allowFormats(channels == 1 ? MPG123_MONO : MPG123_STEREO);

        mpg123_frameinfo2 frame {};
        if (mpg123_info2(m_handle, &frame) != MPG123_OK)
            return false;
        // A range that cannot even hold its first frame has no audio.
        if (frame.framesize <= 0 || static_cast<uint64_t>(frame.framesize) > m_range.size)
            return false;
        if (!lengthFromHeader(counts)) {
            // Without a scan libmpg123 estimates the length from the range's size and the
            // first frames; the frame index then grows as the stream is decoded.
            m_info.lengthEstimated = options.estimateLongLength
                && m_range.size / static_cast<uint64_t>(frame.framesize) > uint64_t(kQuickCountFrames);
            if (!m_info.lengthEstimated && mpg123_scan(m_handle) != MPG123_OK)
                return false;
        }
        const off_t length = mpg123_length(m_handle);
        if (length <= 0)
            return false;
        // A lone frame is not confirmed by a following one: libmpg123 itself then reports
        // "a one-frame stream?"; such bytes are treated as no audio.
        if (mpg123_framelength(m_handle) < 2)
            return false;

        m_info.rate = static_cast<int>(rate);
        m_info.channels = channels;
        m_info.totalFrames = length;
        m_info.decoderName = "vbmp3/libmpg123";
        const char *version = frame.version == MPG123_1_0 ? "MPEG-1"
            : frame.version == MPG123_2_0                 ? "MPEG-2"
                                                          : "MPEG-2.5";
        char text[128];
        std::snprintf(
            text, sizeof text, "%s Layer %s, %ld Hz, %s", version, layerName(frame.layer), rate, modeName(frame.mode));
        m_info.description = text;
        m_info.codec = VBMP3_CODEC_MPEG;
        m_info.codecName = std::string("Layer ") + layerName(frame.layer);
        m_info.bitrate = constantBitrate(frame, rate, counts.constantRate);
        m_scratch.resize((mpg123_outblock(m_handle) + sizeof(float) - 1) / sizeof(float));
        useScratch();
        return true;
    }

    // libmpg123 decodes frame by frame straight into out (no copy through its own buffer)
    // while out has room for a whole frame; the last frame that does not fit goes to
    // m_scratch, and what of it is left over waits in m_leftover for the next read.
    // Outside read() the decoder's buffer is m_scratch again, so that nothing it does later
    // (a seek) writes into memory the caller was handed.  The decoder may also switch back
    // to a buffer of its own (when a new format needs a larger one): the frame it returns
    // is read wherever it lies.
    size_t read(float *out, size_t frames) override
    {
        const size_t channels = static_cast<size_t>(m_info.channels);
        const size_t frameBytes = sizeof(float) * channels;
        size_t filled = std::min(frames, (m_leftover.size() - m_leftoverAt) / channels);
        if (filled > 0) { // an empty m_leftover has no data() to copy from
            std::memcpy(out, m_leftover.data() + m_leftoverAt, filled * frameBytes);
            m_leftoverAt += filled * channels;
        }
        int nothingCount = 0;
        while (filled < frames && !m_ended && !m_failed) {
            float *dest = out + filled * channels;
            const size_t room = (frames - filled) * frameBytes;
            const size_t block = mpg123_outblock(m_handle);
            const bool direct = room >= block;
            if (direct) {
                mpg123_replace_buffer(m_handle, dest, room);
            } else {
                if (m_scratch.size() * sizeof(float) < block)
                    m_scratch.resize((block + sizeof(float) - 1) / sizeof(float));
                useScratch();
            }
            off_t number = 0;
            unsigned char *audio = nullptr;
            size_t bytes = 0;
            const int rc = mpg123_decode_frame(m_handle, &number, &audio, &bytes);
            if (rc == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channelCount = 0;
                int encoding = 0;
                if (mpg123_getformat(m_handle, &rate, &channelCount, &encoding) != MPG123_OK || rate != m_info.rate
                    || channelCount != m_info.channels || encoding != MPG123_ENC_FLOAT_32)
                    m_ended = m_failed = true;
                continue;
            }
            if (rc == MPG123_DONE)
                m_ended = true;
            else if (rc != MPG123_OK)
                m_ended = m_failed = true; // for example the sample rate changed midway
            const size_t got = rc == MPG123_OK && audio ? bytes / frameBytes : 0;
            const auto *from = reinterpret_cast<const float *>(audio);
            if (got > 0 && direct) {
                if (from != dest) // the frame's start was cut (gapless start, seek)
                    std::memmove(dest, from, got * frameBytes);
                filled += got;
            } else if (got > 0) {
                const size_t n = std::min(got, frames - filled);
                std::memcpy(dest, from, n * frameBytes);
                filled += n;
                m_leftover.assign(from + n * channels, from + got * channels);
                m_leftoverAt = 0;
            }
            // Guard against a decoder that keeps answering OK without output.
            if (got == 0 && ++nothingCount > 64)
                m_ended = true;
        }
        useScratch();
        return filled;
    }

    // After a decoding error the handle is not trusted again (libmpg123 is left without a
    // usable output format): the track stays at its end.
    bool seek(int64_t frame) override
    {
        if (m_failed)
            return false;
        frame
            = m_info.lengthEstimated ? std::max<int64_t>(frame, 0) : std::clamp<int64_t>(frame, 0, m_info.totalFrames);
        m_ended = false;
        m_leftover.clear();
        m_leftoverAt = 0;
        if (mpg123_seek(m_handle, static_cast<off_t>(frame), SEEK_SET) < 0)
            m_ended = m_failed = true;
        return !m_failed;
    }

private:
    // mpg123_scan reads the whole stream to count its frames (about 9 ms for five minutes
    // at 192 kb/s).  Without it libmpg123 takes the length from a Xing/Info/VBRI header,
    // which is exact when the stream is whole: true when such a header states the frame
    // count libmpg123 took and exactly the byte count that the range holds from that
    // frame on, so that a cut, extended or patched stream is still counted.
    bool lengthFromHeader(const VbrCounts &counts)
    {
        return counts.frames > 0 && counts.frames == mpg123_framelength(m_handle) && counts.bytes > 0
            && static_cast<uint64_t>(counts.bytes) == counts.streamBytes;
    }

    void allowFormats(int channels)
    {
        mpg123_format_none(m_handle);
        const long *rates = nullptr;
        size_t count = 0;
        mpg123_rates(&rates, &count);
        for (size_t i = 0; i < count; ++i)
            mpg123_format(m_handle, rates[i], channels, MPG123_ENC_FLOAT_32);
    }

    // The stream's bit rate when it is constant, else 0.  libmpg123 reports the first
    // frame's rate and a VBR mode from the LAME tag of a Xing/Info header; an "Info"
    // header itself marks a constant rate, whatever the tag says (ffmpeg's leaves its
    // method unset).  A stream whose average differs from its first frame is variable.
    int constantBitrate(const mpg123_frameinfo2 &frame, long rate, bool infoHeader)
    {
        if ((frame.vbr != MPG123_CBR && !infoHeader) || frame.bitrate <= 0)
            return 0;
        const off_t frameCount = mpg123_framelength(m_handle);
        const int samplesPerFrame = frame.layer == 1            ? 384
            : (frame.layer == 3 && frame.version != MPG123_1_0) ? 576
                                                                : 1152;
        if (frameCount > 0 && m_range.size > 0) {
            const double seconds = static_cast<double>(frameCount) * samplesPerFrame / static_cast<double>(rate);
            const double average = static_cast<double>(m_range.size) * 8.0 / seconds / 1000.0;
            if (std::fabs(average - frame.bitrate) > 0.05 * frame.bitrate)
                return 0;
        }
        return frame.bitrate;
    }

    void useScratch() { mpg123_replace_buffer(m_handle, m_scratch.data(), m_scratch.size() * sizeof(float)); }

    ByteRange m_range;
    mpg123_handle *m_handle = nullptr;
    std::vector<float> m_scratch; // the decoder's own buffer: one frame's output at most
    std::vector<float> m_leftover; // of the last frame decoded: what read() has not given
    size_t m_leftoverAt = 0; // samples of m_leftover already given
    bool m_ended = false; // read() gives nothing until a seek
    bool m_failed = false; // read() and seek() give nothing for good
};

} // namespace

std::unique_ptr<Source> openMpegSource(const std::string &path, const FileLayout &layout, const SourceOptions &options)
{
    if (layout.audioSize == 0)
        return nullptr;
    auto source = std::make_unique<MpegSource>();
    if (!source->open(path, layout, options))
        return nullptr;
    return source;
}

} // namespace vbmp3
