#include "view/Pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace rd780::view {

QPixmap screenPixmap(int width, int height) {
    // Drawn in the screen's pixels and shown at its logical size, so the vector drawing
    // stays crisp at any scale factor.
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pm(QSize(qCeil(width * dpr), qCeil(height * dpr)));
    pm.setDevicePixelRatio(dpr);
    return pm;
}

namespace {

QPixmap arrows(int size, bool outwards) {
    QPixmap pm = screenPixmap(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 64, 128), 2));
    const qreal m = size * 0.2, c = size / 2.0, e = size - m;
    const qreal head = size * 0.22;
    // One arrow per corner, along the diagonal.
    const QPointF corners[] = {{m, m}, {e, m}, {m, e}, {e, e}};
    for (const QPointF& corner : corners) {
        const QPointF inner(c + (corner.x() - c) * 0.35, c + (corner.y() - c) * 0.35);
        const QPointF tip = outwards ? corner : inner;
        const QPointF tail = outwards ? inner : corner;
        p.drawLine(tail, tip);
        const qreal sx = tip.x() > tail.x() ? -1 : 1;
        const qreal sy = tip.y() > tail.y() ? -1 : 1;
        p.drawLine(tip, tip + QPointF(sx * head, 0));
        p.drawLine(tip, tip + QPointF(0, sy * head));
    }
    return pm;
}

} // namespace

QPixmap enlargePicture(int size) {
    return arrows(size, true);
}
QPixmap restorePicture(int size) {
    return arrows(size, false);
}

QPixmap scopePicture(bool active) {
    QPixmap pm = screenPixmap(25, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::darkGray, 1));
    p.setBrush(QColor(20, 30, 20));
    p.drawRoundedRect(QRectF(1.5, 2.5, 22, 19), 3, 3);
    QPainterPath trace;
    trace.moveTo(4, 12);
    for (int x = 4; x <= 21; ++x)
        trace.lineTo(x, 12 - (active ? 6 : 0) * ((x / 3) % 2 ? 1 : -1));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(active ? QColor(60, 230, 60) : QColor(110, 110, 110), 1.5));
    p.drawPath(trace);
    return pm;
}

} // namespace rd780::view
