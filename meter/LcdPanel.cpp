#include "meter/LcdPanel.h"

#include "meter/SegmentFont.h"

#include <QAccessible>
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
    // Reached with Tab, so a screen reader can be taken to the reading.
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName("Meter reading");
    readingText_ = "no reading yet";
    announceLater_.setSingleShot(true);
    announceLater_.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    connect(&announceLater_, &QTimer::timeout, this, [this] { announce(); });
}

void LcdPanel::setReadingText(const QString& text) {
    if (text == readingText_) return;
    readingText_ = text;
    if (announceLater_.isActive()) return; // the pending announcement takes the newest text
    const qint64 since = sinceAnnounced_.isValid() ? sinceAnnounced_.elapsed() : AnnounceIntervalMs;
    if (since >= AnnounceIntervalMs)
        announce();
    else
        announceLater_.start(int(AnnounceIntervalMs - since));
}

void LcdPanel::announce() {
    if (readingText_ == announced_) return;
    announced_ = readingText_;
    sinceAnnounced_.start();
    QAccessibleValueChangeEvent event(this, readingText_);
    QAccessible::updateAccessibility(&event);
    emit announced(readingText_);
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
    if (hasFocus()) {
        // Drawn inside the bevel, where it covers no segment.
        QPainter focus(this);
        focus.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DotLine));
        focus.setBrush(Qt::NoBrush);
        focus.drawRect(rect().adjusted(3, 3, -4, -4));
    }
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
