#include "classiclook.h"

#include "twips.h"

#include <QLabel>

namespace kes
{

QFont windowFont()
{
    return QFont(QStringLiteral("ＭＳ Ｐゴシック"), 11);
}

QFont terminalFont(qreal points, bool bold)
{
    QFont f(QStringLiteral("Terminal"));
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(points >= 9 ? 9 : 8);
    f.setBold(bold);
    return f;
}

QFont gothicFont(qreal points, bool bold, bool italic)
{
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QRect pxRect(const QRect &twips)
{
    return twipsRect(twips.x(), twips.y(), twips.width(), twips.height());
}

QLabel *makeLabel(
    const char *name, const QString &text, const QRect &twips, QColor color, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(pxRect(twips));
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->setAutoFillBackground(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace kes
