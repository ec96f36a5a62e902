// A track's lyrics as a timeline: lines with the time at which each becomes current.
#pragma once

#include "vbmp3.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vbmp3
{

class LyricsTimeline
{
public:
    struct Line {
        int64_t ms; // time at which the line becomes current
        uint32_t text; // index into texts(): a line with several stamps keeps one copy
    };

    // Budgets per lyrics text, so that a hostile file costs no more than a real one:
    // lines read (the rest is ignored) and timeline entries (stamps beyond are dropped).
    // A real LRC holds a few hundred of each.
    static constexpr size_t kMaxLines = 20000;
    static constexpr size_t kMaxStamps = 50000;

    // Parses a lyrics text file's bytes (UTF-8 with or without BOM, or CP932).  LRC time
    // stamps [mm:ss], [mm:ss.xx] and [mm:ss:xx], several on one line, [offset:+/-ms];
    // other [tag:] lines are dropped.  A text without any stamp gives untimed lines,
    // which spreadOver() places evenly.  Line endings CR LF, LF or CR.
    static LyricsTimeline fromText(std::string_view bytes);
    // A lyrics text file of at most kMaxFileBytes, read and parsed as fromText; nullopt
    // when it cannot be read or is larger (then it is no lyrics file).
    static constexpr size_t kMaxFileBytes = 1 << 20;
    static std::optional<LyricsTimeline> fromFile(const std::string &path);
    // Lyrics3 text (already UTF-8, lines separated by '\n') with [mm:ss] stamps or none.
    static LyricsTimeline fromLyrics3(std::string_view text);

    // Spreads untimed lines evenly over a track of the given length; timed ones stay.
    void spreadOver(int64_t durationMs);

    bool empty() const { return m_lines.empty(); }
    const std::vector<Line> &lines() const { return m_lines; }
    std::string_view text(const Line &line) const { return m_texts[line.text]; }

    // The five lines around what is heard at ms (see LyricsLines in vbmp3.h).
    void fill(int64_t ms, LyricsLines *out) const;
    // Milliseconds from ms until the next line becomes current; -1 when none follows.
    int64_t msUntilNext(int64_t ms) const;

private:
    std::vector<Line> m_lines; // sorted by time
    std::vector<std::string> m_texts; // UTF-8, each text once
    bool m_timed = false;
};

} // namespace vbmp3
