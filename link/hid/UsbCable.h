#pragma once
// The meter's USB cable, the same for the window and the logger: which HID device it is,
// the line settings and polls it is sent, the assembly of its reports into frame text,
// and the rule that asks a silent meter again and in the end gives up on it.
#include "link/hid/CableReports.h"
#include "meter/core/FrameAssembler.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rd780 {

class THidDevice;

inline constexpr char16_t CableProduct[] = u"USB to Serial";
inline constexpr char MeterNotReadyText[] =
    "USB interface cable is securely connected, please check if the meter is ready.";

class UsbCable {
public:
    static constexpr std::uint32_t Baud = 9600; // the meter's line rate behind the cable
    static constexpr int TickMs = 100;          // the link timer
    // The idle rule runs every IdleTicks + 1 ticks without a meter byte: after RepollReports
    // reports that carried no frame it polls again; after GiveUpReports it gives up.
    static constexpr int IdleTicks = 2;
    static constexpr int RepollReports = 600;
    static constexpr int GiveUpReports = 3000;

    // The cable is chosen on its own only when it is named "USB to Serial" and reports no
    // serial number: one that does is some other device under the same name.
    static bool isCable(THidDevice& device);
    // Sends the line settings for `baud` at the feature report length the device declares;
    // `sent` receives the buffer (at least that long). False when the device refused them.
    // The device is also told which of its reports carry no meter byte (quietReport), so
    // its reader wakes the program once per frame, not for each report.
    static bool configure(THidDevice& device, std::uint32_t baud,
                          std::vector<std::uint8_t>* sent = nullptr);
    // Asks the meter for its next frame; `written` is what the device took. Returns the
    // buffer sent, padded to the device's output report length.
    static std::vector<std::uint8_t> poll(THidDevice& device, std::size_t& written);
    // A report without meter bytes: the one after a burst of them ends the meter's frame.
    static bool quietReport(std::uint8_t reportId, const std::uint8_t* data, std::size_t size);

    // The assembly and idle counters, kept where the caller keeps its link state.
    UsbCable(std::string& frameHex, std::string& reportChunk, bool& chunkPending, int& idleReports,
             int& pollReports, int& idleTicks);

    // Starts the counts and the assembly afresh (a new connection).
    void restart();
    // One input report. A report with meter bytes shows the link alive.
    HidReportOutcome report(std::uint8_t reportId, const std::uint8_t* data, std::size_t size);

    struct TickResult {
        bool checked = false; // the idle rule ran (no meter byte for IdleTicks ticks)
        bool repoll = false;  // poll the meter again
        bool giveUp = false;  // the meter does not answer: end the link
    };
    // With the device being read, what its reader has read is handed over first, so the
    // counts are those of every report read so far, as if each had been handled on
    // arrival. On giving up, reading stops at once: nothing read after this point reaches
    // the handler.
    TickResult tick(THidDevice* device = nullptr);

private:
    HidAssemblyState assembly_;
    int& idleTicks_;
};

} // namespace rd780
