#include "link/serial/SerialPortDriver.h"

#include "link/serial/TtySerialPort.h"

#include <QSocketNotifier>
#include <QTimer>

namespace rd780 {

TSerialPortDriver::TSerialPortDriver(QObject* owner, std::unique_ptr<SerialPortAccess> port)
    : QObject(owner), port_(port ? std::move(port) : std::make_unique<TtySerialPort>()),
      timer_(new QTimer(this)), buffer_(inBufSize_) {
    // Ticks come through the GUI thread's event loop; a slow handler delays the next tick
    // rather than queueing several.
    connect(timer_, &QTimer::timeout, this, &TSerialPortDriver::PollReceive);
}

TSerialPortDriver::~TSerialPortDriver() {
    Disconnect();
}

bool TSerialPortDriver::Connected() const {
    return port_->isOpen();
}

bool TSerialPortDriver::Connect() {
    if (Connected()) return true;
    if (waitingForDevice_) {
        waitingForDevice_ = false;
        timer_->stop();
    }
    const std::string& device = devices_[comPort_];
    if (!port_->open(device)) {
        lastOpenError_ = device + ": " + port_->error();
        return false;
    }
    lastOpenError_.clear();
    readFailing_ = false;
    lastReadError_.clear();
    ApplyLineSettings();
    watchDescriptor();
    startTimer();
    return true;
}

void TSerialPortDriver::dropNotifier() {
    if (!notifier_) return;
    // Later: a handler run from the notifier's own signal may be what closes the port.
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
}

void TSerialPortDriver::watchDescriptor() {
    dropNotifier();
    const int fd = port_->descriptor();
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    notifier_->setEnabled(false); // the timer looks while it runs
    connect(notifier_, &QSocketNotifier::activated, this, &TSerialPortDriver::readable);
}

void TSerialPortDriver::readable() {
    // The line wakes up: read at once, then at the period while it stays busy.
    if (notifier_) notifier_->setEnabled(false);
    if (!timer_->isActive()) startTimer();
    receive(false);
}

void TSerialPortDriver::Disconnect() {
    if (waitingForDevice_) {
        waitingForDevice_ = false;
        timer_->stop();
    }
    if (!Connected()) return;
    timer_->stop();
    dropNotifier();
    port_->close();
}

SerialLineSettings TSerialPortDriver::LineSettings() const {
    SerialLineSettings s;
    s.baud = ComPortBaudTable[speed_];
    s.dataBits = 5 + dataBits_;
    s.parity = static_cast<SerialParity>(parity_);
    s.stopBits = static_cast<SerialStopBits>(stopBits_);
    s.dtr = enableDtr_;
    s.rtsCts = hw_ == hhRTSCTS;
    s.xonXoff = sw_ == shXONXOFF;
    s.xonLim = static_cast<uint16_t>(inBufSize_ / 4);
    s.xoffLim = 1;
    return s;
}

void TSerialPortDriver::ApplyLineSettings() {
    if (!Connected()) return;
    port_->configure(LineSettings());
    PurgeQueues(true, true);
    // Queue sizes are only a recommendation; a Linux tty's buffers are the kernel's.
}

void TSerialPortDriver::PurgeQueues(bool Input, bool Output) {
    if (!Connected()) return;
    port_->purge(Input, Output);
}

void TSerialPortDriver::PollReceive() {
    receive(true);
}

void TSerialPortDriver::receive(bool tick) {
    if (waitingForDevice_) {
        // Quietly: the failure was said once; the device comes back when it comes back.
        // It counts as back once a read works: a device that opens but fails every read is
        // not said to be back and failed again at every retry.
        if (!port_->open(devices_[comPort_])) return;
        waitingForDevice_ = false;
        ApplyLineSettings();
        watchDescriptor();
        quietTicks_ = 0;
        return;
    }
    if (!Connected()) return;
    // A handler that opens a nested event loop (a message box) must not have its bytes
    // overwritten by the next tick reading into the same buffer.
    if (inPoll_) return;
    inPoll_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inPoll_};

    long n = port_->readAvailable(buffer_.data(), buffer_.size());
    if (n < 0) {
        const std::string why = devices_[comPort_] + ": " + port_->error();
        // A hung-up tty stays hung up: only a new open of the device reads again. A name
        // that now leads to someone else's line (a pseudo-terminal's) is not opened again:
        // its bytes and its lock are not ours.
        const bool returns = port_->returnsUnderItsName();
        dropNotifier();
        port_->close();
        waitingForDevice_ = returns;
        if (!returns)
            timer_->stop();
        else if (!timer_->isActive())
            startTimer(); // to look for the device again
        // Said once, and again only when the reason changes.
        const bool news = !readFailing_ || why != lastReadError_;
        readFailing_ = true;
        lastReadError_ = why;
        if (news && OnReadError) OnReadError(why);
        return;
    }
    if (readFailing_) {
        readFailing_ = false;
        lastReadError_.clear();
        if (OnDeviceBack) OnDeviceBack();
    }
    if (n == 0) {
        if (!tick) return;
        if (OnIdlePoll) OnIdlePoll();
        // Nothing pending any more: sleep until the descriptor says a byte came.
        if (notifier_ && ++quietTicks_ >= IdleTicksKept && Connected()) {
            timer_->stop();
            notifier_->setEnabled(true);
        }
        return;
    }
    quietTicks_ = 0;
    onReceive_(this, buffer_.data(), static_cast<int>(n));
}

void TSerialPortDriver::SetComPort(TComPortNumber v) {
    if (Connected()) return;
    comPort_ = v;
}

void TSerialPortDriver::startTimer() {
    quietTicks_ = 0;
    if (notifier_) notifier_->setEnabled(false);
    // A zero period would poll on every pass of the event loop and spin the CPU.
    timer_->start(pollingDelay_ == 0 ? 1 : pollingDelay_);
}

void TSerialPortDriver::applyIfOpen() {
    if (Connected()) ApplyLineSettings();
}

void TSerialPortDriver::SetComPortSpeed(TComPortBaudRate v) {
    speed_ = v;
    applyIfOpen();
}
void TSerialPortDriver::SetComPortDataBits(TComPortDataBits v) {
    dataBits_ = v;
    applyIfOpen();
}
void TSerialPortDriver::SetComPortStopBits(TComPortStopBits v) {
    stopBits_ = v;
    applyIfOpen();
}
void TSerialPortDriver::SetComPortParity(TComPortParity v) {
    parity_ = v;
    applyIfOpen();
}
void TSerialPortDriver::SetComPortHwHandshaking(TComPortHwHandshaking v) {
    hw_ = v;
    applyIfOpen();
}
void TSerialPortDriver::SetComPortSwHandshaking(TComPortSwHandshaking v) {
    sw_ = v;
    applyIfOpen();
}

void TSerialPortDriver::SetComPortInBufSize(uint16_t v) {
    if (Connected()) return;
    inBufSize_ = v;
    buffer_.assign(v, 0);
    buffer_.shrink_to_fit();
}

void TSerialPortDriver::SetComPortOutBufSize(uint16_t v) {
    if (Connected()) return;
    outBufSize_ = v;
}

void TSerialPortDriver::SetComPortPollingDelay(uint16_t v) {
    if (v == pollingDelay_) return;
    pollingDelay_ = v;
    if (Connected()) {
        timer_->stop();
        startTimer();
    }
}

bool TSerialPortDriver::PollTimerActive() const {
    return timer_->isActive();
}
int TSerialPortDriver::PollTimerInterval() const {
    return timer_->interval();
}

} // namespace rd780
