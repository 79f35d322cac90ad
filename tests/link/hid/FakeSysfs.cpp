#include "FakeSysfs.h"

#include <fstream>
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

namespace rd780::test {

namespace {
namespace fs = std::filesystem;
// As on a real machine, the cables hang off a hub, and the hub off the root hub: both are
// USB devices with strings of their own, which are not a cable's.
const char* const HubPath = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
} // namespace

FakeSysfsCable::FakeSysfsCable(const std::vector<std::uint8_t>& descriptor,
                               const std::optional<std::string>& serial) {
    const fs::path hub = root() / HubPath;
    fs::create_directories(hub);
    fs::create_directories(root() / "dev/char");
    write(hub.parent_path() / "idVendor", "1d6b\n");
    write(hub.parent_path() / "bcdDevice", "0601\n");
    write(hub.parent_path() / "product", "xHCI Host Controller\n");
    write(hub.parent_path() / "manufacturer", "Linux 6.1.0 xhci-hcd\n");
    write(hub.parent_path() / "serial", "0000:00:14.0\n");
    write(hub / "idVendor", "05e3\n");
    write(hub / "bcdDevice", "6060\n");
    write(hub / "product", "USB2.0 Hub\n");
    write(hub / "manufacturer", "GenesysLogic\n");
    write(hub / "serial", "HUB-0815\n");
    add(descriptor, serial);
}

std::string FakeSysfsCable::add(const std::vector<std::uint8_t>& descriptor,
                                const std::optional<std::string>& serial) {
    int master = -1, slave = -1;
    char name[128] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        ok_ = false;
        return {};
    }
    fds_.push_back(master);
    fds_.push_back(slave);
    struct stat st {};
    ok_ = ok_ && ::stat(name, &st) == 0;
    // Ports 1-2.4, 1-2.3, ...; HID devices .0004, .0005, ...; hidraw3, hidraw4, ...
    const std::size_t k = nodes_.size();
    const std::string port = "1-2." + std::to_string(4 - k);
    const std::string hidName = "0003:1A86:E008.000" + std::to_string(4 + k);
    const std::string hidraw = "hidraw" + std::to_string(3 + k);
    const fs::path usb = root() / HubPath / port;
    const fs::path hid = usb / (port + ":1.0") / hidName;
    fs::create_directories(hid / "hidraw" / hidraw);
    write(usb / "idVendor", "1a86\n");
    write(usb / "bcdDevice", "1200\n");
    write(usb / "product", "USB to Serial\n");
    write(usb / "manufacturer", "WCH\n");
    if (serial) write(usb / "serial", *serial + "\n");
    write(usb / "idProduct", "e008\n");
    write(usb / (port + ":1.0") / "bInterfaceClass", "03\n");
    write(hid / "uevent", "DRIVER=hid-generic\nHID_ID=0003:00001A86:0000E008\n"
                          "HID_NAME=WCH USB to Serial\nHID_UNIQ=\n");
    write(hid / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
    fs::create_directory_symlink("../../../" + hidName, hid / "hidraw" / hidraw / "device");
    fs::create_directory_symlink(
        "../../" +
            (fs::path(HubPath) / port / (port + ":1.0") / hidName / "hidraw" / hidraw).string(),
        root() / "dev/char" /
            (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))));
    nodes_.push_back(name);
    return name;
}

void FakeSysfsCable::write(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

} // namespace rd780::test
