#pragma once
// --capture and --replay in the window: the capture file taps both links and is made at
// the first delivery, naming that link; a serial capture is handed to the serial link to
// play on Connect, a USB one is kept for the device list.
#include "app/ProgramOptions.h"

#include <QObject>

#include <memory>
#include <vector>

namespace rd780 {

class CaptureWriter;
struct CaptureRecord;
class SerialLinkPanel;
class UsbLinkPanel;

class LinkCapture : public QObject {
public:
    // Throws when the replay cannot be read.
    LinkCapture(const ProgramOptions& options, UsbLinkPanel& usb, SerialLinkPanel& serial,
                QObject* parent);
    ~LinkCapture() override;
    // The reports of a USB capture to replay, or nothing.
    std::shared_ptr<const std::vector<CaptureRecord>> hidReplay() const { return hidReplay_; }

private:
    std::unique_ptr<CaptureWriter> file_;
    std::shared_ptr<const std::vector<CaptureRecord>> hidReplay_;
};

} // namespace rd780
