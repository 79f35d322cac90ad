// The recording rule: its three gates, their order, and what each leaves behind.
#include "record/RecordingRule.h"
#include "base/Guard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace rd780 {
namespace {

class FakeSink : public ReadingSink {
public:
    std::vector<ReadingRow> rows;
    bool failAppend = false;
    bool full = false;
    int emptied = 0;
    void appendReading(const ReadingRow& row) override {
        if (failAppend) throw std::runtime_error("disk gone");
        rows.push_back(row);
    }
    int64_t rowCount() const override { return int64_t(rows.size()); }
    void emptyTable() override {
        ++emptied;
        rows.clear();
    }
    bool isFull() const override { return full; }
};

Reading reading(const std::string& text, const std::string& unit = " V",
                const std::string& coupling = "DC", const std::string& autoFlag = "") {
    return Reading{text, 1.5, unit, coupling, autoFlag};
}

// A reading that differs from every other one.
Reading distinct(int i) {
    return reading(std::to_string(i));
}

struct RuleTest : ::testing::Test {
    int recordNo = 1;
    int recordLimit = 10000;
    RecordingRule rule{recordNo, recordLimit};
    FakeSink sink;
    RecordingRule::Outcome offer(const Reading& r, int32_t stamp = 0) {
        return rule.offer(r, stamp, sink);
    }
};

TEST_F(RuleTest, RowCarriesTheReadingNumberAndStamp) {
    Reading r{"-01.23", -123.0, "mV", "AC", "AUTO"};
    ASSERT_EQ(offer(r, 50'409'000), RecordingRule::Outcome::Recorded);
    ASSERT_EQ(sink.rows.size(), 1u);
    const ReadingRow& row = sink.rows[0];
    EXPECT_EQ(row.No, 1);
    EXPECT_EQ(row.TimeMs, 50'409'000);
    EXPECT_EQ(row.Value, "-01.23");
    EXPECT_EQ(row.Unit, "mV");
    EXPECT_EQ(row.Coupling, "AC");
    EXPECT_EQ(row.Auto, "AUTO");
    EXPECT_DOUBLE_EQ(row.Nval, -123.0);
    EXPECT_EQ(recordNo, 2);
    EXPECT_EQ(rule.RecordCount, 1);
    EXPECT_EQ(rule.LastRecordedText, "-01.23ACmVAUTO");
}

TEST_F(RuleTest, LimitGateHoldsItsRowsAndNewStartsAgain) {
    // The window's gate lets one row past the limit; the logger's stops at it.
    const std::pair<RecordingRule::LimitGate, std::size_t> gates[] = {
        {RecordingRule::LimitGate::StopAtLimit, 1000},
        {RecordingRule::LimitGate::StopPastLimit, 1001}};
    for (const auto& [gate, rows] : gates) {
        SCOPED_TRACE(rows);
        sink = FakeSink{};
        recordNo = 1;
        rule.RecordCount = 0;
        rule.Gate = gate;
        recordLimit = 1000;
        for (std::size_t i = 0; i < rows; ++i)
            ASSERT_EQ(offer(distinct(int(i))), RecordingRule::Outcome::Recorded) << i;
        EXPECT_TRUE(rule.limitReached());
        EXPECT_EQ(offer(distinct(5000)), RecordingRule::Outcome::LimitReached);
        EXPECT_EQ(sink.rows.size(), rows);
        EXPECT_EQ(recordNo, int(rows) + 1);
        EXPECT_EQ(sink.rows.back().No, int(rows));

        rule.newRecording(sink);
        EXPECT_EQ(sink.emptied, 1);
        EXPECT_EQ(recordNo, 1);
        for (std::size_t i = 0; i < rows + 5; ++i)
            offer(distinct(int(i)));
        ASSERT_EQ(sink.rows.size(), rows);
        EXPECT_EQ(sink.rows.front().No, 1);
        EXPECT_EQ(sink.rows.back().No, int(rows));
    }
}

TEST_F(RuleTest, LimitlessIsTenMillionRows) {
    recordLimit = RecordLimits[5];
    rule.RecordCount = 9'999'999;
    EXPECT_EQ(offer(distinct(1)), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(rule.RecordCount, 10'000'000);
    EXPECT_EQ(offer(distinct(2)), RecordingRule::Outcome::LimitReached);
}

TEST_F(RuleTest, LimitChangesLeaveTheCountAlone) {
    for (int i = 0; i < 5; ++i)
        offer(distinct(i));
    recordLimit = 3;
    EXPECT_EQ(offer(distinct(9)), RecordingRule::Outcome::LimitReached);
    EXPECT_EQ(rule.RecordCount, 5);
    recordLimit = 6;
    EXPECT_EQ(offer(distinct(10)), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(offer(distinct(11)), RecordingRule::Outcome::LimitReached);
}

TEST_F(RuleTest, NewOnEmptyTableOnlyResetsCounters) {
    recordNo = 7;
    rule.RecordCount = 3;
    rule.LastRecordedText = "x";
    rule.SampleCountdown = 4;
    rule.newRecording(sink);
    EXPECT_EQ(sink.emptied, 0);
    EXPECT_EQ(recordNo, 1);
    EXPECT_EQ(rule.RecordCount, 0);
    EXPECT_EQ(rule.LastRecordedText, "x");
    EXPECT_EQ(rule.SampleCountdown, 4);
}

TEST_F(RuleTest, IntervalZeroRecordsEveryReading) {
    rule.IntervalOn = true;
    rule.IntervalText = "0";
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(offer(distinct(i)), RecordingRule::Outcome::Recorded);
}

TEST_F(RuleTest, IntervalWaitsForTheCountdown) {
    rule.IntervalOn = true; // text "10", countdown 0 at start
    EXPECT_EQ(offer(distinct(0)), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(rule.SampleCountdown, 10);
    for (int t = 0; t < 9; ++t) {
        rule.tick();
        EXPECT_EQ(offer(distinct(100 + t)), RecordingRule::Outcome::Waiting);
    }
    EXPECT_EQ(recordNo, 2); // waiting readings take no number
    rule.tick();
    EXPECT_EQ(offer(distinct(1)), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(sink.rows.size(), 2u);
}

TEST_F(RuleTest, TicksAtCountdownZeroKeepItThereAndTheNextReadingIsRecorded) {
    rule.IntervalOn = true;
    rule.IntervalText = "2";
    EXPECT_EQ(offer(distinct(0)), RecordingRule::Outcome::Recorded);
    for (int t = 0; t < 6; ++t) // two to reach 0, four more while it stands at 0
        rule.tick();
    EXPECT_EQ(rule.SampleCountdown, 0);
    EXPECT_EQ(offer(distinct(1)), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(rule.SampleCountdown, 2);
    EXPECT_EQ(sink.rows.size(), 2u);
}

TEST_F(RuleTest, CountdownReloadsAndStandsStillWhileIntervalIsOff) {
    offer(distinct(0));
    EXPECT_EQ(rule.SampleCountdown, 10);
    rule.tick();
    EXPECT_EQ(rule.SampleCountdown, 10);
    EXPECT_EQ(offer(distinct(1)), RecordingRule::Outcome::Recorded);
    rule.IntervalOn = true;
    EXPECT_EQ(offer(distinct(2)), RecordingRule::Outcome::Waiting);
    for (const char* t : {"-", "+", ""}) {
        rule.IntervalText = t;
        rule.reloadCountdown();
        EXPECT_EQ(rule.SampleCountdown, 0) << t;
    }
}

TEST_F(RuleTest, RepeatsAreDroppedButUseUpTheirNumbers) {
    rule.RepeatOn = true;
    EXPECT_EQ(offer(reading("00.66")), RecordingRule::Outcome::Recorded);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(offer(reading("00.66")), RecordingRule::Outcome::Repeat);
    EXPECT_EQ(offer(reading("00.67")), RecordingRule::Outcome::Recorded);
    ASSERT_EQ(sink.rows.size(), 2u);
    EXPECT_EQ(sink.rows[1].No, 5);
    EXPECT_EQ(rule.RecordCount, 2); // dropped repeats do not count towards the limit
}

TEST_F(RuleTest, SameDigitsWithOtherUnitCouplingOrAutoAreNoRepeat) {
    rule.RepeatOn = true;
    offer(reading("1.000", " V", "DC", ""));
    EXPECT_EQ(offer(reading("1.000", "mV", "DC", "")), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(offer(reading("1.000", "mV", "AC", "")), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(offer(reading("1.000", "mV", "AC", "AUTO")), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(offer(reading("1.000", "mV", "AC", "AUTO")), RecordingRule::Outcome::Repeat);
}

TEST_F(RuleTest, RepeatOfTheReadingBeforeNewIsStillDropped) {
    rule.RepeatOn = true;
    offer(reading("5.5"));
    rule.newRecording(sink);
    EXPECT_EQ(offer(reading("5.5")), RecordingRule::Outcome::Repeat);
    EXPECT_TRUE(sink.rows.empty());
    EXPECT_EQ(recordNo, 2);
}

TEST_F(RuleTest, DroppedRepeatDoesNotReloadTheCountdown) {
    rule.RepeatOn = true;
    rule.IntervalOn = true;
    offer(reading("1"));
    for (int t = 0; t < 10; ++t)
        rule.tick();
    rule.IntervalText = "3";
    EXPECT_EQ(offer(reading("1")), RecordingRule::Outcome::Repeat);
    EXPECT_EQ(rule.SampleCountdown, 0);
    EXPECT_EQ(offer(reading("2")), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(rule.SampleCountdown, 3);
}

TEST_F(RuleTest, WrongIntervalTextIsReportedOncePerTextAndRecordsNothing) {
    rule.IntervalText = "1x";
    EXPECT_THROW(offer(distinct(0)), AppError);
    EXPECT_EQ(offer(distinct(1)), RecordingRule::Outcome::BadInterval);
    EXPECT_EQ(offer(distinct(2)), RecordingRule::Outcome::BadInterval);
    rule.IntervalText = "2y";
    EXPECT_THROW(offer(distinct(3)), AppError);
    EXPECT_TRUE(sink.rows.empty());
    EXPECT_EQ(recordNo, 1);
    EXPECT_EQ(rule.RecordCount, 0);
    EXPECT_EQ(rule.LastRecordedText, "3DC V"); // the rule got past the repeat test
    rule.IntervalText = "1";
    EXPECT_EQ(offer(distinct(4)), RecordingRule::Outcome::Recorded);
    rule.IntervalText = "1x"; // wrong again after a good spell: said again
    EXPECT_THROW(offer(distinct(5)), AppError);
}

TEST_F(RuleTest, FailedAppendLeavesCountAndNumber) {
    sink.failAppend = true;
    EXPECT_THROW(offer(distinct(0)), std::runtime_error);
    EXPECT_EQ(rule.RecordCount, 0);
    EXPECT_EQ(recordNo, 1);
}

TEST_F(RuleTest, FullTableStopsRecording) {
    sink.full = true;
    EXPECT_EQ(offer(distinct(0)), RecordingRule::Outcome::TableFull);
    EXPECT_TRUE(sink.rows.empty());
    EXPECT_EQ(recordNo, 1);
}

TEST(DecimalText, ConvertsOnlyWholeDecimalIntegers) {
    EXPECT_EQ(parseDecimal("12"), 12);
    EXPECT_EQ(parseDecimal("-3"), -3);
    EXPECT_EQ(parseDecimal("+4"), 4);
    EXPECT_EQ(parseDecimal("007"), 7);
    EXPECT_EQ(parseDecimal("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseDecimal("2147483647"), INT32_MAX);
    for (const char* bad : {"", "-", "1a", " 1", "1 ", "2147483648", "99999999999999999999", "0x1"})
        EXPECT_THROW(parseDecimal(bad), AppError) << bad;
    try {
        parseDecimal("abc");
        FAIL();
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
    EXPECT_EQ(parseCountText("+"), 0);
    EXPECT_THROW(parseCountText("--"), AppError);
}

} // namespace
} // namespace rd780
