#pragma once
// The two reports the program sends the USB cable: the feature report that sets the
// cable's serial line, and the output report that asks the meter for its next frame.
// Both are built in a buffer of the report ID (byte 0, always 0) and up to 64 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rd780 {

constexpr std::size_t CableReportBufferSize = 65;
constexpr std::size_t CableFeatureLength = 10;

// The feature report for a line rate of 2400, 4800 or 9600 bits per second (any other
// rate leaves the rate bytes zero, as no box ticked does in the window).
inline std::vector<std::uint8_t> cableFeatureReport(std::uint32_t baud) {
    std::vector<std::uint8_t> buf(CableReportBufferSize, 0);
    if (baud == 9600) buf[1] = 0x80, buf[2] = 0x25;
    if (baud == 4800) buf[1] = 0xC0, buf[2] = 0x12;
    if (baud == 2400) buf[1] = 0x60, buf[2] = 0x09;
    buf[5] = 0x03;
    return buf;
}

// The poll report, padded with zeros to the device's output report length.
inline std::vector<std::uint8_t> cablePollReport(std::size_t outputReportLength) {
    std::vector<std::uint8_t> buf(std::max(outputReportLength, CableReportBufferSize), 0);
    buf[1] = 0x02;
    buf[2] = 0x5A;
    return buf;
}

} // namespace rd780
