// Ogg Vorbis through libvorbisfile (the reference decoder), loaded when the first Vorbis
// file is opened.
#include "common/runtimelib.h"
#include "formatsources.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace vbmp3
{
namespace
{

#define VBMP3_VORBIS_FUNCTIONS(X)                                                                                      \
    X(ov_open_callbacks)                                                                                               \
    X(ov_clear)                                                                                                        \
    X(ov_info)                                                                                                         \
    X(ov_pcm_total)                                                                                                    \
    X(ov_bitrate)                                                                                                      \
    X(ov_read_float)                                                                                                   \
    X(ov_pcm_seek)

struct VorbisApi {
    VBMP3_VORBIS_FUNCTIONS(VBMP3_API_MEMBER)
};

const VorbisApi *vorbisApi()
{
    return loadApi<VorbisApi>(VBMP3_SONAME_VORBISFILE,
        [](void *lib, VorbisApi &api) { return VBMP3_VORBIS_FUNCTIONS(VBMP3_API_RESOLVE) true; });
}

// Holes (lost pages) in a row that libvorbisfile may report before the track is given up.
constexpr int kMaxHoles = 64;

// A chained stream plays its first links only: libvorbisfile reads the headers of every
// link at the open (about 18 KB and 0.1 ms each), so a stream of 10,000 tiny links would
// cost a second and 180 MB there.
constexpr int kMaxLinks = 256;

// An Ogg page header at `at`: its flags, serial number and whole size.
struct OggPage {
    uint8_t flags = 0;
    uint32_t serial = 0;
    uint64_t size = 0;
};

std::optional<OggPage> pageAt(DecoderFile &file, uint64_t at)
{
    unsigned char h[27 + 255];
    if (!file.seek(static_cast<int64_t>(at), SEEK_SET))
        return std::nullopt;
    const size_t got = file.read(h, sizeof h);
    if (got < 27 || std::memcmp(h, "OggS", 4) != 0 || got < 27u + h[26])
        return std::nullopt;
    OggPage page;
    page.flags = h[5];
    page.serial = uint32_t(h[14]) | uint32_t(h[15]) << 8 | uint32_t(h[16]) << 16 | uint32_t(h[17]) << 24;
    page.size = 27u + h[26];
    for (int i = 0; i < h[26]; ++i)
        page.size += h[27 + i];
    return page;
}

// Where the link after the first kMaxLinks links of file begins, or nothing when it has
// no more links (or its pages cannot be followed: libvorbisfile then deals with it).
// A stream whose last page belongs to its first link (nearly every file) is not walked.
std::optional<uint64_t> endOfAllowedLinks(DecoderFile &file)
{
    const std::optional<OggPage> first = pageAt(file, 0);
    if (!first)
        return std::nullopt;
    // The last page begins within its largest size from the end.
    constexpr uint64_t kLargestPage = 27 + 255 + 255 * 255;
    const uint64_t from = file.size() > kLargestPage ? file.size() - kLargestPage : 0;
    std::string tail(file.size() - from, '\0');
    if (!file.seek(static_cast<int64_t>(from), SEEK_SET) || file.read(tail.data(), tail.size()) != tail.size())
        return std::nullopt;
    for (size_t at = tail.rfind("OggS"); at != std::string::npos;
         at = at ? tail.rfind("OggS", at - 1) : std::string::npos) {
        const std::optional<OggPage> last = pageAt(file, from + at);
        if (!last)
            continue;
        if (last->serial == first->serial)
            return std::nullopt;
        break;
    }
    int links = 0;
    bool inHeaders = false; // the pages before were beginnings of streams
    for (uint64_t at = 0; at < file.size();) {
        const std::optional<OggPage> page = pageAt(file, at);
        if (!page)
            return std::nullopt;
        const bool begins = page->flags & 0x02;
        if (begins && !inHeaders && ++links > kMaxLinks)
            return at;
        inHeaders = begins;
        at += page->size;
    }
    return std::nullopt;
}

class VorbisSource final : public Source
{
public:
    explicit VorbisSource(const VorbisApi *api)
        : m_api(api)
    {
    }
    ~VorbisSource() override
    {
        if (m_opened)
            m_api->ov_clear(&m_vf);
    }

    bool open(const std::string &path, const SourceOptions &options)
    {
        if (!m_file.open(path, options.cancel))
            return false;
        if (const std::optional<uint64_t> end = endOfAllowedLinks(m_file))
            m_file.endAt(*end);
        if (!m_file.seek(0, SEEK_SET))
            return false;
        const ov_callbacks callbacks { readBytes, seekTo, nullptr, tell };
        if (m_api->ov_open_callbacks(this, &m_vf, nullptr, 0, callbacks) != 0)
            return false;
        m_opened = true;
        const vorbis_info *info = m_api->ov_info(&m_vf, 0);
        if (!info || info->rate > kMaxSourceRate || !acceptableFormat(static_cast<int>(info->rate), info->channels))
            return false;
        const ogg_int64_t total = m_api->ov_pcm_total(&m_vf, -1);
        if (total <= 0)
            return false;
        m_info.rate = static_cast<int>(info->rate);
        m_info.channels = info->channels;
        m_info.totalFrames = total;
        const long bitrate = m_api->ov_bitrate(&m_vf, -1);
        m_info.bitrate = bitrate > 0 ? static_cast<int>(std::max(1L, std::lround(bitrate / 1000.0)))
                                     : averageKbps(m_file.size(), total, m_info.rate);
        m_info.codec = VBMP3_CODEC_VORBIS;
        m_info.codecName = "Vorbis";
        m_info.decoderName = "vbmp3/libvorbisfile";
        m_info.channelMask = defaultChannelMask(info->channels);
        char text[128];
        std::snprintf(text, sizeof text, "Ogg Vorbis, %d Hz, %s", m_info.rate, channelsText(m_info.channels).c_str());
        m_info.description = text;
        m_order = info->channels > 2 ? vorbisToWave(info->channels) : nullptr;
        return true;
    }

    // libvorbisfile trims the end by the last page's granule position itself: what it
    // decodes is the track, also where a stream holds more than its granules say.
    size_t read(float *out, size_t frames) override
    {
        const auto ch = static_cast<size_t>(m_info.channels);
        size_t filled = 0;
        int holes = 0;
        while (filled < frames && !m_ended) {
            float **planes = nullptr;
            int link = 0;
            const long got = m_api->ov_read_float(
                &m_vf, &planes, static_cast<int>(std::min<size_t>(frames - filled, 1 << 16)), &link);
            if (got == OV_HOLE && ++holes <= kMaxHoles)
                continue;
            if (got <= 0) {
                m_ended = true;
                break;
            }
            // A chained stream whose next part has another format ends the track there.
            const vorbis_info *info = m_api->ov_info(&m_vf, link);
            if (!info || info->channels != m_info.channels || info->rate != m_info.rate) {
                m_ended = true;
                break;
            }
            interleaveFloats(planes, m_info.channels, static_cast<size_t>(got), m_order, out + filled * ch);
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
        m_ended = m_api->ov_pcm_seek(&m_vf, frame) != 0;
        return !m_ended;
    }

private:
    static size_t readBytes(void *out, size_t size, size_t count, void *self)
    {
        if (size == 0)
            return 0;
        return static_cast<VorbisSource *>(self)->m_file.read(out, size * count) / size;
    }

    static int seekTo(void *self, ogg_int64_t offset, int whence)
    {
        return static_cast<VorbisSource *>(self)->m_file.seek(offset, whence) ? 0 : -1;
    }

    static long tell(void *self) { return static_cast<long>(static_cast<VorbisSource *>(self)->m_file.tell()); }

    const VorbisApi *m_api;
    DecoderFile m_file;
    OggVorbis_File m_vf {};
    bool m_opened = false; // m_vf holds what ov_clear frees
    const uint8_t *m_order = nullptr; // Vorbis to WAVE order, null for one or two channels
    int64_t m_position = 0;
    bool m_ended = false;
};

} // namespace

std::unique_ptr<Source> openVorbisSource(const std::string &path, const FileLayout &, const SourceOptions &options)
{
    const VorbisApi *api = vorbisApi();
    if (!api)
        return nullptr;
    auto source = std::make_unique<VorbisSource>(api);
    if (!source->open(path, options))
        return nullptr;
    return source;
}

} // namespace vbmp3
