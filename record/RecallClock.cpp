#include "record/RecallClock.h"

#include "base/Guard.h"
#include "record/RecordingRule.h"
#include "record/TimeOfDay.h"

namespace rd780 {

void RecallClock::load(const std::string& h, const std::string& m, const std::string& s) {
    Hour = parseDecimal(h);
    Minute = parseDecimal(m);
    Second = parseDecimal(s);
}

bool RecallClock::checkEdit(const std::string& text, int32_t bound, int32_t& target) {
    int32_t v = parseDecimal(text);
    if (v > bound) return false;
    target = v;
    return true;
}

double RecallClock::advance(const std::string& intervalText) {
    Interval = parseDecimal(intervalText);
    // Wide arithmetic: a pasted interval near the integer limit must not overflow.
    int64_t sec = int64_t(Second) + Interval;
    int64_t carries = sec > 59 ? sec / 60 : 0;
    sec -= carries * 60;
    int64_t minute = Minute;
    int64_t hour = Hour;
    // Every carried minute may roll the hour, and the hour rolls to 0 past 23 (the date
    // never advances); whole days of carries change nothing, so only the rest is walked.
    if (carries > 0) {
        int64_t rest = carries;
        while (rest > 0) {
            int64_t toRoll = minute > 59 ? 1 : 60 - minute; // minutes until the next hour roll
            if (rest < toRoll) {
                minute += rest;
                break;
            }
            rest -= toRoll;
            minute += toRoll - 60;
            if (++hour > 23) hour = 0;
            if (rest >= 24 * 60 && hour == 0 && minute == 0) rest %= 24 * 60;
        }
    }
    Second = static_cast<int32_t>(sec);
    Minute = static_cast<int32_t>(minute);
    Hour = static_cast<int32_t>(hour);
    if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59)
        throw AppError("'" + std::to_string(Hour) + ":" + std::to_string(Minute) + ":" +
                       std::to_string(Second) + "' is not a valid time");
    return static_cast<double>((Hour * 60 + Minute) * 60 + Second) / 86400.0;
}

} // namespace rd780
