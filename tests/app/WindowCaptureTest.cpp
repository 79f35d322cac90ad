// The window's --capture and --replay: what one window captured from a cable, another
// lists as a cable and reads into the same rows.
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbLinkPanel.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "tests/TestSupport.h"
#include "tests/app/WindowFixture.h"
#include "view/HistoryList.h"

#include <QListWidget>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace rd780;

namespace {

// No, DC/AC, Value, Unit and AUTO of every row: the time of day differs between runs.
std::vector<std::vector<std::string>> tableRows(TFCOMM& w) {
    ReadingTable& t = w.Recording->Rec->Table;
    std::vector<std::vector<std::string>> rows;
    for (int64_t i = 0; i < t.rowCount(); ++i) {
        auto r = t.displayRow(static_cast<uint32_t>(i), true);
        r.erase(r.begin() + 1);
        rows.push_back(r);
    }
    return rows;
}

bool historyHas(TFCOMM& w, const QString& line) {
    for (int i = 0; i < w.HistoryListBox->count(); ++i)
        if (w.HistoryListBox->text(i) == line) return true;
    return false;
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
}
