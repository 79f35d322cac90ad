#pragma once
// The waveform carried by a long frame: 320 sample bytes after the 41 bytes of an ordinary
// frame, taken as 160 pairs, plus the offset in frame byte 12.
#include <array>
#include <string>

namespace rd780::view {

constexpr std::size_t LongFrameChars = 722;
constexpr int WaveformPoints = 160;

// A byte read signed: 128 stays +128, 129 to 255 become -127 to -1.
int signedSample(unsigned value);

// The 160 plotted values (offset included). Throws AppError for a text that is not a whole
// long frame of hexadecimal digits, before anything is drawn.
std::array<int, WaveformPoints> decodeWaveform(const std::string& frame);

} // namespace rd780::view
