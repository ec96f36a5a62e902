// Playback of one track after another: the procedures `PlayTrack`, `StopTrack`,
// `PauseResume`, `NextTrack` and `PrevTrack`, the position timer `Timebar`, the
// now-playing read-outs and the lyrics lines.  Owns the decoder library's session (from
// start() to shutdown()) and drives the library through DecoderApi; shows what plays
// through a PlaybackView.  The main window forwards its toolbar, list and seek bar
// events here, and the video window and other watchers attach to this object (signals,
// nowPlaying(), volume).  GUI thread only: every decoder call returns at once but the open,
// which runs on the TrackOpener's thread (while it runs nothing asked for is open, and the
// controller makes no call of the library's session), and the queue of the follower, which
// runs on the TrackQueue's; the library's threads reach it only through the atomic flags
// of callbackFlags(), polled by the next `Timebar` tick.
#pragma once

#include "decoderapi.h"
#include "playbackstate.h"
#include "playbackview.h"
#include "settings.h"
#include "trackopener.h"
#include "trackqueue.h"

#include <QAbstractItemModel>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace kes
{

class PlaylistModel;
class Prompter;
struct TrackRow;
class Sequencer;
class VideoPresenter;

class PlaybackController : public QObject
{
    Q_OBJECT
public:
    // What the panel shows of the track started last.
    struct NowPlaying {
        QString path;
        int trackNo = 0;
        int totalSeconds = 0;
        int bitrate = 0; // kb/s, 0 = variable
        int frequency = 0; // Hz
        QString codec; // the library's short name ("Layer III", "FLAC"); empty when it gives none
        QString title, artist, album; // the tags' (or RIFF list's) texts, empty when none
        qint64 lengthMs = 0; // from the stream's frames, else totalSeconds
    };

    // state is the program's playback variables, which sequencer moves too; settings is
    // the live record (read at each track start and tick).  All references must outlive
    // the controller.
    PlaybackController(const DecoderApi &api, Prompter &prompter, PlaybackView &view, PlaybackState &state,
        Sequencer &sequencer, const Settings &settings, QObject *parent = nullptr);

    // The decoder session.  start() opens it: vbmp3_init, DecoderCallback registered and
    // let report, Lyrics3 data off.  setDecoderOptions() hands the library its option
    // records (a later step of the start-up), saying "error" for each one it refuses.
    // The results of the other calls are ignored.
    void start();
    void setDecoderOptions();
    // The first step of the shutdown: both timers off, an open in flight given up, and
    // from now on a closing video window starts nothing.
    void stopTimers();
    // The last step of the shutdown, once the other windows are closed: waits for an open
    // in flight (given up), the callback's reports off, then vbmp3_stopCallback, vbmp3_stop
    // and vbmp3_free.  Stops the timers first when nobody did; runs once.
    void shutdown();

    void setVideoPresenter(VideoPresenter *video) { m_video = video; }

    // What decides the row after the playing one changed (a row's check or mark, rows
    // added, removed or reordered, the play mode, repeat): the file queued to follow the
    // playing track is worked out again once the current event is over.  watchRows()
    // calls it for the playlist's changes; changeSequence() for the window's commands.
    void sequenceChanged();
    // Follows the playlist: a join the library has reported is taken before any change
    // of the rows (whoever makes it), and the queue follows the change.
    void watchRows(const PlaylistModel &rows);
    // A join the library has reported but the tick has not shown yet (up to 100 ms) is
    // taken now: the joined track is shown, and the choice that led to it (CurrentTrackNo,
    // its row's check and mark) made against the rows, mode and repeat it was worked out
    // for.  Every command that reads or changes what sequencing works on calls this
    // first, so that it acts on the track that is heard and shown.
    void takePendingJoin() { takeJoin(JoinCheck::Report); }
    // Runs a command of the window that changes what sequencing works on (the play mode,
    // repeat, CurrentTrackNo, rows removed): the pending join first, then change, then the
    // queue follows.
    void changeSequence(const std::function<void()> &change);
    // The path queued to follow the playing track, nullopt when none.
    std::optional<QString> queuedPath() const { return m_queue.queuedPath(); }

    // Plays CurrentFile: video names go to the video window, everything else to the
    // decoder; failures are reported through the prompter, and a failed play (or open,
    // answered with Cancel) re-initialises the library.  The open runs off the GUI thread:
    // PlayTrack returns once it is asked for, and the rest (the read-outs, the play, the
    // open error) follows when it is done.  The newest request wins: a PlayTrack, a stop,
    // the video window or the quit meanwhile gives the open up, and what it opened is
    // closed; until it is done there is no file to pause, seek or show.
    void PlayTrack();
    // An open asked for by PlayTrack (or one given up that the opener is still closing)
    // is in flight: the library's state is that of no file open.
    bool opening() const { return m_opener.busy(); }
    // The follower of the playing track is being handed to the library (or its answer
    // has not been taken yet).
    bool queueing() const { return m_queue.busy(); }
    void StopTrack();
    // Pauses when playing, resumes when paused, plays the open file again when stopped.
    void PauseResume();
    // Stops and plays what sequencing chooses next (nothing when it ends there).
    void NextTrack();
    // Stops and moves CurrentFile to the previous checked row; plays nothing.  false when
    // no row is checked: CurrentFile stays.
    bool PrevTrack();
    // The toolbar's "再生" and "前曲": choose a row (when one can be chosen) and play it;
    // "再生" plays the first queued row, when there is one.  The end of a track plays what
    // sequencing gives next, unless the track is the stop-after row's: then playback
    // stops there, and the mark is cleared.
    void playPressed();
    void previousPressed();
    // A double click: plays the given row and path, checked or not.
    void playRow(int trackNo, const QString &path);

    // The `Timebar` tick: end of track, spectrum on every second tick, position.
    void timebarTick();
    // The user dragged the seek bar's thumb to seconds.
    void seekbarScroll(int seconds);
    void DrawSpectrum();
    void ShowNowPlaying(const QString &path);
    // Shows the lines the decoder gives for the position heard now.
    void ShowLyrics();
    // The video window calls this when it has closed: restores the main window and plays
    // a track handed back through VideoFile/VideoHandBack.  Does nothing once the
    // shutdown has begun.
    void videoClosed();

    // Output volume word: low 16 bits left, high 16 bits right.  While an open is in flight
    // the word set last is given, and handed to the library once the open is done.
    uint32_t volume() const;
    void setVolume(uint32_t word);

    const NowPlaying &nowPlaying() const { return m_now; }
    // The lyrics file of the track started last: the one found beside it, else the name
    // looked for first.
    const QString &LyricsFile() const { return m_lyricsFile; }
    // The `lyrics_timer` switch: on while a track's lyrics are followed.  The lines are
    // fetched when they change (the library says when), not on a fixed beat.
    bool lyricsOn() const { return m_lyricsOn; }
    // Lyrics that came after the track started (found on a server, kept in the cache,
    // timed by hand): the lines follow the file at path from now on, in the lyrics tab.
    void showLyricsFile(const QString &path);
    // The lyrics of the playing track are no more: the lines go blank.
    void dropLyrics();
    // The position heard now, in ms.
    qint64 positionMs() const { return m_api.getPositionMs(); }
    bool timebarOn() const { return m_timebar.isActive(); }

    // "03:07", "100:00"; "44.1 KHz", "48 KHz".
    static QString timeText(int seconds);
    static QString frequencyText(int hertz);
    // Names ending exactly in "mpg", "avi" or "wma" go to the video window.
    static bool isVideoName(const QString &path);
    // The lyrics text file of a track: its name without the last four characters and with
    // ".txt" ("a.mp3" gives "a.txt"); a name ending in the dot and ending of a type that
    // is not three letters long loses those instead ("a.flac", "a.wv" give "a.txt").
    static QString lyricsFileOf(const QString &track);

signals:
    // A track has started playing in the decoder (after PlayTrack's last step).
    void trackStarted();
    // The playing track's length or bit rate changed from the estimate shown at its start
    // to the counted values (nowPlaying()).
    void totalsCounted();
    // The track just opened (nowPlaying()) has no lyrics of its own: no Lyrics3 data, no
    // file beside it, none in its tags.  Only when lyrics files are used (Op_Kasi).
    void lyricsMissing();
    // The decoder's state (VBMP3_STOPPED, _PLAYING, _PAUSED) after a command or the end
    // of the sequence.
    void stateChanged(int state);
    // The desktop's mixer set the output volume to word (as setVolume takes it).
    void mixerVolumeChanged(uint32_t word);

private:
    enum class JoinCheck {
        Report, // the library's report alone
        // Also asks the library, clearing its queue: for a command that then stops,
        // opens or closes, after which a report not yet made never comes.
        AskAndClear,
    };
    // The queued file has begun to be heard (TrackJoined): what the end of a track and
    // the start of the next do, for a file the decoder plays already.  Every command runs
    // it first, so that it acts on the track that is heard.
    void takeJoin(JoinCheck check);
    // stop for a command that moves on: after the pending join (asked for), so that the
    // command acts on the track heard.
    void stopHeard();
    // A volume set in the desktop's mixer (VolumeChanged): mixerVolumeChanged.
    void takeMixerVolume();
    // The time bar's tick on or off (the mixer's own look off or on).
    void setTicking(bool on);
    // PlayTrack's steps from the open's report on (the GUI thread): the newest request's
    // continues, a stale one is closed and dropped.
    void opened(uint64_t ticket, bool ok, const OpenInfo &info);
    // The open in flight (if any) is no longer wanted: a stop, the video window, the quit.
    void giveUpOpen();
    // The library's state; stopped while an open is in flight (nothing is open).
    int libraryState() const;
    // PlayTrack's steps 4 to 9 for the opened file: names, number, lyrics, totals.
    void showTrack(const OpenInfo &info);
    void showReadOut(PlaybackView::ReadOut which, const QString &text);
    // Total time, seek range and bit rate of the open track.
    void showTotals(const OpenInfo &info);
    void setLyricsOn(bool on);
    // Shows the lines and sleeps until they next change while the track plays.
    void stepLyrics();
    void emitState();

    DecoderApi m_api;
    Prompter &m_prompter;
    PlaybackView &m_view;
    PlaybackState &m_state;
    Sequencer &m_sequencer;
    // The row of CurrentFile (that of CurrentTrackNo when it is the one); nullptr when
    // none or no rows are watched.
    const TrackRow *currentRow() const;

    const Settings &m_settings;
    const PlaylistModel *m_rows = nullptr; // set by watchRows
    VideoPresenter *m_video = nullptr;

    QTimer m_timebar; // `Timebar`, 100 ms
    QTimer m_lyricsTimer; // `lyrics_timer`, single shot at the next line's time
    TrackQueue m_queue;
    TrackOpener m_opener;
    uint64_t m_openTicket = 0; // the request whose open is wanted, 0: none
    mutable uint32_t m_volumeWord = 0xFFFFFFFFu; // the word last read or set
    bool m_volumeLater = false; // m_volumeWord was set while an open was in flight
    QTimer m_queueTimer; // zero-time single shot: sequenceChanged's refresh
    QTimer m_mixerTimer; // 500 ms from start() while the tick is off: takeMixerVolume
    bool m_lyricsOn = false;
    bool m_shutDown = false; // the shutdown has begun
    bool m_sessionEnded = false;
    int m_spectrumTick = 0;
    // The library is still counting the open track's frames: its totals are estimates.
    bool m_totalsPending = false;
    QString m_lyricsFile;
    NowPlaying m_now;
    std::array<QString, 3> m_tagTexts; // title, artist, album read by ShowNowPlaying

    // What the view shows now, so that only changes reach it.
    std::array<std::optional<QString>, PlaybackView::kReadOuts> m_readOuts;
    std::array<std::optional<QString>, 5> m_lyricsLines;
    bool m_highlighted = false;
    int m_lastState = -1; // last state told through stateChanged
};

} // namespace kes
