#include "status/FrameRate.h"

#include <algorithm>

namespace rd780 {

FrameRate::FrameRate(std::chrono::milliseconds window, int slots)
    : slotWidth_(std::chrono::nanoseconds(window) / std::max(slots, 1)),
      counts_(std::size_t(std::max(slots, 1)), 0) {}

void FrameRate::reset() {
    std::fill(counts_.begin(), counts_.end(), 0);
    head_ = 0;
    headSlot_ = 0;
    total_ = 0;
    first_.reset();
    last_.reset();
}

void FrameRate::advance(Clock::time_point now) {
    if (!first_) return;
    const int64_t slot = (now - *first_) / slotWidth_;
    if (slot <= headSlot_) return;
    // A long silence clears the ring once, not once per elapsed slot.
    const int64_t steps = std::min<int64_t>(slot - headSlot_, int64_t(counts_.size()));
    for (int64_t i = 0; i < steps; ++i) {
        head_ = (head_ + 1) % counts_.size();
        total_ -= counts_[head_];
        counts_[head_] = 0;
    }
    headSlot_ = slot;
}

void FrameRate::frame(Clock::time_point now) {
    if (!first_) first_ = now;
    advance(now);
    ++counts_[head_];
    ++total_;
    last_ = now;
}

double FrameRate::perSecond(Clock::time_point now) {
    if (!first_) return 0.0;
    advance(now);
    // The ring covers the current, partly elapsed slot and the whole ones before it.
    const std::chrono::nanoseconds sinceFirst = now - *first_;
    const std::chrono::nanoseconds partial = sinceFirst - slotWidth_ * headSlot_;
    const std::chrono::nanoseconds covered = slotWidth_ * int64_t(counts_.size() - 1) + partial;
    auto span =
        std::max<std::chrono::nanoseconds>(std::min(sinceFirst, covered), std::chrono::seconds(1));
    return double(total_) / std::chrono::duration<double>(span).count();
}

} // namespace rd780
