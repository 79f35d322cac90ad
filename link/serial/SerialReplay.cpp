#include "link/serial/SerialReplay.h"

#include "meter/core/SerialChunker.h"

namespace rd780 {

SerialReplay::SerialReplay(std::shared_ptr<const Capture> capture, double speed, Bytes bytes,
                           std::function<void()> idle, std::function<void()> ended, QObject* parent)
    : QObject(parent), capture_(std::move(capture)), speed_(speed > 0 ? speed : 1),
      bytes_(std::move(bytes)), idle_(std::move(idle)), ended_(std::move(ended)) {
    timer_.setInterval(10); // the port's poll tick
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

void SerialReplay::start() {
    clock_.start();
    timer_.start();
}

void SerialReplay::tick() {
    const auto& records = capture_->records;
    if (next_ >= records.size()) {
        // Quiet ticks after the last read settle a frame still open to both readings.
        if (idle_) idle_();
        if (++settle_ > SerialChunker::SettleTicks) {
            timer_.stop();
            if (ended_) ended_();
        }
        return;
    }
    const double nowUs = double(clock_.nsecsElapsed()) / 1000.0 * speed_;
    bool delivered = false;
    while (next_ < records.size() && double(records[next_].us - records.front().us) <= nowUs) {
        const CaptureRecord& r = records[next_++];
        if (bytes_) bytes_(r.bytes.data(), r.bytes.size());
        delivered = true;
    }
    if (!delivered && idle_) idle_();
}

} // namespace rd780
