#include "playbackcontroller.h"

#include "cuetrack.h"
#include "decodercallback.h"
#include "filename.h"
#include "mediatypes.h"
#include "pathbytes.h"
#include "playlistmodel.h"
#include "prompter.h"
#include "sequencer.h"
#include "trackreader.h"
#include "trimnull.h"
#include "videopresenter.h"
#include "waveoutvolume.h"

#include <algorithm>
#include <cstring>

namespace kes
{

namespace
{

// The longest the lyrics timer sleeps: bounds the lag should the heard clock jump ahead
// of what the last answer of vbmp3_getLyricsWait promised.
constexpr int kMaxLyricsSleepMs = 1000;

// The spellings of an ending in every letter case, the given one first: "txt", "Txt", ...
QStringList caseVariants(const QString &ending)
{
    QStringList out;
    const qsizetype n = ending.size();
    for (unsigned mask = 0; mask < (1u << n); ++mask) {
        QString s = ending;
        for (qsizetype i = 0; i < n; ++i)
            if (mask & (1u << i))
                s[i] = s[i].toUpper();
        out << s;
    }
    return out;
}

// The lyrics file beside a track: the track's path without its last four characters, with
// the ending ".txt" in any letter case (tracks copied from Windows), the exact ".txt"
// first; else ".lrc" in the same way.  Empty when there is none.  A handful of stat calls,
// no folder listing: a folder may hold many thousands of files.
QString lyricsFileBeside(const QString &stem)
{
    static const QStringList endings = caseVariants(QStringLiteral("txt")) + caseVariants(QStringLiteral("lrc"));
    for (const QString &ending : endings) {
        const QString candidate = stem + u'.' + ending;
        if (isRegularFile(candidate))
            return candidate;
    }
    return {};
}

// The lyrics file of a cue track: "<sheet's name without .cue> - NN", else the track's
// title (a '/' in it read as '_'), beside the sheet (a sheet stored in the image: beside
// the image, named after it), with the endings lyricsFileBeside tries.  Empty when
// there is none: an image's own lyrics run on the whole image's clock, not the track's.
QString cueLyricsFile(const CueTrackRef &track, const QString &title)
{
    const QString named = track.sheet.isEmpty() ? track.image : track.sheet;
    const qsizetype dot = named.lastIndexOf(u'.');
    const qsizetype slash = named.lastIndexOf(u'/');
    const QString stem = dot > slash ? named.left(dot) : named;
    const QString found = lyricsFileBeside(stem + QStringLiteral(" - %1").arg(track.number, 2, 10, QLatin1Char('0')));
    if (!found.isEmpty() || title.isEmpty())
        return found;
    return lyricsFileBeside(named.left(slash + 1) + QString(title).replace(u'/', u'_'));
}

} // namespace

PlaybackController::PlaybackController(const DecoderApi &api, Prompter &prompter, PlaybackView &view,
    PlaybackState &state, Sequencer &sequencer, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_prompter(prompter)
    , m_view(view)
    , m_state(state)
    , m_sequencer(sequencer)
    , m_settings(settings)
    , m_timebar(this)
    , m_lyricsTimer(this)
    , m_queue(m_api, sequencer, this)
    , m_opener(
          m_api, [this](uint64_t ticket, bool ok, const OpenInfo &info) { opened(ticket, ok, info); }, this)
    , m_queueTimer(this)
    , m_mixerTimer(this)
{
    m_timebar.setObjectName(QStringLiteral("Timebar"));
    m_timebar.setInterval(100);
    m_lyricsTimer.setObjectName(QStringLiteral("lyrics_timer"));
    m_lyricsTimer.setSingleShot(true);
    m_lyricsTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_timebar, &QTimer::timeout, this, &PlaybackController::timebarTick);
    connect(&m_lyricsTimer, &QTimer::timeout, this, &PlaybackController::stepLyrics);
    // The mixer may move the volume while nothing plays (the time bar's tick looks too).
    m_mixerTimer.setInterval(500);
    connect(&m_mixerTimer, &QTimer::timeout, this, &PlaybackController::takeMixerVolume);
    // The stop-after mark is met by the track that plays, wherever its row stands.
    m_sequencer.setPlayingFile([this] { return m_state.CurrentFile; });
    m_queueTimer.setSingleShot(true);
    m_queueTimer.setInterval(0);
    connect(&m_queueTimer, &QTimer::timeout, this, [this] {
        if (m_shutDown || opening()) // the open's report queues what follows
            return;
        takeJoin(JoinCheck::Report); // the choice it made is one the refresh must see
        m_queue.refresh();
    });
}

void PlaybackController::sequenceChanged()
{
    if (!m_shutDown && !m_queueTimer.isActive())
        m_queueTimer.start();
}

void PlaybackController::changeSequence(const std::function<void()> &change)
{
    takeJoin(JoinCheck::Report);
    change();
    sequenceChanged();
}

void PlaybackController::watchRows(const PlaylistModel &rows)
{
    m_rows = &rows;
    connect(&rows, &PlaylistModel::aboutToChange, this, &PlaybackController::takePendingJoin);
    connect(&rows, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
            if (roles.isEmpty() || roles.contains(Qt::CheckStateRole) || roles.contains(PlaylistModel::TagRole)
                || roles.contains(PlaylistModel::QueueRole) || roles.contains(PlaylistModel::StopAfterRole))
                sequenceChanged();
        });
    connect(&rows, &QAbstractItemModel::rowsInserted, this, &PlaybackController::sequenceChanged);
    connect(&rows, &QAbstractItemModel::rowsRemoved, this, &PlaybackController::sequenceChanged);
    connect(&rows, &QAbstractItemModel::rowsMoved, this, &PlaybackController::sequenceChanged);
    connect(&rows, &QAbstractItemModel::layoutChanged, this, &PlaybackController::sequenceChanged);
    connect(&rows, &QAbstractItemModel::modelReset, this, &PlaybackController::sequenceChanged);
}

void PlaybackController::start()
{
    m_api.init();
    m_api.callback(DecoderCallback);
    callbackFlags().CallbackActive = true;
    m_api.setLyrics3Use(0);
    m_mixerTimer.start();
}

void PlaybackController::setTicking(bool on)
{
    // The tick looks at the mixer's volume itself: the slower look runs only without it.
    if (on) {
        m_timebar.start();
        m_mixerTimer.stop();
    } else {
        m_timebar.stop();
        if (!m_shutDown)
            m_mixerTimer.start();
    }
}

void PlaybackController::takeMixerVolume()
{
    if (callbackFlags().VolumeChanged.exchange(false))
        emit mixerVolumeChanged(callbackFlags().MixerVolume.load());
}

void PlaybackController::setDecoderOptions()
{
    const Vbmp3Option vbmp3Option { { 128, 10, 10, 0 } };
    if (m_api.setVbmp3Option(&vbmp3Option) == 0)
        m_prompter.message(QStringLiteral("error"));
    const DecodeOption decodeOption { { 0, 0, 48000 } };
    if (m_api.setDecodeOption(&decodeOption) == 0)
        m_prompter.message(QStringLiteral("error"));
    // The sound device then takes each track's own rate and samples.
    m_api.setNativeOutputFormat(1);
}

void PlaybackController::stopTimers()
{
    m_shutDown = true;
    giveUpOpen(); // a track asked for before the quit does not start in it
    m_timebar.stop();
    m_queueTimer.stop();
    m_mixerTimer.stop();
    setLyricsOn(false);
}

void PlaybackController::shutdown()
{
    stopTimers();
    if (m_sessionEnded)
        return;
    m_sessionEnded = true;
    m_opener.finish(); // the library is not freed under an open or a queue
    m_queue.finish();
    callbackFlags().CallbackActive = false;
    m_api.stopCallback();
    m_api.stop();
    m_api.free();
}

QString PlaybackController::timeText(int seconds)
{
    return QStringLiteral("%1:%2")
        .arg(seconds / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString PlaybackController::frequencyText(int hertz)
{
    return QString::number(hertz / 1000.0, 'g', 15) + QStringLiteral(" KHz");
}

bool PlaybackController::isVideoName(const QString &path)
{
    return kes::isVideoName(path);
}

QString PlaybackController::lyricsFileOf(const QString &track)
{
    qsizetype cut = 4;
    if (const MediaType *type = mediaTypeOfName(track)) {
        const auto dotted = static_cast<qsizetype>(std::strlen(type->ending)) + 1;
        if (track.size() >= dotted && track.at(track.size() - dotted) == u'.')
            cut = dotted;
    }
    return track.left(std::max<qsizetype>(0, track.size() - cut)) + QStringLiteral(".txt");
}

void PlaybackController::showReadOut(PlaybackView::ReadOut which, const QString &text)
{
    std::optional<QString> &shown = m_readOuts[static_cast<size_t>(which)];
    if (shown == text)
        return;
    shown = text;
    m_view.showReadOut(which, text);
}

void PlaybackController::PlayTrack()
{
    using R = PlaybackView::ReadOut;
    for (;;) {
        // 1. Clear the names, close what the decoder had open, drop lyrics.  With an open
        // in flight nothing is open but what it opens, which is closed or opened over.
        showReadOut(R::Artist, QString());
        showReadOut(R::Title, QString());
        if (!opening()) {
            m_api.close();
            m_api.setLyricsFile("");
        }
        // The closed file's end, not yet seen by the tick, is no news for what follows.
        callbackFlags().TrackEnded = false;
        // The library dropped its queue with the file, and no join of that play is heard.
        m_queue.forget();
        callbackFlags().TrackJoined = false;
        // 2. Video and other media go to the video window.
        if (!isVideoName(m_state.CurrentFile))
            break;
        giveUpOpen();
        m_state.VideoFile = m_state.CurrentFile;
        m_state.VideoHandBack = false;
        m_view.minimizeForVideo();
        if (m_video)
            m_video->showVideo();
        if (!m_state.VideoHandBack) {
            if (m_lyricsOn)
                stepLyrics();
            emitState();
            return;
        }
        m_state.CurrentFile = m_state.VideoFile;
    }
    // 3. Open, on the opener's thread; the lines wait for what it opens.
    m_lyricsTimer.stop();
    const std::optional<CueTrackRef> track = cueTrackOf(m_state.CurrentFile);
    m_openTicket = m_opener.open(
        pathToBytes(fileOfPath(m_state.CurrentFile)), track ? std::optional(trackRangeOf(*track)) : std::nullopt);
}

void PlaybackController::giveUpOpen()
{
    if (m_openTicket == 0)
        return;
    m_openTicket = 0;
    m_opener.giveUp();
}

void PlaybackController::opened(uint64_t ticket, bool ok, const OpenInfo &info)
{
    if (m_volumeLater && !opening()) {
        m_volumeLater = false;
        waveOutSetVolume(m_api, m_volumeWord);
    }
    if (ticket == 0 || ticket != m_openTicket) {
        // Stale: given up after it opened, or replaced.  Closed here unless a newer open
        // or close on its way deals with it.
        if (ok && !opening() && !m_sessionEnded)
            m_api.close();
        return;
    }
    m_openTicket = 0;
    // Whatever happens below, lines that are followed show the new track's (or none).
    struct LyricsAfter {
        PlaybackController *c;
        ~LyricsAfter()
        {
            if (c->m_lyricsOn)
                c->stepLyrics();
            c->emitState();
        }
    } after { this };
    if (!ok) {
        // The player may have quit while the box was up: the library is freed then; or a
        // track asked for meanwhile may be opening.
        if (m_prompter.message(QStringLiteral("Open Error!!  Next File"), Prompter::Buttons::OkCancel)
                == Prompter::Answer::Cancel
            && !m_shutDown && !opening())
            m_api.init();
        return;
    }
    showTrack(info);
    // What follows is queued before the play, so that even a track shorter than the time
    // the play takes to start joins it.
    m_queue.refresh(true);
    // 10. Play.  A failure told of an earlier play is not this one's (the library reports
    // nothing of an older play once vbmp3_play has returned).
    callbackFlags().OutputFailed = false;
    if (m_api.play() == 0) {
        m_prompter.message(QStringLiteral("Play start Error!! Next File"));
        if (!m_shutDown && !opening())
            m_api.init();
        m_queue.forget();
        return;
    }
    setTicking(true);
    emit trackStarted();
}

void PlaybackController::showTrack(const OpenInfo &info)
{
    using R = PlaybackView::ReadOut;
    const QByteArray path = pathToBytes(fileOfPath(m_state.CurrentFile));
    const std::optional<CueTrackRef> track = cueTrackOf(m_state.CurrentFile);
    // 4, 5. Names and track number.
    ShowNowPlaying(m_state.CurrentFile);
    showReadOut(R::Number, QStringLiteral("No.%1").arg(m_state.CurrentTrackNo));
    // 6. Lyrics: the file's own Lyrics3 data, or a text file beside it; failing those,
    // lyrics embedded in the file's tags (a text file the user put beside the track wins
    // over what the file carries).
    int tab = 1;
    if (m_settings.Op_Kasi == 1 && track) {
        m_lyricsFile = cueLyricsFile(*track, currentRow() ? currentRow()->title : QString());
        if (!m_lyricsFile.isEmpty()) {
            tab = 0;
            m_api.setLyricsFile(pathToBytes(m_lyricsFile).constData());
            setLyricsOn(true);
        }
    } else if (m_settings.Op_Kasi == 1) {
        if (m_api.getFileType(path.constData()) > VBMP3_TYPE_LYRICS3) {
            if (m_api.readLyrics3Data() == -1) {
                tab = 0;
                setLyricsOn(true);
            }
        } else {
            const QString stem = lyricsFileOf(m_state.CurrentFile).chopped(4); // without ".txt"
            const QString found = lyricsFileBeside(stem);
            m_lyricsFile = found.isEmpty() ? stem + QStringLiteral(".txt") : found;
            if (!found.isEmpty()) {
                tab = 0;
                m_api.setLyricsFile(pathToBytes(m_lyricsFile).constData());
                setLyricsOn(true);
            } else if (m_api.readEmbeddedLyrics() == 1) {
                tab = 0;
                setLyricsOn(true);
            }
        }
    }
    m_view.selectTab(tab);
    const bool missing = m_settings.Op_Kasi == 1 && tab == 1;
    // 7-9. Total time, bit rate and frequency; a long track's may be estimates at first,
    // made exact by the tick once the library has counted its frames.  The codec stands
    // beside them.
    StreamInfo stream {};
    m_api.getStreamInfo(&stream);
    m_now = { m_state.CurrentFile, m_state.CurrentTrackNo, 0, 0, info.frequency, TrimNull(stream.codecName),
        m_tagTexts[0], m_tagTexts[1], m_tagTexts[2],
        stream.sampleRate > 0 ? stream.totalFrames * 1000 / stream.sampleRate : qint64(info.totalSeconds) * 1000 };
    showTotals(info);
    OpenInfo now {};
    m_totalsPending = m_api.getOpenInfo(&now) == 1;
    showReadOut(R::Frequency, frequencyText(info.frequency));
    showReadOut(R::Codec, m_now.codec);
    if (missing)
        emit lyricsMissing();
}

void PlaybackController::takeJoin(JoinCheck check)
{
    const bool joined
        = callbackFlags().TrackJoined.exchange(false) || (check == JoinCheck::AskAndClear && m_queue.clearHeard());
    if (!joined)
        return;
    const std::optional<QString> path = m_queue.take();
    if (!path)
        return;
    // As at the end of a track: both timers off and the next row chosen (ahead); then
    // PlayTrack's steps for the file the decoder plays already, the timer on again.
    setTicking(false);
    setLyricsOn(false);
    m_state.CurrentFile = *path;
    showReadOut(PlaybackView::ReadOut::Artist, QString());
    showReadOut(PlaybackView::ReadOut::Title, QString());
    m_api.setLyricsFile("");
    OpenInfo info {};
    m_api.getOpenInfo(&info);
    showTrack(info);
    setTicking(true);
    if (m_lyricsOn)
        stepLyrics();
    emit trackStarted();
    if (check == JoinCheck::Report) // else the command ends the play
        m_queue.refresh();
}

void PlaybackController::stopHeard()
{
    takeJoin(JoinCheck::AskAndClear);
    if (opening())
        giveUpOpen(); // nothing plays yet; what the open opens is closed
    else
        m_api.stop();
    // Nothing was queued any more, or the join is taken: a report that came meanwhile is
    // of that one.
    callbackFlags().TrackJoined = false;
    m_queue.forget();
}

void PlaybackController::showTotals(const OpenInfo &info)
{
    using R = PlaybackView::ReadOut;
    // The bar holds any length in seconds (no 16-bit range here).
    m_now.totalSeconds = std::max(0, info.totalSeconds);
    m_now.bitrate = info.bitrate;
    showReadOut(R::TotalTime, timeText(m_now.totalSeconds));
    m_view.setSeekRange(m_now.totalSeconds);
    showReadOut(R::Bitrate, info.bitrate == 0 ? QStringLiteral("VBR") : QStringLiteral("%1 kb/s").arg(info.bitrate));
}

void PlaybackController::StopTrack()
{
    stopHeard(); // a join heard before the stop: the stopped track is that one
    m_view.selectTab(1);
    setTicking(false);
    m_view.clearSpectrum();
    // The lyrics stay followed: the lines are those of the stopped position.
    if (m_lyricsOn)
        stepLyrics();
    emitState();
}

void PlaybackController::PauseResume()
{
    takeJoin(JoinCheck::Report);
    if (opening())
        return; // no file yet to pause, or to play again
    switch (m_api.getState(nullptr)) {
    case VBMP3_STOPPED:
        m_api.play();
        setTicking(true);
        m_queue.refresh();
        break;
    case VBMP3_PLAYING:
        m_api.pause();
        setTicking(false);
        break;
    case VBMP3_PAUSED:
        m_api.restart();
        setTicking(true);
        break;
    default:
        m_prompter.message(QStringLiteral("設定値以外の引数が返されました。"));
        return;
    }
    if (m_lyricsOn)
        stepLyrics();
    emitState();
}

void PlaybackController::NextTrack()
{
    stopHeard();
    if (const std::optional<QString> next = m_sequencer.nextRow()) {
        m_state.CurrentFile = *next;
        if (!next->isEmpty())
            PlayTrack();
    }
    emitState();
}

bool PlaybackController::PrevTrack()
{
    stopHeard();
    const QString previous = m_sequencer.previousRow();
    if (!previous.isEmpty())
        m_state.CurrentFile = previous;
    emitState();
    return !previous.isEmpty();
}

void PlaybackController::playPressed()
{
    takeJoin(JoinCheck::AskAndClear);
    if (const std::optional<QString> queued = m_sequencer.takeQueued()) {
        m_state.CurrentFile = *queued;
        return PlayTrack();
    }
    if (m_sequencer.CanChoose()) {
        m_state.CurrentFile = m_sequencer.ChooseTrack();
        if (!m_state.CurrentFile.isEmpty())
            return PlayTrack();
    }
    if (!opening())
        m_queue.refresh(); // what plays goes on: its follower is queued again
}

void PlaybackController::previousPressed()
{
    // A choice can be possible with no row checked (Random with repeat): then there is no
    // row to go back to, and the current track is not played again.
    takeJoin(JoinCheck::AskAndClear);
    if (m_sequencer.CanChoose() && PrevTrack())
        PlayTrack();
    else if (!opening())
        m_queue.refresh();
}

void PlaybackController::playRow(int trackNo, const QString &path)
{
    takeJoin(JoinCheck::AskAndClear);
    m_state.CurrentTrackNo = trackNo;
    m_state.CurrentFile = path;
    PlayTrack();
}

void PlaybackController::timebarTick()
{
    if (opening()) { // no file is open: nothing ends, moves or sounds
        takeMixerVolume();
        return;
    }
    // The output failed (a full disk under the file output): the library has stopped;
    // this play is over without an end of track, and nothing moves on to the next row.
    if (callbackFlags().OutputFailed.exchange(false)) {
        StopTrack();
        m_prompter.message(QStringLiteral("音声の出力に失敗したため、再生を停止しました。"), Prompter::Buttons::Ok,
            Prompter::Icon::Exclamation);
        return;
    }
    // 1. The queued track began (the end of one track and the start of the next); the end
    // of a track: both timers off before the next track is chosen.
    takeJoin(JoinCheck::Report);
    if (callbackFlags().TrackEnded.exchange(false)) {
        setTicking(false);
        setLyricsOn(false);
        if (m_sequencer.stopsHere()) { // the stop-after mark is met: nothing follows
            m_sequencer.clearStopAfter();
            StopTrack();
        } else {
            NextTrack();
        }
    }
    if (m_totalsPending) {
        OpenInfo info {};
        const int32_t known = m_api.getOpenInfo(&info);
        m_totalsPending = known == 1;
        if (known == 2 && (info.totalSeconds != m_now.totalSeconds || info.bitrate != m_now.bitrate)) {
            showTotals(info);
            emit totalsCounted();
        }
    }
    takeMixerVolume();
    // 2. Spectrum on every second tick.
    if (++m_spectrumTick >= 2) {
        if (m_settings.Op_01 == 1 && m_view.spectrumShown())
            DrawSpectrum();
        m_spectrumTick = 0;
    }
    // 3-5. Position.
    int32_t seconds = 0;
    m_api.getState(&seconds);
    m_view.setSeekValue(seconds);
    showReadOut(PlaybackView::ReadOut::Time, timeText(seconds));
}

void PlaybackController::seekbarScroll(int seconds)
{
    takeJoin(JoinCheck::Report);
    if (opening())
        return;
    m_api.seek(seconds);
    if (m_lyricsOn)
        stepLyrics();
}

void PlaybackController::DrawSpectrum()
{
    int32_t first[256] {};
    int32_t second[256] {};
    if (!opening())
        m_api.getSpectrum(first, second);
    m_view.drawSpectrum(first, second);
}

const TrackRow *PlaybackController::currentRow() const
{
    if (!m_rows)
        return nullptr;
    if (m_rows->fullPath(m_state.CurrentTrackNo) == m_state.CurrentFile)
        return &m_rows->row(m_state.CurrentTrackNo);
    for (int i = 1; i <= m_rows->count(); ++i)
        if (m_rows->fullPath(i) == m_state.CurrentFile)
            return &m_rows->row(i);
    return nullptr;
}

void PlaybackController::ShowNowPlaying(const QString &path)
{
    using R = PlaybackView::ReadOut;
    showReadOut(R::Artist, QString());
    showReadOut(R::Title, QString());
    // A cue track's names are its sheet's, as its row holds them.
    if (isCueTrackKey(path)) {
        const TrackRow *row = path == m_state.CurrentFile ? currentRow() : nullptr;
        const bool known = row && !row->tagsPending;
        showReadOut(R::Artist, known && !row->artist.isEmpty() ? row->artist : QStringLiteral("Nothing Artist Data"));
        showReadOut(R::Title, known && !row->title.isEmpty() ? row->title : QStringLiteral("Nothing Title Data"));
        return;
    }
    // Tags and the RIFF list only: the MPEG facts (a frame count) would go unread.
    TagInfo tag {};
    ListInfo list {};
    m_api.getFileInfo2(pathToBytes(path).constData(), &tag, nullptr, &list);
    // The kind by content: MP3 and the added formats show their tags, RMP its RIFF list.
    const MediaType *type = mediaTypeOfEnding(FileKindOf(m_api, path));
    const MediaType::Row row = type ? type->row : MediaType::Row::Named;
    auto either = [](const QString &a, const QString &b, const QString &none) {
        return !a.isEmpty() ? a : !b.isEmpty() ? b : none;
    };
    m_tagTexts = { TrimNull(tag.title), TrimNull(tag.artist), TrimNull(tag.album) };
    if (row == MediaType::Row::Listed)
        m_tagTexts = { TrimNull(list.text[0]), TrimNull(list.text[1]), TrimNull(list.text[2]) };
    for (int i = 0; i < 3; ++i)
        if (m_tagTexts[i].isEmpty())
            m_tagTexts[i] = i == 0 ? TrimNull(tag.title) : i == 1 ? TrimNull(tag.artist) : TrimNull(tag.album);
    if (row == MediaType::Row::Tagged) {
        showReadOut(R::Artist, either(TrimNull(tag.artist), QString(), QStringLiteral("Nothing Artist Data")));
        showReadOut(R::Title, either(TrimNull(tag.title), QString(), QStringLiteral("Nothing Title Data")));
    } else if (row == MediaType::Row::Listed) {
        showReadOut(R::Artist, either(TrimNull(list.text[1]), TrimNull(tag.artist), QStringLiteral("Nothing Data")));
        showReadOut(R::Title, either(TrimNull(list.text[0]), TrimNull(tag.title), QStringLiteral("Nothing Data")));
    }
}

void PlaybackController::ShowLyrics()
{
    LyricsLines lines {};
    if (!opening())
        m_api.getLyrics(&lines);
    const char *fields[5] = { lines.line0, lines.line1, lines.line2, lines.line3, lines.line4 };
    for (size_t i = 0; i < 5; ++i) {
        const QString text = TrimNull(fields[i], 128);
        if (m_lyricsLines[i] != text) {
            m_lyricsLines[i] = text;
            m_view.showLyricsLine(static_cast<int>(i), text);
        }
    }
    const QString &current = *m_lyricsLines[2];
    if (!m_highlighted
        && std::any_of(current.cbegin(), current.cend(), [](QChar c) { return c != QLatin1Char(' '); })) {
        m_highlighted = true;
        m_view.highlightCurrentLine();
    }
}

void PlaybackController::showLyricsFile(const QString &path)
{
    m_lyricsFile = path;
    m_api.setLyricsFile(pathToBytes(path).constData());
    setLyricsOn(true);
    m_view.selectTab(0);
    stepLyrics();
}

void PlaybackController::dropLyrics()
{
    m_api.setLyricsFile("");
    setLyricsOn(false);
    ShowLyrics();
}

void PlaybackController::setLyricsOn(bool on)
{
    m_lyricsOn = on;
    if (!on)
        m_lyricsTimer.stop();
}

void PlaybackController::stepLyrics()
{
    ShowLyrics();
    m_lyricsTimer.stop();
    // The heard position moves only while playing: pause, resume, seek and track changes
    // step again by themselves.
    if (libraryState() != VBMP3_PLAYING)
        return;
    const int32_t wait = m_api.getLyricsWait();
    if (wait >= 0)
        m_lyricsTimer.start(std::clamp(wait + 1, 1, kMaxLyricsSleepMs));
}

void PlaybackController::videoClosed()
{
    if (m_shutDown)
        return;
    m_view.restoreFromVideo();
    // The video window hands back the first row that is no video (or nothing when the
    // playlist ended there); it starts here, so that a mixed playlist plays through.
    if (!m_state.VideoHandBack)
        return;
    m_state.VideoHandBack = false;
    if (m_state.VideoFile.isEmpty())
        return;
    m_state.CurrentFile = m_state.VideoFile;
    PlayTrack();
}

uint32_t PlaybackController::volume() const
{
    if (!opening())
        waveOutGetVolume(m_api, &m_volumeWord);
    return m_volumeWord;
}

void PlaybackController::setVolume(uint32_t word)
{
    m_volumeWord = word;
    m_volumeLater = opening();
    if (!m_volumeLater)
        waveOutSetVolume(m_api, word);
}

int PlaybackController::libraryState() const
{
    return opening() ? VBMP3_STOPPED : m_api.getState(nullptr);
}

void PlaybackController::emitState()
{
    const int state = libraryState();
    if (state == m_lastState)
        return;
    m_lastState = state;
    emit stateChanged(state);
}

} // namespace kes
