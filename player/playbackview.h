// What the playback controller needs of the window that shows it: the read-out labels,
// the seek bar, the tab control, the five lyrics lines, the spectrum box and the window's
// minimised state.  The controller calls these only with changed values (a read-out or
// lyrics line whose text differs, a seek value that moved), so an implementation may
// repaint at once.  GUI thread only.
#pragma once

#include <QString>

#include <cstdint>

namespace kes
{

class PlaybackView
{
public:
    // The information panel's labels, by what they show.
    enum class ReadOut {
        Number, // `Lbl_Number`, "No.7"
        Time, // `lblTime`, elapsed
        TotalTime, // `lbl_time2`
        Bitrate, // `Label6`
        Frequency, // `Label7`
        Artist, // `lbl_art`
        Title, // `lbl_title`
        Codec, // `lbl_codec`, beside the bit rate and frequency: "Layer III", "FLAC", "Opus"
    };
    static constexpr int kReadOuts = 8;

    virtual ~PlaybackView() = default;
    virtual void showReadOut(ReadOut which, const QString &text) = 0;
    // The seek bar `seekbar` spans 0..maximum seconds; setSeekValue is ignored while the
    // user drags the thumb.
    virtual void setSeekRange(int maximum) = 0;
    virtual void setSeekValue(int seconds) = 0;
    // `SSTab1`: 0 "Lyrcs View", 1 "Files".
    virtual void selectTab(int index) = 0;
    // `lbl_kasi(index)`, 0 on top; the current line is 2.
    virtual void showLyricsLine(int index, const QString &text) = 0;
    // Turns the current line's text yellow for good.
    virtual void highlightCurrentLine() = 0;
    // One spectrum frame from the two channels' 256 values each; clearSpectrum blanks
    // the box and keeps its levels.
    virtual void drawSpectrum(const int32_t *first, const int32_t *second) = 0;
    virtual void clearSpectrum() = 0;
    // Whether a spectrum frame drawn now would be seen (not while the window is minimised
    // or the box hidden): frames nobody sees are neither read nor drawn.
    virtual bool spectrumShown() const { return true; }
    // The main window gives way to the video window and comes back when it closes.
    virtual void minimizeForVideo() = 0;
    virtual void restoreFromVideo() = 0;
};

} // namespace kes
