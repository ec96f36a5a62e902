// The main window's playback procedures: playing, pausing and stopping a track, moving
// through the playlist, the position timer, the now-playing read-outs and the lyrics
// lines.  GUI thread only; every decoder call returns at once.
#include "mainwindow.h"

#include "playbackstate.h"
#include "playlistmodel.h"
#include "sequencer.h"
#include "tabcontrol.h"
#include "trackreader.h"
#include "trimnull.h"
#include "wavebox.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace kes
{

QString MainWindow::timeText(int seconds)
{
    return QStringLiteral("%1:%2")
        .arg(seconds / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString MainWindow::frequencyText(int hertz)
{
    return QString::number(hertz / 1000.0, 'g', 15) + QStringLiteral(" KHz");
}

void MainWindow::PlayTrack()
{
    PlaybackState &pb = playback();
    for (;;) {
        // 1. Clear the names, close what the decoder had open, drop lyrics.
        m_lblArt->setText(QString());
        m_lblTitle->setText(QString());
        m_ctx.api.close();
        m_ctx.api.setLyricsFile("");
        // 2. Video and other media go to the video window.
        if (!isVideoName(pb.CurrentFile))
            break;
        pb.VideoFile = pb.CurrentFile;
        pb.VideoHandBack = false;
        showMinimized();
        m_video->showVideo();
        if (!pb.VideoHandBack)
            return;
        pb.CurrentFile = pb.VideoFile;
    }
    // 3. Open.
    OpenInfo info {};
    const QByteArray path = pb.CurrentFile.toUtf8();
    if (m_ctx.api.open(path.constData(), &info) == 0) {
        if (m_ctx.prompter->message(QStringLiteral("Open Error!!  Next File"), Prompter::Buttons::OkCancel)
            == Prompter::Answer::Cancel)
            m_ctx.api.init();
        return;
    }
    // 4, 5. Names and track number.
    ShowNowPlaying(pb.CurrentFile);
    m_lblNumber->setText(QStringLiteral("No.%1").arg(pb.CurrentTrackNo));
    // 6. Lyrics: the file's own Lyrics3 data, or a text file beside it.
    int tab = 1;
    if (m_settings.Op_Kasi == 1) {
        const int32_t type = m_ctx.api.getFileType(path.constData());
        if (type > 32) {
            if ((m_ctx.api.readLyrics3Data() & 0xFFFF) == 0xFFFF) {
                tab = 0;
                m_lyricsTimer->start();
            }
        } else {
            m_lyricsFile
                = pb.CurrentFile.left(std::max<qsizetype>(0, pb.CurrentFile.size() - 4)) + QStringLiteral(".txt");
            const QFileInfo fi(m_lyricsFile);
            if (fi.exists() && fi.isFile()) {
                tab = 0;
                m_ctx.api.setLyricsFile(m_lyricsFile.toUtf8().constData());
                m_lyricsTimer->start();
            }
        }
    }
    m_tab->setCurrentIndex(tab);
    // 7. Total time; the seek bar's range as a 16-bit value, as the bar holds it.
    const int total = static_cast<int16_t>(info.totalSeconds);
    m_lblTime2->setText(timeText(total));
    m_seekbar->setMaximum(total);
    m_seekbar->setMinimum(0);
    // 8, 9. Bit rate and frequency.
    m_label6->setText(info.bitrate == 0 ? QStringLiteral("VBR") : QStringLiteral("%1 kb/s").arg(info.bitrate));
    m_label7->setText(frequencyText(info.frequency));
    // 10. Play.
    if (m_ctx.api.play() == 0) {
        m_ctx.prompter->message(QStringLiteral("Play start Error!! Next File"));
        m_ctx.api.init();
        return;
    }
    m_timebar->start();
    emit trackStarted();
}

void MainWindow::videoClosed()
{
    // The window hands back the first row that is no video, or nothing when the playlist
    // ended; started here, so that a mixed playlist plays through by itself.
    PlaybackState &pb = playback();
    if (m_unloaded || !pb.VideoHandBack)
        return;
    pb.VideoHandBack = false;
    if (pb.VideoFile.isEmpty())
        return;
    pb.CurrentFile = pb.VideoFile;
    PlayTrack();
}

void MainWindow::StopTrack()
{
    m_ctx.api.stop();
    m_tab->setCurrentIndex(1);
    m_timebar->stop();
    m_wavebox->clearBox();
}

void MainWindow::PauseResume()
{
    switch (m_ctx.api.getState(nullptr)) {
    case VBMP3_STOPPED:
        m_ctx.api.play();
        m_timebar->start();
        break;
    case VBMP3_PLAYING:
        m_ctx.api.pause();
        m_timebar->stop();
        break;
    case VBMP3_PAUSED:
        m_ctx.api.restart();
        m_timebar->start();
        break;
    default:
        m_ctx.prompter->message(QStringLiteral("設定値以外の引数が返されました。"));
        break;
    }
}

void MainWindow::NextTrack()
{
    m_ctx.api.stop();
    if (const std::optional<QString> next = m_sequencer->NextRow()) {
        playback().CurrentFile = *next;
        if (!next->isEmpty())
            PlayTrack();
    }
}

void MainWindow::PrevTrack()
{
    m_ctx.api.stop();
    const QString previous = m_sequencer->PreviousRow();
    if (!previous.isEmpty())
        playback().CurrentFile = previous;
}

void MainWindow::playPressed()
{
    if (!m_sequencer->CanChoose())
        return;
    playback().CurrentFile = m_sequencer->ChooseTrack();
    if (!playback().CurrentFile.isEmpty())
        PlayTrack();
}

void MainWindow::previousPressed()
{
    if (!m_sequencer->CanChoose())
        return;
    PrevTrack();
    PlayTrack();
}

void MainWindow::Timebar_Timer()
{
    PlaybackState &pb = playback();
    // 1. End of track: both timers off before the next track is chosen.
    if (pb.TrackEnded.exchange(false)) {
        m_timebar->stop();
        m_lyricsTimer->stop();
        NextTrack();
    }
    // 2. Spectrum on every second tick.
    if (++m_spectrumTick >= 2) {
        if (m_settings.Op_01 == 1)
            DrawSpectrum();
        m_spectrumTick = 0;
    }
    // 3-5. Position.
    int32_t seconds = 0;
    m_ctx.api.getState(&seconds);
    if (!m_seekbar->isSliderDown())
        m_seekbar->setValue(seconds);
    const QString text = timeText(seconds);
    if (m_lblTime->text() != text)
        m_lblTime->setText(text);
}

void MainWindow::seekbar_Scroll(int value)
{
    m_ctx.api.seek(value);
}

void MainWindow::DrawSpectrum()
{
    int32_t first[256];
    int32_t second[256];
    m_ctx.api.getSpectrum(first, second);
    m_wavebox->DrawSpectrum(first, second);
}

void MainWindow::ShowNowPlaying(const QString &path)
{
    m_lblArt->setText(QString());
    m_lblTitle->setText(QString());
    TagInfo tag {};
    MpegInfo mpeg {};
    ListInfo list {};
    const QByteArray bytes = path.toUtf8();
    m_ctx.api.getFileInfo2(bytes.constData(), &tag, &mpeg, &list);
    m_ctx.api.getMpegInfo(&mpeg);
    const QString kind = FileKindOf(m_ctx.api, path);
    auto either = [](const QString &a, const QString &b, const QString &none) {
        return !a.isEmpty() ? a : !b.isEmpty() ? b : none;
    };
    if (kind == QStringLiteral("mp3")) {
        m_lblArt->setText(either(TrimNull(tag.artist), QString(), QStringLiteral("Nothing Artist Data")));
        m_lblTitle->setText(either(TrimNull(tag.title), QString(), QStringLiteral("Nothing Title Data")));
    } else if (kind == QStringLiteral("rmp")) {
        m_lblArt->setText(either(TrimNull(list.text[1]), TrimNull(tag.artist), QStringLiteral("Nothing Data")));
        m_lblTitle->setText(either(TrimNull(list.text[0]), TrimNull(tag.title), QStringLiteral("Nothing Data")));
    }
}

void MainWindow::ShowLyrics()
{
    LyricsLines lines;
    std::memset(&lines, 0, sizeof lines);
    m_ctx.api.getLyrics(&lines);
    // The timer ticks every 5 ms: a tick that finds the lines of the last one does nothing.
    if (m_lastLyricsValid && std::memcmp(lines.line4, m_lastLyrics.line4, sizeof lines - sizeof lines.current) == 0)
        return;
    m_lastLyrics = lines;
    m_lastLyricsValid = true;
    const char *fields[5] = { lines.line0, lines.line1, lines.line2, lines.line3, lines.line4 };
    for (int i = 0; i < 5; ++i) {
        const QString text = TrimNull(fields[i], 128);
        if (m_kasi[i]->text() != text)
            m_kasi[i]->setText(text);
    }
    const QString current = TrimNull(lines.line2);
    if (std::any_of(current.cbegin(), current.cend(), [](QChar c) { return c != QLatin1Char(' '); })) {
        QPalette pal = m_kasi[2]->palette();
        if (pal.color(QPalette::WindowText) != QColor(255, 255, 0)) {
            pal.setColor(QPalette::WindowText, QColor(255, 255, 0));
            m_kasi[2]->setPalette(pal);
        }
    }
}

} // namespace kes
