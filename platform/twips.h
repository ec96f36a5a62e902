// Window geometry is laid out in twips, 15 twips to a logical pixel.
#pragma once

#include <QRect>
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

} // namespace kes
