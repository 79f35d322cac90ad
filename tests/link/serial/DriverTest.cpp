// The serial driver on real pseudo-terminals.
#include "link/serial/SerialPortDriver.h"
#include "link/serial/TtySerialPort.h"
#include "tests/TestSupport.h"
#include "tests/link/serial/PtyPair.h"

#include <gtest/gtest.h>

#include <termios.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace rd780 {
namespace {

using test::PtyPair;

// Collects the receive events of a driver, copying the bytes while they are valid.
struct Receiver {
    std::vector<std::vector<uint8_t>> events;
    void* lastSender = nullptr;
    void H520RData(void* Sender, const uint8_t* DataPtr, int DataSize) {
        lastSender = Sender;
        events.emplace_back(DataPtr, DataPtr + DataSize);
    }
};

// The driver set up as the window holds it: COM1 at 2400, COM1 being the test's pty.
struct DriverOnPty : ::testing::Test {
    PtyPair pty;
    TSerialPortDriver drv;
    Receiver rx;
    void SetUp() override {
        drv.SetPortDevice(pnCOM1, pty.slavePath());
        drv.SetComPort(pnCOM1);
        drv.SetComPortSpeed(br2400);
        drv.SetOnReceiveData({&rx, &Receiver::H520RData});
    }
    termios lineState() const {
        termios t{};
        EXPECT_EQ(tcgetattr(pty.master(), &t), 0);
        return t;
    }
    int slaveFd() { return dynamic_cast<TtySerialPort&>(drv.Port()).fd(); }
};

TEST_F(DriverOnPty, ConnectAppliesTheWindowsLine) {
    ASSERT_TRUE(drv.Connect()) << drv.LastOpenError();
    EXPECT_TRUE(drv.Connected());
    EXPECT_TRUE(drv.PollTimerActive());
    EXPECT_EQ(drv.PollTimerInterval(), 50);
    termios t = lineState();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2400));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B2400));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF | ISTRIP | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(DriverOnPty, EveryEnumerationReachesTheLine) {
    ASSERT_TRUE(drv.Connect()) << drv.LastOpenError();

    const bool twoStop[] = {false, true, true}; // 1.5 becomes 2 on Linux
    for (int i = 0; i < 3; ++i) {
        drv.SetComPortStopBits(static_cast<TComPortStopBits>(i));
        EXPECT_EQ((lineState().c_cflag & CSTOPB) != 0, twoStop[i]) << "stop bits ordinal " << i;
    }
    drv.SetComPortHwHandshaking(hhRTSCTS);
    EXPECT_NE(lineState().c_cflag & CRTSCTS, 0u);
    drv.SetComPortHwHandshaking(hhNONE);
    EXPECT_EQ(lineState().c_cflag & CRTSCTS, 0u);
    drv.SetComPortSwHandshaking(shXONXOFF);
    termios t = lineState();
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    drv.SetComPortSwHandshaking(shNONE);
    EXPECT_EQ(lineState().c_iflag & (IXON | IXOFF), 0u);

    // Every entry of the baud table, including the two that termios has no constant for.
    for (int i = br110; i <= br115200; ++i) {
        drv.SetComPortSpeed(static_cast<TComPortBaudRate>(i));
        EXPECT_EQ(ttyOutputSpeed(pty.master()), ComPortBaudTable[i]) << "speed ordinal " << i;
    }
}

// A pseudo-terminal always reads back 8 data bits without parity, so the data bits and the
// parity are checked on the termios the driver's settings produce.
TEST(SerialDriver, DataBitsAndParityReachTheTermios) {
    TSerialPortDriver drv;
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (int i = 0; i < 4; ++i) {
        drv.SetComPortDataBits(static_cast<TComPortDataBits>(i));
        termios t{};
        makeLineTermios(drv.LineSettings(), t);
        EXPECT_EQ(t.c_cflag & CSIZE, sizes[i]) << "data bits ordinal " << i;
    }
    const tcflag_t parity[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                               PARENB | CMSPAR};
    for (int i = 0; i < 5; ++i) {
        drv.SetComPortParity(static_cast<TComPortParity>(i));
        termios t{};
        t.c_iflag = INPCK | ISTRIP; // whatever the port had before
        makeLineTermios(drv.LineSettings(), t);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), parity[i]) << "parity ordinal " << i;
        EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP), 0u) << "parity must never be checked";
    }
    drv.SetEnableDTROnOpen(false);
    termios t{};
    makeLineTermios(drv.LineSettings(), t);
    EXPECT_EQ(t.c_cflag & HUPCL, 0u);

    EXPECT_EQ(drv.LineSettings().xonLim, 512);
    drv.SetComPortInBufSize(100);
    EXPECT_EQ(drv.LineSettings().xonLim, 25);
}

TEST_F(DriverOnPty, ConnectWhenOpenNeitherReopensNorPurges) {
    ASSERT_TRUE(drv.Connect());
    int fd = slaveFd();
    pty.send({1, 2, 3});
    EXPECT_TRUE(drv.Connect());
    EXPECT_EQ(slaveFd(), fd);
    drv.PollReceive();
    ASSERT_EQ(rx.events.size(), 1u);
    EXPECT_EQ(rx.events[0], (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(DriverOnPty, FailedOpenLeavesNothingRunningAndIsTriedAgain) {
    drv.SetPortDevice(pnCOM1, "/nonexistent/ttyQ9");
    EXPECT_FALSE(drv.Connect());
    EXPECT_FALSE(drv.Connected());
    EXPECT_FALSE(drv.PollTimerActive());
    EXPECT_NE(drv.LastOpenError().find("/nonexistent/ttyQ9"), std::string::npos);
    EXPECT_NE(drv.LastOpenError().find("No such file"), std::string::npos);
    drv.PollReceive(); // a tick on a closed port is harmless
    EXPECT_TRUE(rx.events.empty());

    drv.SetPortDevice(pnCOM1, pty.slavePath());
    EXPECT_TRUE(drv.Connect());
    EXPECT_TRUE(drv.LastOpenError().empty());
}

TEST_F(DriverOnPty, OrdinaryFileIsNotASerialPort) {
    char path[] = "/tmp/rd780-notatty-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    drv.SetPortDevice(pnCOM1, path);
    EXPECT_FALSE(drv.Connect());
    EXPECT_NE(drv.LastOpenError().find("not a serial device"), std::string::npos);
    unlink(path);
}

TEST_F(DriverOnPty, SecondOpenOfTheSameDeviceIsRefused) {
    ASSERT_TRUE(drv.Connect());
    TSerialPortDriver other;
    other.SetPortDevice(pnCOM2, pty.slavePath());
    EXPECT_FALSE(other.Connect());
    EXPECT_FALSE(other.Connected());
    EXPECT_NE(other.LastOpenError().find("in use"), std::string::npos) << other.LastOpenError();

    // Once released, the port opens again (exclusive mode is given back on close).
    drv.Disconnect();
    EXPECT_FALSE(drv.PollTimerActive());
    EXPECT_TRUE(other.Connect()) << other.LastOpenError();
}

TEST_F(DriverOnPty, ChangingTheSpeedWhileOpenReconfiguresAndPurges) {
    ASSERT_TRUE(drv.Connect());
    pty.send({9, 8, 7, 6});
    drv.SetComPortSpeed(br4800);
    termios t = lineState();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
    drv.PollReceive();
    EXPECT_TRUE(rx.events.empty()) << "waiting bytes must be dropped";

    // While closed the speed is only stored, and used at the next Connect.
    drv.Disconnect();
    drv.SetComPortSpeed(br19200);
    EXPECT_EQ(drv.ComPortSpeed(), br19200);
    ASSERT_TRUE(drv.Connect());
    t = lineState();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
}

TEST_F(DriverOnPty, PortNumberAndBufferSizesAreFixedWhileOpen) {
    ASSERT_TRUE(drv.Connect());
    drv.SetComPort(pnCOM3);
    drv.SetComPortInBufSize(16);
    drv.SetComPortOutBufSize(16);
    EXPECT_EQ(drv.ComPort(), pnCOM1);
    EXPECT_EQ(drv.ComPortInBufSize(), 2048);
    EXPECT_EQ(drv.ComPortOutBufSize(), 2048);
    drv.Disconnect();
    EXPECT_TRUE(drv.Connect()) << "the next Connect opens the same port";
    EXPECT_EQ(drv.ComPort(), pnCOM1);
}

TEST_F(DriverOnPty, PollingDelayRule) {
    drv.SetComPortPollingDelay(120); // closed: stored only
    EXPECT_FALSE(drv.PollTimerActive());
    ASSERT_TRUE(drv.Connect());
    EXPECT_EQ(drv.PollTimerInterval(), 120);
    drv.SetComPortPollingDelay(120);
    EXPECT_EQ(drv.PollTimerInterval(), 120);
    EXPECT_TRUE(drv.PollTimerActive());
    drv.SetComPortPollingDelay(30); // open: restarted with the new period
    EXPECT_EQ(drv.ComPortPollingDelay(), 30);
    EXPECT_EQ(drv.PollTimerInterval(), 30);
    EXPECT_TRUE(drv.PollTimerActive());
    drv.SetComPortPollingDelay(0); // kept, but the timer must not spin
    EXPECT_EQ(drv.ComPortPollingDelay(), 0);
    EXPECT_GE(drv.PollTimerInterval(), 1);
}

TEST_F(DriverOnPty, OneEventPerTickWithTheWaitingBytes) {
    int idle = 0;
    drv.OnIdlePoll = [&] { ++idle; };
    ASSERT_TRUE(drv.Connect());
    drv.PollReceive();
    EXPECT_TRUE(rx.events.empty());
    EXPECT_EQ(idle, 1);

    pty.send({0x5A, 0x00, 0x0D, 0xFF, 0x2E});
    drv.PollReceive();
    ASSERT_EQ(rx.events.size(), 1u);
    EXPECT_EQ(rx.events[0], (std::vector<uint8_t>{0x5A, 0x00, 0x0D, 0xFF, 0x2E}));
    EXPECT_EQ(rx.lastSender, &drv);
    EXPECT_EQ(idle, 1);
    drv.PollReceive();
    EXPECT_EQ(rx.events.size(), 1u);
    EXPECT_EQ(idle, 2);
}

TEST_F(DriverOnPty, ATickTakesAtMostTheReceiveBuffer) {
    drv.SetComPortInBufSize(4);
    ASSERT_TRUE(drv.Connect());
    pty.send({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    drv.PollReceive();
    drv.PollReceive();
    drv.PollReceive();
    ASSERT_EQ(rx.events.size(), 3u);
    EXPECT_EQ(rx.events[0], (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ(rx.events[1], (std::vector<uint8_t>{4, 5, 6, 7}));
    EXPECT_EQ(rx.events[2], (std::vector<uint8_t>{8, 9}));
}

TEST_F(DriverOnPty, ANestedTickDoesNotOverwriteTheBytesBeingHandled) {
    drv.SetComPortInBufSize(4);
    struct Nested {
        TSerialPortDriver* drv;
        std::vector<std::vector<uint8_t>> seen;
        void H520RData(void*, const uint8_t* p, int n) {
            std::vector<uint8_t> before(p, p + n);
            drv->PollReceive(); // as a message box's event loop would
            seen.emplace_back(p, p + n);
            EXPECT_EQ(seen.back(), before);
        }
    } nested{&drv, {}};
    drv.SetOnReceiveData({&nested, &Nested::H520RData});
    ASSERT_TRUE(drv.Connect());
    pty.send({1, 2, 3, 4, 5, 6, 7, 8});
    drv.PollReceive();
    ASSERT_EQ(nested.seen.size(), 1u);
    drv.PollReceive();
    ASSERT_EQ(nested.seen.size(), 2u);
    EXPECT_EQ(nested.seen[1], (std::vector<uint8_t>{5, 6, 7, 8}));
}

TEST_F(DriverOnPty, TheTimerPollsByItself) {
    ASSERT_TRUE(drv.Connect());
    pty.send({0x42});
    EXPECT_TRUE(test::waitUntil([&] { return !rx.events.empty(); }, 2000));
    drv.Disconnect();
    pty.send({0x43});
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(rx.events.size(), 1u) << "no tick after Disconnect";
}

// A silent line costs nothing: after the quiet ticks that settle a run of bytes the driver
// stops ticking and waits on the port, and the next byte wakes it at once and brings the
// ticks back for the pause after it.
TEST_F(DriverOnPty, SilenceStopsTheTicksAndTheNextByteWakesTheDriver) {
    int idle = 0;
    drv.OnIdlePoll = [&] { ++idle; };
    drv.SetComPortPollingDelay(10);
    ASSERT_TRUE(drv.Connect());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(test::waitUntil([&] { return !drv.PollTimerActive(); }, 5000));
        EXPECT_EQ(idle, TSerialPortDriver::IdleTicksKept);
        test::waitUntil([] { return false; }, 100);
        EXPECT_EQ(idle, TSerialPortDriver::IdleTicksKept) << "no tick while nothing is pending";
        idle = 0;
        const std::size_t before = rx.events.size();
        pty.send({0x5A});
        ASSERT_TRUE(test::waitUntil([&] { return rx.events.size() > before; }, 5000));
        EXPECT_EQ(rx.events.back(), std::vector<uint8_t>{0x5A});
        EXPECT_TRUE(drv.PollTimerActive());
    }
}

// A port whose device can be pulled out and plugged back in.
class UnpluggablePort : public SerialPortAccess {
public:
    bool present = true;
    bool readsFail = false; // opens, but every read fails
    int opens = 0, configures = 0;
    std::vector<uint8_t> waiting;
    std::string openedDevice;

    bool open(const std::string& device) override {
        ++opens;
        if (!present) {
            error_ = "No such file or directory";
            return false;
        }
        openedDevice = device;
        open_ = true;
        return true;
    }
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }
    void configure(const SerialLineSettings&) override { ++configures; }
    void purge(bool input, bool) override {
        if (input) waiting.clear();
    }
    long readAvailable(uint8_t* buffer, std::size_t max) override {
        if (!open_) {
            error_ = "port not open";
            return -1;
        }
        if (!present) {
            error_ = "the device went away";
            return -1;
        }
        if (readsFail) {
            error_ = "Input/output error";
            return -1;
        }
        const std::size_t n = std::min(max, waiting.size());
        std::copy(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(n), buffer);
        waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<long>(n);
    }
    const std::string& error() const override { return error_; }

private:
    bool open_ = false;
    std::string error_;
};

TEST(SerialDriverReplug, AVanishedDeviceIsSaidOnceAndReadAgainWhenItReturns) {
    auto owned = std::make_unique<UnpluggablePort>();
    UnpluggablePort& port = *owned;
    TSerialPortDriver drv(nullptr, std::move(owned));
    drv.SetPortDevice(pnCOM1, "/dev/ttyUSB0");
    drv.SetComPort(pnCOM1);
    Receiver rx;
    drv.SetOnReceiveData({&rx, &Receiver::H520RData});
    std::vector<std::string> errors;
    int back = 0;
    drv.OnReadError = [&](const std::string& why) { errors.push_back(why); };
    drv.OnDeviceBack = [&] { ++back; };
    ASSERT_TRUE(drv.Connect());
    EXPECT_EQ(port.configures, 1);

    port.present = false;
    for (int i = 0; i < 5; ++i)
        drv.PollReceive();
    ASSERT_EQ(errors.size(), 1u) << "said once, not per tick";
    EXPECT_EQ(errors[0], "/dev/ttyUSB0: the device went away");
    EXPECT_FALSE(drv.Connected());
    EXPECT_TRUE(drv.WaitingForDevice());
    EXPECT_TRUE(drv.PollTimerActive()) << "the ticks go on looking for the device";
    EXPECT_EQ(port.opens, 1 + 4) << "each later tick tries the device again";
    EXPECT_EQ(back, 0);

    port.present = true;
    port.waiting = {0x5A, 0x01};
    drv.PollReceive();
    EXPECT_EQ(back, 0) << "back once a read works, not on the open alone";
    EXPECT_TRUE(drv.Connected());
    EXPECT_FALSE(drv.WaitingForDevice());
    EXPECT_EQ(port.openedDevice, "/dev/ttyUSB0");
    EXPECT_EQ(port.configures, 2) << "set up as on Connect";
    EXPECT_TRUE(port.waiting.empty()) << "and purged as on Connect";
    port.waiting = {0x5A, 0x02};
    drv.PollReceive();
    EXPECT_EQ(back, 1);
    ASSERT_EQ(rx.events.size(), 1u);
    EXPECT_EQ(rx.events[0], (std::vector<uint8_t>{0x5A, 0x02}));

    // A second loss is said again.
    port.present = false;
    drv.PollReceive();
    EXPECT_EQ(errors.size(), 2u);

    // A device that opens but fails every read: said once when the reason changes, not a
    // back and a failure per retry.
    port.present = true;
    port.readsFail = true;
    for (int i = 0; i < 6; ++i)
        drv.PollReceive();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2], "/dev/ttyUSB0: Input/output error");
    EXPECT_EQ(back, 1);
    port.readsFail = false;
    drv.PollReceive();
    drv.PollReceive();
    EXPECT_EQ(back, 2);
    EXPECT_EQ(errors.size(), 3u);

    // Disconnect ends the search.
    drv.Disconnect();
    EXPECT_FALSE(drv.WaitingForDevice());
    EXPECT_FALSE(drv.PollTimerActive());
    const int opens = port.opens;
    port.present = true;
    drv.PollReceive();
    EXPECT_EQ(port.opens, opens);
    EXPECT_FALSE(drv.Connected());
    EXPECT_EQ(back, 2);
}

} // namespace
} // namespace rd780
