#include "jacketpreview.h"

#include "twips.h"

#include <QPainter>

namespace kes
{

namespace
{
constexpr int kDotsPerMeter96Dpi = 3780; // 96 / 0.0254
}

JacketPreview::JacketPreview(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("PicWork"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void JacketPreview::setSizeTwips(QSize twips)
{
    const QSize px(twipsToPx(twips.width()), twipsToPx(twips.height()));
    resize(px);
    m_image = QImage(px, QImage::Format_RGB32);
    m_image.setDotsPerMeterX(kDotsPerMeter96Dpi);
    m_image.setDotsPerMeterY(kDotsPerMeter96Dpi);
    clear();
}

void JacketPreview::clear()
{
    m_image.fill(Qt::white);
    update();
}

void JacketPreview::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawImage(0, 0, m_image);
}

} // namespace kes
