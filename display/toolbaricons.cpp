#include "toolbaricons.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace kes
{

namespace
{

const QColor kInk(40, 40, 48);
const QColor kGreen(30, 150, 60);
const QColor kRed(200, 40, 40);
const QColor kBlue(40, 90, 190);

// Drawing happens in a 20 x 20 design grid; the painter scales it to the icon size.
// A triangle with its base on x = base and its tip on x = tip (pointing either way).
void triangle(QPainter &p, qreal base, qreal tip, const QColor &c)
{
    QPainterPath path;
    path.moveTo(base, 4);
    path.lineTo(tip, 10);
    path.lineTo(base, 16);
    path.closeSubpath();
    p.fillPath(path, c);
}

void drawKey(QPainter &p, const QString &key)
{
    if (key == QStringLiteral("再生")) {
        triangle(p, 5, 17, kGreen);
    } else if (key == QStringLiteral("一時")) {
        p.fillRect(QRectF(5, 4, 3.5, 12), kInk);
        p.fillRect(QRectF(11.5, 4, 3.5, 12), kInk);
    } else if (key == QStringLiteral("停止")) {
        p.fillRect(QRectF(5, 5, 10, 10), kRed);
    } else if (key == QStringLiteral("前曲")) {
        p.fillRect(QRectF(3, 4, 2.5, 12), kInk);
        triangle(p, 11.5, 5, kInk);
        triangle(p, 17, 10.5, kInk);
    } else if (key == QStringLiteral("次曲")) {
        triangle(p, 3, 9.5, kInk);
        triangle(p, 8.5, 15, kInk);
        p.fillRect(QRectF(14.5, 4, 2.5, 12), kInk);
    } else if (key == QStringLiteral("終了")) {
        p.setPen(QPen(kRed, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(3.5, 4, 13, 13), 120 * 16, 300 * 16);
        p.drawLine(QPointF(10, 2.5), QPointF(10, 10));
    } else if (key == QStringLiteral("検索")) {
        p.setPen(QPen(kInk, 2.0));
        p.drawEllipse(QRectF(3, 3, 10, 10));
        p.setPen(QPen(kInk, 3.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12, 12), QPointF(17, 17));
    } else if (key == QStringLiteral("設定")) {
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(10, 10);
            p.rotate(i * 45);
            p.drawRect(QRectF(-1.6, -8.5, 3.2, 4));
            p.restore();
        }
        p.drawEllipse(QRectF(4, 4, 12, 12));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(7.5, 7.5, 5, 5));
    } else if (key == QStringLiteral("変形")) {
        p.setPen(QPen(kInk, 1.6));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3, 2.5, 14, 15));
        p.fillRect(QRectF(3, 2.5, 14, 3), kBlue);
        QPainterPath up, down;
        up.moveTo(10, 7);
        up.lineTo(14, 11);
        up.lineTo(6, 11);
        up.closeSubpath();
        p.fillPath(up, kInk);
        p.fillRect(QRectF(6, 13, 8, 2.2), kInk);
    } else if (key == QStringLiteral("印刷")) {
        QRadialGradient g(QPointF(10, 10), 8);
        g.setColorAt(0, QColor(235, 235, 245));
        g.setColorAt(0.6, QColor(170, 200, 235));
        g.setColorAt(1, QColor(120, 140, 200));
        p.setPen(QPen(kInk, 1.2));
        p.setBrush(g);
        p.drawEllipse(QRectF(2, 2, 16, 16));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(7.5, 7.5, 5, 5));
    }
}

} // namespace

QPixmap drawnIcon(int size, const std::function<void(QPainter &)> &draw)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 20.0, size / 20.0);
    draw(p);
    return pm;
}

QPixmap toolbarIcon(const QString &key, int size)
{
    return drawnIcon(size, [&key](QPainter &p) { drawKey(p, key); });
}

QPixmap applicationIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient bg(0, 0, 0, 64);
    bg.setColorAt(0, QColor(20, 30, 90));
    bg.setColorAt(1, QColor(0, 0, 40));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    // spectrum bars
    const int heights[] = { 18, 30, 42, 26, 36, 22 };
    for (int i = 0; i < 6; ++i) {
        QLinearGradient g(0, 56, 0, 56 - heights[i]);
        g.setColorAt(0, QColor(240, 255, 255));
        g.setColorAt(1, QColor(0, 255, 255));
        p.fillRect(QRectF(10 + i * 8, 54 - heights[i], 5, heights[i]), g);
    }
    // a falcon's wing in orange
    QPainterPath wing;
    wing.moveTo(8, 20);
    wing.cubicTo(24, 6, 44, 6, 58, 14);
    wing.cubicTo(44, 14, 34, 18, 28, 28);
    wing.cubicTo(24, 22, 16, 20, 8, 20);
    p.fillPath(wing, QColor(255, 128, 0));
    return pm;
}

} // namespace kes
