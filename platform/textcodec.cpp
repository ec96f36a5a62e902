#include "textcodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <vector>

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
bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}
bool isHalfWidthKatakana(unsigned char c)
{
    return c >= 0xA1 && c <= 0xDF;
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

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252's characters in 0x80-0x9F; 0 where it has none (the byte stays the C1
// control character Latin-1 makes of it).
constexpr char16_t kCp1252High[32] = { 0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030,
    0x0160, 0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178 };

std::string windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        const char16_t mapped = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : 0;
        appendUtf8(out, mapped ? mapped : c);
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

// Read as Windows-1252: a letter (accented Latin letters, also Š Œ Ž š œ ž Ÿ).
bool isWesternLetter(unsigned char c)
{
    return (c >= 0xC0 && c != 0xD7 && c != 0xF7) || c == 0x8A || c == 0x8C || c == 0x8E || c == 0x9A || c == 0x9C
        || c == 0x9E || c == 0x9F;
}

// CP932 lead bytes of rows that hold characters (0x85, 0x86, 0xEB, 0xEC, 0xEF and the
// user-defined 0xF0-0xF9 hold none in real text).
bool isUsedLead(unsigned char c)
{
    return isCp932LeadByte(c) && c != 0x85 && c != 0x86 && c != 0xEB && c != 0xEC && c != 0xEF
        && (c < 0xF0 || c > 0xF9);
}

} // namespace

Cp932Evidence &Cp932Evidence::operator+=(const Cp932Evidence &other)
{
    valid = valid && other.valid;
    japanese += other.japanese;
    western += other.western;
    return *this;
}

Cp932Evidence cp932Evidence(std::string_view bytes)
{
    Cp932Evidence e;
    if (isValidUtf8(bytes))
        return e; // ASCII or UTF-8: no CP932 to judge
    const size_t n = bytes.size();
    const auto at = [&](size_t i) { return i < n ? static_cast<unsigned char>(bytes[i]) : 0; };
    const auto space = [](unsigned char c) { return c == 0 || c == ' ' || c == '\t' || c == '(' || c == ')'; };

    // Western points: high bytes that, read as Windows-1252, are letters or punctuation
    // in the place they take in words.
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = at(i);
        if (c < 0x80)
            continue;
        const unsigned char prev = i > 0 ? at(i - 1) : 0, next = at(i + 1);
        const bool letterBeside = isAsciiLetter(prev) || isAsciiLetter(next);
        bool western = false;
        if (isWesternLetter(c) || c == 0x92) // letters, and the apostrophe
            western = letterBeside;
        else if (c == 0x91 || c == 0x93) // opening quotes
            western = space(prev) && isAsciiLetter(next);
        else if (c == 0x94) // closing quote
            western = isAsciiLetter(prev) && (space(next) || next == ',' || next == '.');
        else if (c == 0x85) // ellipsis
            western = next == 0 || next == ' ' || prev == ' ';
        else if (c == 0x96 || c == 0x97) // dashes, between words or numbers
            western = prev == ' ' || next == ' ' || (isDigit(prev) && isDigit(next));
        e.western += western ? 1 : 0;
    }

    // Japanese points, from the characters of the CP932 reading.
    enum class Kind { None, AsciiLetter, Ascii, Double, HalfWidth };
    std::vector<Kind> kinds;
    kinds.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = at(i);
        if (c < 0x80) {
            kinds.push_back(isAsciiLetter(c) ? Kind::AsciiLetter : Kind::Ascii);
            continue;
        }
        if (isHalfWidthKatakana(c)) {
            kinds.push_back(Kind::HalfWidth);
            continue;
        }
        if (!isUsedLead(c)) {
            e.valid = false;
            e.japanese = 0;
            return e;
        }
        if (i + 1 == n) { // a character cut off at the end
            e.cutLead = true;
            break;
        }
        const unsigned char trail = at(i + 1);
        if (!isTrail(trail)) {
            e.valid = false;
            e.japanese = 0;
            return e;
        }
        // A letter or apostrophe inside a Western word reads as a lead byte whose trail is
        // the ASCII letter after it ("Céline": E9 6C, "Don’t": 92 74): no Japanese point.
        const bool westernShape = (isWesternLetter(c) || c == 0x92 || (c >= 0xFA && c <= 0xFC)) && !kinds.empty()
            && kinds.back() == Kind::AsciiLetter && isAsciiLetter(trail);
        if (!westernShape)
            e.japanese += c <= 0x9F ? 2 : 1; // kana, punctuation, level-1 kanji : level-2 kanji
        kinds.push_back(Kind::Double);
        ++i;
    }
    for (size_t k = 0; k < kinds.size(); ++k) {
        if (kinds[k] != Kind::HalfWidth)
            continue;
        const auto japanese = [](Kind kind) { return kind == Kind::HalfWidth || kind == Kind::Double; };
        if ((k > 0 && japanese(kinds[k - 1])) || (k + 1 < kinds.size() && japanese(kinds[k + 1])))
            e.japanese += 1;
    }
    return e;
}

bool looksJapanese(const Cp932Evidence &evidence)
{
    return evidence.valid && evidence.japanese > evidence.western;
}

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
    return ok ? s : windows1252ToUtf8(bytes);
}

std::string latin1TagToUtf8(std::string_view bytes)
{
    return latin1TagToUtf8(bytes, cp932Evidence(bytes));
}

std::string latin1TagToUtf8(std::string_view bytes, const Cp932Evidence &tag)
{
    // Real CP932 text is almost never valid UTF-8 (kanji lead bytes are UTF-8
    // continuation bytes), so valid UTF-8 wins.
    if (isAscii(bytes) || isValidUtf8(bytes))
        return std::string(bytes);
    const Cp932Evidence own = cp932Evidence(bytes);
    if (own.valid && tag.japanese > tag.western) {
        bool ok = false;
        std::string s = cp932ToUtf8(own.cutLead ? bytes.substr(0, bytes.size() - 1) : bytes, &ok);
        if (ok)
            return s;
    }
    return windows1252ToUtf8(bytes);
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
