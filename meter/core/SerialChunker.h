#pragma once
// Finds the meter's frames in the serial byte stream by their structure: a frame begins with
// 0x5A, is 41 bytes long (361 with a waveform), and its first 41 bytes decode. Timing decides
// nothing on its own: frames back to back, split at any byte, behind line noise or held in
// the port by a stalled GUI come out one by one, each exactly once. A pause on the line is a
// hint used only where the bytes leave the question open.
//
// Short or long: after a frame's first 41 bytes the stream either goes on with the next
// frame's start, or with 320 waveform bytes. The bytes decide it: when a decodable frame
// start is found within the next 320 bytes, the frame was short and anything before that
// start is noise; when 361 bytes have come without one, the frame was long. The ambiguous
// case, a waveform that happens to hold 0x5A followed by 40 bytes that decode as a frame,
// is taken for a short frame and a new frame; a wrong guess costs that frame's waveform and
// adds one false reading made from waveform bytes. To decode, the 40 bytes after the 0x5A
// must put a digit in the function code's low half and digits, spaces or a point at the
// display bytes 22 to 26 (samples between +48 and +57 there): a waveform that peaks at +90
// and sits in that band 22 samples later. A 0x5A right before a frame start is a stray
// byte, not a frame: the two overlap one byte off and the later start wins.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rd780 {

class SerialChunker {
public:
    static constexpr std::size_t ShortBytes = 41;
    static constexpr std::size_t LongBytes = 361;
    static constexpr uint8_t FrameStart = 0x5A;
    // Poll ticks of silence after which a frame that is still open to both readings is taken
    // for a short one and whatever followed it is scanned again as new bytes.
    static constexpr int SettleTicks = 4;

    // Receives each whole frame as frame text (two uppercase hex digits per byte).
    using Sink = std::function<void(const std::string& frameHex)>;
    explicit SerialChunker(Sink sink) : sink_(std::move(sink)) {}

    void receive(const uint8_t* data, std::size_t size);
    // A poll tick without bytes.
    void idle();
    // Forgets the bytes not yet handed over (the line was closed or purged).
    void clear();
    std::size_t pendingBytes() const { return buf_.size(); }
    // Bytes skipped because no frame could start with them.
    uint64_t discardedBytes() const { return discarded_; }

private:
    void run();
    bool frameAt(std::size_t p) const;
    void handOver(std::size_t n);
    void drop(std::size_t n);

    Sink sink_;
    std::vector<uint8_t> buf_;
    std::size_t checked_ = 0; // from byte 41 up to here no decodable frame starts
    int quietTicks_ = 0;
    bool running_ = false;
    uint64_t discarded_ = 0;
};

} // namespace rd780
