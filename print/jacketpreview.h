// `PicWork`: the white preview box of the print window.  It keeps its drawing in an
// image of its own size at 96 dpi, so one twip is 1/15 pixel and a point is 4/3 pixel:
// the preview stands at the size it is printed.  GUI thread only.
#pragma once

#include <QImage>
#include <QWidget>

namespace kes
{

class JacketPreview : public QWidget
{
    Q_OBJECT
public:
    explicit JacketPreview(QWidget *parent = nullptr);

    // Resizes the box (and its image) to a size in twips; the drawing is cleared.
    void setSizeTwips(QSize twips);
    // Makes the image white.
    void clear();
    // What the box shows; paint on it with a QPainter, then call update().
    QImage &image() { return m_image; }
    const QImage &image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};

} // namespace kes
