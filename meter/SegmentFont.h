#pragma once
// The LCD's own glyphs: seven-segment digits and stroke-drawn unit letters and symbols,
// drawn as vector shapes so they stay crisp at any size.
#include <QColor>
#include <QPointF>
#include <QString>

class QPainter;

namespace rd780 {

struct SegmentStyle {
    QColor lit = QColor(0x16, 0x16, 0x16);
    QColor unlit = QColor(0, 0, 0, 0); // transparent: no ghost segments
    bool bold = false;
};

// Width of text drawn at the given font height (pixels).
qreal segmentTextWidth(const QString& text, qreal fontHeight);
// Draws text with its cell's top-left corner at topLeft, at the given font height.
void drawSegmentText(QPainter& p, QPointF topLeft, const QString& text, qreal fontHeight,
                     const SegmentStyle& style);
// True when the character has a glyph of its own.
bool hasSegmentGlyph(QChar c);

} // namespace rd780
