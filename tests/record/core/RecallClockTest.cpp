// The recall clock and the time formats of the table.
#include "record/RecallClock.h"
#include "base/Guard.h"
#include "record/TimeOfDay.h"

#include <gtest/gtest.h>

namespace rd780 {
namespace {

std::string stamp(double t) {
    return formatTimeOfDay(timeOfDayMs(t));
}

TEST(RecallClock, StepsByTheInterval) {
    RecallClock c;
    c.load("00", "00", "00");
    EXPECT_EQ(stamp(c.advance("1")), "00:00:01");
    EXPECT_EQ(stamp(c.advance("1")), "00:00:02");
    EXPECT_EQ(stamp(c.advance("1")), "00:00:03");
    EXPECT_EQ(stamp(c.advance("0")), "00:00:03");
    EXPECT_EQ(c.Interval, 0);
}

TEST(RecallClock, WrapsAtMidnightWithoutADate) {
    RecallClock c;
    c.load("23", "59", "59");
    double t = c.advance("1");
    EXPECT_EQ(t, 0.0);
    EXPECT_EQ(c.Hour, 0);
    EXPECT_EQ(c.Minute, 0);
    EXPECT_EQ(c.Second, 0);
}

TEST(RecallClock, CarriesWholeHours) {
    RecallClock c;
    EXPECT_EQ(stamp(c.advance("3600")), "01:00:00");
    EXPECT_EQ(stamp(c.advance("86400")), "01:00:00");
    EXPECT_EQ(stamp(c.advance("61")), "01:01:01");
}

// The clock's carry rule applied one second at a time, as an independent reference.
void referenceAdvance(int64_t& h, int64_t& m, int64_t& s, int64_t interval) {
    s += interval;
    while (s > 59) {
        s -= 60;
        if (++m > 59) {
            m -= 60;
            if (++h > 23) h = 0;
        }
    }
}

TEST(RecallClock, AgreesWithTheSecondBySecondRuleForOddStarts) {
    // Loaded without range test (focus leaving the check box), the clock can hold odd values.
    struct Case {
        const char *h, *m, *s, *interval;
    } cases[] = {{"23", "75", "0", "60"},     {"5", "-5", "10", "4000"},
                 {"0", "0", "59", "100000"},  {"22", "30", "30", "5400"},
                 {"23", "59", "0", "259200"}, {"3", "7", "11", "1234567"}};
    for (const Case& k : cases) {
        RecallClock c;
        c.load(k.h, k.m, k.s);
        int64_t h = c.Hour, m = c.Minute, s = c.Second;
        referenceAdvance(h, m, s, std::stoll(k.interval));
        bool valid = h >= 0 && h <= 23 && m >= 0 && m <= 59 && s >= 0 && s <= 59;
        if (valid) {
            double t = c.advance(k.interval);
            EXPECT_EQ(t, double((h * 60 + m) * 60 + s) / 86400.0) << k.h << ":" << k.m;
        } else {
            EXPECT_THROW(c.advance(k.interval), AppError);
        }
        EXPECT_EQ(c.Hour, h);
        EXPECT_EQ(c.Minute, m);
        EXPECT_EQ(c.Second, s);
    }
}

TEST(RecallClock, HugeIntervalFinishesAtOnce) {
    RecallClock c;
    c.load("0", "0", "0");
    c.advance("2147483647"); // 24855 days, 3:14:07
    EXPECT_EQ(c.Hour, 3);
    EXPECT_EQ(c.Minute, 14);
    EXPECT_EQ(c.Second, 7);
}

TEST(RecallClock, BadTextsAndInvalidTimesAreErrors) {
    RecallClock c;
    EXPECT_THROW(c.load("", "0", "0"), AppError);
    c.load("25", "0", "0");
    EXPECT_THROW(c.advance("1"), AppError);
    c.load("1", "2", "3");
    EXPECT_THROW(c.advance("x"), AppError);
    EXPECT_EQ(c.Second, 3); // nothing moved
}

TEST(RecallClock, EditCheckKeepsTheOldValueAboveTheBound) {
    int32_t target = 7;
    EXPECT_FALSE(RecallClock::checkEdit("24", 23, target));
    EXPECT_EQ(target, 7);
    EXPECT_TRUE(RecallClock::checkEdit("23", 23, target));
    EXPECT_EQ(target, 23);
    EXPECT_TRUE(RecallClock::checkEdit("05", 59, target));
    EXPECT_EQ(target, 5);
    EXPECT_THROW(RecallClock::checkEdit("", 59, target), AppError);
}

TEST(TimeOfDay, KeepsOnlyTheTimeOfDay) {
    EXPECT_EQ(timeOfDayMs(1.5), 43'200'000);
    EXPECT_EQ(timeOfDayMs(45000.25), 21'600'000);
    EXPECT_EQ(timeOfDayMs(-1.25), 21'600'000); // before 1899 the fraction still counts forward
    EXPECT_EQ(formatTimeOfDay((14 * 3600 + 5 * 60 + 9) * 1000 + 999), "14:05:09");
    EXPECT_EQ(formatTimeOfDay(0), "00:00:00");
    double now = nowTimeOfDay();
    EXPECT_GE(now, 0.0);
    EXPECT_LT(now, 1.0);
    EXPECT_GT(nowDateTime(), 46000.0); // after 2025
}

} // namespace
} // namespace rd780
