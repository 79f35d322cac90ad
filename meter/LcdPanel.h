#pragma once
// The simulated LCD: draws an LcdPanelState. The design is 334 by 129 pixels; a larger
// widget scales the drawing, which is all vector shapes.
#include "meter/core/LcdPanelState.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QTimer>

namespace rd780 {

class LcdPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int DesignWidth = 334;
    static constexpr int DesignHeight = 129;

    explicit LcdPanel(QWidget* parent = nullptr);

    LcdPanelState& state() { return state_; }
    const LcdPanelState& state() const { return state_; }
    // Call after changing the state. A meter often sends the same reading many times over:
    // the panel then repaints nothing.
    void changed() {
        if (state_ == shown_) return;
        shown_ = state_;
        update();
    }
    // A red frame while a reading lies beyond a ticked limit.
    void setAlarmFrame(bool on);
    bool alarmFrame() const { return alarmFrame_; }

    // The reading as words for assistive technology ("230.0 V AC AUTO"). A change is
    // announced at once, or, within a second of the last announcement, a second after it
    // with the text then current: a fast meter must not flood a screen reader.
    void setReadingText(const QString& text);
    const QString& readingText() const { return readingText_; }
    static constexpr int AnnounceIntervalMs = 1000;

signals:
    // A reading was handed to assistive technology (with the event it sends).
    void announced(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void announce();

    LcdPanelState state_;
    LcdPanelState shown_; // as last asked to repaint
    bool alarmFrame_ = false;
    QString readingText_;
    QString announced_;
    QElapsedTimer sinceAnnounced_;
    QTimer announceLater_;
};

} // namespace rd780
