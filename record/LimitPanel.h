#pragma once
// The limit marks in the window: the high and low limits and their switches.
#include "panel/ModuleState.h"
#include "panel/Panel.h"
#include "record/LimitAlarm.h"

#include <functional>
#include <optional>
#include <string>

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
    // Where an alarm shows besides the history: the window's status area and the LCD frame.
    std::function<void(const QString& line)> ShowStatus;
    std::function<void(bool beyond)> AlarmFrame;

    LimitAlarm Alarm;
    bool AlarmSound = false; // the platform's beep on each crossing

    bool highOn() const;
    bool lowOn() const;
    // The ticked limits, in the units the marks compare their dots in.
    std::optional<double> highLimit() const;
    std::optional<double> lowLimit() const;

    // One decoded reading: a crossing is listed once, and the frame follows the reading.
    void OfferAlarm(float value, const std::string& text, const std::string& unit);

    void SetmaxExit();
    void SetMinExit();

private:
    void limitsChanged();
    LimitState& S;
};

} // namespace rd780
