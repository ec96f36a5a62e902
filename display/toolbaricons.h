// The toolbar's pictures, drawn by code so that they stay crisp at both sizes.
#pragma once

#include <QPixmap>
#include <QString>

#include <functional>

class QPainter;

namespace kes
{

// The ten keys in image-list order.
inline const char *const kToolbarImageKeys[10]
    = { "前曲", "再生", "一時", "停止", "次曲", "終了", "検索", "設定", "変形", "印刷" };

// A size x size picture on a transparent background, drawn by draw on a 20 x 20 grid.
QPixmap drawnIcon(int size, const std::function<void(QPainter &)> &draw);
// The picture for a key at size x size pixels (14 or 20), on a transparent background.
QPixmap toolbarIcon(const QString &key, int size);
// The application's icon at any size.
QPixmap applicationIcon(int size);

} // namespace kes
