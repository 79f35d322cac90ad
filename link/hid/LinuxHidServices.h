#pragma once
// HID services over hidraw nodes and libudev.
#include "link/hid/HidServices.h"
#include "link/hid/ReportDescriptor.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace rd780 {

class LinuxHidServices : public HidServices {
public:
    // sysRoot is where the device tree is read from; tests point it at a copy.
    explicit LinuxHidServices(std::filesystem::path sysRoot = "/sys");
    ~LinuxHidServices() override;
    bool available() const { return udev_ != nullptr; }

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
    void watchChanges(std::function<void()> notify) override;

private:
    struct Channel;
    std::shared_ptr<Channel> channel(HidHandle h);

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::mutex mutex_;
    std::map<HidHandle, std::shared_ptr<Channel>> channels_;
    HidHandle nextHandle_ = 1;
    std::filesystem::path sysRoot_;
};

} // namespace rd780
