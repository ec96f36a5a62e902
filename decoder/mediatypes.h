// The file types the player takes, in one table: the endings that make playlist rows and
// how each fills its row, the decoder library's type codes that stand for each, the
// folder-search flags of the types added after the classic seven, and the MIME types the
// desktop is told of.  Everything that decides by a file's name or type code reads it:
// rows, drops, the folder search's pattern and options, the lyrics file's name, the media
// controls; app/data/kestrine.desktop and the AppStream file list the same MIME types (a
// test holds them to the table).  No I/O; any thread.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstdint>
#include <span>

namespace kes
{

struct MediaType {
    // What a row of the type shows before and after its tags are read.
    enum class Row : quint8 {
        Tagged, // the tag title or the file name, the tag artist or "No Data", the tag album
        Listed, // the RIFF list's texts, else the tags' (RMP)
        Named, // the file name as title and album, label as artist
    };
    // Lower case, without the dot.  A name is of the type when its last characters are
    // the ending in lower case or in upper case ("flac", "FLAC"; not "Flac").
    const char *ending;
    Row row;
    const char *label; // Named: the Artist cell
    // The vbmp3_getFileType codes whose files are of this kind by content; -1 pads.
    std::array<int16_t, 4> typeCodes;
    // An added type's key in the settings section 検索設定 (its folder-search flag, shown
    // as a box captioned with the ending); nullptr for the classic types, whose seven flags
    // are fixed fields of the settings.
    const char *searchKey;
    // Its MIME types, ";"-separated; may be empty.
    const char *mimeTypes;
};

inline constexpr MediaType kMediaTypes[] = {
    // The classic twelve spellings.  A WAV file ending in an ID3v1 tag counts as RMP, and
    // the code 4 as MPEG, as the player always mapped them.
    { "avi", MediaType::Row::Named, "AVI File", { -1, -1, -1, -1 }, nullptr, "video/x-msvideo" },
    { "wma", MediaType::Row::Named, "WMA File", { -1, -1, -1, -1 }, nullptr, "audio/x-ms-wma" },
    { "mp3", MediaType::Row::Tagged, nullptr, { 0, 4, 16, 48 }, nullptr, "audio/mpeg" },
    { "rmp", MediaType::Row::Listed, nullptr, { 2, 17, 18, 50 }, nullptr, "" },
    { "wav", MediaType::Row::Named, "WAV File", { 1, -1, -1, -1 }, nullptr, "audio/x-wav" },
    { "mpg", MediaType::Row::Named, "MPEG File", { 8, -1, -1, -1 }, nullptr, "video/mpeg" },
    // The formats the decoder library added; their rows read their tags as MP3 rows do.
    // An ".ogg" or ".oga" file may hold Vorbis, Opus or FLAC: the name and the content are
    // asked separately, as for the classic types.
    { "flac", MediaType::Row::Tagged, nullptr, { 3, 5, -1, -1 }, "FLAC", "audio/flac" },
    { "ogg", MediaType::Row::Tagged, nullptr, { 6, -1, -1, -1 }, "OGG",
        "audio/ogg;audio/x-vorbis+ogg;audio/x-flac+ogg" },
    { "oga", MediaType::Row::Tagged, nullptr, { -1, -1, -1, -1 }, "OGA", "" },
    { "opus", MediaType::Row::Tagged, nullptr, { 7, -1, -1, -1 }, "OPUS", "audio/x-opus+ogg" },
    { "m4a", MediaType::Row::Tagged, nullptr, { 9, -1, -1, -1 }, "M4A", "audio/mp4" },
    { "wv", MediaType::Row::Tagged, nullptr, { 10, -1, -1, -1 }, "WV", "audio/x-wavpack" },
    { "ape", MediaType::Row::Tagged, nullptr, { 11, -1, -1, -1 }, "APE", "audio/x-ape" },
};

// The playlist types the player reads, taken by a drop (not by name alone) and offered to
// the desktop; one entry a format.
inline constexpr const char *kPlaylistMimeTypes[] = {
    "audio/x-mpegurl", // M3U (and M3U8)
    "application/vnd.apple.mpegurl", // M3U8
    "audio/x-scpls", // PLS
};

// The added types, those with a searchKey, come last in the table.
inline constexpr int kAddedTypeCount = [] {
    int n = 0;
    for (const MediaType &t : kMediaTypes)
        n += t.searchKey ? 1 : 0;
    return n;
}();
inline constexpr int kFirstAddedType = static_cast<int>(std::size(kMediaTypes)) - kAddedTypeCount;

// The added types in table order (the order of their flags and of the search pattern).
inline std::span<const MediaType> addedMediaTypes()
{
    return std::span<const MediaType>(kMediaTypes).subspan(kFirstAddedType);
}

// The type a path's ending names, or nullptr.
const MediaType *mediaTypeOfName(QStringView path);
// The type whose content a vbmp3_getFileType code stands for, or nullptr (-1, unknown codes).
const MediaType *mediaTypeOfCode(int32_t typeCode);
// The type of an ending as the table spells it ("flac"), or nullptr.
const MediaType *mediaTypeOfEnding(QStringView ending);
// Every MIME type of the table, then the playlists', each once, in table order.
QStringList supportedMimeTypes();

} // namespace kes
