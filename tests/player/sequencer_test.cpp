#include "playlistcommands.h"
#include "playlistmodel.h"
#include "sequencer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>

using namespace kes;
using namespace Qt::StringLiterals;

namespace
{

const auto path = [](int row) { return u"/m/%1.mp3"_s.arg(row); };

// n playlist rows, all checked, the current row 1.
struct Fixture {
    explicit Fixture(int n, const char *m = "Normal", bool r = true)
        : mode(QString::fromLatin1(m))
        , repeat(r)
    {
        for (int i = 1; i <= n; ++i)
            rows.addRow(TrackRow { .fullPath = path(i) });
    }
    void checkOnly(const std::set<int> &which)
    {
        for (int r = 1; r <= rows.count(); ++r)
            rows.setChecked(r, which.count(r));
    }
    PlaylistModel rows;
    int current = 1;
    QString mode;
    bool repeat;
    Sequencer seq { rows, current, [this] { return mode; }, [this] { return repeat; } };
};

} // namespace

// "Normal" order over ten rows: the row play chooses, the next and previous checked row.
TEST(Sequencer, NormalOrder)
{
    const struct {
        const char *name;
        char op; // c choose (when one can be chosen), n next, p previous
        bool repeat;
        std::set<int> checked;
        int current;
        std::optional<int> row; // the row whose path comes back; 0 the empty text, nullopt none
        int currentAfter;
    } cases[] = {
        { "play chooses the current row when checked", 'c', true, { 1, 2, 3 }, 1, 1, 1 },
        { "nothing checked: nothing to choose", 'c', true, {}, 1, {}, 1 },
        { "no repeat stops after the last row", 'n', false, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 }, 10, {}, 1 },
        { "unchecked rows are skipped", 'n', true, { 2, 4 }, 2, 4, 4 },
        { "from row 10 nothing: wraps to the first pass", 'n', true, { 2, 4 }, 4, 2, 2 },
        { "no repeat: a pass that finds nothing ends the sequence", 'n', false, { 2, 4 }, 4, 0, 1 },
        { "a double-clicked unchecked row continues from its number", 'n', true, { 1, 2, 4, 5 }, 3, 4, 4 },
        { "previous wraps from row 1 to the last checked", 'p', true, { 3, 7 }, 1, 7, 7 },
        { "previous from 7", 'p', true, { 3, 7 }, 7, 3, 3 },
        { "previous finds the current row itself again", 'p', true, { 3 }, 3, 3, 3 },
        { "previous with nothing checked keeps the state", 'p', true, {}, 3, 0, 3 },
    };
    for (const auto &k : cases) {
        Fixture f(10, "Normal", k.repeat);
        f.checkOnly(k.checked);
        f.current = k.current;
        const auto got = k.op == 'n' ? f.seq.nextRow()
            : k.op == 'p'            ? std::optional(f.seq.previousRow())
            : f.seq.CanChoose()      ? std::optional(f.seq.ChooseTrack())
                                     : std::nullopt;
        EXPECT_EQ(got, k.row ? std::optional(*k.row ? path(*k.row) : QString()) : std::nullopt) << k.name;
        EXPECT_EQ(f.current, k.currentAfter) << k.name;
        for (int r = 1; r <= 10; ++r) // Normal leaves check boxes alone
            EXPECT_EQ(f.rows.isChecked(r), k.checked.count(r) == 1) << k.name << " row " << r;
    }
}

TEST(Sequencer, RandomRoundPlaysEachRowOnceThenStartsANewRound)
{
    Fixture f(5, "Random");
    for (int round = 0; round < 2; ++round) {
        std::set<QString> played;
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(f.seq.CanChoose());
            played.insert(f.seq.ChooseTrack());
            EXPECT_FALSE(f.rows.isChecked(f.current));
            EXPECT_EQ(f.rows.tag(f.current), u"END"_s);
        }
        EXPECT_EQ(played, (std::set { path(1), path(2), path(3), path(4), path(5) })) << "round " << round;
        EXPECT_FALSE(f.rows.anyChecked());
        // The sixth choice re-checks all rows and clears the marks.
        ASSERT_TRUE(f.seq.CanChoose());
        for (int r = 1; r <= 5; ++r)
            EXPECT_TRUE(f.rows.isChecked(r) && f.rows.tag(r).isEmpty()) << r;
    }
}

TEST(Sequencer, RandomStartRowFormulaAndEarlyEndWithoutRepeat)
{
    Fixture f(5, "Random", false);
    f.checkOnly({ 1, 2 });
    f.seq.setRandomSource([] { return 0.99f; }); // start row floor(0.99 * 5 + 1) = 5
    EXPECT_EQ(f.seq.ChooseTrack(), QString());
    EXPECT_EQ(f.current, 1);
    EXPECT_TRUE(f.rows.isChecked(1)); // earlier rows are not looked at
    f.seq.setRandomSource([] { return 0.2f; }); // start row 2
    EXPECT_EQ(f.seq.ChooseTrack(), path(2));
    EXPECT_EQ(f.rows.tag(2), u"END"_s);
    // Without repeat a round that ran out is not restarted.
    f.checkOnly({});
    EXPECT_FALSE(f.seq.CanChoose());
    EXPECT_EQ(f.rows.tag(2), u"END"_s);
}

TEST(Sequencer, RandomWithRepeatRetriesUntilItFindsARow)
{
    Fixture f(1000, "Random");
    f.checkOnly({ 1 });
    EXPECT_EQ(f.seq.ChooseTrack(), path(1)); // the only checked row of a thousand
    EXPECT_EQ(f.current, 1);
    // An empty playlist: CanChoose says yes (it starts a new round), but there is no row.
    Fixture empty(0, "Random");
    ASSERT_TRUE(empty.seq.CanChoose());
    EXPECT_EQ(empty.seq.ChooseTrack(), QString());
    EXPECT_EQ(empty.current, 1);
}

// Working the next row out ahead changes nothing; committing it equals nextRow(), Random rounds and ends included.
TEST(Sequencer, LookAheadThenCommitIsNextRow)
{
    const auto snapshot = [](const Fixture &f) {
        std::vector<std::pair<bool, QString>> rows;
        for (int r = 1; r <= f.rows.count(); ++r)
            rows.emplace_back(f.rows.isChecked(r), f.rows.tag(r));
        return std::pair(rows, f.current);
    };
    for (const char *mode : { "Normal", "Random" }) {
        for (bool repeat : { true, false }) {
            SCOPED_TRACE(std::string(mode) + (repeat ? " with repeat" : " without repeat"));
            Fixture ahead(6, mode, repeat), plain(6, mode, repeat);
            for (Fixture *f : { &ahead, &plain }) {
                f->checkOnly({ 1, 2, 4, 5 });
                // The same draws on both sides, from one generator per side as the player's.
                auto draw = std::make_shared<float>(0.0f);
                f->seq.setRandomSource([draw] { return *draw = std::fmod(*draw + 0.37f, 1.0f); });
            }
            for (int step = 0; step < 12; ++step) {
                const auto before = snapshot(ahead);
                const Sequencer::Ahead next = ahead.seq.lookAhead();
                ASSERT_EQ(snapshot(ahead), before) << step;
                ahead.seq.commit(next);
                const std::optional<QString> expected = plain.seq.nextRow();
                ASSERT_EQ(next.path, expected) << step;
                ASSERT_EQ(snapshot(ahead), snapshot(plain)) << step;
                if (!expected)
                    break;
            }
        }
    }
}

// After Del, CurrentTrackNo keeps the current track's place, also when its own row goes.
TEST(Sequencer, RowsRemovedKeepTheNextTrack)
{
    const struct {
        const char *name;
        int current;
        QList<int> removed;
        bool repeat;
        int currentAfter;
        std::optional<int> next; // the path's old row number; nullopt: playback ends
    } cases[] = {
        { "the current row", 3, { 3 }, true, 2, 4 },
        { "a row before it", 3, { 1 }, true, 2, 4 },
        { "a row after it", 3, { 5 }, true, 3, 4 },
        { "the current row and its neighbours", 3, { 4, 2, 3 }, true, 1, 5 },
        { "the first row, current", 1, { 1 }, true, 0, 2 },
        { "the last row, current, no repeat", 6, { 6 }, false, 5, std::nullopt },
    };
    for (const auto &k : cases) {
        Fixture f(6, "Normal", k.repeat);
        f.current = k.current;
        PlaylistCommands::removeRows(f.rows, k.removed, f.current);
        EXPECT_EQ(f.current, k.currentAfter) << k.name;
        EXPECT_EQ(f.seq.nextRow(), k.next ? std::optional(path(*k.next)) : std::nullopt) << k.name;
    }
}

// Rows of missing files are passed over, checks untouched; only missing rows checked chooses none, repeat or not.
TEST(Sequencer, MissingRowsArePassedOverAndKeepTheirChecks)
{
    for (const char *mode : { "Normal", "Random" }) {
        SCOPED_TRACE(mode);
        Fixture f(5, mode);
        f.rows.setMissing(2, true);
        f.rows.setMissing(4, true);
        std::set<QString> chosen;
        for (int i = 0; i < 40; ++i) {
            if (const std::optional<QString> next = f.seq.nextRow(); next && !next->isEmpty())
                chosen.insert(*next);
        }
        EXPECT_EQ(chosen, (std::set<QString> { path(1), path(3), path(5) }));
        EXPECT_TRUE(f.rows.isChecked(2) && f.rows.isChecked(4));
        EXPECT_TRUE(f.rows.tag(2).isEmpty() && f.rows.tag(4).isEmpty());
        for (int r = 1; r <= 5; ++r)
            f.rows.setTag(r, QString()); // no round under way: nothing comes back checked
        f.checkOnly({ 1, 2, 3, 4, 5 });
        f.current = 5;
        EXPECT_EQ(f.seq.previousRow(), path(3));
        f.checkOnly({ 2, 4 });
        EXPECT_FALSE(f.seq.CanChoose() && !f.seq.ChooseTrack().isEmpty());
        EXPECT_FALSE(f.seq.nextRow().value_or(QString()).size());
    }
}
