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

TEST(LimitAlarm, OneLimitUsesItsOwnMagnitude) {
    LimitAlarm alarm;
    alarm.setLimits({40000, -40000, true, false});
    EXPECT_EQ(alarm.margin(), 400.0);
    EXPECT_EQ(alarm.offer(-50000, "-50000"), std::nullopt); // the low limit is off
    EXPECT_FALSE(alarm.beyond());
    EXPECT_EQ(alarm.offer(40001, "40001"), Side(AlarmSide::High));
    EXPECT_EQ(alarm.offer(39601, "39601"), std::nullopt);
    EXPECT_EQ(alarm.offer(40001, "40001"), std::nullopt);
    EXPECT_EQ(alarm.offer(39600, "39600"), std::nullopt);
    EXPECT_EQ(alarm.offer(40001, "40001"), Side(AlarmSide::High));

    alarm.setLimits({0, -200, false, true});
    EXPECT_EQ(alarm.margin(), 2.0);
    EXPECT_EQ(alarm.offer(-201, "-201"), Side(AlarmSide::Low));
    EXPECT_EQ(alarm.offer(-199, "-199"), std::nullopt);
    EXPECT_EQ(alarm.offer(-201, "-201"), std::nullopt);
    EXPECT_EQ(alarm.offer(-198, "-198"), std::nullopt);
    EXPECT_EQ(alarm.offer(-201, "-201"), Side(AlarmSide::Low));
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
