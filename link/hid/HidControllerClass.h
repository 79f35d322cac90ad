#pragma once
// HID devices, their read threads and the controller that finds, lists, lends and takes
// back devices. Nothing here knows about meters or cables.
//
// Threads: everything runs on the GUI thread except the body of each device's read
// thread, which only reads reports and hands them (and read errors) to the GUI thread in
// batches; the GUI thread runs the handler for each, in order.
#include "link/hid/HidEvent.h"
#include "link/hid/HidServices.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace rd780 {

class THidDevice;
class THidDeviceController;

// Raised only while a controller or a device is being constructed.
class EControllerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using THidPlugEvent = HidEventT<void, THidDevice*>;
using THidEnumerateEvent = HidEventT<bool, THidDevice*, std::int32_t>;
using THidDataEvent =
    HidEventT<void, THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t>;
using THidDataErrorEvent = HidEventT<void, THidDevice*, std::uint32_t>;
using TNotifyEvent = HidEventT<void, QObject*>;
// Tells a report that carries nothing new (the handler's report ID, data and size).
using THidQuietReport = std::function<bool(std::uint8_t, const std::uint8_t*, std::size_t)>;

// What the enumeration says about one interface.
class THidPnPInfo {
public:
    THidPnPInfo(std::string path, std::uint32_t instance)
        : DevicePath(std::move(path)), DevInst(instance) {}
    const std::string DevicePath;
    const std::uint32_t DevInst;
};

// Reads one device's input reports on its own thread. Created and stopped by the device
// on the GUI thread.
class THidDeviceReadThread {
public:
    THidDeviceReadThread(THidDevice* device, std::size_t inputReportLength,
                         THidQuietReport quiet = {});
    ~THidDeviceReadThread(); // stops the thread
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    void Start();
    // Asks the thread to end and waits for it; what it read but did not hand over yet is
    // handed over before it returns (dropped when handOver is false), and nothing is
    // delivered after. Called from inside one of this thread's own deliveries, it does not
    // wait, the thread ends on its own and nothing more is delivered.
    void Stop(bool handOver = true);

    std::uint32_t LastError() const;
    std::uint64_t Deliveries() const; // reports and errors handed over so far
    std::uint64_t Batches() const;    // hand-overs that handed some over
    std::uint64_t Wakeups() const;    // of them, those the reader woke the GUI thread for
    // Waits, without running the event loop, until the reader has queued a delivery that
    // the GUI thread has not run yet; false when none came in time.
    bool WaitForQueuedDelivery(std::chrono::milliseconds timeout) const;
    // GUI thread: hands over at once what the reader has queued, as the next batch would.
    void HandOverQueued();

    struct Shared; // state shared between the GUI thread and the reader

private:
    std::shared_ptr<Shared> s_;
    std::thread thread_;
    std::unique_ptr<QObject> port_; // lives on the GUI thread; receives the hand-overs
};

class THidDevice {
public:
    // Opens the interface to identify it; EControllerError when that fails.
    THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller);
    // Releasing the object is the check-in: see THidDeviceController.
    ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    bool CanOpen() const;
    bool OpenMainHandle();
    void CloseMainHandle();
    bool OpenReadHandle();
    void CloseReadHandle();
    HidCaps QueryCaps();

    std::u16string ProductText();
    std::u16string SerialText();
    const HidAttributes& Attributes() const { return attributes_; }
    std::uint16_t VendorID() const { return attributes_.VendorID; }
    std::uint16_t ProductID() const { return attributes_.ProductID; }
    bool HasReadWriteAccess() const { return readWrite_; }

    bool SendFeatureReport(const std::uint8_t* buffer, std::size_t length);
    bool WriteOutputReport(const std::uint8_t* buffer, std::size_t length, std::size_t& written);

    void SetDataHandler(const THidDataEvent& handler);
    const THidDataEvent& DataHandler() const { return dataHandler_; }
    void SetDataErrorHandler(const THidDataErrorEvent& h) { dataErrorHandler_ = h; }
    const THidDataErrorEvent& DataErrorHandler() const { return dataErrorHandler_; }
    void SetUnplugHandler(const THidPlugEvent& h) { unplugHandler_ = h; }
    const THidPlugEvent& UnplugHandler() const { return unplugHandler_; }

    void StartReading();
    // What the reader read is handed over first unless handOverRead is false (a meter
    // given up on: nothing more reaches the handler).
    void StopReading(bool handOverRead = true);
    // GUI thread: runs the handler now for what the reader has read and not handed over.
    void HandOverReports();
    bool IsReading() const { return readThread_ != nullptr; }
    THidDeviceReadThread* ReadThread() const { return readThread_.get(); }
    void SetReadSleepTime(int ms);
    // Reports that carry nothing new wait for the next hand-over instead of waking the
    // GUI thread, and the first of them after others hands those over at once. Takes
    // effect when reading starts.
    void SetQuietReport(THidQuietReport quiet) { quiet_ = std::move(quiet); }
    int ReadSleepTime() const { return readSleepTime_.load(); }
    void MarkUnplugged();

    // Used by the read thread.
    bool ReadReportAsync(std::uint8_t* buffer, std::size_t length, std::uint32_t& error);
    // Waits up to timeoutMs for one report.
    HidReadResult AwaitReport(std::uint8_t* buffer, std::size_t length, int timeoutMs);
    void CancelPendingRead();

    bool IsPluggedIn() const { return pluggedIn_.load(); }
    bool IsCheckedOut() const { return checkedOut_.load(); }
    bool IsEnumerating() const { return enumerating_.load(); }
    const THidPnPInfo* PnPInfo() const { return pnp_.get(); }
    THidDeviceController* Controller() const { return controller_; }

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;
    HidHandle openPath(HidAccess access);
    void deliverReport(const std::uint8_t* buffer, std::size_t bytes);
    void deliverError(std::uint32_t error);

    THidDeviceController* controller_;
    std::shared_ptr<HidServices> services_;
    std::atomic<bool> pluggedIn_{true};
    std::atomic<bool> checkedOut_{false};
    std::atomic<bool> enumerating_{false};
    HidHandle mainHandle_ = InvalidHidHandle;
    // The read handle is opened by the read thread and closed by the GUI thread.
    mutable std::mutex readHandleMutex_;
    HidHandle readHandle_ = InvalidHidHandle;
    HidAttributes attributes_;
    std::unique_ptr<THidPnPInfo> pnp_;
    std::u16string productText_;
    bool capsFetched_ = false;
    HidCaps caps_;
    std::u16string serialText_;
    std::uint32_t mainInputBuffers_ = 0;
    std::uint32_t readInputBuffers_ = 0;
    std::atomic<int> readSleepTime_{100};
    THidDataEvent dataHandler_;
    THidDataErrorEvent dataErrorHandler_;
    THidPlugEvent unplugHandler_;
    THidQuietReport quiet_;
    bool readWrite_ = false;
    std::unique_ptr<THidDeviceReadThread> readThread_;
};

class THidDeviceController : public QObject {
    Q_OBJECT
public:
    // Services may be null: the controller then has no devices and fires no events.
    explicit THidDeviceController(QObject* owner, std::shared_ptr<HidServices> services);
    ~THidDeviceController() override;

    int DevThreadSleepTime() const { return devThreadSleepTime_; }
    void SetDevThreadSleepTime(int ms);
    QString Version() const { return QStringLiteral("1.0.22"); }
    void SetVersion(const QString&) {} // accepted and discarded

    void SetOnArrival(const THidPlugEvent& e) { onArrival_ = e; }
    void SetOnEnumerate(const THidEnumerateEvent& e) { onEnumerate_ = e; }
    void SetOnDeviceChange(const TNotifyEvent& e);
    void SetOnDeviceData(const THidDataEvent& e);
    void SetOnDeviceDataError(const THidDataErrorEvent& e);
    void SetOnDeviceUnplug(const THidPlugEvent& e);
    void SetOnRemoval(const THidPlugEvent& e) { onRemoval_ = e; }

    std::vector<std::unique_ptr<THidDevice>> RescanDevices();
    void DeviceChange();
    std::int32_t EnumerateDevices();
    bool CheckOutAt(int index, THidDevice*& device);

    int Count() const { return static_cast<int>(list_.size()); }
    THidDevice* At(int index) const { return list_.at(static_cast<std::size_t>(index)); }
    const std::shared_ptr<HidServices>& Services() const { return services_; }

private:
    friend class THidDevice;

    std::shared_ptr<HidServices> services_;
    int devThreadSleepTime_ = 100;
    THidPlugEvent onArrival_;
    THidEnumerateEvent onEnumerate_;
    TNotifyEvent onDeviceChange_;
    THidDataEvent onDeviceData_;
    THidDataErrorEvent onDeviceDataError_;
    THidPlugEvent onDeviceUnplug_;
    THidPlugEvent onRemoval_;
    std::vector<THidDevice*> list_; // owned, except checked-out entries
    bool changeFired_ = false;
    bool counted_ = false;
};

} // namespace rd780
