// MpegInfo: the first frame's header, the Xing/Info/VBRI header, frame count and length.
#include "dsp/replaygain.h"
#include "fileparse.h"
#include "formattags.h"
#include "mpegheader.h"
#include "sources/formats.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

namespace vbmp3
{

namespace
{

constexpr uint64_t kFirstFrameScan = 256 * 1024;
// Budgets of the frame count, per file.  Frames are walked over at most kCountLimit
// bytes of the stream; a lost frame sync is looked for over at most kResyncLimit bytes
// of one gap and kResyncBudget bytes in all.  When a limit other than that of one gap is
// reached, the rest is estimated from the average frame length so far.  A clean stream
// costs one read per 64 KiB; junk between frames adds at most kResyncBudget bytes of
// byte-by-byte search in memory.
constexpr uint64_t kCountLimit = 64 * 1024 * 1024;
constexpr uint64_t kResyncLimit = 64 * 1024;
constexpr uint64_t kResyncBudget = 1024 * 1024;

struct VbrHeader {
    int type = 0; // 0 none, 1 Xing/Info, 2 VBRI
    bool info = false; // "Info": the encoder wrote a constant bit rate
    int64_t frames = -1; // audio frames after the header frame; -1 when not given
    int64_t bytes = -1; // bytes of the stream from the header frame on; -1 when not given
    int64_t delay = 0; // encoder delay and padding in samples (LAME tag)
    int64_t padding = 0;
    size_t encoderTag = 0; // where the LAME (or Lavc) tag begins in the frame; 0 when none
};

VbrHeader vbrHeader(const std::string &frame, const MpegHeader &h)
{
    VbrHeader v;
    const auto *p = reinterpret_cast<const unsigned char *>(frame.data());
    if (h.layer != 3)
        return v;
    const size_t candidates[2] = { size_t(4 + h.sideInfoBytes()), size_t(4 + 2 + h.sideInfoBytes()) };
    for (size_t at : candidates) {
        if (at + 8 > frame.size() || (frame.compare(at, 4, "Xing") != 0 && frame.compare(at, 4, "Info") != 0))
            continue;
        v.type = 1;
        v.info = frame.compare(at, 4, "Info") == 0;
        const uint32_t flags = readBe32(p + at + 4);
        size_t pos = at + 8;
        if (flags & 1) {
            if (pos + 4 <= frame.size())
                v.frames = readBe32(p + pos);
            pos += 4;
        }
        if (flags & 2) {
            if (pos + 4 <= frame.size())
                v.bytes = readBe32(p + pos);
            pos += 4;
        }
        pos += (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
        if (pos + 24 <= frame.size()
            && (frame.compare(pos, 4, "LAME") == 0 || frame.compare(pos, 4, "Lavf") == 0
                || frame.compare(pos, 4, "Lavc") == 0)) {
            v.encoderTag = pos;
            v.delay = int64_t(p[pos + 21]) << 4 | p[pos + 22] >> 4;
            v.padding = int64_t(p[pos + 22] & 0x0F) << 8 | p[pos + 23];
        }
        return v;
    }
    if (36 + 18 <= frame.size() && frame.compare(36, 4, "VBRI") == 0) {
        v.type = 2;
        v.bytes = readBe32(p + 36 + 10);
        v.frames = readBe32(p + 36 + 14);
    }
    return v;
}

// Reads through the stream in blocks for the frame walk.
class BlockReader
{
public:
    BlockReader(ByteReader &reader, uint64_t end)
        : m_reader(reader)
        , m_end(end)
    {
    }

    const unsigned char *at(uint64_t off, size_t n)
    {
        if (off + n > m_end)
            return nullptr;
        if (off < m_start || off + n > m_start + m_buf.size()) {
            m_start = off;
            m_buf.resize(static_cast<size_t>(std::min<uint64_t>(64 * 1024, m_end - off)));
            m_buf.resize(m_reader.readAt(off, m_buf.data(), m_buf.size()));
            if (n > m_buf.size())
                return nullptr;
        }
        return m_buf.data() + (off - m_start);
    }

private:
    ByteReader &m_reader;
    uint64_t m_end;
    uint64_t m_start = 0;
    std::vector<unsigned char> m_buf;
};

// Whether a header found after lost sync continues the stream of first: the bits that
// stay fixed within a stream agree.
bool continuesStream(const MpegHeader &first, const MpegHeader &h)
{
    return sameStream(first, h) && first.crc == h.crc && (first.mode == 3) == (h.mode == 3)
        && first.emphasis == h.emphasis;
}

// Walks over the frames from the first one to end, skipping over damaged stretches, and
// calls visit(header) for each until it returns false (a frame cut short at the end counts).
// The walk stops at end, at a gap it cannot cross, or when a budget runs out: then
// pastBudget is set, and pos is where it stopped.
struct FrameWalk {
    uint64_t pos = 0;
    bool pastBudget = false;
};

template <typename Visit> FrameWalk walkFrames(ByteReader &reader, const FirstFrame &first, uint64_t end, Visit visit)
{
    BlockReader blocks(reader, end);
    const uint64_t limit = first.offset + kCountLimit;
    FrameWalk walk { first.offset, false };
    uint64_t &pos = walk.pos;
    uint64_t resyncLeft = kResyncBudget;
    while (pos < end) {
        if (pos >= limit) {
            walk.pastBudget = true;
            break;
        }
        const unsigned char *b = blocks.at(pos, 4);
        if (!b)
            break;
        const auto h = parseMpegHeader(b);
        if (h && sameStream(first.header, *h)) {
            const int len = frameLength(*h, first);
            if (len < 4 || !visit(*h) || pos + uint64_t(len) > end)
                break;
            pos += uint64_t(len);
            continue;
        }
        // Lost sync: the next header of this stream, searched in the blocks already read.
        const uint64_t gapEnd = std::min({ end, pos + kResyncLimit, pos + resyncLeft });
        uint64_t next = pos + 1;
        bool found = false;
        for (; next + 4 <= gapEnd; ++next) {
            const unsigned char *c = blocks.at(next, 4);
            if (!c)
                break;
            if (c[0] != 0xFF || (c[1] & 0xE0) != 0xE0)
                continue;
            const auto h2 = parseMpegHeader(c);
            if (h2 && continuesStream(first.header, *h2)) {
                found = true;
                break;
            }
        }
        resyncLeft -= std::min(resyncLeft, next - pos);
        if (!found) {
            walk.pastBudget = resyncLeft == 0;
            break;
        }
        pos = next;
    }
    return walk;
}

// Counts the frames from the first one to end; past a budget the rest is estimated from
// the average frame length so far.
int64_t countFrames(ByteReader &reader, const FirstFrame &first, uint64_t end)
{
    int64_t count = 0;
    const FrameWalk walk = walkFrames(reader, first, end, [&](const MpegHeader &) {
        ++count;
        return true;
    });
    if (walk.pastBudget && count > 0 && end > walk.pos) {
        const uint64_t average = (walk.pos - first.offset) / uint64_t(count);
        count += static_cast<int64_t>((end - walk.pos) / std::max<uint64_t>(average, 1));
    }
    return count;
}

// The first frame of the MPEG stream in [begin, end), after an ID3v2 tag at begin if any.
std::optional<FirstFrame> streamStart(ByteReader &reader, uint64_t begin, uint64_t end)
{
    if (begin < end) {
        const uint64_t tag = id3v2TagSize(reader.read(begin, 10));
        if (tag > 0 && tag < end - begin)
            begin += tag;
    }
    return findFirstFrame(reader, begin, end, kFirstFrameScan);
}

} // namespace

bool readMpegInfo(ByteReader &reader, MpegInfo *mpeg)
{
    if (mpeg)
        std::memset(mpeg, 0, sizeof *mpeg);
    if (!mpeg)
        return true;
    const FileLayout layout = probe(reader);
    const MpegStream stream = formatOf(layout.kind).mpeg;
    if (stream == MpegStream::None) {
        if (isTagLibKind(layout.kind))
            if (const std::optional<AudioFacts> facts = readAudioFacts(reader, layout.kind)) {
                mpeg->value[2] = facts->kbps;
                mpeg->value[3] = facts->rate;
                mpeg->value[11] = facts->lengthMs;
            }
        return true;
    }
    uint64_t begin = layout.audioOffset;
    const uint64_t end = layout.audioOffset + layout.audioSize;
    if (stream == MpegStream::Wrapped) {
        const uint64_t tag = id3v2TagSize(reader.read(begin, 10));
        if (tag > 0 && tag < layout.audioSize)
            begin += tag;
    }
    const auto first = findFirstFrame(reader, begin, end, kFirstFrameScan);
    if (!first)
        return true;
    const MpegHeader &h = first->header;
    int32_t *v = mpeg->value;
    v[0] = h.version;
    v[1] = h.layer;
    v[2] = h.bitrateKbps;
    v[3] = h.sampleRate;
    v[4] = h.mode;
    v[5] = h.modeExtension;
    v[6] = h.emphasis;
    v[7] = h.crc;
    v[8] = h.copyright;
    v[9] = h.original;
    v[13] = static_cast<int32_t>(std::min<uint64_t>(first->offset, INT32_MAX));

    const int firstLength = frameLength(h, *first);
    const VbrHeader vbr = vbrHeader(reader.read(first->offset, static_cast<size_t>(std::max(firstLength, 0))), h);
    int64_t frames = vbr.frames;
    // A frame count that the stream cannot hold (shortest frames are 24 bytes) is damage.
    if (frames <= 0 || uint64_t(frames) > (end - first->offset) / 24 + 1) {
        frames = countFrames(reader, *first, end);
        if (vbr.type != 0 && frames > 0)
            --frames; // the header frame carries no sound
    }
    int64_t samples = frames * h.samplesPerFrame;
    if (vbr.delay + vbr.padding < samples)
        samples -= vbr.delay + vbr.padding;
    v[10] = static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX));
    v[11] = static_cast<int32_t>(std::min<int64_t>(samples * 1000 / h.sampleRate, INT32_MAX));
    v[12] = vbr.type;
    return true;
}

VbrCounts readVbrCounts(ByteReader &reader, uint64_t begin, uint64_t end)
{
    VbrCounts counts;
    const auto first = streamStart(reader, begin, end);
    if (!first)
        return counts;
    const int firstLength = frameLength(first->header, *first);
    const VbrHeader vbr
        = vbrHeader(reader.read(first->offset, static_cast<size_t>(std::max(firstLength, 0))), first->header);
    if (vbr.type == 0)
        return counts;
    counts.frames = vbr.frames;
    counts.bytes = vbr.bytes;
    counts.constantRate = vbr.info;
    counts.streamBytes = end - first->offset;
    return counts;
}

namespace
{

// One replay-gain field of the LAME tag: the name in bits 15..13 (1 radio, 2 audiophile),
// the originator in 12..10 (0: not set), the sign in bit 9 and tenths of dB below.
std::optional<double> lameGain(const unsigned char *p, unsigned name)
{
    const unsigned field = unsigned(p[0]) << 8 | p[1];
    if (field >> 13 != name || ((field >> 10) & 7) == 0)
        return std::nullopt;
    const double tenths = field & 0x1FF;
    return (field & 0x200 ? -tenths : tenths) / 10.0;
}

} // namespace

GainTags lameGainTags(ByteReader &reader, uint64_t begin, uint64_t end)
{
    GainTags tags;
    const auto first = streamStart(reader, begin, end);
    if (!first)
        return tags;
    const std::string frame
        = reader.read(first->offset, static_cast<size_t>(std::max(frameLength(first->header, *first), 0)));
    const VbrHeader vbr = vbrHeader(frame, first->header);
    if (vbr.encoderTag == 0 || vbr.encoderTag + 19 > frame.size())
        return tags;
    // After the encoder's name (9 bytes), the method and the low-pass (1 each): the peak as
    // 9.23 fixed point (0: not measured), then the radio and the audiophile gain.
    const auto *p = reinterpret_cast<const unsigned char *>(frame.data()) + vbr.encoderTag + 11;
    if (const uint32_t peak = readBe32(p); peak != 0)
        tags.trackPeak = peak / double(1 << 23);
    tags.trackGain = lameGain(p + 4, 1);
    tags.albumGain = lameGain(p + 6, 2);
    return tags;
}

bool turnsStereo(ByteReader &reader, uint64_t begin, uint64_t end, int64_t frames)
{
    const auto first = streamStart(reader, begin, end);
    if (!first || first->header.mode != 3)
        return false;
    bool stereo = false;
    walkFrames(reader, *first, end, [&](const MpegHeader &h) {
        stereo = h.mode != 3;
        return !stereo && --frames > 0;
    });
    return stereo;
}

bool readMpegInfo(const std::string &path, MpegInfo *mpeg)
{
    return parseFileInto(path, mpeg, [](ByteReader &reader, MpegInfo *r) { return readMpegInfo(reader, r); });
}

} // namespace vbmp3
