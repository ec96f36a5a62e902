#include "mpegheader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vbmp3
{

namespace
{

const int kBitrates[2][3][16] = {
    // MPEG-1: Layer I, II, III
    { { 0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1 },
        { 0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1 },
        { 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1 } },
    // MPEG-2 and 2.5
    { { 0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1 },
        { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1 },
        { 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1 } },
};

const int kSampleRates[3][3] = { { 44100, 48000, 32000 }, { 22050, 24000, 16000 }, { 11025, 12000, 8000 } };

// The longest free-format frame looked for (640 kb/s at 8 kHz, MPEG-2.5 Layer III, is
// 5760 bytes; Layer I frames are shorter).
constexpr uint64_t kMaxFreeFrame = 8192;

// Header bits that stay the same from frame to frame of one free-format stream: sync,
// version, layer, CRC flag, bit rate index, sample rate, channel mode.
bool sameFixedBits(const uint8_t *a, const uint8_t *b)
{
    return a[0] == b[0] && a[1] == b[1] && (a[2] & 0xFC) == (b[2] & 0xFC) && (a[3] & 0xC0) == (b[3] & 0xC0);
}

} // namespace

int MpegHeader::frameBytes() const
{
    if (bitrateKbps <= 0 || sampleRate <= 0)
        return 0;
    const int pad = padding ? 1 : 0;
    if (layer == 1)
        return (12 * bitrateKbps * 1000 / sampleRate + pad) * 4;
    if (layer == 3 && version != 1)
        return 72 * bitrateKbps * 1000 / sampleRate + pad;
    return 144 * bitrateKbps * 1000 / sampleRate + pad;
}

int MpegHeader::sideInfoBytes() const
{
    if (version == 1)
        return mode == 3 ? 17 : 32;
    return mode == 3 ? 9 : 17;
}

std::optional<MpegHeader> parseMpegHeader(const uint8_t *b)
{
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (b[1] >> 3) & 3;
    const int layerBits = (b[1] >> 1) & 3;
    const int bitrateIndex = b[2] >> 4;
    const int rateIndex = (b[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3 || (b[3] & 3) == 2)
        return std::nullopt;
    MpegHeader h;
    h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    h.layer = 4 - layerBits;
    h.bitrateKbps = kBitrates[h.version == 1 ? 0 : 1][h.layer - 1][bitrateIndex];
    h.sampleRate = kSampleRates[h.version == 1 ? 0 : h.version == 2 ? 1 : 2][rateIndex];
    h.crc = (b[1] & 1) == 0;
    h.padding = (b[2] >> 1) & 1;
    h.mode = b[3] >> 6;
    h.modeExtension = (b[3] >> 4) & 3;
    h.copyright = (b[3] >> 3) & 1;
    h.original = (b[3] >> 2) & 1;
    h.emphasis = b[3] & 3;
    h.samplesPerFrame = h.layer == 1 ? 384 : (h.layer == 3 && h.version != 1) ? 576 : 1152;
    h.slotBytes = h.layer == 1 ? 4 : 1;
    return h;
}

bool sameStream(const MpegHeader &a, const MpegHeader &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate
        && (a.bitrateKbps == 0) == (b.bitrateKbps == 0);
}

int frameLength(const MpegHeader &h, const FirstFrame &first)
{
    if (h.bitrateKbps > 0)
        return h.frameBytes();
    return first.freeFrameBytes + (h.padding ? h.slotBytes : 0);
}

namespace
{

class FrameFinder
{
public:
    FrameFinder(ByteReader &reader, uint64_t end)
        : m_reader(reader)
        , m_end(end)
    {
    }

    // atStart: only zero bytes (tag padding) stand between begin and off.
    std::optional<FirstFrame> confirm(uint64_t off, const MpegHeader &h, bool atStart)
    {
        if (h.bitrateKbps > 0)
            return confirmFixed(off, h, atStart);
        // Each free-format candidate costs a look at the next 16 KiB; junk full of such
        // candidates must not make the search slow.
        if (++m_freeTries > kMaxFreeTries)
            return std::nullopt;
        return confirmFree(off, h);
    }

    void setBuffer(const std::vector<uint8_t> *buf, uint64_t start)
    {
        m_buf = buf;
        m_bufStart = start;
    }

private:
    bool bytesAt(uint64_t off, uint8_t *out)
    {
        if (off + 4 > m_end)
            return false;
        if (m_buf && off >= m_bufStart && off + 4 <= m_bufStart + m_buf->size()) {
            std::memcpy(out, m_buf->data() + (off - m_bufStart), 4);
            return true;
        }
        return m_reader.readAt(off, out, 4) == 4;
    }

    std::optional<MpegHeader> headerAt(uint64_t off)
    {
        uint8_t b[4];
        if (!bytesAt(off, b))
            return std::nullopt;
        return parseMpegHeader(b);
    }

    std::optional<FirstFrame> confirmFixed(uint64_t off, const MpegHeader &h, bool atStart)
    {
        const FirstFrame found { off, h, 0 };
        const uint64_t next = off + static_cast<uint64_t>(h.frameBytes());
        if (next > m_end)
            return std::nullopt;
        if (next + 4 > m_end) // a stream of a single frame
            return atStart ? std::optional(found) : std::nullopt;
        const auto h2 = headerAt(next);
        if (!h2 || !sameStream(h, *h2))
            return std::nullopt;
        if (atStart)
            return found;
        const uint64_t third = next + static_cast<uint64_t>(h2->frameBytes());
        if (third + 4 > m_end)
            return third <= m_end ? std::optional(found) : std::nullopt;
        const auto h3 = headerAt(third);
        if (!h3 || !sameStream(h, *h3))
            return std::nullopt;
        return found;
    }

    std::optional<FirstFrame> confirmFree(uint64_t off, const MpegHeader &h)
    {
        const uint64_t span = std::min<uint64_t>(m_end - off, 2 * kMaxFreeFrame + 8);
        std::vector<uint8_t> buf(span);
        buf.resize(m_reader.readAt(off, buf.data(), buf.size()));
        const int pad = h.padding ? h.slotBytes : 0;
        const size_t minDistance = static_cast<size_t>(4 + h.sideInfoBytes() + pad);
        for (size_t d = minDistance; d + 4 <= buf.size() && d <= kMaxFreeFrame; ++d) {
            if (buf[d] != 0xFF || !sameFixedBits(buf.data(), buf.data() + d))
                continue;
            const auto h2 = parseMpegHeader(buf.data() + d);
            if (!h2)
                continue;
            FirstFrame found { off, h, static_cast<int>(d) - pad };
            const size_t third = d + static_cast<size_t>(frameLength(*h2, found));
            if (off + third + 4 > m_end)
                return found;
            if (third + 4 <= buf.size() && sameFixedBits(buf.data(), buf.data() + third))
                return found;
        }
        return std::nullopt;
    }

    ByteReader &m_reader;
    uint64_t m_end;
    static constexpr int kMaxFreeTries = 64;
    int m_freeTries = 0;
    const std::vector<uint8_t> *m_buf = nullptr;
    uint64_t m_bufStart = 0;
};

} // namespace

std::optional<FirstFrame> findFirstFrame(ByteReader &reader, uint64_t begin, uint64_t end, uint64_t scanLimit)
{
    end = std::min(end, reader.size());
    if (begin >= end)
        return std::nullopt;
    const uint64_t scanEnd = end - begin > scanLimit ? begin + scanLimit : end;
    constexpr size_t kBlock = 32 * 1024;
    FrameFinder finder(reader, end);
    std::vector<uint8_t> buf;
    uint64_t pos = begin;
    bool onlyZeros = true;
    while (pos < scanEnd) {
        buf.resize(static_cast<size_t>(std::min<uint64_t>(kBlock, end - pos)));
        buf.resize(reader.readAt(pos, buf.data(), buf.size()));
        if (buf.size() < 4)
            break;
        finder.setBuffer(&buf, pos);
        const size_t candidates = static_cast<size_t>(std::min<uint64_t>(buf.size() - 3, scanEnd - pos));
        for (size_t i = 0; i < candidates; ++i) {
            if (buf[i] != 0xFF || (buf[i + 1] & 0xE0) != 0xE0) {
                onlyZeros = onlyZeros && buf[i] == 0;
                continue;
            }
            if (const auto h = parseMpegHeader(&buf[i])) {
                if (auto found = finder.confirm(pos + i, *h, onlyZeros))
                    return found;
            }
            onlyZeros = false;
        }
        pos += candidates;
    }
    return std::nullopt;
}

} // namespace vbmp3
