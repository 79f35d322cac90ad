#include "record/LimitAlarm.h"

#include "meter/core/UnitSymbols.h"
#include "record/ReadingValue.h"

#include <cmath>

namespace rd780 {

void LimitAlarm::setLimits(const AlarmLimits& limits) {
    limits_ = limits;
    // A switched-off side no longer holds back the next crossing.
    if ((latched_ == AlarmSide::High && !limits_.highOn) ||
        (latched_ == AlarmSide::Low && !limits_.lowOn))
        latched_ = AlarmSide::None;
    if ((beyond_ == AlarmSide::High && !limits_.highOn) ||
        (beyond_ == AlarmSide::Low && !limits_.lowOn))
        beyond_ = AlarmSide::None;
}

double LimitAlarm::margin() const {
    const double high = limits_.high, low = limits_.low;
    if (limits_.highOn && limits_.lowOn) return 0.01 * std::fabs(high - low);
    if (limits_.highOn) return 0.01 * std::fabs(high);
    if (limits_.lowOn) return 0.01 * std::fabs(low);
    return 0.0;
}

AlarmSide LimitAlarm::sideOf(double value, bool overload, bool negative) const {
    if (overload) {
        if (!negative && limits_.highOn) return AlarmSide::High;
        if (negative && limits_.lowOn) return AlarmSide::Low;
        return AlarmSide::None;
    }
    // A value equal to a limit is not beyond it, as on the scale.
    if (limits_.highOn && value > static_cast<double>(limits_.high)) return AlarmSide::High;
    if (limits_.lowOn && value < static_cast<double>(limits_.low)) return AlarmSide::Low;
    return AlarmSide::None;
}

bool LimitAlarm::backInside(double value, bool overload, bool negative) const {
    // An overload is off the scale on its sign's side: far from the other limit.
    if (overload) return latched_ == (negative ? AlarmSide::High : AlarmSide::Low);
    switch (latched_) {
    case AlarmSide::High:
        return value <= static_cast<double>(limits_.high) - margin();
    case AlarmSide::Low:
        return value >= static_cast<double>(limits_.low) + margin();
    case AlarmSide::None:
        return true;
    }
    return true;
}

std::optional<AlarmSide> LimitAlarm::offer(double value, const std::string& text) {
    const bool overload = isOverloadText(text);
    const bool negative = text.find('-') != std::string::npos;
    if (!overload && !std::isfinite(value)) return std::nullopt;
    beyond_ = sideOf(value, overload, negative);
    if (latched_ != AlarmSide::None && backInside(value, overload, negative))
        latched_ = AlarmSide::None;
    if (beyond_ == AlarmSide::None || latched_ != AlarmSide::None) return std::nullopt;
    latched_ = beyond_;
    return beyond_;
}

std::string crossingText(AlarmSide side, const std::string& timeText,
                         const std::string& displayText, const std::string& unitCodes) {
    std::string value = displayText;
    while (!value.empty() && value.front() == ' ')
        value.erase(value.begin());
    const std::string unit = readingUnitText(unitCodes);
    return timeText + " Limit alarm: " + value + (unit.empty() ? "" : " " + unit) +
           (side == AlarmSide::Low ? " below SetMin" : " above SetMax");
}

} // namespace rd780
