#include "FakeSysfs.h"

#include <fstream>
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

namespace rd780::test {

FakeSysfsCable::FakeSysfsCable(const std::vector<std::uint8_t>& descriptor,
                               const std::optional<std::string>& serial) {
    char name[128] = {};
    termios raw{};
    cfmakeraw(&raw);
    ok_ = ::openpty(&master_, &slave_, name, &raw, nullptr) == 0;
    node_ = name;
    struct stat st {};
    ok_ = ok_ && ::stat(name, &st) == 0;
    namespace fs = std::filesystem;
    const fs::path root = dir_.path().toStdString();
    // As on a real machine, the cable hangs off a hub, and the hub off the root hub: both
    // are USB devices with strings of their own, which are not the cable's.
    const fs::path rootHub = root / "devices/pci0000:00/0000:00:14.0/usb1";
    const fs::path hub = rootHub / "1-2";
    const fs::path usb = hub / "1-2.4";
    const fs::path hid = usb / "1-2.4:1.0/0003:1A86:E008.0004";
    const fs::path hidraw = hid / "hidraw/hidraw3";
    fs::create_directories(hidraw);
    fs::create_directories(root / "dev/char");
    const auto device = [](const fs::path& at, const char* vendor, const char* bcd,
                           const char* product, const char* maker,
                           const std::optional<std::string>& serialNo) {
        write(at / "idVendor", std::string(vendor) + "\n");
        write(at / "bcdDevice", std::string(bcd) + "\n");
        write(at / "product", std::string(product) + "\n");
        write(at / "manufacturer", std::string(maker) + "\n");
        if (serialNo) write(at / "serial", *serialNo + "\n");
    };
    device(rootHub, "1d6b", "0601", "xHCI Host Controller", "Linux 6.1.0 xhci-hcd",
           std::string("0000:00:14.0"));
    device(hub, "05e3", "6060", "USB2.0 Hub", "GenesysLogic", std::string("HUB-0815"));
    device(usb, "1a86", "1200", "USB to Serial", "WCH", serial);
    write(usb / "idProduct", "e008\n");
    write(usb / "1-2.4:1.0/bInterfaceClass", "03\n");
    write(hid / "uevent", "DRIVER=hid-generic\nHID_ID=0003:00001A86:0000E008\n"
                          "HID_NAME=WCH USB to Serial\nHID_UNIQ=\n");
    write(hid / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
    fs::create_directory_symlink("../../../0003:1A86:E008.0004", hidraw / "device");
    fs::create_directory_symlink(
        "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/1-2.4:1.0/0003:1A86:E008.0004/"
        "hidraw/hidraw3",
        root / "dev/char" /
            (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))));
}

void FakeSysfsCable::write(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

} // namespace rd780::test
