// The window and the meter session (what rd780-log runs) record the same rows from the same
// meter: both take their frames through the same cable rule, assembly, decoder and
// recording rule.
#include "app/TFCOMM.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbLinkPanel.h"
#include "record/ReadingTable.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "session/MeterSession.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"

#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>

namespace rd780 {
namespace {

// Every shown column but the time of day, which differs between two runs.
std::vector<std::vector<std::string>> rowsOf(const ReadingTable& t, int n) {
    const auto& names = t.columnNames();
    const auto time = std::find(names.begin(), names.end(), "Time") - names.begin();
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < n && i < t.rowCount(); ++i) {
        auto row = t.displayRow(static_cast<std::uint32_t>(i), true);
        row.erase(row.begin() + time);
        rows.push_back(row);
    }
    return rows;
}

TEST(SameRows, WindowAndSessionRecordTheSameRowsFromTheSameSimulatedMeter) {
    constexpr int N = 20; // more than two long frames of the simulated meter
    SimDeviceConfig cable;
    // A real cable's pace: with reports far faster than the line's bytes, the idle reports
    // between a long frame's bytes end it early or not depending on scheduling, and the two
    // runs would differ by timing rather than by what they do.
    cable.meterPeriod = std::chrono::milliseconds(0);

    auto windowSim = std::make_shared<SimulatedHidServices>();
    windowSim->addDevice(cable);
    TFCOMM::MakeHidServices = [&](const ProgramOptions&) { return windowSim; };
    test::WindowFixture f;
    TFCOMM::MakeHidServices = nullptr;
    f.w->Usb->USBCon->click();
    const ReadingTable& table = f.w->Recording->Rec->Table;
    ASSERT_TRUE(test::waitUntil([&] { return table.rowCount() >= N; }, 30000));
    f.w->Usb->USBCon->click();
    const auto windowRows = rowsOf(table, N);
    EXPECT_TRUE(f.messages.isEmpty());
    f.w.reset(); // one HID controller per program

    auto sessionSim = std::make_shared<SimulatedHidServices>();
    sessionSim->addDevice(cable);
    SessionOptions o;
    o.link = SessionOptions::Link::Usb;
    o.hid = sessionSim;
    o.table = QDir(f.dir.path()).filePath("session.DB").toStdString();
    o.limit = N;
    MeterSession session(o);
    bool ended = false;
    QObject::connect(&session, &MeterSession::ended, [&] { ended = true; });
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    ASSERT_TRUE(test::waitUntil([&] { return ended; }, 30000));
    ASSERT_TRUE(session.finish(error)) << error;
    ReadingTable sessionTable;
    sessionTable.open(o.table);

    ASSERT_EQ(windowRows.size(), static_cast<std::size_t>(N));
    EXPECT_EQ(rowsOf(sessionTable, N), windowRows);
}

} // namespace
} // namespace rd780
