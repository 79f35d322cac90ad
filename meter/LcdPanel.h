#pragma once
// The simulated LCD: draws an LcdPanelState. The design is 334 by 129 pixels; a larger
// widget scales the drawing, which is all vector shapes.
#include "meter/core/LcdPanelState.h"

#include <QFrame>

namespace rd780 {

class LcdPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int DesignWidth = 334;
    static constexpr int DesignHeight = 129;

    explicit LcdPanel(QWidget* parent = nullptr);

    LcdPanelState& state() { return state_; }
    const LcdPanelState& state() const { return state_; }
    // Call after changing the state.
    void changed() { update(); }
    // A red frame while a reading lies beyond a ticked limit.
    void setAlarmFrame(bool on);
    bool alarmFrame() const { return alarmFrame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LcdPanelState state_;
    bool alarmFrame_ = false;
};

} // namespace rd780
