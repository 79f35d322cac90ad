// The status texts: frames per second over a sliding window, the link's health, and what
// the table and the recording rule say about the next reading.
#include "status/StatusTexts.h"
#include "link/LinkWatch.h"
#include "record/ReadingTable.h"
#include "record/RecordingRule.h"
#include "tests/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace rd780 {
namespace {

using namespace std::chrono_literals;
using Clock = FrameRate::Clock;

TEST(FrameRate, SteadyRateAndTheWindowSlidingOverAChange) {
    FrameRate rate;
    const Clock::time_point t0{};
    EXPECT_EQ(rate.perSecond(t0), 0.0);
    // Ten frames a second for twenty seconds.
    for (int i = 0; i < 200; ++i)
        rate.frame(t0 + i * 100ms);
    EXPECT_NEAR(rate.perSecond(t0 + 19'950ms), 10.0, 0.5);
    // Then two a second: after one window the old rate has gone entirely.
    for (int i = 0; i < 20; ++i)
        rate.frame(t0 + 20s + i * 500ms);
    EXPECT_NEAR(rate.perSecond(t0 + 29'900ms), 2.0, 0.25);
    // Then nothing.
    EXPECT_EQ(rate.perSecond(t0 + 36s), 0.0);
    // An hour of silence, then frames again: counted from zero, not from stale slots.
    rate.frame(t0 + 3636s);
    EXPECT_NEAR(rate.perSecond(t0 + 3636s + 100ms), 1.0 / 5.0, 0.05);
}

// Sampled anywhere in a slot and anywhere between two frames, a steady rate reads true: the
// time the ring covers is exactly the time its frames came in.
TEST(FrameRate, ASteadyRateReadsWithinOnePercentWheneverSampled) {
    for (const auto period : {10ms, 7ms, 40ms}) {
        SCOPED_TRACE(period.count());
        FrameRate rate;
        const Clock::time_point t0 = Clock::time_point{} + 3s + 3ms;
        const auto end = t0 + 20s;
        auto next = t0;
        const double truth = 1000.0 / double(period.count());
        // 97 ms does not divide the slot or the period: the samples fall at every phase.
        for (auto at = t0 + 6s; at < end; at += 97ms) {
            for (; next <= at; next += period)
                rate.frame(next);
            ASSERT_NEAR(rate.perSecond(at), truth, truth * 0.01)
                << "sampled " << (at - t0).count() / 1'000'000 << " ms in";
        }
    }
}

// After a silence longer than the window nothing is left of the frames before it, wherever
// they fell in their slot and whether or not the rate was read in that slot already.
TEST(FrameRate, ReadsZeroAfterASilenceLongerThanTheWindow) {
    struct Case {
        std::chrono::milliseconds lastAt; // of the last frame, after the first
        bool readInItsSlot;               // the rate was read at the last frame, then one more came
        std::chrono::nanoseconds silence;
    };
    const std::chrono::nanoseconds window = 5s;
    for (const Case& c : {Case{4'000ms, true, window + 1ns}, Case{4'000ms, false, window + 1ns},
                          Case{4'249ms, true, window + 1ns}, Case{4'125ms, true, window + 300ms},
                          Case{7'010ms, true, window + 1ns}, Case{7'010ms, true, 3600s},
                          Case{10'240ms, true, window + 1ms}, Case{10'240ms, false, 9s}}) {
        SCOPED_TRACE(std::to_string(c.lastAt.count()) + " ms, read " +
                     std::to_string(c.readInItsSlot) + ", silent " +
                     std::to_string(c.silence.count()) + " ns");
        FrameRate rate(5s, 20);
        const Clock::time_point t0 = Clock::time_point{} + 100s;
        for (auto t = t0; t < t0 + c.lastAt; t += 50ms)
            rate.frame(t);
        rate.frame(t0 + c.lastAt);
        if (c.readInItsSlot) {
            ASSERT_GT(rate.perSecond(t0 + c.lastAt), 0.0);
            rate.frame(t0 + c.lastAt); // and one more in the slot just read
        }
        EXPECT_EQ(rate.perSecond(t0 + c.lastAt + c.silence), 0.0);
        EXPECT_EQ(rate.perSecond(t0 + c.lastAt + c.silence + 1s), 0.0);
    }
}

TEST(FrameRate, StartIsNotReadAsABurstAndResetForgets) {
    FrameRate rate;
    const Clock::time_point t0 = Clock::time_point{} + 1000s;
    rate.frame(t0);
    rate.frame(t0 + 100ms);
    rate.frame(t0 + 200ms);
    // Three frames in a fifth of a second are three per second at most.
    EXPECT_NEAR(rate.perSecond(t0 + 200ms), 3.0, 0.01);
    // Two seconds in, the rate is over the two seconds seen, not the whole window.
    for (int i = 3; i < 20; ++i)
        rate.frame(t0 + i * 100ms);
    EXPECT_NEAR(rate.perSecond(t0 + 1'950ms), 10.0, 0.8);
    rate.reset();
    EXPECT_EQ(rate.perSecond(t0 + 2s), 0.0);
    EXPECT_FALSE(rate.lastFrame().has_value());
}

// The status text of each health, which the link watch decides.
TEST(LinkMonitor, TheTextNamesTheLinkAndTheWatchsHealth) {
    Clock::time_point now = Clock::time_point{} + 50s;
    LinkWatch watch([&] { return now; });
    LinkMonitor m;
    m.follow(watch);
    EXPECT_EQ(linkText(m.status(now)), "No link");

    watch.connected(LinkKind::Serial);
    m.connectedSerial("/dev/ttyUSB0", 2400);
    EXPECT_EQ(linkText(m.status(now)), "Serial: /dev/ttyUSB0, 2400 baud - no frames yet");
    for (int i = 0; i < 10; ++i) {
        now += 500ms;
        watch.frame();
        m.frame(now);
    }
    EXPECT_EQ(linkText(m.status(now + 400ms)),
              "Serial: /dev/ttyUSB0, 2400 baud - live, 2.0 frames/s");
    now += LinkWatch::StallAfter;
    watch.tick();
    EXPECT_EQ(m.status(now).health, LinkStatus::Health::Stalled);
    EXPECT_NE(linkText(m.status(now)).find(" - stalled, "), std::string::npos);
    m.speedChanged(9600);
    EXPECT_NE(linkText(m.status(now)).find("9600 baud"), std::string::npos);
    watch.cableGone(CableIdentity{});
    EXPECT_NE(linkText(m.status(now)).find(" - unplugged, "), std::string::npos);
}

TEST(LinkMonitor, ProblemsAndDisconnect) {
    LinkWatch watch;
    LinkMonitor m;
    m.follow(watch);
    const Clock::time_point t0 = Clock::time_point{} + 50s;
    // A refused connect leaves no link, and says why.
    m.problem("no read/write access to USB to Serial: install the udev rule");
    EXPECT_EQ(linkText(m.status(t0)),
              "No link; no read/write access to USB to Serial: install the udev rule");

    watch.connected(LinkKind::Usb);
    m.connectedUsb("USB to Serial");
    EXPECT_EQ(m.status(t0).problem, "") << "a new connection starts without the old problem";
    watch.frame();
    m.frame(t0 + 1s);
    m.problem("READ ERROR: Input/output error (5)");
    EXPECT_EQ(linkText(m.status(t0 + 1500ms)),
              "USB: USB to Serial - live, 1.0 frames/s; READ ERROR: Input/output error (5)");
    m.frame(t0 + 2s);
    EXPECT_EQ(m.status(t0 + 2s).problem, "") << "frames flowing again clear the problem";

    m.problem("Serial port COM1 could not be opened: No such file or directory");
    watch.disconnected();
    m.disconnected();
    EXPECT_EQ(linkText(m.status(t0 + 3s)),
              "No link; Serial port COM1 could not be opened: No such file or directory");
}

// One threshold for every reader of the link's health: the lamp's watch, the status text
// and the count the logger's summary reads turn stalled when StallAfter has passed without
// a frame, to the clock's tick, counted from the connect before the first frame and from
// the last frame after frames.
TEST(LinkStall, EveryReaderTurnsStalledExactlyWhenTheOneThresholdHasPassed) {
    using Tick = Clock::duration;
    struct Health {
        LinkWatch& watch;
        LinkMonitor& monitor;
        Clock::time_point now;
    };
    struct Reader {
        const char* name;
        bool ticked; // read after the link timer's tick; else after the next frame
        std::function<bool(const Health&)> stalled;
    };
    const Reader readers[] = {
        {"link lamp", true,
         [](const Health& h) { return h.watch.state() == LinkWatch::State::Stalled; }},
        {"status text", true,
         [](const Health& h) {
             return linkText(h.monitor.status(h.now)).find(" - stalled") != std::string::npos;
         }},
        {"stall count", true, [](const Health& h) { return h.watch.stalls() == 1; }},
        // The logger leaves a serial line without ticks: the next frame counts the silence.
        {"stall count without a tick", false,
         [](const Health& h) { return h.watch.stalls() == 1; }},
    };
    struct Case {
        const char* name;
        int frames; // before the silence, half a second apart
    };
    const Case cases[] = {{"before the first frame", 0}, {"after frames", 4}};
    const struct {
        const char* name;
        Tick offset; // from the threshold
        bool stalled;
    } moments[] = {{"a tick before", -Tick(1), false},
                   {"the moment it has passed", Tick(0), true},
                   {"a tick after", Tick(1), true}};
    for (const Case& c : cases)
        for (const auto& at : moments)
            for (const Reader& r : readers) {
                SCOPED_TRACE(std::string(c.name) + ", " + at.name + ": " + r.name);
                Clock::time_point now = Clock::time_point{} + 77s;
                LinkWatch watch([&] { return now; });
                LinkMonitor monitor;
                monitor.follow(watch);
                watch.connected(LinkKind::Usb);
                monitor.connectedUsb("USB to Serial");
                for (int i = 0; i < c.frames; ++i) {
                    now += 500ms;
                    watch.frame();
                    monitor.frame(now);
                    watch.tick();
                }
                now += LinkWatch::StallAfter + at.offset;
                if (r.ticked)
                    EXPECT_EQ(watch.tick(), at.stalled) << "said when it changes";
                else
                    EXPECT_FALSE(watch.frame()) << "live before and after";
                EXPECT_EQ(r.stalled({watch, monitor, now}), at.stalled);
            }
}

Reading distinct(int i) {
    return Reading{std::to_string(i), 1.0, "V", "DC", ""};
}

struct TableFixture : ::testing::Test {
    QTemporaryDir dir;
    std::filesystem::path file() const {
        return std::filesystem::path(dir.path().toStdString()) / "Kv400db.DB";
    }
    int recordNo = 1;
    int recordLimit = 10000;
    RecordingRule rule{recordNo, recordLimit};
    ReadingTable table;
    RecordingRule::Outcome offer(int i) { return rule.offer(distinct(i), 0, table); }
    std::string recordingNow() { return recordingText(recordingStatusOf(rule, table)); }
};

TEST_F(TableFixture, TableTextNamesTheAbsoluteFileAndItsRows) {
    EXPECT_EQ(tableText(tableStatusOf(table)), "No table; not recording: no table is open");
    EXPECT_EQ(recordingNow(), "Not recording");

    // Opened by a relative name, shown by its absolute one.
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    table.openOrCreate("Kv400db.DB");
    QDir::setCurrent(old);
    EXPECT_EQ(tableText(tableStatusOf(table)), file().string() + ", 0 rows");
    ASSERT_EQ(offer(1), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(tableText(tableStatusOf(table)), file().string() + ", 1 row");
    ASSERT_EQ(offer(2), RecordingRule::Outcome::Recorded);
    const TableStatus s = tableStatusOf(table);
    EXPECT_EQ(s.rows, 2);
    EXPECT_FALSE(s.readOnly);
    EXPECT_EQ(s.notRecording, "");
    EXPECT_EQ(tableText(s), file().string() + ", 2 rows");
}

TEST(TableText, ReadOnlyAndReasons) {
    TableStatus s{true, "/data/old.DB", 12, true, "the file cannot be written"};
    EXPECT_EQ(tableText(s), "/data/old.DB, 12 rows, read only; not recording: the file cannot "
                            "be written");
}

TEST_F(TableFixture, ForeignTablesAreNotRecordedIntoAndSayWhy) {
    const QString fixtures = test::fixtureDir() + "/";
    ASSERT_TRUE(QFile::exists(fixtures + "CONTACTS.DB"));
    const auto copy = [&](const char* name) {
        const QString to = dir.filePath(name);
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(fixtures + name, to));
        QFile(to).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return std::filesystem::path(to.toStdString());
    };
    table.open(copy("CONTACTS.DB"));
    EXPECT_EQ(tableStatusOf(table).notRecording, "the table lacks the reading fields");
    EXPECT_EQ(recordingNow(), "Not recording");
    EXPECT_THROW(offer(1), std::exception) << "the reason given is the one recording meets";

    copy("CUSTOMER.PX");
    copy("CUSTOMER.MB");
    table.open(copy("CUSTOMER.DB"));
    const TableStatus s = tableStatusOf(table);
    EXPECT_EQ(s.notRecording, "the table has a primary index");
    EXPECT_NE(tableText(s).find("not recording: the table has a primary index"), std::string::npos);
    EXPECT_THROW(offer(2), std::exception);
}

TEST_F(TableFixture, EachRecordingState) {
    table.openOrCreate(file());
    EXPECT_EQ(recordingNow(), "Recording: 0 of 10000");

    // The interval: after a row, the countdown in seconds.
    rule.IntervalOn = true;
    rule.IntervalText = "10";
    ASSERT_EQ(offer(1), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(recordingNow(), "Waiting for the interval: 10 s left");
    rule.tick();
    rule.tick();
    EXPECT_EQ(recordingNow(), "Waiting for the interval: 8 s left");
    for (int i = 0; i < 8; ++i)
        rule.tick();
    EXPECT_EQ(recordingNow(), "Recording: 1 of 10000");

    // A bad interval text.
    rule.IntervalText = "1x";
    EXPECT_THROW(offer(2), std::exception);
    EXPECT_EQ(recordingNow(), "Not recording: the sampling interval is not a number");
    rule.IntervalOn = false;
    rule.IntervalText = "10";

    // The repeat filter.
    rule.RepeatOn = true;
    ASSERT_EQ(offer(3), RecordingRule::Outcome::Recorded);
    ASSERT_EQ(offer(3), RecordingRule::Outcome::Repeat);
    EXPECT_EQ(recordingNow(), "Repeat filtered: the same reading is not recorded again");
    ASSERT_EQ(offer(4), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(recordingNow(), "Recording: 3 of 10000");

    // The limit: shown as soon as it is reached, not only when the next frame is refused.
    recordLimit = 4;
    ASSERT_EQ(offer(5), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(recordingNow(), "Limit 4 reached with 4 rows: recording stopped");
    // The window's gate lets one row past the limit, and the text never says "5 of 4".
    rule.Gate = RecordingRule::LimitGate::StopPastLimit;
    EXPECT_EQ(recordingNow(), "Recording: row 5, limit 4");
    ASSERT_EQ(offer(6), RecordingRule::Outcome::Recorded);
    EXPECT_EQ(recordingNow(), "Limit 4 reached with 5 rows: recording stopped");
    // A larger limit from the menu lets recording go on at once.
    recordLimit = RecordLimits[5];
    EXPECT_EQ(recordingNow(), "Recording: 5 rows");

    // New starts over.
    rule.RepeatOn = false;
    recordLimit = 4;
    rule.newRecording(table);
    EXPECT_EQ(recordingNow(), "Recording: 0 of 4");
    EXPECT_FALSE(rule.lastOutcome().has_value());
}

TEST(RecordingText, NegativeIntervalIsNotAWait) {
    RecordingStatus s;
    s.state = RecordingStatus::State::Waiting;
    s.secondsLeft = -3;
    EXPECT_EQ(recordingText(s), "Not recording: the sampling interval is negative");
}

TEST(TableFull, ShownAsFullNotAsRecording) {
    QTemporaryDir dir;
    const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "f.db";
    // One row per 1 KiB block: 65,535 rows fill the table.
    auto fields = readingFields();
    for (int i = 0; i < 4; ++i)
        fields.push_back({"W" + std::to_string(i), paradox::FieldType::Alpha, 220});
    {
        auto t = paradox::Table::create(file, fields, paradox::CreateOptions{1, 1252});
        t.setSyncInterval(1 << 30);
        std::vector<paradox::Value> row = t.blankRow();
        row[0] = int64_t(1);
        while (t.rowCount() < t.capacity())
            t.appendRow(row);
        t.close();
    }
    ReadingTable table;
    table.open(file);
    ASSERT_TRUE(table.isFull());
    int no = 1, limit = RecordLimits[5];
    RecordingRule rule(no, limit);
    const RecordingStatus s = recordingStatusOf(rule, table);
    EXPECT_EQ(s.state, RecordingStatus::State::TableFull);
    EXPECT_EQ(recordingText(s), "Table full: recording stopped");
    EXPECT_EQ(rule.offer(distinct(1), 0, table), RecordingRule::Outcome::TableFull)
        << "the status says what the rule does";
}

TEST(StatusTexts, AllThreeAndTheirEquality) {
    LinkStatus link;
    TableStatus table{true, "/t/Kv400db.DB", 7, false, ""};
    RecordingStatus rec;
    rec.state = RecordingStatus::State::LimitReached;
    rec.limit = 1000;
    rec.recorded = 1001;
    const StatusTexts a = statusTexts(link, table, rec);
    EXPECT_EQ(a.link, "No link");
    EXPECT_EQ(a.table, "/t/Kv400db.DB, 7 rows");
    EXPECT_EQ(a.recording, "Limit 1000 reached with 1001 rows: recording stopped");
    StatusTexts b = a;
    EXPECT_EQ(a, b);
    b.recording.clear();
    EXPECT_NE(a, b);
}

} // namespace
} // namespace rd780
