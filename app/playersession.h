// The running player apart from its windows: the playlist with its adder and commands,
// the playback variables, sequencing and the playback controller, the cover of the
// playing track, the last run's playlist with its look for missing files, the settings
// record and the volume.  It builds them, wires them to one another and ends them in
// order; the main window builds the controls and binds them to it.  No widget lives
// here.  GUI thread only.
//
// Shutdown (shutdown(), once, as the main window closes):
//   1. the last run's playlist is written as it stands, as a QuitWork (the exit
//      watchdog waits for it within its own limit);
//   2. the controller's timers stop;
//   3. the windows close (the main window's part, handed in: video, folder search and
//      the modal windows, whose nested loops end);
//   4. the adder's workers are stopped and joined: none reads tags through the library
//      once it is freed;
//   5. the controller frees the decoder library, which joins its own threads.
// Destruction joins what is left, newest part first: the session list's writer, the
// cover search, the adder's pool.  Around it, runKestrine flushes the settings saves
// (a QuitWork) once the event loop has ended, and the exit watchdog, owned by main(),
// outlives the application object and is joined last.
#pragma once

#include "decoderapi.h"
#include "playbackstate.h"
#include "settings.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace kes
{

class CoverArt;
class PlaybackController;
class PlaybackView;
class PlaylistCommands;
class PlaylistModel;
class Prompter;
class Sequencer;
class SessionKeeper;
class SingleInstance;
class TrackAdder;
class VolumeMemory;

class PlayerSession : public QObject
{
    Q_OBJECT
public:
    struct Context {
        DecoderApi api;
        Prompter *prompter = nullptr;
        QString iniPath; // the settings file
        QString programFolder; // where default playlist and CSV names point
        SingleInstance *instance = nullptr; // nullptr: no single-instance check
        VolumeMemory *volume = nullptr; // nullptr: the volume is not kept between runs
        QString cacheDir; // embedded covers are written here; empty: CoverArt::defaultCacheDir()
        QString sessionPath; // the last run's playlist; empty: kestrine_last.m3u8 beside the settings
        QString lyricsCacheDir; // lyrics found on a server; empty: defaultLyricsCacheRoot()
    };
    // What the session asks of the window that shows it: the controller's read-outs, and
    // the play mode ("Normal", "Random") and repeat that its controls hold.
    struct Bindings {
        PlaybackView &view;
        std::function<QString()> playMode;
        std::function<bool()> repeatOn;
    };

    // The references in bindings must outlive the session.  The parts are QObject children
    // of the session (found by name through it and its parent) but owned and destroyed by
    // it in the order below.
    PlayerSession(const Context &context, const Bindings &bindings, QObject *parent = nullptr);
    ~PlayerSession() override;

    const Context &context() const { return m_ctx; }
    PlaybackState &playbackState() { return m_state; }
    Settings &settings() { return m_settings; }
    PlaylistModel *playlist() const { return m_playlist.get(); }
    TrackAdder *adder() const { return m_adder.get(); }
    PlaylistCommands *commands() const { return m_commands.get(); }
    Sequencer *sequencer() const { return m_sequencer.get(); }
    PlaybackController *controller() const { return m_playback.get(); }
    // The cover of the track started last.
    CoverArt *coverArt() const { return m_cover.get(); }
    SessionKeeper *sessionKeeper() const { return m_session.get(); }

    // The steps of the start-up that are the session's, in the order the window's load
    // runs them.
    // false, after the duplicate-start message, when another instance runs; the session
    // then counts as ended (the decoder library is never touched).
    bool claimSingleInstance();
    // The decoder library's session (PlaybackController::start).
    void start();
    // The settings file, once (the toolbar reads the icon size before the rest of the load).
    void loadSettingsForToolbar();
    // The settings file, then the equalizer preset it names and the library's options
    // kept beside it.
    void loadSettingsAndEqualizer();
    // The default playlist (Op_04, Op_14), or a message when its file is missing.
    void loadDefaultPlaylist();
    // The last run's playlist and current row, when the option asks for them.  Rows whose
    // file is missing stay (marked missing) and are looked for again every
    // kMissingRecheckMs until found.  currentRowRestored follows once the rows are in.
    void restoreLastSession();

    // The folder search pattern; the adder's rules for drops follow it.
    const QString &searchPattern() const { return m_searchPattern; }
    void setSearchPattern(const QString &pattern);
    // The adder's rules for drops on the list: WideDrops=1 (an option) takes
    // TrackAdder::DropRules::wide (playlists of any spelling, folders, a message for the
    // files not added), else the classic rules; and the search pattern.  Files from
    // outside the window always take the wide rules.
    void applyDropRules();

    // Pop-up menu "Def_Playlist_Set"'s store: path becomes the start-up playlist (Op_14)
    // and the settings are saved; reply as PlaylistCommands::Def_Playlist_Set says.
    void storeStartupPlaylist(const QString &path, std::function<void(bool ok)> reply);

    // true (after the busy message) while the decoder plays.
    bool BusyGuard();

    // A track started (in the decoder or the video window): its row is marked as playing
    // and its cover looked for; trackShown follows.
    void showTrack();

    // The volume.  VolumeWord is the one set at start-up, VolumeHex the right channel shown
    // last (four hex digits).
    uint32_t VolumeWord() const { return m_volumeWord; }
    const QString &VolumeHex() const { return m_volumeHex; }
    // The volume kept from the last run (else the library's) goes to the library; returns
    // the right channel, for the slider.
    int showStartVolume();
    // The slider moved to value: both channels take it, kept for the next run.
    void slider1Change(int value);
    // The desktop's mixer set the volume (the library's already): kept for the next run.
    void mixerVolume(uint32_t word);

    // The shutdown sequence above; closeWindows is step 3.  Runs once; nothing after
    // claimSingleInstance failed.
    void shutdown(const std::function<void()> &closeWindows);

    static constexpr int kMissingRecheckMs = 5000;

signals:
    // Restoring the last run's playlist made row current (the window selects it).
    void currentRowRestored(int row);
    // showTrack marked row as playing (0: the track is not in the list).
    void trackShown(int row);

private:
    void recheckMissingRows();
    // A write of the last run's playlist ended: a failure is told once, with why.
    void sessionWritten(bool ok, const QString &error);
    // VolumeHex for a value of the slider.
    void showVolume(int value);

    Context m_ctx;
    PlaybackState m_state;
    Settings m_settings;
    bool m_settingsLoaded = false;
    bool m_unloaded = false;
    QString m_searchPattern;
    uint32_t m_volumeWord = 0;
    QString m_volumeHex;

    // Made in this order, destroyed in the reverse one.
    std::unique_ptr<PlaylistModel> m_playlist;
    std::unique_ptr<TrackAdder> m_adder;
    std::unique_ptr<PlaylistCommands> m_commands;
    std::unique_ptr<Sequencer> m_sequencer;
    std::unique_ptr<PlaybackController> m_playback;
    std::unique_ptr<CoverArt> m_cover;
    std::unique_ptr<SessionKeeper> m_session;
    // Runs while restored rows are marked missing: their files are looked for again.
    QTimer m_missingTimer;
    bool m_sessionFailureTold = false;
};

} // namespace kes
