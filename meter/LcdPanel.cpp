#include "meter/LcdPanel.h"

#include "meter/SegmentFont.h"

#include <QFont>
#include <QPainter>

namespace rd780 {

namespace {
constexpr int AlarmFrameWidth = 4;
}

LcdPanel::LcdPanel(QWidget* parent) : QFrame(parent) {
    setObjectName("Panel1");
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setMinimumSize(DesignWidth / 2, DesignHeight / 2);
}

void LcdPanel::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0xE8, 0xE8, 0xE8));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(width() / qreal(DesignWidth), height() / qreal(DesignHeight));

    SegmentStyle style;
    SegmentStyle big = style;
    big.unlit = QColor(0, 0, 0, 22); // faint unlit segments, as on a real glass

    for (std::size_t i = 0; i < LcdCount; ++i) {
        const Lcd e = static_cast<Lcd>(i);
        const LcdElementDesign& d = lcdDesign(e);
        const bool bigDigit =
            e == Lcd::LcdD0 || e == Lcd::LcdDa || e == Lcd::LcdDb || e == Lcd::LcdDc;
        if (d.isPoint) {
            if (!state_.visible(e)) continue;
            p.setPen(Qt::NoPen);
            p.setBrush(style.lit);
            p.drawRect(QRectF(d.left, d.top, d.width, d.height));
            continue;
        }
        if (bigDigit) {
            // Ghost of all segments first, then the lit ones.
            drawSegmentText(p, QPointF(d.left, d.top), "8", d.fontHeight,
                            SegmentStyle{QColor(0, 0, 0, 0), big.unlit, false});
        }
        if (!state_.visible(e)) continue;
        const QString caption = QString::fromStdString(state_.caption(e));
        if (d.font == LcdFont::Arial || d.font == LcdFont::ArialBold) {
            QFont f("Arial");
            f.setPixelSize(d.fontHeight);
            f.setBold(d.font == LcdFont::ArialBold);
            p.setFont(f);
            p.setPen(style.lit);
            p.drawText(QPointF(d.left, d.top + d.fontHeight * 0.85), caption);
            continue;
        }
        SegmentStyle s = style;
        s.bold = d.font == LcdFont::SegmentBold;
        if (e == Lcd::LcdFH) {
            // The minus of the sign sits in its fixed box at the digits' middle height.
            drawSegmentText(p, QPointF(d.left - 8, d.top), "-", 113 * 0.8, s);
            continue;
        }
        drawSegmentText(p, QPointF(d.left, d.top), caption, d.fontHeight, s);
    }
    p.end();
    QFrame::paintEvent(event);
    if (alarmFrame_) {
        QPainter frame(this);
        frame.setPen(QPen(QColor(0xE0, 0, 0), AlarmFrameWidth));
        frame.setBrush(Qt::NoBrush);
        const int inset = AlarmFrameWidth / 2;
        frame.drawRect(rect().adjusted(inset, inset, -inset - 1, -inset - 1));
    }
}

void LcdPanel::setAlarmFrame(bool on) {
    if (on == alarmFrame_) return; // a steady state repaints nothing per frame
    alarmFrame_ = on;
    update();
}

} // namespace rd780
