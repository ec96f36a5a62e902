#include "playersession.h"

#include "coverart.h"
#include "eqpresets.h"
#include "exitwatchdog.h"
#include "outputdevicechoice.h"
#include "pathbytes.h"
#include "playbackcontroller.h"
#include "playlistcommands.h"
#include "playlistmodel.h"
#include "prompter.h"
#include "replaygainchoice.h"
#include "sequencer.h"
#include "sessionlist.h"
#include "settingssaver.h"
#include "singleinstance.h"
#include "trackadder.h"
#include "trimnull.h"
#include "volumememory.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>

#include <optional>
#include <utility>

namespace kes
{

PlayerSession::PlayerSession(const Context &context, const Bindings &bindings, QObject *parent)
    : QObject(parent)
    , m_ctx(context)
{
    m_playlist = std::make_unique<PlaylistModel>(this);
    m_adder = std::make_unique<TrackAdder>(m_playlist.get(), m_ctx.api, m_ctx.prompter, this);
    m_commands = std::make_unique<PlaylistCommands>(*m_playlist, *m_adder, *m_ctx.prompter, m_ctx.programFolder);
    m_sequencer
        = std::make_unique<Sequencer>(*m_playlist, m_state.CurrentTrackNo, bindings.playMode, bindings.repeatOn);
    m_playback = std::make_unique<PlaybackController>(
        m_ctx.api, *m_ctx.prompter, bindings.view, m_state, *m_sequencer, m_settings, this);
    // The file queued to follow the playing track follows the list, the mode and repeat.
    m_playback->watchRows(*m_playlist);

    m_cover = std::make_unique<CoverArt>(
        m_ctx.api, m_ctx.cacheDir.isEmpty() ? CoverArt::defaultCacheDir() : m_ctx.cacheDir, this);
    connect(m_playback.get(), &PlaybackController::trackStarted, this, &PlayerSession::showTrack);
    const QString sessionPath = !m_ctx.sessionPath.isEmpty()
        ? m_ctx.sessionPath
        // path-rule: beside the settings file, in the program's own folder.
        : QFileInfo(m_ctx.iniPath).dir().filePath(QStringLiteral("kestrine_last.m3u8"));
    m_session = std::make_unique<SessionKeeper>(
        *m_playlist, sessionPath, [this] { return m_state.CurrentTrackNo; },
        [this] { return m_settings.RESUME_LIST == 1; }, this);
    connect(m_playback.get(), &PlaybackController::trackStarted, m_session.get(), &SessionKeeper::noteChange);
    connect(m_session.get(), &SessionKeeper::written, this, &PlayerSession::sessionWritten);

    m_missingTimer.setInterval(kMissingRecheckMs);
    connect(&m_missingTimer, &QTimer::timeout, this, [this] {
        m_adder->recheckMissing();
        recheckMissingRows();
    });
}

PlayerSession::~PlayerSession() = default;

bool PlayerSession::claimSingleInstance()
{
    if (!m_ctx.instance || m_ctx.instance->tryAcquire())
        return true;
    m_ctx.prompter->message(QStringLiteral("このアプリケーションは重複起動することができません。"),
        Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
    m_unloaded = true; // the decoder library was never touched
    return false;
}

void PlayerSession::start()
{
    m_playback->start();
}

void PlayerSession::loadSettingsForToolbar()
{
    if (m_settingsLoaded)
        return;
    LoadSettings(m_settings, m_ctx.iniPath);
    m_settingsLoaded = true;
}

void PlayerSession::loadSettingsAndEqualizer()
{
    LoadSettings(m_settings, m_ctx.iniPath);
    m_settingsLoaded = true;
    ApplyEqPreset(m_settings, m_ctx.api);
    // The library takes these once it is initialised (it refuses them before).
    applyReplayGain(m_ctx.api, m_settings);
    if (!m_settings.OutputDevice.isEmpty())
        applyOutputDevice(m_ctx.api, m_settings.OutputDevice);
}

void PlayerSession::loadDefaultPlaylist()
{
    if (m_settings.Op_04 != 1 || m_settings.Op_14.isEmpty())
        return;
    if (isRegularFile(m_settings.Op_14))
        m_commands->LoadM3u(TrimNull(m_settings.Op_14));
    else
        m_ctx.prompter->message(QStringLiteral("指定の起動時用m3uファイルがみつかりません。Ｌｏａｄを中止します."));
}

void PlayerSession::setSearchPattern(const QString &pattern)
{
    m_searchPattern = pattern;
    applyDropRules();
}

void PlayerSession::applyDropRules()
{
    m_adder->setDropRules({ m_settings.WideDrops == 1, m_searchPattern });
}

void PlayerSession::storeStartupPlaylist(const QString &path, std::function<void(bool ok)> reply)
{
    m_settings.Op_14 = path;
    SettingsSaver::instance().save(m_ctx.iniPath, settingEdits(m_settings), this,
        [reply = std::move(reply)](const SaveResult &r) { reply(r.ok); });
}

int PlayerSession::showStartVolume()
{
    // The library starts at full volume; the one the user left last time stands in for
    // the system's wave-out volume.
    if (m_ctx.volume) {
        if (const std::optional<uint32_t> kept = m_ctx.volume->stored())
            m_playback->setVolume(*kept);
    }
    m_volumeWord = m_playback->volume();
    const int right = static_cast<int>(m_volumeWord >> 16);
    showVolume(right);
    return right;
}

void PlayerSession::slider1Change(int value)
{
    const auto v = static_cast<uint32_t>(value) & 0xFFFFu;
    showVolume(static_cast<int>(v));
    m_playback->setVolume((v << 16) | v);
    if (m_ctx.volume)
        m_ctx.volume->remember((v << 16) | v);
}

void PlayerSession::mixerVolume(uint32_t word)
{
    showVolume(static_cast<int>(word >> 16));
    if (m_ctx.volume)
        m_ctx.volume->remember(word);
}

void PlayerSession::showVolume(int value)
{
    m_volumeHex = QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

void PlayerSession::restoreLastSession()
{
    if (m_settings.RESUME_LIST != 1)
        return;
    const Session session = m_session->load();
    if (session.rows.isEmpty())
        return;
    QStringList paths;
    paths.reserve(session.rows.size());
    for (const SessionRow &r : session.rows)
        paths.append(r.path);
    m_session->setRestoring(true);
    // A file missing now (its drive not mounted yet) keeps its row, marked missing.
    m_adder->restoreFiles(paths);
    connect(
        m_adder.get(), &TrackAdder::rowsIdle, this,
        [this, session] {
            QHash<QString, int> rowOf;
            rowOf.reserve(m_playlist->count());
            for (int i = 1; i <= m_playlist->count(); ++i)
                rowOf.insert(m_playlist->fullPath(i), i);
            QMap<int, int> queue; // place in the queue: row
            for (const SessionRow &r : session.rows) {
                const int row = rowOf.value(r.path);
                if (row == 0)
                    continue;
                m_playlist->setChecked(row, r.checked);
                if (r.ended)
                    m_playlist->setTag(row, QStringLiteral("END"));
                if (r.queued > 0)
                    queue.insert(r.queued, row);
            }
            m_playlist->enqueue(queue.values());
            // Files handed over at the start may be playing already: they keep their row.
            const int current = rowOf.value(session.current);
            if (current > 0 && m_state.CurrentFile.isEmpty()) {
                m_state.CurrentTrackNo = current;
                emit currentRowRestored(current);
            }
            m_session->setRestoring(false);
            recheckMissingRows();
        },
        Qt::SingleShotConnection);
}

void PlayerSession::sessionWritten(bool ok, const QString &error)
{
    // Told once, not at every change that fails again; a write that works re-arms it.
    if (ok || m_unloaded) {
        m_sessionFailureTold = m_sessionFailureTold && !ok;
        return;
    }
    if (std::exchange(m_sessionFailureTold, true))
        return;
    m_ctx.prompter->message(
        QStringLiteral("前回のプレイリストを保存できませんでした（次回の起動時に開けません）。\n%1\n%2")
            .arg(displayPath(m_session->path()), error),
        Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
}

void PlayerSession::recheckMissingRows()
{
    bool anyMissing = false;
    for (int i = 1; i <= m_playlist->count() && !anyMissing; ++i)
        anyMissing = m_playlist->isMissing(i);
    if (!anyMissing)
        m_missingTimer.stop();
    else if (!m_missingTimer.isActive())
        m_missingTimer.start();
}

bool PlayerSession::BusyGuard()
{
    if (m_ctx.api.getState(nullptr) == VBMP3_PLAYING) {
        m_ctx.prompter->message(QStringLiteral("現在、再生中のため、この機能は利用できません！"));
        return true;
    }
    return false;
}

void PlayerSession::showTrack()
{
    int row = m_state.CurrentTrackNo;
    if (m_playlist->fullPath(row) != m_state.CurrentFile) { // the list changed under it
        row = 0;
        for (int i = 1; i <= m_playlist->count() && row == 0; ++i)
            row = m_playlist->fullPath(i) == m_state.CurrentFile ? i : 0;
    }
    m_playlist->setPlayingRow(row);
    if (m_playlist->isMissing(row)) // it opened: its drive is back
        m_adder->recheckMissing();
    m_cover->request(m_state.CurrentFile);
    emit trackShown(row);
}

void PlayerSession::shutdown(const std::function<void()> &closeWindows)
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // The list as it stands now, for the next start (a write that failed is tried again),
    // however slow the disk: the exit watchdog waits for it within a limit of its own.
    bool kept = false;
    {
        QuitWork save;
        kept = m_session->finish();
    }
    if (!kept)
        qWarning("kestrine: the playlist could not be kept in %s: %s", qUtf8Printable(displayPath(m_session->path())),
            qUtf8Printable(m_session->lastError()));
    m_playback->stopTimers();
    closeWindows();
    m_adder->stop(); // no worker reads tags through the library once it is freed
    m_playback->shutdown();
}

} // namespace kes
