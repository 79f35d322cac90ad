#pragma once
// Running statistics of the readings per unit: count, extremes with their times, mean and
// standard deviation. Constant work per reading whatever the history (Welford's update on
// shifted values).
#include <cstdint>
#include <string>
#include <vector>

namespace rd780 {

struct UnitStatistics {
    std::string unit; // unit codes as the decoder writes them
    uint64_t count = 0;
    uint64_t overloads = 0; // not in the figures below
    double min = 0, max = 0, mean = 0;
    double stddev = 0;     // sample standard deviation (n - 1); 0 below two readings
    int64_t minTimeMs = 0; // when the first minimum / maximum was seen
    int64_t maxTimeMs = 0;
};

class ReadingStatistics {
public:
    // timeMs: any monotonic or wall-clock milliseconds the caller shows back.
    void add(const std::string& unit, double value, int64_t timeMs);
    void addOverload(const std::string& unit);
    void reset() {
        units_.clear();
        running_.clear();
    }

    // Units in the order they first appeared.
    const std::vector<UnitStatistics>& units() const { return units_; }
    // Tab-separated lines with a header, for the clipboard; formatTime turns the stored
    // times into text.
    std::string text(std::string (*formatTime)(int64_t)) const;

private:
    UnitStatistics& entry(const std::string& unit);
    std::vector<UnitStatistics> units_;
    // Beside units_: Welford's running mean and sum of squared deviations of the values
    // less the unit's first value, which keeps a large mean from eating the spread's digits.
    struct Running {
        double shift = 0, mean = 0, m2 = 0;
    };
    std::vector<Running> running_;
};

} // namespace rd780
