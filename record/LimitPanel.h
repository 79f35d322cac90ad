#pragma once
// The limit marks in the window: the high and low limits and their switches.
#include "panel/ModuleState.h"
#include "panel/Panel.h"

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace rd780 {

class LimitPanel : public Panel {
    Q_OBJECT
public:
    LimitPanel(const PanelContext& context, LimitState& limits, QObject* parent);

    QWidget* Panel3 = nullptr;
    QCheckBox* SetMaxB = nullptr;
    QLineEdit* Setmax = nullptr;
    QCheckBox* SetMinB = nullptr;
    QLineEdit* SetMin = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* MinText = nullptr;
    QLabel* MinTextU = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* MaxText = nullptr;
    QLabel* MaxTextU = nullptr;

    // Called when a limit or its switch changed, so the marks are drawn again.
    std::function<void()> LimitsChanged;

    bool highOn() const;
    bool lowOn() const;

    void SetmaxExit();
    void SetMinExit();

private:
    LimitState& S;
};

} // namespace rd780
