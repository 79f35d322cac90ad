#include "link/hid/HidControllerClass.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

namespace rd780 {

namespace {
std::atomic<int> liveControllers{0};
} // namespace

// ---- Read thread ------------------------------------------------------------------------

// Shared between the GUI thread and the reader; the reader holds its own reference so an
// orphaned reader (see Stop) never outlives what it touches.
//
// The reader queues what it reads and wakes the GUI thread once per batch, at most every
// BatchMs while reports keep coming: a wake-up per report cost the GUI thread more than
// handling the report. The GUI thread then runs the handler for each queued report in
// order. Told which reports carry nothing new, the reader wakes it once per burst of
// news instead (for a meter's cable, once per frame), when the burst ends or has waited
// NewsHoldMs; reports with nothing new wait up to QuietHoldMs for a hand-over.
struct THidDeviceReadThread::Shared : std::enable_shared_from_this<Shared> {
    using Clock = std::chrono::steady_clock;
    static constexpr auto BatchMs = std::chrono::milliseconds(40);
    static constexpr auto NewsHoldMs = std::chrono::milliseconds(100);
    static constexpr auto QuietHoldMs = std::chrono::milliseconds(500);
    // Beyond this the reader stops reading until the GUI thread has caught up; the device
    // keeps what arrives meanwhile, as it did while the reader waited for each delivery.
    static constexpr std::size_t MaxQueued = 256;

    struct Item {
        bool error = false;
        std::uint32_t code = 0;
        std::vector<std::uint8_t> bytes;
    };

    std::mutex m;
    std::condition_variable cv;
    bool terminate = false;
    bool finished = false;
    std::deque<Item> queue;
    bool posted = false;          // a wake-up is on its way or a batch is running
    Clock::time_point lastPost{}; // reader only
    bool inDelivery = false;      // GUI thread only: a delivery of this reader is on the stack
    bool abandoned = false;       // stopped from inside a delivery: deliver nothing more

    THidQuietReport quiet;
    Clock::time_point firstNews{};  // reader: the oldest report with news not handed over
    Clock::time_point firstQuiet{}; // reader: the oldest other one not handed over
    bool holdsNews = false;         // the queue holds news the GUI thread was not woken for
    bool holdsQuiet = false;
    bool burstEnded = false; // a report with nothing new came after news
    bool urgent = false;     // an error waits

    THidDevice* device = nullptr; // not owned; touched by the reader only while not asked to stop
    QObject* port = nullptr;      // GUI-thread object the hand-overs are queued to
    std::vector<std::uint8_t> buffer;
    std::uint32_t lastError = 0;
    std::atomic<std::uint64_t> deliveries{0};
    std::atomic<std::uint64_t> batches{0};
    std::atomic<std::uint64_t> wakeups{0};

    bool stopping() {
        std::lock_guard<std::mutex> lk(m);
        return terminate;
    }
    void sleepSlice(int ms) {
        std::unique_lock<std::mutex> lk(m);
        cv.wait_for(lk, std::chrono::milliseconds(ms), [this] { return terminate; });
    }

    static void post(const std::shared_ptr<Shared>& s) {
        QMetaObject::invokeMethod(
            s->port, [s] { s->runPending(); }, Qt::QueuedConnection);
    }

    // Reader: queues one report or error. The first of a batch wakes the GUI thread at
    // once after a quiet spell, otherwise when the batch is due (see flushIfDue).
    static bool enqueue(const std::shared_ptr<Shared>& s, Item item) {
        std::unique_lock<std::mutex> lk(s->m);
        if (s->terminate) return false;
        s->note(item);
        s->queue.push_back(std::move(item));
        s->cv.notify_all();
        flushIfDue(s, lk);
        // The GUI thread is far behind: wait for it rather than hold ever more reports.
        s->cv.wait(lk, [&] { return s->terminate || s->queue.size() < MaxQueued; });
        return !s->terminate;
    }

    // With the lock held: what the next hand-over takes is of this kind now.
    void note(const Item& item) {
        const auto now = Clock::now();
        if (item.error) {
            urgent = true;
        } else if (quiet && !item.bytes.empty() &&
                   quiet(item.bytes[0], item.bytes.data() + 1, item.bytes.size() - 1)) {
            if (holdsNews) burstEnded = true;
            if (!holdsQuiet) firstQuiet = now;
            holdsQuiet = true;
        } else {
            if (!holdsNews) firstNews = now;
            holdsNews = true;
        }
    }

    // With the lock held: when the GUI thread is to be woken for what waits.
    Clock::time_point dueAt() const {
        if (!quiet) return lastPost + BatchMs;
        if (urgent || burstEnded) return Clock::time_point{};
        auto at = Clock::time_point::max();
        if (holdsNews) at = firstNews + NewsHoldMs;
        if (holdsQuiet) at = std::min(at, firstQuiet + QuietHoldMs);
        return at;
    }

    // With the lock held: the GUI thread takes everything queued so far.
    void takenAll() { holdsNews = holdsQuiet = burstEnded = urgent = false; }

    // Reader, with the lock held: wakes the GUI thread when reports wait and the batch
    // is due.
    static void flushIfDue(const std::shared_ptr<Shared>& s, std::unique_lock<std::mutex>&) {
        if (s->posted || s->queue.empty()) return;
        const auto now = Clock::now();
        // A full queue goes at once: the reader is about to wait for the GUI thread.
        if (now < s->dueAt() && s->queue.size() < MaxQueued) return;
        s->posted = true;
        s->lastPost = now;
        s->wakeups.fetch_add(1);
        post(s);
    }

    // Reader: how long the next wait may last so that a waiting batch is not held back.
    int waitMs(int slice) {
        std::lock_guard<std::mutex> lk(m);
        if (posted || queue.empty()) return slice;
        const auto due = dueAt();
        if (due == Clock::time_point::max()) return slice;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count() + 1;
        return static_cast<int>(std::clamp<long long>(left, 1, slice));
    }

    // GUI thread: runs the reports queued when the batch began, in order. A nested event
    // loop inside a handler must not start another batch in between: the outer one goes on.
    void runPending() {
        if (inDelivery) return;
        std::size_t n;
        {
            std::lock_guard<std::mutex> lk(m);
            n = queue.size();
            takenAll();
        }
        if (n > 0) batches.fetch_add(1);
        for (std::size_t i = 0; i < n; ++i) {
            Item item;
            {
                std::lock_guard<std::mutex> lk(m);
                if (abandoned || queue.empty()) break;
                item = std::move(queue.front());
                queue.pop_front();
            }
            cv.notify_all();
            deliver(item);
        }
        std::lock_guard<std::mutex> lk(m);
        if (abandoned) return;
        if (!queue.empty() && !terminate && Clock::now() >= dueAt()) {
            // More came while this batch ran; the next runs after the events in between.
            post(shared_from_this());
            return;
        }
        // What came meanwhile and is not due yet: the reader wakes us when it is.
        posted = false;
    }

    void deliver(const Item& item) {
        inDelivery = true;
        try {
            if (item.error)
                device->deliverError(item.code);
            else
                device->deliverReport(item.bytes.data(), item.bytes.size());
        } catch (...) {
            // Handlers report their own errors; nothing may cross into the event loop.
        }
        // The device may be gone now (released inside its own handler): only our state.
        inDelivery = false;
        deliveries.fetch_add(1);
    }

    static void run(std::shared_ptr<Shared> s) {
        for (;;) {
            if (s->stopping()) break;
            THidDevice* dev = s->device;
            const int slice = dev->ReadSleepTime();
            std::uint32_t error = 0;
            if (!dev->ReadReportAsync(s->buffer.data(), s->buffer.size(), error)) {
                s->lastError = error;
                Item e;
                e.error = true;
                e.code = error;
                if (!enqueue(s, std::move(e))) break;
                // A read that cannot start (unplugged cable) is retried after one slice,
                // not at once, so the GUI thread is not flooded with errors.
                s->sleepSlice(slice);
                std::unique_lock<std::mutex> lk(s->m);
                flushIfDue(s, lk);
                continue;
            }
            bool stop = false;
            for (;;) {
                const HidReadResult r =
                    dev->AwaitReport(s->buffer.data(), s->buffer.size(), s->waitMs(slice));
                if (s->stopping()) {
                    stop = true;
                    break;
                }
                if (r.status == HidReadStatus::TimedOut) {
                    std::unique_lock<std::mutex> lk(s->m);
                    flushIfDue(s, lk);
                    continue;
                }
                if (r.status == HidReadStatus::Failed) {
                    s->sleepSlice(slice); // dropped silently, but no busy loop on a dead node
                    break;
                }
                if (r.bytes == 0) break;
                Item rep;
                rep.bytes.assign(s->buffer.begin(),
                                 s->buffer.begin() + static_cast<std::ptrdiff_t>(
                                                         std::min(r.bytes, s->buffer.size())));
                if (!enqueue(s, std::move(rep))) stop = true;
                break;
            }
            if (stop) break;
        }
        {
            std::lock_guard<std::mutex> lk(s->m);
            s->finished = true;
        }
        s->cv.notify_all();
    }
};

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device, std::size_t inputReportLength,
                                           THidQuietReport quiet)
    : s_(std::make_shared<Shared>()), port_(std::make_unique<QObject>()) {
    s_->device = device;
    s_->quiet = std::move(quiet);
    s_->port = port_.get();
    s_->buffer.assign(std::max<std::size_t>(inputReportLength, 1), 0);
}

THidDeviceReadThread::~THidDeviceReadThread() {
    Stop();
    if (s_->inDelivery) {
        // We are inside a call queued to the port: let the event loop delete it later.
        port_.release()->deleteLater();
    }
}

void THidDeviceReadThread::Start() {
    if (thread_.joinable()) return;
    thread_ = std::thread(&Shared::run, s_);
}

void THidDeviceReadThread::Stop(bool handOver) {
    if (!thread_.joinable()) {
        // Stopped again from a handler run by the hand-over below: deliver nothing more.
        std::lock_guard<std::mutex> lk(s_->m);
        s_->abandoned = true;
        return;
    }
    {
        std::lock_guard<std::mutex> lk(s_->m);
        s_->terminate = true;
        if (s_->inDelivery) s_->abandoned = true;
    }
    s_->cv.notify_all();
    s_->device->CancelPendingRead();
    if (s_->inDelivery) {
        // Called from this reader's own handler: the device may be released when we
        // return, so the reader ends on its own and nothing queued is delivered.
        thread_.detach();
        return;
    }
    {
        std::unique_lock<std::mutex> lk(s_->m);
        s_->cv.wait(lk, [this] { return s_->finished; });
    }
    thread_.join();
    // Reports already read from the device are readings: hand them over before reading
    // ends, in order. A handler may stop or release the device meanwhile, so keep our own
    // reference and touch nothing of this object after a delivery that did so.
    const std::shared_ptr<Shared> s = s_;
    while (handOver) {
        Shared::Item item;
        {
            std::lock_guard<std::mutex> lk(s->m);
            if (s->abandoned || s->queue.empty()) break;
            item = std::move(s->queue.front());
            s->queue.pop_front();
        }
        s->deliver(item);
    }
    std::lock_guard<std::mutex> lk(s->m);
    s->queue.clear();
    // A wake-up still queued to the port finds nothing to do.
    s->abandoned = true;
}

std::uint32_t THidDeviceReadThread::LastError() const {
    return s_->lastError;
}
std::uint64_t THidDeviceReadThread::Deliveries() const {
    return s_->deliveries.load();
}
std::uint64_t THidDeviceReadThread::Batches() const {
    return s_->batches.load();
}
std::uint64_t THidDeviceReadThread::Wakeups() const {
    return s_->wakeups.load();
}

void THidDeviceReadThread::HandOverQueued() {
    s_->runPending();
}

bool THidDeviceReadThread::WaitForQueuedDelivery(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lk(s_->m);
    return s_->cv.wait_for(lk, timeout, [this] { return !s_->queue.empty(); });
}

// ---- Device -----------------------------------------------------------------------------

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller)
    : controller_(controller), pnp_(std::move(info)) {
    if (!controller_ || !controller_->services_ || !pnp_)
        throw EControllerError("device cannot be opened");
    services_ = controller_->services_;
    dataHandler_ = controller_->onDeviceData_;
    dataErrorHandler_ = controller_->onDeviceDataError_;
    unplugHandler_ = controller_->onDeviceUnplug_;
    HidHandle h = openPath(HidAccess::ReadWrite);
    readWrite_ = h != InvalidHidHandle;
    if (h == InvalidHidHandle) h = openPath(HidAccess::NoAccess);
    if (h == InvalidHidHandle) throw EControllerError("device cannot be opened");
    attributes_.Size = 12;
    const bool identified = services_->getAttributes(h, attributes_);
    services_->close(h);
    if (!identified) throw EControllerError("device cannot be identified");
}

THidDevice::~THidDevice() {
    // Check-in: stop reading, close everything, then let the controller put a fresh
    // object in our place (or drop the entry when the device is gone).
    const THidDataEvent data = dataHandler_;
    const THidPlugEvent unplug = unplugHandler_;
    SetDataHandler({});
    unplugHandler_ = {};
    CloseMainHandle();
    CloseReadHandle();
    if (controller_) {
        auto& list = controller_->list_;
        auto it = std::find(list.begin(), list.end(), this);
        if (it != list.end()) {
            if (pluggedIn_) {
                THidDevice* fresh = nullptr;
                try {
                    fresh = new THidDevice(std::move(pnp_), controller_);
                } catch (...) {
                    fresh = nullptr; // gone in between: the entry must not point at us
                }
                it = std::find(list.begin(), list.end(), this);
                if (fresh) {
                    fresh->quiet_ = quiet_;
                    fresh->SetDataHandler(data);
                    fresh->unplugHandler_ = unplug;
                    fresh->SetReadSleepTime(ReadSleepTime());
                    *it = fresh;
                } else {
                    list.erase(it);
                }
            } else {
                list.erase(it);
            }
        }
    }
}

HidHandle THidDevice::openPath(HidAccess access) {
    return services_->open(pnp_->DevicePath, access);
}

bool THidDevice::CanOpen() const {
    return pluggedIn_ && (checkedOut_ || enumerating_);
}

bool THidDevice::OpenMainHandle() {
    if (CanOpen() && mainHandle_ == InvalidHidHandle) {
        HidHandle h = openPath(HidAccess::ReadWrite);
        readWrite_ = h != InvalidHidHandle;
        if (h == InvalidHidHandle) h = openPath(HidAccess::NoAccess);
        mainHandle_ = h;
        if (h != InvalidHidHandle) {
            if (mainInputBuffers_ != 0) services_->setNumInputBuffers(h, mainInputBuffers_);
            std::uint32_t n = 0;
            if (services_->getNumInputBuffers(h, n)) mainInputBuffers_ = n;
        }
    }
    return mainHandle_ != InvalidHidHandle;
}

void THidDevice::CloseMainHandle() {
    if (mainHandle_ != InvalidHidHandle) services_->close(mainHandle_);
    mainHandle_ = InvalidHidHandle;
    mainInputBuffers_ = 0;
}

bool THidDevice::OpenReadHandle() {
    std::lock_guard<std::mutex> lk(readHandleMutex_);
    if (CanOpen() && readHandle_ == InvalidHidHandle) {
        readHandle_ = openPath(HidAccess::ReadOnly);
        if (readHandle_ != InvalidHidHandle) {
            if (readInputBuffers_ != 0)
                services_->setNumInputBuffers(readHandle_, readInputBuffers_);
            std::uint32_t n = 0;
            if (services_->getNumInputBuffers(readHandle_, n)) readInputBuffers_ = n;
        }
    }
    return readHandle_ != InvalidHidHandle;
}

void THidDevice::CloseReadHandle() {
    std::lock_guard<std::mutex> lk(readHandleMutex_);
    // The services keep the file alive until a reader waiting on it has returned.
    if (readHandle_ != InvalidHidHandle) services_->close(readHandle_);
    readHandle_ = InvalidHidHandle;
    readInputBuffers_ = 0;
}

HidCaps THidDevice::QueryCaps() {
    if (!capsFetched_ && OpenMainHandle()) {
        HidCaps c;
        capsFetched_ = services_->getCaps(mainHandle_, c);
        if (capsFetched_) caps_ = c;
        CloseMainHandle();
    }
    return capsFetched_ ? caps_ : HidCaps{};
}

std::u16string THidDevice::ProductText() {
    if (productText_.empty() && OpenMainHandle()) {
        std::u16string s;
        if (services_->getProductString(mainHandle_, s)) {
            if (s.size() > 253) s.resize(253);
            productText_ = s.substr(0, s.find(u'\0'));
        }
        CloseMainHandle();
    }
    return productText_;
}

std::u16string THidDevice::SerialText() {
    if (serialText_.empty() && OpenMainHandle()) {
        constexpr std::size_t words = 254;
        std::u16string s;
        if (services_->getSerialNumberString(mainHandle_, s)) {
            std::vector<char16_t> serial(words, 0);
            for (std::size_t i = 0; i < s.size() && i < words - 1; ++i)
                serial[i] = s[i];
            std::vector<char16_t> lang(words, 0xFFFF);
            services_->getIndexedString(mainHandle_, 0, lang.data(), words);
            // Length of the language list: up to the last word the device wrote.
            std::size_t length = 0;
            for (std::size_t i = words; i-- > 0;) {
                if (lang[i] != 0xFFFF) {
                    length = lang[i] != 0 ? i + 1 : i;
                    break;
                }
            }
            bool differs = false;
            for (std::size_t i = 0; i < length; ++i)
                if (serial[i] != lang[i]) differs = true;
            if (differs) {
                const auto end = std::find(serial.begin(), serial.end(), u'\0');
                serialText_.assign(serial.begin(), end);
            }
        }
        CloseMainHandle();
    }
    return serialText_;
}

bool THidDevice::SendFeatureReport(const std::uint8_t* buffer, std::size_t length) {
    if (!OpenMainHandle()) return false;
    return services_->setFeature(mainHandle_, buffer, length);
}

bool THidDevice::WriteOutputReport(const std::uint8_t* buffer, std::size_t length,
                                   std::size_t& written) {
    if (!OpenMainHandle()) return false;
    std::size_t n = 0;
    const bool ok = services_->write(mainHandle_, buffer, length, n);
    written = ok ? n : 0;
    return ok;
}

void THidDevice::SetDataHandler(const THidDataEvent& handler) {
    if (!handler) StopReading();
    dataHandler_ = handler;
    StartReading();
}

void THidDevice::StartReading() {
    if (!dataHandler_ || !pluggedIn_ || !checkedOut_ || !readWrite_ || readThread_) return;
    const HidCaps caps = QueryCaps();
    readThread_ = std::make_unique<THidDeviceReadThread>(this, caps.InputReportByteLength, quiet_);
    readThread_->Start();
}

void THidDevice::StopReading(bool handOverRead) {
    // Take the thread out first: a delivery run while stopping may come back here.
    std::unique_ptr<THidDeviceReadThread> t = std::move(readThread_);
    if (t) t->Stop(handOverRead);
}

void THidDevice::HandOverReports() {
    if (readThread_) readThread_->HandOverQueued();
}

void THidDevice::SetReadSleepTime(int ms) {
    if (ms >= 10 && ms <= 10000) readSleepTime_ = ms;
}

void THidDevice::MarkUnplugged() {
    // Cleared first, so a read thread cannot open the read handle again in between.
    pluggedIn_ = false;
    CloseMainHandle();
    CloseReadHandle();
    const THidPlugEvent h = unplugHandler_;
    unplugHandler_ = {};
    if (h) h(this);
}

bool THidDevice::ReadReportAsync(std::uint8_t* buffer, std::size_t length, std::uint32_t& error) {
    std::memset(buffer, 0, length);
    if (!OpenReadHandle()) {
        error = services_->lastError();
        if (error == 0) error = ENODEV;
        return false;
    }
    return true;
}

HidReadResult THidDevice::AwaitReport(std::uint8_t* buffer, std::size_t length, int timeoutMs) {
    HidHandle h;
    {
        std::lock_guard<std::mutex> lk(readHandleMutex_);
        h = readHandle_;
    }
    if (h == InvalidHidHandle) return {HidReadStatus::Failed, 0, ENODEV};
    // A close from the GUI thread meanwhile ends this wait with Failed; the handle
    // number is never reused, so nothing else can be read by mistake.
    return services_->readReport(h, buffer, length, timeoutMs);
}

void THidDevice::CancelPendingRead() {
    std::lock_guard<std::mutex> lk(readHandleMutex_);
    if (readHandle_ != InvalidHidHandle) services_->wake(readHandle_);
}

void THidDevice::deliverReport(const std::uint8_t* buffer, std::size_t bytes) {
    const THidDataEvent h = dataHandler_; // the current handler at each delivery
    if (h && bytes > 0) h(this, buffer[0], buffer + 1, static_cast<std::uint16_t>(bytes - 1));
}

void THidDevice::deliverError(std::uint32_t error) {
    const THidDataErrorEvent h = dataErrorHandler_;
    if (h) h(this, error);
}

// ---- Controller -------------------------------------------------------------------------

THidDeviceController::THidDeviceController(QObject* owner, std::shared_ptr<HidServices> services)
    : QObject(owner), services_(std::move(services)) {
    if (liveControllers.fetch_add(1) > 0) {
        liveControllers.fetch_sub(1);
        throw EControllerError("Only one THidDeviceController allowed per program");
    }
    counted_ = true;
    for (auto& d : RescanDevices())
        list_.push_back(d.release());
    if (services_) {
        services_->watchChanges([this] {
            try {
                DeviceChange();
            } catch (...) {
                // The window's handlers report their own errors.
            }
        });
    }
}

THidDeviceController::~THidDeviceController() {
    if (counted_) liveControllers.fetch_sub(1);
    onDeviceChange_ = {};
    onDeviceUnplug_ = {};
    onEnumerate_ = {};
    if (services_) services_->watchChanges({});
    std::vector<THidDevice*> list;
    list.swap(list_);
    for (THidDevice* d : list) {
        d->controller_ = nullptr;
        if (d->IsCheckedOut())
            d->MarkUnplugged(); // stays with its holder
        else
            delete d;
    }
}

void THidDeviceController::SetDevThreadSleepTime(int ms) {
    if (ms == devThreadSleepTime_) return;
    for (THidDevice* d : list_)
        if (d->ReadSleepTime() == devThreadSleepTime_) d->SetReadSleepTime(ms);
    devThreadSleepTime_ = ms;
}

void THidDeviceController::SetOnDeviceChange(const TNotifyEvent& e) {
    if (e == onDeviceChange_) return;
    onDeviceChange_ = e;
    DeviceChange();
    changeFired_ = true;
}

void THidDeviceController::SetOnDeviceData(const THidDataEvent& e) {
    if (e == onDeviceData_) return;
    const std::vector<THidDevice*> list = list_;
    for (THidDevice* d : list)
        if (d->DataHandler() == onDeviceData_) d->SetDataHandler(e);
    onDeviceData_ = e;
}

void THidDeviceController::SetOnDeviceDataError(const THidDataErrorEvent& e) {
    if (e == onDeviceDataError_) return;
    for (THidDevice* d : list_)
        if (d->DataErrorHandler() == onDeviceDataError_) d->SetDataErrorHandler(e);
    onDeviceDataError_ = e;
}

void THidDeviceController::SetOnDeviceUnplug(const THidPlugEvent& e) {
    if (e == onDeviceUnplug_) return;
    for (THidDevice* d : list_)
        if (d->UnplugHandler() == onDeviceUnplug_) d->SetUnplugHandler(e);
    onDeviceUnplug_ = e;
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::RescanDevices() {
    std::vector<std::unique_ptr<THidDevice>> out;
    if (!services_) return out;
    for (const HidInterfaceEntry& e : services_->enumerate()) {
        try {
            out.push_back(std::make_unique<THidDevice>(
                std::make_unique<THidPnPInfo>(e.path, e.instance), this));
        } catch (...) {
            // An interface that cannot be opened or identified is left out.
        }
    }
    return out;
}

void THidDeviceController::DeviceChange() {
    if (!services_) return;
    std::vector<std::unique_ptr<THidDevice>> fresh = RescanDevices();
    bool changed = false;
    auto inFresh = [&](std::uint32_t inst) {
        return std::any_of(fresh.begin(), fresh.end(),
                           [&](const auto& n) { return n && n->PnPInfo()->DevInst == inst; });
    };
    // Removals, newest list positions first.
    for (std::size_t i = list_.size(); i-- > 0;) {
        if (i >= list_.size()) continue; // a handler shortened the list
        THidDevice* d = list_[i];
        if (d->IsPluggedIn() && inFresh(d->PnPInfo()->DevInst)) continue;
        d->MarkUnplugged();
        if (onRemoval_) onRemoval_(d);
        if (!d->IsCheckedOut()) {
            auto it = std::find(list_.begin(), list_.end(), d);
            if (it != list_.end()) {
                list_.erase(it);
                delete d;
            }
        }
        changed = true;
    }
    // Duplicates of devices we already hold.
    for (auto& n : fresh) {
        const std::uint32_t inst = n->PnPInfo()->DevInst;
        const bool held = std::any_of(list_.begin(), list_.end(), [&](THidDevice* d) {
            return d->PnPInfo() && d->PnPInfo()->DevInst == inst && d->IsPluggedIn();
        });
        if (held) {
            n->controller_ = nullptr;
            n.reset();
        }
    }
    // Arrivals, in scan order.
    for (auto& n : fresh) {
        if (!n) continue;
        THidDevice* d = n.release();
        list_.push_back(d);
        changed = true;
        if (onArrival_) onArrival_(d);
    }
    if ((changed || !changeFired_) && onDeviceChange_) onDeviceChange_(this);
}

std::int32_t THidDeviceController::EnumerateDevices() {
    std::int32_t count = 0;
    for (std::size_t i = 0; i < list_.size(); ++i) {
        THidDevice* d = list_[i];
        if (!d->IsPluggedIn()) continue;
        ++count;
        d->enumerating_ = true;
        const bool goOn = onEnumerate_ ? onEnumerate_(d, static_cast<std::int32_t>(i)) : false;
        d->enumerating_ = false;
        if (!d->IsCheckedOut()) {
            d->CloseMainHandle();
            d->CloseReadHandle();
        }
        if (!goOn) break;
    }
    return count;
}

bool THidDeviceController::CheckOutAt(int index, THidDevice*& device) {
    device = nullptr;
    if (index < 0 || index >= Count()) return false;
    THidDevice* d = list_[static_cast<std::size_t>(index)];
    if (d->IsCheckedOut()) return false;
    d->checkedOut_ = true;
    d->StartReading();
    device = d;
    return true;
}

} // namespace rd780
