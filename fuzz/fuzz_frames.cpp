// Feeds arbitrary HID input reports through frame assembly and decoding, and arbitrary
// text straight into the decoder. Nothing may crash, read outside its text or grow without
// bound; decode failures are expected and caught.
#include "meter/core/FrameAssembler.h"
#include "meter/core/FrameDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Sink : rd780::DecodeSink {
    void plotWaveform(const std::string& frame) override {
        if (frame.size() != rd780::LongFrameChars) std::abort();
    }
};

void decode(const std::string& frame) {
    std::string text, unit, coupling, autoRange;
    float value = 0;
    Sink sink;
    try {
        rd780::decodeFrame(frame, {}, {text, value, unit, coupling, autoRange}, sink);
    } catch (const rd780::DecodeError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string frameHex, chunk;
    bool pending = false;
    int idle = 0, poll = 0;
    // Each report: a length byte, then the report ID and that many data bytes.
    std::size_t i = 0;
    while (i < size) {
        const std::size_t len = data[i++] % 66;
        if (i >= size) break;
        const uint8_t id = data[i++];
        const std::size_t n = len < size - i ? len : size - i;
        const auto out = rd780::assembleHidReport({frameHex, chunk, pending, idle, poll}, id,
                                                  data + i, n);
        i += n;
        if (frameHex.size() > rd780::LongFrameChars) std::abort();
        if (out.wholeFrame) decode(frameHex);
    }
    decode(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
