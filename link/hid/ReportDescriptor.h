#pragma once
// Report lengths from a HID report descriptor, counted the way the program expects them:
// the longest report of each kind in bytes plus one for the report ID byte, which is
// counted even when the device does not number its reports.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rd780 {

struct ReportLengths {
    std::uint16_t input = 0;
    std::uint16_t output = 0;
    std::uint16_t feature = 0;
    bool usesReportIds = false;
    bool valid = true; // false when the descriptor ends inside an item
};

ReportLengths parseReportDescriptor(const std::uint8_t* data, std::size_t size);
inline ReportLengths parseReportDescriptor(const std::vector<std::uint8_t>& d) {
    return parseReportDescriptor(d.data(), d.size());
}

// What udev tells about one hidraw node, mapped into the device's identity and strings.
struct UdevHidInfo {
    bool identified = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t version = 0;
    std::u16string product;
    std::u16string serial;
};

// `hid` holds the properties of the hid parent (HID_ID, HID_NAME, HID_UNIQ); `usb` the
// attributes of the USB device parent when there is one (product, serial, bcdDevice).
UdevHidInfo mapUdevProperties(const std::map<std::string, std::string>& hid,
                              const std::map<std::string, std::string>& usb);

// The identity of a connection: the same for the same node and initialisation time.
std::uint32_t instanceIdentity(const std::string& syspath, const std::string& initialized);

} // namespace rd780
