#pragma once
// Watches a connected link: frames keep coming (live), none for a while (stalled), or the
// cable went away and the link waits for one of the same identity to come back. It is
// driven by the window (connect, frame, tick, cable events) and reads time from a clock
// that tests replace.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace rd780 {

enum class LinkKind { None, Usb, Serial };

// What makes a USB cable "the same cable" when it comes back.
struct CableIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::u16string product;
    std::u16string serial;
    bool operator==(const CableIdentity&) const = default;
};

class LinkWatch {
public:
    using Clock = std::chrono::steady_clock;
    enum class State { Off, Live, Stalled, CableGone };
    static constexpr std::chrono::seconds StallAfter{5};

    explicit LinkWatch(std::function<Clock::time_point()> now = &Clock::now);

    // Each returns true when the state changed, so the window says so once.
    bool connected(LinkKind kind);
    bool disconnected();
    bool frame();
    bool tick();
    // The cable or serial device in use went away; the link waits for `cable` (empty for a
    // serial device, which comes back under its path) to return.
    bool cableGone(const CableIdentity& cable);
    // Whether a USB cable just found should resume the link by itself.
    bool awaits(const CableIdentity& cable) const;

    State state() const { return state_; }
    LinkKind kind() const { return kind_; }
    const CableIdentity& awaitedCable() const { return awaited_; }

private:
    std::function<Clock::time_point()> now_;
    State state_ = State::Off;
    LinkKind kind_ = LinkKind::None;
    Clock::time_point lastFrame_{};
    CableIdentity awaited_;
};

} // namespace rd780
