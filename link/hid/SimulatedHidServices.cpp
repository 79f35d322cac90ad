#include "link/hid/SimulatedHidServices.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rd780 {

namespace {
thread_local std::uint32_t simLastError = 0;
thread_local bool lastCallWasBase = false;
} // namespace

SimulatedHidServices::SimulatedHidServices(std::shared_ptr<HidServices> base)
    : base_(std::move(base)), context_(std::make_unique<QObject>()) {
    if (const auto* below = dynamic_cast<const SimulatedHidServices*>(base_.get()))
        layer_ = below->layer_ + 1;
    prefix_ = layer_ == 0 ? "sim:hid-" : "sim:hid" + std::to_string(layer_) + "-";
    firstHandle_ = nextHandle_ = FirstSimHandle + (HidHandle(layer_) << 36);
}

SimulatedHidServices::~SimulatedHidServices() {
    if (base_) base_->watchChanges({});
}

bool SimulatedHidServices::fail(std::uint32_t code) {
    simLastError = code;
    lastCallWasBase = false;
    return false;
}

int SimulatedHidServices::addDevice(const SimDeviceConfig& config) {
    std::lock_guard<std::mutex> lk(mutex_);
    const int id = nextDevice_++;
    auto d = std::make_unique<Device>(config);
    d->instance = nextInstance_++;
    devices_[id] = std::move(d);
    return id;
}

void SimulatedHidServices::unplug(int id) {
    {
        std::lock_guard<std::mutex> lk(mutex_);
        auto it = devices_.find(id);
        if (it == devices_.end() || !it->second->present) return;
        it->second->present = false;
        it->second->frame.clear();
        it->second->queue.clear();
    }
    cv_.notify_all();
    notifyChange();
}

void SimulatedHidServices::plug(int id) {
    {
        std::lock_guard<std::mutex> lk(mutex_);
        auto it = devices_.find(id);
        if (it == devices_.end()) return;
        Device& d = *it->second;
        if (!d.present) {
            // A new connection: new identity, and the cable forgets its configuration.
            d.present = true;
            d.instance = nextInstance_++;
            d.baud = 0;
            d.pendingPolls = 0;
            d.frame.clear();
        }
    }
    notifyChange();
}

void SimulatedHidServices::notifyChange() {
    // Device changes reach the controller on the GUI thread, like udev's do.
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            if (notify_) notify_();
        },
        Qt::QueuedConnection);
}

void SimulatedHidServices::setMeterSilent(int id, bool silent) {
    std::lock_guard<std::mutex> lk(mutex_);
    if (auto it = devices_.find(id); it != devices_.end()) it->second->silent = silent;
}
void SimulatedHidServices::setReadFailure(int id, std::uint32_t error) {
    std::lock_guard<std::mutex> lk(mutex_);
    if (auto it = devices_.find(id); it != devices_.end()) it->second->readFailure = error;
}
void SimulatedHidServices::setLongFrameInterval(int id, int n) {
    std::lock_guard<std::mutex> lk(mutex_);
    if (auto it = devices_.find(id); it != devices_.end())
        it->second->meter.setLongFrameInterval(n);
}

int SimulatedHidServices::polls(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->polls;
}
int SimulatedHidServices::featureReports(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->features;
}
std::size_t SimulatedHidServices::lastFeatureLength(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->featureLength;
}
std::uint32_t SimulatedHidServices::baud(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->baud;
}
std::uint64_t SimulatedHidServices::reportsSent(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->reports;
}
std::uint64_t SimulatedHidServices::framesSent(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->meter.framesSent();
}
std::uint64_t SimulatedHidServices::reportsRead(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->read;
}
std::uint64_t SimulatedHidServices::reportsDropped(int id) const {
    std::lock_guard<std::mutex> lk(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second->dropped;
}
std::string SimulatedHidServices::pathOf(int id) const {
    return prefix_ + std::to_string(id);
}
int SimulatedHidServices::openHandles() const {
    std::lock_guard<std::mutex> lk(mutex_);
    return static_cast<int>(handles_.size());
}

std::vector<HidInterfaceEntry> SimulatedHidServices::enumerate() {
    std::vector<HidInterfaceEntry> out;
    if (base_) out = base_->enumerate();
    std::lock_guard<std::mutex> lk(mutex_);
    for (const auto& [id, d] : devices_)
        if (d->present) out.push_back({prefix_ + std::to_string(id), d->instance});
    return out;
}

SimulatedHidServices::Device* SimulatedHidServices::deviceOf(HidHandle h, Handle** handle) {
    auto it = handles_.find(h);
    if (handle) *handle = it == handles_.end() ? nullptr : &it->second;
    if (it == handles_.end()) return nullptr;
    auto d = devices_.find(it->second.device);
    return d == devices_.end() ? nullptr : d->second.get();
}

HidHandle SimulatedHidServices::open(const std::string& path, HidAccess access) {
    if (path.rfind(prefix_, 0) != 0) {
        lastCallWasBase = true;
        if (base_) return base_->open(path, access);
        fail(ENOENT);
        return InvalidHidHandle;
    }
    std::lock_guard<std::mutex> lk(mutex_);
    int id = 0;
    try {
        id = std::stoi(path.substr(prefix_.size()));
    } catch (...) {
        fail(ENOENT);
        return InvalidHidHandle;
    }
    auto it = devices_.find(id);
    if (it == devices_.end() || !it->second->present) {
        fail(ENOENT);
        return InvalidHidHandle;
    }
    Device& d = *it->second;
    if (access == HidAccess::ReadWrite && !d.cfg.grantsReadWrite) {
        fail(EACCES);
        return InvalidHidHandle;
    }
    if (access == HidAccess::ReadOnly && d.readFailure != 0) {
        fail(d.readFailure);
        return InvalidHidHandle;
    }
    if (access == HidAccess::ReadOnly && d.cfg.paced) {
        // A newly opened node starts with an empty queue.
        d.queue.clear();
        d.nextPaced = Clock::now() + d.cfg.reportInterval;
    }
    const HidHandle h = nextHandle_++;
    handles_[h] = Handle{id, access, 32, false};
    lastCallWasBase = false;
    return h;
}

void SimulatedHidServices::close(HidHandle h) {
    if (isBase(h)) return base_->close(h);
    {
        std::lock_guard<std::mutex> lk(mutex_);
        handles_.erase(h);
    }
    cv_.notify_all(); // a reader waiting on h returns Failed
}

bool SimulatedHidServices::getAttributes(HidHandle h, HidAttributes& out) {
    if (isBase(h)) return base_->getAttributes(h, out);
    std::lock_guard<std::mutex> lk(mutex_);
    Device* d = deviceOf(h);
    if (!d || !d->present) return fail(ENODEV);
    out.VendorID = d->cfg.vendorId;
    out.ProductID = d->cfg.productId;
    out.VersionNumber = d->cfg.version;
    return true;
}

bool SimulatedHidServices::getCaps(HidHandle h, HidCaps& out) {
    if (isBase(h)) return base_->getCaps(h, out);
    std::lock_guard<std::mutex> lk(mutex_);
    Device* d = deviceOf(h);
    if (!d || !d->present) return fail(ENODEV);
    out.InputReportByteLength = d->cfg.inputReportLength;
    out.OutputReportByteLength = d->cfg.outputReportLength;
    out.FeatureReportByteLength = d->cfg.featureReportLength;
    return true;
}

bool SimulatedHidServices::setNumInputBuffers(HidHandle h, std::uint32_t count) {
    if (isBase(h)) return base_->setNumInputBuffers(h, count);
    std::lock_guard<std::mutex> lk(mutex_);
    Handle* hd = nullptr;
    deviceOf(h, &hd);
    if (!hd || count < 2 || count > 512) return fail(EINVAL);
    hd->inputBuffers = count;
    return true;
}

bool SimulatedHidServices::getNumInputBuffers(HidHandle h, std::uint32_t& count) {
    if (isBase(h)) return base_->getNumInputBuffers(h, count);
    std::lock_guard<std::mutex> lk(mutex_);
    Handle* hd = nullptr;
    deviceOf(h, &hd);
    if (!hd) return fail(EBADF);
    count = hd->inputBuffers;
    return true;
}

bool SimulatedHidServices::getProductString(HidHandle h, std::u16string& out) {
    if (isBase(h)) return base_->getProductString(h, out);
    std::lock_guard<std::mutex> lk(mutex_);
    Device* d = deviceOf(h);
    if (!d || !d->present || d->cfg.product.empty()) return fail(ENODEV);
    out = d->cfg.product;
    return true;
}

bool SimulatedHidServices::getSerialNumberString(HidHandle h, std::u16string& out) {
    if (isBase(h)) return base_->getSerialNumberString(h, out);
    std::lock_guard<std::mutex> lk(mutex_);
    Device* d = deviceOf(h);
    if (!d || !d->present || d->cfg.serial.empty()) return fail(ENODEV);
    out = d->cfg.serial;
    return true;
}

void SimulatedHidServices::getIndexedString(HidHandle h, int index, char16_t* buf,
                                            std::size_t words) {
    if (isBase(h)) return base_->getIndexedString(h, index, buf, words);
    std::lock_guard<std::mutex> lk(mutex_);
    Device* d = deviceOf(h);
    if (!d || !d->present || index != 0 || d->cfg.languages.empty()) return;
    const std::size_t n = std::min(words, d->cfg.languages.size());
    std::copy_n(d->cfg.languages.begin(), n, buf);
    if (n < words) buf[n] = 0; // string descriptors come back NUL-ended
}

bool SimulatedHidServices::setFeature(HidHandle h, const std::uint8_t* data, std::size_t length) {
    if (isBase(h)) return base_->setFeature(h, data, length);
    std::lock_guard<std::mutex> lk(mutex_);
    Handle* hd = nullptr;
    Device* d = deviceOf(h, &hd);
    if (!d || !d->present) return fail(ENODEV);
    if (hd->access != HidAccess::ReadWrite || length < 6) return fail(EINVAL);
    ++d->features;
    d->featureLength = length;
    if (data[0] == 0 && data[5] == 0x03)
        d->baud = std::uint32_t(data[1]) | std::uint32_t(data[2]) << 8 |
                  std::uint32_t(data[3]) << 16 | std::uint32_t(data[4]) << 24;
    return true;
}

bool SimulatedHidServices::write(HidHandle h, const std::uint8_t* data, std::size_t length,
                                 std::size_t& written) {
    if (isBase(h)) return base_->write(h, data, length, written);
    std::lock_guard<std::mutex> lk(mutex_);
    Handle* hd = nullptr;
    Device* d = deviceOf(h, &hd);
    written = 0;
    if (!d || !d->present) return fail(ENODEV);
    if (hd->access != HidAccess::ReadWrite || length != d->cfg.outputReportLength || length < 3)
        return fail(EINVAL);
    if (data[0] == 0x00 && data[1] == 0x02 && data[2] == 0x5A) {
        ++d->polls;
        if (!d->silent) d->pendingPolls = 1;
    }
    written = length;
    return true;
}

void SimulatedHidServices::startFrameIfDue(Device& d, Clock::time_point now) {
    if (!d.frame.empty() || d.pendingPolls == 0) return;
    if (d.silent || d.baud != d.cfg.meterBaud) {
        d.pendingPolls = 0; // the meter did not hear a poll it could understand
        return;
    }
    if (d.meter.framesSent() > 0 && now < d.lastFrameAt + d.cfg.meterPeriod) return;
    d.pendingPolls = 0;
    d.frame = d.meter.nextFrame();
    d.sent = 0;
    d.lineStart = now;
    d.lastFrameAt = now;
}

void SimulatedHidServices::buildReport(Device& d, Clock::time_point now, std::uint8_t* buf,
                                       std::size_t length, std::size_t& bytes) {
    std::memset(buf, 0, length);
    bytes = std::min<std::size_t>(length, d.cfg.inputReportLength);
    startFrameIfDue(d, now);
    std::size_t n = 0;
    if (!d.frame.empty() && bytes >= 2) {
        std::size_t arrived = d.frame.size();
        if (d.cfg.reportInterval.count() > 0) {
            // Bytes on the meter's line so far: ten bits per byte.
            const auto us =
                std::chrono::duration_cast<std::chrono::microseconds>(now - d.lineStart);
            const std::uint64_t onLine =
                std::uint64_t(us.count()) * (d.cfg.meterBaud / 10) / 1000000;
            arrived = std::min<std::size_t>(arrived, onLine);
        }
        if (arrived > d.sent) n = std::min<std::size_t>({9, arrived - d.sent, bytes - 2});
        std::copy_n(d.frame.begin() + static_cast<std::ptrdiff_t>(d.sent), n, buf + 2);
        d.sent += n;
        if (d.sent == d.frame.size()) d.frame.clear();
    }
    buf[0] = 0x00;
    if (bytes >= 2) buf[1] = static_cast<std::uint8_t>(0xF0 | n); // high digit is not a count
    ++d.reports;
}

void SimulatedHidServices::makePacedReports(Device& d, Clock::time_point now) {
    const auto interval = std::max(d.cfg.reportInterval, std::chrono::microseconds(100));
    // After a long pause (a stopped process) skip ahead: those reports are lost anyway.
    const auto behind = now - d.nextPaced;
    if (behind > interval * 10000) {
        const auto skip = behind / interval - 10000;
        d.dropped += static_cast<std::uint64_t>(skip);
        d.nextPaced += interval * skip;
    }
    std::vector<std::uint8_t> report(d.cfg.inputReportLength);
    while (d.nextPaced <= now) {
        std::size_t bytes = 0;
        buildReport(d, d.nextPaced, report.data(), report.size(), bytes);
        if (d.queue.size() < PacedQueueLength)
            d.queue.emplace_back(report.begin(),
                                 report.begin() + static_cast<std::ptrdiff_t>(bytes));
        else
            ++d.dropped; // the meter bytes in it are lost, as with a real full queue
        d.nextPaced += interval;
    }
}

void SimulatedHidServices::setReplayEnded(std::function<void()> ended) {
    std::lock_guard<std::mutex> lk(mutex_);
    replayEnded_ = std::move(ended);
}

std::optional<SimulatedHidServices::Clock::time_point>
SimulatedHidServices::replayReport(Device& d, Clock::time_point now, std::uint8_t* buf,
                                   std::size_t length, std::size_t& bytes) {
    const auto& records = *d.cfg.replay;
    if (d.replayNext >= records.size()) {
        // Asked again after the last report: its handler has run, so the end is told now.
        if (!d.replayEnded) {
            d.replayEnded = true;
            QMetaObject::invokeMethod(
                context_.get(),
                [this] {
                    std::function<void()> ended;
                    {
                        std::lock_guard<std::mutex> lk(mutex_);
                        ended = replayEnded_;
                    }
                    if (ended) ended();
                },
                Qt::QueuedConnection);
        }
        return Clock::time_point::max();
    }
    if (d.replayNext == 0 && d.replayStart == Clock::time_point{}) d.replayStart = now;
    const CaptureRecord& r = records[d.replayNext];
    const double speed = d.cfg.replaySpeed > 0 ? d.cfg.replaySpeed : 1;
    const auto due = d.replayStart + std::chrono::microseconds(static_cast<std::int64_t>(
                                         double(r.us - records.front().us) / speed));
    if (now < due) return due;
    bytes = std::min(length, r.bytes.size());
    std::copy_n(r.bytes.begin(), bytes, buf);
    ++d.replayNext;
    ++d.reports;
    ++d.read;
    return std::nullopt;
}

HidReadResult SimulatedHidServices::readReport(HidHandle h, std::uint8_t* buf, std::size_t length,
                                               int timeoutMs) {
    if (isBase(h)) return base_->readReport(h, buf, length, timeoutMs);
    std::unique_lock<std::mutex> lk(mutex_);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Handle* hd = nullptr;
        Device* d = deviceOf(h, &hd);
        if (!hd) return {HidReadStatus::Failed, 0, EBADF};
        if (!d || !d->present) return {HidReadStatus::Failed, 0, ENODEV};
        if (hd->woken) {
            hd->woken = false;
            return {HidReadStatus::TimedOut, 0, 0};
        }
        const auto now = Clock::now();
        if (d->cfg.replay) {
            std::size_t bytes = 0;
            const auto wait = replayReport(*d, now, buf, length, bytes);
            if (!wait) return {HidReadStatus::Completed, bytes, 0};
            if (now >= deadline) return {HidReadStatus::TimedOut, 0, 0};
            cv_.wait_until(lk, std::min(deadline, *wait));
            continue;
        }
        if (d->cfg.hasMeter && d->cfg.paced) {
            makePacedReports(*d, now);
            if (!d->queue.empty()) {
                const std::vector<std::uint8_t> r = std::move(d->queue.front());
                d->queue.pop_front();
                const std::size_t n = std::min(length, r.size());
                std::copy_n(r.begin(), n, buf);
                ++d->read;
                return {HidReadStatus::Completed, n, 0};
            }
        } else if (d->cfg.hasMeter && now >= d->nextReport) {
            std::size_t bytes = 0;
            buildReport(*d, now, buf, length, bytes);
            d->nextReport = now + d->cfg.reportInterval;
            ++d->read;
            return {HidReadStatus::Completed, bytes, 0};
        }
        if (now >= deadline) return {HidReadStatus::TimedOut, 0, 0};
        const auto next = d->cfg.paced ? d->nextPaced : d->nextReport;
        cv_.wait_until(lk, d->cfg.hasMeter ? std::min(deadline, next) : deadline);
    }
}

void SimulatedHidServices::wake(HidHandle h) {
    if (isBase(h)) return base_->wake(h);
    {
        std::lock_guard<std::mutex> lk(mutex_);
        auto it = handles_.find(h);
        if (it != handles_.end()) it->second.woken = true;
    }
    cv_.notify_all();
}

std::uint32_t SimulatedHidServices::lastError() {
    if (lastCallWasBase && base_) return base_->lastError();
    return simLastError;
}

std::string SimulatedHidServices::errorText(std::uint32_t code) {
    return base_ ? base_->errorText(code) : HidServices::errorText(code);
}

void SimulatedHidServices::watchChanges(std::function<void()> notify) {
    notify_ = notify;
    if (base_) base_->watchChanges(std::move(notify));
}

} // namespace rd780
