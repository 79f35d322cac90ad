#pragma once
// TSerialPortDriver: the receive-only serial port the window reads a meter through. It owns
// one port, opens it by number, sets the line, and reads it on the GUI thread, handing each
// batch of bytes to the bound receive handler. No thread of its own.
//
// The period (ComPortPollingDelay) paces the reads while bytes come and counts the quiet
// ticks after them; once IdleTicksKept of those have passed, the driver stops ticking and
// waits on the port's descriptor, so a silent line costs nothing. A port without a
// descriptor is looked at every tick.
#include "link/serial/SerialPortAccess.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace rd780 {

// Ordinals are used arithmetically (device number, data bits, parity, stop bits): keep the
// order.
enum TComPortNumber : uint8_t { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };
enum TComPortBaudRate : uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};
enum TComPortDataBits : uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum TComPortStopBits : uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum TComPortParity : uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TComPortHwHandshaking : uint8_t { hhNONE, hhRTSCTS };
enum TComPortSwHandshaking : uint8_t { shNONE, shXONXOFF };

inline constexpr std::array<uint32_t, 13> ComPortBaudTable = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

// The receive event, bound as an (object, method) pair. DataPtr points into the driver's
// receive buffer and is valid only during the call.
class TComPortReceiveDataEvent {
public:
    TComPortReceiveDataEvent() = default;
    template <class T>
    TComPortReceiveDataEvent(T* object, void (T::*method)(void*, const uint8_t*, int))
        : object_(object), call_([object, method](void* sender, const uint8_t* data, int size) {
              (object->*method)(sender, data, size);
          }) {}

    bool Assigned() const { return object_ != nullptr && static_cast<bool>(call_); }
    const void* Object() const { return object_; }
    void operator()(void* Sender, const uint8_t* DataPtr, int DataSize) const {
        if (Assigned()) call_(Sender, DataPtr, DataSize);
    }

private:
    const void* object_ = nullptr;
    std::function<void(void*, const uint8_t*, int)> call_;
};

class TSerialPortDriver : public QObject {
    Q_OBJECT

public:
    // port: the operating-system access; a Linux tty when not given.
    explicit TSerialPortDriver(QObject* owner = nullptr,
                               std::unique_ptr<SerialPortAccess> port = nullptr);
    ~TSerialPortDriver() override;
    TSerialPortDriver(const TSerialPortDriver&) = delete;
    TSerialPortDriver& operator=(const TSerialPortDriver&) = delete;

    // Opens the port (true at once when already open). A failed open is a false result;
    // LastOpenError() then tells which device and why.
    bool Connect();
    void Disconnect();
    bool Connected() const;
    void ApplyLineSettings();
    void PurgeQueues(bool Input, bool Output);
    // One timer tick: read what is waiting and hand it to OnReceiveData.
    void PollReceive();

    // Properties, with the assignment rules of the component.
    TComPortNumber ComPort() const { return comPort_; }
    void SetComPort(TComPortNumber v); // ignored while open
    TComPortBaudRate ComPortSpeed() const { return speed_; }
    void SetComPortSpeed(TComPortBaudRate v); // line properties apply at once while open
    void SetComPortDataBits(TComPortDataBits v);
    void SetComPortStopBits(TComPortStopBits v);
    void SetComPortParity(TComPortParity v);
    void SetComPortHwHandshaking(TComPortHwHandshaking v);
    void SetComPortSwHandshaking(TComPortSwHandshaking v);
    uint16_t ComPortInBufSize() const { return inBufSize_; }
    void SetComPortInBufSize(uint16_t v); // ignored while open
    uint16_t ComPortOutBufSize() const { return outBufSize_; }
    void SetComPortOutBufSize(uint16_t v); // ignored while open
    uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void SetComPortPollingDelay(uint16_t v);
    void SetEnableDTROnOpen(bool v) { enableDtr_ = v; } // takes effect at the next apply
    const TComPortReceiveDataEvent& OnReceiveData() const { return onReceive_; }
    void SetOnReceiveData(TComPortReceiveDataEvent e) { onReceive_ = std::move(e); }

    // A tick of an open port that brought no byte: the pause that ends a run of bytes.
    // After bytes (or Connect) at least IdleTicksKept of them come before the driver waits
    // for the next byte without ticking.
    std::function<void()> OnIdlePoll;
    static constexpr int IdleTicksKept = 8;
    // The first failed read after good ones (an adapter pulled out, say), with the reason;
    // while reads keep failing, only a changed reason is said again.
    // The port is then closed and the same device is tried again at every tick until it
    // opens (the adapter plugged back in under the same name), unless the name cannot lead
    // back to it (a pseudo-terminal's own): then the port stays closed, not waiting.
    std::function<void(const std::string&)> OnReadError;
    // The device is back after a failed read: opened, set up as on Connect, and read.
    std::function<void()> OnDeviceBack;
    // Closed after a failed read, and trying the device again at every tick.
    bool WaitingForDevice() const { return waitingForDevice_; }

    // Device opened for each port number; pnCOM1..pnCOM4 are /dev/ttyS0..3 unless changed.
    const std::string& PortDevice(TComPortNumber n) const { return devices_[n]; }
    void SetPortDevice(TComPortNumber n, std::string device) { devices_[n] = std::move(device); }
    // "<device>: <reason>" of the last failed open; empty after a good one.
    const std::string& LastOpenError() const { return lastOpenError_; }
    // The line as ApplyLineSettings passes it to the port.
    SerialLineSettings LineSettings() const;

    // The period timer runs: after Connect, while bytes come and for the quiet ticks after
    // them, and while the device is being looked for.
    bool PollTimerActive() const;
    int PollTimerInterval() const;
    SerialPortAccess& Port() { return *port_; }

private:
    void applyIfOpen();
    void startTimer();
    void watchDescriptor();
    void dropNotifier();
    void readable();
    void receive(bool tick);

    std::unique_ptr<SerialPortAccess> port_;
    TComPortNumber comPort_ = pnCOM2;
    TComPortBaudRate speed_ = br9600;
    TComPortDataBits dataBits_ = db8BITS;
    TComPortStopBits stopBits_ = sb1BITS;
    TComPortParity parity_ = ptNONE;
    TComPortHwHandshaking hw_ = hhNONE;
    TComPortSwHandshaking sw_ = shNONE;
    uint16_t inBufSize_ = 2048;
    uint16_t outBufSize_ = 2048;
    TComPortReceiveDataEvent onReceive_;
    uint16_t pollingDelay_ = 50;
    bool enableDtr_ = true;
    QTimer* timer_ = nullptr;
    QSocketNotifier* notifier_ = nullptr; // while open on a port with a descriptor
    int quietTicks_ = 0;
    std::vector<uint8_t> buffer_;
    std::array<std::string, 4> devices_{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};
    std::string lastOpenError_;
    bool inPoll_ = false;
    bool readFailing_ = false;
    std::string lastReadError_; // the failure last said, while readFailing_
    bool waitingForDevice_ = false;
};

} // namespace rd780
