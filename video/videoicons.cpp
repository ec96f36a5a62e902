#include "videoicons.h"

#include "toolbaricons.h"

#include <QHash>
#include <QPainter>

#include <array>

namespace kes
{

namespace
{

const QColor kInk(40, 40, 48);
const QColor kScreen(40, 90, 190);

// A monitor frame with a filled picture of the given size, centred: the size modes.
void screen(QPainter &p, qreal side)
{
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 2.5, 17, 15));
    const qreal w = side;
    const qreal h = side * 0.75;
    p.fillRect(QRectF(10 - w / 2, 10 - h / 2, w, h), kScreen);
}

void drawKey(QPainter &p, const QString &key)
{
    if (key == QLatin1String("half")) {
        screen(p, 6);
    } else if (key == QLatin1String("normal")) {
        screen(p, 10);
    } else if (key == QLatin1String("dubble")) {
        screen(p, 15);
    } else if (key == QLatin1String("full")) {
        p.fillRect(QRectF(1, 2, 18, 16), kScreen);
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        for (const auto &[x, y, dx, dy] :
            { std::array<qreal, 4> { 4, 5, 1, 1 }, { 16, 5, -1, 1 }, { 4, 15, 1, -1 }, { 16, 15, -1, -1 } }) {
            p.drawLine(QPointF(x, y), QPointF(x + 3 * dx, y));
            p.drawLine(QPointF(x, y), QPointF(x, y + 3 * dy));
        }
    }
}

} // namespace

QPixmap videoIcon(const QString &key, int size)
{
    // The transport buttons wear the main toolbar's pictures.
    static const QHash<QString, QString> transport { { QStringLiteral("back"), QStringLiteral("前曲") },
        { QStringLiteral("play"), QStringLiteral("再生") }, { QStringLiteral("pause"), QStringLiteral("一時") },
        { QStringLiteral("stop"), QStringLiteral("停止") }, { QStringLiteral("next"), QStringLiteral("次曲") } };
    if (const auto it = transport.find(key); it != transport.end())
        return toolbarIcon(*it, size);
    return drawnIcon(size, [&key](QPainter &p) { drawKey(p, key); });
}

} // namespace kes
