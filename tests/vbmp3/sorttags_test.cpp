// Sort tags of every tag kind, written by mutagen into files the encoders made.
#include "enginetestsupport.h"
#include "vbmp3.h"

#include <gtest/gtest.h>

#include <tuple>

namespace
{

// Writes the sort tags given after the path (title, artist, album, album artist; "-" for
// none) in the way the file's kind keeps them; "id3v23" writes an ID3v2.3 tag.
constexpr const char *kWriter = R"(import sys
from mutagen import File
from mutagen.id3 import ID3, TSOT, TSOP, TSOA, TSO2
from mutagen.wavpack import WavPack
path, kind, values = sys.argv[1], sys.argv[2], sys.argv[3:]
if kind.startswith("id3"):
    tag = ID3()
    for frame, value in zip((TSOT, TSOP, TSOA, TSO2), values):
        if value != "-":
            tag.add(frame(encoding=3, text=value.split("|")))
    tag.save(path, v2_version=3 if kind == "id3v23" else 4)
    sys.exit(0)
f = WavPack(path) if kind == "ape" else File(path)
if f.tags is None:
    f.add_tags()
keys = {"vorbis": ("TITLESORT", "ARTISTSORT", "ALBUMSORT", "ALBUMARTISTSORT"),
        "mp4": ("sonm", "soar", "soal", "soaa"),
        "ape": ("TitleSort", "ArtistSort", "AlbumSort", "AlbumArtistSort")}[kind]
f.tags["TITLE" if kind != "mp4" else "\u00a9nam"] = "kept"
for key, value in zip(keys, values):
    if value != "-":
        f.tags[key] = value.split("|")
f.save()
)";

} // namespace

TEST(SortTags, EveryTagKindAsMutagenWroteIt)
{
    if (!run("command -v sox && command -v lame && command -v flac && command -v oggenc && command -v opusenc"
             " && command -v ffmpeg && command -v wavpack && /usr/bin/python3 -c 'import mutagen'"))
        GTEST_SKIP() << "the encoders and python3-mutagen are needed to make the fixtures";
    const std::string writer = writeFile(workDir() / "write-sort.py", kWriter);
    const std::string wav = fixture("sort.wav", "sox -n -r 44100 -c 2 -b 16 %o synth 0.2 sine 440");
    const struct {
        const char *name, *make, *kind;
        std::string title, artist, album, albumArtist; // also what is written ("|" between values)
    } rows[] = {
        { "v24.mp3", "lame --quiet sort.wav %o", "id3", "さくら", "ヤマダ タロウ", "はる", "ヤマダ" },
        { "v23.mp3", "lame --quiet sort.wav %o", "id3v23", "-", "Beatles", "Abbey Road", "-" },
        { "sort.flac", "flac -s -f -o %o sort.wav", "vorbis", "あお", "スズキ|サトウ", "-", "スズキ" },
        { "sort.ogg", "oggenc -Q -o %o sort.wav", "vorbis", "-", "-", "あき", "-" },
        { "sort.opus", "opusenc --quiet sort.wav %o", "vorbis", "なつ", "-", "-", "-" },
        { "sort.m4a", "ffmpeg -v error -y -i sort.wav -c:a aac %o", "mp4", "ふゆ", "タナカ", "ゆき", "タナカ ケ" },
        { "sort.wv", "wavpack -q -y sort.wav -o %o", "ape", "つき", "ホシ", "そら", "-" },
        { "none.flac", "flac -s -f -o %o sort.wav", "vorbis", "-", "-", "-", "-" },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = fixture(row.name,
            std::string(row.make) + " && /usr/bin/python3 " + writer + " %o " + row.kind + " '" + row.title + "' '"
                + row.artist + "' '" + row.album + "' '" + row.albumArtist + "'");
        ASSERT_FALSE(path.empty());
        const auto read = [](const std::string &written) {
            std::string text = written == "-" ? std::string() : written;
            for (size_t at; (at = text.find('|')) != std::string::npos;)
                text.replace(at, 1, " / ");
            return text;
        };
        SortTags tags;
        std::memset(&tags, 'x', sizeof tags);
        const int32_t result = vbmp3_getFileSortTags(path.c_str(), &tags);
        EXPECT_EQ(std::tuple(std::string(tags.title), std::string(tags.artist), std::string(tags.album),
                      std::string(tags.albumArtist)),
            std::tuple(read(row.title), read(row.artist), read(row.album), read(row.albumArtist)));
        EXPECT_EQ(result, std::string(row.name) == "none.flac" ? 0 : 1);
    }
    SortTags tags;
    EXPECT_EQ(vbmp3_getFileSortTags((workDir() / "absent.mp3").c_str(), &tags), 0);
    EXPECT_EQ(vbmp3_getFileSortTags(wav.c_str(), &tags), 0);
}
