#pragma once
// Assembly of meter frames from what the links deliver. A frame is kept as uppercase
// hexadecimal text ("frame text"), two characters per byte; it is whole at 82 characters
// (41 bytes) or 722 characters (361 bytes) and begins with "5A".
#include <cstddef>
#include <cstdint>
#include <string>

namespace rd780 {

constexpr std::size_t ShortFrameChars = 82;
constexpr std::size_t LongFrameChars = 722;

// Value of one hexadecimal digit of either case, or -1.
int hexDigitValue(char c);

// Appends bytes as two uppercase hexadecimal digits each.
void appendHex(std::string& text, const uint8_t* data, std::size_t size);

// Adds a finished chunk of frame text to frameHex: a chunk beginning with "5A" starts a new
// frame, any other is appended. Returns true when frameHex then holds a whole frame.
// A text that has grown past a long frame can never become whole, so it is emptied.
bool flushChunk(std::string& frameHex, const std::string& chunk);

// The assembly state of the USB link, owned by the window's module state.
struct HidAssemblyState {
    std::string& FrameHex;
    std::string& ReportChunk;
    bool& ChunkPending;
    int& UsbIdleReports;
    int& UsbPollReports;
};

struct HidReportOutcome {
    bool dataReport = false; // carried meter bytes: reportText goes to the history
    bool wholeFrame = false; // a flush completed a frame: decode it, then poll again
    std::string reportText;  // "R 00  03 5A 00 ... "
};

// The report text: "R " + id as two digits + two spaces, then each data byte and a space.
std::string hidReportText(uint8_t reportId, const uint8_t* data, std::size_t size);

// One HID input report (data bytes without the report ID).
HidReportOutcome assembleHidReport(HidAssemblyState st, uint8_t reportId, const uint8_t* data,
                                   std::size_t size);

} // namespace rd780
