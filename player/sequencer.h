// Which playlist row plays next: "Normal" (list order) or "Random" (each checked row
// once per round, marked "END" and unchecked when chosen), with or without repeat.
// Rows in the play queue come first, in queue order, whatever the mode, repeat and
// check boxes; then the order goes on from where the queue was entered.  Works on the
// playlist rows and the shared CurrentTrackNo; GUI thread only.
#pragma once

#include "tracklist.h"

#include <functional>
#include <optional>
#include <vector>

namespace kes
{

class Sequencer
{
public:
    // mode() gives the play mode caption ("Normal" or "Random"), repeat() the repeat
    // switch; currentTrackNo is the shared 1-based current row.
    Sequencer(TrackList &rows, int &currentTrackNo, std::function<QString()> mode, std::function<bool()> repeat);

    // A uniform number in [0, 1) for the random start row.  The default draws from a
    // generator seeded from the clock at each choice; tests replace it.
    void setRandomSource(std::function<float()> source) { m_random = std::move(source); }
    // The path of the track that plays (CurrentFile), for the stop-after mark; without
    // it, the current row's.
    void setPlayingFile(std::function<QString()> playing) { m_playing = std::move(playing); }
    // The draws of the next nextRow() are made once: lookAhead() makes them and keeps
    // them, a later lookAhead() and the nextRow() that follows use the same ones (drawing
    // more only when it needs more), and nextRow(), commit() or a ChooseTrack() of the
    // player's own uses them up.  So a choice worked out ahead and one made when the track
    // ends are one draw, never two chances.

    // True when a track can be chosen; with no checked row, moves to row 1 and, in
    // "Random" with repeat on, starts a new round (and returns true).
    bool CanChoose();
    // The path of the chosen row, or the empty text; sets CurrentTrackNo and, in
    // "Random", unchecks the row and marks it "END".
    QString ChooseTrack();
    // With repeat on: re-checks the rows marked "END" and clears every mark.
    void ResetRound();
    // The next-track rule: moves past the current row (wrapping to row 1 only with repeat
    // on) and chooses.  nullopt when playback ends here (the current file stays);
    // otherwise what ChooseTrack gave, which may be empty.
    std::optional<QString> nextRow();
    // The first queued row whose file is not missing: it leaves the queue and becomes
    // current, and in "Random", when checked, counts as played in the round (unchecked,
    // "END").  The row current before it is kept: once the queue is empty, nextRow()
    // goes on from there (unless CurrentTrackNo was set elsewhere meanwhile).  Its path;
    // nullopt when no row is queued.
    std::optional<QString> takeQueued();
    // Whether the track that plays is that of the stop-after row: playback ends with it.
    bool stopsHere() const;
    void clearStopAfter() { m_rows.setStopAfterRow(0); }
    // The previous checked row by position, wrapping from the first to the last row.
    // Returns its path and moves CurrentTrackNo there; with no checked row returns the
    // empty text and changes nothing.
    QString previousRow();

    // What nextRow() would do if it ran now, worked out without changing anything: what it
    // would give, CurrentTrackNo after it, and the changes it would make to the rows (in
    // "Random" the chosen row's check and mark, a new round's), in order.  commit() makes
    // them, leaving the state nextRow() would have left.  The player chooses ahead so that
    // the next track can follow the playing one without a gap.
    struct Ahead {
        std::optional<QString> path; // nullopt: playback would end here
        int trackNo = 0;
        struct Change {
            int row = 0;
            std::optional<bool> checked; // set when the check changes, else the tag
            QString tag;
        };
        std::vector<Change> changes;
        // What it was worked out from.
        int fromTrackNo = 0;
        bool random = false;
        bool repeat = false;
        quint64 queuedId = 0; // the choice is this queued row (its id), 0: none
    };
    Ahead lookAhead();
    void commit(const Ahead &ahead);
    // "Random": whether ahead's choice is still one nextRow() could make now (the same
    // mode, repeat and CurrentTrackNo, the chosen row still there and checked, no new
    // round needed, the same head of the queue, no stop), so that a change elsewhere in
    // the list does not choose again.
    bool stillPossible(const Ahead &ahead) const;

private:
    int lastCheckedRow() const; // the last playable row
    // Checked and not missing: a row sequencing may choose.
    bool playable(int row) const;
    bool anyPlayable() const;
    int startRow(int rowCount);
    // The first queued row that can play, 0 for none.
    int queuedHead() const;
    // Where the order goes on after the queue: the row current when the queue was entered,
    // while the current row is still the queued row played last; else CurrentTrackNo.
    int continueFrom() const;
    // A queued row becomes current: the row the queue was entered from is kept.
    void enterQueued(quint64 id);
    QString choose();
    // The kept draw at index, drawn now when there is none yet.
    float keptDraw(size_t index);

    TrackList &m_rows;
    int &m_current;
    std::function<QString()> m_mode;
    std::function<bool()> m_repeat;
    std::function<float()> m_random;
    std::vector<float> m_kept; // the next nextRow()'s draws, in the order it uses them
    std::optional<size_t> m_replayAt; // while nextRow() runs: its next draw's index
    std::function<QString()> m_playing;
    struct Resume {
        quint64 id = 0; // the row current when the queue was entered
        int trackNo = 0; // and its index then, should it be gone
        quint64 lastQueued = 0; // the queued row played last
    };
    std::optional<Resume> m_resume;
};

} // namespace kes
