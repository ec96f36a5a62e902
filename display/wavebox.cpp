#include "wavebox.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace kes
{

namespace
{

// Round half to even, as the classic runtime does.
int roundEven(double v)
{
    return static_cast<int>(std::nearbyint(v));
}

} // namespace

QVector<SpectrumDot> spectrumFrame(
    std::array<int32_t, 256> &levels, const int32_t *first, const int32_t *second, int heightTwips)
{
    QVector<SpectrumDot> dots;
    const double H = heightTwips;
    for (int k = 0; k <= 60; k += 4) {
        const int b = 4 * k;
        const int s = std::max(first[b], second[b]);
        int v = roundEven(H / 120.0 * s);
        if (levels[b] < v) {
            levels[b] = v;
        } else {
            levels[b] -= 100;
            if (levels[b] < 0)
                levels[b] = 0;
            if (levels[b] < v)
                levels[b] = v;
            v = levels[b];
        }
        const int top = roundEven(H - v - 10);
        for (int y = roundEven(H - 10); y >= top; y -= 15) {
            int r = roundEven(y * 255.0 / H);
            r = std::clamp(2 * r - 255, 0, 255);
            dots.append({ QPoint(k, roundEven(y / 15.0)), QColor(r, 255, 255) });
        }
    }
    return dots;
}

WaveBox::WaveBox(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("wavebox"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaveBox::DrawSpectrum(const int32_t *first, const int32_t *second)
{
    showDots(spectrumFrame(m_levels, first, second, m_heightTwips));
}

void WaveBox::clearBox()
{
    showDots({});
}

void WaveBox::showDots(QVector<SpectrumDot> dots)
{
    // A still spectrum (silence, a held note) repaints nothing; otherwise only the columns
    // whose dots changed.  Both sets run column by column, left to right.
    if (dots == m_dots)
        return;
    QRect changed;
    auto column = [](const QVector<SpectrumDot> &set, qsizetype &at, int x) {
        const qsizetype from = at;
        while (at < set.size() && set[at].pixel.x() == x)
            ++at;
        return std::pair { set.cbegin() + from, set.cbegin() + at };
    };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < m_dots.size() || j < dots.size()) {
        const int x = std::min(
            i < m_dots.size() ? m_dots[i].pixel.x() : INT_MAX, j < dots.size() ? dots[j].pixel.x() : INT_MAX);
        const auto [oldFrom, oldTo] = column(m_dots, i, x);
        const auto [newFrom, newTo] = column(dots, j, x);
        if (std::equal(oldFrom, oldTo, newFrom, newTo))
            continue;
        for (auto range : { std::pair { oldFrom, oldTo }, std::pair { newFrom, newTo } })
            for (auto d = range.first; d != range.second; ++d)
                changed |= QRect(d->pixel, QSize(1, 1));
    }
    m_dots = std::move(dots);
    update(changed);
}

void WaveBox::paintEvent(QPaintEvent *event)
{
    // Dots are set straight into an image (no pen change per dot), then shown at once.
    if (m_image.size() != size())
        m_image = QImage(size(), QImage::Format_RGB32);
    m_image.fill(Qt::black);
    const QRect bounds = m_image.rect();
    for (const SpectrumDot &d : m_dots)
        if (bounds.contains(d.pixel))
            m_image.setPixel(d.pixel, d.color.rgb());
    QPainter(this).drawImage(event->rect(), m_image, event->rect());
}

} // namespace kes
