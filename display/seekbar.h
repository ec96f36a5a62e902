// The seek bar `seekbar`: a horizontal scroll bar over the track's seconds.  The player
// moves it every second; on a long track its handle stays on the same pixel for several
// of them, and the style's drawing of the bar is the dearest part of the window's
// repaints while a track plays, so a new value repaints only when what the bar shows
// changes: the handle's place, or an end of the range reached or left (the style greys
// the arrow there).  GUI thread only.
#pragma once

#include <QRect>
#include <QScrollBar>

namespace kes
{

class SeekBar : public QScrollBar
{
    Q_OBJECT
public:
    explicit SeekBar(QWidget *parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Look {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const;

    Look m_painted; // what the last paint showed
    bool m_paintedOnce = false;
};

} // namespace kes
