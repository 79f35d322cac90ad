// Start and stop the read threads while reports stream: no deadlock, no leak.
#include "HidTestSupport.h"
#include "link/hid/HidControllerClass.h"
#include "link/hid/UsbCable.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <random>
#include <thread>

using namespace rd780;
using rd780::test::waitUntil;
using rd780::test::Watchdog;

namespace {

struct Counter {
    int reports = 0;
    void Data(THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; }
};

std::shared_ptr<SimulatedHidServices> streamingCable(int& id) {
    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig c;
    c.reportInterval = std::chrono::microseconds(0); // as fast as they are taken
    id = sim->addDevice(c);
    return sim;
}

} // namespace

TEST(HidStress, ManyStartStopCyclesWhileReportsStream) {
    Watchdog dog(120, "start/stop cycles");
    int id = 0;
    auto sim = streamingCable(id);
    Counter counter;
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    d->SetReadSleepTime(10);
    std::mt19937 rng(7);
    const THidDataEvent handler(&counter, &Counter::Data);
    int waited = 0;
    for (int i = 0; i < 300; ++i) {
        d->SetDataHandler(handler);
        ASSERT_TRUE(d->IsReading());
        // Sometimes stop at once, sometimes after deliveries, sometimes with one queued.
        switch (rng() % 3) {
        case 0:
            break;
        case 1: {
            const int seen = counter.reports;
            ++waited;
            ASSERT_TRUE(waitUntil([&] { return counter.reports > seen; }));
            break;
        }
        default:
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
            break;
        }
        d->SetDataHandler({});
        ASSERT_FALSE(d->IsReading());
    }
    EXPECT_GE(counter.reports, waited);
    EXPECT_GT(waited, 50);
    const int before = counter.reports;
    QCoreApplication::processEvents(); // queued calls of stopped threads deliver nothing
    EXPECT_EQ(counter.reports, before);
    delete d;
    EXPECT_EQ(sim->openHandles(), 0);
}

TEST(HidStress, StopHandsOverWhatWasReadUnlessToldNotToAndNothingAfter) {
    Watchdog dog(30, "stop while deliveries are queued");
    int id = 0;
    auto sim = streamingCable(id);
    Counter counter;
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    for (const bool handOver : {true, false}) {
        SCOPED_TRACE(handOver ? "hand over" : "drop");
        for (int i = 0; i < 10; ++i) {
            d->SetDataHandler(THidDataEvent(&counter, &Counter::Data));
            // The GUI thread is busy: the reader has queued reports for it.
            ASSERT_TRUE(d->ReadThread()->WaitForQueuedDelivery(std::chrono::seconds(10)));
            const std::uint64_t handed = d->ReadThread()->Deliveries();
            const int seen = counter.reports;
            d->StopReading(handOver);
            EXPECT_EQ(handed, 0u); // no event was processed before the stop
            if (handOver) {
                EXPECT_GT(counter.reports, seen) << "reports read before the stop are readings";
            } else {
                EXPECT_EQ(counter.reports, seen) << "a meter given up on hears nothing more";
            }
            const int after = counter.reports;
            QCoreApplication::processEvents();
            EXPECT_EQ(counter.reports, after) << "nothing is handed over once reading stopped";
            d->SetDataHandler({});
        }
    }
    delete d;
}

// The cable's idle rule counts every report read before its tick, as when each was handled
// on arrival; giving up ends the reading there and then.
TEST(HidStress, CableTickCountsEveryReportReadSoFarAndGivingUpStopsTheReader) {
    Watchdog dog(30, "idle rule with a batching reader");
    int id = 0;
    auto sim = streamingCable(id);
    sim->setMeterSilent(id, true);
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    std::string frame, chunk;
    bool pending = false;
    // The first tick only counts (it does not judge), so it holds however many reports a
    // busy machine lets pile up before it.
    int idle = 0, polls = 0, ticks = 0;
    UsbCable cable(frame, chunk, pending, idle, polls, ticks);
    int handled = 0;
    d->SetDataHandler(
        THidDataEvent(nullptr, "cable",
                      [&](THidDevice*, std::uint8_t rid, const std::uint8_t* p, std::uint16_t n) {
                          ++handled;
                          cable.report(rid, p, n);
                      }));
    ASSERT_TRUE(d->ReadThread()->WaitForQueuedDelivery(std::chrono::seconds(10)));
    // The reader counts a report when it takes it and queues it just after: all but the
    // newest one counted are surely queued. Nothing runs the event loop meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim->reportsRead(id) < 10 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    const std::uint64_t read = sim->reportsRead(id);
    ASSERT_GE(read, 10u);
    ASSERT_EQ(handled, 0);
    EXPECT_FALSE(cable.tick(d).giveUp);
    EXPECT_GE(static_cast<std::uint64_t>(handled) + 1, read);
    EXPECT_EQ(idle, handled);
    EXPECT_TRUE(d->IsReading());

    ticks = UsbCable::IdleTicks;
    idle = UsbCable::GiveUpReports;
    EXPECT_TRUE(cable.tick(d).giveUp);
    EXPECT_FALSE(d->IsReading());
    EXPECT_EQ(idle, 0);
    const int atGiveUp = handled;
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, atGiveUp) << "nothing reaches the handler after giving up";
    delete d;
}

TEST(HidStress, StoppingOrReleasingFromInsideItsOwnDelivery) {
    Watchdog dog(30, "stop from inside a delivery");
    int id = 0;
    auto sim = streamingCable(id);
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    int calls = 0;
    // The handler stops its own device's reading.
    d->SetDataHandler(
        THidDataEvent(nullptr, "self-stop",
                      [&](THidDevice* dev, std::uint8_t, const std::uint8_t*, std::uint16_t) {
                          ++calls;
                          dev->SetDataHandler({});
                      }));
    ASSERT_TRUE(waitUntil([&] { return calls > 0; }));
    EXPECT_FALSE(d->IsReading());
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(calls, 1);

    // A nested event loop inside the handler checks the device in (releases it).
    ASSERT_TRUE(ctl.At(0) == d);
    calls = 0;
    d->SetDataHandler(
        THidDataEvent(nullptr, "release-nested",
                      [&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
                          if (calls++ > 0) return;
                          QTimer::singleShot(0, [&] {
                              delete d;
                              d = nullptr;
                          });
                          waitUntil([&] { return d == nullptr; }, 2000);
                      }));
    ASSERT_TRUE(waitUntil([&] { return d == nullptr; }));
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ctl.Count(), 1);
    EXPECT_FALSE(ctl.At(0)->IsCheckedOut());
    QCoreApplication::processEvents();
    EXPECT_EQ(sim->openHandles(), 0);
}

TEST(HidStress, DeviceChangesWhileReading) {
    Watchdog dog(60, "device changes while reading");
    int id = 0;
    auto sim = streamingCable(id);
    Counter counter;
    THidDeviceController ctl(nullptr, sim);
    for (int i = 0; i < 30; ++i) {
        THidDevice* d = nullptr;
        ASSERT_TRUE(waitUntil([&] { return ctl.Count() == 1; }));
        ASSERT_TRUE(ctl.CheckOutAt(0, d));
        const int before = counter.reports;
        d->SetDataHandler(THidDataEvent(&counter, &Counter::Data));
        ASSERT_TRUE(waitUntil([&] { return counter.reports > before; }));
        sim->unplug(id);
        ASSERT_TRUE(waitUntil([&] { return !d->IsPluggedIn(); }));
        delete d;
        sim->plug(id);
    }
    ASSERT_TRUE(waitUntil([&] { return ctl.Count() == 1; }));
    EXPECT_EQ(sim->openHandles(), 0);
}

// Told which reports carry no news, the reader holds those back for a later hand-over; a
// flood of them that fills its queue while a batch runs must still go on flowing with no
// one asking for a hand-over.
TEST(HidStress, ReportsWithoutNewsKeepFlowingWhenTheQueueFills) {
    Watchdog dog(60, "a flood of quiet reports");
    int id = 0;
    auto sim = streamingCable(id);
    sim->setMeterSilent(id, true);
    Counter counter;
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    d->SetQuietReport(&UsbCable::quietReport);
    d->SetDataHandler(THidDataEvent(&counter, &Counter::Data));
    EXPECT_TRUE(waitUntil([&] { return counter.reports > 5000; }, 20000)) << counter.reports;
    d->SetDataHandler({});
    delete d;
}
