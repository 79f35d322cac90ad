#pragma once
// A HID cable as sysfs shows it, built in a temporary folder around a pseudo-terminal that
// stands in for its hidraw node, and Linux services that list just that node.
#include "link/hid/LinuxHidServices.h"

#include <QTemporaryDir>

#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace rd780::test {

// The cable's descriptor: 10 bytes in, 8 out, and `featureBytes` of feature (0: none).
inline std::vector<std::uint8_t> cableDescriptor(std::uint8_t featureBytes) {
    std::vector<std::uint8_t> d = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, // vendor page
                                   0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, //
                                   0x75, 0x08, 0x95, 0x0A, 0x81, 0x02,       // 10 bytes in
                                   0x09, 0x02, 0x95, 0x08, 0x91, 0x02};      // 8 bytes out
    if (featureBytes != 0) {
        const std::vector<std::uint8_t> feature = {0x09, 0x03, 0x95, featureBytes, 0xB1, 0x02};
        d.insert(d.end(), feature.begin(), feature.end());
    }
    d.push_back(0xC0);
    return d;
}

class FakeSysfsCable {
public:
    FakeSysfsCable(const std::vector<std::uint8_t>& descriptor,
                   const std::optional<std::string>& serial);
    ~FakeSysfsCable() {
        for (int fd : fds_)
            ::close(fd);
    }
    // One more cable on the same hub, in the next port; returns its node.
    std::string add(const std::vector<std::uint8_t>& descriptor,
                    const std::optional<std::string>& serial);
    bool ok() const { return ok_ && dir_.isValid(); }
    std::filesystem::path root() const { return dir_.path().toStdString(); }
    const std::string& node() const { return nodes_.front(); }
    const std::vector<std::string>& nodes() const { return nodes_; }

private:
    static void write(const std::filesystem::path& p, const std::string& bytes);
    QTemporaryDir dir_;
    std::vector<int> fds_; // each node's pseudo-terminal, both ends
    bool ok_ = true;
    std::vector<std::string> nodes_;
};

// Linux services reading the fake tree, enumerating only the fake cables' nodes.
class FakeTreeHidServices : public LinuxHidServices {
public:
    explicit FakeTreeHidServices(const FakeSysfsCable& cable)
        : LinuxHidServices(cable.root()), nodes_(cable.nodes()) {}
    std::vector<HidInterfaceEntry> enumerate() override {
        std::vector<HidInterfaceEntry> out;
        for (std::size_t i = 0; i < nodes_.size(); ++i)
            out.push_back({nodes_[i], static_cast<std::uint32_t>(7 + i)});
        return out;
    }
    void watchChanges(std::function<void()>) override {}

private:
    std::vector<std::string> nodes_;
};

} // namespace rd780::test
