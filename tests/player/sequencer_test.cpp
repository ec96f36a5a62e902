#include "sequencer.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace kes;

namespace
{

class Rows : public TrackList
{
public:
    struct Row {
        bool checked = true;
        QString tag;
    };
    std::vector<Row> rows;

    explicit Rows(int n)
        : rows(static_cast<size_t>(n))
    {
    }
    int count() const override { return static_cast<int>(rows.size()); }
    bool isChecked(int r) const override { return rows.at(r - 1).checked; }
    void setChecked(int r, bool c) override { rows.at(r - 1).checked = c; }
    QString tag(int r) const override { return rows.at(r - 1).tag; }
    void setTag(int r, const QString &t) override { rows.at(r - 1).tag = t; }
    QString fullPath(int r) const override { return QStringLiteral("/m/%1.mp3").arg(r); }
    bool anyChecked() const override
    {
        for (const Row &r : rows)
            if (r.checked)
                return true;
        return false;
    }
    void checkOnly(std::initializer_list<int> which)
    {
        for (Row &r : rows)
            r.checked = false;
        for (int i : which)
            rows.at(static_cast<size_t>(i - 1)).checked = true;
    }
};

struct Fixture {
    Rows rows;
    int current = 1;
    QString mode = QStringLiteral("Normal");
    bool repeat = true;
    Sequencer seq;

    explicit Fixture(int n)
        : rows(n)
        , seq(
              rows, current, [this] { return mode; }, [this] { return repeat; })
    {
    }
};

QString path(int r)
{
    return QStringLiteral("/m/%1.mp3").arg(r);
}

} // namespace

TEST(Sequencer, NormalOrderStopsAfterLastRowWithoutRepeat)
{
    Fixture f(5);
    f.repeat = false;
    f.current = 5;
    EXPECT_EQ(f.seq.nextRow(), std::nullopt);
    EXPECT_EQ(f.current, 1);
}

TEST(Sequencer, NormalOrderSkipsUncheckedRowsAndWrapsWithRepeat)
{
    Fixture f(5);
    f.rows.checkOnly({ 2, 4 });
    f.current = 2;
    EXPECT_EQ(f.seq.nextRow(), path(4));
    EXPECT_EQ(f.current, 4);
    EXPECT_EQ(f.seq.nextRow(), path(2)); // from row 5 nothing, wraps to the first pass
    EXPECT_EQ(f.current, 2);
    f.repeat = false;
    f.current = 4;
    EXPECT_EQ(f.seq.nextRow(), QString()); // a pass that finds nothing ends the sequence
    EXPECT_EQ(f.current, 1);
}

TEST(Sequencer, PlayChoosesTheCurrentRowWhenChecked)
{
    Fixture f(3);
    ASSERT_TRUE(f.seq.CanChoose());
    EXPECT_EQ(f.seq.ChooseTrack(), path(1));
    EXPECT_TRUE(f.rows.isChecked(1)); // Normal leaves check boxes alone
    f.rows.checkOnly({});
    EXPECT_FALSE(f.seq.CanChoose());
    EXPECT_EQ(f.current, 1);
}

TEST(Sequencer, RandomRoundPlaysEachRowOnceThenStartsANewRound)
{
    Fixture f(5);
    f.mode = QStringLiteral("Random");
    for (int round = 0; round < 2; ++round) {
        std::set<QString> played;
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(f.seq.CanChoose());
            const QString p = f.seq.ChooseTrack();
            ASSERT_FALSE(p.isEmpty());
            played.insert(p);
            EXPECT_FALSE(f.rows.isChecked(f.current));
            EXPECT_EQ(f.rows.tag(f.current), QStringLiteral("END"));
        }
        EXPECT_EQ(played.size(), 5u) << "round " << round;
        EXPECT_FALSE(f.rows.anyChecked());
        // The sixth choice re-checks all rows and clears the marks.
        ASSERT_TRUE(f.seq.CanChoose());
        for (int r = 1; r <= 5; ++r) {
            EXPECT_TRUE(f.rows.isChecked(r));
            EXPECT_TRUE(f.rows.tag(r).isEmpty());
        }
    }
}

TEST(Sequencer, RandomStartRowFormulaAndEarlyEndWithoutRepeat)
{
    Fixture f(5);
    f.mode = QStringLiteral("Random");
    f.repeat = false;
    f.rows.checkOnly({ 1, 2 });
    f.seq.setRandomSource([] { return 0.99f; }); // start row floor(0.99 * 5 + 1) = 5
    EXPECT_EQ(f.seq.ChooseTrack(), QString());
    EXPECT_EQ(f.current, 1);
    EXPECT_TRUE(f.rows.isChecked(1)); // earlier rows are not looked at
    f.seq.setRandomSource([] { return 0.2f; }); // start row 2
    EXPECT_EQ(f.seq.ChooseTrack(), path(2));
    EXPECT_EQ(f.rows.tag(2), QStringLiteral("END"));
    // Without repeat a round that ran out is not restarted.
    f.rows.checkOnly({});
    EXPECT_FALSE(f.seq.CanChoose());
    EXPECT_EQ(f.rows.tag(2), QStringLiteral("END"));
}

TEST(Sequencer, RandomRetryWithRepeatFindsTheOnlyCheckedRow)
{
    Fixture f(1000);
    f.mode = QStringLiteral("Random");
    f.rows.checkOnly({ 1 });
    EXPECT_EQ(f.seq.ChooseTrack(), path(1));
    EXPECT_EQ(f.current, 1);
}

TEST(Sequencer, RandomWithRepeatOnAnEmptyPlaylistChoosesNothing)
{
    // CanChoose says yes (it starts a new round), but there is no row to draw from.
    Fixture f(0);
    f.mode = QStringLiteral("Random");
    ASSERT_TRUE(f.seq.CanChoose());
    EXPECT_EQ(f.seq.ChooseTrack(), QString());
    EXPECT_EQ(f.current, 1);
}

TEST(Sequencer, PreviousRowWrapsAndKeepsStateWhenNothingIsChecked)
{
    Fixture f(10);
    f.rows.checkOnly({ 3, 7 });
    f.current = 1;
    EXPECT_EQ(f.seq.previousRow(), path(7));
    EXPECT_EQ(f.current, 7);
    EXPECT_EQ(f.seq.previousRow(), path(3));
    f.rows.checkOnly({ 3 });
    EXPECT_EQ(f.seq.previousRow(), path(3)); // the current row itself is found again
    f.rows.checkOnly({});
    EXPECT_EQ(f.seq.previousRow(), QString());
    EXPECT_EQ(f.current, 3);
}

TEST(Sequencer, DoubleClickedUncheckedRowContinuesFromItsNumber)
{
    Fixture f(5);
    f.rows.checkOnly({ 1, 2, 4, 5 });
    f.current = 3; // row 3 was double-clicked and plays although unchecked
    EXPECT_EQ(f.seq.nextRow(), path(4));
    EXPECT_FALSE(f.rows.isChecked(3));
}
