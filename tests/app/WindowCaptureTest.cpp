// The window's --capture and --replay: what one window captured from a cable, another
// lists as a cable and reads into the same rows, and rd780-log, given the same capture,
// records the same rows as the window.
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/MeterSimulator.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "session/MeterSession.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"
#include "view/HistoryList.h"

#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QToolButton>

#include <fstream>

#include <gtest/gtest.h>

using namespace rd780;

namespace {

// No, DC/AC, Value, Unit and AUTO of every row: the time of day differs between runs.
std::vector<std::vector<std::string>> tableRows(ReadingTable& t) {
    std::vector<std::vector<std::string>> rows;
    for (int64_t i = 0; i < t.rowCount(); ++i) {
        auto r = t.displayRow(static_cast<uint32_t>(i), true);
        r.erase(r.begin() + 1);
        rows.push_back(r);
    }
    return rows;
}

std::vector<std::vector<std::string>> tableRows(TFCOMM& w) {
    return tableRows(w.Recording->Rec->Table);
}

bool historyHas(TFCOMM& w, const QString& line) {
    for (int i = 0; i < w.HistoryListBox->count(); ++i)
        if (w.HistoryListBox->text(i) == line) return true;
    return false;
}

// The rows the real rd780-log program records from a capture, into a table of its own.
std::vector<std::vector<std::string>> loggerRows(const std::string& capture, const QString& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(RD780_LOG_BINARY,
            {"--replay", QString::fromStdString(capture), "--speed", "4", "--table", "log.DB"});
    const bool finished = p.waitForFinished(60000);
    EXPECT_TRUE(finished);
    if (!finished) p.kill();
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    ReadingTable table;
    table.open(QDir(dir).filePath("log.DB").toStdString());
    return tableRows(table);
}

struct HidServicesForTest {
    explicit HidServicesForTest(std::shared_ptr<HidServices> s) {
        TFCOMM::MakeHidServices = [s](const ProgramOptions&) { return s; };
    }
    ~HidServicesForTest() { TFCOMM::MakeHidServices = nullptr; }
};

} // namespace

TEST(WindowCapture, ACapturedCableIsListedOnReplayAndGivesTheSameRows) {
    QTemporaryDir keep;
    const std::string capture = keep.filePath("cable.cap").toStdString();
    std::vector<std::vector<std::string>> live;
    {
        auto sim = std::make_shared<SimulatedHidServices>();
        sim->addDevice();
        HidServicesForTest services(sim);
        ProgramOptions o;
        o.capture = capture;
        test::WindowFixture f(o);
        TFCOMM& w = *f.w;
        ASSERT_TRUE(test::waitUntil([&] { return w.Usb->DevListBox->count() == 1; }, 10000));
        w.Usb->USBCon->click();
        ASSERT_TRUE(
            test::waitUntil([&] { return w.Recording->Rec->Table.rowCount() >= 8; }, 30000));
        w.Usb->USBCon->click();
        ASSERT_FALSE(w.Usb->USBCon->isChecked());
        live = tableRows(w);
        EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("\n").toStdString();
    }

    // Nothing else present: the only cable is the captured one, selected at start.
    HidServicesForTest services(std::make_shared<SimulatedHidServices>());
    ProgramOptions o;
    o.replay = capture;
    o.replaySpeed = 4;
    test::WindowFixture f(o);
    TFCOMM& w = *f.w;
    ASSERT_TRUE(test::waitUntil([&] { return w.Usb->DevListBox->count() == 1; }, 10000));
    EXPECT_EQ(w.Usb->DevListBox->item(0)->text(), "USB to Serial");
    w.Usb->USBCon->click();
    ASSERT_TRUE(test::waitUntil([&] { return historyHas(w, "Replay finished"); }, 30000));
    EXPECT_EQ(tableRows(w), live);
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("\n").toStdString();
    EXPECT_EQ(loggerRows(capture, keep.path()), live);
}

// A serial capture as a port delivers it: the meter's frames, short and long, cut into reads
// of a few bytes that straddle the frames' ends, a read every 5 ms. Replayed in the window
// on the serial Connect, it gives the rows its frames give decoded one by one.
TEST(WindowCapture, ASerialCaptureReplayedGivesTheRowsOfItsFramesDecoded) {
    QTemporaryDir keep;
    const std::string capture = keep.filePath("port.cap").toStdString();
    MeterSimulator meter{41};
    meter.setLongFrameInterval(4);
    std::vector<std::string> frames;
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 12; ++i) {
        const auto f = meter.nextFrame();
        frames.emplace_back();
        appendHex(frames.back(), f.data(), f.size());
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    {
        std::ofstream out(capture);
        out << "rd780 capture 1 link=serial source=\"/dev/ttyUSB0\"\n";
        std::size_t at = 0;
        for (int read = 0; at < bytes.size(); ++read) {
            const std::size_t n = std::min<std::size_t>(1 + read % 7 * 5, bytes.size() - at);
            std::string hex;
            appendHex(hex, bytes.data() + at, n);
            out << read * 5000 << ' ' << hex << '\n';
            at += n;
        }
    }

    // The frames decoded one by one, recorded by the same rule.
    std::vector<std::vector<std::string>> decoded;
    {
        SessionOptions o;
        o.table = keep.filePath("decoded.DB").toStdString();
        MeterSession session(o);
        std::string error;
        ASSERT_TRUE(session.openSinks(error)) << error;
        for (const std::string& f : frames)
            session.frame(f);
        ASSERT_TRUE(session.finish(error)) << error;
        ReadingTable table;
        table.open(o.table);
        decoded = tableRows(table);
    }
    ASSERT_EQ(decoded.size(), frames.size());

    ProgramOptions o;
    o.replay = capture;
    o.replaySpeed = 4;
    test::WindowFixture f(o);
    TFCOMM& w = *f.w;
    w.Serial->BTCon->click();
    ASSERT_TRUE(test::waitUntil([&] { return historyHas(w, "Replay finished"); }, 30000));
    // The last read has been handed over; its frame is decoded at once.
    ASSERT_TRUE(test::waitUntil([&] { return w.Recording->Rec->Table.rowCount() >= 12; }, 10000));
    EXPECT_EQ(tableRows(w), decoded);
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("\n").toStdString();
    EXPECT_EQ(loggerRows(capture, keep.path()), decoded);
}
