#include "videoicons.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace kes
{

namespace
{

const QColor kInk(40, 40, 48);
const QColor kGreen(30, 150, 60);
const QColor kRed(200, 40, 40);
const QColor kScreen(40, 90, 190);

// Drawing happens in a 20 x 20 grid that the painter scales to the icon size.
void triangle(QPainter &p, qreal base, qreal tip, const QColor &c)
{
    QPainterPath path;
    path.moveTo(base, 4);
    path.lineTo(tip, 10);
    path.lineTo(base, 16);
    path.closeSubpath();
    p.fillPath(path, c);
}

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
    } else if (key == QLatin1String("back")) {
        p.fillRect(QRectF(3, 4, 2.5, 12), kInk);
        triangle(p, 11.5, 5, kInk);
        triangle(p, 17, 10.5, kInk);
    } else if (key == QLatin1String("play")) {
        triangle(p, 5, 17, kGreen);
    } else if (key == QLatin1String("pause")) {
        p.fillRect(QRectF(5, 4, 3.5, 12), kInk);
        p.fillRect(QRectF(11.5, 4, 3.5, 12), kInk);
    } else if (key == QLatin1String("stop")) {
        p.fillRect(QRectF(5, 5, 10, 10), kRed);
    } else if (key == QLatin1String("next")) {
        triangle(p, 3, 9.5, kInk);
        triangle(p, 8.5, 15, kInk);
        p.fillRect(QRectF(14.5, 4, 2.5, 12), kInk);
    }
}

} // namespace

QPixmap videoIcon(const QString &key, int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 20.0, size / 20.0);
    drawKey(p, key);
    return pm;
}

} // namespace kes
