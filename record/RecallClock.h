#pragma once
// The recall clock: a start time plus whole-second intervals, giving recorded rows a time
// stamp of the user's own instead of the PC's clock.
#include <cstdint>
#include <string>

namespace rd780 {

class RecallClock {
public:
    int32_t Hour = 0;
    int32_t Minute = 0;
    int32_t Second = 0;
    int32_t Interval = 0;

    // Loads the clock from the three time edits, without range test.
    void load(const std::string& h, const std::string& m, const std::string& s);

    // Checks one time edit on key release: a value within bound goes into target and true
    // is returned; a larger one leaves target alone and returns false. Throws AppError if
    // the text is not a decimal integer.
    static bool checkEdit(const std::string& text, int32_t bound, int32_t& target);

    // Advances the clock by the interval text and returns the new stamp as a date-time with
    // a zero date part. Throws AppError if the text does not convert or the clock does not
    // form a valid time of day.
    double advance(const std::string& intervalText);
};

} // namespace rd780
