// The play queue, the stop-after mark and rows moved by hand, end to end: the real
// playlist, sequencing and controller over the scripted decoder.
#include "controllerfixture.h"
#include "playlistcommands.h"
#include "sessionlist.h"

using namespace kes;
using namespace Qt::StringLiterals;

namespace
{

class QueueTest : public ControllerFixture
{
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        c.watchRows(model);
        sequencer.setRandomSource([] { return 0.3f; }); // start row 2 of 5
        fill();
    }
    void fill()
    {
        model.clear();
        for (int i = 1; i <= 5; ++i)
            model.addRow(TrackRow { .fullPath = u"/music/%1.mp3"_s.arg(i) });
    }
    // The file's number ("/music/3.mp3" gives "3").
    static std::string number(const std::string &path) { return path.empty() ? "-" : path.substr(7, 1); }
    // Per row: 1 checked, 0 unchecked, E unchecked and marked "END".
    std::string marks() const
    {
        std::string out;
        for (int i = 1; i <= model.count(); ++i)
            out += model.tag(i) == u"END"_s ? 'E' : model.isChecked(i) ? '1' : '0';
        return out;
    }
};

} // namespace

// What plays next from row 4 of 5, by the player's state when the queue is set up, the
// mode, repeat, the queue and the stop-after mark.  Each track after the first is the
// follower the library was handed and joined without a gap; "." is the end (the track
// ended with nothing queued, and the player stopped).  Random draws start row 2.  With
// an empty queue the order is the list's (Normal) or the draw's (Random), as ever.
TEST_F(QueueTest, WhatPlaysNext)
{
    const struct {
        const char *state; // playing, paused, stopped (then 次曲), pending (row 5's join reported, not shown)
        const char *mode;
        bool repeat;
        QList<int> queue;
        int uncheck = 0, remove = 0, stopAfter = 0; // rows, after the queue is set
        const char *plays; // then the rows' marks
    } cases[] = {
        { "playing", "Normal", true, {}, 0, 0, 0, "5 1 2 3|11111" },
        { "playing", "Normal", false, {}, 0, 0, 0, "5 .|11111" },
        { "playing", "Random", true, {}, 0, 0, 0, "2 3 4 5|1EEEE" },
        { "playing", "Normal", true, { 1, 3 }, 0, 0, 0, "1 3 5 1|11111" },
        { "playing", "Normal", false, { 3, 1 }, 0, 0, 0, "3 1 5 .|11111" },
        { "playing", "Random", false, { 1, 3 }, 0, 0, 0, "1 3 2 4|EEEE1" },
        { "playing", "Normal", true, { 1 }, 1, 0, 0, "1 5 2 3|01111" }, // unchecked: played all the same
        { "playing", "Normal", true, { 3, 1 }, 0, 3, 0, "1 5 1 2|1111" }, // removed: leaves the queue
        { "playing", "Normal", true, {}, 0, 0, 4, ".|11111" },
        { "playing", "Normal", true, { 1 }, 0, 0, 4, ".|11111" }, // the stop comes before the queue
        { "playing", "Random", true, { 1, 3 }, 0, 0, 1, "1 .|E1111" },
        { "paused", "Normal", true, { 2 }, 0, 0, 0, "2 5 1 2|11111" },
        { "paused", "Random", true, {}, 0, 0, 3, "2 3 .|1EE11" },
        { "stopped", "Normal", true, {}, 0, 0, 0, "5 1 2 3|11111" },
        { "stopped", "Normal", false, { 1, 3 }, 0, 0, 0, "1 3 5 .|11111" },
        { "stopped", "Random", true, { 1 }, 0, 0, 3, "1 2 3 .|EEE11" },
        { "pending", "Normal", true, {}, 0, 0, 0, "5 1 2 3|11111" },
        { "pending", "Normal", false, { 1, 3 }, 0, 0, 0, "5 1 3 .|11111" },
        { "pending", "Random", true, { 1 }, 0, 0, 0, "2 1 3 4|EEEE1" }, // the draw chose row 2 ahead
        { "pending", "Normal", true, { 1 }, 0, 0, 5, "5 .|11111" },
    };
    for (const auto &k : cases) {
        const std::string when = k.state;
        SCOPED_TRACE(when + " " + k.mode + (k.repeat ? " repeat " : " once ") + k.plays);
        mode = QString::fromLatin1(k.mode);
        repeat = k.repeat;
        fill();
        c.playRow(4, u"/music/4.mp3"_s);
        settle();
        std::string plays;
        int tracks = 0;
        if (when == "stopped") {
            c.StopTrack();
        } else if (when == "paused") {
            c.PauseResume();
        } else if (when == "pending") {
            ASSERT_TRUE(f.joinQueued());
            plays = number(f.openedPath) + ' ', ++tracks;
        }
        model.enqueue(k.queue);
        model.setChecked(k.uncheck, false);
        PlaylistCommands::removeRows(model, { k.remove }, state.CurrentTrackNo);
        model.setStopAfterRow(k.stopAfter);
        settle();
        if (when == "pending") {
            c.timebarTick(); // shows the join
            settle();
        }
        if (when == "stopped") {
            c.NextTrack();
            settle();
            plays += number(f.openedPath) + ' ', ++tracks;
        }
        for (; tracks < 4; ++tracks) {
            if (!f.joinQueued()) {
                f.endTrack();
                c.timebarTick();
                plays += f.state == VBMP3_STOPPED && f.queued.empty() ? "." : "?"; // "?": no gapless follower
                break;
            }
            c.timebarTick();
            settle(); // the follower is queued anew
            plays += number(f.openedPath) + ' ';
        }
        while (!plays.empty() && plays.back() == ' ')
            plays.pop_back();
        EXPECT_EQ(plays + '|' + marks(), k.plays);
        if (plays.back() == '.') {
            EXPECT_EQ(model.stopAfterRow(), 0) << "a mark met is cleared";
        }
        c.StopTrack();
    }
}

// The library is handed the queued row as the follower, then the row after the one that
// played when the queue was entered; a stop-after mark clears what it holds, and its
// end opens nothing more.
TEST_F(QueueTest, GaplessIntoAndOutOfTheQueueAndAStopWithoutAJoin)
{
    c.playRow(2, u"/music/2.mp3"_s);
    settle();
    EXPECT_EQ(f.queueCalls, (std::vector<std::string> { "/music/3.mp3" }));
    model.enqueue({ 5 });
    settle();
    ASSERT_TRUE(f.joinQueued());
    c.timebarTick();
    settle(); // the row after the one the queue was entered from is queued
    model.setStopAfterRow(5);
    settle();
    EXPECT_EQ(f.queueCalls, (std::vector<std::string> { "/music/3.mp3", "/music/5.mp3", "/music/3.mp3", "" }));
    EXPECT_EQ(std::pair(state.CurrentTrackNo, f.queued), std::pair(5, std::string()));
    const auto opens = std::ranges::count(f.calls, "open");
    f.endTrack();
    c.timebarTick();
    EXPECT_EQ(std::ranges::count(f.calls, "open"), opens);
    EXPECT_EQ(std::pair(f.state, model.stopAfterRow()), std::pair(int32_t { VBMP3_STOPPED }, 0));
}

// Rows moved by hand take with them their checks, marks, queue places, the stop-after
// mark, the playing row and CurrentTrackNo; a column click still sorts; the last
// session's list keeps the queue.
TEST_F(QueueTest, MovingRowsKeepsWhatBelongsToThem)
{
    const struct {
        QList<int> rows;
        int before;
        const char *order; // then marks, queue, stop-after, playing row, CurrentTrackNo
    } cases[] = {
        { { 3 }, 3, "12345 110E1 51 3 2 2" }, // where it stood: nothing changes
        { { 4 }, 1, "41235 E1101 51 4 3 3" },
        { { 1, 2 }, 6, "34512 0E111 51 1 5 5" },
        { { 2, 5 }, 4, "13254 1011E 51 2 3 3" },
    };
    for (const auto &k : cases) {
        fill();
        model.setChecked(3, false);
        model.setChecked(4, false);
        model.setTag(4, u"END"_s);
        model.enqueue({ 5, 1 });
        model.setStopAfterRow(3);
        model.setPlayingRow(2);
        state.CurrentTrackNo = 2;
        model.sortByColumn(PlaylistModel::NoColumn);
        PlaylistCommands::moveRows(model, k.rows, k.before, state.CurrentTrackNo);
        std::string got;
        for (int i = 1; i <= 5; ++i)
            got += number(model.fullPath(i).toStdString());
        got += ' ' + marks() + ' ';
        for (int row : model.queuedRows())
            got += number(model.fullPath(row).toStdString());
        got += ' ' + std::to_string(model.stopAfterRow()) + ' ' + std::to_string(model.playingRow()) + ' '
            + std::to_string(state.CurrentTrackNo);
        EXPECT_EQ(got, k.order);
    }
    EXPECT_FALSE(model.isSorted()); // an order made by hand
    model.sortByColumn(PlaylistModel::NoColumn);
    EXPECT_EQ(model.fullPath(1), u"/music/1.mp3"_s);
    const Session kept = readSession(writeSession(sessionOf(model, 1)));
    QList<int> places;
    for (const SessionRow &r : kept.rows)
        places << r.queued;
    EXPECT_EQ(places, (QList<int> { 2, 0, 0, 0, 1 }));
}
