#include "link/hid/UsbCable.h"

#include "link/hid/HidControllerClass.h"

namespace rd780 {

bool UsbCable::isCable(THidDevice& device) {
    return device.ProductText() == CableProduct && device.SerialText().empty();
}

bool UsbCable::configure(THidDevice& device, std::uint32_t baud, std::vector<std::uint8_t>* sent) {
    const std::size_t length = featureReportLength(device.QueryCaps());
    std::vector<std::uint8_t> buf = cableFeatureReport(baud);
    if (buf.size() < length) buf.resize(length, 0); // never sent past the buffer's end
    const bool ok = device.SendFeatureReport(buf.data(), length);
    if (sent) *sent = std::move(buf);
    device.SetQuietReport(&UsbCable::quietReport);
    return ok;
}

bool UsbCable::quietReport(std::uint8_t, const std::uint8_t* data, std::size_t size) {
    // As the assembly reads it: the first byte's low digit counts the meter bytes.
    if (size == 0) return true;
    const int count = data[0] & 0x0f;
    return count < 1 || count > 9;
}

std::vector<std::uint8_t> UsbCable::poll(THidDevice& device, std::size_t& written) {
    // A longer output report is padded with zeros; the buffer is never read past its end.
    const std::size_t length = device.QueryCaps().OutputReportByteLength;
    std::vector<std::uint8_t> buf = cablePollReport(length);
    device.WriteOutputReport(buf.data(), length, written);
    return buf;
}

UsbCable::UsbCable(std::string& frameHex, std::string& reportChunk, bool& chunkPending,
                   int& idleReports, int& pollReports, int& idleTicks)
    : assembly_{frameHex, reportChunk, chunkPending, idleReports, pollReports},
      idleTicks_(idleTicks) {}

void UsbCable::restart() {
    assembly_.ReportChunk.clear();
    assembly_.UsbIdleReports = 0;
    assembly_.UsbPollReports = 0;
}

HidReportOutcome UsbCable::report(std::uint8_t reportId, const std::uint8_t* data,
                                  std::size_t size) {
    HidReportOutcome out = assembleHidReport(assembly_, reportId, data, size);
    // A long frame comes in several reports: while they arrive the link is not idle.
    if (out.dataReport) idleTicks_ = 0;
    return out;
}

UsbCable::TickResult UsbCable::tick(THidDevice* device) {
    if (device) device->HandOverReports();
    TickResult r;
    if (idleTicks_ != IdleTicks) {
        ++idleTicks_;
        return r;
    }
    idleTicks_ = 0;
    r.checked = true;
    if (assembly_.UsbPollReports >= RepollReports) {
        r.repoll = true;
        assembly_.UsbPollReports = 0;
    }
    if (assembly_.UsbIdleReports >= GiveUpReports) {
        r.giveUp = true;
        assembly_.UsbIdleReports = 0;
        if (device) device->StopReading(false);
    }
    return r;
}

} // namespace rd780
