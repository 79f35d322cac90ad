#include "status/StatusBar.h"

#include <QAccessible>
#include <QFontMetrics>

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

void StatusPart::elide() {
    const int room = std::max(0, contentsRect().width() - 2 * margin());
    setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, room));
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
    if (later_.isActive()) return;
    const qint64 since = sinceApply_.isValid() ? sinceApply_.elapsed() : MinIntervalMs;
    if (since >= MinIntervalMs)
        apply();
    else
        later_.start(int(MinIntervalMs - since));
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
