#include "jacketpainter.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>

#include <array>

namespace kes
{

QSize JacketPainter::boxTwips(JacketShape shape)
{
    return shape == JacketShape::Front ? QSize(6800, 6800) : QSize(8600, 6750);
}

QList<QRect> JacketPainter::outlineTwips(JacketShape shape)
{
    if (shape == JacketShape::Front)
        return { QRect(QPoint(0, 0), QPoint(6700, 6700)) };
    return { QRect(QPoint(0, 0), QPoint(350, 6680)), QRect(QPoint(350, 0), QPoint(8150, 6680)),
        QRect(QPoint(8150, 0), QPoint(8500, 6680)) };
}

QSizeF JacketPainter::insertMm(JacketShape shape)
{
    return shape == JacketShape::Front ? QSizeF(120, 120) : QSizeF(150, 118);
}

std::optional<QColor> JacketPainter::qbColor(int index)
{
    static const std::array<QRgb, 16> palette { qRgb(0, 0, 0), qRgb(0, 0, 128), qRgb(0, 128, 0), qRgb(0, 128, 128),
        qRgb(128, 0, 0), qRgb(128, 0, 128), qRgb(128, 128, 0), qRgb(192, 192, 192), qRgb(128, 128, 128),
        qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(0, 255, 255), qRgb(255, 0, 0), qRgb(255, 0, 255), qRgb(255, 255, 0),
        qRgb(255, 255, 255) };
    if (index < 0 || index >= static_cast<int>(palette.size()))
        return std::nullopt;
    return QColor(palette[static_cast<size_t>(index)]);
}

QString JacketPainter::entryText(int number, const JacketEntry &entry)
{
    return QStringLiteral("%1 %2 ( %3 ) ").arg(number, 3, 10, QLatin1Char('0')).arg(entry.title, entry.artist);
}

QList<PlacedText> JacketPainter::layoutTrackList(const QList<JacketEntry> &entries, const TrackListLayout &layout,
    qreal charWidth, const std::function<qreal(const QString &)> &advance)
{
    QList<PlacedText> out;
    const int rows = static_cast<int>(entries.size());
    int line = layout.startPos + 1;
    qreal x = 0;
    auto tabTo = [&](int column) {
        const qreal target = (column - 1) * charWidth;
        if (x > target)
            ++line;
        x = target;
    };
    auto write = [&](int number) {
        const QString text = entryText(number, entries[number - 1]);
        out.append({ line, x, text });
        x += advance(text);
    };
    for (int i = 1; i <= layout.maxLine; ++i) {
        if (i <= rows) {
            tabTo(layout.col1);
            write(i);
        }
        if (rows > layout.maxLine && rows >= i + layout.maxLine) {
            tabTo(layout.col2);
            write(i + layout.maxLine);
        }
        ++line;
        x = 0;
    }
    return out;
}

QFont JacketPainter::trackListFont(int pointSize)
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(pointSize);
    return font;
}

bool JacketPainter::DrawTrackList(
    QPainter &painter, const QList<JacketEntry> &entries, const TrackListLayout &layout, int fontColor)
{
    const std::optional<QColor> color = qbColor(fontColor);
    if (!color)
        return false;
    // Design metrics: the font at a large pixel size, scaled to one em on this device.
    constexpr int kReferencePixels = 1000;
    QFont reference = trackListFont(layout.fontSize);
    reference.setPixelSize(kReferencePixels);
    reference.setHintingPreference(QFont::PreferNoHinting);
    const QFontMetricsF fm(reference);
    const QPaintDevice *device = painter.device();
    const qreal scaleX = layout.fontSize * device->logicalDpiX() / 72.0 / kReferencePixels;
    const qreal lineHeight = layout.fontSize * device->logicalDpiY() / 72.0;
    const qreal ascent = fm.ascent() * lineHeight / kReferencePixels;
    static const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const qreal charWidth = fm.horizontalAdvance(letters) / letters.size() * scaleX;

    const QList<PlacedText> placed = layoutTrackList(
        entries, layout, charWidth, [&fm, scaleX](const QString &text) { return fm.horizontalAdvance(text) * scaleX; });
    painter.save();
    painter.setFont(trackListFont(layout.fontSize));
    painter.setPen(*color);
    for (const PlacedText &p : placed)
        painter.drawText(QPointF(p.x, p.line * lineHeight + ascent), p.text);
    painter.restore();
    return true;
}

void JacketPainter::drawOutline(QPainter &painter, JacketShape shape, qreal twipX, qreal twipY, qreal penWidth)
{
    painter.save();
    QPen pen(Qt::black);
    pen.setWidthF(penWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (const QRect &r : outlineTwips(shape)) {
        // The rectangles are held by their corners: right() and bottom() are the far corner.
        const QRectF box(QPointF(r.left() * twipX, r.top() * twipY), QPointF(r.right() * twipX, r.bottom() * twipY));
        painter.drawRect(box);
    }
    painter.restore();
}

void JacketPainter::printOutline(QPainter &painter, JacketShape shape, qreal pxPerMm)
{
    const QList<QRect> rects = outlineTwips(shape);
    const QSizeF mm = insertMm(shape);
    const qreal extentX = rects.last().right();
    const qreal extentY = rects.last().bottom();
    drawOutline(painter, shape, mm.width() * pxPerMm / extentX, mm.height() * pxPerMm / extentY, 0.2 * pxPerMm);
}

} // namespace kes
