#include "record/LimitAlarm.h"

#include <gtest/gtest.h>

namespace rd780 {
namespace {

using Side = std::optional<AlarmSide>;

std::string text(double v) {
    return std::to_string(static_cast<long long>(v));
}

TEST(LimitAlarm, OneEventPerCrossingWithTheMarginBetweenTwoLimits) {
    LimitAlarm alarm;
    alarm.setLimits({1000, -1000, true, true});
    EXPECT_EQ(alarm.margin(), 20.0); // 1 % of the 2000 between the limits
    EXPECT_EQ(alarm.offer(999, "999"), std::nullopt);
    EXPECT_FALSE(alarm.beyond());
    EXPECT_EQ(alarm.offer(1000, "1000"), std::nullopt); // equal is not beyond
    EXPECT_EQ(alarm.offer(1001, "1001"), Side(AlarmSide::High));
    EXPECT_TRUE(alarm.beyond());
    for (double v : {1005.0, 1002.0, 2000.0})
        EXPECT_EQ(alarm.offer(v, text(v)), std::nullopt) << v; // still the same crossing
    // Back inside, but not by the margin: hovering at the limit is no new crossing.
    EXPECT_EQ(alarm.offer(990, "990"), std::nullopt);
    EXPECT_FALSE(alarm.beyond()); // the frame follows every reading
    EXPECT_EQ(alarm.offer(1001, "1001"), std::nullopt);
    EXPECT_TRUE(alarm.beyond());
    EXPECT_EQ(alarm.offer(981, "981"), std::nullopt);
    EXPECT_EQ(alarm.offer(1001, "1001"), std::nullopt);
    // 980 is inside by exactly the margin: re-armed.
    EXPECT_EQ(alarm.offer(980, "980"), std::nullopt);
    EXPECT_EQ(alarm.offer(1001, "1001"), Side(AlarmSide::High));
    // Straight to the other side is a crossing of the lower limit.
    EXPECT_EQ(alarm.offer(-1001, "-1001"), Side(AlarmSide::Low));
    EXPECT_EQ(alarm.offer(-985, "-985"), std::nullopt);
    EXPECT_EQ(alarm.offer(-1500, "-1500"), std::nullopt);
    EXPECT_EQ(alarm.offer(-980, "-980"), std::nullopt);
    EXPECT_EQ(alarm.offer(-1001, "-1001"), Side(AlarmSide::Low));
}

// With one limit ticked, the re-arm margin is 1 % of that limit alone: the unticked one,
// whatever it holds, neither alarms nor widens or narrows the margin.
TEST(LimitAlarm, OneLimitUsesItsOwnMagnitude) {
    struct Case {
        AlarmLimits limits;
        double margin;
        double beyond, short_, rearm; // short_: back inside by less than the margin
        double pastUnticked;          // beyond the unticked limit
    };
    const AlarmSide high = AlarmSide::High, low = AlarmSide::Low;
    for (const Case& c : {Case{{500, -40000, true, false}, 5, 501, 496, 495, -50000},
                          Case{{30000, 7, true, false}, 300, 30001, 29701, 29700, 6},
                          Case{{40000, -40000, true, false}, 400, 40001, 39601, 39600, -50000},
                          Case{{20000, -300, false, true}, 3, -301, -298, -297, 20001},
                          Case{{2, -9000, false, true}, 90, -9001, -8911, -8910, 3}}) {
        SCOPED_TRACE(std::to_string(c.limits.high) + (c.limits.highOn ? " on, " : " off, ") +
                     std::to_string(c.limits.low) + (c.limits.lowOn ? " on" : " off"));
        LimitAlarm alarm;
        alarm.setLimits(c.limits);
        EXPECT_DOUBLE_EQ(alarm.margin(), c.margin);
        const Side side(c.limits.highOn ? high : low);
        EXPECT_EQ(alarm.offer(c.pastUnticked, text(c.pastUnticked)), std::nullopt);
        EXPECT_FALSE(alarm.beyond());
        EXPECT_EQ(alarm.offer(c.beyond, text(c.beyond)), side);
        EXPECT_EQ(alarm.offer(c.short_, text(c.short_)), std::nullopt);
        EXPECT_EQ(alarm.offer(c.beyond, text(c.beyond)), std::nullopt) << "not re-armed yet";
        EXPECT_EQ(alarm.offer(c.rearm, text(c.rearm)), std::nullopt);
        EXPECT_EQ(alarm.offer(c.beyond, text(c.beyond)), side) << "re-armed by the margin";
    }
}

TEST(LimitAlarm, NoLimitTickedNeverAlarms) {
    LimitAlarm alarm;
    for (double v : {-1e9, 0.0, 1e9})
        EXPECT_EQ(alarm.offer(v, text(v)), std::nullopt);
    EXPECT_EQ(alarm.offer(60, "0.L"), std::nullopt);
    EXPECT_FALSE(alarm.beyond());
}

TEST(LimitAlarm, OverloadsAreBeyondOnTheirSignsSide) {
    LimitAlarm alarm;
    alarm.setLimits({5000, -5000, true, true});
    // The decoder gives an overload a small value; its text says what it is.
    EXPECT_EQ(alarm.offer(60, "0.L"), Side(AlarmSide::High));
    EXPECT_EQ(alarm.offer(60, "0.L"), std::nullopt);
    EXPECT_EQ(alarm.offer(-60, "-0.L"), Side(AlarmSide::Low));
    EXPECT_EQ(alarm.beyondSide(), AlarmSide::Low);
    EXPECT_EQ(alarm.offer(0, "0.000"), std::nullopt);
    EXPECT_FALSE(alarm.beyond());
    EXPECT_EQ(alarm.offer(-60, "-0.L"), Side(AlarmSide::Low));
}

TEST(LimitAlarm, SwitchingALimitOffReleasesItsCrossing) {
    LimitAlarm alarm;
    alarm.setLimits({100, 0, true, false});
    EXPECT_EQ(alarm.offer(150, "150"), Side(AlarmSide::High));
    alarm.setLimits({100, 0, false, false});
    EXPECT_FALSE(alarm.beyond());
    EXPECT_EQ(alarm.offer(150, "150"), std::nullopt);
    alarm.setLimits({100, 0, true, false});
    EXPECT_EQ(alarm.offer(150, "150"), Side(AlarmSide::High));
    // Changing the value of a limit that stays on keeps the crossing it holds.
    alarm.setLimits({120, 0, true, false});
    EXPECT_EQ(alarm.offer(150, "150"), std::nullopt);
}

TEST(LimitAlarm, CrossingLineNamesTimeValueUnitAndSide) {
    EXPECT_EQ(crossingText(AlarmSide::High, "14:05:09", "1.901", " V"),
              "14:05:09 Limit alarm: 1.901 V above SetMax");
    EXPECT_EQ(crossingText(AlarmSide::Low, "00:00:01", "-0.L", "k*"),
              "00:00:01 Limit alarm: -0.L k\u03A9 below SetMin");
}

} // namespace
} // namespace rd780
