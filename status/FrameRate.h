#pragma once
// Frames per second over a sliding window, at the same cost per frame however long the
// link runs: frames are counted in a ring of time slots, and only the slots that fell out
// of the window since the last call are cleared.
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace rd780 {

class FrameRate {
public:
    using Clock = std::chrono::steady_clock;

    explicit FrameRate(std::chrono::milliseconds window = std::chrono::seconds(5), int slots = 20);

    void frame(Clock::time_point now);
    // Frames per second over the window, or over the time since the first frame when that
    // is shorter (but at least a second, so one frame is not read as a burst).
    double perSecond(Clock::time_point now);
    void reset();

    std::optional<Clock::time_point> lastFrame() const { return last_; }

private:
    void advance(Clock::time_point now);

    std::chrono::nanoseconds slotWidth_;
    std::vector<uint32_t> counts_;
    std::size_t head_ = 0;
    int64_t headSlot_ = 0;
    uint64_t total_ = 0;
    std::optional<Clock::time_point> first_;
    std::optional<Clock::time_point> last_;
};

} // namespace rd780
