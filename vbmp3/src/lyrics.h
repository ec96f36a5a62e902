// A track's lyrics as a timeline: lines with the time at which each becomes current.
#pragma once

#include "vbmp3.h"

#include <cstdint>
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
        std::string text; // UTF-8
    };

    // Parses a lyrics text file's bytes (UTF-8 with or without BOM, or CP932).  LRC time
    // stamps [mm:ss], [mm:ss.xx] and [mm:ss:xx], several on one line, [offset:+/-ms];
    // other [tag:] lines are dropped.  A text without any stamp gives untimed lines,
    // which spreadOver() places evenly.  Line endings CR LF, LF or CR.
    static LyricsTimeline fromText(std::string_view bytes);
    // Lyrics3 text (already UTF-8, lines separated by '\n') with [mm:ss] stamps or none.
    static LyricsTimeline fromLyrics3(std::string_view text);

    // Spreads untimed lines evenly over a track of the given length; timed ones stay.
    void spreadOver(int64_t durationMs);

    bool empty() const { return m_lines.empty(); }
    const std::vector<Line> &lines() const { return m_lines; }

    // The five lines around what is heard at ms (see LyricsLines in vbmp3.h).
    void fill(int64_t ms, LyricsLines *out) const;
    // Milliseconds from ms until the next line becomes current; -1 when none follows.
    int64_t msUntilNext(int64_t ms) const;

private:
    std::vector<Line> m_lines; // sorted by time
    bool m_timed = false;
};

} // namespace vbmp3
