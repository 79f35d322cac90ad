#include "meter/core/SerialChunker.h"

#include "meter/core/FrameAssembler.h"
#include "meter/core/FrameDecoder.h"

#include <algorithm>

namespace rd780 {

void SerialChunker::receive(const uint8_t* data, std::size_t size) {
    if (size == 0) return;
    quietTicks_ = 0;
    buf_.insert(buf_.end(), data, data + size);
    run();
}

void SerialChunker::idle() {
    if (buf_.empty()) return;
    ++quietTicks_;
    run();
}

void SerialChunker::clear() {
    buf_.clear();
    checked_ = 0;
    quietTicks_ = 0;
}

bool SerialChunker::frameAt(std::size_t p) const {
    if (p + ShortBytes > buf_.size() || buf_[p] != FrameStart) return false;
    std::string hex;
    appendHex(hex, buf_.data() + p, ShortBytes);
    return decodableFrame(hex);
}

void SerialChunker::drop(std::size_t n) {
    n = std::min(n, buf_.size());
    if (n == 0) return;
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
    discarded_ += n;
    checked_ = 0;
}

void SerialChunker::handOver(std::size_t n) {
    // Taken out before the sink runs: the decode may run the event loop and bring more
    // bytes (or a clear) here before it returns.
    std::string hex;
    appendHex(hex, buf_.data(), n);
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
    checked_ = 0;
    if (sink_) sink_(hex);
}

void SerialChunker::run() {
    // A nested call (bytes brought by a decode) only appends: the outer loop sees them.
    if (running_) return;
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};

    for (;;) {
        const auto start = std::find(buf_.begin(), buf_.end(), FrameStart);
        drop(static_cast<std::size_t>(start - buf_.begin()));
        if (buf_.size() < ShortBytes) return;
        if (!frameAt(0)) {
            drop(1);
            continue;
        }
        // A frame start right behind a stray one: the stray start and the frame's first 40
        // bytes decode too, one byte off. The later start is the frame.
        if (buf_[1] == FrameStart) {
            if (buf_.size() < ShortBytes + 1 && quietTicks_ == 0) return;
            if (frameAt(1)) {
                drop(1);
                continue;
            }
        }

        // The head decodes. Look for the next frame's start inside what a long frame spans.
        const std::size_t limit = std::min(buf_.size(), LongBytes);
        std::size_t next = 0;
        bool unsure = false; // a start whose 41 bytes have not all come yet
        std::size_t p = std::max(checked_, ShortBytes);
        for (; p < limit; ++p) {
            if (buf_[p] != FrameStart) continue;
            if (p + ShortBytes > buf_.size()) {
                unsure = true;
                break;
            }
            if (frameAt(p)) {
                if (buf_[p + 1] == FrameStart) {
                    if (p + 1 + ShortBytes > buf_.size()) {
                        unsure = true;
                        break;
                    }
                    if (frameAt(p + 1)) ++p; // see the stray start above
                }
                next = p;
                break;
            }
        }
        checked_ = p;
        if (next == LongBytes) {
            handOver(LongBytes);
            continue;
        }
        if (next != 0) {
            handOver(ShortBytes);
            drop(next - ShortBytes); // noise between the two frames
            continue;
        }
        if (!unsure && buf_.size() >= LongBytes) {
            handOver(LongBytes);
            continue;
        }

        // The bytes leave it open; silence settles it.
        if (quietTicks_ == 0) return;
        if (buf_.size() >= LongBytes) {
            handOver(LongBytes);
        } else if (buf_.size() == ShortBytes || quietTicks_ >= SettleTicks) {
            // What follows the 41 bytes, if anything, is looked at again as new bytes.
            handOver(ShortBytes);
        } else {
            return;
        }
    }
}

} // namespace rd780
