// The controller's and the device's contracts, through the simulated services.
#include "HidTestSupport.h"
#include "link/hid/HidControllerClass.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <QCoreApplication>
#include <QString>

#include <string>
#include <vector>

using namespace rd780;
using rd780::test::waitUntil;
using rd780::test::Watchdog;

namespace {

// Records every event the controller and its devices fire, in order.
struct Recorder {
    std::vector<std::string> events;
    std::vector<std::vector<std::uint8_t>> reports;
    std::vector<std::uint16_t> sizes;
    std::vector<std::uint32_t> errors;

    static std::string name(THidDevice* d) { return d->PnPInfo()->DevicePath; }
    void Arrival(THidDevice* d) { events.push_back("arrival " + name(d)); }
    void Removal(THidDevice* d) { events.push_back("removal " + name(d)); }
    void Unplug(THidDevice* d) { events.push_back("unplug " + name(d)); }
    void Change(QObject*) { events.push_back("change"); }
    void Data(THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
        std::vector<std::uint8_t> r{id};
        r.insert(r.end(), data, data + size);
        reports.push_back(r);
        sizes.push_back(size);
    }
    void Error(THidDevice*, std::uint32_t e) { errors.push_back(e); }
};

SimDeviceConfig otherDevice(std::uint16_t pid) {
    SimDeviceConfig c;
    c.product = u"Keyboard";
    c.productId = pid;
    c.hasMeter = false;
    return c;
}

} // namespace

TEST(HidController, OnlyOneControllerAndNoServicesMeansNoDevicesNoEvents) {
    Recorder rec;
    {
        THidDeviceController none(nullptr, nullptr);
        EXPECT_EQ(none.Count(), 0);
        none.SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change));
        EXPECT_TRUE(rec.events.empty());
        try {
            THidDeviceController second(nullptr, std::make_shared<SimulatedHidServices>());
            FAIL() << "a second controller was created";
        } catch (const EControllerError& e) {
            EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
        }
    }
    // The first one is gone, so a new one may be made.
    THidDeviceController again(nullptr, std::make_shared<SimulatedHidServices>());
    EXPECT_EQ(again.Version(), "1.0.22");
    again.SetVersion("9.9");
    EXPECT_EQ(again.Version(), "1.0.22");
}

TEST(HidController, FirstChangeFiresOnceAndArrivalsRemovalsComeInOrder) {
    auto sim = std::make_shared<SimulatedHidServices>();
    Recorder rec;
    THidDeviceController ctl(nullptr, sim);
    EXPECT_EQ(ctl.Count(), 0);
    ctl.SetOnArrival(THidPlugEvent(&rec, &Recorder::Arrival));
    ctl.SetOnRemoval(THidPlugEvent(&rec, &Recorder::Removal));
    ctl.SetOnDeviceUnplug(THidPlugEvent(&rec, &Recorder::Unplug));
    ctl.SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change));
    EXPECT_EQ(rec.events, std::vector<std::string>{"change"});    // empty list, fired once
    ctl.SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change)); // same binding: no rescan
    ctl.DeviceChange();                                           // nothing changed: silent
    EXPECT_EQ(rec.events.size(), 1u);

    const int a = sim->addDevice(otherDevice(1));
    const int b = sim->addDevice(otherDevice(2));
    sim->notifyChange();
    ASSERT_TRUE(waitUntil([&] { return rec.events.size() >= 4; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"change", "arrival " + sim->pathOf(a),
                                                    "arrival " + sim->pathOf(b), "change"}));
    rec.events.clear();

    // Both go at once: newest list position first, unplug handler before removal.
    sim->unplug(a);
    sim->unplug(b);
    ASSERT_TRUE(waitUntil([&] { return !rec.events.empty() && rec.events.back() == "change"; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{
                              "unplug " + sim->pathOf(b), "removal " + sim->pathOf(b),
                              "unplug " + sim->pathOf(a), "removal " + sim->pathOf(a), "change"}));
    EXPECT_EQ(ctl.Count(), 0);
    QCoreApplication::processEvents(); // the second queued notice finds nothing new
    EXPECT_EQ(rec.events.size(), 5u);
}

TEST(HidController, ReconnectedDeviceIsNewAndEnumerationCountsPluggedDevices) {
    auto sim = std::make_shared<SimulatedHidServices>();
    const int a = sim->addDevice(otherDevice(1));
    sim->addDevice(otherDevice(2));
    THidDeviceController ctl(nullptr, sim);
    ASSERT_EQ(ctl.Count(), 2);
    const std::uint32_t before = ctl.At(0)->PnPInfo()->DevInst;
    // Without an enumerate handler every call counts as "stop".
    EXPECT_EQ(ctl.EnumerateDevices(), 1);
    std::vector<int> seen;
    ctl.SetOnEnumerate(THidEnumerateEvent(nullptr, "all", [&](THidDevice* d, std::int32_t i) {
        EXPECT_TRUE(d->IsEnumerating());
        EXPECT_FALSE(d->ProductText().empty()); // strings can be read while enumerating
        seen.push_back(i);
        return true;
    }));
    EXPECT_EQ(ctl.EnumerateDevices(), 2);
    EXPECT_EQ(seen, (std::vector<int>{0, 1}));
    EXPECT_FALSE(ctl.At(0)->IsEnumerating());

    sim->unplug(a);
    sim->plug(a);
    QCoreApplication::processEvents();
    ctl.DeviceChange();
    ASSERT_EQ(ctl.Count(), 2);
    EXPECT_EQ(ctl.At(1)->PnPInfo()->DevicePath, sim->pathOf(a)); // re-listed at the end
    EXPECT_NE(ctl.At(1)->PnPInfo()->DevInst, before);
}

TEST(HidController, CheckOutAndCheckIn) {
    auto sim = std::make_shared<SimulatedHidServices>();
    const int a = sim->addDevice(otherDevice(1));
    sim->addDevice(otherDevice(2));
    Recorder rec;
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = reinterpret_cast<THidDevice*>(1);
    EXPECT_FALSE(ctl.CheckOutAt(-1, d));
    EXPECT_EQ(d, nullptr);
    EXPECT_FALSE(ctl.CheckOutAt(ctl.Count(), d));
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    ASSERT_NE(d, nullptr);
    THidDevice* again = nullptr;
    EXPECT_FALSE(ctl.CheckOutAt(0, again));
    EXPECT_EQ(again, nullptr);

    const THidDataEvent handler(&rec, &Recorder::Data);
    d->SetDataHandler(handler);
    d->SetReadSleepTime(250);
    EXPECT_TRUE(d->IsReading());
    delete d; // check-in: a fresh checked-in object takes the place
    ASSERT_EQ(ctl.Count(), 2);
    THidDevice* fresh = ctl.At(0);
    EXPECT_NE(fresh, d);
    EXPECT_FALSE(fresh->IsCheckedOut());
    EXPECT_FALSE(fresh->IsReading());
    EXPECT_TRUE(fresh->DataHandler() == handler);
    EXPECT_EQ(fresh->ReadSleepTime(), 250);
    EXPECT_EQ(fresh->PnPInfo()->DevicePath, sim->pathOf(a));

    // Checked out and then unplugged: stays listed until released, then leaves.
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    ctl.SetOnRemoval(THidPlugEvent(&rec, &Recorder::Removal));
    sim->unplug(a);
    QCoreApplication::processEvents();
    EXPECT_EQ(ctl.Count(), 2);
    EXPECT_FALSE(d->IsPluggedIn());
    ctl.DeviceChange(); // an unplugged checked-out device is passed through again
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "removal " + sim->pathOf(a)), 2);
    delete d;
    EXPECT_EQ(ctl.Count(), 1);
    EXPECT_EQ(sim->openHandles(), 0);
}

TEST(HidController, HandlerSettersFollowTheDevicesThatStillUseTheOldOnes) {
    auto sim = std::make_shared<SimulatedHidServices>();
    sim->addDevice(otherDevice(1));
    sim->addDevice(otherDevice(2));
    Recorder r1, r2;
    THidDeviceController ctl(nullptr, sim);
    ctl.At(1)->SetDataHandler(THidDataEvent(&r2, &Recorder::Data));
    ctl.SetOnDeviceData(THidDataEvent(&r1, &Recorder::Data));
    EXPECT_TRUE(ctl.At(0)->DataHandler() == THidDataEvent(&r1, &Recorder::Data));
    EXPECT_TRUE(ctl.At(1)->DataHandler() == THidDataEvent(&r2, &Recorder::Data));
    ctl.At(1)->SetReadSleepTime(500);
    ctl.SetDevThreadSleepTime(20);
    EXPECT_EQ(ctl.At(0)->ReadSleepTime(), 20);
    EXPECT_EQ(ctl.At(1)->ReadSleepTime(), 500);
    ctl.SetDevThreadSleepTime(5); // stored, but out of every device's range
    EXPECT_EQ(ctl.DevThreadSleepTime(), 5);
    EXPECT_EQ(ctl.At(0)->ReadSleepTime(), 20);
}

TEST(HidDevice, SleepTimeRangeAndCreationErrors) {
    auto sim = std::make_shared<SimulatedHidServices>();
    sim->addDevice();
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = ctl.At(0);
    EXPECT_EQ(d->ReadSleepTime(), 100);
    d->SetReadSleepTime(9);
    d->SetReadSleepTime(10001);
    EXPECT_EQ(d->ReadSleepTime(), 100);
    d->SetReadSleepTime(10);
    EXPECT_EQ(d->ReadSleepTime(), 10);
    d->SetReadSleepTime(10000);
    EXPECT_EQ(d->ReadSleepTime(), 10000);

    try {
        THidDevice bad(std::make_unique<THidPnPInfo>("sim:hid-999", 7), &ctl);
        FAIL() << "opened a device that does not exist";
    } catch (const EControllerError& e) {
        EXPECT_STREQ(e.what(), "device cannot be opened");
    }
    // Not checked out and not enumerating: no handle, so no strings or lengths.
    EXPECT_FALSE(d->CanOpen());
    EXPECT_TRUE(d->ProductText().empty());
    EXPECT_EQ(d->QueryCaps().OutputReportByteLength, 0);
    THidDevice* out = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, out));
    EXPECT_EQ(out->ProductText(), u"USB to Serial");
    EXPECT_EQ(out->QueryCaps().OutputReportByteLength, 9);
    EXPECT_EQ(out->QueryCaps().InputReportByteLength, 11);
    EXPECT_TRUE(out->HasReadWriteAccess());
    delete out;
}

TEST(HidDevice, SerialTextIsKeptOnlyWhenItDiffersFromTheLanguageList) {
    struct Case {
        std::u16string serial;
        std::vector<char16_t> languages;
        std::u16string expected;
    };
    const std::vector<Case> cases = {
        {u"A1B2", {0x0409}, u"A1B2"},
        {u"\u0409", {0x0409}, u""},               // merely repeats the language list
        {u"A1B2", {}, u""},                       // string 0 reads back empty
        {u"\u0409\u0407", {0x0409, 0x0407}, u""}, // the same over the list's length
        {u"\u0409X", {0x0409}, u""},              // the list's closing NUL is not compared
        {u"\u0409\u0408", {0x0409, 0x0407}, u"\u0409\u0408"}, // differs in its second word
        {u"", {0x0409}, u""},                                 // no serial at all
    };
    for (const Case& c : cases) {
        auto sim = std::make_shared<SimulatedHidServices>();
        SimDeviceConfig cfg;
        cfg.serial = c.serial;
        cfg.languages = c.languages;
        sim->addDevice(cfg);
        THidDeviceController ctl(nullptr, sim);
        THidDevice* d = nullptr;
        ASSERT_TRUE(ctl.CheckOutAt(0, d));
        EXPECT_EQ(d->SerialText(), c.expected) << QString::fromStdU16String(c.serial).toStdString();
        delete d;
    }
}

TEST(HidDevice, ReportsReachTheHandlerWithSizeNMinusOneAndEmptyReadsReachNobody) {
    Watchdog dog(20, "scripted reports");
    auto sim = std::make_shared<test::ScriptedServices>();
    sim->addDevice();
    Recorder rec;
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    sim->push({0x00, 0xF2, 0x5A, 0x00, 0, 0, 0, 0, 0, 0, 0}); // 11 bytes
    sim->push({});                                            // a read of 0 bytes
    sim->push({0x07, 0x00});                                  // 2 bytes, report ID 7
    d->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
    ASSERT_TRUE(waitUntil([&] { return rec.reports.size() >= 2; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(rec.reports.size(), 2u);
    EXPECT_EQ(rec.sizes, (std::vector<std::uint16_t>{10, 1}));
    EXPECT_EQ(rec.reports[0][1], 0xF2);
    EXPECT_EQ(rec.reports[0][2], 0x5A);
    EXPECT_EQ(rec.reports[1][0], 0x07);
    d->SetDataHandler({});
    EXPECT_FALSE(d->IsReading());
    delete d;
}

TEST(HidDevice, ReadThatCannotStartIsReportedOncePerSliceNotInAFlood) {
    Watchdog dog(20, "read errors");
    auto sim = std::make_shared<SimulatedHidServices>();
    const int id = sim->addDevice();
    sim->setReadFailure(id, EIO);
    Recorder rec;
    THidDeviceController ctl(nullptr, sim);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    d->SetDataErrorHandler(THidDataErrorEvent(&rec, &Recorder::Error));
    d->SetReadSleepTime(50);
    QElapsedTimer clock;
    clock.start();
    d->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
    ASSERT_TRUE(waitUntil([&] { return rec.errors.size() >= 5; }));
    // One try at once and then one per 50 ms slice, never a flood. Errors arrive only while
    // the event loop runs, so the count cannot grow between these two lines.
    const auto slices = static_cast<std::size_t>(clock.elapsed() / 50);
    EXPECT_LE(rec.errors.size(), slices + 3) << clock.elapsed() << " ms";
    EXPECT_EQ(rec.errors.front(), std::uint32_t(EIO));
    sim->setReadFailure(id, 0);
    delete d;
}

TEST(HidDevice, UnpluggedWhileReadingReportsErrorsUntilReleased) {
    Watchdog dog(20, "unplug while reading");
    auto sim = std::make_shared<SimulatedHidServices>();
    const int id = sim->addDevice();
    Recorder rec;
    THidDeviceController ctl(nullptr, sim);
    ctl.SetOnDeviceDataError(THidDataErrorEvent(&rec, &Recorder::Error));
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    d->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
    ASSERT_TRUE(waitUntil([&] { return !rec.reports.empty(); }));
    sim->unplug(id);
    ASSERT_TRUE(waitUntil([&] { return !d->IsPluggedIn(); }));
    EXPECT_TRUE(d->IsReading()); // the unplug leaves the thread to its holder
    ASSERT_TRUE(waitUntil([&] { return rec.errors.size() >= 2; }));
    delete d;
    const std::size_t n = rec.errors.size();
    waitUntil([] { return false; }, 150);
    EXPECT_EQ(rec.errors.size(), n);
    EXPECT_EQ(ctl.Count(), 0);
    EXPECT_EQ(sim->openHandles(), 0);
}

TEST(HidController, ADeviceCheckedOutWhenTheControllerGoesStaysWithItsHolder) {
    auto sim = std::make_shared<SimulatedHidServices>();
    sim->addDevice();
    Recorder rec;
    THidDevice* held = nullptr;
    {
        THidDeviceController ctl(nullptr, sim);
        ASSERT_TRUE(ctl.CheckOutAt(0, held));
        EXPECT_EQ(held->ProductText(), u"USB to Serial");
        held->SetUnplugHandler(THidPlugEvent(&rec, &Recorder::Unplug));
        held->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
        ASSERT_TRUE(waitUntil([&] { return !rec.reports.empty(); }));
    }
    // Unplugged by the controller's end, reading on until the holder lets go.
    EXPECT_FALSE(held->IsPluggedIn());
    EXPECT_EQ(held->Controller(), nullptr);
    EXPECT_EQ(rec.events, std::vector<std::string>{"unplug " + sim->pathOf(1)});
    EXPECT_EQ(held->ProductText(), u"USB to Serial"); // cached while it could be opened
    EXPECT_TRUE(held->SerialText().empty());          // never read, and now it cannot be
    delete held;
    EXPECT_EQ(sim->openHandles(), 0);
}

TEST(HidEvent, BindingsAreEqualOnlyForTheSameObjectAndMethod) {
    Recorder a, b;
    EXPECT_TRUE(THidPlugEvent(&a, &Recorder::Arrival) == THidPlugEvent(&a, &Recorder::Arrival));
    EXPECT_FALSE(THidPlugEvent(&a, &Recorder::Arrival) == THidPlugEvent(&b, &Recorder::Arrival));
    EXPECT_FALSE(THidPlugEvent(&a, &Recorder::Arrival) == THidPlugEvent(&a, &Recorder::Removal));
    EXPECT_FALSE(THidPlugEvent(&a, &Recorder::Arrival) == THidPlugEvent());
    EXPECT_TRUE(THidPlugEvent() == THidPlugEvent());
    EXPECT_FALSE(static_cast<bool>(THidPlugEvent()));
    int calls = 0;
    const THidPlugEvent named(&a, "n", [&](THidDevice*) { ++calls; });
    EXPECT_TRUE(named == THidPlugEvent(&a, "n", [](THidDevice*) {}));
    EXPECT_FALSE(named == THidPlugEvent(&a, "m", [](THidDevice*) {}));
    named(nullptr);
    EXPECT_EQ(calls, 1);
}
