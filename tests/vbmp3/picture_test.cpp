// Embedded covers: each container, which picture wins, the C buffer contract, and the read budget.
#include "enginetestsupport.h"
#include "tags/fileparse.h"
#include "vbmp3.h"

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sys/stat.h>

namespace
{

using Bytes = TagLib::ByteVector;

// Picture bytes whose first bytes name their format; the rest tells them apart.
std::string jpeg(const std::string &mark)
{
    return "\xFF\xD8\xFF\xE0" + mark + std::string(200, 'j');
}
std::string png(const std::string &mark)
{
    return "\x89PNG\r\n\x1A\n" + mark + std::string(100, 'p');
}
Bytes bytes(const std::string &s)
{
    return Bytes(s.data(), static_cast<unsigned int>(s.size()));
}

TagLib::ID3v2::AttachedPictureFrame *apic(
    TagLib::ID3v2::AttachedPictureFrame::Type type, const char *mime, const std::string &data)
{
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setType(type);
    frame->setMimeType(mime);
    frame->setPicture(bytes(data));
    return frame;
}

TagLib::FLAC::Picture *flacPicture(TagLib::FLAC::Picture::Type type, const char *mime, const std::string &data)
{
    auto *p = new TagLib::FLAC::Picture;
    p->setType(type);
    p->setMimeType(mime);
    p->setData(bytes(data));
    return p;
}

// Opens a file with TagLib as `File`, lets `change` change it, and saves it.
template <class File> std::function<void(const std::string &)> tagged(std::function<void(File &)> change)
{
    return [change](const std::string &path) {
        File f(path.c_str());
        change(f);
        f.save();
    };
}

struct Read {
    int32_t size;
    std::string mime;
    std::string data;
};

Read readThroughApi(const std::string &path)
{
    char mime[VBMP3_MIME_TYPE_SIZE];
    const int32_t size = vbmp3_getFilePicture(path.c_str(), nullptr, 0, mime);
    std::string data(static_cast<size_t>(std::max(size, 0)), '\0');
    if (size > 0) {
        EXPECT_EQ(vbmp3_getFilePicture(path.c_str(), data.data(), size, nullptr), size);
    }
    return { size, mime, data };
}

// A reader of `size` bytes that come from a function, counting what is read.
struct GeneratedReader final : vbmp3::ByteReader {
    GeneratedReader(uint64_t size, std::function<char(uint64_t)> byteAt)
        : total(size)
        , at(std::move(byteAt))
    {
    }
    uint64_t size() const override { return total; }
    size_t readAt(uint64_t offset, void *buf, size_t n) override
    {
        nullBuffers += buf == nullptr;
        if (offset >= total)
            return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, total - offset));
        for (size_t i = 0; i < n; ++i)
            static_cast<char *>(buf)[i] = at(offset + i);
        bytesRead += n;
        return n;
    }
    uint64_t total;
    std::function<char(uint64_t)> at;
    uint64_t bytesRead = 0;
    int nullBuffers = 0; // reads into no buffer at all, which readers need not take
};

} // namespace

// Every container's picture read back with its type; the front cover wins; links and non-pictures passed over.
TEST(FilePicture, EachContainerGivesItsCover)
{
    if (!run("sox -n -r 44100 -c 2 -b 16 t.wav synth 0.5 sine 440 && lame --quiet -b 128 t.wav t.mp3"
             " && cp t.mp3 ape.mp3 && cp t.mp3 link.mp3 && cp t.mp3 plain.mp3 && sox t.wav t.aiff"
             " && ffmpeg -v error -y -i t.wav t.flac && ffmpeg -v error -y -i t.wav -c:a libvorbis t.ogg"
             " && ffmpeg -v error -y -i t.wav -c:a libopus t.opus"
             " && ffmpeg -v error -y -i t.wav -c:a aac t.m4a && ffmpeg -v error -y -i t.wav -c:a wavpack t.wv"))
        GTEST_SKIP() << "sox, lame and ffmpeg make the files";
    const auto path = [](const char *name) { return (workDir() / name).string(); };
    using Apic = TagLib::ID3v2::AttachedPictureFrame;
    using FlacPic = TagLib::FLAC::Picture;
    const std::string apeItem = std::string("cover.jpg") + '\0' + jpeg("ape");
    const struct {
        const char *file;
        std::function<void(const std::string &)> put;
        std::string mime, data;
    } cases[] = {
        { "t.mp3", tagged<TagLib::MPEG::File>([](TagLib::MPEG::File &f) {
             f.ID3v2Tag(true)->addFrame(apic(Apic::Other, "image/png", png("other")));
             f.ID3v2Tag()->addFrame(apic(Apic::FrontCover, "image/jpg", jpeg("front"))); // a common misspelling
         }),
            "image/jpeg", jpeg("front") },
        { "ape.mp3",
            [&](const std::string &p) {
                TagLib::MPEG::File f(p.c_str());
                f.APETag(true)->setData("Cover Art (Front)", bytes(apeItem));
                f.save(TagLib::MPEG::File::APE);
            },
            "image/jpeg", jpeg("ape") },
        { "link.mp3", tagged<TagLib::MPEG::File>([](TagLib::MPEG::File &f) {
             f.ID3v2Tag(true)->addFrame(apic(Apic::FrontCover, "-->", "http://example.com/cover.jpg"));
             f.ID3v2Tag()->addFrame(apic(Apic::FrontCover, "text/plain", "not a picture"));
         }),
            "", "" },
        { "t.flac", tagged<TagLib::FLAC::File>([](TagLib::FLAC::File &f) {
             f.addPicture(flacPicture(FlacPic::BackCover, "image/png", png("back")));
             f.addPicture(flacPicture(FlacPic::FrontCover, "image/png", png("flac")));
         }),
            "image/png", png("flac") },
        { "t.ogg", tagged<TagLib::Ogg::Vorbis::File>([](TagLib::Ogg::Vorbis::File &f) {
             f.tag()->addPicture(flacPicture(FlacPic::FrontCover, "image/jpeg", jpeg("vorbis")));
         }),
            "image/jpeg", jpeg("vorbis") },
        { "t.opus", tagged<TagLib::Ogg::Opus::File>([](TagLib::Ogg::Opus::File &f) {
             f.tag()->addPicture(flacPicture(FlacPic::Other, "", png("opus"))); // the type from the bytes
         }),
            "image/png", png("opus") },
        { "t.oga", // TagLib 1.13 cannot save Ogg FLAC: ffmpeg writes the comment
            [](const std::string &p) {
                const std::unique_ptr<FlacPic> pic(flacPicture(FlacPic::FrontCover, "image/jpeg", jpeg("oggflac")));
                const Bytes block = pic->render().toBase64();
                ASSERT_TRUE(run("ffmpeg -v error -y -i t.wav -c:a flac -metadata METADATA_BLOCK_PICTURE="
                    + std::string(block.data(), block.size()) + " " + p));
            },
            "image/jpeg", jpeg("oggflac") },
        { "t.m4a", tagged<TagLib::MP4::File>([](TagLib::MP4::File &f) {
             f.tag()->setItem("covr",
                 TagLib::MP4::CoverArtList().append(
                     TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::PNG, bytes(png("mp4")))));
         }),
            "image/png", png("mp4") },
        { "t.wv", tagged<TagLib::WavPack::File>([&](TagLib::WavPack::File &f) {
             f.APETag(true)->setData("Cover Art (Front)", bytes(apeItem));
         }),
            "image/jpeg", jpeg("ape") },
        { "t.wav", tagged<TagLib::RIFF::WAV::File>([](TagLib::RIFF::WAV::File &f) {
             f.ID3v2Tag()->addFrame(apic(Apic::FrontCover, "image/jpeg", jpeg("wav")));
         }),
            "image/jpeg", jpeg("wav") },
        { "t.aiff", tagged<TagLib::RIFF::AIFF::File>([](TagLib::RIFF::AIFF::File &f) {
             f.tag()->addFrame(apic(Apic::FrontCover, "image/png", png("aiff")));
         }),
            "image/png", png("aiff") },
        { "plain.mp3", nullptr, "", "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        if (c.put)
            c.put(path(c.file));
        const Read r = readThroughApi(path(c.file));
        EXPECT_EQ(r.size, static_cast<int32_t>(c.data.size()));
        EXPECT_EQ(r.mime, c.mime);
        EXPECT_EQ(r.data, c.data);
    }

    // A buffer one byte short gets nothing; the size is told all the same.
    std::string small(jpeg("front").size() - 1, '?');
    char mime[VBMP3_MIME_TYPE_SIZE] = "x";
    EXPECT_EQ(vbmp3_getFilePicture(path("t.mp3").c_str(), small.data(), static_cast<int32_t>(small.size()), mime),
        static_cast<int32_t>(small.size() + 1));
    EXPECT_EQ(small, std::string(small.size(), '?'));
    EXPECT_STREQ(mime, "image/jpeg");
    // Nothing to read: no path, a missing file, a folder, a named pipe (refused without waiting for a writer).
    const std::string fifo = path("pipe.mp3");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const char *p : { "", "/no/such/file.mp3", "/tmp", fifo.c_str() }) {
        EXPECT_EQ(vbmp3_getFilePicture(p, small.data(), 1000, mime), 0) << p;
        EXPECT_STREQ(mime, "");
    }
    EXPECT_EQ(vbmp3_getFilePicture(nullptr, nullptr, 0, nullptr), 0);
}

// A picture above the cap is not handed out; tags claiming too much cost at most the read budget.
TEST(FilePicture, SizesAreBounded)
{
    if (!run("sox -n -r 44100 -c 2 -b 16 big.wav synth 0.2 sine 440 && lame --quiet -b 128 big.wav big.mp3"))
        GTEST_SKIP() << "sox and lame make the file";
    const std::string big = (workDir() / "big.mp3").string();
    {
        TagLib::MPEG::File f(big.c_str());
        const std::string huge = jpeg("huge") + std::string(VBMP3_PICTURE_MAX, 'h');
        f.ID3v2Tag(true)->addFrame(apic(TagLib::ID3v2::AttachedPictureFrame::FrontCover, "image/jpeg", huge));
        f.ID3v2Tag()->addFrame(apic(TagLib::ID3v2::AttachedPictureFrame::BackCover, "image/png", png("small")));
        f.save();
    }
    EXPECT_EQ(readThroughApi(big).data, png("small")) << "the one under the cap";

    const auto syncsafe = [](uint32_t v) {
        return std::string { char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F) };
    };
    const std::string id3Header = "ID3\x03" + std::string(2, '\0') + syncsafe(250u << 20); // 250 MiB of tag
    const std::string flacBlock = "\x06\xFF\xFF\xFF"; // a PICTURE block of 16 MiB, not the last
    const std::string mp4Head
        = std::string("\0\0\0\x18", 4) + "ftypM4A " + std::string(12, '\0') + "\x3F\xFF\xFF\xFFmoov";
    const uint64_t gib = uint64_t(1) << 30;
    const struct {
        const char *what;
        std::function<char(uint64_t)> byteAt;
    } hostile[] = {
        { "ID3v2 of 250 MiB", [&](uint64_t i) { return i < id3Header.size() ? id3Header[i] : 'A'; } },
        { "endless FLAC blocks",
            [&](uint64_t i) {
                return i < 4 ? "fLaC"[i] : (i - 4) % (16777215 + 4) < 4 ? flacBlock[(i - 4) % (16777215 + 4)] : '\0';
            } },
        { "one MP4 atom of a GiB", [&](uint64_t i) { return i < mp4Head.size() ? mp4Head[i] : '\0'; } },
    };
    for (const auto &h : hostile) {
        SCOPED_TRACE(h.what);
        GeneratedReader reader(gib, h.byteAt);
        EXPECT_FALSE(vbmp3::readPicture(reader).has_value());
        EXPECT_LE(reader.bytesRead, uint64_t(25) << 20);
    }
}

// Empty and short FLAC blocks: padding passed over, damaged pictures give none, the reader always gets a buffer.
TEST(FilePicture, DamagedFlacBlocks)
{
    const auto be32 = [](uint32_t v) { return std::string { char(v >> 24), char(v >> 16), char(v >> 8), char(v) }; };
    const auto block = [&](int type, bool last, const std::string &body) {
        return char(type | (last ? 0x80 : 0)) + be32(static_cast<uint32_t>(body.size())).substr(1) + body;
    };
    const std::string streamInfo = block(
        0, false, std::string("\x10\0\x10\0", 4) + std::string(6, '\0') + "\x0A\xC4\x42\xF0" + std::string(20, '\0'));
    const std::string cover = png("flac");
    const std::string picture
        = be32(3) + be32(9) + "image/png" + be32(0) + std::string(16, '\0') + be32(uint32_t(cover.size())) + cover;
    const struct {
        const char *what;
        std::string blocks;
        std::string expected;
    } cases[] = {
        { "empty padding, then the picture", block(1, false, "") + block(6, true, picture), cover },
        { "empty padding last", block(6, false, picture) + block(1, true, ""), cover },
        { "empty picture block", block(6, true, ""), "" },
        { "picture data longer than its block", block(6, true, picture.substr(0, picture.size() - 10)), "" },
        { "picture block past the end", block(6, true, picture).substr(0, 40), "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = "fLaC" + streamInfo + c.blocks + std::string(64, '\0');
        GeneratedReader reader(file.size(), [&](uint64_t i) { return file[i]; });
        const std::optional<vbmp3::Picture> got = vbmp3::readPicture(reader);
        EXPECT_EQ(got ? got->data : "", c.expected);
        EXPECT_EQ(reader.nullBuffers, 0);
    }
}
