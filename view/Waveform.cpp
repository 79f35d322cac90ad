#include "view/Waveform.h"

#include "meter/core/FrameAssembler.h"

#include "base/Guard.h"

namespace rd780::view {

namespace {

// The byte at 1-based character position pos and pos + 1.
int byteAt(const std::string& text, std::size_t pos) {
    const int hi = hexDigitValue(text[pos - 1]);
    const int lo = hexDigitValue(text[pos]);
    if (hi < 0 || lo < 0)
        throw AppError("'" + text.substr(pos - 1, 2) + "' is not a valid integer value");
    return signedSample(static_cast<unsigned>(hi * 16 + lo));
}

} // namespace

int signedSample(unsigned value) {
    const int v = static_cast<int>(value & 0xFF);
    return v > 128 ? v - 256 : v;
}

std::array<int, WaveformPoints> decodeWaveform(const std::string& frame) {
    if (frame.size() != LongFrameChars)
        throw AppError("Waveform frame of " + std::to_string(frame.size()) + " characters");
    const int offset = byteAt(frame, 25);
    std::array<int, WaveformPoints> out{};
    const std::size_t samples = 83; // first sample character, frame byte 41
    for (int i = 0; i < WaveformPoints; ++i) {
        const std::size_t at = samples + 4 * static_cast<std::size_t>(i);
        const int a = byteAt(frame, at);
        const int b = byteAt(frame, at + 2);
        // The larger square wins; on equal squares the second byte.
        out[static_cast<std::size_t>(i)] = (a * a > b * b ? a : b) + offset;
    }
    return out;
}

} // namespace rd780::view
