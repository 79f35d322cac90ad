// The serial link under the link watch: frames on a pseudo-terminal keep it live, none
// for the stall time (on the test's clock) show it stalled, the next frame makes it live
// again.
#include "app/TFCOMM.h"
#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"
#include "link/serial/SerialPortDriver.h"
#include "meter/MeterPanel.h"
#include "meter/core/MeterSimulator.h"
#include "status/StatusFeed.h"
#include "tests/TestSupport.h"
#include "tests/link/serial/PtyPair.h"
#include "view/HistoryList.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace rd780 {
namespace {

int linesWith(TFCOMM& w, const QString& prefix) {
    int n = 0;
    for (int i = 0; i < w.HistoryListBox->count(); ++i)
        n += w.HistoryListBox->text(i).startsWith(prefix) ? 1 : 0;
    return n;
}

TEST(SerialLinkWatch, StalledAfterTheStallTimeWithoutAFrameAndLiveAgainWithTheNext) {
    QTemporaryDir dir;
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    test::PtyPair pty;
    auto now = LinkWatch::Clock::now();
    ProgramOptions o;
    o.serialPort = QString::fromStdString(pty.slavePath());
    o.messageHook = [](const QString&) {};
    o.linkClock = [&] { return now; };
    auto w = std::make_unique<TFCOMM>(o);
    w->Usb->ConTimer->stop(); // ticks are run by hand
    const auto alarm = [&] {
        return w->Meter->CONalarm->isVisibleTo(w->Meter->CONalarm->parentWidget());
    };
    MeterSimulator meter{99};
    meter.setLongFrameInterval(0);

    w->Serial->BTCon->click();
    ASSERT_TRUE(w->Serial->COMM2->Connected());
    pty.send(meter.nextFrame());
    ASSERT_TRUE(test::waitUntil([&] { return w->Meter->FramesDecoded >= 1; }));
    // The status bar tells the same health as the lamp and the history, at the same tick.
    const auto statusSays = [&](const char* health) {
        return w->Serial->Status->texts().link.find(health) != std::string::npos;
    };
    now += LinkWatch::StallAfter - std::chrono::milliseconds(1);
    w->Usb->ConTimerTimer();
    EXPECT_EQ(linesWith(*w, "Link stalled"), 0);
    EXPECT_TRUE(statusSays(" - live"));
    now += std::chrono::milliseconds(1);
    w->Usb->ConTimerTimer();
    w->Usb->ConTimerTimer();
    EXPECT_EQ(linesWith(*w, "Link stalled"), 1);
    EXPECT_TRUE(alarm());
    EXPECT_TRUE(statusSays(" - stalled"));

    pty.send(meter.nextFrame());
    ASSERT_TRUE(test::waitUntil([&] { return w->Meter->FramesDecoded >= 2; }));
    EXPECT_EQ(linesWith(*w, "Link live again"), 1);
    EXPECT_FALSE(alarm());
    EXPECT_TRUE(statusSays(" - live"));

    // Closed by the user: not watched any more.
    w->Serial->BtDiscon->click();
    now += std::chrono::seconds(60);
    w->Usb->ConTimerTimer();
    EXPECT_EQ(linesWith(*w, "Link stalled"), 1);
    EXPECT_FALSE(alarm());
    w.reset();
    QDir::setCurrent(oldDir);
}

} // namespace
} // namespace rd780
