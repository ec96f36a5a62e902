// The controlling thread's knowledge of the open track: the count of its length, its
// facts, its MPEG header facts and its lyrics.
#include "engine.h"

#include "sources/formats.h"
#include "sources/formatsources.h"

#include <cstring>

namespace vbmp3
{
// What the desktop's mixer calls a track: "artist - title" from its tags, the title
// alone, or the file's name.
std::string Engine::mediaNameOf(const std::string &path)
{
    TagInfo tag {};
    std::string title;
    std::string artist;
    if (readTagInfo(path, &tag)) {
        title.assign(tag.title, strnlen(tag.title, sizeof tag.title));
        artist.assign(tag.artist, strnlen(tag.artist, sizeof tag.artist));
    }
    if (!title.empty())
        return artist.empty() ? title : artist + " - " + title;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Engine::wantsMixerName()
{
    // Only the sound server shows a name; the others are spared reading the tags (which
    // may hold pictures of megabytes).
    std::lock_guard lock(m_mutex);
    return m_target == "auto";
}

std::string Engine::mixerNameOf(const std::string &path)
{
    return wantsMixerName() ? mediaNameOf(path) : std::string();
}

Engine::LengthCount::LengthCount(const std::string &path, const FileLayout &layout, const SourceOptions &options)
    : m_thread([this, path, layout, options] {
        SourceOptions cancellable = options;
        cancellable.cancel = &m_cancel;
        std::optional<SourceInfo> counted;
        try {
            if (std::unique_ptr<Source> source = openSource(path, layout, cancellable))
                counted = source->info();
        } catch (...) { // out of memory: the estimate stays
        }
        std::lock_guard lock(m_mutex);
        m_result = std::move(counted);
        m_finished = true;
    })
{
}

Engine::LengthCount::~LengthCount()
{
    m_cancel = true;
    m_thread.join();
}

std::optional<std::optional<SourceInfo>> Engine::LengthCount::result()
{
    std::lock_guard lock(m_mutex);
    if (!m_finished)
        return std::nullopt;
    return m_result;
}

void Engine::takeCount()
{
    for (Track *track : { &m_open, &m_next }) {
        if (!track->count)
            continue;
        const std::optional<std::optional<SourceInfo>> result = track->count->result();
        if (!result)
            continue;
        track->count.reset();
        track->info.lengthEstimated = false;
        // A count that failed (the stream broke off after its first frames) leaves the estimate.
        if (!*result)
            continue;
        track->info.totalFrames
            = track->range ? rangeLength(*track->range, (*result)->totalFrames) : (*result)->totalFrames;
        track->info.bitrate = (*result)->bitrate;
        std::lock_guard lock(m_mutex);
        (track == &m_open ? m_sourceTotal : m_join.queuedTotal) = track->info.totalFrames;
    }
}

int32_t Engine::openInfo(OpenInfo *info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    syncJoins();
    if (m_open.path.empty())
        return 0;
    takeCount();
    const SourceInfo &facts = m_open.info;
    if (info) {
        fillField(info->text1, sizeof info->text1, facts.description);
        fillField(info->text2, sizeof info->text2, facts.decoderName);
        info->bitrate = facts.bitrate;
        info->frequency = facts.rate;
        info->totalSeconds = static_cast<int32_t>(std::min<int64_t>(facts.totalFrames / facts.rate, INT32_MAX));
    }
    return facts.lengthEstimated ? 1 : 2;
}

int32_t Engine::streamInfo(StreamInfo *info)
{
    std::memset(info, 0, sizeof *info);
    syncJoins();
    if (m_open.path.empty())
        return 0;
    takeCount();
    const SourceInfo &facts = m_open.info;
    info->codec = facts.codec;
    info->channels = facts.channels;
    info->bitsPerSample = facts.lossless ? facts.bitsPerSample : 0;
    info->lossless = facts.lossless ? 1 : 0;
    // Mono and stereo sources (MPEG, WAV) say nothing of their speakers: there is one way.
    info->channelMask = facts.channelMask != 0 ? facts.channelMask
        : facts.channels <= 2                  ? defaultChannelMask(facts.channels)
                                               : 0;
    info->sampleRate = facts.rate;
    info->totalFrames = facts.totalFrames;
    info->bitrate = facts.bitrate;
    fillField(info->codecName, sizeof info->codecName, facts.codecName);
    return facts.lengthEstimated ? 1 : 2;
}

bool Engine::readLyrics3Data()
{
    syncJoins();
    if (m_open.path.empty())
        return false;
    const std::optional<std::string> text = readLyrics3(m_open.path);
    if (!text)
        return false;
    LyricsTimeline timeline = LyricsTimeline::fromLyrics3(*text);
    if (timeline.empty())
        return false;
    timeline.spreadOver(durationMs());
    m_lyrics = std::move(timeline);
    return true;
}

bool Engine::readEmbeddedLyrics()
{
    syncJoins();
    if (m_open.path.empty())
        return false;
    const std::optional<std::string> text = vbmp3::readEmbeddedLyrics(m_open.path);
    if (!text)
        return false;
    LyricsTimeline timeline = LyricsTimeline::fromText(*text);
    return !timeline.empty() && setLyrics(std::move(timeline));
}

bool Engine::setLyrics(LyricsTimeline timeline)
{
    syncJoins();
    if (m_open.path.empty())
        return false;
    timeline.spreadOver(durationMs());
    m_lyrics = std::move(timeline);
    return !m_lyrics.empty();
}

bool Engine::lyrics(LyricsLines *lines)
{
    syncJoins();
    const int64_t ms = heardMs();
    if (m_lyrics.empty()) {
        std::memset(lines, 0, sizeof *lines);
        lines->current = -1;
        return false;
    }
    m_lyrics.fill(ms, lines);
    return true;
}

int32_t Engine::lyricsWait()
{
    syncJoins();
    const int64_t ms = heardMs();
    const int64_t wait = m_lyrics.msUntilNext(ms);
    return static_cast<int32_t>(std::min<int64_t>(wait, INT32_MAX));
}

bool Engine::mpegInfo(MpegInfo *info)
{
    std::memset(info, 0, sizeof *info);
    syncJoins();
    if (m_open.path.empty())
        return false;
    if (formatOf(m_open.layout.kind).mpeg == MpegStream::None)
        return true; // no MPEG facts: zeros
    // Counting frames of a file without a VBR header reads it whole: once per open file.
    if (!m_open.mpegInfo) {
        MpegInfo read {};
        if (!readMpegInfo(m_open.path, &read))
            return false;
        m_open.mpegInfo = read;
    }
    *info = *m_open.mpegInfo;
    return true;
}

} // namespace vbmp3
