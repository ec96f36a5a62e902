// A label that reports left-button clicks; used for the repeat and play-mode read-outs.
// Tab reaches it, and Space or Return then count as a click; a greyed label takes
// neither.
#pragma once

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace kes
{

class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(const QString &text, QWidget *parent = nullptr)
        : QLabel(text, parent)
    {
        setFocusPolicy(Qt::TabFocus);
    }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && isEnabled())
            emit clicked();
        QLabel::mousePressEvent(event);
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (isEnabled())
                emit clicked();
            event->accept();
            return;
        default:
            QLabel::keyPressEvent(event);
        }
    }
    void paintEvent(QPaintEvent *event) override
    {
        QLabel::paintEvent(event);
        if (!hasFocus())
            return;
        QStylePainter painter(this);
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
};

} // namespace kes
