#include "textcodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace kes
{

namespace
{

bool isTrail(unsigned char c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}
bool isAsciiLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string convert(const char *to, const char *from, std::string_view in, bool *ok, const char *replacement)
{
    if (ok)
        *ok = true;
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (ok)
            *ok = false;
        return out;
    }
    out.reserve(in.size() * 2);
    char *src = const_cast<char *>(in.data());
    size_t left = in.size();
    char buf[1024];
    while (left > 0) {
        char *dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (truncated sequence at the end): replace one byte.
            if (ok)
                *ok = false;
            out += replacement;
            ++src;
            --left;
        }
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv_close(cd);
    return out;
}

std::string latin1ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isAscii(std::string_view bytes)
{
    for (unsigned char c : bytes)
        if (c >= 0x80)
            return false;
    return true;
}

// How Japanese the bytes look when read as CP932: > 0 speaks for CP932, < 0 against.
// Structurally invalid bytes or user-defined characters rule it out.  A double-byte
// character whose trail is an ASCII letter and that stands inside or at the end of a
// word of ASCII letters is the typical shape of an accented Latin-1 word ("Céline":
// E9 6C 69, "Monáe/": E1 65 2F), so it speaks against.
int cp932Score(std::string_view bytes)
{
    int score = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80)
            continue;
        if (c >= 0xA1 && c <= 0xDF) { // half-width katakana
            score += 1;
            continue;
        }
        if (!isCp932LeadByte(c) || i + 1 >= bytes.size())
            return -1000;
        unsigned char t = static_cast<unsigned char>(bytes[i + 1]);
        if (!isTrail(t))
            return -1000;
        if (c >= 0xF0) // user-defined area: not in real text
            return -1000;
        const bool prevLetter = i > 0 && isAsciiLetter(static_cast<unsigned char>(bytes[i - 1]));
        const bool nextLetter = i + 2 >= bytes.size() || isAsciiLetter(static_cast<unsigned char>(bytes[i + 2]));
        const bool latinShape = isAsciiLetter(t) && (prevLetter || nextLetter);
        score += latinShape ? -1 : 2;
        ++i;
    }
    return score;
}

} // namespace

bool isValidUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        for (size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size())
                return false;
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::string cp932ToUtf8(std::string_view bytes, bool *ok)
{
    return convert("UTF-8", "CP932", bytes, ok, "\xEF\xBF\xBD");
}

std::string utf8ToCp932(std::string_view utf8, bool *ok)
{
    return convert("CP932", "UTF-8", utf8, ok, "?");
}

std::string systemOrCp932ToUtf8(std::string_view bytes)
{
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    if (isValidUtf8(bytes))
        return std::string(bytes);
    bool ok = false;
    std::string s = cp932ToUtf8(bytes, &ok);
    return ok ? s : latin1ToUtf8(bytes);
}

std::string latin1TagToUtf8(std::string_view bytes)
{
    if (isAscii(bytes))
        return std::string(bytes);
    // Real CP932 text is almost never valid UTF-8 (kanji lead bytes are UTF-8
    // continuation bytes), so valid UTF-8 wins.
    if (isValidUtf8(bytes))
        return std::string(bytes);
    if (cp932Score(bytes) > 0) {
        bool ok = false;
        std::string s = cp932ToUtf8(bytes, &ok);
        if (ok)
            return s;
    }
    return latin1ToUtf8(bytes);
}

std::size_t utf8CutLength(std::string_view s, std::size_t maxBytes)
{
    if (s.size() <= maxBytes)
        return s.size();
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

} // namespace kes
