#pragma once
// Builds frame texts for tests: a 41-byte frame with the display bytes 21..27, the
// function code, the mode digit and the range byte put where the meter puts them.
#include "meter/core/FrameAssembler.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rd780::test {

struct FrameSpec {
    std::string display = " 00.66 "; // bytes 21..27: sign, five display characters, prefix
    int code = 0;                    // byte 6
    int mode = 0;                    // byte 10
    int range = 0;                   // byte 19
    int offset = 0;                  // byte 12
};

inline std::vector<uint8_t> frameBytes(const FrameSpec& f, bool longFrame = false) {
    std::vector<uint8_t> b(longFrame ? 361 : 41, 0);
    b[0] = 0x5A;
    b[6] = static_cast<uint8_t>(f.code);
    b[10] = static_cast<uint8_t>(f.mode);
    b[12] = static_cast<uint8_t>(f.offset);
    b[19] = static_cast<uint8_t>(f.range);
    for (std::size_t i = 0; i < 7 && i < f.display.size(); ++i)
        b[21 + i] = static_cast<uint8_t>(f.display[i]);
    return b;
}

inline std::string frameText(const FrameSpec& f, bool longFrame = false) {
    const auto b = frameBytes(f, longFrame);
    std::string t;
    appendHex(t, b.data(), b.size());
    return t;
}

} // namespace rd780::test
