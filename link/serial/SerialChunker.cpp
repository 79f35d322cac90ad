#include "link/serial/SerialChunker.h"

#include "meter/core/FrameAssembler.h"

namespace rd780 {

void SerialChunker::receive(const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        appendHex(chunk_, data + i, 1);
        if (chunk_.size() >= 2 * MaxChunkBytes) flush();
    }
}

void SerialChunker::idle() {
    if (!chunk_.empty()) flush();
}

void SerialChunker::flush() {
    // Hand over a copy and start empty first: the sink decodes, and a decode may run the
    // event loop and bring more bytes here before it returns.
    std::string done;
    done.swap(chunk_);
    if (sink_) sink_(done);
}

} // namespace rd780
