// The spectrum box `wavebox`: sixteen one-pixel columns of dots, four pixels apart,
// following the decoder's spectrum with a fast rise and a fall of 100 twips a frame.
// GUI thread only.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QVector>
#include <QWidget>

#include <array>
#include <cstdint>

namespace kes
{

struct SpectrumDot {
    QPoint pixel;
    QColor color;
    bool operator==(const SpectrumDot &) const = default;
};

// One frame of the display: updates levels (twips of bar height per band, entries 0, 16,
// ..., 240 used) from the two channels' spectra and returns the dots to draw in a box
// heightTwips high.
QVector<SpectrumDot> spectrumFrame(
    std::array<int32_t, 256> &levels, const int32_t *first, const int32_t *second, int heightTwips);

class WaveBox : public QWidget
{
    Q_OBJECT
public:
    explicit WaveBox(QWidget *parent = nullptr);

    // The box's height as placed, in twips; the frame arithmetic uses it.
    void setHeightTwips(int twips) { m_heightTwips = twips; }
    int heightTwips() const { return m_heightTwips; }

    // Draws one frame from the two spectra (256 values each).
    void DrawSpectrum(const int32_t *first, const int32_t *second);
    // Clears the box to its background; the levels stay.
    void clearBox();

    const std::array<int32_t, 256> &levels() const { return m_levels; }
    const QVector<SpectrumDot> &dots() const { return m_dots; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void showDots(QVector<SpectrumDot> dots);

    std::array<int32_t, 256> m_levels {};
    QVector<SpectrumDot> m_dots;
    QImage m_image; // paint buffer
    int m_heightTwips = 700;
};

} // namespace kes
