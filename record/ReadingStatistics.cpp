#include "record/ReadingStatistics.h"

#include "meter/core/UnitSymbols.h"

#include <cmath>
#include <cstdio>

namespace rd780 {

UnitStatistics& ReadingStatistics::entry(const std::string& unit) {
    // A handful of units at most: a linear search beats a map here.
    for (auto& u : units_)
        if (u.unit == unit) return u;
    units_.push_back(UnitStatistics{unit});
    running_.emplace_back();
    return units_.back();
}

void ReadingStatistics::add(const std::string& unit, double value, int64_t timeMs) {
    if (!std::isfinite(value)) return addOverload(unit);
    UnitStatistics& u = entry(unit);
    Running& r = running_[static_cast<std::size_t>(&u - units_.data())];
    ++u.count;
    if (u.count == 1) r.shift = value;
    if (u.count == 1 || value < u.min) u.min = value, u.minTimeMs = timeMs;
    if (u.count == 1 || value > u.max) u.max = value, u.maxTimeMs = timeMs;
    const double x = value - r.shift;
    const double delta = x - r.mean;
    r.mean += delta / static_cast<double>(u.count);
    r.m2 += delta * (x - r.mean);
    u.mean = r.shift + r.mean;
    u.stddev = u.count > 1 ? std::sqrt(r.m2 / static_cast<double>(u.count - 1)) : 0.0;
}

void ReadingStatistics::addOverload(const std::string& unit) {
    ++entry(unit).overloads;
}

std::string ReadingStatistics::text(std::string (*formatTime)(int64_t)) const {
    std::string out = "Unit\tCount\tMin\tMin time\tMax\tMax time\tMean\tStd dev\tOverloads\n";
    char num[64];
    auto number = [&](double v) {
        std::snprintf(num, sizeof num, "%.10g", v);
        return std::string(num);
    };
    for (const auto& u : units_) {
        out += readingUnitText(u.unit) + '\t' + std::to_string(u.count) + '\t';
        if (u.count > 0)
            out += number(u.min) + '\t' + formatTime(u.minTimeMs) + '\t' + number(u.max) + '\t' +
                   formatTime(u.maxTimeMs) + '\t' + number(u.mean) + '\t' + number(u.stddev);
        else
            out += "\t\t\t\t\t";
        out += '\t' + std::to_string(u.overloads) + '\n';
    }
    return out;
}

} // namespace rd780
