// The simulated meter's frames decode with the program's decoder, and the hidraw read
// path works on a character device without any HID hardware (a pseudo-terminal).
#include "FakeSysfs.h"
#include "link/hid/HidControllerClass.h"
#include "link/hid/LinuxHidServices.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/SysfsHidInfo.h"
#include "meter/core/FrameDecoder.h"
#include "meter/core/MeterSimulator.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <pty.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace rd780;

namespace {

struct Decoded {
    std::string text, unit, coupling, autoRange;
    float value = 0;
};

Decoded decode(const std::vector<std::uint8_t>& frame) {
    std::string hex;
    char b[3];
    for (std::uint8_t c : frame) {
        std::snprintf(b, sizeof b, "%02X", c);
        hex += b;
    }
    Decoded d;
    DecodeSink sink;
    decodeFrame(hex, ScaleSettings{}, ReadingRefs{d.text, d.value, d.unit, d.coupling, d.autoRange},
                sink);
    return d;
}

} // namespace

TEST(MeterSimulator, EveryReadingOfTheCycleDecodes) {
    MeterSimulator sim(11);
    sim.setFramesPerReading(1);
    sim.setLongFrameInterval(0);
    std::set<std::string> units;
    bool positiveOverload = false, negativeOverload = false, autoOn = false, autoOff = false;
    for (int i = 0; i < 3 * sim.scenesInCycle(); ++i) {
        const auto frame = sim.nextFrame();
        ASSERT_EQ(frame.size(), MeterSimulator::ShortFrameSize);
        ASSERT_EQ(frame[0], 0x5A);
        Decoded d;
        ASSERT_NO_THROW(d = decode(frame)) << "frame " << i;
        units.insert(d.unit);
        positiveOverload |= d.value == 60.0f;
        negativeOverload |= d.value == -60.0f;
        (d.autoRange == "AUTO" ? autoOn : autoOff) = true;
        if (d.unit == " V" && d.coupling == "AC") {
            EXPECT_GT(d.value, 2250);
            EXPECT_LT(d.value, 2350);
        }
    }
    for (const char* u :
         {" V", "mV", "mA", "uA", " *", "k*", "M*", "kHz", "Duty", "nF", "uF", " V)", " *&"})
        EXPECT_TRUE(units.count(u)) << "no reading in " << u;
    EXPECT_TRUE(positiveOverload && negativeOverload);
    EXPECT_TRUE(autoOn && autoOff);
}

TEST(MeterSimulator, LongFramesCarryAWaveformAndDecodeLikeShortOnes) {
    MeterSimulator sim(3);
    sim.setLongFrameInterval(4);
    int longFrames = 0;
    for (int i = 0; i < 40; ++i) {
        const auto frame = sim.nextFrame();
        if (frame.size() == MeterSimulator::LongFrameSize) {
            ++longFrames;
            const std::vector<std::uint8_t> head(frame.begin(), frame.begin() + 41);
            Decoded a, b;
            ASSERT_NO_THROW(a = decode(frame));
            ASSERT_NO_THROW(b = decode(head));
            EXPECT_EQ(a.text, b.text);
            EXPECT_EQ(a.unit, b.unit);
            // The samples swing both ways within the chart's range.
            int lo = 127, hi = -128;
            for (std::size_t k = 41; k < frame.size(); ++k) {
                const int v = static_cast<std::int8_t>(frame[k]);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            EXPECT_LT(lo, -20);
            EXPECT_GT(hi, 20);
            EXPECT_LE(hi, 61);
        } else {
            ASSERT_EQ(frame.size(), MeterSimulator::ShortFrameSize);
        }
    }
    EXPECT_EQ(longFrames, 10);
    EXPECT_EQ(MeterSimulator::formatField(1.2345, 1), "1.235");
    EXPECT_EQ(MeterSimulator::formatField(-12.3, 2), "12.30");
    EXPECT_EQ(MeterSimulator::formatField(123456, 0), "9999 ");
}

TEST(LinuxHidServices, OpenFailuresAndAReadOnACharacterDevice) {
    auto services = makeLinuxHidServices();
    if (!services) GTEST_SKIP() << "no udev here";
    EXPECT_EQ(services->open("/nonexistent/hidraw9", HidAccess::ReadWrite), InvalidHidHandle);
    EXPECT_EQ(services->lastError(), std::uint32_t(ENOENT));
    EXPECT_EQ(services->open("/tmp", HidAccess::NoAccess), InvalidHidHandle);
    EXPECT_EQ(services->lastError(), std::uint32_t(ENODEV));
    services->enumerate(); // must not fail on a machine without HID devices

    int master = -1, slave = -1;
    char name[128] = {};
    termios raw{};
    cfmakeraw(&raw); // bytes are readable as they come, as reports are
    ASSERT_EQ(openpty(&master, &slave, name, &raw, nullptr), 0);
    ::close(slave);
    const HidHandle h = services->open(name, HidAccess::ReadOnly);
    ASSERT_NE(h, InvalidHidHandle);
    HidAttributes attr;
    EXPECT_FALSE(services->getAttributes(h, attr)); // not a HID node: cannot be identified

    std::uint8_t buf[16] = {};
    auto r = services->readReport(h, buf, sizeof buf, 20);
    EXPECT_EQ(r.status, HidReadStatus::TimedOut);

    // A wake ends the wait early, also when it comes before the wait.
    services->wake(h);
    const auto t0 = std::chrono::steady_clock::now();
    r = services->readReport(h, buf, sizeof buf, 5000);
    EXPECT_EQ(r.status, HidReadStatus::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));

    // A node without numbered reports gets report ID 0 put in front.
    ASSERT_EQ(::write(master, "\x03\x41\x42", 3), 3);
    r = services->readReport(h, buf, sizeof buf, 2000);
    ASSERT_EQ(r.status, HidReadStatus::Completed);
    EXPECT_GE(r.bytes, 2u);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 0x03);

    // Closing the handle while another thread waits on it ends that wait at once.
    auto waiter = std::async(std::launch::async,
                             [&] { return services->readReport(h, buf, sizeof buf, 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    services->close(h);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(waiter.get().status, HidReadStatus::Failed);
    EXPECT_EQ(services->readReport(h, buf, sizeof buf, 10).status, HidReadStatus::Failed);
    ::close(master);
}

TEST(LinuxHidServices, SysfsTreeGivesTheCablesSerialNumberAndReportLengths) {
    using test::cableDescriptor;
    using test::FakeSysfsCable;
    // A cable with a serial number and a feature report of 16 bytes (17 with the ID).
    FakeSysfsCable cable(cableDescriptor(16), std::string("SN-0042"));
    ASSERT_TRUE(cable.ok());
    auto services = std::make_shared<test::FakeTreeHidServices>(cable);
    THidDeviceController ctl(nullptr, services);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    EXPECT_EQ(d->ProductText(), u"USB to Serial");
    EXPECT_EQ(d->SerialText(), u"SN-0042");
    EXPECT_EQ(d->Attributes().VendorID, 0x1A86);
    EXPECT_EQ(d->Attributes().ProductID, 0xE008);
    EXPECT_EQ(d->Attributes().VersionNumber, 0x1200) << "the cable's, not a hub's";
    const HidCaps caps = d->QueryCaps();
    EXPECT_EQ(caps.InputReportByteLength, 11);
    EXPECT_EQ(caps.OutputReportByteLength, 9);
    EXPECT_EQ(caps.FeatureReportByteLength, 17);
    EXPECT_EQ(featureReportLength(caps), 17u);
    delete d;
}

TEST(LinuxHidServices, SysfsTreeOfACableWithoutSerialOrFeatureReport) {
    using test::cableDescriptor;
    using test::FakeSysfsCable;
    FakeSysfsCable cable(cableDescriptor(0), std::nullopt);
    ASSERT_TRUE(cable.ok());
    auto services = std::make_shared<test::FakeTreeHidServices>(cable);
    THidDeviceController ctl(nullptr, services);
    THidDevice* d = nullptr;
    ASSERT_TRUE(ctl.CheckOutAt(0, d));
    // The hub and the root hub above the cable have serial numbers; the cable has none.
    EXPECT_EQ(d->ProductText(), u"USB to Serial");
    EXPECT_EQ(d->SerialText(), u"");
    EXPECT_EQ(d->Attributes().VersionNumber, 0x1200);
    EXPECT_EQ(d->QueryCaps().FeatureReportByteLength, 0);
    EXPECT_EQ(featureReportLength(d->QueryCaps()), 10u); // the fallback
    delete d;

    // A node the tree does not know, and a tree that is not there at all.
    struct stat st {};
    ASSERT_EQ(::stat(cable.node().c_str(), &st), 0);
    EXPECT_TRUE(readSysfsHidInfo(cable.root(), st.st_rdev).found);
    EXPECT_FALSE(readSysfsHidInfo(cable.root(), makedev(1, 3)).found);
    EXPECT_FALSE(readSysfsHidInfo(cable.root() / "missing", st.st_rdev).found);
}

// The paced cable makes reports on its own clock and keeps at most a kernel's worth; a
// reader that falls behind loses the rest, as it would with a real cable.
TEST(SimulatedCable, PacedReportsQueueUpToTheKernelsLimitAndTheRestAreDropped) {
    SimulatedHidServices sim;
    SimDeviceConfig c;
    c.paced = true;
    c.reportInterval = std::chrono::microseconds(1000);
    const int id = sim.addDevice(c);
    const HidHandle h = sim.open(sim.pathOf(id), HidAccess::ReadOnly);
    ASSERT_NE(h, InvalidHidHandle);
    std::uint8_t buf[16];
    // Read promptly: one report per interval, no faster.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(sim.readReport(h, buf, sizeof buf, 1000).status, HidReadStatus::Completed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
    EXPECT_EQ(sim.reportsDropped(id), 0u);

    // Not read for a while: the time passing is what is tested here.
    const auto idleFrom = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto idle = std::chrono::steady_clock::now() - idleFrom;
    int queued = 0;
    while (sim.readReport(h, buf, sizeof buf, 0).status == HidReadStatus::Completed && queued < 500)
        ++queued;
    EXPECT_GE(queued, static_cast<int>(SimulatedHidServices::PacedQueueLength));
    EXPECT_LE(queued, static_cast<int>(SimulatedHidServices::PacedQueueLength) + 150);
    const auto missed = std::chrono::duration_cast<std::chrono::milliseconds>(idle).count() -
                        static_cast<long>(SimulatedHidServices::PacedQueueLength) - 20;
    EXPECT_GE(static_cast<long>(sim.reportsDropped(id)), missed);
    EXPECT_EQ(sim.reportsRead(id), 30u + static_cast<std::uint64_t>(queued));
    sim.close(h);
}
