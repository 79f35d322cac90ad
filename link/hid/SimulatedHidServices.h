#pragma once
// A simulated USB cable with a meter behind it, speaking the cable protocol: the
// configuration feature report sets the cable's baud rate, each poll output report makes
// the meter send its next frame, and the meter's bytes come back in input reports of at
// most nine bytes, with reports without meter bytes between frames, paced like a real
// cable. Tests can plug and unplug devices, silence the meter, make reads fail, give the
// cable a serial number or add other HID devices. Devices of another services object
// (the real hidraw ones) can be listed alongside.
#include "link/capture/CaptureFile.h"
#include "link/hid/HidServices.h"
#include "meter/core/MeterSimulator.h"

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace rd780 {

struct SimDeviceConfig {
    std::uint16_t vendorId = 0x1A86;
    std::uint16_t productId = 0xE008;
    std::uint16_t version = 0x1200;
    std::u16string product = u"USB to Serial";
    std::u16string serial;                      // empty: the device has none
    std::vector<char16_t> languages = {0x0409}; // string 0
    std::uint16_t inputReportLength = 11;       // ID, count byte, nine meter bytes
    std::uint16_t outputReportLength = 9;
    std::uint16_t featureReportLength = 10;
    bool grantsReadWrite = true;
    bool hasMeter = true; // false: a HID device that never reports
    // Time between input reports; zero sends them as fast as they are read.
    std::chrono::microseconds reportInterval{4000};
    // Paced: reports are made on the cable's own schedule whether or not anyone reads,
    // and wait in a queue of PacedQueueLength like the kernel's; when it is full, new
    // reports (and the meter bytes in them) are dropped. Otherwise a report is made when
    // it is read, at most once per reportInterval.
    bool paced = false;
    // The meter's own update period: it answers a poll at most this often.
    std::chrono::milliseconds meterPeriod{150};
    std::uint32_t meterBaud = 9600; // the meter's line rate
    std::uint32_t seed = 780;
    // A captured cable instead of the meter: its input reports (report ID first) come back
    // as they were recorded, the first when first read and each next one after its
    // recorded interval divided by replaySpeed. Polls are taken and not needed.
    std::shared_ptr<const std::vector<CaptureRecord>> replay;
    double replaySpeed = 1;
};

class SimulatedHidServices : public HidServices {
public:
    static constexpr std::size_t PacedQueueLength = 64;

    explicit SimulatedHidServices(std::shared_ptr<HidServices> base = nullptr);
    ~SimulatedHidServices() override;

    // Adds a present device and returns its number. Tell the controller with plug().
    int addDevice(const SimDeviceConfig& config = {});
    void unplug(int id); // both notify the watcher on the GUI thread
    void plug(int id);   // a re-plugged device gets a new instance identity
    void notifyChange();

    void setMeterSilent(int id, bool silent);
    // Makes opening the read handle fail with `error` (0: reads work again).
    void setReadFailure(int id, std::uint32_t error);
    void setLongFrameInterval(int id, int n);

    // What the cable has seen.
    int polls(int id) const;
    int featureReports(int id) const;
    std::size_t lastFeatureLength(int id) const; // bytes of the last feature report
    std::uint32_t baud(int id) const;
    std::uint64_t reportsSent(int id) const;
    std::uint64_t reportsRead(int id) const;    // taken by a reader
    std::uint64_t reportsDropped(int id) const; // paced: lost to a full queue
    std::uint64_t framesSent(int id) const;
    // Runs on the GUI thread once a replayed capture has been read to its end (after the
    // handler of its last report).
    void setReplayEnded(std::function<void()> ended);
    std::string pathOf(int id) const;
    int openHandles() const;

    // HidServices
    std::vector<HidInterfaceEntry> enumerate() override;
    HidHandle open(const std::string& path, HidAccess access) override;
    void close(HidHandle h) override;
    bool getAttributes(HidHandle h, HidAttributes& out) override;
    bool getCaps(HidHandle h, HidCaps& out) override;
    bool setNumInputBuffers(HidHandle h, std::uint32_t count) override;
    bool getNumInputBuffers(HidHandle h, std::uint32_t& count) override;
    bool getProductString(HidHandle h, std::u16string& out) override;
    bool getSerialNumberString(HidHandle h, std::u16string& out) override;
    void getIndexedString(HidHandle h, int index, char16_t* buf, std::size_t words) override;
    bool setFeature(HidHandle h, const std::uint8_t* data, std::size_t length) override;
    bool write(HidHandle h, const std::uint8_t* data, std::size_t length,
               std::size_t& written) override;
    HidReadResult readReport(HidHandle h, std::uint8_t* buf, std::size_t length,
                             int timeoutMs) override;
    void wake(HidHandle h) override;
    std::uint32_t lastError() override;
    std::string errorText(std::uint32_t code) override;
    void watchChanges(std::function<void()> notify) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Device {
        SimDeviceConfig cfg;
        std::uint32_t instance = 0;
        bool present = true;
        bool silent = false;
        std::uint32_t readFailure = 0;
        std::uint32_t baud = 0;
        int polls = 0;
        int features = 0;
        std::size_t featureLength = 0;
        std::uint64_t reports = 0;
        MeterSimulator meter;
        std::vector<std::uint8_t> frame; // in flight on the meter's line
        std::size_t sent = 0;
        Clock::time_point lineStart{};
        Clock::time_point lastFrameAt{};
        Clock::time_point nextReport{};
        int pendingPolls = 0;
        std::uint64_t read = 0;
        std::uint64_t dropped = 0;
        std::deque<std::vector<std::uint8_t>> queue; // paced reports not read yet
        Clock::time_point nextPaced{};
        std::size_t replayNext = 0;
        Clock::time_point replayStart{};
        bool replayEnded = false;
        explicit Device(const SimDeviceConfig& c) : cfg(c), meter(c.seed) {}
    };
    struct Handle {
        int device = -1;
        HidAccess access = HidAccess::NoAccess;
        std::uint32_t inputBuffers = 32;
        bool woken = false;
    };
    static constexpr HidHandle FirstSimHandle = HidHandle(1) << 40;

    // A simulation may stand on another (a replayed cable beside the simulated meter): each
    // layer has its own paths and handles above those of the layers below.
    bool isBase(HidHandle h) const { return base_ && h >= 0 && h < firstHandle_; }
    Device* deviceOf(HidHandle h, Handle** handle = nullptr); // with mutex_ held
    bool fail(std::uint32_t code);
    void startFrameIfDue(Device& d, Clock::time_point now);
    void buildReport(Device& d, Clock::time_point now, std::uint8_t* buf, std::size_t length,
                     std::size_t& bytes);
    void makePacedReports(Device& d, Clock::time_point now);
    // With mutex_ held: the next replayed report if it is due, else when it will be.
    std::optional<Clock::time_point> replayReport(Device& d, Clock::time_point now,
                                                  std::uint8_t* buf, std::size_t length,
                                                  std::size_t& bytes);

    std::shared_ptr<HidServices> base_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<int, std::unique_ptr<Device>> devices_;
    std::map<HidHandle, Handle> handles_;
    int nextDevice_ = 1;
    int layer_ = 0;
    std::string prefix_;
    HidHandle firstHandle_ = FirstSimHandle;
    HidHandle nextHandle_ = FirstSimHandle;
    std::uint32_t nextInstance_ = 0x51000001;
    std::function<void()> notify_;
    std::function<void()> replayEnded_;
    std::unique_ptr<QObject> context_; // GUI-thread object the notifications are queued to
};

} // namespace rd780
