// The classic look of the main window's controls: its fonts, the read-outs' colours and
// the read-out label.  GUI thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace kes
{

inline const QColor kOrange(255, 128, 0);
inline const QColor kGreen(0, 255, 0);

QFont windowFont();
// The classic "Terminal" read-out font is a narrow bitmap face; a monospaced face at a
// pixel size that keeps the captions inside their labels stands in for it.
QFont terminalFont(qreal points, bool bold = false);
QFont gothicFont(qreal points, bool bold, bool italic = false);

// A rectangle in twips, in pixels.
QRect pxRect(const QRect &twips);
// A read-out label: transparent, text at the top left.
QLabel *makeLabel(
    const char *name, const QString &text, const QRect &twips, QColor color, const QFont &font, QWidget *parent);

} // namespace kes
