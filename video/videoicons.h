// The video window's nine toolbar pictures, drawn by code.
#pragma once

#include <QPixmap>
#include <QString>

namespace kes
{

// The image list's keys in order (image index 1 to 9).
inline const char *const kVideoImageKeys[9]
    = { "half", "normal", "dubble", "full", "back", "play", "pause", "stop", "next" };

// The picture for an image key at size x size pixels, on a transparent background; an
// unknown key gives an empty picture.
QPixmap videoIcon(const QString &key, int size);

} // namespace kes
