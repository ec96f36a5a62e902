// Cue-sheet tracks: a track as a range of a file, the gapless join within one image, and the
// sheets files carry inside.
#include "enginetestsupport.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace
{

constexpr int64_t kSamplesPerCdFrame = 44100 / 75;

TrackRange cdRange(int64_t start, int64_t end, double trackGain = 0)
{
    return TrackRange { start, end, trackGain != 0 ? VBMP3_RANGE_TRACK_GAIN : 0, trackGain, 0, 0, 0 };
}

// A 30 s image of two sweeps, 16-bit stereo at 44.1 kHz as FLAC, and its tracks in CD frames.
constexpr int64_t kTrack2 = 190, kTrack3 = 451, kTrack4 = 1537, kImageFrames = 30 * 75;

class CueRange : public LibrarySession
{
protected:
    void SetUp() override
    {
        if (!run("command -v sox && command -v flac"))
            GTEST_SKIP() << "sox and flac are needed to make the image";
        LibrarySession::SetUp();
    }

    static const std::string &image()
    {
        static const std::string path = fixture("cue-image.flac",
            "sox -n -r 44100 -c 2 -b 16 cue-image.wav synth 30 sine 200-6000 sine 300-9000 gain -4 && "
            "flac -s -f -o %o cue-image.wav");
        return path;
    }
    static const Pcm &decoded()
    {
        static const Pcm pcm = decodeDirect(image());
        return pcm;
    }
    // The image's samples from CD frame `from` to `to` (-1: the end).
    static std::vector<int16_t> part(int64_t from, int64_t to)
    {
        const auto &s = decoded().samples;
        const auto at = [&](int64_t frame) {
            return s.begin() + (frame < 0 ? ptrdiff_t(s.size()) : ptrdiff_t(frame * kSamplesPerCdFrame * 2));
        };
        return { at(from), at(to) };
    }
    // What the file output holds once the range (and the one queued after it) played to the end.
    // Between the open and the queue, `beforeQueue` runs.
    static Pcm play(const TrackRange &range, const std::optional<TrackRange> &next = {},
        const std::function<void()> &whilePlaying = {}, const std::string &path = image(),
        const std::function<void()> &beforeQueue = {})
    {
        const std::string out = (workDir() / "cue-out.wav").string();
        EXPECT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
        EXPECT_EQ(vbmp3_openRange(path.c_str(), &range, nullptr), 1);
        if (beforeQueue)
            beforeQueue();
        if (next) {
            EXPECT_EQ(vbmp3_queueNextRange(path.c_str(), &*next), 1);
        }
        const int ends = reports().ends;
        EXPECT_EQ(vbmp3_play(), 1);
        if (whilePlaying)
            whilePlaying();
        EXPECT_TRUE(waitForEnds(ends + 1, std::chrono::seconds(30)));
        return readWav(out);
    }
};

// Tracks play exactly their samples at the level their sheet gain sets: two tracks in a row
// as one stretch of the image, one elsewhere in it through a queued open.
TEST_F(CueRange, TracksPlayExactlyTheirSamplesAndJoinWithoutAGap)
{
    ASSERT_EQ(decoded().frames(), size_t(kImageFrames * kSamplesPerCdFrame));
    const ReplayGainOption trackGain { VBMP3_REPLAYGAIN_TRACK, 0, 0, 1 };
    ASSERT_EQ(vbmp3_setReplayGain(&trackGain), 1); // no effect on a file without gain tags
    const std::vector<int16_t> track2 = part(kTrack2, kTrack3), track4 = part(kTrack4, -1);
    std::vector<int16_t> track2and4 = track2;
    track2and4.insert(track2and4.end(), track4.begin(), track4.end());
    const struct {
        const char *name;
        TrackRange range;
        std::optional<TrackRange> next;
        std::vector<int16_t> expected;
        double level = 1.0;
    } rows[] = {
        { "track 3", cdRange(kTrack3, kTrack4), {}, part(kTrack3, kTrack4) },
        { "tracks 2 and 3", cdRange(kTrack2, kTrack3), cdRange(kTrack3, kTrack4), part(kTrack2, kTrack4) },
        { "track 4 to the file's end", cdRange(kTrack4, -1), {}, track4 },
        { "an end past the file's end", cdRange(kTrack4, kImageFrames + 500), {}, track4 },
        { "tracks 2 and 4", cdRange(kTrack2, kTrack3), cdRange(kTrack4, -1), track2and4 },
        { "sheet gain -6.02 dB", cdRange(kTrack2, kTrack3, -6.02), {}, track2, std::pow(10.0, -6.02 / 20.0) },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const int joins = reports().joins;
        const Pcm out = play(row.range, row.next);
        EXPECT_EQ(reports().joins, joins + (row.next ? 1 : 0));
        ASSERT_EQ(out.samples.size(), row.expected.size());
        for (size_t i = 0; i < out.samples.size(); ++i)
            ASSERT_NEAR(out.samples[i], row.expected[i] * row.level, row.level == 1.0 ? 0.0 : 1.0) << i;
    }

    // The next track of the same file is read on by the same decoder: a file put in the
    // image's place after the open is not read.
    const std::string copy = (workDir() / "cue-copy.flac").string();
    const std::string other = fixture("cue-other.flac",
        "sox -n -r 44100 -c 2 -b 16 cue-other.wav synth 30 sine 500 gain -9 && flac -s -f -o %o cue-other.wav");
    std::filesystem::copy_file(image(), copy, std::filesystem::copy_options::overwrite_existing);
    const Pcm out = play(cdRange(kTrack2, kTrack3), cdRange(kTrack3, kTrack4), {}, copy, [&] {
        std::filesystem::copy_file(other, copy + ".new");
        std::filesystem::rename(copy + ".new", copy);
    });
    EXPECT_TRUE(out.samples == part(kTrack2, kTrack4));

    // The facts are the track's own.
    OpenInfo info;
    const TrackRange track3 = cdRange(kTrack3, kTrack4);
    ASSERT_EQ(vbmp3_openRange(image().c_str(), &track3, &info), 1);
    StreamInfo stream;
    EXPECT_EQ(vbmp3_getStreamInfo(&stream), 2);
    EXPECT_EQ(stream.totalFrames, (kTrack4 - kTrack3) * kSamplesPerCdFrame);
    EXPECT_EQ(info.totalSeconds, (kTrack4 - kTrack3) / 75);
}

// A seek in track 3 to 0:10 goes on at the image's sample 10 s after the track's start.
TEST_F(CueRange, SeekLandsOnTheImageSampleWithinTheTrack)
{
    const std::vector<int16_t> track = part(kTrack3, kTrack4);
    Pcm out;
    bool sought = false;
    for (int attempt = 0; attempt < 5 && !sought; ++attempt)
        out = play(cdRange(kTrack3, kTrack4), {}, [&] { sought = vbmp3_seek(10) == 1; });
    ASSERT_TRUE(sought);
    const size_t skipped = 10 * 44100 * 2;
    ASSERT_GE(out.samples.size(), track.size() - skipped);
    const size_t k = out.samples.size() - (track.size() - skipped); // samples played before the seek
    EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.begin() + ptrdiff_t(k), track.begin()));
    EXPECT_TRUE(std::equal(out.samples.begin() + ptrdiff_t(k), out.samples.end(), track.begin() + ptrdiff_t(skipped)));
}

// Ranges that name no part of the file are refused, opened or queued.
TEST_F(CueRange, RangesOutsideTheFileAreRefused)
{
    for (const TrackRange &bad : { cdRange(-1, 10), cdRange(100, 100), cdRange(100, 50), cdRange(kImageFrames, -1),
             cdRange(kImageFrames + 1, kImageFrames + 10) }) {
        SCOPED_TRACE(bad.start);
        EXPECT_EQ(vbmp3_openRange(image().c_str(), &bad, nullptr), 0);
        const TrackRange good = cdRange(0, kTrack2);
        ASSERT_EQ(vbmp3_openRange(image().c_str(), &good, nullptr), 1);
        EXPECT_EQ(vbmp3_queueNextRange(image().c_str(), &bad), 0);
    }
    EXPECT_EQ(vbmp3_openRange(image().c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(vbmp3_queueNextRange(image().c_str(), nullptr), 0);
}

// The sheet inside a file: FLAC's CUESHEET block written out, else its CUESHEET comment;
// WavPack's APEv2 Cuesheet item; none in a file without one.
TEST_F(CueRange, EmbeddedSheetsAreRead)
{
    const std::string sheet = "FILE \"cue-image.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                              "  TRACK 02 AUDIO\n    INDEX 00 00:02:00\n    INDEX 01 00:02:40\n";
    writeFile(workDir() / "cue-sheet.cue", sheet);
    ASSERT_FALSE(image().empty());
    const bool wavpack = run("command -v wavpack");
    const struct {
        const char *name;
        std::string path;
        std::string expected;
    } rows[] = {
        { "CUESHEET block", fixture("cue-block.flac", "flac -s -f --cuesheet=cue-sheet.cue -o %o cue-image.wav"),
            "FILE \"cue-block.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 00 00:02:00\n    INDEX 01 00:02:40\n" },
        { "CUESHEET comment",
            fixture("cue-comment.flac", "flac -s -f --tag-from-file=CUESHEET=cue-sheet.cue -o %o cue-image.wav"),
            sheet },
        { "APEv2 Cuesheet",
            wavpack ? fixture("cue.wv", "wavpack -q -y -w Cuesheet=@cue-sheet.cue cue-image.wav -o %o") : "", sheet },
        { "none", image(), "" },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.path.empty())
            continue; // its tool is missing
        const int32_t size = vbmp3_getFileCueSheet(row.path.c_str(), nullptr, 0);
        ASSERT_EQ(size, int32_t(row.expected.size()));
        std::string text(size_t(size) + 1, '#');
        EXPECT_EQ(vbmp3_getFileCueSheet(row.path.c_str(), text.data(), size - 1), size);
        EXPECT_EQ(text, std::string(size_t(size) + 1, '#')) << "nothing copied into a buffer too small";
        EXPECT_EQ(vbmp3_getFileCueSheet(row.path.c_str(), text.data(), size), size);
        EXPECT_EQ(text.substr(0, size_t(size)), row.expected);
    }
}

} // namespace
