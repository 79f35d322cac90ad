// The feed keeps the bar current: after the window's calls, and between frames by its own
// tick (seconds left, a link that went quiet).
#include "status/StatusFeed.h"
#include "record/ReadingTable.h"
#include "record/RecordingRule.h"
#include "tests/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace rd780 {
namespace {

TEST(StatusFeed, BarFollowsLinkTableAndRecording) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("Kv400db.DB").toStdString();
    ReadingTable table;
    table.openOrCreate(file);
    int no = 1, limit = 10000;
    RecordingRule rule(no, limit);
    StatusBar bar;
    StatusFeed feed(&bar, rule, table);
    const auto shows = [&](const StatusTexts& t) {
        return test::waitUntil([&] { return bar.shownTexts() == t; }, 5000);
    };
    EXPECT_TRUE(shows({"No link", file + ", 0 rows", "Recording: 0 of 10000"}))
        << bar.shownTexts().link << " | " << bar.shownTexts().table << " | "
        << bar.shownTexts().recording;

    LinkWatch watch;
    feed.Link.follow(watch);
    watch.connected(LinkKind::Usb);
    feed.Link.connectedUsb("USB to Serial");
    rule.IntervalOn = true;
    ASSERT_EQ(rule.offer(Reading{"1.000", 1.0, "V", "DC", ""}, 0, table),
              RecordingRule::Outcome::Recorded);
    watch.frame();
    feed.Link.frame(LinkMonitor::Clock::now());
    feed.refresh();
    ASSERT_TRUE(test::waitUntil([&] { return bar.shownTexts().table == file + ", 1 row"; }))
        << bar.shownTexts().table;
    EXPECT_EQ(bar.shownTexts().recording, "Waiting for the interval: 10 s left");
    EXPECT_EQ(bar.shownTexts().link.rfind("USB: USB to Serial - live, ", 0), 0u)
        << bar.shownTexts().link;

    // No call from the window: the feed's own tick shows the countdown moving.
    rule.tick();
    EXPECT_TRUE(test::waitUntil(
        [&] { return bar.shownTexts().recording == "Waiting for the interval: 9 s left"; },
        3 * StatusFeed::TickMs))
        << bar.shownTexts().recording;
    EXPECT_EQ(bar.recordingPart()->accessibleName(), "Waiting for the interval: 9 s left");
}

} // namespace
} // namespace rd780
