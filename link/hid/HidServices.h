#pragma once
// The platform operations the HID device and its controller rely on, behind one small
// interface: hidraw and udev on Linux, or a simulated cable with a meter behind it.
// Handles are small numbers that are never reused while the services live, so a handle
// closed by one thread can never name a device opened later by another.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rd780 {

using HidHandle = std::int64_t;
constexpr HidHandle InvalidHidHandle = -1;

enum class HidAccess { ReadWrite, NoAccess, ReadOnly };

struct HidAttributes {
    std::uint32_t Size = 12;
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

struct HidCaps {
    std::uint16_t InputReportByteLength = 0;  // report ID byte included
    std::uint16_t OutputReportByteLength = 0; // report ID byte included
    std::uint16_t FeatureReportByteLength = 0;
};

// One present HID interface as the enumeration finds it.
struct HidInterfaceEntry {
    std::string path;
    std::uint32_t instance = 0; // same while connected, new after a reconnect
};

enum class HidReadStatus { Completed, TimedOut, Failed };
struct HidReadResult {
    HidReadStatus status = HidReadStatus::TimedOut;
    std::size_t bytes = 0;   // with Completed: report ID byte included
    std::uint32_t error = 0; // with Failed
};

class HidServices {
public:
    virtual ~HidServices() = default;

    virtual std::vector<HidInterfaceEntry> enumerate() = 0;

    // InvalidHidHandle on failure; lastError() tells why.
    virtual HidHandle open(const std::string& path, HidAccess access) = 0;
    // Safe while another thread waits in readReport on the handle: that wait ends with
    // Failed and the underlying file is released only once nobody uses it any more.
    virtual void close(HidHandle h) = 0;

    virtual bool getAttributes(HidHandle h, HidAttributes& out) = 0;
    virtual bool getCaps(HidHandle h, HidCaps& out) = 0;
    virtual bool setNumInputBuffers(HidHandle h, std::uint32_t count) = 0;
    virtual bool getNumInputBuffers(HidHandle h, std::uint32_t& count) = 0;
    // Strings are NUL-free UTF-16; false when the device has none or cannot say.
    virtual bool getProductString(HidHandle h, std::u16string& out) = 0;
    virtual bool getSerialNumberString(HidHandle h, std::u16string& out) = 0;
    // Writes what the device gives for string `index` into buf (at most words words);
    // leaves the rest as the caller filled it.
    virtual void getIndexedString(HidHandle h, int index, char16_t* buf, std::size_t words) = 0;
    virtual bool setFeature(HidHandle h, const std::uint8_t* data, std::size_t length) = 0;
    virtual bool write(HidHandle h, const std::uint8_t* data, std::size_t length,
                       std::size_t& written) = 0;

    // Waits at most timeoutMs for one input report; the report ID is always byte 0.
    virtual HidReadResult readReport(HidHandle h, std::uint8_t* buf, std::size_t length,
                                     int timeoutMs) = 0;
    // Ends a wait in readReport on h early (with TimedOut); a wake before the wait
    // starts ends the next wait at once.
    virtual void wake(HidHandle h) = 0;

    // Error code of the calling thread's last failure, and a text for a code.
    virtual std::uint32_t lastError() = 0;
    virtual std::string errorText(std::uint32_t code);

    // Device-change notifications. `notify` runs on the thread that owns the services'
    // watcher (the GUI thread); an empty function stops watching.
    virtual void watchChanges(std::function<void()> notify) = 0;
};

// Length of the configuration feature report: as the device declares it, 10 when it
// declares none.
inline std::size_t featureReportLength(const HidCaps& caps) {
    return caps.FeatureReportByteLength != 0 ? caps.FeatureReportByteLength : 10;
}

// The services the program uses: Linux hidraw, plus the simulated cable when asked.
std::shared_ptr<HidServices> makeLinuxHidServices();

} // namespace rd780
