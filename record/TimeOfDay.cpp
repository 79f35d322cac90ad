#include "record/TimeOfDay.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace rd780 {

int32_t timeOfDayMs(double dateTime) {
    if (!std::isfinite(dateTime)) return 0;
    // Negative date-times keep their time of day as a positive fraction.
    double frac = std::fabs(dateTime - std::trunc(dateTime));
    auto ms = static_cast<int64_t>(std::llround(frac * MsPerDay));
    return static_cast<int32_t>(ms % MsPerDay);
}

std::string formatTimeOfDay(int32_t ms) {
    if (ms < 0) ms = 0;
    int32_t s = (ms / 1000) % 86400;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", s / 3600, (s / 60) % 60, s % 60);
    return buf;
}

namespace {
struct LocalNow {
    double days;
    int32_t ms;
};

LocalNow localNow() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    auto msPart = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    // Days from 1899-12-30 to the local calendar date.
    std::tm base{};
    base.tm_year = tm.tm_year;
    base.tm_mon = tm.tm_mon;
    base.tm_mday = tm.tm_mday;
    base.tm_hour = 12;
    std::time_t noonUtc = timegm(&base);
    double days = std::floor(static_cast<double>(noonUtc) / 86400.0) + 25569.0;
    int32_t ms =
        static_cast<int32_t>(((tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec) * 1000 + msPart);
    return {days, ms};
}
} // namespace

double nowDateTime() {
    LocalNow n = localNow();
    return n.days + static_cast<double>(n.ms) / MsPerDay;
}

double nowTimeOfDay() {
    return static_cast<double>(localNow().ms) / MsPerDay;
}

} // namespace rd780
