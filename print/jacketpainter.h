// The drawing of a CD jacket insert: the outline of the two insert shapes and the track
// list in two columns.  Knows no window: it paints onto any QPainter, the preview image
// and a printer page alike, so the page can be checked by printing to a PDF.
// Stateless; callable from any thread that owns the painter.
#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QRect>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

class QPainter;

namespace kes
{

enum class JacketShape {
    Front, // the front label, 120 x 120 mm
    Back, // the back inlay with a spine strip on each side, 150 x 118 mm
};

// The five layout values of the print window's lists.
struct TrackListLayout {
    int fontSize = 5; // points
    int startPos = 2; // start + 1 empty lines precede the first entry
    int maxLine = 60; // lines per column
    int col1 = 12; // character column of the first column
    int col2 = 92; // character column of the second column
};

// One playlist row as the track list writes it: cells "Music Title" and "Artist".
struct JacketEntry {
    QString title;
    QString artist;
};

// One entry placed on the target: on 0-based text line `line`, starting `x` device
// pixels from the left edge.
struct PlacedText {
    int line;
    qreal x;
    QString text;
};

class JacketPainter
{
public:
    // The preview box for a shape, in twips.
    static QSize boxTwips(JacketShape shape);
    // The outline's rectangles in twips, left to right (one for the front; spine, inlay,
    // spine for the back).
    static QList<QRect> outlineTwips(JacketShape shape);
    // The size of the insert on paper, in millimetres.
    static QSizeF insertMm(JacketShape shape);

    // The 16 colours of the QBColor convention (0 black, 1 blue, ... 15 bright white);
    // nothing for an index outside 0..15 (a colour list without a selection gives -1).
    static std::optional<QColor> qbColor(int index);

    // "007 Song ( Band ) ": the number with at least three digits, one space, the title,
    // " ( ", the artist, " ) ".  Cells are used as they stand, trailing blanks included.
    static QString entryText(int number, const JacketEntry &entry);

    // Where the entries go.  charWidth is the width of one character column and advance
    // the width of a text, both in device pixels.  Lines start at 0; start + 1 lines stay
    // empty; row i (1-based) goes on the line of i at column col1 and, when there are
    // more rows than lines, row i + lines on the same line at column col2.  A tab to a
    // column the line already reaches past moves to that column of the next line (and
    // the following lines move down with it).  Rows after 2 x lines are left out.
    static QList<PlacedText> layoutTrackList(const QList<JacketEntry> &entries, const TrackListLayout &layout,
        qreal charWidth, const std::function<qreal(const QString &)> &advance);

    // The track list font: "ＭＳ Ｐゴシック" (the application maps it onto an installed
    // Japanese gothic font) at pointSize.
    static QFont trackListFont(int pointSize);

    // Draws the track list from the top-left corner of the painter's device in the
    // colour qbColor(fontColor).  The metrics are the font's design metrics scaled to the
    // device, so the preview and the page agree: a line is one em (the point size) high,
    // and a character column is the mean advance of the 52 Latin letters (for a Japanese
    // font the half-width column the layout lists are made for).  Returns false, drawing nothing, when fontColor is no
    // palette index.
    static bool DrawTrackList(
        QPainter &painter, const QList<JacketEntry> &entries, const TrackListLayout &layout, int fontColor);

    // Draws the outline in black with one twip mapped to (twipX, twipY) device pixels,
    // from the painter's origin.  penWidth 0 gives a one-pixel line.
    static void drawOutline(QPainter &painter, JacketShape shape, qreal twipX, qreal twipY, qreal penWidth = 0);
    // Draws the outline on paper: the outline's extent scaled to insertMm(shape) at the
    // painter's origin (the top left of the printable area); pxPerMm is the device's
    // resolution.  Lines are 0.2 mm wide, centred on the insert's edges.
    static void printOutline(QPainter &painter, JacketShape shape, qreal pxPerMm);
};

} // namespace kes
