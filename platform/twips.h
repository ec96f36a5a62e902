// Window geometry is laid out in twips, 15 twips to a logical pixel.
#pragma once

#include <QRect>
#include <QSize>
#include <QtMath>

namespace kes
{

constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPx(int twips)
{
    return (twips + (twips >= 0 ? 7 : -7)) / kTwipsPerPixel;
}
constexpr int pxToTwips(int px)
{
    return px * kTwipsPerPixel;
}
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPx(left), twipsToPx(top), twipsToPx(width), twipsToPx(height));
}

// The classic window frame: a window's client area is this much narrower and lower than
// the window, whose size the classic windows give and keep in twips.
constexpr int kFrameWidthTwips = 120;
constexpr int kFrameHeightTwips = 420;

// The window's size in twips from its client area's in pixels, and back.
inline QSize windowTwipsOfClient(QSize clientPx)
{
    return QSize(pxToTwips(clientPx.width()) + kFrameWidthTwips, pxToTwips(clientPx.height()) + kFrameHeightTwips);
}
inline QSize clientPxOfWindowTwips(int widthTwips, int heightTwips)
{
    return QSize(twipsToPx(widthTwips - kFrameWidthTwips), twipsToPx(heightTwips - kFrameHeightTwips));
}

} // namespace kes
