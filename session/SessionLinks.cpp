// The session's links: the USB cable (real or simulated), a serial port, a capture played
// back through either, and the tap that captures what a link delivered.
#include "session/MeterSession.h"

#include "link/capture/CaptureFile.h"
#include "link/hid/HidControllerClass.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/serial/SerialPortDriver.h"
#include "link/serial/SerialReplay.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/SerialChunker.h"

namespace rd780 {

bool MeterSession::start(std::string& error) {
    using Link = SessionOptions::Link;
    if (options_.driven) {
        // The caller's serial reads come here, its USB reports through usbReport; an
        // unreadable replay is told, and the readings of the links go on.
        chunkerOnFrames();
        if (!openSinks(error)) return false;
        if (options_.replay.empty()) return true;
        auto replay = std::make_shared<Capture>();
        if (!readCapture(options_.replay, *replay, error)) return false;
        replay_ = std::move(replay);
        return true;
    }
    if (!options_.replay.empty()) {
        // Read first: the capture decides which link it is played through.
        replay_ = std::make_shared<Capture>();
        if (!readCapture(options_.replay, *replay_, error)) return false;
    }
    if (!openSinks(error)) return false;
    if (!openCapture(error)) return false;
    const bool linked = replay_                         ? openReplay(error)
                        : options_.link == Link::Serial ? openSerial(error)
                        : options_.link == Link::Usb    ? openUsb(error)
                                                        : true;
    if (!linked) return false;
    const Link kind = replay_ ? replay_->link : options_.link;
    if (kind != Link::None) health_.connected(kind);
    // The link timer only watches the USB cable; a serial line is left asleep, and its
    // health is looked at with the recording's clock.
    connect(&linkTimer_, &QTimer::timeout, this, [this] { linkTick(); });
    if (device_)
        linkTimer_.start(UsbCable::TickMs);
    else if (kind != Link::None)
        connect(&recordTimer_, &QTimer::timeout, this, [this] { tellHealth(health_.tick()); });
    return true;
}

bool MeterSession::openCapture(std::string& error) {
    if (options_.capture.empty()) return true;
    return openCaptureFor((replay_ ? replay_->link : options_.link) == LinkKind::Serial
                              ? LinkKind::Serial
                              : LinkKind::Usb,
                          error);
}

bool MeterSession::openCaptureFor(LinkKind link, std::string& error) {
    using Link = SessionOptions::Link;
    const bool serial = link == Link::Serial;
    const std::string source = !options_.linkName.empty()                 ? options_.linkName
                               : serial && !options_.serialDevice.empty() ? options_.serialDevice
                               : options_.driven && serial                ? "serial port"
                               : options_.driven                          ? "USB cable"
                               : replay_                                  ? options_.replay
                               : !options_.usbDevice.empty()              ? options_.usbDevice
                                                                          : "USB to Serial";
    capture_ = std::make_unique<CaptureWriter>(options_.capture, link, source);
    return capture_->open(error);
}

bool MeterSession::capturing(LinkKind link) {
    if (!capture_) {
        // A driven session captures the first link that delivers; a failure is told once.
        if (!options_.driven || options_.capture.empty() || captureFailed_) return false;
        std::string error;
        if (!openCaptureFor(link, error)) {
            captureFailed_ = true;
            capture_.reset();
            sinkTrouble(error);
            return false;
        }
    }
    return capture_->link() == link; // one link per capture: the first one used
}

void MeterSession::chunkerOnFrames() {
    chunker_ = std::make_unique<SerialChunker>([this](const std::string& chunk) {
        if (flushChunk(frameHex_, chunk)) frame(frameHex_);
    });
}

bool MeterSession::openSerial(std::string& error) {
    serial_ = new TSerialPortDriver(this);
    serial_->SetComPort(pnCOM1);
    serial_->SetPortDevice(pnCOM1, options_.serialDevice);
    serial_->SetComPortSpeed(br2400);
    chunkerOnFrames();
    serial_->OnIdlePoll = [this] { chunker_->idle(); };
    serial_->OnReadError = [this](const std::string& why) {
        fail("serial port " + options_.serialDevice + ": " + why);
    };
    serial_->SetOnReceiveData({this, &MeterSession::serialData});
    if (!serial_->Connect()) {
        error = "serial port " + options_.serialDevice + ": " + serial_->LastOpenError();
        return false;
    }
    return true;
}

void MeterSession::serialData(void*, const std::uint8_t* data, int size) {
    if (!data || size <= 0) return;
    serialBytes(data, static_cast<std::size_t>(size));
}

void MeterSession::serialBytes(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || !chunker_ || over_) return;
    if (capturing(LinkKind::Serial)) capture_->record(data, size);
    chunker_->receive(data, size);
}

void MeterSession::serialIdle() {
    if (chunker_) chunker_->idle();
}

void MeterSession::serialClear() {
    if (chunker_) chunker_->clear();
}

LinkKind MeterSession::replayLink() const {
    return replay_ ? replay_->link : LinkKind::None;
}

std::shared_ptr<const std::vector<CaptureRecord>> MeterSession::usbReplay() const {
    if (!replay_ || replay_->link != LinkKind::Usb) return nullptr;
    return {replay_, &replay_->records};
}

void MeterSession::playSerialReplay(std::function<void()> finished) {
    stopSerialReplay();
    if (replayLink() != LinkKind::Serial) return;
    serialClear();
    serialReplay_ = std::make_unique<SerialReplay>(
        replay_, options_.speed,
        [this](const std::uint8_t* data, std::size_t size) { serialBytes(data, size); },
        [this] { serialIdle(); }, std::move(finished));
    serialReplay_->start();
}

void MeterSession::stopSerialReplay() {
    if (serialReplay_) serialReplay_->stop();
    serialReplay_.reset();
}

bool MeterSession::openReplay(std::string& error) {
    auto done = [this] {
        if (over_) return;
        // The last reports may still wait for their batch: they are part of the capture.
        if (device_) device_->HandOverReports();
        end(0, {});
    };
    if (replay_->link == LinkKind::Serial) {
        // The recorded reads go into the same frame finding as the port's.
        chunkerOnFrames();
        serialReplay_ = std::make_unique<SerialReplay>(
            replay_, options_.speed,
            [this](const std::uint8_t* data, std::size_t size) {
                serialData(nullptr, data, static_cast<int>(size));
            },
            [this] { chunker_->idle(); }, done);
        serialReplay_->start();
        return true;
    }
    // A cable that gives back the recorded reports, read like the real one.
    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig cable;
    cable.replay = std::shared_ptr<const std::vector<CaptureRecord>>(replay_, &replay_->records);
    cable.replaySpeed = options_.speed;
    sim->addDevice(cable);
    sim->setReplayEnded(done);
    options_.hid = sim;
    options_.usbDevice.clear();
    return openUsb(error);
}

bool MeterSession::openUsb(std::string& error) {
    hid_ = new THidDeviceController(this, options_.hid ? options_.hid : makeLinuxHidServices());
    hid_->SetOnEnumerate(THidEnumerateEvent(this, "enumerate", [this](THidDevice* d, int32_t i) {
        const bool wanted = options_.usbDevice.empty()
                                ? UsbCable::isCable(*d)
                                : d->PnPInfo() && d->PnPInfo()->DevicePath == options_.usbDevice;
        if (!wanted) return true;
        hid_->CheckOutAt(i, device_);
        return false;
    }));
    hid_->SetOnRemoval(THidPlugEvent(this, "removal", [this](THidDevice* d) {
        if (d != device_) return;
        tellHealth(
            health_.cableGone({d->VendorID(), d->ProductID(), d->ProductText(), d->SerialText()}));
        fail("the USB cable was unplugged");
    }));
    hid_->SetOnDeviceDataError(
        THidDataErrorEvent(this, "dataError", [this](THidDevice*, uint32_t e) {
            const std::string text = "read error: " + hid_->Services()->errorText(e);
            ++errors_;
            if (options_.readError == SessionOptions::ReadError::End) return fail(text);
            if (options_.message) options_.message(text);
        }));
    hid_->EnumerateDevices();
    if (!device_) {
        error = options_.usbDevice.empty() ? "no USB cable (\"USB to Serial\") found"
                                           : "no HID device " + options_.usbDevice;
        return false;
    }
    if (!device_->HasReadWriteAccess()) {
        error = "no read/write access to " + device_->PnPInfo()->DevicePath +
                ": install the udev rule and re-plug the cable";
        return false;
    }
    if (!UsbCable::configure(*device_, UsbCable::Baud)) {
        error = "the USB cable refused its line settings";
        return false;
    }
    cable_.restart();
    std::size_t written = 0;
    UsbCable::poll(*device_, written);
    device_->SetDataHandler(THidDataEvent(
        this, "data", [this](THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
            const HidReportOutcome r = usbReport(id, data, size);
            if (!r.wholeFrame || over_) return;
            std::size_t written = 0;
            // Even after a failed decode: the meter's next frame may be fine.
            if (device_) UsbCable::poll(*device_, written);
        }));
    return true;
}

HidReportOutcome MeterSession::usbReport(std::uint8_t reportId, const std::uint8_t* data,
                                         std::size_t size,
                                         const std::function<void(const HidReportOutcome&)>& seen) {
    // Once the run is over nothing more is captured: the capture holds what was recorded.
    if (over_) return {};
    if (capturing(LinkKind::Usb)) capture_->hidReport(reportId, data, size);
    HidReportOutcome r = cable_.report(reportId, data, size);
    if (seen) seen(r);
    if (r.wholeFrame && !over_) frame(frameHex_);
    return r;
}

void MeterSession::usbRestart() {
    cable_.restart();
}

UsbCable::TickResult MeterSession::usbTick(THidDevice* device) {
    tellHealth(health_.tick());
    // The cable's idle rule: a silent meter is asked again, and given up on at length.
    const UsbCable::TickResult idle = cable_.tick(device);
    if (idle.checked) emit linkIdle();
    return idle;
}

void MeterSession::linkTick() {
    const UsbCable::TickResult idle = usbTick(device_);
    if (!idle.checked || !device_) return;
    std::size_t written = 0;
    if (idle.repoll) UsbCable::poll(*device_, written);
    if (idle.giveUp) fail(MeterNotReadyText);
}

} // namespace rd780
