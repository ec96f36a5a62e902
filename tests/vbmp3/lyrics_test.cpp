// Lyrics timelines: LRC and plain texts, Lyrics3 texts, the five lines around a time.
#include "lyrics.h"

#include <textcodec.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

using vbmp3::LyricsTimeline;

namespace
{

using Lines = std::vector<std::pair<int64_t, std::string>>;

Lines linesOf(const LyricsTimeline &t)
{
    Lines out;
    for (const auto &l : t.lines())
        out.emplace_back(l.ms, std::string(t.text(l)));
    return out;
}

TEST(LyricsTimeline, ParsesLrcAndPlainTexts)
{
    const struct {
        const char *name;
        std::string bytes;
        int64_t durationMs; // for texts without stamps
        Lines expected;
    } cases[] = {
        { "stamp forms", "[00:01]a\n[00:02.5]b\n[00:03.25]c\n[00:04:50]d\n[01:05.123]e\n", 0,
            { { 1000, "a" }, { 2500, "b" }, { 3250, "c" }, { 4500, "d" }, { 65123, "e" } } },
        { "several stamps on a line, sorted", "[00:05.00]x\n[00:01.00][00:09.00]refrain\n", 0,
            { { 1000, "refrain" }, { 5000, "x" }, { 9000, "refrain" } } },
        { "positive offset shows lines earlier", "[offset:+500]\n[00:02.00]a\n[00:00.20]b\n", 0,
            { { 0, "b" }, { 1500, "a" } } },
        { "negative offset shows lines later", "[00:02.00]a\n[offset:-250]\n", 0, { { 2250, "a" } } },
        { "other tags dropped, untimed lines in a timed text dropped",
            "[ti:Title]\n[ar:Artist]\n[by:me]\nno stamp\n[00:01.00]  spaced  \n[00:02.00]\n", 0,
            { { 1000, "spaced" }, { 2000, "" } } },
        { "brackets of the text are kept", "[00:01.00][Chorus] la\n[00:02.00]x]y\n", 0,
            { { 1000, "[Chorus] la" }, { 2000, "x]y" } } },
        { "CR LF, CR and LF endings", "[00:01]a\r\n[00:02]b\r[00:03]c\n[00:04]d", 0,
            { { 1000, "a" }, { 2000, "b" }, { 3000, "c" }, { 4000, "d" } } },
        { "UTF-8 with BOM", "\xEF\xBB\xBF[00:01.00]歌\n", 0, { { 1000, "歌" } } },
        { "CP932", kes::utf8ToCp932("[00:01.00]夜空\r\n[00:02.00]ムコウ\r\n"), 0,
            { { 1000, "夜空" }, { 2000, "ムコウ" } } },
        { "no stamps: spread evenly", "one\ntwo\n\nthree\n\n", 9000,
            { { 0, "one" }, { 2250, "two" }, { 4500, "" }, { 6750, "three" } } },
        { "no stamps, CP932 and leading blank lines", "\r\n" + kes::utf8ToCp932("一\r\n二\r\n三"), 3000,
            { { 0, "一" }, { 1000, "二" }, { 2000, "三" } } },
        { "not stamps", "[0a:01]x\n[00:1x]y\n", 1000, { { 0, "[0a:01]x" }, { 500, "[00:1x]y" } } },
        { "empty", "", 1000, {} },
        { "timed lines stay where they are when spread", "[00:07]a\n", 100000, { { 7000, "a" } } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LyricsTimeline t = LyricsTimeline::fromText(c.bytes);
        t.spreadOver(c.durationMs);
        EXPECT_EQ(linesOf(t), c.expected);
    }
    const LyricsTimeline l3 = LyricsTimeline::fromLyrics3("[00:01][00:04]one\n[00:02]二");
    EXPECT_EQ(linesOf(l3), (Lines { { 1000, "one" }, { 2000, "二" }, { 4000, "one" } }));
}

TEST(LyricsTimeline, FillsFiveLinesInStep)
{
    const LyricsTimeline t = LyricsTimeline::fromText("[00:01]L0\n[00:02]L1\n[00:03]L2\n[00:04]L3\n[00:05]L4\n");
    const struct {
        int64_t ms;
        int32_t current;
        const char *line0, *line1, *line2, *line3, *line4;
        int64_t untilNext;
    } steps[] = {
        { 0, -1, "", "", "", "L0", "L1", 1000 },
        { 999, -1, "", "", "", "L0", "L1", 1 },
        { 1000, 0, "", "", "L0", "L1", "L2", 1000 },
        { 2500, 1, "", "L0", "L1", "L2", "L3", 500 },
        { 3000, 2, "L0", "L1", "L2", "L3", "L4", 1000 },
        { 4999, 3, "L1", "L2", "L3", "L4", "", 1 },
        { 600000, 4, "L2", "L3", "L4", "", "", -1 },
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.ms);
        LyricsLines out;
        std::memset(&out, 0x55, sizeof out);
        t.fill(s.ms, &out);
        EXPECT_EQ(out.current, s.current);
        EXPECT_STREQ(out.line0, s.line0);
        EXPECT_STREQ(out.line1, s.line1);
        EXPECT_STREQ(out.line2, s.line2);
        EXPECT_STREQ(out.line3, s.line3);
        EXPECT_STREQ(out.line4, s.line4);
        EXPECT_EQ(t.msUntilNext(s.ms), s.untilNext);
    }

    LyricsLines out;
    LyricsTimeline().fill(1000, &out);
    EXPECT_EQ(out.current, -1);
    EXPECT_STREQ(out.line2, "");

    // A line longer than the field fills it whole, cut at a character boundary.
    std::string longLine;
    for (int i = 0; i < 100; ++i)
        longLine += "字";
    LyricsTimeline::fromText("[00:00]" + longLine).fill(0, &out);
    EXPECT_EQ(std::string(out.line2, strnlen(out.line2, 128)), longLine.substr(0, 126));
}

} // namespace

namespace
{

// Texts made of repeated stamps cost one copy of the text, and the budgets hold.
TEST(LyricsTimeline, HostileTextsStayWithinTheBudgets)
{
    std::string stamps;
    for (int i = 0; i < 100000; ++i)
        stamps += "[00:01]";
    const std::string text(300 * 1024, 'x');
    std::string manyLines;
    for (size_t i = 0; i < LyricsTimeline::kMaxLines + 500; ++i)
        manyLines += "[00:02]y\n";
    const struct {
        const char *name;
        LyricsTimeline timeline;
        size_t lines;
    } cases[] = {
        { "1 MiB LRC: one text, 100,000 stamps", LyricsTimeline::fromText(stamps + text), LyricsTimeline::kMaxStamps },
        { "Lyrics3 LYR field: 7,000 stamps and 50 KB",
            LyricsTimeline::fromLyrics3(stamps.substr(0, 49000) + text.substr(0, 50000)), 7000 },
        { "more lines than the budget", LyricsTimeline::fromText(manyLines), LyricsTimeline::kMaxLines },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.timeline.lines().size(), c.lines);
        LyricsLines out;
        c.timeline.fill(1000, &out);
        EXPECT_EQ(out.line2[0], c.lines == LyricsTimeline::kMaxLines ? '\0' : 'x');
    }
}

} // namespace
