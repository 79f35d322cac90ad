#include "link/hid/SysfsHidInfo.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sys/sysmacros.h>

namespace rd780 {

namespace {

std::string readText(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::string s(std::istreambuf_iterator<char>(f), {});
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// KEY=VALUE lines, as a uevent file holds them.
std::map<std::string, std::string> readUevent(const std::filesystem::path& p) {
    std::map<std::string, std::string> m;
    std::ifstream f(p);
    std::string line;
    while (std::getline(f, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

} // namespace

SysfsHidInfo readSysfsHidInfo(const std::filesystem::path& sysRoot, dev_t device) {
    SysfsHidInfo out;
    std::error_code ec;
    const auto root = std::filesystem::canonical(sysRoot, ec);
    if (ec) return out;
    const auto node = std::filesystem::canonical(
        root / "dev" / "char" /
            (std::to_string(major(device)) + ":" + std::to_string(minor(device))),
        ec);
    if (ec) return out;
    const auto hid = std::filesystem::canonical(node / "device", ec);
    if (ec) return out;
    out.found = true;

    std::map<std::string, std::string> usb;
    // Stop at the root: a link must not lead the walk out of the tree.
    for (auto dir = hid.parent_path();
         dir != root && dir.has_relative_path() && dir.string().rfind(root.string(), 0) == 0;
         dir = dir.parent_path()) {
        if (!std::filesystem::exists(dir / "idVendor", ec)) continue;
        for (const char* key : {"product", "serial", "manufacturer", "bcdDevice"})
            if (std::filesystem::exists(dir / key, ec)) usb[key] = readText(dir / key);
        break;
    }
    out.info = mapUdevProperties(readUevent(hid / "uevent"), usb);

    std::ifstream f(hid / "report_descriptor", std::ios::binary);
    const std::vector<std::uint8_t> descriptor(std::istreambuf_iterator<char>(f), {});
    out.lengths = parseReportDescriptor(descriptor);
    return out;
}

} // namespace rd780
