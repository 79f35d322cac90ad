// The meter session and the USB cable it shares with the window: which cable is taken, what
// it is sent, how a silent meter is asked again and given up on, and the options in which
// the window and the logger differ.
#include "TestSupport.h"
#include "link/capture/CaptureFile.h"
#include "link/hid/FakeSysfs.h"
#include "link/hid/HidControllerClass.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbCable.h"
#include "link/serial/PtyPair.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/MeterSimulator.h"
#include "record/ReadingTable.h"
#include "record/RowOutput.h"
#include "record/paradox/TableTestSupport.h"
#include "session/MeterSession.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

namespace rd780 {
namespace {

// Linux services over a crafted sysfs tree that also keep the feature reports sent: a
// pseudo-terminal standing in for the hidraw node takes no feature ioctl.
class RecordingTreeServices : public test::FakeTreeHidServices {
public:
    using FakeTreeHidServices::FakeTreeHidServices;
    bool setFeature(HidHandle, const std::uint8_t*, std::size_t length) override {
        featureLengths.push_back(length);
        return true;
    }
    bool write(HidHandle, const std::uint8_t*, std::size_t length, std::size_t& written) override {
        written = length;
        ++polls;
        return true;
    }
    std::vector<std::size_t> featureLengths;
    int polls = 0;
};

TEST(MeterSession, TakesOnlyACableWithoutSerialAndSendsTheFeatureLengthItDeclares) {
    struct Case {
        std::uint8_t featureBytes;
        std::optional<std::string> serial;
        bool taken;
        std::size_t featureLength; // with the report ID
    };
    for (const Case& c : {Case{16, std::nullopt, true, 17}, Case{0, std::nullopt, true, 10},
                          Case{16, std::string("SN-0042"), false, 0}}) {
        SCOPED_TRACE(c.featureBytes);
        test::FakeSysfsCable cable(test::cableDescriptor(c.featureBytes), c.serial);
        ASSERT_TRUE(cable.ok());
        auto services = std::make_shared<RecordingTreeServices>(cable);
        SessionOptions o;
        o.link = SessionOptions::Link::Usb;
        o.hid = services;
        MeterSession session(o);
        std::string error;
        EXPECT_EQ(session.start(error), c.taken) << error;
        if (c.taken) {
            EXPECT_EQ(services->featureLengths, std::vector<std::size_t>{c.featureLength});
            EXPECT_EQ(services->polls, 1) << "the first poll follows the line settings";
        } else {
            EXPECT_EQ(error, "no USB cable (\"USB to Serial\") found");
            EXPECT_TRUE(services->featureLengths.empty());
        }
        session.finish(error);
    }

    // Two cables by the same name: the one that reports a serial number is passed over,
    // whichever comes first.
    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig other;
    other.serial = u"SN-1";
    const int withSerial = sim->addDevice(other);
    const int plain = sim->addDevice();
    SessionOptions o;
    o.link = SessionOptions::Link::Usb;
    o.hid = sim;
    MeterSession session(o);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    EXPECT_TRUE(test::waitUntil([&] { return session.rows() >= 2; }, 10000));
    EXPECT_EQ(sim->featureReports(withSerial), 0);
    EXPECT_EQ(sim->polls(withSerial), 0);
    EXPECT_EQ(sim->featureReports(plain), 1);
    EXPECT_EQ(sim->baud(plain), UsbCable::Baud);
    EXPECT_GE(sim->polls(plain), 2);
    EXPECT_TRUE(session.finish(error)) << error;
}

// The cable's idle rule, as both programs run it on their 100 ms link timer: a report
// without meter bytes counts; after 600 the meter is polled again, after 3000 given up on.
TEST(UsbCable, SilentMeterIsPolledAgainAndThenGivenUp) {
    std::string frame, chunk;
    bool pending = false;
    int idle = 0, polls = 0, ticks = 0;
    UsbCable cable(frame, chunk, pending, idle, polls, ticks);
    const std::uint8_t empty[] = {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::uint8_t meter[] = {0x01, 0x5A, 0, 0, 0, 0, 0, 0, 0, 0};
    auto feed = [&](int n) {
        for (int i = 0; i < n; ++i)
            cable.report(0, empty, sizeof empty);
    };
    auto threeTicks = [&] {
        UsbCable::TickResult last;
        for (int i = 0; i <= UsbCable::IdleTicks; ++i) {
            last = cable.tick();
            if (i < UsbCable::IdleTicks) {
                EXPECT_FALSE(last.checked);
            }
        }
        EXPECT_TRUE(last.checked);
        return last;
    };
    feed(599);
    EXPECT_FALSE(threeTicks().repoll);
    feed(1);
    UsbCable::TickResult r = threeTicks();
    EXPECT_TRUE(r.repoll);
    EXPECT_FALSE(r.giveUp);
    EXPECT_FALSE(threeTicks().repoll) << "the count starts again after a poll";
    feed(3000 - 600 - 1);
    EXPECT_FALSE(threeTicks().giveUp);
    feed(1);
    r = threeTicks();
    EXPECT_TRUE(r.giveUp);
    EXPECT_EQ(idle, 0);

    // Meter bytes keep the link from idling and start the counts again.
    feed(700);
    cable.tick();
    cable.report(0, meter, sizeof meter);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(polls, 0);
    EXPECT_FALSE(threeTicks().repoll);
}

std::string frameOf(const char* field) {
    MeterDisplay d;
    d.field = field;
    const auto bytes = MeterSimulator::encode(d);
    std::string hex;
    appendHex(hex, bytes.data(), bytes.size());
    return hex;
}

// What differs between the window and the logger is chosen, not built in: what a read
// error does, where the session's messages go, and whether the limit ends the run.
TEST(MeterSession, ReadErrorAndLimitFollowTheirOptions) {
    for (auto policy : {SessionOptions::ReadError::Count, SessionOptions::ReadError::End}) {
        SCOPED_TRACE(static_cast<int>(policy));
        auto sim = std::make_shared<SimulatedHidServices>();
        const int id = sim->addDevice();
        sim->setReadFailure(id, 5);
        std::vector<std::string> messages;
        SessionOptions o;
        o.link = SessionOptions::Link::Usb;
        o.hid = sim;
        o.readError = policy;
        o.message = [&](const std::string& m) { messages.push_back(m); };
        MeterSession session(o);
        QSignalSpy ended(&session, &MeterSession::ended);
        std::string error;
        ASSERT_TRUE(session.start(error)) << error;
        ASSERT_TRUE(test::waitUntil([&] { return session.errors() >= 1; }, 10000));
        if (policy == SessionOptions::ReadError::End) {
            ASSERT_EQ(ended.count(), 1);
            EXPECT_EQ(ended[0][0].toInt(), 1);
            EXPECT_TRUE(messages.empty());
        } else {
            EXPECT_EQ(ended.count(), 0);
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ(messages[0].rfind("read error: ", 0), 0u) << messages[0];
        }
        session.finish(error);
    }

    for (bool endAtLimit : {true, false}) {
        SCOPED_TRACE(endAtLimit);
        SessionOptions o;
        o.limit = 2;
        o.endAtLimit = endAtLimit;
        // The window's gate lets one row past the limit; the logger's stops at it.
        o.limitGate = endAtLimit ? RecordingRule::LimitGate::StopAtLimit
                                 : RecordingRule::LimitGate::StopPastLimit;
        MeterSession session(o);
        QSignalSpy ended(&session, &MeterSession::ended);
        QSignalSpy outcomes(&session, &MeterSession::recordingChanged);
        std::string error;
        ASSERT_TRUE(session.openSinks(error)) << error;
        for (const char* f : {"1.000", "2.000", "3.000", "4.000"})
            session.frame(frameOf(f));
        EXPECT_EQ(session.rows(), endAtLimit ? 2u : 3u);
        EXPECT_EQ(ended.count(), endAtLimit ? 1 : 0);
        // Once over, the session takes no further frame; otherwise the rule says the limit.
        EXPECT_EQ(outcomes.count(), endAtLimit ? 2 : 4);
        if (!endAtLimit) {
            EXPECT_EQ(outcomes.last()[0].value<RecordingRule::Outcome>(),
                      RecordingRule::Outcome::LimitReached);
        }
    }
}

// An output that keeps what it is handed, as a JSON-lines file or a broker would get it.
class KeptRows : public RowOutput {
public:
    void put(const CsvReading& r) override {
        rows.push_back(r.no + " " + r.value + " " + r.unit + " " + r.coupling + " " + r.autoText);
    }
    bool flush(std::string&) override { return true; }
    std::string summary() const override { return ", " + std::to_string(rows.size()) + " kept"; }
    std::vector<std::string> rows;
};

std::string firstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// What the logger hands the session beside the table: every recorded row reaches each
// output, the tap captures what the link delivered, and that capture played back (faster)
// through the same assembly gives the same rows; a table another program holds is refused
// with the status a restart cannot mend.
TEST(MeterSession, OutputsAndCaptureTakeEveryRowAndTheCaptureReplaysToTheSameRows) {
    test::ScratchDir dir;
    auto run = [&](SessionOptions o, std::uint64_t rows) {
        auto kept = std::make_shared<KeptRows>();
        o.table = (dir / (o.replay.empty() ? "live.DB" : "again.DB")).string();
        o.csv = (dir / (o.replay.empty() ? "live.csv" : "again.csv")).string();
        MeterSession session(o);
        session.addOutput(kept);
        int code = -1;
        QObject::connect(&session, &MeterSession::ended, [&](int c) { code = c; });
        std::string error;
        EXPECT_TRUE(session.start(error)) << error;
        EXPECT_TRUE(test::waitUntil([&] { return code >= 0; }, 30000));
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(session.finish(error)) << error;
        EXPECT_EQ(session.rows(), rows);
        EXPECT_EQ(kept->rows.size(), rows);
        EXPECT_NE(session.summary().find(std::to_string(rows) + " kept"), std::string::npos)
            << session.summary();
        ReadingTable table;
        table.open(o.table);
        EXPECT_EQ(table.rowCount(), static_cast<std::int64_t>(rows));
        std::ifstream csv(o.csv);
        std::size_t lines = 0;
        for (std::string line; std::getline(csv, line);)
            ++lines;
        EXPECT_EQ(lines, rows + 1) << "the header and one line a row";
        return kept->rows;
    };
    constexpr int N = 6;
    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig cable;
    cable.meterPeriod = std::chrono::milliseconds(0); // a real cable's pace
    sim->addDevice(cable);
    SessionOptions live;
    live.link = SessionOptions::Link::Usb;
    live.hid = sim;
    live.limit = N;
    live.capture = (dir / "cable.cap").string();
    live.linkName = "bench cable";
    const auto liveRows = run(live, N);
    EXPECT_EQ(firstLine(dir / "cable.cap"), "rd780 capture 1 link=usb-hid source=\"bench cable\"");

    SessionOptions again;
    again.replay = live.capture;
    again.speed = 10;
    EXPECT_EQ(run(again, N), liveRows) << "played to its end, the capture ends the run";

    ReadingTable held;
    held.openOrCreate((dir / "live.DB").string());
    SessionOptions refused;
    refused.table = (dir / "live.DB").string();
    MeterSession session(refused);
    std::string error;
    EXPECT_FALSE(session.start(error));
    EXPECT_EQ(session.startFailure(), MeterSession::TableRefused) << error;
}

// The session announces the link's health by the one watch and its threshold: stalled once
// the stall time has passed without a frame (not a tick before), live with the next frame.
// The window drives the session: its panels hand in what they read, readings wait while no
// table is open, a row the rule refuses is told and the readings go on, and rows carry the
// window's time of day; the logger's session ends on such an error.
TEST(MeterSession, TheWindowsOptionsLetReadingsWaitTellRefusalsAndStampTheRows) {
    for (bool window : {true, false}) {
        SCOPED_TRACE(window ? "window" : "logger");
        test::ScratchDir dir;
        SessionOptions o;
        constexpr std::int32_t Recalled = (12 * 3600 + 34 * 60 + 56) * 1000;
        if (window) {
            o.driven = true;
            o.capture = (dir / "first.cap").string();
            o.recordError = SessionOptions::RecordError::Tell;
            o.waitForTable = true;
            o.timeOfDay = [] { return Recalled; };
        }
        MeterSession session(o);
        QSignalSpy ended(&session, &MeterSession::ended);
        QSignalSpy failed(&session, &MeterSession::recordingFailed);
        QSignalSpy outcomes(&session, &MeterSession::recordingChanged);
        std::string error;
        ASSERT_TRUE(session.start(error)) << error;

        // No table yet: the window's reading waits, the logger's goes to its other sinks.
        const std::string frame = frameOf("1.000");
        std::vector<std::uint8_t> bytes(frame.size() / 2);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(std::stoi(frame.substr(2 * i, 2), nullptr, 16));
        if (window) {
            // Serial bytes first: the capture is made for the serial link, and a USB report
            // after them is not part of it.
            session.serialBytes(bytes.data(), bytes.size());
            session.serialIdle();
            const std::uint8_t report[] = {0xF1, 0x5A};
            session.usbReport(0, report, sizeof report);
        } else {
            session.frame(frame);
        }
        EXPECT_EQ(session.frames(), 1u);
        EXPECT_EQ(session.rows(), window ? 0u : 1u);
        EXPECT_EQ(outcomes.count(), window ? 0 : 1);

        session.table().openOrCreate((dir / "rows.DB").string());
        session.frame(frameOf("2.000"));
        ASSERT_EQ(session.table().rowCount(), 1);
        const auto cells = session.table().displayRow(0, false);
        ASSERT_GE(cells.size(), 4u);
        EXPECT_EQ(cells[3], "2.000");
        // The waiting reading took no number in the window; the logger's took the first.
        EXPECT_EQ(cells[0], window ? "1" : "2");
        EXPECT_EQ(cells[1] == "12:34:56", window) << "the window's time of day: " << cells[1];

        // An interval that does not convert: told each time in the window, the run goes on.
        session.rule().IntervalOn = true;
        session.rule().IntervalText = "x";
        session.rule().SampleCountdown = 0;
        session.frame(frameOf("3.000"));
        if (window) {
            EXPECT_EQ(ended.count(), 0);
            ASSERT_EQ(failed.count(), 1);
            EXPECT_EQ(failed[0][0].value<std::string>(), "'x' is not a valid integer value");
            session.rule().IntervalText = "0";
            session.frame(frameOf("4.000"));
            EXPECT_EQ(session.table().rowCount(), 2) << "recording goes on once it is mended";
        } else {
            ASSERT_EQ(ended.count(), 1);
            EXPECT_EQ(ended[0][0].toInt(), 1);
            EXPECT_EQ(failed.count(), 0);
        }
        EXPECT_TRUE(session.finish(error)) << error;
        if (!window) continue;
        Capture cap;
        ASSERT_TRUE(readCapture(o.capture, cap, error)) << error;
        EXPECT_EQ(cap.link, LinkKind::Serial);
        std::size_t captured = 0;
        for (const auto& r : cap.records)
            captured += r.bytes.size();
        EXPECT_EQ(captured, bytes.size());
    }
}

// A disk that fails the table's sync (on the table's own thread): the window is told once
// by sinkFailed while it keeps failing, records on, and its rows are durable once the disk
// is back; the logger's run ends with status 1.
TEST(MeterSession, AFailedTableSyncIsToldOnceInTheWindowAndEndsTheLoggersRun) {
    for (bool window : {true, false}) {
        SCOPED_TRACE(window ? "window" : "logger");
        test::ScratchDir dir;
        SessionOptions o;
        o.table = (dir / "rows.DB").string();
        if (window) o.recordError = SessionOptions::RecordError::Tell;
        o.backgroundSync = window; // the logger syncs on its own thread
        MeterSession session(o);
        QSignalSpy ended(&session, &MeterSession::ended);
        QSignalSpy sinkFailed(&session, &MeterSession::sinkFailed);
        QSignalSpy recordingFailed(&session, &MeterSession::recordingFailed);
        std::string error;
        ASSERT_TRUE(session.openSinks(error)) << error;
        std::atomic<int> failure = EIO, syncs = 0;
        std::atomic<bool> onOurs = false, onAnother = false;
        const std::thread::id ours = std::this_thread::get_id();
        session.table().setSyncCall([&](int fd) {
            const int err = failure != 0 ? failure.load() : ::fdatasync(fd) == 0 ? 0 : errno;
            (std::this_thread::get_id() == ours ? onOurs : onAnother) = true;
            ++syncs;
            return err;
        });
        session.frame(frameOf("1.000")); // its sync is due at once, and fails
        const std::string told = o.table + ": cannot flush to disk: " + std::strerror(EIO);
        if (!window) {
            ASSERT_TRUE(test::waitUntil([&] { return ended.count() == 1; }, 10000));
            EXPECT_EQ(ended[0][0].toInt(), 1);
            EXPECT_EQ(ended[0][1].value<std::string>(), told);
            EXPECT_TRUE(onOurs && !onAnother);
            EXPECT_FALSE(session.finish(error));
            continue;
        }
        ASSERT_TRUE(test::waitUntil([&] { return sinkFailed.count() == 1; }, 10000));
        EXPECT_EQ(sinkFailed[0][0].value<std::string>(), told);
        EXPECT_TRUE(onAnother && !onOurs) << "the window's syncs are off its thread";
        for (const char* f : {"2.000", "3.000", "4.000"})
            session.frame(frameOf(f));
        // Retried by the timer meanwhile, and failing, untold.
        const int before = syncs;
        ASSERT_TRUE(test::waitUntil([&] { return syncs >= before + 3; }, 10000));
        EXPECT_EQ(sinkFailed.count(), 1);
        EXPECT_EQ(recordingFailed.count(), 0);
        EXPECT_EQ(ended.count(), 0);
        EXPECT_EQ(session.rows(), 4u);

        failure = 0;
        ASSERT_TRUE(
            test::waitUntil([&] { return !session.table().table().flushPending(); }, 10000));
        session.frame(frameOf("5.000"));
        EXPECT_TRUE(session.finish(error)) << error;
        EXPECT_EQ(sinkFailed.count(), 1);
        EXPECT_EQ(paradox::Table::open(o.table, paradox::OpenMode::ReadOnly).rowCount(), 5u);
    }
}

// A run that ends while the cable's reader still holds a whole frame records it before it
// stops, and the capture holds what was recorded: played back, it gives the same rows.
TEST(MeterSession, FinishingRecordsWhatTheCableReadAndTheCaptureHoldsNoMore) {
    test::ScratchDir dir;
    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig cable;
    cable.meterPeriod = std::chrono::milliseconds(0);
    const int id = sim->addDevice(cable);
    SessionOptions live;
    live.link = SessionOptions::Link::Usb;
    live.hid = sim;
    live.table = (dir / "live.DB").string();
    live.capture = (dir / "cable.cap").string();
    MeterSession session(live);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    ASSERT_TRUE(test::waitUntil([&] { return session.rows() >= 2; }, 10000));
    // The poll after the last row is out: the meter's next frame now comes in while this
    // thread runs no events, so it waits in the reader when the run ends.
    const std::uint64_t read = sim->reportsRead(id);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim->reportsRead(id) < read + 150 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    const std::uint64_t before = session.rows();
    ASSERT_TRUE(session.finish(error)) << error;
    EXPECT_EQ(session.rows(), before + 1) << "the frame read before the end is recorded";

    SessionOptions again;
    again.replay = live.capture;
    again.speed = 10;
    again.table = (dir / "again.DB").string();
    MeterSession replay(again);
    int code = -1;
    QObject::connect(&replay, &MeterSession::ended, [&](int c) { code = c; });
    ASSERT_TRUE(replay.start(error)) << error;
    ASSERT_TRUE(test::waitUntil([&] { return code >= 0; }, 30000));
    ASSERT_TRUE(replay.finish(error)) << error;
    EXPECT_EQ(replay.rows(), session.rows()) << "the capture holds what was recorded";
}

TEST(MeterSession, AnnouncesAStallAtTheWatchsThresholdAndLiveAgainWithTheNextFrame) {
    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig c;
    c.reportInterval = std::chrono::microseconds(2000); // re-polled after 1.2 s of silence
    const int id = sim->addDevice(c);
    auto now = LinkWatch::Clock::now();
    SessionOptions o;
    o.link = LinkKind::Usb;
    o.hid = sim;
    o.linkClock = [&] { return now; };
    MeterSession session(o);
    QSignalSpy health(&session, &MeterSession::linkHealthChanged);
    QSignalSpy idle(&session, &MeterSession::linkIdle);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    ASSERT_TRUE(test::waitUntil([&] { return session.frames() >= 2; }, 10000));
    EXPECT_TRUE(session.health().framesSeen());
    sim->setMeterSilent(id, true);
    // Quiet now: the idle rule ran without a frame.
    idle.clear();
    ASSERT_TRUE(idle.wait(5000));
    now += LinkWatch::StallAfter - std::chrono::milliseconds(1);
    idle.clear();
    ASSERT_TRUE(idle.wait(5000));
    ASSERT_TRUE(idle.wait(5000));
    EXPECT_EQ(health.count(), 0) << "a tick before the threshold";
    now += std::chrono::milliseconds(1);
    ASSERT_TRUE(health.wait(5000));
    EXPECT_EQ(health.takeFirst()[0].value<LinkWatch::State>(), LinkWatch::State::Stalled);
    EXPECT_EQ(session.health().stalls(), 1);

    sim->setMeterSilent(id, false); // the idle rule's poll brings the next frame
    ASSERT_TRUE(health.wait(10000));
    EXPECT_EQ(health.takeFirst()[0].value<LinkWatch::State>(), LinkWatch::State::Live);
    EXPECT_EQ(session.health().stalls(), 1);
    session.finish(error);
}

// On a serial line the link timer sleeps; the recording's clock looks at the same watch, so
// the line stalls by the same threshold and the summary counts it.
TEST(MeterSession, ASerialLineStallsByTheSameWatchAndTheSummaryCountsIt) {
    test::PtyPair pty;
    MeterDisplay d;
    d.field = "1.000";
    const auto frame = MeterSimulator::encode(d);
    auto now = LinkWatch::Clock::now();
    SessionOptions o;
    o.link = LinkKind::Serial;
    o.serialDevice = pty.slavePath();
    o.linkClock = [&] { return now; };
    MeterSession session(o);
    QSignalSpy health(&session, &MeterSession::linkHealthChanged);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    // The port empties its queues once opened: the frame is offered again until it shows.
    for (int i = 0; i < 20 && session.frames() == 0; ++i) {
        pty.send(frame);
        test::waitUntil([&] { return session.frames() > 0; }, 1500);
    }
    ASSERT_GT(session.frames(), 0u);
    EXPECT_EQ(health.count(), 0);
    now += LinkWatch::StallAfter;
    ASSERT_TRUE(health.wait(5000));
    EXPECT_EQ(health.takeFirst()[0].value<LinkWatch::State>(), LinkWatch::State::Stalled);
    pty.send(frame);
    ASSERT_TRUE(health.wait(5000));
    EXPECT_EQ(health.takeFirst()[0].value<LinkWatch::State>(), LinkWatch::State::Live);
    EXPECT_NE(session.summary().find(", 1 stall of 3 s without a frame"), std::string::npos)
        << session.summary();
    session.finish(error);
}

} // namespace
} // namespace rd780
