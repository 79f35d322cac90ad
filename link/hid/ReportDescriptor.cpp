#include "link/hid/ReportDescriptor.h"

#include <QString>

#include <algorithm>
#include <cstdlib>

namespace rd780 {

ReportLengths parseReportDescriptor(const std::uint8_t* data, std::size_t size) {
    struct Globals {
        std::uint32_t reportSize = 0;
        std::uint32_t reportCount = 0;
        std::uint32_t reportId = 0;
    };
    ReportLengths out;
    Globals g;
    std::vector<Globals> stack;
    // Bits per report ID, for input, output and feature.
    std::map<std::uint32_t, std::uint64_t> bits[3];
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = data[i++];
        if (prefix == 0xFE) { // long item: size byte, tag byte, data
            if (i + 2 > size) {
                out.valid = false;
                break;
            }
            const std::size_t n = data[i];
            i += 2 + n;
            continue;
        }
        const std::size_t n = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + n > size) {
            out.valid = false;
            break;
        }
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < n; ++k)
            value |= std::uint32_t(data[i + k]) << (8 * k);
        i += n;
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 1) { // global
            switch (tag) {
            case 7:
                g.reportSize = value;
                break;
            case 8:
                g.reportId = value;
                out.usesReportIds = true;
                break;
            case 9:
                g.reportCount = value;
                break;
            case 10:
                stack.push_back(g);
                break;
            case 11:
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
        } else if (type == 0) { // main
            int kind = -1;
            if (tag == 8) kind = 0;
            if (tag == 9) kind = 1;
            if (tag == 11) kind = 2;
            if (kind >= 0) bits[kind][g.reportId] += std::uint64_t(g.reportSize) * g.reportCount;
        }
    }
    std::uint16_t* lengths[3] = {&out.input, &out.output, &out.feature};
    for (int k = 0; k < 3; ++k) {
        std::uint64_t longest = 0;
        for (const auto& [id, b] : bits[k])
            longest = std::max(longest, (b + 7) / 8);
        *lengths[k] =
            longest ? static_cast<std::uint16_t>(std::min<std::uint64_t>(longest + 1, 0xFFFF)) : 0;
    }
    return out;
}

namespace {
std::string get(const std::map<std::string, std::string>& m, const char* key) {
    auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
}
std::u16string utf16(const std::string& s) {
    return QString::fromStdString(s).toStdU16String();
}
} // namespace

UdevHidInfo mapUdevProperties(const std::map<std::string, std::string>& hid,
                              const std::map<std::string, std::string>& usb) {
    UdevHidInfo info;
    // HID_ID is bus:vendor:product, e.g. "0003:00001A86:0000E008".
    const std::string id = get(hid, "HID_ID");
    const auto c1 = id.find(':');
    const auto c2 = c1 == std::string::npos ? std::string::npos : id.find(':', c1 + 1);
    if (c2 != std::string::npos) {
        char* end1 = nullptr;
        char* end2 = nullptr;
        const std::string v = id.substr(c1 + 1, c2 - c1 - 1);
        const std::string p = id.substr(c2 + 1);
        const unsigned long vid = std::strtoul(v.c_str(), &end1, 16);
        const unsigned long pid = std::strtoul(p.c_str(), &end2, 16);
        if (!v.empty() && !p.empty() && *end1 == 0 && *end2 == 0 && vid <= 0xFFFF &&
            pid <= 0xFFFF) {
            info.vendorId = static_cast<std::uint16_t>(vid);
            info.productId = static_cast<std::uint16_t>(pid);
            info.identified = true;
        }
    }
    const std::string bcd = get(usb, "bcdDevice");
    if (!bcd.empty())
        info.version = static_cast<std::uint16_t>(std::strtoul(bcd.c_str(), nullptr, 16));
    // The USB device's own strings are exact; HID_NAME joins manufacturer and product.
    std::string product = get(usb, "product");
    if (product.empty() && usb.empty()) product = get(hid, "HID_NAME");
    info.product = utf16(product);
    std::string serial = get(usb, "serial");
    if (serial.empty()) serial = get(hid, "HID_UNIQ");
    info.serial = utf16(serial);
    return info;
}

std::uint32_t instanceIdentity(const std::string& syspath, const std::string& initialized) {
    std::uint32_t h = 2166136261u; // FNV-1a
    for (char c : syspath + "|" + initialized) {
        h ^= static_cast<std::uint8_t>(c);
        h *= 16777619u;
    }
    return h;
}

} // namespace rd780
