#include "meter/SegmentFont.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <initializer_list>
#include <map>
#include <vector>

namespace rd780 {

namespace {

// Seven segments a..g as bits 0..6.
int digitSegments(QChar c) {
    switch (c.unicode()) {
    case '0':
        return 0b0111111;
    case '1':
        return 0b0000110;
    case '2':
        return 0b1011011;
    case '3':
        return 0b1001111;
    case '4':
        return 0b1100110;
    case '5':
        return 0b1101101;
    case '6':
        return 0b1111101;
    case '7':
        return 0b0000111;
    case '8':
        return 0b1111111;
    case '9':
        return 0b1101111;
    case '-':
        return 0b1000000;
    case '@':
        return 0b0111000; // the letter L
    case ' ':
        return 0;
    default:
        return -1;
    }
}

bool isDigitCell(QChar c) {
    return digitSegments(c) >= 0;
}

using Stroke = std::vector<QPointF>;
using Glyph = std::vector<Stroke>;

// Letters on a unit box (x 0..1, y 0..1 downwards); lower case lives from y 0.4.
const std::map<char16_t, Glyph>& letterGlyphs() {
    static const std::map<char16_t, Glyph> g = {
        {'A', {{{0, 1}, {0.5, 0}, {1, 1}}, {{0.22, 0.6}, {0.78, 0.6}}}},
        {'C', {{{1, 0.15}, {0.8, 0}, {0.2, 0}, {0, 0.2}, {0, 0.8}, {0.2, 1}, {0.8, 1}, {1, 0.85}}}},
        {'D', {{{0, 0}, {0.6, 0}, {1, 0.3}, {1, 0.7}, {0.6, 1}, {0, 1}, {0, 0}}}},
        {'F', {{{1, 0}, {0, 0}, {0, 1}}, {{0, 0.5}, {0.7, 0.5}}}},
        {'H', {{{0, 0}, {0, 1}}, {{1, 0}, {1, 1}}, {{0, 0.5}, {1, 0.5}}}},
        {'M', {{{0, 1}, {0, 0}, {0.5, 0.55}, {1, 0}, {1, 1}}}},
        {'O',
         {{{0.2, 0},
           {0.8, 0},
           {1, 0.2},
           {1, 0.8},
           {0.8, 1},
           {0.2, 1},
           {0, 0.8},
           {0, 0.2},
           {0.2, 0}}}},
        {'T', {{{0, 0}, {1, 0}}, {{0.5, 0}, {0.5, 1}}}},
        {'U', {{{0, 0}, {0, 0.8}, {0.2, 1}, {0.8, 1}, {1, 0.8}, {1, 0}}}},
        {'V', {{{0, 0}, {0.5, 1}, {1, 0}}}},
        {'Y', {{{0, 0}, {0.5, 0.5}, {1, 0}}, {{0.5, 0.5}, {0.5, 1}}}},
        {'L', {{{0, 0}, {0, 1}, {1, 1}}}},
        {'k', {{{0, 0}, {0, 1}}, {{0.9, 0.4}, {0, 0.75}}, {{0.3, 0.62}, {0.9, 1}}}},
        {'m',
         {{{0, 1}, {0, 0.4}},
          {{0, 0.5}, {0.15, 0.4}, {0.35, 0.4}, {0.5, 0.5}, {0.5, 1}},
          {{0.5, 0.5}, {0.65, 0.4}, {0.85, 0.4}, {1, 0.5}, {1, 1}}}},
        {'n', {{{0, 1}, {0, 0.4}}, {{0, 0.5}, {0.2, 0.4}, {0.8, 0.4}, {1, 0.55}, {1, 1}}}},
        {'u', {{{0, 0.4}, {0, 0.85}, {0.2, 1}, {0.8, 1}, {1, 0.9}}, {{1, 0.4}, {1, 1}}}},
        {'z', {{{0, 0.4}, {1, 0.4}, {0, 1}, {1, 1}}}},
        // "+" is the micro sign of the segment font: a u with a descender.
        {'+',
         {{{0, 1.2}, {0, 0.4}}, {{0, 0.85}, {0.2, 1}, {0.8, 1}, {1, 0.9}}, {{1, 0.4}, {1, 1}}}},
    };
    return g;
}

// Glyph proportions relative to the font height.
constexpr qreal DigitAdvance = 0.50;
constexpr qreal DigitWidth = 0.33;
constexpr qreal DigitTop = 0.27;
constexpr qreal DigitHeight = 0.65;
constexpr qreal LetterTop = 0.16;
constexpr qreal LetterHeight = 0.66;

qreal advanceOf(QChar c, qreal h) {
    if (isDigitCell(c)) return DigitAdvance * h;
    switch (c.unicode()) {
    case '*':
    case '&':
    case ')':
    case '"':
    case '$':
    case '!':
        return 0.9 * h;
    case 'M':
    case 'm':
        return 0.62 * h;
    case '+':
        return 0.55 * h;
    default:
        return 0.5 * h;
    }
}

// A segment between two points: a long hexagon with pointed ends.
QPolygonF segment(QPointF a, QPointF b, qreal t) {
    const QPointF d = b - a;
    const qreal len = std::hypot(d.x(), d.y());
    const QPointF u = d / len;
    const QPointF n(-u.y(), u.x());
    const qreal h = t / 2;
    return QPolygonF({a + u * 0.3 * t, a + u * (h + 0.3 * t) + n * h, b - u * (h + 0.3 * t) + n * h,
                      b - u * 0.3 * t, b - u * (h + 0.3 * t) - n * h,
                      a + u * (h + 0.3 * t) - n * h});
}

// Italic slant of the LCD: x moves right as y goes up.
QPointF slant(QPointF p, qreal baseY, qreal k) {
    return QPointF(p.x() + (baseY - p.y()) * k, p.y());
}

void drawDigit(QPainter& p, QPointF at, QChar c, qreal h, const SegmentStyle& s) {
    const qreal w = DigitWidth * h, hh = DigitHeight * h;
    const qreal x0 = at.x() + 0.02 * h, y0 = at.y() + DigitTop * h;
    const qreal t = 0.075 * h;
    const qreal base = y0 + hh;
    const qreal k = 0.08;
    const QPointF tl(x0, y0), tr(x0 + w, y0), ml(x0, y0 + hh / 2), mr(x0 + w, y0 + hh / 2),
        bl(x0, base), br(x0 + w, base);
    const QPointF ends[7][2] = {{tl, tr}, {tr, mr}, {mr, br}, {bl, br},
                                {ml, bl}, {tl, ml}, {ml, mr}};
    const int lit = digitSegments(c);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        const bool on = lit >= 0 && (lit >> i) & 1;
        if (!on && s.unlit.alpha() == 0) continue;
        QPolygonF poly = segment(ends[i][0], ends[i][1], t);
        for (QPointF& q : poly)
            q = slant(q, base, k);
        p.setBrush(on ? s.lit : s.unlit);
        p.drawPolygon(poly);
    }
}

void drawStrokes(QPainter& p, const Glyph& g, QRectF box, qreal pen, const QColor& color) {
    QPen pn(color, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pn);
    p.setBrush(Qt::NoBrush);
    const qreal k = 0.08;
    for (const Stroke& st : g) {
        QPolygonF poly;
        for (QPointF q : st)
            poly << slant(
                QPointF(box.left() + q.x() * box.width(), box.top() + q.y() * box.height()),
                box.bottom(), k);
        p.drawPolyline(poly);
    }
}

void drawSymbol(QPainter& p, QPointF at, QChar c, qreal h, const SegmentStyle& s) {
    const QRectF box(at.x() + 0.08 * h, at.y() + LetterTop * h, 0.7 * h, LetterHeight * h);
    const qreal pen = (s.bold ? 0.13 : 0.10) * h;
    QPen pn(s.lit, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pn);
    p.setBrush(Qt::NoBrush);
    switch (c.unicode()) {
    case '*': { // ohm sign: an open ring on two feet
        QPainterPath path;
        const QRectF ring(box.left() + 0.1 * box.width(), box.top(), 0.8 * box.width(),
                          0.85 * box.height());
        path.arcMoveTo(ring, 235);
        path.arcTo(ring, 235, -290);
        p.drawPath(path);
        p.drawLine(QPointF(box.left(), box.bottom()),
                   QPointF(ring.center().x() - 0.18 * box.width(), box.bottom()));
        p.drawLine(QPointF(box.right(), box.bottom()),
                   QPointF(ring.center().x() + 0.18 * box.width(), box.bottom()));
        break;
    }
    case ')': { // diode: a triangle against a bar
        const qreal cy = box.center().y();
        QPolygonF tri({QPointF(box.left(), box.top() + 0.15 * box.height()),
                       QPointF(box.left() + 0.7 * box.width(), cy),
                       QPointF(box.left(), box.bottom() - 0.15 * box.height())});
        p.setBrush(s.lit);
        p.drawPolygon(tri);
        p.drawLine(QPointF(box.left() + 0.75 * box.width(), box.top() + 0.1 * box.height()),
                   QPointF(box.left() + 0.75 * box.width(), box.bottom() - 0.1 * box.height()));
        break;
    }
    case '&': { // continuity: a speaker dot with sound arcs
        p.setBrush(s.lit);
        const qreal r = 0.1 * box.width();
        const QPointF c0(box.left() + r, box.center().y());
        p.drawEllipse(c0, r, r);
        p.setBrush(Qt::NoBrush);
        for (int i = 1; i <= 3; ++i) {
            const qreal rr = r + i * 0.24 * box.width();
            p.drawArc(QRectF(c0.x() - rr, c0.y() - rr, 2 * rr, 2 * rr), -45 * 16, 90 * 16);
        }
        break;
    }
    case '"': { // hold: a boxed H
        p.drawRoundedRect(box.adjusted(0, 0.1 * box.height(), 0, 0), 0.1 * h, 0.1 * h);
        drawStrokes(p, letterGlyphs().at('H'),
                    box.adjusted(0.28 * box.width(), 0.3 * box.height(), -0.28 * box.width(),
                                 -0.2 * box.height()),
                    pen * 0.7, s.lit);
        break;
    }
    case '!': { // record: a ring with a dot
        const QPointF c0 = box.center();
        const qreal r = 0.35 * box.height();
        p.drawEllipse(c0, r, r);
        p.setBrush(s.lit);
        p.drawEllipse(c0, r * 0.45, r * 0.45);
        break;
    }
    case '$': { // battery
        const QRectF body(box.left(), box.top() + 0.25 * box.height(), 0.85 * box.width(),
                          0.5 * box.height());
        p.drawRect(body);
        p.setBrush(s.lit);
        p.drawRect(QRectF(body.right(), body.center().y() - 0.1 * box.height(), 0.12 * box.width(),
                          0.2 * box.height()));
        break;
    }
    default:
        break;
    }
}

} // namespace

bool hasSegmentGlyph(QChar c) {
    if (isDigitCell(c)) return true;
    if (QString("*)&\"!$").contains(c)) return true;
    return letterGlyphs().count(c.unicode()) > 0;
}

qreal segmentTextWidth(const QString& text, qreal h) {
    qreal w = 0;
    for (QChar c : text)
        w += advanceOf(c, h);
    return w;
}

void drawSegmentText(QPainter& p, QPointF topLeft, const QString& text, qreal h,
                     const SegmentStyle& s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    QPointF at = topLeft;
    for (QChar c : text) {
        if (isDigitCell(c)) {
            drawDigit(p, at, c, h, s);
        } else if (auto it = letterGlyphs().find(c.unicode()); it != letterGlyphs().end()) {
            const bool lower = c.isLower();
            const qreal w = (c == 'M' || c == 'm' ? 0.5 : 0.36) * h;
            const QRectF box(at.x() + 0.06 * h, at.y() + LetterTop * h, w, LetterHeight * h);
            drawStrokes(p, it->second, box, (s.bold ? 0.12 : 0.085) * h * (lower ? 0.9 : 1.0),
                        s.lit);
        } else {
            drawSymbol(p, at, c, h, s);
        }
        at.rx() += advanceOf(c, h);
    }
    p.restore();
}

} // namespace rd780
