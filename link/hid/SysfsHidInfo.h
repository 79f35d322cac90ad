#pragma once
// What sysfs tells about one hidraw node: the HID device's identity and report lengths,
// and the strings of the USB device it belongs to. Plain files only, so it can be read
// from a copy of the tree as well as from /sys.
#include "link/hid/ReportDescriptor.h"

#include <filesystem>
#include <sys/types.h>

namespace rd780 {

struct SysfsHidInfo {
    bool found = false; // false when the tree has no such character device
    UdevHidInfo info;
    ReportLengths lengths;
};

// The node with device number `device` under sysRoot (normally "/sys"): the link
// dev/char/MAJOR:MINOR leads to the hidraw node, whose "device" is the HID device with
// its uevent and report_descriptor; the nearest ancestor with an idVendor file is the USB
// device with product, serial and bcdDevice.
SysfsHidInfo readSysfsHidInfo(const std::filesystem::path& sysRoot, dev_t device);

} // namespace rd780
