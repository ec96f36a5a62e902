// ReplayGain: the values each tag states, the factor a choice makes, and what the file output holds.
#include "dsp/replaygain.h"
#include "enginetestsupport.h"
#include "tags/fileinfo.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <taglib/apetag.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/relativevolumeframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <ostream>
#include <type_traits>
#include <vector>

using vbmp3::GainTags;
namespace fs = std::filesystem;

namespace vbmp3
{
void PrintTo(const GainTags &t, std::ostream *os)
{
    const auto show = [os](const char *name, const std::optional<double> &v) {
        *os << name << '=' << (v ? std::to_string(*v) : std::string("none")) << ' ';
    };
    show("trackGain", t.trackGain);
    show("trackPeak", t.trackPeak);
    show("albumGain", t.albumGain);
    show("albumPeak", t.albumPeak);
}
} // namespace vbmp3

namespace
{

// A copy of `from` named `name`, tagged by `tag` through TagLib.
std::string tagged(
    const std::string &from, const std::string &name, const std::function<void(const std::string &)> &tag)
{
    const fs::path to = workDir() / name;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    tag(to.string());
    return to.string();
}

// Adds Vorbis comment fields (FLAC, Ogg Vorbis, Opus) or APEv2 items (WavPack).
template <class File>
std::function<void(const std::string &)> comments(std::vector<std::pair<const char *, const char *>> fields)
{
    return [fields](const std::string &path) {
        File file(path.c_str());
        for (const auto &[name, value] : fields) {
            if constexpr (std::is_same_v<File, TagLib::FLAC::File>)
                file.xiphComment(true)->addField(name, value);
            else if constexpr (std::is_same_v<File, TagLib::WavPack::File>)
                file.APETag(true)->addValue(name, value);
            else
                file.tag()->addField(name, value);
        }
        ASSERT_TRUE(file.save()) << path;
    };
}

void addTxxx(TagLib::ID3v2::Tag *tag, const char *name, const char *value)
{
    auto *frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::Latin1);
    frame->setDescription(name);
    frame->setText(value);
    tag->addFrame(frame);
}

// An RVA2 frame for the master volume; bits 0: no peak.
void addRva2(TagLib::ID3v2::Tag *tag, const char *id, float db, unsigned bits = 0, uint32_t peak = 0)
{
    auto *frame = new TagLib::ID3v2::RelativeVolumeFrame();
    frame->setIdentification(id);
    frame->setVolumeAdjustment(db, TagLib::ID3v2::RelativeVolumeFrame::MasterVolume);
    if (bits) {
        TagLib::ID3v2::RelativeVolumeFrame::PeakVolume pv;
        pv.bitsRepresentingPeak = static_cast<unsigned char>(bits);
        for (unsigned b = (bits + 7) / 8; b-- > 0;)
            pv.peakVolume.append(char((peak >> (8 * b)) & 0xFF));
        frame->setPeakVolume(pv, TagLib::ID3v2::RelativeVolumeFrame::MasterVolume);
    }
    tag->addFrame(frame);
}

std::function<void(const std::string &)> id3v2(const std::function<void(TagLib::ID3v2::Tag *)> &frames)
{
    return [frames](const std::string &path) {
        TagLib::MPEG::File file(path.c_str());
        frames(file.ID3v2Tag(true));
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers));
    };
}

// Sets the LAME tag's peak (1.0 = 2^23), radio and audiophile gains, and its CRC-16 as LAME writes it.
void patchLameTag(const std::string &path, uint32_t peak, uint16_t radio, uint16_t audiophile)
{
    std::string bytes = readFile(path);
    const size_t lame = bytes.find("LAME");
    const size_t frame = bytes.find("\xFF\xFB");
    ASSERT_TRUE(lame != std::string::npos && frame != std::string::npos && frame < lame && lame + 36 < bytes.size());
    const auto put = [&bytes](size_t at, uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes[at + size_t(i)] = char((value >> (8 * (size - 1 - i))) & 0xFF);
    };
    put(lame + 11, peak, 4);
    put(lame + 15, radio, 2);
    put(lame + 17, audiophile, 2);
    uint16_t crc = 0;
    for (size_t i = frame; i < lame + 34; ++i) {
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    put(lame + 34, crc, 2);
    writeFile(path, bytes);
}

class ReplayGain : public LibrarySession
{
protected:
    void SetUp() override
    {
        if (!run("command -v sox && command -v flac"))
            GTEST_SKIP() << "sox and flac are needed to make the fixtures";
        LibrarySession::SetUp();
    }

    // 2 s of two tones at 44.1 kHz, as 16-bit FLAC (a lossless decode that tests compare against).
    static std::string tone()
    {
        return fixture("rg-tone.flac",
            "sox -n -r 44100 -c 2 -b 16 rg-tone.wav synth 2 sine 440 sine 660 gain -3 && flac -s -f -o %o rg-tone.wav");
    }

    // What the file output holds after path (and the files queued after it) played to the end.
    static Pcm play(const std::string &path, const ReplayGainOption &option, const std::string &queued = {})
    {
        const std::string out = (workDir() / "rg-out.wav").string();
        EXPECT_EQ(vbmp3_setReplayGain(&option), 1);
        EXPECT_EQ(vbmp3_setOutput(("file:" + out).c_str()), 1);
        EXPECT_TRUE(playToEnd(path, { .next = queued })) << path;
        return readWav(out);
    }

    // out holds in scaled by factor, sample by sample within rounding.
    static void expectScaled(const Pcm &out, const Pcm &in, double factor, size_t from = 0)
    {
        ASSERT_EQ(out.samples.size(), in.samples.size());
        for (size_t i = from; i < in.samples.size(); ++i)
            ASSERT_NEAR(out.samples[i], std::clamp(in.samples[i] * factor, -32768.0, 32767.0), 1.0)
                << "sample " << i << " of " << in.samples.size();
    }
};

constexpr ReplayGainOption kOff { VBMP3_REPLAYGAIN_OFF, 0, 0, 1 };
constexpr ReplayGainOption kTrack { VBMP3_REPLAYGAIN_TRACK, 0, 0, 1 };
constexpr ReplayGainOption kAlbum { VBMP3_REPLAYGAIN_ALBUM, 0, 0, 1 };

} // namespace

// Each kind of tag gives its values (TXXX over RVA2, LAME, Vorbis comments, R128 +5 dB, MP4, APEv2); WAV none.
TEST(ReplayGainTags, EachKindOfTagIsRead)
{
    if (!haveTools()
        || !run("command -v flac && command -v oggenc && command -v opusenc && command -v ffmpeg"
                " && command -v wavpack"))
        GTEST_SKIP() << "sox, lame, flac, oggenc, opusenc, ffmpeg and wavpack are needed to make the fixtures";
    const std::string wav = fixture("rg-src.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 1 sine 500 gain -6");
    const std::string plainMp3
        = mp3("rg-plain.mp3", "-r 44100 -c 2", "synth 1 sine 500 gain -6", "-b 128 --noreplaygain");
    const std::string lameMp3 = mp3("rg-lame.mp3", "-r 44100 -c 2", "synth 1 sine 500 gain -6", "-b 128");
    const fs::path lamePatched = workDir() / "rg-lame-patched.mp3";
    fs::copy_file(lameMp3, lamePatched, fs::copy_options::overwrite_existing);
    // Radio -6.0 dB and audiophile +2.5 dB, both set by the user (originator 2), peak 0.5.
    patchLameTag(lamePatched.string(), 0x400000, 0x2000 | 0x0800 | 0x200 | 60, 0x4000 | 0x0800 | 25);
    const std::string flac = fixture("rg.flac", "flac -s -f -o %o rg-src.wav");
    const std::string ogg = fixture("rg.ogg", "oggenc -Q -o %o rg-src.wav");
    const std::string opus = fixture("rg.opus", "opusenc --quiet rg-src.wav %o");
    const std::string m4a = fixture("rg.m4a", "ffmpeg -v error -y -i rg-src.wav -c:a aac %o");
    const std::string wv = fixture("rg.wv", "wavpack -q -y rg-src.wav -o %o");

    const struct {
        const char *name;
        std::string path;
        GainTags expected;
    } rows[] = {
        { "ID3v2 TXXX", tagged(plainMp3, "rg-txxx.mp3", id3v2([](TagLib::ID3v2::Tag *t) {
             addTxxx(t, "REPLAYGAIN_TRACK_GAIN", "-6.02 dB");
             addTxxx(t, "replaygain_track_peak", "0.5");
             addTxxx(t, "REPLAYGAIN_ALBUM_GAIN", "+1.50 dB");
             addTxxx(t, "REPLAYGAIN_ALBUM_PEAK", "0.75");
         })),
            { -6.02, 0.5, 1.5, 0.75 } },
        { "ID3v2 RVA2 under TXXX", tagged(plainMp3, "rg-rva2.mp3", id3v2([](TagLib::ID3v2::Tag *t) {
             addRva2(t, "track", -3.5f, 16, 0x4000);
             addRva2(t, "album", -1.0f);
             addTxxx(t, "REPLAYGAIN_ALBUM_GAIN", "-2.00 dB");
             addTxxx(t, "REPLAYGAIN_TRACK_PEAK", "loud"); // no number: the RVA2 peak stays
         })),
            { -3.5, 0.5, -2.0, std::nullopt } },
        { "LAME tag", lamePatched.string(), { -6.0, 0.5, 2.5, std::nullopt } },
        { "LAME tag under ID3v2", tagged(lamePatched.string(), "rg-lame-id3.mp3", id3v2([](TagLib::ID3v2::Tag *t) {
             addTxxx(t, "REPLAYGAIN_TRACK_GAIN", "-1.25 dB");
         })),
            { -1.25, 0.5, 2.5, std::nullopt } },
        { "FLAC",
            tagged(flac, "rg-tagged.flac",
                comments<TagLib::FLAC::File>(
                    { { "REPLAYGAIN_TRACK_GAIN", "-7.50 dB" }, { "REPLAYGAIN_TRACK_PEAK", "0.9" },
                        { "replaygain_album_gain", "-8.25 dB" }, { "REPLAYGAIN_ALBUM_PEAK", "0.95" } })),
            { -7.5, 0.9, -8.25, 0.95 } },
        { "Ogg Vorbis",
            tagged(
                ogg, "rg-tagged.ogg", comments<TagLib::Ogg::Vorbis::File>({ { "REPLAYGAIN_TRACK_GAIN", "1.25 dB" } })),
            { 1.25, std::nullopt, std::nullopt, std::nullopt } },
        { "Opus R128",
            tagged(opus, "rg-tagged.opus",
                comments<TagLib::Ogg::Opus::File>({ { "R128_TRACK_GAIN", "-1536" }, { "R128_ALBUM_GAIN", "256" } })),
            { -1.0, std::nullopt, 6.0, std::nullopt } },
        { "MP4 freeform",
            tagged(m4a, "rg-tagged.m4a",
                [](const std::string &path) {
                    TagLib::MP4::File file(path.c_str());
                    file.tag()->setItem("----:com.apple.iTunes:replaygain_track_gain",
                        TagLib::MP4::Item(TagLib::StringList("-4.10 dB")));
                    file.tag()->setItem(
                        "----:com.apple.iTunes:REPLAYGAIN_ALBUM_PEAK", TagLib::MP4::Item(TagLib::StringList("0.8")));
                    ASSERT_TRUE(file.save());
                }),
            { -4.1, std::nullopt, std::nullopt, 0.8 } },
        { "APEv2 of WavPack",
            tagged(wv, "rg-tagged.wv",
                comments<TagLib::WavPack::File>(
                    { { "REPLAYGAIN_ALBUM_GAIN", "-3.00 dB" }, { "REPLAYGAIN_ALBUM_PEAK", "1" } })),
            { std::nullopt, std::nullopt, -3.0, 1.0 } },
        { "WAV", wav, {} },
        { "untagged MP3", plainMp3, {} },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(vbmp3::readGainTags(row.path, vbmp3::probeFile(row.path)), row.expected);
    }
    // The patched LAME tag still counts as one: its delay and padding are cut as before.
    EXPECT_EQ(decodeDirect(lamePatched.string()).frames(), decodeDirect(lameMp3).frames());
}

// The factor: the mode's gain else the other, preamp or default, clipping from that peak, off exactly 1.
TEST(ReplayGainTags, FactorFollowsModeFallbackPreampDefaultAndPeak)
{
    const GainTags both { -6.0, 0.5, -12.0, 0.9 }, trackOnly { 3.0, 0.8, std::nullopt, std::nullopt },
        albumOnly { std::nullopt, std::nullopt, 4.0, std::nullopt }, none {};
    const struct {
        const char *name;
        GainTags tags;
        ReplayGainOption option;
        double db; // the expected factor in dB
    } rows[] = {
        { "off", both, { VBMP3_REPLAYGAIN_OFF, 60, 60, 0 }, 0.0 },
        { "track", both, { VBMP3_REPLAYGAIN_TRACK, 0, 0, 1 }, -6.0 },
        { "album", both, { VBMP3_REPLAYGAIN_ALBUM, 0, 0, 1 }, -12.0 },
        { "album falls back to track", trackOnly, { VBMP3_REPLAYGAIN_ALBUM, 0, 0, 0 }, 3.0 },
        { "track falls back to album", albumOnly, { VBMP3_REPLAYGAIN_TRACK, 0, 0, 0 }, 4.0 },
        { "preamp", both, { VBMP3_REPLAYGAIN_TRACK, 25, -90, 1 }, -3.5 },
        { "default gain without preamp", none, { VBMP3_REPLAYGAIN_TRACK, 25, -90, 1 }, -9.0 },
        // +3 dB on a peak of 0.8 would pass full scale: held at 1 / 0.8.
        { "clipping held by the track peak", trackOnly, { VBMP3_REPLAYGAIN_TRACK, 0, 0, 1 }, -20 * std::log10(0.8) },
        { "clipping allowed", trackOnly, { VBMP3_REPLAYGAIN_TRACK, 0, 0, 0 }, 3.0 },
        { "no peak, no limit", albumOnly, { VBMP3_REPLAYGAIN_ALBUM, 0, 0, 1 }, 4.0 },
        // The album's peak goes with the album's gain: -12 + 15 = +3 dB on 0.9 is held at 1 / 0.9.
        { "album peak", both, { VBMP3_REPLAYGAIN_ALBUM, 150, 0, 1 }, -20 * std::log10(0.9) },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_NEAR(vbmp3::gainFactor(row.tags, row.option), std::pow(10.0, row.db / 20.0), 1e-6);
    }
    EXPECT_EQ(vbmp3::gainFactor(both, kOff), 1.0f);
    for (const ReplayGainOption bad : { ReplayGainOption { 3, 0, 0, 1 }, ReplayGainOption { 1, 151, 0, 1 },
             ReplayGainOption { 1, 0, -151, 1 }, ReplayGainOption { 1, 0, 0, 2 } })
        EXPECT_FALSE(vbmp3::validReplayGain(bad));
    EXPECT_TRUE(vbmp3::validReplayGain({ VBMP3_REPLAYGAIN_ALBUM, -150, 150, 0 }));
}

// A -6.02 dB track plays at half amplitude, album in album mode, bit for bit when off; +6 dB on a full-scale track is
// held by its peak, or cut at full scale without clipping prevention; bad calls refused.
TEST_F(ReplayGain, TaggedTrackPlaysScaledByItsModeAndOffIsBitExact)
{
    const Pcm in = decodeDirect(tone());
    ASSERT_EQ(in.frames(), 2u * 44100u);
    const std::string file = tagged(tone(), "rg-half.flac",
        comments<TagLib::FLAC::File>(
            { { "REPLAYGAIN_TRACK_GAIN", "-6.02 dB" }, { "REPLAYGAIN_ALBUM_GAIN", "-12.04 dB" } }));
    const double half = std::pow(10.0, -6.02 / 20.0), quarter = std::pow(10.0, -12.04 / 20.0);
    ASSERT_NEAR(half, 0.5, 1e-3);
    EXPECT_TRUE(play(file, kOff).samples == in.samples);
    expectScaled(play(file, kTrack), in, half);
    expectScaled(play(file, kAlbum), in, quarter);
    expectScaled(play(tone(), { VBMP3_REPLAYGAIN_ALBUM, 0, -60, 1 }), in, std::pow(10.0, -6.0 / 20.0));

    const std::string loud = fixture("rg-loud.flac",
        "sox -n -r 44100 -c 1 -b 16 rg-loud.wav synth 1 sine 1000 gain -0.01 && flac -s -f -o %o rg-loud.wav");
    const std::string loudFile = tagged(loud, "rg-loud-tagged.flac",
        comments<TagLib::FLAC::File>(
            { { "REPLAYGAIN_TRACK_GAIN", "+6.00 dB" }, { "REPLAYGAIN_TRACK_PEAK", "1.000000" } }));
    EXPECT_TRUE(play(loudFile, kTrack).samples == decodeDirect(loud).samples);
    const Pcm clipped = play(loudFile, { VBMP3_REPLAYGAIN_TRACK, 0, 0, 0 });
    expectScaled(clipped, decodeDirect(loud), std::pow(10.0, 6.0 / 20.0));
    EXPECT_GT(
        std::count_if(clipped.samples.begin(), clipped.samples.end(), [](int16_t s) { return std::abs(s) >= 32767; }),
        ptrdiff_t(clipped.samples.size() / 3));

    EXPECT_EQ(vbmp3_setReplayGain(nullptr), 0);
    const ReplayGainOption bad { VBMP3_REPLAYGAIN_TRACK, 200, 0, 1 };
    EXPECT_EQ(vbmp3_setReplayGain(&bad), 0);
    vbmp3_free();
    EXPECT_EQ(vbmp3_setReplayGain(&kTrack), 0);
}

// Gapless from a track tagged -6.02 dB into one without values: the gain changes at the join's first sample.
TEST_F(ReplayGain, GainSwitchesAtTheJoinSample)
{
    const std::string first
        = tagged(tone(), "rg-join-a.flac", comments<TagLib::FLAC::File>({ { "REPLAYGAIN_TRACK_GAIN", "-6.02 dB" } }));
    const std::string second = fixture("rg-join-b.flac",
        "sox -n -r 44100 -c 2 -b 16 rg-join-b.wav synth 0.7 sine 300 sine 900 gain -2 && flac -s -f -o %o "
        "rg-join-b.wav");
    const Pcm a = decodeDirect(first), b = decodeDirect(second);
    const int joinsBefore = reports().joins;
    const Pcm out = play(first, kTrack, second);
    EXPECT_EQ(reports().joins, joinsBefore + 1);
    Pcm expected = a;
    for (int16_t &s : expected.samples)
        s = int16_t(std::lround(s * std::pow(10.0, -6.02 / 20.0)));
    expected.samples.insert(expected.samples.end(), b.samples.begin(), b.samples.end());
    expectScaled(out, expected, 1.0);
    // The second track is loud from its first milliseconds, so a gain that changed late would show.
    EXPECT_GT(*std::max_element(b.samples.begin(), b.samples.begin() + 200), 8000);
}
