#include "seekbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace kes
{

SeekBar::SeekBar(QWidget *parent)
    : QScrollBar(Qt::Horizontal, parent)
{
    setObjectName(QStringLiteral("seekbar"));
}

SeekBar::Look SeekBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return { style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        sliderPosition() == minimum(), sliderPosition() == maximum() };
}

void SeekBar::sliderChange(SliderChange change)
{
    // A repaint already asked for shows the newest value anyway.
    if (change == SliderValueChange && m_paintedOnce && look() == m_painted)
        return;
    QScrollBar::sliderChange(change);
}

void SeekBar::paintEvent(QPaintEvent *event)
{
    m_painted = look();
    m_paintedOnce = true;
    QScrollBar::paintEvent(event);
}

} // namespace kes
