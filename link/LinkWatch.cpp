#include "link/LinkWatch.h"

namespace rd780 {

std::string LinkWatch::stalledText() {
    return "Link stalled: no frame for " + std::to_string(StallAfter.count()) + " s";
}

LinkWatch::LinkWatch(std::function<Clock::time_point()> now) : now_(std::move(now)) {}

bool LinkWatch::connected(LinkKind kind) {
    const bool changed = state_ != State::Live || kind_ != kind;
    state_ = State::Live;
    kind_ = kind;
    // The first frame gets the same grace as any later one.
    lastFrame_ = now_();
    framesSeen_ = false;
    awaited_ = {};
    return changed;
}

bool LinkWatch::disconnected() {
    const bool changed = state_ != State::Off;
    state_ = State::Off;
    kind_ = LinkKind::None;
    framesSeen_ = false;
    awaited_ = {};
    return changed;
}

bool LinkWatch::frame() {
    if (state_ == State::Off || state_ == State::CableGone) return false;
    const Clock::time_point now = now_();
    // A silence no tick saw still counts, so the count does not hang on how often ticks run
    // (a serial line is left asleep between frames).
    if (state_ == State::Live && now - lastFrame_ >= StallAfter) ++stalls_;
    lastFrame_ = now;
    framesSeen_ = true;
    if (state_ == State::Live) return false;
    state_ = State::Live;
    return true;
}

bool LinkWatch::tick() {
    if (state_ != State::Live) return false;
    if (now_() - lastFrame_ < StallAfter) return false;
    state_ = State::Stalled;
    ++stalls_;
    return true;
}

bool LinkWatch::cableGone(const CableIdentity& cable) {
    if (state_ == State::Off) return false;
    const bool changed = state_ != State::CableGone;
    state_ = State::CableGone;
    awaited_ = cable;
    return changed;
}

bool LinkWatch::awaits(const CableIdentity& cable) const {
    return state_ == State::CableGone && kind_ == LinkKind::Usb && cable == awaited_;
}

} // namespace rd780
