#include "record/ReadingStatistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

namespace rd780 {
namespace {

// The straightforward two-pass computation the running one must agree with.
struct Reference {
    std::vector<double> values;
    std::vector<int64_t> times;
    void check(const UnitStatistics& s) const {
        ASSERT_EQ(s.count, values.size());
        double sum = 0;
        for (double v : values)
            sum += v;
        const double mean = sum / double(values.size());
        double sq = 0;
        for (double v : values)
            sq += (v - mean) * (v - mean);
        const double sd = values.size() > 1 ? std::sqrt(sq / double(values.size() - 1)) : 0.0;
        size_t lo = 0, hi = 0;
        for (size_t i = 1; i < values.size(); ++i) {
            if (values[i] < values[lo]) lo = i;
            if (values[i] > values[hi]) hi = i;
        }
        EXPECT_EQ(s.min, values[lo]);
        EXPECT_EQ(s.minTimeMs, times[lo]);
        EXPECT_EQ(s.max, values[hi]);
        EXPECT_EQ(s.maxTimeMs, times[hi]);
        EXPECT_NEAR(s.mean, mean, std::fabs(mean) * 1e-12 + 1e-12);
        EXPECT_NEAR(s.stddev, sd, sd * 1e-7 + 1e-12);
    }
};

TEST(ReadingStatistics, AgreesWithTwoPassReferencePerUnit) {
    std::mt19937 rng(12);
    const std::vector<std::pair<std::string, std::normal_distribution<double>>> sources = {
        {"mV", std::normal_distribution<double>(-45.0, 0.6)},
        {" V", std::normal_distribution<double>(229.6, 2.0)},
        // Large mean, small spread: a sum-of-squares formula loses every digit here.
        {"M*", std::normal_distribution<double>(1e9, 0.01)},
    };
    auto dists = sources;
    std::map<std::string, Reference> ref;
    std::vector<std::string> order;
    ReadingStatistics stats;
    std::uniform_int_distribution<size_t> pick(0, dists.size() - 1);
    for (int64_t i = 0; i < 30000; ++i) {
        auto& [unit, dist] = dists[pick(rng)];
        // Rounded like a display so equal extremes occur and the first one must be kept.
        const double v = std::round(dist(rng) * 100.0) / 100.0;
        stats.add(unit, v, 1000 + i);
        if (ref.find(unit) == ref.end()) order.push_back(unit);
        ref[unit].values.push_back(v);
        ref[unit].times.push_back(1000 + i);
    }
    ASSERT_EQ(stats.units().size(), 3u);
    for (const auto& s : stats.units()) {
        SCOPED_TRACE(s.unit);
        ref.at(s.unit).check(s);
    }
    // Units keep the order they first appeared in.
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(stats.units()[i].unit, order[i]);
}

TEST(ReadingStatistics, OverloadsAreCountedApartAndResetStartsAgain) {
    ReadingStatistics stats;
    stats.add("mV", 5.0, 10);
    stats.addOverload("mV");
    stats.add("mV", NAN, 11); // no number: counted as an overload, not as a value
    stats.add("mV", 7.0, 12);
    ASSERT_EQ(stats.units().size(), 1u);
    const UnitStatistics& s = stats.units()[0];
    EXPECT_EQ(s.count, 2u);
    EXPECT_EQ(s.overloads, 2u);
    EXPECT_EQ(s.mean, 6.0);
    EXPECT_NEAR(s.stddev, std::sqrt(2.0), 1e-15);
    EXPECT_EQ(s.min, 5.0);
    EXPECT_EQ(s.maxTimeMs, 12);

    stats.reset();
    EXPECT_TRUE(stats.units().empty());
    stats.add("k*", -1.0, 99);
    ASSERT_EQ(stats.units().size(), 1u);
    EXPECT_EQ(stats.units()[0].count, 1u);
    EXPECT_EQ(stats.units()[0].stddev, 0.0);
    EXPECT_EQ(stats.units()[0].min, -1.0);
    EXPECT_EQ(stats.units()[0].max, -1.0);
}

TEST(ReadingStatistics, CopyTextHasOneLinePerUnitInUnicode) {
    ReadingStatistics stats;
    stats.add("k*", 4.7, 1);
    stats.add("k*", 4.9, 2);
    stats.addOverload("M*");
    const std::string text = stats.text([](int64_t t) { return "t" + std::to_string(t); });
    EXPECT_EQ(text, "Unit\tCount\tMin\tMin time\tMax\tMax time\tMean\tStd dev\tOverloads\n"
                    "k\u03A9\t2\t4.7\tt1\t4.9\tt2\t4.8\t0.1414213562\t0\n"
                    "M\u03A9\t0\t\t\t\t\t\t\t1\n");
}

} // namespace
} // namespace rd780
