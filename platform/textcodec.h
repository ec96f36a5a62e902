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
// otherwise Latin-1.
std::string systemOrCp932ToUtf8(std::string_view bytes);

// A tag field that claims to be Latin-1 (ID3v1, ID3v2 encoding 0): pure ASCII and valid
// UTF-8 stay; bytes that read as Japanese CP932 text are taken as CP932; anything else
// as Latin-1.
std::string latin1TagToUtf8(std::string_view bytes);

// The largest length <= maxBytes at which a UTF-8 text can be cut without splitting a
// character.
std::size_t utf8CutLength(std::string_view utf8, std::size_t maxBytes);

} // namespace kes
