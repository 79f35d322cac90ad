// The window's serial controls, and meter frames arriving on a pseudo-terminal becoming
// readings.
#include "app/TFCOMM.h"
#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"
#include "link/serial/SerialPortDriver.h"
#include "meter/MeterPanel.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/FrameDecoder.h"
#include "meter/core/MeterSimulator.h"
#include "record/ReadingTable.h"
#include "record/RecordingPanel.h"
#include "record/RecordingSide.h"
#include "tests/TestSupport.h"
#include "tests/link/serial/PtyPair.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <termios.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace rd780 {
namespace {

using test::PtyPair;

// A window in a fresh working folder (its reading table lands there), with the serial
// port given on the command line and the information boxes captured.
struct SerialWindow : ::testing::Test {
    QTemporaryDir dir;
    QString oldDir = QDir::currentPath();
    PtyPair pty;
    QStringList messages;
    std::unique_ptr<TFCOMM> w;

    void open(const QString& serialPort) {
        ASSERT_TRUE(dir.isValid());
        QDir::setCurrent(dir.path());
        ProgramOptions o;
        o.serialPort = serialPort;
        o.messageHook = [this](const QString& m) { messages << m; };
        w = std::make_unique<TFCOMM>(o);
    }
    void SetUp() override { open(QString::fromStdString(pty.slavePath())); }
    void TearDown() override {
        w.reset();
        QDir::setCurrent(oldDir);
    }
    QString lastHistory() const {
        auto* item = w->HistoryListBox->currentItem();
        return item ? item->text() : QString();
    }
    speed_t lineSpeed() const {
        termios t{};
        tcgetattr(pty.master(), &t);
        return cfgetospeed(&t);
    }
};

// The state of the serial controls, to compare the two ways of disconnecting.
struct Controls {
    bool btConShown, btDisconShown, startChecked, startEnabled, stopChecked, stopEnabled;
    bool portsEnabled[4];
    bool operator==(const Controls&) const = default;
};

Controls controls(const TFCOMM& w) {
    return {!w.Serial->BTCon->isHidden(),
            !w.Serial->BtDiscon->isHidden(),
            w.START1->isChecked(),
            w.START1->isEnabled(),
            w.STOP1->isChecked(),
            w.STOP1->isEnabled(),
            {w.Serial->BtCOM1->isEnabled(), w.Serial->BtCOM2->isEnabled(),
             w.Serial->BtCOM3->isEnabled(), w.Serial->BtCOM4->isEnabled()}};
}

const Controls ShownOpen{false, true, true, false, false, true, {false, false, false, false}};
const Controls ShownClosed{true, false, false, true, true, false, {true, true, true, true}};

TEST_F(SerialWindow, StartsClosedAtComOneWithTheStoredSpeed) {
    EXPECT_FALSE(w->Serial->COMM2->Connected());
    EXPECT_EQ(w->Serial->COMM2->ComPort(), pnCOM1);
    EXPECT_EQ(w->Serial->COMM2->ComPortSpeed(), br2400);
    EXPECT_EQ(w->Serial->COMM2->PortDevice(pnCOM1), pty.slavePath());
    EXPECT_EQ(w->Serial->COMM2->OnReceiveData().Object(), w->Serial)
        << "FormCreate binds H520RData";
    EXPECT_FALSE(w->Serial->BTCon->isHidden());
    EXPECT_TRUE(w->Serial->BtDiscon->isHidden());
    EXPECT_EQ(w->Serial->BTCon->text(), "Connect");
    EXPECT_EQ(w->Serial->BtDiscon->text(), "Disconnect");
    for (QWidget* hidden :
         {static_cast<QWidget*>(w->Serial->COMCon), static_cast<QWidget*>(w->Serial->Button3),
          static_cast<QWidget*>(w->Serial->Button2), static_cast<QWidget*>(w->Serial->BtExit),
          static_cast<QWidget*>(w->Serial->BtCOM1), static_cast<QWidget*>(w->Serial->BtCOM4)})
        EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();
}

TEST_F(SerialWindow, ConnectWithNoDeviceSwitchesAndSaysWhy) {
    w.reset();
    open("/nonexistent/rd780-tty");
    w->Serial->BTCon->click();
    EXPECT_EQ(controls(*w), ShownOpen);
    EXPECT_FALSE(w->Serial->COMM2->Connected());
    EXPECT_FALSE(w->Serial->COMM2->PollTimerActive());
    EXPECT_TRUE(messages.isEmpty()) << "no modal box for a failed open";
    EXPECT_TRUE(lastHistory().contains("/nonexistent/rd780-tty")) << lastHistory().toStdString();
    EXPECT_TRUE(lastHistory().contains("No such file")) << lastHistory().toStdString();
    EXPECT_EQ(w->Serial->SerialNote->text(), lastHistory()) << "also shown beside the panel";

    w->Serial->BtDiscon->click();
    EXPECT_EQ(controls(*w), ShownClosed);
    EXPECT_FALSE(w->Serial->COMM2->Connected());
}

TEST_F(SerialWindow, StopInTheMenuIsTheDisconnectPanel) {
    w->Serial->BTCon->click();
    ASSERT_TRUE(w->Serial->COMM2->Connected()) << lastHistory().toStdString();
    EXPECT_EQ(controls(*w), ShownOpen);
    EXPECT_TRUE(lastHistory().contains(QString::fromStdString(pty.slavePath())));
    w->STOP1->trigger();
    EXPECT_FALSE(w->Serial->COMM2->Connected());
    const Controls afterStop = controls(*w);
    EXPECT_EQ(afterStop, ShownClosed);

    w->Serial->BTCon->click();
    ASSERT_TRUE(w->Serial->COMM2->Connected()) << "a new Connect opens the port again";
    w->Serial->BtDiscon->click();
    EXPECT_FALSE(w->Serial->COMM2->Connected());
    EXPECT_EQ(controls(*w), afterStop);
}

TEST_F(SerialWindow, FiveSpeedStepsFrom2400) {
    for (int i = 0; i < 5; ++i)
        w->Serial->Button2->click();
    EXPECT_EQ(messages, (QStringList{"Baud Rate:4800", "Baud Rate:9600", "Baud Rate:19200",
                                     "Baud Rate:1200", "Baud Rate:1200"}));
    EXPECT_EQ(w->Serial->COMM2->ComPortSpeed(), br1200);

    // A speed the steps do not know is left alone, silently.
    w->Serial->COMM2->SetComPortSpeed(br38400);
    messages.clear();
    w->Serial->Button2->click();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(w->Serial->COMM2->ComPortSpeed(), br38400);
}

TEST_F(SerialWindow, SpeedStepWhileOpenReconfiguresAndDropsWaitingBytes) {
    w->Serial->BTCon->click();
    ASSERT_TRUE(w->Serial->COMM2->Connected());
    EXPECT_EQ(lineSpeed(), static_cast<speed_t>(B2400));
    // Half a frame waits in the port and the chunker when the speed changes.
    MeterSimulator sim;
    sim.setLongFrameInterval(0);
    std::vector<uint8_t> frame = sim.nextFrame();
    pty.send(frame.data(), 20);
    w->Serial->COMM2->PollReceive();
    pty.send(frame.data() + 20, 21);
    w->Serial->Button2->click();
    EXPECT_EQ(lineSpeed(), static_cast<speed_t>(B4800));
    EXPECT_EQ(messages, QStringList{"Baud Rate:4800"});
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(w->Serial->SerialFramesAssembled, 0) << "the dropped half must not complete a frame";
}

TEST_F(SerialWindow, KV520ComOpensWithoutTouchingThePanels) {
    w->Serial->Button3->click();
    EXPECT_TRUE(w->Serial->COMM2->Connected());
    EXPECT_FALSE(w->Serial->BTCon->isHidden());
    EXPECT_TRUE(w->Serial->BtDiscon->isHidden());
    EXPECT_EQ(w->Serial->COMM2->OnReceiveData().Object(), w->Serial);
}

TEST_F(SerialWindow, KV310ComToggleConnectsAndReleasesTheUsbButton) {
    w->Usb->USBCon->setChecked(true);
    w->Serial->COMCon->click();
    EXPECT_TRUE(w->Serial->COMCon->isChecked());
    EXPECT_FALSE(w->Usb->USBCon->isChecked());
    EXPECT_TRUE(w->Serial->COMM2->Connected());
    EXPECT_EQ(controls(*w), ShownOpen);
    w->Serial->COMCon->click();
    EXPECT_FALSE(w->Serial->COMM2->Connected());
    EXPECT_EQ(controls(*w), ShownClosed);
}

TEST_F(SerialWindow, ResizeKeepsThePanelsAtTheRightEdge) {
    w->show();
    const int conX = w->Serial->BTCon->x(), disX = w->Serial->BtDiscon->x(),
              exitX = w->Serial->BtExit->x();
    const int y = w->Serial->BTCon->y();
    w->resize(w->width() + 100, w->height());
    ASSERT_TRUE(test::waitUntil([&] { return w->Serial->BTCon->x() != conX; }, 2000));
    EXPECT_EQ(w->Serial->BTCon->x(), conX + 100);
    EXPECT_EQ(w->Serial->BtDiscon->x(), disX + 100);
    EXPECT_EQ(w->Serial->BtExit->x(), exitX + 100);
    EXPECT_EQ(w->Serial->BTCon->x(), w->width() - 190);
    EXPECT_EQ(w->Serial->BtExit->x(), w->width() - 80);
    EXPECT_EQ(w->Serial->BTCon->y(), y);
}

// --- frames over the line ----------------------------------------------------------------

struct Expected {
    std::string text, unit;
    float value = 0;
};

Expected decodeAlone(const std::vector<uint8_t>& frame) {
    std::string hex;
    appendHex(hex, frame.data(), frame.size());
    Expected e;
    std::string coupling, autoFlag;
    DecodeSink quiet;
    decodeFrame(hex, ScaleSettings{}, {e.text, e.value, e.unit, coupling, autoFlag}, quiet);
    return e;
}

struct SerialFramesEndToEnd : SerialWindow {
    MeterSimulator sim{4242};
    void SetUp() override {
        SerialWindow::SetUp();
        w->Serial->BTCon->click();
        ASSERT_TRUE(w->Serial->COMM2->Connected()) << lastHistory().toStdString();
    }
    // Waits for the n-th assembled frame; then the poll tick has run the decoder.
    bool waitFrames(long n) {
        return test::waitUntil([&] { return w->Serial->SerialFramesAssembled >= n; }, 3000);
    }
    // The meter's pause after a frame: longer than two poll periods.
    void pause() {
        test::waitUntil([] { return false; }, 130);
    }
};

TEST_F(SerialFramesEndToEnd, FramesWithPausesBecomeReadings) {
    sim.setLongFrameInterval(3);
    std::vector<Expected> readings;
    for (int i = 1; i <= 7; ++i) {
        std::vector<uint8_t> frame = sim.nextFrame();
        readings.push_back(decodeAlone(frame));
        pty.send(frame);
        ASSERT_TRUE(waitFrames(i)) << "frame " << i << " of " << frame.size() << " bytes";
        Expected e = decodeAlone(frame);
        EXPECT_EQ(w->S.ReadingText, e.text) << "frame " << i;
        EXPECT_EQ(w->S.ReadingUnit, e.unit) << "frame " << i;
        EXPECT_FLOAT_EQ(w->S.ReadingValue, e.value) << "frame " << i;
        EXPECT_FALSE(w->Meter->CONok->isHidden()) << "the link lamp shows frames arriving";
        pause();
    }
    EXPECT_EQ(w->Serial->SerialFramesAssembled, 7) << "each frame decoded once";

    // With the start-up recording options every reading becomes a row, in order.
    const ReadingTable& table = w->Recording->Rec->Table;
    ASSERT_EQ(table.rowCount(), 7);
    for (uint32_t r = 0; r < 7; ++r) {
        const std::vector<std::string> row = table.displayRow(r, true);
        EXPECT_EQ(row[0], std::to_string(r + 1));
        EXPECT_EQ(row[3], readings[r].text) << "row " << r;
        EXPECT_EQ(row[4], readings[r].unit) << "row " << r;
    }
}

TEST_F(SerialFramesEndToEnd, FramesSplitAnywhereDecodeOnceEach) {
    sim.setLongFrameInterval(2);
    std::mt19937 rng(7);
    long sent = 0;
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> frame = sim.nextFrame();
        // Pieces of 1 to 60 bytes with gaps shorter than a poll period.
        std::size_t at = 0;
        while (at < frame.size()) {
            std::size_t n = std::min<std::size_t>(frame.size() - at, 1 + rng() % 60);
            const ssize_t written = ::write(pty.master(), frame.data() + at, n);
            ASSERT_EQ(written, static_cast<ssize_t>(n));
            at += n;
            test::waitUntil([] { return false; }, static_cast<int>(rng() % 20));
        }
        ++sent;
        ASSERT_TRUE(waitFrames(sent)) << "frame " << sent;
        EXPECT_EQ(w->S.ReadingText, decodeAlone(frame).text);
        pause();
    }
    EXPECT_EQ(w->Serial->SerialFramesAssembled, sent);
}

TEST_F(SerialFramesEndToEnd, GarbageBetweenFramesNeitherCrashesNorStalls) {
    sim.setLongFrameInterval(0);
    std::mt19937 rng(11);
    long sent = 0;
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> junk(1 + rng() % 700);
        for (auto& b : junk)
            b = static_cast<uint8_t>(rng());
        junk[0] = i % 2 ? 0x5A : 0x00; // sometimes it even looks like a frame start
        pty.send(junk);
        pause();
        std::vector<uint8_t> frame = sim.nextFrame();
        pty.send(frame);
        ++sent;
        ASSERT_TRUE(
            test::waitUntil([&] { return w->S.ReadingText == decodeAlone(frame).text; }, 3000))
            << "frame after junk " << i;
        pause();
    }
    EXPECT_GE(w->Serial->SerialFramesAssembled, sent);
    EXPECT_LE(w->S.FrameHex.size(), LongFrameChars);
    EXPECT_TRUE(messages.isEmpty()) << "no modal box for a bad frame";
}

TEST_F(SerialFramesEndToEnd, APulledAdapterIsReportedOnce) {
    pty.closeMaster();
    ASSERT_TRUE(test::waitUntil([&] { return lastHistory().contains("read failed"); }, 2000));
    test::waitUntil([] { return false; }, 300);
    int failures = 0;
    for (int i = 0; i < w->HistoryListBox->count(); ++i)
        failures += w->HistoryListBox->item(i)->text().contains("read failed") ? 1 : 0;
    EXPECT_EQ(failures, 1);
}

} // namespace
} // namespace rd780
