#include "app/LinkCapture.h"

#include "link/capture/CaptureFile.h"
#include "link/hid/UsbLinkPanel.h"
#include "link/serial/SerialLinkPanel.h"

#include <stdexcept>

namespace rd780 {

LinkCapture::LinkCapture(const ProgramOptions& options, UsbLinkPanel& usb, SerialLinkPanel& serial,
                         QObject* parent)
    : QObject(parent) {
    if (!options.capture.empty()) {
        auto failed = std::make_shared<bool>(false);
        auto tap = [this, failed, path = options.capture](LinkKind link, const uint8_t* data,
                                                          std::size_t size) {
            if (*failed) return;
            std::string error;
            if (!file_) {
                file_ = std::make_unique<CaptureWriter>(
                    path, link, link == LinkKind::Serial ? "serial port" : "USB cable");
                if (!file_->open(error)) {
                    // Said once (the tap runs under the panel's error gate); the links go on.
                    *failed = true;
                    throw std::runtime_error(error);
                }
            }
            if (file_->link() != link) return; // one link per capture: the first one used
            file_->record(data, size);
            if (!file_->flush(error)) {
                *failed = true;
                throw std::runtime_error(error);
            }
        };
        usb.CaptureTap = [tap](const uint8_t* d, std::size_t n) { tap(LinkKind::Usb, d, n); };
        serial.CaptureTap = [tap](const uint8_t* d, std::size_t n) { tap(LinkKind::Serial, d, n); };
    }
    if (options.replay.empty()) return;
    auto capture = std::make_shared<Capture>();
    std::string error;
    if (!readCapture(options.replay, *capture, error)) throw std::runtime_error(error);
    if (capture->link == LinkKind::Serial) {
        serial.ReplayCapture = capture;
        serial.ReplaySpeed = options.replaySpeed;
        return;
    }
    hidReplay_ = std::shared_ptr<const std::vector<CaptureRecord>>(capture, &capture->records);
}

LinkCapture::~LinkCapture() {
    std::string ignored; // every record was flushed as it came
    if (file_) file_->finish(ignored);
}

} // namespace rd780
