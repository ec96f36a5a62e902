// Text in files and tags comes either in the system code page (UTF-8 on Linux) or as
// Shift-JIS (CP932) bytes written on Japanese Windows.  These functions own the rules for
// telling them apart and converting; everything else in the program goes through them.
// Plain C++ (no Qt), thread-safe, so the decoder library links them too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kes
{

bool isValidUtf8(std::string_view bytes);

// True for the first byte of a CP932 double-byte character (0x81-0x9F, 0xE0-0xFC).
constexpr bool isCp932LeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Strict CP932 (Microsoft mapping: 0x5C is '\', 0x8160 is U+301C).  ok is false when a
// byte sequence is not CP932; the bad bytes become U+FFFD.
std::string cp932ToUtf8(std::string_view bytes, bool *ok = nullptr);
// ok is false when a character has no CP932 form; it becomes '?'.
std::string utf8ToCp932(std::string_view utf8, bool *ok = nullptr);

// Bytes of a file that may come from either world (playlists, lyrics, settings): valid
// UTF-8 stays as it is (a UTF-8 BOM is dropped), otherwise CP932 when it decodes cleanly,
// otherwise Windows-1252 (Latin-1 with its punctuation in 0x80-0x9F).
std::string systemOrCp932ToUtf8(std::string_view bytes);

// How a text field marked Latin-1 (ID3v1, ID3v2 encoding 0) reads in either world, for
// bytes that are neither ASCII nor valid UTF-8 (for those it is empty):
//  - valid: the bytes are CP932 (a lone lead byte at the very end, cutLead, is taken as a
//    character a writer cut in two);
//  - japanese: points for the characters of the CP932 reading: 2 for each kana, kanji of
//    level 1, Japanese punctuation or full-width form (lead 0x81-0x9F), 1 for each kanji of
//    level 2 (lead 0xE0-0xFC), none for a pair that is the shape of a letter or apostrophe
//    inside a Western word (it follows an ASCII letter and its trail is one: "Céline" E9 6C,
//    "Don’t" 92 74); 1 for each half-width katakana that stands next to another Japanese
//    character (alone between ASCII letters it is ß, É or Ø);
//  - western: points for the high bytes of the Windows-1252 reading: 1 for each letter or
//    apostrophe beside an ASCII letter, each opening or closing quote at the start or end
//    of a word, each dash or ellipsis beside a blank.
// Evidence adds up over the fields of one tag.
struct Cp932Evidence {
    bool valid = true;
    bool cutLead = false;
    int japanese = 0;
    int western = 0;
    Cp932Evidence &operator+=(const Cp932Evidence &other);
};
Cp932Evidence cp932Evidence(std::string_view bytes);

// A tag field that claims to be Latin-1: ASCII and valid UTF-8 stay; bytes that are
// CP932 are taken as CP932 when the Japanese points outweigh the Western ones (a cut last
// character is then dropped); anything else is read as Windows-1252.  The first form
// judges the field alone, the second by `tag`, the evidence of all its tag's fields
// added up (a field that is not CP932 stays Windows-1252 either way).
std::string latin1TagToUtf8(std::string_view bytes);
std::string latin1TagToUtf8(std::string_view bytes, const Cp932Evidence &tag);

// The largest length <= maxBytes at which a UTF-8 text can be cut without splitting a
// character.
std::size_t utf8CutLength(std::string_view utf8, std::size_t maxBytes);

} // namespace kes
