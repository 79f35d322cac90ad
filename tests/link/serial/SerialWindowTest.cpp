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
#include "session/MeterSession.h"
#include "tests/TestSupport.h"
#include "tests/link/serial/PtyPair.h"
#include "view/HistoryList.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
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
        const int row = w->HistoryListBox->currentRow();
        return row >= 0 ? w->HistoryListBox->text(row) : QString();
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

TEST_F(SerialWindow, ConnectWithNoDeviceKeepsConnectAndSaysWhy) {
    w.reset();
    open("/nonexistent/rd780-tty");
    const Controls before = controls(*w);
    ASSERT_TRUE(before.btConShown);
    w->Serial->BTCon->click();
    // Nothing opened: the panels must not claim a connection.
    EXPECT_EQ(controls(*w), before);
    EXPECT_FALSE(w->Serial->COMM2->Connected());
    EXPECT_FALSE(w->Serial->COMM2->PollTimerActive());
    EXPECT_TRUE(messages.isEmpty()) << "no modal box for a failed open";
    EXPECT_TRUE(lastHistory().contains("/nonexistent/rd780-tty")) << lastHistory().toStdString();
    EXPECT_TRUE(lastHistory().contains("No such file")) << lastHistory().toStdString();
    EXPECT_EQ(w->Serial->SerialNote->text(), lastHistory()) << "also shown beside the panel";

    // The STOP item still closes cleanly.
    w->STOP1->trigger();
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

// A pseudo-terminal that hung up never comes back, and its name goes to the next one opened
// anywhere on the machine: opening that name again would take another program's line.
TEST_F(SerialWindow, AClosedPseudoTerminalIsNotOpenedAgainUnderItsName) {
    w->Serial->BTCon->click();
    ASSERT_TRUE(w->Serial->COMM2->Connected()) << pty.holders();
    pty.closeMaster();
    ASSERT_TRUE(test::waitUntil([&] { return lastHistory().contains("read failed"); }, 5000));
    EXPECT_TRUE(lastHistory().endsWith("; a pseudo-terminal does not come back"))
        << lastHistory().toStdString();
    EXPECT_EQ(w->Serial->SerialNote->text(), lastHistory());
    EXPECT_FALSE(w->Serial->COMM2->WaitingForDevice());
    EXPECT_FALSE(w->Serial->COMM2->PollTimerActive()) << "no tick left to try the name";
    EXPECT_EQ(controls(*w), ShownClosed) << "Connect shows again";
    PtyPair next; // most often given the same name
    w->Serial->COMM2->PollReceive();
    EXPECT_FALSE(w->Serial->COMM2->Connected());
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
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
    // The next frame is the first one decoded: the dropped half completed nothing.
    std::vector<uint8_t> next = sim.nextFrame();
    pty.send(next);
    ASSERT_TRUE(test::waitUntil([&] { return long(w->Session->frames()) > 0; }, 5000));
    EXPECT_EQ(long(w->Session->frames()), 1);
    EXPECT_EQ(w->S.FrameHex.substr(0, 82), [&] {
        std::string h;
        appendHex(h, next.data(), next.size());
        return h;
    }());
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
        ASSERT_TRUE(w->Serial->COMM2->Connected())
            << lastHistory().toStdString() << "; " << pty.holders();
    }
    // Waits for the n-th decoded frame.
    bool waitFrames(long n) {
        return test::waitUntil([&] { return long(w->Session->frames()) >= n; }, 5000);
    }
};

TEST_F(SerialFramesEndToEnd, FramesBecomeReadingsAndRows) {
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
    }
    EXPECT_EQ(long(w->Session->frames()), 7) << "each frame decoded once";

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

// Plays the meter on the master side from a thread of its own, one byte every `gap`, with
// no pause between frames: the program's poll ticks fall anywhere in the stream.
class PacedLine {
public:
    PacedLine(int master, std::vector<uint8_t> bytes, std::chrono::microseconds gap)
        : thread_([this, master, bytes = std::move(bytes), gap] {
              auto due = std::chrono::steady_clock::now();
              for (uint8_t b : bytes) {
                  if (stop_) return;
                  due += gap;
                  std::this_thread::sleep_until(due); // the line's pace, not a wait for us
                  if (::write(master, &b, 1) != 1) failed_ = true;
              }
              done_ = true;
          }) {}
    ~PacedLine() {
        stop_ = true;
        thread_.join();
    }
    bool done() const { return done_; }
    bool failed() const { return failed_; }

private:
    std::atomic<bool> stop_{false}, done_{false}, failed_{false};
    std::thread thread_;
};

TEST_F(SerialFramesEndToEnd, BackToBackAtLineSpeedAndNoiseBeforeFramesGiveOneRowPerFrame) {
    sim.setLongFrameInterval(0);
    sim.setFramesPerReading(1);
    std::mt19937 rng(11);
    std::vector<uint8_t> line;
    std::vector<std::string> texts;
    for (int i = 0; i < 80; ++i) {
        if (i >= 60) { // 1 to 50 noise bytes before each of the last 20 frames
            const std::size_t n = 1 + rng() % 50;
            for (std::size_t k = 0; k < n; ++k)
                line.push_back(k % 5 == 0 ? 0x5A : static_cast<uint8_t>(rng()));
        }
        const std::vector<uint8_t> frame = sim.nextFrame();
        texts.push_back(decodeAlone(frame).text);
        line.insert(line.end(), frame.begin(), frame.end());
    }
    const auto rowsBefore = w->Recording->Rec->Table.rowCount();
    {
        // 2400 baud, ten bits a byte: 4.2 ms a byte.
        PacedLine meter(pty.master(), line, std::chrono::microseconds(4167));
        ASSERT_TRUE(test::waitUntil([&] { return meter.done(); }, 60000));
        ASSERT_FALSE(meter.failed());
    }
    ASSERT_TRUE(test::waitUntil([&] { return long(w->Session->frames()) >= 80; }, 5000))
        << long(w->Session->frames()) << " frames decoded";
    EXPECT_EQ(long(w->Session->frames()), 80);
    const ReadingTable& table = w->Recording->Rec->Table;
    ASSERT_EQ(table.rowCount(), rowsBefore + 80);
    for (uint32_t r = 0; r < 80; ++r)
        EXPECT_EQ(table.displayRow(rowsBefore + r, true)[3], texts[r]) << "row " << r;
}

TEST_F(SerialFramesEndToEnd, FramesHeldInThePortByAStalledWindowAllArrive) {
    // Two seconds' worth at 2400 baud, written while the window runs no event: the bytes
    // wait in the port and come in one read.
    sim.setLongFrameInterval(4);
    std::vector<uint8_t> line;
    std::vector<std::string> texts;
    while (line.size() < 480) {
        const std::vector<uint8_t> frame = sim.nextFrame();
        texts.push_back(decodeAlone(frame).text);
        line.insert(line.end(), frame.begin(), frame.end());
    }
    pty.send(line);
    const long n = static_cast<long>(texts.size());
    ASSERT_TRUE(waitFrames(n));
    EXPECT_EQ(long(w->Session->frames()), n);
    EXPECT_EQ(w->S.ReadingText, texts.back());
    EXPECT_EQ(w->Recording->Rec->Table.rowCount(), static_cast<uint32_t>(n));
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
        std::vector<uint8_t> frame = sim.nextFrame();
        pty.send(frame);
        ++sent;
        ASSERT_TRUE(waitFrames(sent)) << "frame after junk " << i;
        EXPECT_EQ(w->S.ReadingText, decodeAlone(frame).text) << "frame after junk " << i;
    }
    EXPECT_EQ(long(w->Session->frames()), sent);
    EXPECT_TRUE(messages.isEmpty()) << "no modal box for a bad frame";
}

// A window whose serial port is a named node, as a USB serial adapter's is. The name is a
// symbolic link to a pseudo-terminal that a test can remove and point anew: a pulled adapter's
// node disappears with it, and a pseudo-terminal's own name would soon be given to another
// one, which the driver's retries would then open.
struct NamedSerialWindow : ::testing::Test {
    QTemporaryDir dir;
    QString oldDir = QDir::currentPath();
    std::string node;
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    // The adapter plugged back in; it goes after the window, which may still look for it.
    std::unique_ptr<PtyPair> replugged;
    QStringList messages;
    std::unique_ptr<TFCOMM> w;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir::setCurrent(dir.path());
        node = dir.filePath("ttyUSB0").toStdString();
        ASSERT_EQ(::symlink(pty->slavePath().c_str(), node.c_str()), 0);
        ProgramOptions o;
        o.serialPort = QString::fromStdString(node);
        o.messageHook = [this](const QString& m) { messages << m; };
        w = std::make_unique<TFCOMM>(o);
        w->Serial->BTCon->click();
        ASSERT_TRUE(w->Serial->COMM2->Connected()) << pty->holders();
    }
    void TearDown() override {
        w.reset();
        QDir::setCurrent(oldDir);
    }
    void pull() {
        ASSERT_EQ(::unlink(node.c_str()), 0);
        pty.reset();
    }
    QString lastHistory() const {
        const int row = w->HistoryListBox->currentRow();
        return row >= 0 ? w->HistoryListBox->text(row) : QString();
    }
};

TEST_F(NamedSerialWindow, APulledAdapterIsReportedOnce) {
    pull();
    ASSERT_TRUE(test::waitUntil([&] { return lastHistory().contains("read failed"); }, 5000));
    EXPECT_TRUE(w->Serial->COMM2->WaitingForDevice());
    // The driver goes on trying the device at every tick; none of those says anything.
    const long failedOpens = 6;
    int ticks = 0;
    QObject::connect(w->Serial->COMM2->findChild<QTimer*>(), &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(test::waitUntil([&] { return ticks >= failedOpens; }, 5000));
    int failures = 0;
    for (int i = 0; i < w->HistoryListBox->count(); ++i)
        failures += w->HistoryListBox->text(i).contains("read failed") ? 1 : 0;
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(NamedSerialWindow, ReadingResumesByItselfWhenTheDeviceReturns) {
    MeterSimulator sim(5);
    sim.setLongFrameInterval(0);
    const std::vector<uint8_t> before = sim.nextFrame();
    pty->send(before);
    ASSERT_TRUE(test::waitUntil([&] { return long(w->Session->frames()) == 1; }, 5000));

    // Pulled out, with half a frame sent.
    pty->send(sim.nextFrame().data(), 20);
    pull();
    ASSERT_TRUE(test::waitUntil([&] { return w->Serial->COMM2->WaitingForDevice(); }, 5000));
    const QString lost = w->HistoryListBox->text(w->HistoryListBox->currentRow());
    EXPECT_TRUE(lost.contains("read failed")) << lost.toStdString();
    EXPECT_EQ(w->Serial->SerialNote->text(), lost);
    EXPECT_TRUE(w->Meter->CONok->isHidden()) << "the link lamp goes out";
    EXPECT_FALSE(w->Serial->BtDiscon->isHidden()) << "still meant to be connected";

    // Plugged back in: the same name leads to a new device.
    replugged = std::make_unique<PtyPair>();
    PtyPair& second = *replugged;
    ASSERT_EQ(::symlink(second.slavePath().c_str(), node.c_str()), 0);
    ASSERT_TRUE(test::waitUntil([&] { return w->Serial->COMM2->Connected(); }, 5000));
    EXPECT_TRUE(w->HistoryListBox->text(w->HistoryListBox->currentRow()).contains("back"));
    const std::vector<uint8_t> after = sim.nextFrame();
    second.send(after);
    ASSERT_TRUE(test::waitUntil([&] { return long(w->Session->frames()) == 2; }, 5000));
    EXPECT_EQ(w->S.FrameHex.substr(0, 82), [&] {
        std::string h;
        appendHex(h, after.data(), after.size());
        return h;
    }()) << "the half frame from before did not join it";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

} // namespace
} // namespace rd780
