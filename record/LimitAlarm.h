#pragma once
// Alarms on the limit marks. A reading is compared with the limits in the units the scale
// compares its arc dots in (the decoder's reading value: the displayed digits without the
// point). The frame shows red for as long as a reading is beyond an enabled limit; a
// crossing is reported once, and the next one counts only after the reading came back
// inside by 1 % of the distance between the limits (of the limit's magnitude when only
// one is enabled), so a reading hovering at a limit does not raise a stream of alarms.
#include <optional>
#include <string>

namespace rd780 {

struct AlarmLimits {
    float high = 0;
    float low = 0;
    bool highOn = false;
    bool lowOn = false;
    bool operator==(const AlarmLimits&) const = default;
};

enum class AlarmSide { None, High, Low };

class LimitAlarm {
public:
    void setLimits(const AlarmLimits& limits);
    const AlarmLimits& limits() const { return limits_; }

    // One decoded reading: value as the decoder sets it, text as displayed (an overload
    // counts as beyond the limit on its sign's side). Returns the side of a new crossing.
    std::optional<AlarmSide> offer(double value, const std::string& text);

    // Whether the last reading lies beyond an enabled limit (the red frame).
    bool beyond() const { return beyond_ != AlarmSide::None; }
    AlarmSide beyondSide() const { return beyond_; }
    // How far inside a reading must come back before the next crossing counts.
    double margin() const;

private:
    AlarmSide sideOf(double value, bool overload, bool negative) const;
    bool backInside(double value, bool overload, bool negative) const;

    AlarmLimits limits_;
    AlarmSide latched_ = AlarmSide::None; // side of the last crossing, until re-armed
    AlarmSide beyond_ = AlarmSide::None;
};

// The history and status line of a crossing: "14:05:09 Limit alarm: 1.901 V above SetMax".
std::string crossingText(AlarmSide side, const std::string& timeText,
                         const std::string& displayText, const std::string& unitCodes);

} // namespace rd780
