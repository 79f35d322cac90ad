#pragma once
// The one watch over a connected link: frames keep coming (live), none for StallAfter
// (stalled), or the cable went away and the link waits for one of the same identity to
// come back. Whoever runs a link (the window's panels, the meter session) tells it of
// connects, frames, ticks and cable events; the lamp, the status bar, the history and the
// logger's summary all read this one state. Time comes from a clock that tests replace.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace rd780 {

// The link in use, for every part that names one (watch, status bar, session, capture).
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
    // No frame for this long (or none since the connect) and the link is stalled. A meter
    // sends a frame every few hundred milliseconds and a long frame takes 171 ms at 2400
    // baud, so 3 s of silence is a dozen missed frames, never a slow one; and it is said
    // before the cable's idle rule polls a silent meter again (about 6 s) or gives up on
    // it (about 30 s), so the user sees the stall before the program acts on it.
    static constexpr std::chrono::seconds StallAfter{3};
    // The history line and the lamp's tooltip for a stall.
    static std::string stalledText();

    explicit LinkWatch(std::function<Clock::time_point()> now = &Clock::now);

    // Each returns true when the state changed, so the caller says so once.
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
    // A frame came since the connect (before it, a live link is still waiting for one).
    bool framesSeen() const { return framesSeen_; }
    // How often the link stalled since the watch was made: seen by a tick, or by the frame
    // that ended a silence no tick saw.
    int stalls() const { return stalls_; }

private:
    std::function<Clock::time_point()> now_;
    State state_ = State::Off;
    LinkKind kind_ = LinkKind::None;
    Clock::time_point lastFrame_{};
    bool framesSeen_ = false;
    int stalls_ = 0;
    CableIdentity awaited_;
};

} // namespace rd780
