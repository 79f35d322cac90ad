// The window's USB side end to end: the real window, the real read threads and the
// simulated cable with its meter.
#include "FakeSysfs.h"
#include "HidTestSupport.h"
#include "app/TFCOMM.h"
#include "link/hid/HidControllerClass.h"
#include "link/hid/UsbLinkPanel.h"
#include "meter/MeterPanel.h"
#include "record/RecordingPanel.h"
#include "session/MeterSession.h"
#include "status/StatusFeed.h"
#include "tests/TestSupport.h"
#include "view/HistoryList.h"
#include "view/TrendPanel.h"
#include "view/TrendWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstring>
#include <memory>

using namespace rd780;
using rd780::test::waitUntil;
using rd780::test::Watchdog;

namespace {

const QString NotConnected =
    "USB interface cable is not securely connected, please check and re-try.";
const QString NotReady =
    "USB interface cable is securely connected, please check if the meter is ready.";

struct UsbWindow {
    QTemporaryDir dir;
    QString oldCwd = QDir::currentPath();
    QStringList messages;
    std::shared_ptr<SimulatedHidServices> sim = std::make_shared<SimulatedHidServices>();
    std::unique_ptr<TFCOMM> w;
    std::function<LinkWatch::Clock::time_point()> clock; // empty: the steady clock

    void start() {
        QDir::setCurrent(dir.path());
        TFCOMM::MakeHidServices = [this](const ProgramOptions&) { return sim; };
        ProgramOptions options;
        options.messageHook = [this](const QString& m) { messages << m; };
        if (clock) options.linkClock = clock;
        w = std::make_unique<TFCOMM>(options);
        TFCOMM::MakeHidServices = nullptr;
    }
    ~UsbWindow() {
        w.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QDir::setCurrent(oldCwd);
    }
    QStringList history() const {
        QStringList out;
        for (int i = 0; i < w->HistoryListBox->count(); ++i)
            out << w->HistoryListBox->text(i);
        return out;
    }
    int historyWith(const QString& prefix) const {
        int n = 0;
        for (const QString& l : history())
            n += l.startsWith(prefix) ? 1 : 0;
        return n;
    }
    bool alarmShown() const {
        return w->Meter->CONalarm->isVisibleTo(w->Meter->CONalarm->parentWidget());
    }
    QString selectedDeviceLine() const {
        auto* item = w->Usb->DevListBox->currentItem();
        return item && item->isSelected() ? item->text() : QString();
    }
};

SimDeviceConfig fastCable() {
    SimDeviceConfig c;
    c.reportInterval = std::chrono::microseconds(500);
    c.meterPeriod = std::chrono::milliseconds(0);
    return c;
}

} // namespace

TEST(UsbLink, ConnectConfiguresPollsDecodesAndPollsAgainAfterEachFrame) {
    Watchdog dog(60, "connect and decode");
    UsbWindow f;
    const int cable = f.sim->addDevice(fastCable());
    SimDeviceConfig mouse;
    mouse.product = u"Optical Mouse";
    mouse.hasMeter = false;
    f.sim->addDevice(mouse);
    f.start();
    // The first device change ran while the window was built.
    ASSERT_EQ(f.w->Usb->DevListBox->count(), 2);
    EXPECT_EQ(f.selectedDeviceLine(), "USB to Serial");
    EXPECT_FALSE(f.w->Usb->DevListBox->isVisible());
    EXPECT_TRUE(f.w->Usb->B9600->isChecked());
    EXPECT_FALSE(f.w->Usb->B2400->isChecked() || f.w->Usb->B4800->isChecked());

    f.w->Usb->USBCon->click();
    EXPECT_TRUE(f.w->Usb->USBCon->isChecked());
    ASSERT_GE(f.history().size(), 2);
    EXPECT_EQ(f.history()[0], "80 25 00 00 03 00 00 00 00 00 ");
    EXPECT_EQ(f.history()[1], "02 5A 00 00 00 00 00 00 00 ");
    EXPECT_EQ(f.sim->baud(cable), 9600u);

    ASSERT_TRUE(waitUntil([&] { return f.sim->framesSent(cable) >= 5; }, 20000));
    ASSERT_TRUE(waitUntil([&] { return !f.w->S.ReadingUnit.empty(); }));
    // The meter only sends after a poll, and every decoded frame is followed by one.
    const int polls = f.sim->polls(cable);
    const auto frames = static_cast<int>(f.sim->framesSent(cable));
    EXPECT_TRUE(polls == frames || polls == frames + 1)
        << polls << " polls, " << frames << " frames";
    EXPECT_EQ(f.historyWith("02 5A "), polls);
    EXPECT_GT(f.historyWith("R 00  F"), 5); // one line per data report
    EXPECT_TRUE(f.w->Meter->CONok->isVisibleTo(f.w->Meter->CONok->parentWidget()));
    EXPECT_TRUE(f.messages.isEmpty());

    // Second press: configured once more, reading stops.
    f.w->Usb->USBCon->click();
    EXPECT_FALSE(f.w->Usb->USBCon->isChecked());
    EXPECT_EQ(f.sim->featureReports(cable), 2);
    EXPECT_FALSE(f.w->Usb->SelectedHidDevice->IsReading());
    const int after = f.sim->polls(cable);
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(f.sim->polls(cable), after);

    f.w->Usb->ClearBtn->click();
    EXPECT_EQ(f.w->HistoryListBox->count(), 0);
}

// The read thread hands reports over in batches, one wake-up of the GUI thread for many
// reports, and each still reaches the handler, in order: every frame the meter sent is
// decoded, none lost or garbled, none dropped by the cable. At a real cable's pace the
// GUI thread is woken about once per frame, when its last report has come.
TEST(UsbLink, ReportsComeInBatchesAndEveryFrameIsDecoded) {
    Watchdog dog(90, "batched reports");
    struct Case {
        const char* name;
        std::chrono::microseconds interval;
        std::chrono::milliseconds meterPeriod;
        double wakeupsPerFrame; // at most, 0 for no bound
    };
    for (const Case& k :
         {Case{"2 ms reports", std::chrono::milliseconds(2), std::chrono::milliseconds(0), 0},
          Case{"a real cable's 10 ms", std::chrono::milliseconds(10),
               std::chrono::milliseconds(150), 1.5}}) {
        SCOPED_TRACE(k.name);
        UsbWindow f;
        SimDeviceConfig c = fastCable();
        c.paced = true; // a report every interval whether read or not
        c.reportInterval = k.interval;
        c.meterPeriod = k.meterPeriod;
        const int cable = f.sim->addDevice(c);
        f.start();
        f.w->Usb->USBCon->click();
        THidDevice* dev = f.w->Usb->SelectedHidDevice;
        ASSERT_TRUE(dev && dev->ReadThread());
        ASSERT_TRUE(waitUntil([&] { return dev->ReadThread()->Deliveries() > 250; }, 30000));
        f.sim->setMeterSilent(cable, true);
        ASSERT_TRUE(waitUntil([&] {
            return f.w->Meter->FramesDecoded == static_cast<long>(f.sim->framesSent(cable));
        }));
        const std::uint64_t reports = dev->ReadThread()->Deliveries();
        const std::uint64_t batches = dev->ReadThread()->Batches();
        const auto frames = static_cast<double>(f.w->Meter->FramesDecoded);
        EXPECT_GE(frames, 5);
        EXPECT_LT(batches * 4, reports) << batches << " batches, " << reports << " reports";
        if (k.wakeupsPerFrame > 0) {
            EXPECT_LE(static_cast<double>(dev->ReadThread()->Wakeups()),
                      k.wakeupsPerFrame * frames + 2)
                << frames << " frames";
        }
        EXPECT_EQ(f.sim->reportsDropped(cable), 0u);
        EXPECT_TRUE(f.messages.isEmpty());
        f.w->Usb->USBCon->click();
    }
}

TEST(UsbLink, ButtonAndStatusBarTellConnectedFromNotConnected) {
    Watchdog dog(60, "button look");
    UsbWindow f;
    const int cable = f.sim->addDevice(fastCable());
    f.start();
    QToolButton* button = f.w->Usb->USBCon;
    EXPECT_EQ(button->text(), "Connect");
    EXPECT_FALSE(button->toolTip().contains("USB to Serial"));
    f.w->Usb->USBCon->click();
    EXPECT_TRUE(button->isChecked());
    EXPECT_EQ(button->text(), "Connected");
    EXPECT_TRUE(button->toolTip().contains("USB to Serial")) << button->toolTip().toStdString();
    StatusFeed& status = *f.w->Usb->Status;
    EXPECT_EQ(status.texts().link.rfind("USB: ", 0), 0u) << status.texts().link;
    EXPECT_NE(status.texts().link.find("USB to Serial"), std::string::npos);
    ASSERT_TRUE(waitUntil([&] { return f.sim->framesSent(cable) >= 3; }, 20000));
    ASSERT_TRUE(
        waitUntil([&] { return status.texts().link.find(" - live") != std::string::npos; }, 20000))
        << status.texts().link;

    f.w->Usb->USBCon->click();
    EXPECT_EQ(button->text(), "Connect");
    EXPECT_EQ(status.texts().link, "No link");
}

TEST(UsbLink, CtrlAConnectsAsTheButtonDoesAndDoesNothingWhenConnected) {
    Watchdog dog(60, "Ctrl+A");
    UsbWindow f;
    const int cable = f.sim->addDevice(fastCable());
    f.start();
    TFCOMM& w = *f.w;
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.BitBtn1->setFocus();
    QTest::keyClick(w.BitBtn1, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(w.Usb->USBCon->isChecked());
    EXPECT_EQ(w.Usb->USBCon->text(), "Connected");
    auto* rows = w.Recording->DBGrid1->model();
    ASSERT_TRUE(waitUntil([&] { return rows->rowCount() >= 3; }, 20000)) << rows->rowCount();
    EXPECT_EQ(f.sim->featureReports(cable), 1);

    // Connected, it neither configures the cable again nor starts the statistics anew.
    const auto counted = [&] {
        const auto& units = w.Trends->Trend->statistics().units();
        return units.empty() ? 0u : units[0].count;
    };
    const auto before = counted();
    ASSERT_GT(before, 0u);
    QTest::keyClick(w.BitBtn1, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(w.Usb->USBCon->isChecked());
    EXPECT_EQ(f.sim->featureReports(cable), 1);
    EXPECT_GE(counted(), before);
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
    w.Usb->USBCon->click();
}

TEST(UsbLink, CableRemovedIsShownAtOnceAndReadingResumesWhenItComesBack) {
    Watchdog dog(60, "unplug and replug");
    UsbWindow f;
    const int cable = f.sim->addDevice(fastCable());
    f.start();
    f.w->Usb->USBCon->click();
    ASSERT_TRUE(waitUntil([&] { return f.w->Meter->FramesDecoded >= 2; }, 20000));
    EXPECT_FALSE(f.alarmShown());
    f.sim->unplug(cable);
    ASSERT_TRUE(waitUntil([&] { return f.historyWith("Removal of ") > 0; }));
    EXPECT_EQ(f.history().filter("Removal of ").front(), "Removal of USB to Serial");
    // Said at once: the button, a line and the lamp.
    EXPECT_FALSE(f.w->Usb->USBCon->isChecked());
    EXPECT_EQ(f.historyWith("Cable removed"), 1);
    EXPECT_TRUE(f.alarmShown());
    EXPECT_EQ(f.w->Meter->CONalarm->toolTip(), "Cable removed");
    EXPECT_EQ(f.w->Usb->DevListBox->count(), 0);
    EXPECT_EQ(f.selectedDeviceLine(), "");

    const int features = f.sim->featureReports(cable);
    f.sim->plug(cable);
    ASSERT_TRUE(waitUntil([&] { return f.historyWith("Arrival of ") > 0; }));
    // A newly arrived device cannot be opened before it is enumerated: VID and PID only.
    EXPECT_EQ(f.history().filter("Arrival of ").front(), "Arrival of Device VID=1A86 PID=E008");
    EXPECT_EQ(f.selectedDeviceLine(), "USB to Serial");
    // Back without a click: configured again (the re-plugged cable forgot its rate),
    // polled, and read.
    EXPECT_TRUE(f.w->Usb->USBCon->isChecked());
    EXPECT_EQ(f.historyWith("Cable back"), 1);
    EXPECT_EQ(f.sim->featureReports(cable), features + 1);
    EXPECT_EQ(f.sim->baud(cable), 9600u);
    ASSERT_NE(f.w->Usb->SelectedHidDevice, nullptr);
    EXPECT_TRUE(f.w->Usb->SelectedHidDevice->IsReading());
    const long decoded = f.w->Meter->FramesDecoded;
    EXPECT_TRUE(waitUntil([&] { return f.w->Meter->FramesDecoded >= decoded + 3; }, 20000));
    EXPECT_FALSE(f.alarmShown());
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();

    // Disconnected by the user, a cable that leaves and comes back stays disconnected.
    f.w->Usb->USBCon->click();
    EXPECT_FALSE(f.w->Usb->USBCon->isChecked());
    f.sim->unplug(cable);
    ASSERT_TRUE(waitUntil([&] { return f.historyWith("Removal of ") == 2; }));
    f.sim->plug(cable);
    ASSERT_TRUE(waitUntil([&] { return f.historyWith("Arrival of ") == 2; }));
    EXPECT_FALSE(f.w->Usb->USBCon->isChecked());
    EXPECT_EQ(f.historyWith("Cable removed"), 1);
    EXPECT_FALSE(f.alarmShown());
}

TEST(UsbLink, AnotherDeviceComingAndGoingDoesNotStopTheReading) {
    Watchdog dog(60, "other device changes");
    UsbWindow f;
    const int cable = f.sim->addDevice(fastCable());
    f.start();
    f.w->Usb->USBCon->click();
    ASSERT_TRUE(waitUntil([&] { return f.w->Meter->FramesDecoded >= 2; }, 20000));
    const int features = f.sim->featureReports(cable);
    SimDeviceConfig key;
    key.product = u"Security Key";
    key.hasMeter = false;
    const int other = f.sim->addDevice(key);
    f.sim->notifyChange();
    ASSERT_TRUE(waitUntil([&] { return f.historyWith("Arrival of ") == 1; }));
    EXPECT_EQ(f.w->Usb->DevListBox->count(), 2);
    EXPECT_EQ(f.selectedDeviceLine(), "USB to Serial");
    long decoded = f.w->Meter->FramesDecoded;
    EXPECT_TRUE(waitUntil([&] { return f.w->Meter->FramesDecoded >= decoded + 3; }, 20000))
        << "reading stopped when another device arrived";
    EXPECT_TRUE(f.w->Usb->USBCon->isChecked());

    f.sim->unplug(other);
    ASSERT_TRUE(waitUntil([&] { return f.historyWith("Removal of Security Key") == 1; }));
    decoded = f.w->Meter->FramesDecoded;
    EXPECT_TRUE(waitUntil([&] { return f.w->Meter->FramesDecoded >= decoded + 3; }, 20000))
        << "reading stopped when another device left";
    EXPECT_TRUE(f.w->Usb->USBCon->isChecked());
    EXPECT_EQ(f.selectedDeviceLine(), "USB to Serial");
    // The same connection goes on: nothing was configured again, no alarm.
    EXPECT_EQ(f.sim->featureReports(cable), features);
    EXPECT_EQ(f.historyWith("Cable "), 0);
    EXPECT_FALSE(f.alarmShown());
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
}

TEST(UsbLink, NoFrameForTheStallTimeShowsStalledOnceThenLiveWithTheNextFrame) {
    Watchdog dog(60, "stall");
    UsbWindow f;
    auto now = LinkWatch::Clock::now();
    f.clock = [&] { return now; };
    SimDeviceConfig c = fastCable();
    c.reportInterval = std::chrono::microseconds(2000); // the 3000-report drop is 6 s away
    const int cable = f.sim->addDevice(c);
    f.start();
    f.w->Usb->ConTimer->stop(); // ticks are run by hand below
    f.w->Usb->USBCon->click();
    ASSERT_TRUE(waitUntil([&] { return f.w->Meter->FramesDecoded >= 1; }, 20000));
    f.sim->setMeterSilent(cable, true);
    // A frame already on the line still lands: wait until every frame sent is decoded.
    ASSERT_TRUE(waitUntil(
        [&] { return f.w->Meter->FramesDecoded == static_cast<long>(f.sim->framesSent(cable)); }));
    now += LinkWatch::StallAfter - std::chrono::milliseconds(100);
    f.w->Usb->ConTimerTimer();
    EXPECT_EQ(f.historyWith("Link stalled"), 0);
    now += std::chrono::milliseconds(200);
    f.w->Usb->ConTimerTimer();
    EXPECT_EQ(f.historyWith("Link stalled"), 1);
    EXPECT_TRUE(f.alarmShown());
    EXPECT_EQ(f.w->Meter->CONalarm->toolTip(), "Link stalled: no frame for 3 s");
    now += std::chrono::seconds(30);
    for (int i = 0; i < 5; ++i)
        f.w->Usb->ConTimerTimer();
    EXPECT_EQ(f.historyWith("Link stalled"), 1) << "one line, not one per tick";
    EXPECT_TRUE(f.w->Usb->USBCon->isChecked());

    // The meter speaks again; the next frame makes the link live.
    f.sim->setMeterSilent(cable, false);
    f.w->Usb->SendData->click();
    ASSERT_TRUE(waitUntil([&] { return f.historyWith("Link live again") == 1; }, 20000));
    EXPECT_FALSE(f.alarmShown());
    EXPECT_EQ(f.historyWith("Link stalled"), 1);
    f.w->Usb->ConTimerTimer();
    EXPECT_EQ(f.historyWith("Link stalled"), 1);
    // Disconnected, the link is not watched: no stall however long.
    f.w->Usb->USBCon->click();
    now += std::chrono::seconds(60);
    f.w->Usb->ConTimerTimer();
    EXPECT_EQ(f.historyWith("Link stalled"), 1);
    EXPECT_FALSE(f.alarmShown());
}

TEST(UsbLink, SilentMeterIsPolledAgainAt600AndDroppedAt3000Reports) {
    Watchdog dog(90, "silent meter");
    UsbWindow f;
    SimDeviceConfig c = fastCable();
    c.reportInterval = std::chrono::microseconds(200);
    const int cable = f.sim->addDevice(c);
    f.sim->setMeterSilent(cable, true);
    f.start();
    f.w->Usb->USBCon->click();
    ASSERT_TRUE(waitUntil([&] { return !f.messages.isEmpty(); }, 60000));
    EXPECT_EQ(f.messages, QStringList{NotReady});
    EXPECT_GE(f.sim->reportsSent(cable), 3000u);
    // The first poll, then a new one each time the timer saw 600 reports since the last.
    EXPECT_GE(f.sim->polls(cable), 3);
    EXPECT_LE(f.sim->polls(cable), 6);
    EXPECT_FALSE(f.w->Usb->USBCon->isChecked());
    EXPECT_FALSE(f.w->Usb->SelectedHidDevice->IsReading());
    EXPECT_LE(f.w->Session->usbCounts().idleReports, 1); // at most the delivery run while stopping
    EXPECT_TRUE(f.w->Meter->CONokN->isVisibleTo(f.w->Meter->CONokN->parentWidget()));
}

TEST(UsbLink, NoCableAndACableWithASerialNumberAreNotConnected) {
    Watchdog dog(30, "no cable");
    {
        UsbWindow f;
        f.start();
        EXPECT_EQ(f.w->Usb->DevListBox->count(), 0);
        f.w->Usb->USBCon->click();
        EXPECT_EQ(f.messages, QStringList{NotConnected});
        EXPECT_FALSE(f.w->Usb->USBCon->isChecked());
        EXPECT_EQ(f.w->HistoryListBox->count(), 0);
    }
    {
        UsbWindow f;
        SimDeviceConfig c = fastCable();
        c.serial = u"0001A";
        const int cable = f.sim->addDevice(c);
        f.start();
        ASSERT_EQ(f.w->Usb->DevListBox->count(), 1);
        EXPECT_EQ(f.w->Usb->DevListBox->item(0)->text(), "USB to Serial (Serial=0001A)");
        EXPECT_EQ(f.selectedDeviceLine(), "");
        f.w->Usb->USBCon->click();
        EXPECT_EQ(f.messages, QStringList{NotConnected});
        EXPECT_EQ(f.sim->featureReports(cable), 0);
    }
}

TEST(UsbLink, ALinuxCableWithASerialNumberIsListedWithItAndNotSelected) {
    Watchdog dog(30, "linux serial");
    test::FakeSysfsCable cable(test::cableDescriptor(9), std::string("SN-0042"));
    ASSERT_TRUE(cable.ok());
    UsbWindow f;
    f.sim =
        std::make_shared<SimulatedHidServices>(std::make_shared<test::FakeTreeHidServices>(cable));
    f.start();
    ASSERT_EQ(f.w->Usb->DevListBox->count(), 1);
    EXPECT_EQ(f.w->Usb->DevListBox->item(0)->text(), "USB to Serial (Serial=SN-0042)");
    EXPECT_EQ(f.selectedDeviceLine(), "");
}

TEST(UsbLink, FeatureReportTakesTheLengthTheCableDeclares) {
    Watchdog dog(30, "feature length");
    for (const auto& [declared, sent] : {std::pair{17, 17}, std::pair{10, 10}, std::pair{0, 10}}) {
        SCOPED_TRACE(declared);
        UsbWindow f;
        SimDeviceConfig c = fastCable();
        c.featureReportLength = static_cast<std::uint16_t>(declared);
        const int cable = f.sim->addDevice(c);
        f.start();
        f.w->Usb->USBCon->click();
        EXPECT_EQ(f.sim->featureReports(cable), 1);
        EXPECT_EQ(f.sim->lastFeatureLength(cable), static_cast<std::size_t>(sent));
        ASSERT_GE(f.history().size(), 1);
        EXPECT_EQ(f.history()[0], "80 25 00 00 03 00 00 00 00 00 "); // ten bytes listed
        EXPECT_EQ(f.sim->baud(cable), 9600u);
    }
}

TEST(UsbLink, ReadErrorsAreListedWithTheirCode) {
    Watchdog dog(30, "read errors");
    {
        UsbWindow f;
        const int cable = f.sim->addDevice(fastCable());
        f.sim->setReadFailure(cable, EIO);
        f.start();
        f.w->Usb->USBCon->click();
        ASSERT_TRUE(waitUntil([&] { return f.historyWith("READ ERROR: ") >= 2; }));
        EXPECT_EQ(f.history().filter("READ ERROR: ").front(),
                  QString("READ ERROR: %1 (5)").arg(QString::fromStdString(std::strerror(EIO))));
        waitUntil([] { return false; }, 300);
        EXPECT_LE(f.historyWith("READ ERROR: "), 8); // one per slice, not a flood
        const std::string link = f.w->Usb->Status->texts().link;
        EXPECT_NE(link.find("READ ERROR: "), std::string::npos) << "in the status bar too";
    }
}

TEST(UsbLink, CableWithoutWriteAccessStaysUpWithoutAMessage) {
    {
        UsbWindow f;
        SimDeviceConfig c = fastCable();
        c.grantsReadWrite = false;
        const int cable = f.sim->addDevice(c);
        f.start();
        EXPECT_EQ(f.selectedDeviceLine(), "USB to Serial");
        f.w->Usb->USBCon->click();
        EXPECT_FALSE(f.w->Usb->USBCon->isChecked());
        EXPECT_TRUE(f.messages.isEmpty());
        EXPECT_EQ(f.sim->polls(cable), 0);
        EXPECT_EQ(
            f.history().back(),
            "No read/write access to USB to Serial: install the udev rule and re-plug the cable");
        // The history is below the start height: the status bar says it where it is seen.
        EXPECT_EQ(f.w->Usb->Status->texts().link,
                  "No link; No read/write access to USB to Serial: install the udev rule and "
                  "re-plug the cable");
    }
}

TEST(UsbLink, PollOfALongOutputReportIsPaddedWithZerosNotReadPastTheBuffer) {
    UsbWindow f;
    SimDeviceConfig c = fastCable();
    c.outputReportLength = 129;
    const int cable = f.sim->addDevice(c);
    f.start();
    f.w->Usb->SendData->click();
    EXPECT_EQ(f.sim->polls(cable), 1);
    const QString line = f.history().back();
    EXPECT_TRUE(line.startsWith("02 5A 00 "));
    EXPECT_EQ(line.size(), 128 * 3);
    EXPECT_EQ(line.count("00 "), 126);
}

TEST(UsbLink, TimerShowsNoFramesAfterThreeIdleTicksAndPollsAt600NotAt599) {
    UsbWindow f;
    const int cable = f.sim->addDevice(fastCable());
    f.start();
    f.w->Usb->ConTimer->stop();
    f.w->Session->usbCounts().idleTicks = 0;
    f.w->Session->usbCounts().pollReports = 599;
    for (int i = 0; i < 3; ++i)
        f.w->Usb->ConTimerTimer();
    EXPECT_EQ(f.sim->polls(cable), 0);
    EXPECT_TRUE(f.w->Meter->CONokN->isVisibleTo(f.w->Meter->CONokN->parentWidget()));
    f.w->Session->usbCounts().pollReports = 600;
    for (int i = 0; i < 3; ++i)
        f.w->Usb->ConTimerTimer();
    EXPECT_EQ(f.sim->polls(cable), 1);
    EXPECT_EQ(f.w->Session->usbCounts().pollReports, 0);
    // While frames keep coming (ticks reset by each decode), nothing happens.
    f.w->Session->usbCounts().pollReports = 5000;
    f.w->Session->usbCounts().idleReports = 5000;
    for (int i = 0; i < 10; ++i) {
        f.w->Session->usbCounts().idleTicks = 0;
        f.w->Usb->ConTimerTimer();
    }
    EXPECT_EQ(f.sim->polls(cable), 1);
    EXPECT_TRUE(f.messages.isEmpty());
}

TEST(UsbLink, ClosingTheWindowWhileConnectedStopsQuietly) {
    Watchdog dog(30, "close while connected");
    UsbWindow f;
    const int cable = f.sim->addDevice(fastCable());
    f.start();
    f.w->Usb->USBCon->click();
    ASSERT_TRUE(waitUntil([&] { return f.sim->framesSent(cable) >= 3; }, 20000));
    f.w.reset();
    EXPECT_TRUE(f.messages.isEmpty()) << f.messages.join("|").toStdString();
    EXPECT_EQ(f.sim->openHandles(), 0);
}
