#include "status/StatusBar.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace rd780 {

StatusPart::StatusPart(const char* name, QWidget* parent) : QLabel(parent) {
    setObjectName(name);
    setTextFormat(Qt::PlainText);
}

void StatusPart::setFullText(const QString& text) {
    full_ = text;
    setAccessibleName(text);
    setToolTip(text);
    elide();
}

QSize StatusPart::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 4, QLabel::minimumSizeHint().height()};
}

void StatusPart::resizeEvent(QResizeEvent* e) {
    QLabel::resizeEvent(e);
    elide();
}

void StatusPart::changeEvent(QEvent* e) {
    QLabel::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        advances_.clear();
        elide();
    }
}

bool StatusPart::surelyFits(const QString& text, int room) {
    // Eliding measures the text shaped, which was most of what a part cost per frame. The
    // plain advances of its characters, with a margin for kerning, tell most texts fit.
    if (advances_.empty()) {
        const QFontMetrics metrics = fontMetrics();
        for (char16_t c = 0x20; c < 0x7f; ++c)
            advances_.push_back(metrics.horizontalAdvance(QChar(c)));
    }
    int width = 0;
    for (const QChar ch : text) {
        if (ch.unicode() < 0x20 || ch.unicode() >= 0x7f) return false;
        width += advances_[ch.unicode() - 0x20];
    }
    return width + width / 8 + 2 <= room;
}

void StatusPart::elide() {
    const int room = std::max(0, contentsRect().width() - 2 * margin());
    QString shown =
        surelyFits(full_, room) ? full_ : fontMetrics().elidedText(full_, Qt::ElideMiddle, room);
    if (shown == shown_) return;
    shown_ = std::move(shown);
    // The label's own text sizes the part. Each new one lays out the status bar and then
    // the whole window, a few times a second while frames come: a text of the same size
    // is only drawn.
    const QSize size = textSize(shown_);
    if (size == labelTextSize_ && !text().isEmpty() && !shown_.isEmpty()) {
        update(contentsRect());
        return;
    }
    labelTextSize_ = size;
    setText(shown_);
}

QSize StatusPart::textSize(const QString& text) const {
    // As the label measures its text for its size hint.
    return fontMetrics()
        .boundingRect(0, 0, 2000, 2000, int(alignment()) & ~(Qt::AlignVCenter | Qt::AlignHCenter),
                      text)
        .size();
}

void StatusPart::paintEvent(QPaintEvent* e) {
    if (shown_ == text()) {
        QLabel::paintEvent(e);
        return;
    }
    // What the label draws for a plain text, with the text shown instead of its own.
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const bool rtl = shown_.isRightToLeft();
    const int flags =
        int(QStyle::visualAlignment(rtl ? Qt::RightToLeft : Qt::LeftToRight, alignment())) |
        (rtl ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, room, flags, option.palette, isEnabled(), shown_,
                          foregroundRole());
}

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName("StatusBar");
    setSizeGripEnabled(false);
    link_ = new StatusPart("LinkStatus", this);
    table_ = new StatusPart("TableStatus", this);
    recording_ = new StatusPart("RecordingStatus", this);
    addWidget(link_, 3);
    addWidget(table_, 4);
    addWidget(recording_, 3);
    alarm_ = new StatusPart("AlarmStatus", this);
    alarm_->setStyleSheet("color: #c00000; font-weight: bold;");
    addWidget(alarm_, 4);
    alarm_->hide();
    later_.setSingleShot(true);
    connect(&later_, &QTimer::timeout, this, &StatusBar::apply);
    alarmShown_.setSingleShot(true);
    connect(&alarmShown_, &QTimer::timeout, this, [this] {
        alarm_->hide();
        alarm_->setFullText(QString());
    });
}

void StatusBar::showAlarm(const QString& line, int ms) {
    alarm_->setFullText(line);
    alarm_->show();
    alarmShown_.start(ms);
    // A screen reader speaks an alert even while the focus is elsewhere.
    QAccessibleEvent alert(alarm_, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void StatusBar::setTexts(const StatusTexts& texts) {
    pending_ = texts;
    if (pending_ == shown_) {
        later_.stop();
        return;
    }
    const qint64 since = sinceApply_.isValid() ? sinceApply_.elapsed() : MinIntervalMs;
    if (since >= MinIntervalMs) {
        later_.stop();
        apply();
        return;
    }
    // Held for the next change after the interval: while frames come that is the next
    // frame's, drawn in its repaint rather than in one of its own. The timer is for when
    // none comes.
    if (!later_.isActive()) later_.start(int(LatestMs - since));
}

void StatusBar::apply() {
    const auto put = [](StatusPart* part, const std::string& text) {
        const QString t = QString::fromStdString(text);
        if (part->fullText() != t) part->setFullText(t);
    };
    put(link_, pending_.link);
    put(table_, pending_.table);
    put(recording_, pending_.recording);
    shown_ = pending_;
    sinceApply_.start();
    ++applies_;
}

StatusTexts StatusBar::shownTexts() const {
    return shown_;
}

} // namespace rd780
