#include "link/hid/LinuxHidServices.h"
#include "link/hid/SysfsHidInfo.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rd780 {

namespace {
thread_local std::uint32_t linuxLastError = 0;

bool failWith(int code) {
    linuxLastError = static_cast<std::uint32_t>(code);
    return false;
}

} // namespace

std::string HidServices::errorText(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

// One open node. The descriptors are closed when the last user lets go, so a reader
// polling the node while the GUI thread closes the handle never sees a reused number.
struct LinuxHidServices::Channel {
    int fd = -1;
    int wakeFd = -1;
    UdevHidInfo info;
    ReportLengths lengths;
    ~Channel() {
        if (fd >= 0) ::close(fd);
        if (wakeFd >= 0) ::close(wakeFd);
    }
};

LinuxHidServices::LinuxHidServices(std::filesystem::path sysRoot)
    : udev_(udev_new()), sysRoot_(std::move(sysRoot)) {}

LinuxHidServices::~LinuxHidServices() {
    watchChanges({});
    if (udev_) udev_unref(udev_);
}

std::vector<HidInterfaceEntry> LinuxHidServices::enumerate() {
    std::vector<HidInterfaceEntry> out;
    if (!udev_) return out;
    udev_enumerate* en = udev_enumerate_new(udev_);
    if (!en) return out;
    udev_enumerate_add_match_subsystem(en, "hidraw");
    udev_enumerate_scan_devices(en);
    udev_list_entry* e = nullptr;
    udev_list_entry_foreach(e, udev_enumerate_get_list_entry(en)) {
        const char* syspath = udev_list_entry_get_name(e);
        udev_device* d = udev_device_new_from_syspath(udev_, syspath);
        if (!d) continue;
        const char* node = udev_device_get_devnode(d);
        if (node) {
            const char* init = udev_device_get_property_value(d, "USEC_INITIALIZED");
            std::string stamp = init ? init : "";
            if (udev_device* usb =
                    udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device")) {
                const char* devnum = udev_device_get_sysattr_value(usb, "devnum");
                if (devnum) stamp += std::string("/") + devnum;
            }
            out.push_back({node, instanceIdentity(syspath, stamp)});
        }
        udev_device_unref(d);
    }
    udev_enumerate_unref(en);
    return out;
}

HidHandle LinuxHidServices::open(const std::string& path, HidAccess access) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failWith(errno), InvalidHidHandle;
    if (!S_ISCHR(st.st_mode)) return failWith(ENODEV), InvalidHidHandle;
    auto ch = std::make_shared<Channel>();
    if (access != HidAccess::NoAccess) {
        const int flags = access == HidAccess::ReadWrite ? O_RDWR : (O_RDONLY | O_NONBLOCK);
        ch->fd = ::open(path.c_str(), flags | O_CLOEXEC);
        if (ch->fd < 0) return failWith(errno), InvalidHidHandle;
    }
    ch->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (ch->wakeFd < 0) return failWith(errno), InvalidHidHandle;
    const SysfsHidInfo sys = readSysfsHidInfo(sysRoot_, st.st_rdev);
    ch->info = sys.info;
    ch->lengths = sys.lengths;
    std::lock_guard<std::mutex> lk(mutex_);
    const HidHandle h = nextHandle_++;
    channels_[h] = std::move(ch);
    return h;
}

std::shared_ptr<LinuxHidServices::Channel> LinuxHidServices::channel(HidHandle h) {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = channels_.find(h);
    return it == channels_.end() ? nullptr : it->second;
}

void LinuxHidServices::close(HidHandle h) {
    std::shared_ptr<Channel> ch;
    {
        std::lock_guard<std::mutex> lk(mutex_);
        auto it = channels_.find(h);
        if (it == channels_.end()) return;
        ch = std::move(it->second);
        channels_.erase(it);
    }
    // Wake a reader polling this node; it sees the handle gone and lets go of the channel.
    const std::uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(ch->wakeFd, &one, sizeof one);
}

bool LinuxHidServices::getAttributes(HidHandle h, HidAttributes& out) {
    auto ch = channel(h);
    if (!ch) return failWith(EBADF);
    if (!ch->info.identified) return failWith(ENODEV);
    out.VendorID = ch->info.vendorId;
    out.ProductID = ch->info.productId;
    out.VersionNumber = ch->info.version;
    return true;
}

bool LinuxHidServices::getCaps(HidHandle h, HidCaps& out) {
    auto ch = channel(h);
    if (!ch) return failWith(EBADF);
    if (!ch->lengths.valid ||
        (ch->lengths.input == 0 && ch->lengths.output == 0 && ch->lengths.feature == 0))
        return failWith(EIO);
    out.InputReportByteLength = ch->lengths.input;
    out.OutputReportByteLength = ch->lengths.output;
    out.FeatureReportByteLength = ch->lengths.feature;
    return true;
}

// hidraw keeps a fixed queue of 64 reports per open file.
bool LinuxHidServices::setNumInputBuffers(HidHandle h, std::uint32_t count) {
    return channel(h) && count >= 2 && count <= 512 ? true : failWith(EINVAL);
}
bool LinuxHidServices::getNumInputBuffers(HidHandle h, std::uint32_t& count) {
    if (!channel(h)) return failWith(EBADF);
    count = 64;
    return true;
}

bool LinuxHidServices::getProductString(HidHandle h, std::u16string& out) {
    auto ch = channel(h);
    if (!ch || ch->info.product.empty()) return failWith(ENODATA);
    out = ch->info.product;
    return true;
}

bool LinuxHidServices::getSerialNumberString(HidHandle h, std::u16string& out) {
    auto ch = channel(h);
    if (!ch || ch->info.serial.empty()) return failWith(ENODATA);
    out = ch->info.serial;
    return true;
}

// Neither hidraw nor sysfs gives string descriptor 0 (the language list). Linux reads the
// serial number in the device's own first language and leaves it out when the device has
// none, so the serial can never be the list itself; the list is given as US English, the
// language nearly every device offers first, so a serial number is kept as it came.
void LinuxHidServices::getIndexedString(HidHandle h, int index, char16_t* buf, std::size_t words) {
    auto ch = channel(h);
    if (!ch || index != 0) return;
    const char16_t list[2] = {0x0409, 0};
    for (std::size_t i = 0; i < words && i < 2; ++i)
        buf[i] = list[i];
}

bool LinuxHidServices::setFeature(HidHandle h, const std::uint8_t* data, std::size_t length) {
    auto ch = channel(h);
    if (!ch || ch->fd < 0) return failWith(EBADF);
    if (::ioctl(ch->fd, HIDIOCSFEATURE(length), data) < 0) return failWith(errno);
    return true;
}

bool LinuxHidServices::write(HidHandle h, const std::uint8_t* data, std::size_t length,
                             std::size_t& written) {
    written = 0;
    auto ch = channel(h);
    if (!ch || ch->fd < 0) return failWith(EBADF);
    const ssize_t n = ::write(ch->fd, data, length);
    if (n < 0) return failWith(errno);
    written = static_cast<std::size_t>(n);
    return true;
}

HidReadResult LinuxHidServices::readReport(HidHandle h, std::uint8_t* buf, std::size_t length,
                                           int timeoutMs) {
    auto ch = channel(h); // keeps the descriptors alive for this wait
    if (!ch || ch->fd < 0) return {HidReadStatus::Failed, 0, EBADF};
    pollfd fds[2] = {{ch->fd, POLLIN, 0}, {ch->wakeFd, POLLIN, 0}};
    const int r = ::poll(fds, 2, timeoutMs);
    if (r < 0)
        return {errno == EINTR ? HidReadStatus::TimedOut : HidReadStatus::Failed, 0,
                std::uint32_t(errno)};
    if (fds[1].revents & POLLIN) {
        std::uint64_t v = 0;
        [[maybe_unused]] auto n = ::read(ch->wakeFd, &v, sizeof v);
        if (!channel(h)) return {HidReadStatus::Failed, 0, EBADF};
        return {HidReadStatus::TimedOut, 0, 0};
    }
    if (r == 0) return {HidReadStatus::TimedOut, 0, 0};
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return {HidReadStatus::Failed, 0, ENODEV};
    // Nodes without numbered reports leave the ID out; put the 0 back in front.
    const std::size_t off = ch->lengths.usesReportIds ? 0 : 1;
    if (length <= off) return {HidReadStatus::Failed, 0, EINVAL};
    const ssize_t n = ::read(ch->fd, buf + off, length - off);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return {HidReadStatus::TimedOut, 0, 0};
        return {HidReadStatus::Failed, 0, std::uint32_t(errno)};
    }
    if (n == 0) return {HidReadStatus::Completed, 0, 0};
    if (off) buf[0] = 0;
    return {HidReadStatus::Completed, static_cast<std::size_t>(n) + off, 0};
}

void LinuxHidServices::wake(HidHandle h) {
    auto ch = channel(h);
    if (!ch) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(ch->wakeFd, &one, sizeof one);
}

std::uint32_t LinuxHidServices::lastError() {
    return linuxLastError;
}

void LinuxHidServices::watchChanges(std::function<void()> notify) {
    notifier_.reset();
    if (monitor_) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
    if (!notify || !udev_) return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_) return;
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
        return;
    }
    // The notifier lives on the GUI thread, so changes are handled there.
    notifier_ =
        std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, notify] {
        bool any = false;
        while (udev_device* d = udev_monitor_receive_device(monitor_)) {
            const char* action = udev_device_get_action(d);
            if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0))
                any = true;
            udev_device_unref(d);
        }
        if (any) notify();
    });
}

std::shared_ptr<HidServices> makeLinuxHidServices() {
    auto s = std::make_shared<LinuxHidServices>();
    if (!s->available()) return nullptr;
    return s;
}

} // namespace rd780
