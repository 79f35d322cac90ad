#pragma once
// Turns the serial bytes into the chunks that frame assembly takes: the bytes that arrive
// without a pause form one chunk, a poll tick with no byte ends it, and a chunk that reaches
// a long frame's size ends at once. The same rule the USB link applies to its reports.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace rd780 {

class SerialChunker {
public:
    static constexpr std::size_t MaxChunkBytes = 361; // a long frame

    // Receives each finished chunk as frame text (two uppercase hex digits per byte).
    using Sink = std::function<void(const std::string& chunkHex)>;
    explicit SerialChunker(Sink sink) : sink_(std::move(sink)) {}

    void receive(const uint8_t* data, std::size_t size);
    // A poll tick without bytes: the pause that ends a chunk.
    void idle();
    // Forgets a partial chunk (the line was closed or purged).
    void clear() { chunk_.clear(); }
    std::size_t pendingBytes() const { return chunk_.size() / 2; }

private:
    void flush();

    Sink sink_;
    std::string chunk_;
};

} // namespace rd780
