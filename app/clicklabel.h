// A label that reports left-button clicks; used for the repeat and play-mode read-outs.
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace kes
{

class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && isEnabled())
            emit clicked();
        QLabel::mousePressEvent(event);
    }
};

} // namespace kes
