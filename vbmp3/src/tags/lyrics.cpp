#include "lyrics.h"

#include "common/bytereader.h"
#include "fileinfo.h"

#include <textcodec.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace vbmp3
{

namespace
{

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view trimmed(std::string_view s)
{
    const auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

// "mm:ss", "mm:ss.x", "mm:ss.xx", "mm:ss.xxx" or with ':' before the fraction.
std::optional<int64_t> parseStamp(std::string_view s)
{
    size_t i = 0;
    int64_t minutes = 0;
    while (i < s.size() && isDigit(s[i]) && i < 6)
        minutes = minutes * 10 + (s[i++] - '0');
    if (i == 0 || i >= s.size() || s[i] != ':')
        return std::nullopt;
    const size_t secStart = ++i;
    int64_t seconds = 0;
    while (i < s.size() && isDigit(s[i]) && i - secStart < 2)
        seconds = seconds * 10 + (s[i++] - '0');
    if (i == secStart)
        return std::nullopt;
    int64_t ms = (minutes * 60 + seconds) * 1000;
    if (i == s.size())
        return ms;
    if (s[i] != '.' && s[i] != ':')
        return std::nullopt;
    const size_t fracStart = ++i;
    int64_t frac = 0;
    while (i < s.size() && isDigit(s[i]) && i - fracStart < 3)
        frac = frac * 10 + (s[i++] - '0');
    const size_t digits = i - fracStart;
    if (digits == 0 || i != s.size())
        return std::nullopt;
    static const int64_t scale[4] = { 0, 100, 10, 1 };
    return ms + frac * scale[digits];
}

std::optional<int64_t> parseOffset(std::string_view s)
{
    s = trimmed(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), isDigit))
        return std::nullopt;
    int64_t v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return negative ? -v : v;
}

struct ParsedLine {
    std::vector<int64_t> stamps;
    bool tagOnly = false; // [ar:...], [offset:...] and the like, no stamp
    std::optional<int64_t> offset;
    std::string_view text;
};

ParsedLine parseLine(std::string_view line)
{
    ParsedLine p;
    std::string_view rest = trimmed(line);
    bool tag = false;
    while (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos)
            break;
        const std::string_view inner = rest.substr(1, close - 1);
        if (const auto stamp = parseStamp(inner)) {
            if (p.stamps.size() < LyricsTimeline::kMaxStamps)
                p.stamps.push_back(*stamp);
        } else {
            const size_t colon = inner.find(':');
            if (colon == 0 || colon == std::string_view::npos)
                break;
            const std::string_view key = inner.substr(0, colon);
            if (!std::all_of(key.begin(), key.end(),
                    [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#'; }))
                break; // brackets that belong to the text
            std::string lower(key);
            for (char &c : lower)
                c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
            if (lower == "offset")
                p.offset = parseOffset(inner.substr(colon + 1));
            tag = true;
        }
        rest = trimmed(rest.substr(close + 1));
    }
    p.tagOnly = tag && p.stamps.empty();
    p.text = rest;
    return p;
}

// At most LyricsTimeline::kMaxLines lines.
std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size() && lines.size() < LyricsTimeline::kMaxLines; ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size() && lines.size() < LyricsTimeline::kMaxLines)
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace

LyricsTimeline LyricsTimeline::fromLyrics3(std::string_view utf8)
{
    LyricsTimeline t;
    std::vector<std::string_view> untimed;
    int64_t offset = 0;
    for (std::string_view line : splitLines(utf8)) {
        ParsedLine p = parseLine(line);
        if (p.offset)
            offset = *p.offset;
        if (p.tagOnly)
            continue;
        if (p.stamps.empty()) {
            untimed.push_back(p.text);
            continue;
        }
        if (t.m_lines.size() >= kMaxStamps)
            continue;
        const auto index = static_cast<uint32_t>(t.m_texts.size());
        t.m_texts.emplace_back(p.text);
        for (size_t i = 0; i < p.stamps.size() && t.m_lines.size() < kMaxStamps; ++i)
            t.m_lines.push_back({ p.stamps[i], index });
    }
    if (!t.m_lines.empty()) {
        // A positive offset shows the lyrics earlier.
        for (Line &l : t.m_lines)
            l.ms = std::max<int64_t>(0, l.ms - offset);
        std::stable_sort(t.m_lines.begin(), t.m_lines.end(), [](const Line &a, const Line &b) { return a.ms < b.ms; });
        t.m_timed = true;
        return t;
    }
    while (!untimed.empty() && untimed.back().empty())
        untimed.pop_back();
    size_t first = 0;
    while (first < untimed.size() && untimed[first].empty())
        ++first;
    for (size_t i = first; i < untimed.size(); ++i) {
        t.m_lines.push_back({ 0, static_cast<uint32_t>(t.m_texts.size()) });
        t.m_texts.emplace_back(untimed[i]);
    }
    return t;
}

LyricsTimeline LyricsTimeline::fromText(std::string_view bytes)
{
    return fromLyrics3(kes::systemOrCp932ToUtf8(bytes));
}

std::optional<LyricsTimeline> LyricsTimeline::fromFile(const std::string &path)
{
    // One open, checked and read through the same descriptor: a path that turns into a
    // named pipe after the caller looked at it is refused here instead of blocking.
    FileReader file(path);
    if (!file.isOpen() || file.size() > kMaxFileBytes)
        return std::nullopt;
    const std::string bytes = file.read(0, kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes)
        return std::nullopt;
    return fromText(bytes);
}

void LyricsTimeline::spreadOver(int64_t durationMs)
{
    if (m_timed || m_lines.empty())
        return;
    const int64_t n = static_cast<int64_t>(m_lines.size());
    durationMs = std::max<int64_t>(durationMs, 0);
    for (int64_t i = 0; i < n; ++i)
        m_lines[size_t(i)].ms = durationMs / n * i + durationMs % n * i / n;
}

int64_t LyricsTimeline::msUntilNext(int64_t ms) const
{
    const auto after
        = std::upper_bound(m_lines.begin(), m_lines.end(), ms, [](int64_t t, const Line &l) { return t < l.ms; });
    return after == m_lines.end() ? -1 : after->ms - ms;
}

void LyricsTimeline::fill(int64_t ms, LyricsLines *out) const
{
    if (!out)
        return;
    std::memset(out, 0, sizeof *out);
    const auto after
        = std::upper_bound(m_lines.begin(), m_lines.end(), ms, [](int64_t t, const Line &l) { return t < l.ms; });
    const int64_t current = (after - m_lines.begin()) - 1;
    out->current = static_cast<int32_t>(current);
    char *fields[5] = { out->line0, out->line1, out->line2, out->line3, out->line4 };
    for (int k = 0; k < 5; ++k) {
        const int64_t index = current - 2 + k;
        if (index >= 0 && index < static_cast<int64_t>(m_lines.size()))
            fillField(fields[k], 128, text(m_lines[size_t(index)]));
    }
}

} // namespace vbmp3
